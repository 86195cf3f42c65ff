// The response scanner: line reading with end-tag cutting and bounds, values
// decoded only once a line is known as text, the tag-table scan every parser
// uses, and the GroupWise date texts.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/bounded_text.h"
#include "platform/win_compat.h"
#include "transport/response_scanner.h"

namespace {

// A temporary file with the given bytes, open for reading.
std::unique_ptr<FILE, int (*)(FILE *)> FileWith(const std::string &bytes) {
  std::unique_ptr<FILE, int (*)(FILE *)> file(tmpfile(), fclose);
  if (file) {
    fwrite(bytes.data(), 1, bytes.size(), file.get());
    rewind(file.get());
  }
  return file;
}

TEST(Scanner, ReadResponseLineClassifiesTrimsAndCutsAtTheEndTag) {
  const std::string longText = std::string(1999, 'A') + "&lt;gwt:threading&gt;";
  const struct {
    const char *why;
    std::string input;
    std::vector<std::string> lines;
    int capacity;
  } cases[] = {
      {"text sharing its line with the end tag keeps only the text",
       "<gwt:name>\r\nInbox</gwt:name>\r\n", {"<gwt:name>", "Inbox"}, 250},
      {"an end-tag line is not cut to nothing", "</gwt:item>\r\n", {"</gwt:item>"}, 250},
      {"a one-character text loses its end tag too", "x</gwt:subject>\r\n", {"x"}, 250},
      {"a text comes as it stands, trailing blanks removed", "Tom &amp; Jerry &lt;3   \t\r\n",
       {"Tom &amp; Jerry &lt;3"}, 250},
      {"a tag has its references decoded", "<gwt:part id=\"a&amp;b\">\r\n",
       {"<gwt:part id=\"a&b\">"}, 250},
      {"an escaped tag in a text neither cuts it nor reads as a tag",
       "a &lt;/b&gt; c\r\n&lt;gwt:threading&gt;\r\n",
       {"a &lt;/b&gt; c", "&lt;gwt:threading&gt;"}, 250},
      {"bare LF, an empty line, no final line end", "<a>\n\n<b>\nlast", {"<a>", "", "<b>", "last"}, 250},
      {"an empty file has no lines", "", {}, 250},
      {"a line longer than the capacity is cut, its rest read past", "0123456789abcdef\r\n<a>\r\n",
       {"012345678", "<a>"}, 10},
      {"1999 x A then an escaped tag: the tag text never comes back as a line",
       longText + "\r\n<b>\r\n", {std::string(1999, 'A'), "<b>"}, 2000},
      {"a line that just fits its capacity loses nothing", "012345678\r\n<a>\r\n",
       {"012345678", "<a>"}, 10},
      {"a cut never ends in half a reference", "0123&amp;xy\r\n<a>\r\n", {"0123", "<a>"}, 8},
  };
  for (const auto &c : cases) {
    auto file = FileWith(c.input);
    std::vector<std::string> lines;
    std::vector<char> buffer(static_cast<size_t>(c.capacity));
    while (ReadResponseLine(buffer.data(), c.capacity, file.get())) lines.push_back(buffer.data());
    EXPECT_EQ(lines, c.lines) << c.why;
  }
}

TEST(Scanner, TagTableEntryMatchesByItsComparisonAndCutsTheValue) {
  const struct {
    const char *line;  // the current line; the file holds the lines after it
    std::string next;
    const char *tag;
    TagMatch match;
    int capacity, maxChars;
    int matched;
    const char *value;  // "old": left alone
  } cases[] = {
      {"<gwt:subject>", "Hello &amp; bye\r\n", "<gwt:subject>", kTagExact, 32, -1, 1, "Hello & bye"},
      {"<GWT:SUBJECT>", "x\r\n", "<gwt:subject>", kTagExact, 32, -1, 0, "old"},
      {"<gwt:subject a=\"1\">", "x\r\n", "<gwt:subject>", kTagExact, 32, -1, 0, "old"},
      {"<GWT:Name>", "Inbox</gwt:name>\r\n", "<gwt:name>", kTagNoCase, 32, -1, 1, "Inbox"},
      {"<gwt:attachment id=\"1\">", "f.txt\r\n", "<gwt:attachment ", kTagPrefix, 32, -1, 1, "f.txt"},
      {"<GWT:ATTACHMENT id=\"1\">", "f.txt\r\n", "<gwt:attachment ", kTagPrefix, 32, -1, 0, "old"},
      {"<gwt:code>", "0\r\n", "<GWT:CODE", kTagPrefixNoCase, 32, -1, 1, "0"},
      {"<a>", "", "<a>", kTagExact, 32, -1, 1, ""},  // end of file empties the value
      // Cut values: to maxChars or to the field, never inside a character.
      {"<a>", "\xC3\x84\xC3\x84\r\n", "<a>", kTagExact, 32, 3, 1, "\xC3\x84"},
      {"<a>", "ab\xC3\x84\r\n", "<a>", kTagExact, 4, -1, 1, "ab"},
      {"<a>", "abcdefgh\r\n", "<a>", kTagExact, 6, -1, 1, "abcde"},
      {"<a>", "short\r\n", "<a>", kTagExact, 64, 250, 1, "short"},
      // The value decoded, with the line breaks the writer kept as references.
      {"<gwt:subject>", "Hi&#13;&#10;&lt;gwt:threading&gt;\r\n", "<gwt:subject>", kTagExact, 64, -1,
       1, "Hi\r\n<gwt:threading>"},
      {"<a>", "</a>\r\n", "<a>", kTagExact, 32, -1, 1, ""},  // an empty element
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line + std::string(" / ") + c.next);
    char line[250], value[64] = "old";
    int seen = 0;
    CopyText(line, sizeof line, c.line);
    const TagField field = {c.tag, c.match, value, c.capacity, c.maxChars, &seen};
    auto file = FileWith(c.next);
    EXPECT_EQ(ScanTagTable(line, sizeof line, &field, 1, file.get()), c.matched);
    EXPECT_STREQ(value, c.value);
    EXPECT_EQ(seen, c.matched);
    if (!c.matched) {
      EXPECT_STREQ(line, c.line);  // no match leaves the line
    }
  }
}

