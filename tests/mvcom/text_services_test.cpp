// Text and date chores of the host library: base64, code pages, the password
// scramble and date differences.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/mvcom.h"

namespace {

TEST(MimeDecode, Base64InPlace) {
  struct Case {
    const char *in;
    std::string out;
  } cases[] = {
      {"SGVs\r\nbG8gV29y bGQ=", "Hello World"},  // line ends and blanks skipped
      {"TWFu", "Man"}, {"TWE=", "Ma"}, {"TQ==", "M"}, {"", ""},
      {"SGV*sbG8=", "He"},  // stops at the first character outside the alphabet
      {"AAEC", std::string("\x00\x01\x02", 3)},
      {"YXBwDQprZXkN", "app\r\nkey\r"},  // a trusted-application block
  };
  for (const Case &c : cases) {
    std::string buf = c.in;
    int len = com_Decode_MimeLine(&buf[0]);
    ASSERT_EQ(len, static_cast<int>(c.out.size())) << c.in;
    EXPECT_EQ(buf.substr(0, static_cast<size_t>(len)), c.out) << c.in;
    EXPECT_EQ(buf.c_str()[len], '\0') << c.in;
  }
}

// Converts in a buffer of capacity bytes followed by guard bytes.
std::string Convert(const std::string &text, int from, int to, size_t capacity, int *rc) {
  std::vector<char> buf(capacity + 8, 'Z');
  memcpy(buf.data(), text.c_str(), text.size() + 1);
  *rc = com_CodepageToWindows(buf.data(), from, to, capacity);
  for (size_t i = capacity; i < buf.size(); ++i) EXPECT_EQ(buf[i], 'Z') << "overrun at " << i;
  return buf.data();
}

TEST(Codepage, ConvertsWithinCapacityOnCharacterBoundaries) {
  struct Case {
    const char *in;
    int from, to;
    size_t cap;
    const char *out;
    int rc;
  } cases[] = {
      {"caf\xE9", 28591, 65001, 64, "caf\xC3\xA9", 0},
      {"caf\xC3\xA9 \xE2\x82\xAC", 65001, 28591, 64, "caf\xE9 ?", 0},  // no euro in Latin-1
      {"\x80", 1252, 65001, 64, "\xE2\x82\xAC", 0},
      {"a\xFF" "b", 65001, 28591, 64, "a?b", 0},                       // invalid UTF-8
      {"caf\xE9", 28591, 65001, 5, "caf", 0},                          // e-acute does not fit
      {"\xE9\xE9\xE9\xE9", 28591, 65001, 8, "\xC3\xA9\xC3\xA9\xC3\xA9", 0},
      {"\x80\x80", 1252, 65001, 6, "\xE2\x82\xAC", 0},
      {"caf\xE9", 28591, 437, 64, "caf\xE9", -1},                      // unknown code page
  };
  for (const Case &c : cases) {
    int rc = 99;
    EXPECT_EQ(Convert(c.in, c.from, c.to, c.cap, &rc), c.out) << c.in << " cap " << c.cap;
    EXPECT_EQ(rc, c.rc) << c.in;
  }
}

TEST(TextChores, ScrambleIsReversibleKeepsLengthAndHidesText) {
  for (const char *pw : {"secret", "P@ss w0rd~!", "\xC3\xA9t\xC3\xA9"}) {
    std::string buf = pw;
    _encrypt2(1, &buf[0]);
    EXPECT_EQ(strlen(buf.c_str()), strlen(pw));
    EXPECT_NE(buf, pw);
    _encrypt2(2, &buf[0]);
    EXPECT_EQ(buf, pw);
  }
}

TEST(Dates, DifferenceInMinutesBothSignsWithoutOverflow) {
  SYSTEMTIME st = {2020, 2, 0, 28, 23, 30, 0, 0};
  FILETIME a, b;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &a));
  st = {2020, 3, 0, 1, 1, 0, 59, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &b));
  EXPECT_EQ(com_FTDifference(b, a), 24 * 60 + 90);  // 29 February lies between
  EXPECT_EQ(com_FTDifference(a, b), -(24 * 60 + 90));
  FILETIME none = {0, 0}, far = {0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(com_FTDifference(far, none), INT_MAX);
  EXPECT_EQ(com_FTDifference(none, far), INT_MIN);
}

}  // namespace
