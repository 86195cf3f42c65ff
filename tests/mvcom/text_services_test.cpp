// Text and date chores of the host library: bounded copies, trims, file
// names, search, the password scramble, base64, code pages and dates.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/mvcom.h"

namespace {

TEST(TextChores, StrncpyStaysInsideNPlusOneBytes) {
  char buf[8];
  memset(buf, 'Z', sizeof buf);
  com_strncpy(buf, "abcdefghij", 4);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(buf[5], 'Z');
  com_strncpy(buf, "ab", 4);
  EXPECT_STREQ(buf, "ab");
  com_strncpy(buf, nullptr, 4);
  EXPECT_STREQ(buf, "");
  com_strncpy(buf, "abc", -3);  // a negative count copies nothing
  EXPECT_STREQ(buf, "");
}

TEST(TextChores, TrimsQuotesAndLineEnds) {
  using Chore = char *(*)(char *);
  struct Case {
    Chore chore;
    const char *in, *out;
  } cases[] = {
      {com_rtrim, "abc \t\r\n", "abc"},
      {com_rtrim, " \t\r\n", ""},
      {com_rtrim, " a b ", " a b"},
      {com_ltrim, " \t a b ", "a b "},
      {com_ltrim, "\t\t", ""},
      {com_Remove_Quotes, "\"quoted\"", "quoted"},
      {com_Remove_Quotes, "\"\"", ""},
      {com_Remove_Quotes, "\"", "\""},  // a lone quote is no pair
      {com_Remove_Quotes, "\"open", "\"open"},
      {com_LineTerminate, "line\r\nnext", "line"},
      {com_LineTerminate, "line\nnext\r", "line"},
      {com_LineTerminate, "no end", "no end"},
  };
  for (const Case &c : cases) {
    std::vector<char> buf(c.in, c.in + strlen(c.in) + 1);
    EXPECT_STREQ(c.chore(buf.data()), c.out) << "input '" << c.in << "'";
  }
}

TEST(TextChores, MakeValidDosNameCleansEveryForbiddenCharacter) {
  struct Case {
    const char *in, *out;
  } cases[] = {
      {"jim.smith", "jim.smith"},
      {"a\\b/c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
      {"tab\there\x01", "tab_here_"},
      {"name. . ", "name"},
      {"..", "_"},  // would otherwise name the parent directory
      {"", "_"},
  };
  for (const Case &c : cases) {
    char buf[64];
    memset(buf, 0, sizeof buf);
    memcpy(buf, c.in, strlen(c.in));
    EXPECT_STREQ(com_MakeValidDosName(buf, 0), c.out) << c.in;
  }
}

TEST(TextChores, FindTextByCaseMode) {
  const char *text = "jim FOR bob";
  EXPECT_EQ(com_FindText(text, " for ", 0), nullptr);
  EXPECT_EQ(com_FindText(text, " for ", 1), text + 3);
  EXPECT_EQ(com_FindText(text, " FOR ", 0), text + 3);
  EXPECT_EQ(com_FindText(text, "bobby", 1), nullptr);
  EXPECT_EQ(com_FindText("Report.PDF", ".pdf", 1) != nullptr, true);
}

TEST(TextChores, ScrambleIsReversibleAndKeepsLength) {
  const char *passwords[] = {"secret", "P@ssw0rd with blanks!", "~~~~~~~~", "\xC3\xA9t\xC3\xA9", ""};
  for (const char *pw : passwords) {
    std::vector<char> buf(pw, pw + strlen(pw) + 1);
    _encrypt2(1, buf.data());
    EXPECT_EQ(strlen(buf.data()), strlen(pw)) << pw;
    if (strlen(pw) >= 6) EXPECT_STRNE(buf.data(), pw) << "clear password would reach the log";
    for (size_t i = 0; i < strlen(pw); ++i)
      if (pw[i] > ' ' && pw[i] < 0x7F) EXPECT_TRUE(buf[i] > ' ' && buf[i] < 0x7F) << pw;
    _encrypt2(2, buf.data());
    EXPECT_STREQ(buf.data(), pw);
  }
}

TEST(MimeDecode, Base64InPlace) {
  struct Case {
    const char *in;
    std::string out;
  } cases[] = {
      {"SGVsbG8=", "Hello"},
      {"SGVs\r\nbG8gV29y bGQ=", "Hello World"},  // line ends and blanks skipped
      {"TWFu", "Man"},
      {"TQ==", "M"},
      {"TWE=", "Ma"},
      {"", ""},
      {"SGV*sbG8=", "He"},  // stops at the first character outside the alphabet
      {"AAEC", std::string("\x00\x01\x02", 3)},
      {"YXBwDQprZXkN", "app\r\nkey\r"},  // the trusted-application block
  };
  for (const Case &c : cases) {
    std::vector<char> buf(c.in, c.in + strlen(c.in) + 1);
    int len = com_Decode_MimeLine(buf.data());
    ASSERT_EQ(len, static_cast<int>(c.out.size())) << c.in;
    EXPECT_EQ(std::string(buf.data(), static_cast<size_t>(len)), c.out) << c.in;
    EXPECT_EQ(buf[static_cast<size_t>(len)], '\0') << c.in;
  }
}

// Runs the conversion in a buffer of capacity bytes with guard bytes after it.
std::string Convert(const std::string &text, int from, int to, size_t capacity, int *rc) {
  std::vector<char> buf(capacity + 8, 'Z');
  memcpy(buf.data(), text.c_str(), text.size() + 1);
  *rc = com_CodepageToWindows(buf.data(), from, to, capacity);
  for (size_t i = capacity; i < buf.size(); ++i) EXPECT_EQ(buf[i], 'Z') << "overrun at " << i;
  return buf.data();
}

TEST(Codepage, ConvertsBetweenLatin1Windows1252AndUtf8) {
  struct Case {
    const char *in;
    int from, to;
    const char *out;
  } cases[] = {
      {"caf\xE9", 28591, 65001, "caf\xC3\xA9"},
      {"caf\xC3\xA9 \xE2\x82\xAC", 65001, 28591, "caf\xE9 ?"},  // no euro in Latin-1
      {"\x80", 1252, 65001, "\xE2\x82\xAC"},
      {"a\xFF" "b", 65001, 28591, "a?b"},  // invalid UTF-8
      {"plain", 65001, 65001, "plain"},
      {"\xC3\xA9", 65001, 20127, "?"},
  };
  for (const Case &c : cases) {
    int rc = -1;
    EXPECT_EQ(Convert(c.in, c.from, c.to, 64, &rc), c.out) << c.in;
    EXPECT_EQ(rc, 0);
  }
}

TEST(Codepage, BoundedByCapacityOnCharacterBoundaries) {
  int rc = -1;
  // "caf\xE9" fits 5 bytes in Latin-1 but needs 6 in UTF-8: the e-acute goes whole.
  EXPECT_EQ(Convert("caf\xE9", 28591, 65001, 5, &rc), "caf");
  EXPECT_EQ(Convert("\xE9\xE9\xE9\xE9", 28591, 65001, 8, &rc), "\xC3\xA9\xC3\xA9\xC3\xA9");
  EXPECT_EQ(Convert("\x80\x80", 1252, 65001, 6, &rc), "\xE2\x82\xAC");
  EXPECT_EQ(rc, 0);
}

TEST(Codepage, UnknownCodePageLeavesTextAlone) {
  int rc = 0;
  EXPECT_EQ(Convert("caf\xE9", 28591, 437, 64, &rc), "caf\xE9");
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(Convert("caf\xE9", 12345, 65001, 64, &rc), "caf\xE9");
  EXPECT_EQ(rc, -1);
}

FILETIME At(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st = {};
  st.wYear = static_cast<uint16_t>(year);
  st.wMonth = static_cast<uint16_t>(month);
  st.wDay = static_cast<uint16_t>(day);
  st.wHour = static_cast<uint16_t>(hour);
  st.wMinute = static_cast<uint16_t>(minute);
  st.wSecond = static_cast<uint16_t>(second);
  FILETIME ft = {};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return ft;
}

TEST(Dates, DisplayText) {
  char out[64];
  EXPECT_STREQ(com_DateText(At(2019, 5, 2, 13, 4, 5), out), "Thu, 02 May 2019 13:04:05");
  EXPECT_STREQ(com_DateText(FILETIME{0, 0}, out), "(none)");
  EXPECT_STREQ(com_DateText(FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu}, out), "(invalid date)");
}

TEST(Dates, DifferenceInMinutesBothSigns) {
  FILETIME a = At(2020, 2, 28, 23, 30, 0), b = At(2020, 3, 1, 1, 0, 59);
  EXPECT_EQ(com_FTDifference(b, a), 24 * 60 + 90);  // 29 February lies between
  EXPECT_EQ(com_FTDifference(a, b), -(24 * 60 + 90));
  EXPECT_EQ(com_FTDifference(a, a), 0);
  FILETIME none = {0, 0}, far = {0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(com_FTDifference(far, none), INT_MAX);  // saturates, no overflow
  EXPECT_EQ(com_FTDifference(none, far), INT_MIN);
  EXPECT_TRUE(com_DateIsNull(none));
  EXPECT_FALSE(com_DateIsNull(a));
}

}  // namespace
