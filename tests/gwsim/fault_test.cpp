// The simulator's faults, seen by a libcurl client through a real socket.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "gwsim_client.h"

namespace {

using gwsim::Fault;
using gwsim::FaultKind;
using gwsim_test::Client;
using gwsim_test::Envelope;
using gwsim_test::PostResult;

const char kCategories[] = "<m:getCategoryListRequest/>";

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start()) << server.LastError();
    session = gwsim_test::LoginAlice(&client, server.url());
    ASSERT_FALSE(session.empty());
  }

  PostResult Categories() {
    return client.Post(server.url(), Envelope(session, kCategories), "getCategoryListRequest");
  }

  gwsim::Server server;
  Client client;
  std::string session;
};

Fault ByName(FaultKind kind, const char *name) {
  Fault fault;
  fault.kind = kind;
  fault.requestName = name;
  return fault;
}

TEST_F(FaultTest, StatusFaultsAnswerWithTheirStatusAndASoapFault) {
  struct Case {
    FaultKind kind;
    int status;
    long expectedStatus;
    const char *faultString;
  } cases[] = {
      {FaultKind::kStatus, 404, 404, "<faultstring>Simulated HTTP status 404</faultstring>"},
      {FaultKind::kStatus, 500, 500, "<faultstring>Simulated HTTP status 500</faultstring>"},
      {FaultKind::kBusy503, 0, 503, "<faultstring>Service Unavailable</faultstring>"},
      {FaultKind::kBusyFault500, 0, 500,
       "<faultstring>The server cannot service this request right now</faultstring>"},
  };
  for (const Case &c : cases) {
    Fault fault = ByName(c.kind, "getCategoryListRequest");
    fault.status = c.status;
    server.AddFault(fault);
    PostResult faulted = Categories();
    EXPECT_EQ(CURLE_OK, faulted.code);
    EXPECT_EQ(c.expectedStatus, faulted.status) << c.faultString;
    EXPECT_NE(std::string::npos, faulted.body.find(c.faultString)) << faulted.body;
    EXPECT_EQ(std::string::npos, faulted.body.find("getCategoryListResponse"));
    PostResult next = Categories();  // times 1: the next answer is normal again
    EXPECT_EQ(200, next.status);
    EXPECT_NE(std::string::npos, next.body.find("<gwt:name>Business</gwt:name>"));
  }
}

TEST_F(FaultTest, RefusedRequestDoesNotReachItsHandler) {
  // A cursor refused with 503 is never made, so the next one is number 1.
  const std::string create = "<m:createCursorRequest>\n<container>" +
                             server.mailbox().FindFolderByType("alice", "Mailbox")->id +
                             "</container>\n<view>id</view>\n</m:createCursorRequest>\n";
  server.AddFault(ByName(FaultKind::kBusy503, "createCursorRequest"));
  EXPECT_EQ(503, client.Post(server.url(), Envelope(session, create), "createCursorRequest").status);
  PostResult made = client.Post(server.url(), Envelope(session, create), "createCursorRequest");
  EXPECT_NE(std::string::npos, made.body.find("<gwm:cursor>1</gwm:cursor>")) << made.body;
}

TEST_F(FaultTest, SelectionByNumberNameAndTimes) {
  struct Case {
    const char *why;
    int position;  // among the next four requests; 0: no number
    const char *requestName;
    int times;
    std::vector<long> statuses;  // of the next four category requests
  } cases[] = {
      {"by name, twice", 0, "getCategoryListRequest", 2, {503, 503, 200, 200}},
      {"by name, always", 0, "getCategoryListRequest", 0, {503, 503, 503, 503}},
      {"by number", 3, "", 1, {200, 200, 503, 200}},
      {"another request's name", 0, "readCursorRequest", 0, {200, 200, 200, 200}},
  };
  for (const Case &c : cases) {
    server.ClearFaults();
    Fault fault = ByName(FaultKind::kBusy503, c.requestName);
    int next = server.Requests().back().number + 1;
    fault.requestNumber = c.position == 0 ? 0 : next + c.position - 1;
    fault.times = c.times;
    server.AddFault(fault);
    std::vector<long> statuses;
    for (int i = 0; i < 4; ++i) statuses.push_back(Categories().status);
    EXPECT_EQ(c.statuses, statuses) << c.why;
  }
}

