// The simulator's faults, seen by a libcurl client through a real socket.
#include <atomic>
#include <thread>

#include "gwsim_client.h"

namespace {

using gwsim::Fault;
using gwsim::FaultKind;
using gwsim_test::PostResult;
const size_t npos = std::string::npos;

class FaultTest : public gwsim_test::ServerTest {
 protected:
  PostResult Categories(bool followRedirects = true) {
    return client.Post(server.url(), gwsim_test::Envelope(session, "<m:getCategoryListRequest/>"),
                       "getCategoryListRequest", followRedirects);
  }
  // Categories() with `fault` of `kind` set on it.
  PostResult Faulted(FaultKind kind, Fault fault = Fault(), bool followRedirects = true) {
    fault.kind = kind;
    fault.requestName = "getCategoryListRequest";
    server.AddFault(fault);
    return Categories(followRedirects);
  }
};

TEST_F(FaultTest, StatusFaultsAnswerInsteadOfTheHandler) {
  struct Case {
    FaultKind kind;
    int status;
    long expected;
    const char *faultString;
  } cases[] = {
      {FaultKind::kStatus, 404, 404, "<faultstring>Simulated HTTP status 404</faultstring>"},
      {FaultKind::kBusy503, 0, 503, "<faultstring>Service Unavailable</faultstring>"},
      {FaultKind::kBusyFault500, 0, 500,
       "<faultstring>The server cannot service this request right now</faultstring>"},
  };
  for (const Case &c : cases) {
    Fault fault;
    fault.status = c.status;
    PostResult faulted = Faulted(c.kind, fault);
    EXPECT_EQ(CURLE_OK, faulted.code);
    EXPECT_EQ(c.expected, faulted.status) << c.faultString;
    EXPECT_NE(npos, faulted.body.find(c.faultString)) << faulted.body;
    EXPECT_EQ(npos, faulted.body.find("getCategoryListResponse"));
    PostResult next = Categories();  // times 1: the next answer is normal again
    EXPECT_TRUE(next.status == 200 && next.body.find("<gwt:name>Business</gwt:name>") != npos);
  }
  Fault fixed;
  fixed.body = "<x>not what the store says</x>";
  PostResult answer = Faulted(FaultKind::kFixedAnswer, fixed);
  EXPECT_EQ(200, answer.status);
  EXPECT_EQ(fixed.body, answer.body);
}

TEST_F(FaultTest, RedirectIsFollowedWithTheSameBody) {
  server.ClearRequests();
  PostResult notFollowed = Faulted(FaultKind::kRedirect, Fault(), false);
  EXPECT_EQ(307, notFollowed.status);
  EXPECT_EQ(server.url() + "/soap", notFollowed.location);
  PostResult followed = Faulted(FaultKind::kRedirect);
  EXPECT_EQ(200, followed.status);
  EXPECT_NE(npos, followed.body.find("getCategoryListResponse"));
  std::vector<gwsim::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(3u, requests.size());
  EXPECT_EQ(requests[1].body, requests[2].body);
  EXPECT_EQ("POST", requests[2].method);
}

TEST_F(FaultTest, ShapedAnswers) {
  const std::string normal = Categories().body;
  ASSERT_GT(normal.size(), 300u);
  Fault splits;
  splits.splits = {200, 17, 0, 100000};  // out of order, 0 and past-the-end ignored
  PostResult split = Faulted(FaultKind::kChunkSplits, splits);
  EXPECT_EQ(CURLE_OK, split.code);
  EXPECT_EQ((std::vector<std::string>{normal.substr(0, 17), normal.substr(17, 183),
                                      normal.substr(200)}),
            split.pieces);

  std::vector<std::string> afterEveryGt;
  for (size_t from = 0, gt; (gt = normal.find('>', from)) != npos; from = gt + 1) {
    afterEveryGt.push_back(normal.substr(from, gt + 1 - from));
  }
  EXPECT_EQ(afterEveryGt, Faulted(FaultKind::kChunkAfterGt).pieces);

  Fault cut;
  cut.cutAt = 120;
  PostResult partial = Faulted(FaultKind::kCutAt, cut);
  EXPECT_EQ(CURLE_PARTIAL_FILE, partial.code);
  EXPECT_EQ(normal.substr(0, 120), partial.body);

  PostResult closed = Faulted(FaultKind::kCloseMidAnswer);
  EXPECT_NE(CURLE_OK, closed.code);
  EXPECT_EQ(normal.substr(0, normal.size() / 2), closed.body);

  // A delayed answer holds back only its own request: a later request on
  // another connection is answered first, and the delayed one then arrives
  // whole. The order tells, not a clock.
  Fault delay;
  delay.kind = FaultKind::kDelay;
  delay.delayMs = 2000;
  delay.requestName = "getCategoryListRequest";
  server.AddFault(delay);
  const size_t recorded = server.RequestCount();
  std::atomic<bool> answered{false};
  PostResult delayed;
  std::thread slow([&] {
    gwsim_test::Client own;
    delayed = own.Post(server.url(), gwsim_test::Envelope(session, "<m:getCategoryListRequest/>"),
                       "getCategoryListRequest");
    answered = true;
  });
  while (server.RequestCount() == recorded) std::this_thread::yield();
  EXPECT_EQ(normal, Categories().body);
  EXPECT_FALSE(answered) << "the delayed answer came before a later one";
  slow.join();
  EXPECT_EQ(CURLE_OK, delayed.code);
  EXPECT_EQ(normal, delayed.body);
}

}  // namespace
