// The simulator's answer shapes, seen by a libcurl client through a real
// socket. Status, busy, code, fixed-answer and redirect faults, and the
// broken answers (HTML page, close after the status line, cut status, Fault
// with 200, stall), are seen by the plug-in's own tests (transport, reader,
// logon), which fail when one of them answers otherwise.
#include <algorithm>
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
  PostResult Categories() {
    return client.Post(server.url(), gwsim_test::Envelope(session, "<m:getCategoryListRequest/>"),
                       "getCategoryListRequest");
  }
  // Categories() with `fault` of `kind` set on it.
  PostResult Faulted(FaultKind kind, Fault fault = Fault()) {
    fault.kind = kind;
    fault.requestName = "getCategoryListRequest";
    server.AddFault(fault);
    return Categories();
  }
};

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

// --random-faults: the chosen share of requests broken, the same requests
// the same way for the same seed, and none past the window. The requests
// carry no session, so every normal answer is the same refusal. (Chunk
// splits and followed redirects bring the normal answer whole.)
TEST(RandomFaultTest, BreaksTheSameRequestsForTheSameSeedAndStopsAtTheWindow) {
  // The answers to requests up to number `window`, then to two more.
  auto answers = [](int percent, uint32_t seed, int window) {
    gwsim::Options options;
    options.randomFaults.percent = percent;
    options.randomFaults.seed = seed;
    options.randomFaults.lastRequest = percent == 100 ? window : 0;
    gwsim::Server server(options);
    EXPECT_TRUE(server.Start()) << server.LastError();
    gwsim_test::Client client;
    std::vector<std::string> seen;
    for (size_t end = static_cast<size_t>(window); server.RequestCount() < end + 2;) {
      PostResult r = client.Post(server.url(), gwsim_test::Envelope("", "<m:getCategoryListRequest/>"),
                                 "getCategoryListRequest");
      seen.push_back(std::to_string(r.code) + " " + std::to_string(r.status) + " " + r.body);
      if (server.RequestCount() == end) seen.push_back("window");
    }
    return seen;
  };
  const std::vector<std::string> plain = answers(0, 1, 10);
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(std::vector<std::string>(plain.size() - 3, plain[0]),
            std::vector<std::string>(plain.begin(), plain.end() - 3));

  const std::vector<std::string> broken = answers(100, 7, 30);
  EXPECT_EQ(broken, answers(100, 7, 30));
  const auto window = std::find(broken.begin(), broken.end(), "window");
  ASSERT_NE(broken.end(), window) << "a redirect's second post ended on the window";
  std::vector<std::string> distinct;
  for (auto it = broken.begin(); it != window; ++it)
    if (std::find(distinct.begin(), distinct.end(), *it) == distinct.end()) distinct.push_back(*it);
  EXPECT_GE(distinct.size(), 6u) << "broken in several ways";
  ASSERT_EQ(2, broken.end() - window - 1);
  EXPECT_EQ(plain[0], window[1]) << "past the window the answers are whole";
  EXPECT_EQ(plain[0], window[2]);

  const std::vector<std::string> some = answers(30, 3, 40);
  const size_t someBroken = static_cast<size_t>(std::count_if(
      some.begin(), some.end(), [&](const std::string &a) { return a != plain[0] && a != "window"; }));
  EXPECT_GT(someBroken, 3u);
  EXPECT_LT(someBroken, some.size() / 2);
}

}  // namespace
