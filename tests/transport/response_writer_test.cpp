// The response writer: line shapes at chunk boundaries, equality with the
// byte-by-byte rule under random splits, write failures and the throttled
// keep-alive call of the host.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "plugin/session_state.h"
#include "transport/http_transfer.h"
#include "transport/keep_alive.h"
#include "transport/writer_reference.h"

namespace {

using transport_test::ReshapeByteByByte;

// Runs the writer over chunks into a temporary file and returns the bytes.
std::string Reshape(const std::vector<std::string> &chunks) {
  FILE *file = tmpfile();
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return "";
  ResponseWriterBegin(file);
  for (const std::string &chunk : chunks) {
    EXPECT_EQ(ResponseWriterWrite(chunk.data(), chunk.size()), chunk.size());
  }
  ResponseWriterEnd();
  EXPECT_EQ(ResponseWriterFailed(), 0);
  std::string out;
  rewind(file);
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file)) > 0) out.append(buf, n);
  fclose(file);
  return out;
}

struct ChunkCase {
  const char *name;
  std::vector<std::string> chunks;
  std::string expected;
};

TEST(ResponseWriter, ChunkBoundariesGiveTheDocumentedLines) {
  const ChunkCase cases[] = {
      {"nested element in one chunk: five lines",
       {"<a><b>x</b></a>"},
       "<a>\r\n<b>\r\nx\r\n</b>\r\n</a>\r\n"},
      // The flag keeps its old value 0 at a chunk that ends with ">", so
      // the text and its end tag share the next line.
      {"split right after a start tag",
       {"<gwt:name>", "Inbox</gwt:name>"},
       "<gwt:name>\r\nInbox</gwt:name>\r\n"},
      {"empty element then a start tag: no empty line",
       {"<a/><b>"},
       "<a/>\r\n<b>\r\n"},
      {"\">\" inside text breaks the line after it",
       {"<a>x>y</a>"},
       "<a>\r\nx>\r\ny\r\n</a>\r\n"},
      {"pending text carried into the next chunk",
       {"<a>x", "</a>"},
       "<a>\r\nx\r\n</a>\r\n"},
      {"pending flag kept when \">\" ends a chunk",
       {"<a>x>", "y</a>"},
       "<a>\r\nx>\r\ny\r\n</a>\r\n"},
      {"text before the first tag is not broken off",
       {"ab<c>"},
       "ab<c>\r\n"},
      {"one-byte chunks",
       {"<", "a", ">", "t", "<", "/", "a", ">"},
       "<a>\r\nt</a>\r\n"},
      {"empty chunk changes nothing", {"<a>x", "", "</a>"}, "<a>\r\nx\r\n</a>\r\n"},
  };
  for (const ChunkCase &c : cases) {
    EXPECT_EQ(Reshape(c.chunks), c.expected) << c.name;
    EXPECT_EQ(ReshapeByteByByte(c.chunks), c.expected) << "reference: " << c.name;
  }
}

// An XML-like answer with tags, attributes, entities, stray ">" in text and
// some long runs (longer than the writer's buffer) of base64-like text.
std::string MakeAnswer(std::mt19937 &rng, size_t elements, bool longRuns) {
  static const char *const kTags[] = {"gwt:item", "gwt:id", "gwt:subject", "gwm:status", "x"};
  std::string s = "<?xml version=\"1.0\"?><soap:Envelope><soap:Body>";
  std::uniform_int_distribution<int> pick(0, 9);
  for (size_t i = 0; i < elements; ++i) {
    const char *tag = kTags[pick(rng) % 5];
    switch (pick(rng)) {
      case 0:
        s += std::string("<") + tag + "/>";
        break;
      case 1:
        s += std::string("<") + tag + " a=\"1\"></" + tag + ">";
        break;
      case 2:
        s += std::string("<") + tag + ">a > b &amp; c</" + tag + ">";
        break;
      case 3:
        if (longRuns) {
          s += std::string("<") + tag + ">" + std::string(300000 + pick(rng), 'Q') + "</" + tag + ">";
        } else {
          s += std::string("<") + tag + ">" + std::string(pick(rng) * 50, 'Q') + "</" + tag + ">";
        }
        break;
      case 4:
        s += "text between elements";
        break;
      default:
        s += std::string("<") + tag + ">v" + std::to_string(i) + "</" + tag + ">";
    }
  }
  return s + "</soap:Body></soap:Envelope>";
}

