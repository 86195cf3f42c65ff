// The bounded copy and format helpers never overrun and always terminate.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/bounded_text.h"

namespace {

TEST(BoundedText, CopiesCutAtTheBoundAndTerminate) {
  char buf[8];
  memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(CopyText(buf, 5, "abcdefgh"), 4u);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(buf[5], 'Z');
  EXPECT_EQ(CopyText(buf, sizeof buf, nullptr), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(CopyTextN(buf, sizeof buf, "abcdef", 3), 3u);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(CopyText(buf, 0, "x"), 0u);  // no room at all: nothing written
  EXPECT_STREQ(buf, "abc");
}

TEST(BoundedText, AppendAndFormatStopAtTheBound) {
  char buf[10] = "abc";
  EXPECT_EQ(AppendText(buf, sizeof buf, "defghijkl"), 9u);
  EXPECT_STREQ(buf, "abcdefghi");
  EXPECT_EQ(FormatText(buf, sizeof buf, "%s-%d", "value", 123456), 9u);
  EXPECT_STREQ(buf, "value-123");
  CopyText(buf, sizeof buf, "ab");
  EXPECT_EQ(AppendFormat(buf, sizeof buf, "%05d", 42), 7u);
  EXPECT_STREQ(buf, "ab00042");
  EXPECT_EQ(AppendFormat(buf, sizeof buf, "%s", "xyzxyz"), 9u);
  EXPECT_STREQ(buf, "ab00042xy");
}

TEST(BoundedText, TrimPartialUtf8DropsACutSequenceOnly) {
  const struct {
    const char *in;
    const char *out;
  } cases[] = {
      {"abc", "abc"},
      {"ab\xC3\xA9", "ab\xC3\xA9"},       // whole é
      {"ab\xC3", "ab"},                    // é cut after its lead byte
      {"ab\xE2\x82", "ab"},                // € cut inside
      {"ab\xE2\x82\xAC", "ab\xE2\x82\xAC"},
      {"\xF0\x9F\x98", ""},                // only a cut emoji
      {"", ""},
  };
  for (const auto &c : cases) {
    char buf[16];
    CopyText(buf, sizeof buf, c.in);
    TrimPartialUtf8(buf);
    EXPECT_STREQ(buf, c.out);
  }
}

TEST(BoundedText, LeadingIntegerLikeTheCLibraryButSaturating) {
  const struct {
    const char *in;
    int out;
  } cases[] = {
      {"42", 42},        {"  -17abc", -17}, {"+8", 8},   {"abc", 0},
      {"", 0},           {"-", 0},          {"007", 7},  {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
  };
  for (const auto &c : cases) EXPECT_EQ(ParseLeadingInt(c.in), c.out) << c.in;
  EXPECT_EQ(ParseLeadingInt(nullptr), 0);
}

}  // namespace