TEST(Scanner, LaterEntriesSeeTheValueLineButNeverTakeATextForATag) {
  const struct {
    const char *why;
    std::string file;  // the lines after "<a>"
    int matched;
    const char *a, *b, *line;
  } cases[] = {
      {"the value of <a> is the tag <b>: the second entry matches that line", "<b>\r\nvalue\r\n", 2,
       "<b>", "value", "value"},
      {"the value of <a> is the text \"<b>\": no second match; the line keeps the text as sent",
       "&lt;b&gt;\r\nvalue\r\n", 1, "<b>", "", "&lt;b&gt;"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    char a[32] = "", b[32] = "";
    const TagField table[] = {{"<a>", kTagExact, a, sizeof a, -1, nullptr},
                              {"<b>", kTagExact, b, sizeof b, -1, nullptr}};
    auto file = FileWith(c.file);
    char line[64] = "<a>";
    EXPECT_EQ(ScanTagTable(line, sizeof line, table, 2, file.get()), c.matched);
    EXPECT_STREQ(a, c.a);
    EXPECT_STREQ(b, c.b);
    EXPECT_STREQ(line, c.line);
  }
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
  const struct {
    const char *text;
    uint64_t expected;
  } cases[] = {
      {"2019-05-02T14:00:00Z", Expected(2019, 5, 2, 14, 0, 0)},
      {"2012-09-19T19:26:34.123Z", Expected(2012, 9, 19, 19, 26, 34)},
      {"2019-05-02", Expected(2019, 5, 2, 12, 0, 0)},            // a date alone means noon
      {"2020-02-29T00:00:00Z", Expected(2020, 2, 29, 0, 0, 0)},  // leap day
      {"20190502T1400", Expected(2019, 5, 2, 14, 0, 0)},
      {"20190502T143059Z", Expected(2019, 5, 2, 14, 30, 0)},  // compact drops seconds
      {"20190502", Expected(2019, 5, 2, 0, 0, 0)},            // compact date alone: midnight
      {"1601-01-01T00:00:00Z", 0},
      {"2019-05-02T14:30", kUnchanged},      // seconds missing
      {"2019-05-02T14", kUnchanged},         // minutes missing
      {"2019-05", kUnchanged},               // day missing
      {"2019-13-01", kUnchanged},            // month 13
      {"2019-02-29", kUnchanged},            // not a leap year
      {"67555-05-02", kUnchanged},           // a year that would wrap to 2019 in 16 bits
      {"2019--5-02", kUnchanged},            // negative month
      {"20191302T1000", kUnchanged},         // compact month 13
      {"garbage", kUnchanged},
  };
  for (const auto &c : cases) {
    FILETIME ft = U64ToFileTime(kUnchanged);
    ParseGWDateTime(c.text, &ft);
    EXPECT_EQ(FileTimeToU64(ft), c.expected) << c.text;
  }
}

}  // namespace
