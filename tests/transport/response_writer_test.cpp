// The response writer: line shapes at chunk boundaries, equality with the
// byte-by-byte rule under random splits, write failures and the throttled
// keep-alive call of the host.
#include <gtest/gtest.h>

#include <unistd.h>

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
  if (file == nullptr) return "<no tmpfile>";
  ResponseWriterBegin(file);
  for (const std::string &chunk : chunks) {
    EXPECT_EQ(ResponseWriterWrite(chunk.data(), chunk.size()), chunk.size());
  }
  ResponseWriterEnd();
  EXPECT_EQ(ResponseWriterFailed(), 0);
  std::string out;
  rewind(file);
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, file)) > 0;) out.append(buf, n);
  fclose(file);
  return out;
}

TEST(ResponseWriter, ChunkBoundariesGiveTheDocumentedLines) {
  const struct {
    const char *name;
    std::vector<std::string> chunks;
    std::string expected;
  } cases[] = {
      // The flag keeps its old value 0 at a chunk that ends with ">", so
      // the text and its end tag share the next line.
      {"split right after a start tag", {"<gwt:name>", "Inbox</gwt:name>"},
       "<gwt:name>\r\nInbox</gwt:name>\r\n"},
      {"empty element then a start tag", {"<a/><b>"}, "<a/>\r\n<b>\r\n"},
      {"\">\" inside text", {"<a>x>y</a>"}, "<a>\r\nx>\r\ny\r\n</a>\r\n"},
      {"pending text carried over", {"<a>x", "", "</a>"}, "<a>\r\nx\r\n</a>\r\n"},
      {"\">\" ending a chunk keeps the flag", {"<a>x>", "y</a>"}, "<a>\r\nx>\r\ny\r\n</a>\r\n"},
      {"text before the first tag", {"ab<c>"}, "ab<c>\r\n"},
      // A text run keeps its line breaks as references, so it stays one line.
      {"line breaks inside a text run", {"<a>Hi\r\n&lt;b&gt;\n</a>"},
       "<a>\r\nHi&#13;&#10;&lt;b&gt;&#10;\r\n</a>\r\n"},
      {"line breaks in a text that starts a chunk", {"<a>", "x\ny</a>"}, "<a>\r\nx&#10;y</a>\r\n"},
      {"line breaks before the first tag and inside a tag stay",
       {"\n<a\nb=\"1\">\n<c>"}, "\n<a\nb=\"1\">\r\n&#10;\r\n<c>\r\n"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Reshape(c.chunks), c.expected) << c.name;
    EXPECT_EQ(ReshapeByteByByte(c.chunks), c.expected) << "reference: " << c.name;
  }
}

// An XML-like answer with empty elements, attributes, entities, stray ">"
// and line breaks in text and, when asked, runs longer than the writer's buffer.
std::string MakeAnswer(std::mt19937 &rng, bool longRuns) {
  static const char *const kTags[] = {"gwt:item", "gwt:id", "gwm:status", "x"};
  std::uniform_int_distribution<int> pick(0, 7);
  std::string s = "<?xml version=\"1.0\"?><soap:Envelope><soap:Body>";
  for (int i = 0; i < 40; ++i) {
    const std::string tag = kTags[pick(rng) % 4], end = "</" + tag + ">";
    switch (pick(rng)) {
      case 0: s += "<" + tag + "/>"; break;
      case 1: s += "<" + tag + " a=\"1\">" + end; break;
      case 2: s += "<" + tag + ">a > b &amp;\r\nc\n" + end; break;
      case 3: s += "<" + tag + ">" + std::string(longRuns ? 300000 : pick(rng) * 50, 'Q') + end; break;
      case 4: s += "\ntext between\r\nelements"; break;
      default: s += "<" + tag + ">v" + std::to_string(i) + end;
    }
  }
  return s + "</soap:Body></soap:Envelope>";
}

TEST(ResponseWriter, RandomSplitsMatchTheByteByByteRule) {
  std::mt19937 rng(20190502);
  for (int round = 0; round < 200; ++round) {
    const std::string answer = MakeAnswer(rng, round % 25 == 0);
    std::uniform_int_distribution<size_t> len(0, round % 3 == 0 ? 8 : (round % 3 == 1 ? 700 : 400000));
    std::vector<std::string> chunks;
    for (size_t pos = 0, n; pos < answer.size(); pos += n) {
      n = std::min(len(rng), answer.size() - pos);
      // Split points right after "<" and ">" matter most; aim at them often.
      size_t mark = answer.find_first_of("<>", pos + 1);
      if (n > 0 && len(rng) % 4 == 0 && mark != std::string::npos) n = mark + 1 - pos;
      chunks.push_back(answer.substr(pos, n));
    }
    ASSERT_EQ(Reshape(chunks), ReshapeByteByByte(chunks)) << "round " << round;
  }
}

TEST(ResponseWriter, AFullDiskEndsTheTransferInsteadOfTruncatingSilently) {
  // A stream that takes no bytes, as a full disk: a temporary file read-only.
  char path[] = "/tmp/mvgws_writer_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  unlink(path);
  FILE *full = fdopen(fd, "r");
  ASSERT_NE(full, nullptr);
  // A large answer fails while it streams, and the writer asks libcurl to
  // stop (a small one fails at End(): see the file-size limit case of DoPost).
  const std::string big(2 * 1024 * 1024, 'Q');
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
int MV_CALL CountingNotify(int zero, const char *key, int value, int *v1, int *v2, int *stop) {
  ++gNotifyCount;
  EXPECT_STREQ(key, "keepalive");
  EXPECT_EQ(zero + value, 0);
  EXPECT_TRUE(v1 && v2 && stop && *v1 == 0 && *v2 == 0 && *stop == 0);
  return 0;
}

TEST(KeepAlive, HostIsNotifiedOnlyAfterTheIntervalAndOnlyDuringATransfer) {
  FILE *file = tmpfile();
  ASSERT_NE(file, nullptr);
  gFakeNow = 1000;
  SetTransferClock(FakeClock);
  gSession.hostNotify = CountingNotify;
  ResponseWriterBegin(file);
  KeepAliveArm();  // due after 1030; after each call the next is due 30 s later
  const int64_t chunkTimeAndCalls[][2] = {{1000, 0}, {1030, 0}, {1031, 1}, {1040, 1},
                                          {1061, 1}, {1062, 2}, {5000, 3}};
  for (const auto &step : chunkTimeAndCalls) {
    gFakeNow = step[0];
    ResponseWriterWrite("<a>", 3);
    EXPECT_EQ(gNotifyCount, step[1]) << "chunk at " << step[0];
  }
  KeepAliveDisarm();
  gFakeNow = 9000;
  ResponseWriterWrite("<a>", 3);
  EXPECT_EQ(gNotifyCount, 3) << "no notification outside a running transfer";

  ResponseWriterEnd();
  fclose(file);
  SetTransferClock(nullptr);
  gSession.hostNotify = nullptr;
}

}  // namespace
