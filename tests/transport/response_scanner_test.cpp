// The response scanner: line reading with decoding and end-tag cutting, the
// tag-table scan every parser uses, and the GroupWise date texts.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/win_compat.h"
#include "support/host_fixture.h"
#include "transport/response_scanner.h"

namespace {

using testing_support::TestHost;

// A response file with the given bytes, open for reading.
class ResponseFile {
 public:
  explicit ResponseFile(const std::string &bytes) {
    file_ = tmpfile();
    if (file_ != nullptr) {
      fwrite(bytes.data(), 1, bytes.size(), file_);
      rewind(file_);
    }
  }
  ~ResponseFile() {
    if (file_ != nullptr) fclose(file_);
  }
  FILE *get() const { return file_; }

 private:
  FILE *file_ = nullptr;
};

class Scanner : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.Init(), 0); }
  TestHost host_;
};

std::vector<std::string> ReadAllLines(const std::string &bytes, int capacity) {
  ResponseFile file(bytes);
  std::vector<std::string> lines;
  std::vector<char> buffer(static_cast<size_t>(capacity));
  while (ReadResponseLine(buffer.data(), capacity, file.get())) lines.push_back(buffer.data());
  return lines;
}

TEST_F(Scanner, ReadResponseLineDecodesTrimsAndCutsAtTheEndTag) {
  struct Case {
    const char *why;
    std::string input;
    std::vector<std::string> lines;
    int capacity = 250;
  } cases[] = {
      {"a tag line stays whole", "<gwt:name>\r\n", {"<gwt:name>"}},
      {"text sharing its line with the end tag keeps only the text",
       "<gwt:name>\r\nInbox</gwt:name>\r\n", {"<gwt:name>", "Inbox"}},
      {"an end-tag line is not cut to nothing", "</gwt:item>\r\n", {"</gwt:item>"}},
      {"a one-character text loses its end tag too", "x</gwt:subject>\r\n", {"x"}},
      {"references are decoded and trailing blanks removed",
       "Tom &amp; Jerry &lt;3   \t\r\n", {"Tom & Jerry <3"}},
      {"decoding comes before the cut, trimming before the cut too",
       "a &lt;/b&gt; c\r\n", {"a "}},
      {"a text that is only an escaped end tag stays", "&lt;/b&gt;\r\n", {"</b>"}},
      {"bare LF and an empty line", "<a>\n\n<b>\n", {"<a>", "", "<b>"}},
      {"a last line without line end is still read", "<a>\r\nlast", {"<a>", "last"}},
      {"numeric references", "&#65;&#x42;C\r\n", {"ABC"}},
      {"an empty file has no lines", "", {}},
      {"a line longer than the capacity arrives in pieces", "0123456789abcdef\r\n<a>\r\n",
       {"012345678", "9abcdef", "<a>"}, 10},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(ReadAllLines(c.input, c.capacity), c.lines) << c.why;
  }
}

// Scans every line of bytes with the table, like a parser's loop.
int ScanAll(const std::string &bytes, const TagField *table, int count) {
  ResponseFile file(bytes);
  char line[250];
  int matched = 0;
  while (ReadResponseLine(line, sizeof line, file.get())) {
    matched += ScanTagTable(line, sizeof line, table, count, file.get());
  }
  return matched;
}

TEST_F(Scanner, TagTableTakesTheNextLineAsValueByEachComparison) {
  char subject[32] = "old", name[32] = "old", attach[32] = "old", code[32] = "old";
  int subjectSeen = 0, attachSeen = 0;
  const TagField table[] = {
      {"<gwt:subject>", kTagExact, subject, sizeof subject, -1, &subjectSeen},
      {"<gwt:name>", kTagNoCase, name, sizeof name, -1, nullptr},
      {"<gwt:attachment ", kTagPrefix, attach, sizeof attach, -1, &attachSeen},
      {"<GWT:CODE", kTagPrefixNoCase, code, sizeof code, -1, nullptr},
  };
  const std::string answer =
      "<gwt:item>\r\n<gwt:subject>\r\nHello &amp; bye\r\n</gwt:subject>\r\n"
      "<GWT:Name>\r\nInbox</gwt:name>\r\n"
      "<gwt:attachment id=\"1\">\r\nfile.txt\r\n</gwt:attachment>\r\n"
      "<gwt:code>\r\n0\r\n</gwt:code>\r\n</gwt:item>\r\n"
      "<GWT:SUBJECT>\r\nnot exact\r\n<gwt:subject a=\"1\">\r\nnot whole\r\n";
  EXPECT_EQ(ScanAll(answer, table, 4), 4);
  EXPECT_STREQ(subject, "Hello & bye");
  EXPECT_EQ(subjectSeen, 1);
  EXPECT_STREQ(name, "Inbox");
  EXPECT_STREQ(attach, "file.txt");
  EXPECT_EQ(attachSeen, 1);
  EXPECT_STREQ(code, "0");
}