std::vector<std::string> SplitRandomly(std::mt19937 &rng, const std::string &s, size_t maxChunk) {
  std::vector<std::string> chunks;
  std::uniform_int_distribution<size_t> len(0, maxChunk);
  size_t pos = 0;
  while (pos < s.size()) {
    size_t n = std::min(len(rng), s.size() - pos);
    // Split points after ">" and "<" matter most; aim at them now and then.
    if (n > 0 && len(rng) % 4 == 0) {
      size_t gt = s.find_first_of("<>", pos + 1);
      if (gt != std::string::npos) n = gt + 1 - pos;
    }
    chunks.push_back(s.substr(pos, n));
    pos += n;
  }
  return chunks;
}

TEST(ResponseWriter, RandomSplitsMatchTheByteByByteRule) {
  std::mt19937 rng(20190502);
  for (int round = 0; round < 200; ++round) {
    std::string answer = MakeAnswer(rng, 40, round % 25 == 0);
    size_t maxChunk = round % 3 == 0 ? 8 : (round % 3 == 1 ? 700 : 400000);
    std::vector<std::string> chunks = SplitRandomly(rng, answer, maxChunk);
    std::string expected = ReshapeByteByByte(chunks);
    ASSERT_EQ(Reshape(chunks), expected) << "round " << round;
  }
}

TEST(ResponseWriter, AFullDiskEndsTheTransferInsteadOfTruncatingSilently) {
  FILE *full = fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "/dev/full is not available";
  // A small answer stays in the buffer: the failure shows at End().
  ResponseWriterBegin(full);
  EXPECT_EQ(ResponseWriterWrite("<a>x</a>", 8), 8u);
  ResponseWriterEnd();
  EXPECT_EQ(ResponseWriterFailed(), 1);
  // A large one fails while it streams, and the writer asks libcurl to stop.
  std::string big(2 * 1024 * 1024, 'Q');
  ResponseWriterBegin(full);
  EXPECT_EQ(ResponseWriterWrite(big.data(), big.size()), 0u);
  ResponseWriterEnd();
  EXPECT_EQ(ResponseWriterFailed(), 1);
  fclose(full);
}

// Keep-alive: a controllable clock and a host that counts its calls.
int64_t gFakeNow = 0;
int64_t FakeClock() { return gFakeNow; }

int gNotifyCount = 0;
std::string gNotifyKey;
int MV_CALL CountingNotify(int zero, const char *key, int value, int *v1, int *v2, int *stop) {
  ++gNotifyCount;
  gNotifyKey = key;
  EXPECT_EQ(zero, 0);
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(v1 != nullptr && v2 != nullptr && stop != nullptr);
  if (v1 && v2 && stop) {
    EXPECT_EQ(*v1 + *v2 + *stop, 0);
  }
  return 0;
}

class KeepAlive : public ::testing::Test {
 protected:
  void SetUp() override {
    gFakeNow = 1000;
    gNotifyCount = 0;
    gNotifyKey.clear();
    SetTransferClock(FakeClock);
    gSession.hostNotify = CountingNotify;
    file_ = tmpfile();
    ASSERT_NE(file_, nullptr);
    ResponseWriterBegin(file_);
  }
  void TearDown() override {
    ResponseWriterEnd();
    if (file_ != nullptr) fclose(file_);
    KeepAliveDisarm();
    SetTransferClock(nullptr);
    gSession.hostNotify = nullptr;
  }
  void ChunkAt(int64_t now) {
    gFakeNow = now;
    ResponseWriterWrite("<a>", 3);
  }
  FILE *file_ = nullptr;
};

TEST_F(KeepAlive, HostIsNotifiedOnlyAfterTheIntervalHasPassed) {
  KeepAliveArm();  // due after 1030
  ChunkAt(1000);
  ChunkAt(1030);
  EXPECT_EQ(gNotifyCount, 0);
  ChunkAt(1031);
  EXPECT_EQ(gNotifyCount, 1);
  EXPECT_EQ(gNotifyKey, "keepalive");
  ChunkAt(1040);  // next due after 1061
  ChunkAt(1061);
  EXPECT_EQ(gNotifyCount, 1);
  ChunkAt(1062);
  ChunkAt(5000);
  EXPECT_EQ(gNotifyCount, 3);
}

TEST_F(KeepAlive, NoNotificationOutsideARunningTransfer) {
  KeepAliveArm();
  KeepAliveDisarm();
  ChunkAt(2000);
  EXPECT_EQ(gNotifyCount, 0);
}

}  // namespace
