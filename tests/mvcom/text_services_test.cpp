// Text and date chores of the host library: code pages and date differences.
#include <climits>

#include "mvcom/mvcom_fixture.h"

TEST(Codepage, ConvertsWithinCapacityOnCharacterBoundaries) {
  struct Case { const char *in; int from, to; size_t cap; const char *out; int rc; } cases[] = {
      {"caf\xC3\xA9 \xE2\x82\xAC", 65001, 28591, 64, "caf\xE9 ?", 0},  // no euro in Latin-1
      {"caf\xC3\xA9 \xE2\x82\xAC", 65001, 1252, 64, "caf\xE9 \x80", 0},  // same source, other target
      {"a\xFF" "b", 65001, 28591, 64, "a?b", 0},                       // invalid UTF-8
      {"caf\xE9", 28591, 65001, 5, "caf", 0},                          // e-acute does not fit
      {"\xE9\xE9\xE9\xE9", 28591, 65001, 8, "\xC3\xA9\xC3\xA9\xC3\xA9", 0},
      {"\x80\x80", 1252, 65001, 6, "\xE2\x82\xAC", 0},
      {"caf\xE9", 28591, 437, 64, "caf\xE9", -1},                      // unknown code page
  };
  for (const Case &c : cases) {
    int rc = 99;
    auto convert = [&c](char *buf, size_t cap) { return com_CodepageToWindows(buf, c.from, c.to, cap); };
    EXPECT_EQ(InBuffer(c.in, c.cap, convert, &rc), c.out) << c.in << " cap " << c.cap;
    EXPECT_EQ(rc, c.rc) << c.in;
  }
}

TEST(Dates, DifferenceInMinutesBothSignsWithoutOverflow) {
  FILETIME none = {0, 0}, later = {0x92A69C00u, 0xCu}, far = {0xFFFFFFFFu, 0xFFFFFFFFu};  // later: 90 minutes
  EXPECT_EQ(com_FTDifference(later, none), 90);
  EXPECT_EQ(com_FTDifference(none, later), -90);
  EXPECT_EQ(com_FTDifference(far, none), INT_MAX);
  EXPECT_EQ(com_FTDifference(none, far), INT_MIN);
}

TEST(FileCopy, KeepsBytesAndNeverEmptiesItsSource) {
  testing_support::TestHost host;
  const std::string src = host.root() + "/src.bin", dst = host.root() + "/dst.bin";
  const std::string bytes("a\0b\r\n\xFF", 6);
  ASSERT_TRUE(testing_support::WriteFileBytes(src, bytes));
  EXPECT_EQ(com_fcopy(src.c_str(), dst.c_str()), 0);
  EXPECT_EQ(testing_support::ReadFileBytes(dst), bytes);
  EXPECT_EQ(com_fcopy(src.c_str(), src.c_str()), 0);  // onto itself
  EXPECT_EQ(testing_support::ReadFileBytes(src), bytes);
  EXPECT_EQ(com_fcopy((host.root() + "/missing").c_str(), dst.c_str()), -1);
}

TEST(FileNames, UserNamesBecomeOneFileNameInsideTheirFolder) {
  // The debug subfolder is named after the user: no separator and no ".."
  // component may survive, or files would land outside the data directory.
  const struct { const char *why, *in, *out; } cases[] = {
      {"a plain name stays", "alice for bob", "alice for bob"},
      {"slashes", "a/b", "a_b"},
      {"backslashes", "a\\b", "a_b"},
      {"parent folder alone", "..", "_"},
      {"current folder alone", ".", "_"},
      {"climbing with slashes", "../../etc/passwd", ".._.._etc_passwd"},
      {"climbing with backslashes", "..\\..\\Windows", ".._.._Windows"},
      {"trailing dots and blanks, as Windows drops them", "name. . ", "name"},
      {"reserved characters", "x:*?\"<>|", "x_______"},
      {"control characters", "a\tb\x7F", "a_b_"},
      {"nothing left", " .. ", "_"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    char text[64];
    CopyText(text, sizeof text, c.in);
    EXPECT_STREQ(c.out, com_MakeValidDosName(text, 0));
  }
}