TEST_F(Scanner, LaterEntriesSeeTheValueLineNotTheTag) {
  // The value of <a> is "<b>": the second entry then matches that value line.
  char a[32] = "", b[32] = "", again[32] = "untouched";
  const TagField table[] = {
      {"<a>", kTagExact, a, sizeof a, -1, nullptr},
      {"<a>", kTagExact, again, sizeof again, -1, nullptr},
      {"<b>", kTagExact, b, sizeof b, -1, nullptr},
  };
  ResponseFile file("<b>\r\nvalue\r\n");
  char line[64] = "<a>";
  EXPECT_EQ(ScanTagTable(line, sizeof line, table, 3, file.get()), 2);
  EXPECT_STREQ(a, "<b>");
  EXPECT_STREQ(again, "untouched");
  EXPECT_STREQ(b, "value");
  EXPECT_STREQ(line, "value");
}

TEST_F(Scanner, NoMatchLeavesTheLineAndEndOfFileEmptiesTheValue) {
  char value[16] = "old";
  int seen = 0;
  const TagField table[] = {{"<a>", kTagExact, value, sizeof value, -1, &seen}};
  ResponseFile empty("");
  char line[64] = "<other>";
  EXPECT_EQ(ScanTagTable(line, sizeof line, table, 1, empty.get()), 0);
  EXPECT_STREQ(line, "<other>");
  char tagLine[64] = "<a>";
  EXPECT_EQ(ScanTagTable(tagLine, sizeof tagLine, table, 1, empty.get()), 1);
  EXPECT_STREQ(value, "");
  EXPECT_EQ(seen, 1);
}

TEST_F(Scanner, ValuesAreCutToTheFieldWithoutSplittingACharacter) {
  char limited[32], small[6], whole[64];
  const TagField table[] = {
      {"<a>", kTagExact, limited, sizeof limited, 3, nullptr},   // 3 bytes: "Ä" + half
      {"<b>", kTagExact, small, sizeof small, -1, nullptr},      // 5 bytes fit
      {"<c>", kTagExact, whole, sizeof whole, 250, nullptr},
  };
  EXPECT_EQ(ScanAll("<a>\r\n\xC3\x84\xC3\x84\r\n<b>\r\nabcdefgh\r\n<c>\r\nshort\r\n", table, 3), 3);
  EXPECT_STREQ(limited, "\xC3\x84");
  EXPECT_STREQ(small, "abcde");
  EXPECT_STREQ(whole, "short");
}

TEST_F(Scanner, ReadValueLineCutsAtMaxCharsAndReportsEndOfFile) {
  ResponseFile file("abcdefgh\r\n");
  char value[16];
  EXPECT_EQ(ReadValueLine(value, sizeof value, 4, file.get()), 1);
  EXPECT_STREQ(value, "abcd");
  EXPECT_EQ(ReadValueLine(value, sizeof value, 4, file.get()), 0);
  EXPECT_STREQ(value, "");
}

// Expected file times computed with the C library, not the platform layer.
uint64_t Expected(int y, int mo, int d, int h, int mi, int s) {
  struct tm tm = {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<uint64_t>(timegm(&tm)) * 10000000ull + 116444736000000000ull;
}

TEST(GWDateTime, ReadsBothFormsAndLeavesTheOutputAloneWhenItCannot) {
  const uint64_t kUnchanged = 0x0123456789ABCDEFull;
  struct Case {
    const char *text;
    uint64_t expected;  // kUnchanged: the output keeps its old value
  } cases[] = {
      {"2019-05-02T14:00:00Z", Expected(2019, 5, 2, 14, 0, 0)},
      {"2012-09-19T19:26:34.123Z", Expected(2012, 9, 19, 19, 26, 34)},
      {"2019-05-02", Expected(2019, 5, 2, 12, 0, 0)},  // a date alone means noon
      {"2020-02-29T00:00:00Z", Expected(2020, 2, 29, 0, 0, 0)},  // leap day
      {"20190502T1400", Expected(2019, 5, 2, 14, 0, 0)},
      {"20190502T143059Z", Expected(2019, 5, 2, 14, 30, 0)},  // compact drops seconds
      {"20190502", Expected(2019, 5, 2, 0, 0, 0)},  // compact without time: midnight
      {"1601-01-01T00:00:00Z", 0},
      // Rejected:
      {"2019-05-02T14:30", kUnchanged},      // seconds missing
      {"2019-05-02T14", kUnchanged},         // minutes missing
      {"2019-05", kUnchanged},               // day missing
      {"2019-13-01", kUnchanged},            // month 13
      {"2019-04-31", kUnchanged},            // 31 April
      {"2019-02-29", kUnchanged},            // not a leap year
      {"2019-05-32T00:00:00Z", kUnchanged},  // day 32
      {"2019-05-02T24:00:00Z", kUnchanged},  // hour 24
      {"67555-05-02", kUnchanged},           // a year that would wrap to 2019 in 16 bits
      {"2019--5-02", kUnchanged},            // negative month
      {"20191302T1000", kUnchanged},         // compact month 13
      {"2019", kUnchanged},                  // compact, month and day missing
      {"", kUnchanged},
      {"garbage", kUnchanged},
  };
  for (const Case &c : cases) {
    FILETIME ft = U64ToFileTime(kUnchanged);
    ParseGWDateTime(c.text, &ft);
    EXPECT_EQ(FileTimeToU64(ft), c.expected) << c.text;
  }
}

}  // namespace
