// The base64 decoder on data laid out as the response writer stores it:
// groups, padding, runs broken over lines or sharing a line with their end
// tag, the /D331 mapping, and where the stream is left.
#include <string>
#include <vector>

#include "reader/base64_decode.h"
#include "folders/plugin_test_support.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/response_scanner.h"

namespace {

using testing_support::ReadFileBytes;

TEST(DecodeBase64GroupTest, GroupsGiveThreeBytesLessPadding) {
  const struct {
    const char *why;
    const char *group;
    int count;
    std::string bytes;  // the first `count` bytes of the output
  } cases[] = {
      {"a full group", "QUJD", 3, "ABC"},
      {"one padding character", "QUI=", 2, "AB"},
      {"two padding characters", "QQ==", 1, "A"},
      {"four padding characters give no bytes rather than a negative count", "====", 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    unsigned char out[3] = {0xEE, 0xEE, 0xEE};
    int count = DecodeBase64Group(c.group, out);
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(c.bytes, std::string(reinterpret_cast<char *>(out), static_cast<size_t>(c.count)));
  }
}

class DecodeBase64LineTest : public plugin_test::PluginTest {
 protected:
  // Decodes the data after the answer's "<gwm:part>" line into a file and
  // returns its bytes; *count the result, *next the next line afterwards.
  std::string Decode(const std::vector<std::string> &chunks, long *count, std::string *next) {
    FilePtr input = OpenReshaped(chunks);
    EXPECT_TRUE(input != nullptr);
    if (!input) return "";
    char line[2000];
    ReadResponseLine(line, sizeof line, input.get());
    EXPECT_STREQ("<gwm:part>", line);
    std::string outPath = WorkFile("PRT00100.TMP");
    {
      FilePtr output = OpenFile(outPath.c_str(), "wb");
      int writeFailed = -1;
      *count = DecodeBase64Line(input.get(), output.get(), &writeFailed);
      EXPECT_EQ(0, writeFailed);
    }
    *next = ReadResponseLine(line, sizeof line, input.get()) ? line : "(end of file)";
    return ReadFileBytes(outPath);
  }
};

std::string Repeat(const std::string &text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST_F(DecodeBase64LineTest, RunsDecodeUpToTheEndTag) {
  const struct {
    const char *why;
    std::vector<std::string> chunks;
    int d331;
    std::string bytes;
    long count;
    std::string next;
  } cases[] = {
      {"a 10-character run decodes its first 8", {"<gwm:part>QUJDREVGR0</gwm:part>"}, 0, "ABCDEF",
       6, "</gwm:part>"},
      {"padding ends the count", {"<gwm:part>QUJDREVGRw==</gwm:part>"}, 0, "ABCDEFG", 7,
       "</gwm:part>"},
      {"a run the server broke over lines decodes whole (kept as references by the writer)",
       {"<gwm:part>QUJD\r\nREVG\nRw\r\n==</gwm:part>"}, 0, "ABCDEFG", 7, "</gwm:part>"},
      {"line breaks the server sent as references are skipped as well",
       {"<gwm:part>QUJD&#13;&#10;REVG&#xA;Rw==</gwm:part>"}, 0, "ABCDEFG", 7, "</gwm:part>"},
      {"a reference cut by the end tag leaves the end tag in place",
       {"<gwm:part>QUJD&#1</gwm:part>"}, 0, "ABC", 3, "</gwm:part>"},
      {"blanks and tabs inside the run are skipped", {"<gwm:part>QU JD\tREVG</gwm:part>"}, 0,
       "ABCDEF", 6, "</gwm:part>"},
      {"a chunk split leaves the run on its end tag's line",
       {"<gwm:part>", "QUJD</gwm:part><gwt:next>1</gwt:next>"}, 0, "ABC", 3, "</gwm:part>"},
      {"an empty part decodes nothing", {"<gwm:part></gwm:part>"}, 0, "", 0, "</gwm:part>"},
      {"a run at the end of the file", {"<gwm:part>QUJD"}, 0, "ABC", 3, "(end of file)"},
      {"without /D331 high bytes stay", {"<gwm:part>QZKTQq7glw==</gwm:part>"}, 0,
       "A\x92\x93" "B\xAE\xE0\x97", 7, "</gwm:part>"},
      {"/D331 maps quotes and dashes, drops the rest, still counts them",
       {"<gwm:part>QZKTQq7glw==</gwm:part>"}, 1, "A'B >-", 7, "</gwm:part>"},
      {"a stray character counts as 0 in its group and the run goes on",
       {"<gwm:part>QU!DREVG</gwm:part>"}, 0, std::string("A@\x03" "DEF", 6), 6, "</gwm:part>"},
      {"padding inside a group shortens only that group", {"<gwm:part>QU=DREVG</gwm:part>"}, 0,
       "A@DEF", 5, "</gwm:part>"},
      {"a run longer than the decoder's buffer comes out whole",
       {"<gwm:part>" + Repeat("QUJD", 20000) + "</gwm:part>"}, 0, Repeat("ABC", 20000), 60000,
       "</gwm:part>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    gRunSettings.d331 = c.d331;
    long count = -1;
    std::string next;
    EXPECT_EQ(c.bytes, Decode(c.chunks, &count, &next));
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(c.next, next);
  }
}

// The decoder reads the run in blocks and hands back what it read past the
// end tag. Runs of two blocks and more, with the server's line breaks (kept
// as references) falling at every offset of the blocks' ends, in the middle
// of a group too, and a long answer after the run.
TEST_F(DecodeBase64LineTest, LongRunsAcrossReadBlocks) {
  const std::string tail = "</gwm:part><gwt:status><gwt:code>0</gwt:code></gwt:status>" + Repeat("<x/>", 20000);
  for (int lineLength : {76, 74}) {
    for (int lead = 0; lead < 86; lead += 2) {
      SCOPED_TRACE("lines of " + std::to_string(lineLength) + ", first break after " + std::to_string(lead));
      const std::string data = Repeat("QUJD", 20000);
      std::string run = data.substr(0, static_cast<size_t>(lead));
      for (size_t at = static_cast<size_t>(lead); at < data.size(); at += static_cast<size_t>(lineLength))
        run += "\r\n" + data.substr(at, static_cast<size_t>(lineLength));
      gRunSettings.d331 = 0;
      long count = -1;
      std::string next;
      ASSERT_EQ(Repeat("ABC", 20000), Decode({"<gwm:part>" + run + tail}, &count, &next));
      EXPECT_EQ(60000, count);
      EXPECT_EQ("</gwm:part>", next);
    }
  }
}

TEST_F(DecodeBase64LineTest, MissingOrFailingOutput) {
  std::string path = Reshaped(std::string("QUJD</x>"), "data.txt");
  FilePtr input = OpenFile(path.c_str(), "rb");
  ASSERT_TRUE(input != nullptr);
  EXPECT_EQ(0, DecodeBase64Line(input.get(), nullptr));
  EXPECT_EQ('Q', getc(input.get())) << "nothing is read without an output";
  rewind(input.get());

  FilePtr readOnly = OpenFile(path.c_str(), "rb");
  int writeFailed = 0;
  EXPECT_EQ(3, DecodeBase64Line(input.get(), readOnly.get(), &writeFailed));
  EXPECT_EQ(1, writeFailed);
  EXPECT_EQ('<', getc(input.get())) << "the run is still read up to its end tag";
}

}  // namespace

namespace {

// The decoder's rules, one character at a time: blanks and line breaks are
// passed over, "=" counts as padding, any other character outside the
// alphabet as 0; a group gives three bytes less its padding, an unfinished
// group none.
std::string ReferenceDecode(const std::string &text, long *count) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  uint32_t value = 0;
  int inGroup = 0, padding = 0;
  *count = 0;
  for (char c : text) {
    if (c == '<') break;
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    const size_t digit = kAlphabet.find(c);
    if (c == '=') ++padding;
    value = (value << 6) | (digit == std::string::npos ? 0u : static_cast<uint32_t>(digit));
    if (++inGroup < 4) continue;
    const int n = padding >= 3 ? 0 : 3 - padding;
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<char>(value >> (16 - 8 * i)));
    *count += n;
    value = 0;
    inGroup = padding = 0;
  }
  return bytes;
}

}  // namespace

// Long runs of plain data are decoded many characters at a time where the
// processor allows: random runs, with line breaks, blanks, padding and
// stray characters at random places (so that every offset within a block
// of data meets one), must decode as the rules say, character by character.
TEST_F(DecodeBase64LineTest, RandomRunsDecodeAsTheRulesSay) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  static const char *const kInserts[] = {"\r\n", "\n", " ", "\t", "=", "!", "*", "-", "=="};
  uint32_t seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  gRunSettings.d331 = 0;
  for (int round = 0; round < 120; ++round) {
    const size_t length = round < 100 ? next() % 600 : 40000 + next() % 120000;
    const uint32_t oddOneIn = 1 + next() % (round % 3 == 0 ? 8 : 400);
    std::string run;
    for (size_t i = 0; i < length; ++i) {
      if (next() % oddOneIn == 0) run += kInserts[next() % (sizeof kInserts / sizeof kInserts[0])];
      run.push_back(kAlphabet[next() % 64]);
    }
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(run.size()) + " characters");
    long expectedCount = 0;
    const std::string expected = ReferenceDecode(run, &expectedCount);
    long count = -1;
    std::string nextLine;
    const std::string bytes = Decode({"<gwm:part>" + run + "</gwm:part>"}, &count, &nextLine);
    ASSERT_TRUE(bytes == expected) << "decoded bytes differ (" << bytes.size() << " against " << expected.size() << ")";
    EXPECT_EQ(expectedCount, count);
    EXPECT_EQ("</gwm:part>", nextLine);
  }
}