TEST_F(FaultTest, RedirectIsFollowedWithTheSameBody) {
  server.ClearRequests();
  server.AddFault(ByName(FaultKind::kRedirect, "getCategoryListRequest"));
  PostResult notFollowed =
      client.Post(server.url(), Envelope(session, kCategories), "getCategoryListRequest", false);
  EXPECT_EQ(307, notFollowed.status);
  EXPECT_EQ(server.url() + "/soap", notFollowed.location);

  server.AddFault(ByName(FaultKind::kRedirect, "getCategoryListRequest"));
  PostResult followed = Categories();
  EXPECT_EQ(200, followed.status);
  EXPECT_NE(std::string::npos, followed.body.find("getCategoryListResponse"));
  std::vector<gwsim::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(3u, requests.size());
  EXPECT_EQ(requests[1].body, requests[2].body);
  EXPECT_EQ("POST", requests[2].method);
}

TEST_F(FaultTest, ChunkedAnswersArriveInTheChunksSet) {
  const std::string normal = Categories().body;
  ASSERT_GT(normal.size(), 300u);

  Fault splits = ByName(FaultKind::kChunkSplits, "getCategoryListRequest");
  splits.splits = {200, 17, 0, 100000};  // out of order, 0 and past-the-end ignored
  server.AddFault(splits);
  PostResult split = Categories();
  EXPECT_EQ(CURLE_OK, split.code);
  EXPECT_EQ(normal, split.body);
  std::vector<std::string> expected = {normal.substr(0, 17), normal.substr(17, 183),
                                       normal.substr(200)};
  EXPECT_EQ(expected, split.pieces);

  server.AddFault(ByName(FaultKind::kChunkAfterGt, "getCategoryListRequest"));
  PostResult afterGt = Categories();
  EXPECT_EQ(normal, afterGt.body);
  size_t tags = 0;
  for (char c : normal) tags += c == '>' ? 1 : 0;
  EXPECT_EQ(tags, afterGt.pieces.size());
  for (const std::string &piece : afterGt.pieces) EXPECT_EQ('>', piece.back()) << piece;
}

TEST_F(FaultTest, BrokenAnswersEndInATransferError) {
  const std::string normal = Categories().body;

  Fault cut = ByName(FaultKind::kCutAt, "getCategoryListRequest");
  cut.cutAt = 120;
  server.AddFault(cut);
  PostResult partial = Categories();
  EXPECT_EQ(CURLE_PARTIAL_FILE, partial.code);
  EXPECT_EQ(normal.substr(0, 120), partial.body);

  server.AddFault(ByName(FaultKind::kCloseMidAnswer, "getCategoryListRequest"));
  PostResult closed = Categories();
  EXPECT_NE(CURLE_OK, closed.code);
  EXPECT_EQ(normal.substr(0, normal.size() / 2), closed.body);

  PostResult after = Categories();  // a new connection serves normally
  EXPECT_EQ(CURLE_OK, after.code);
  EXPECT_EQ(normal, after.body);
}

TEST_F(FaultTest, DelayAndFixedAnswer) {
  Fault delay = ByName(FaultKind::kDelay, "getCategoryListRequest");
  delay.delayMs = 300;
  server.AddFault(delay);
  auto start = std::chrono::steady_clock::now();
  PostResult delayed = Categories();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(300));
  EXPECT_NE(std::string::npos, delayed.body.find("<gwt:name>Business</gwt:name>"));

  Fault fixed = ByName(FaultKind::kFixedAnswer, "getCategoryListRequest");
  fixed.body = "<x>not what the store says</x>";
  server.AddFault(fixed);
  PostResult answer = Categories();
  EXPECT_EQ(200, answer.status);
  EXPECT_EQ(fixed.body, answer.body);
}

}  // namespace
