// File times, calendar fields, the date text and UTF-16 conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win_compat.h"

namespace {

SYSTEMTIME Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  SYSTEMTIME st = {};
  st.wYear = static_cast<uint16_t>(y);
  st.wMonth = static_cast<uint16_t>(mo);
  st.wDay = static_cast<uint16_t>(d);
  st.wHour = static_cast<uint16_t>(h);
  st.wMinute = static_cast<uint16_t>(mi);
  st.wSecond = static_cast<uint16_t>(s);
  st.wMilliseconds = static_cast<uint16_t>(ms);
  return st;
}

// Each instant converts to a file time and back unchanged; where its Windows
// value is known (ticks != kAny), the file time is that value.
TEST(FileTime, InstantsRoundTripWithTheirWindowsValues) {
  const uint64_t kAny = ~0ULL;
  struct Case {
    SYSTEMTIME st;
    uint64_t ticks;
  } cases[] = {
      {Make(1601, 1, 1), 0},
      {Make(1601, 1, 1, 0, 0, 0, 1), 10000},
      {Make(1601, 12, 31, 23, 59, 59, 999), kAny},
      {Make(1700, 2, 28), kAny},
      {Make(1900, 2, 28, 6, 7, 8), kAny},
      {Make(1969, 12, 31, 23, 59, 59), kAny},
      {Make(1970, 1, 1), 116444736000000000ULL},
      {Make(2000, 2, 29, 12, 0, 0), 125962992000000000ULL},  // a leap day at noon
      {Make(2004, 2, 29, 13, 14), kAny},
      {Make(2038, 1, 19, 3, 14, 8), 137919572480000000ULL},  // 2^31 seconds after 1970
      {Make(2100, 3, 1), kAny},
      {Make(2400, 2, 29), kAny},
      {Make(9999, 12, 31, 23, 59, 59, 999), kAny},
  };
  for (const Case &c : cases) {
    const SYSTEMTIME &in = c.st;
    SCOPED_TRACE(std::to_string(in.wYear) + "-" + std::to_string(in.wMonth) + "-" +
                 std::to_string(in.wDay));
    FILETIME ft = {};
    ASSERT_TRUE(SystemTimeToFileTime(&in, &ft));
    if (c.ticks != kAny) {
      EXPECT_EQ(FileTimeToU64(ft), c.ticks);
    }
    SYSTEMTIME out;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
    EXPECT_EQ(out.wYear, in.wYear);
    EXPECT_EQ(out.wMonth, in.wMonth);
    EXPECT_EQ(out.wDay, in.wDay);
    EXPECT_EQ(out.wHour, in.wHour);
    EXPECT_EQ(out.wMinute, in.wMinute);
    EXPECT_EQ(out.wSecond, in.wSecond);
    EXPECT_EQ(out.wMilliseconds, in.wMilliseconds);
  }
}

TEST(FileTime, ImpossibleDatesAreRejectedAndLeaveTheOutputAlone) {
  const SYSTEMTIME bad[] = {
      Make(2019, 13, 1),  // month 13
      Make(2019, 0, 1),   // month 0
      Make(2019, 1, 32),  // day 32
      Make(2019, 4, 31),  // 31 April
      Make(2019, 2, 29),  // not a leap year
      Make(1900, 2, 29),  // century, not a leap year
      Make(2019, 1, 0),   // day 0
      Make(2019, 1, 1, 24),      // hour 24
      Make(2019, 1, 1, 0, 60),   // minute 60
      Make(2019, 1, 1, 0, 0, 60),  // second 60
      Make(2019, 1, 1, 0, 0, 0, 1000),
      Make(1600, 12, 31),  // before the epoch
  };
  for (const SYSTEMTIME &st : bad) {
    FILETIME ft = U64ToFileTime(42);
    EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    EXPECT_EQ(FileTimeToU64(ft), 42u);
  }
}

TEST(FileTime, DayOfWeekAndCompare) {
  FILETIME a, b;
  SYSTEMTIME st = Make(2019, 5, 2);  // a Thursday
  ASSERT_TRUE(SystemTimeToFileTime(&st, &a));
  SYSTEMTIME out;
  ASSERT_TRUE(FileTimeToSystemTime(&a, &out));
  EXPECT_EQ(out.wDayOfWeek, 4);
  b = U64ToFileTime(FileTimeToU64(a) + 1);
  EXPECT_EQ(CompareFileTime(&a, &b), -1);
  EXPECT_EQ(CompareFileTime(&b, &a), 1);
  EXPECT_EQ(CompareFileTime(&a, &a), 0);
  FILETIME huge = U64ToFileTime(0x8000000000000000ULL);
  EXPECT_FALSE(FileTimeToSystemTime(&huge, &out));
}

TEST(DateText, UsEnglishShortForm) {
  char out[64];
  SYSTEMTIME st = Make(2019, 5, 2, 14, 30);
  ASSERT_GT(FormatDateUS(&st, out, sizeof out), 0u);
  EXPECT_STREQ(out, "Thu, 02 May 2019");
  st = Make(1601, 1, 1);
  FormatDateUS(&st, out, sizeof out);
  EXPECT_STREQ(out, "Mon, 01 Jan 1601");
  EXPECT_EQ(FormatDateUS(&st, out, 5), 0u);  // too small: nothing
  st = Make(2019, 2, 30);
  EXPECT_EQ(FormatDateUS(&st, out, sizeof out), 0u);
}

std::vector<unsigned char> Utf16(std::initializer_list<uint16_t> units) {
  std::vector<unsigned char> bytes;
  for (uint16_t u : units) {
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>(u >> 8));
  }
  return bytes;
}

TEST(Utf16, ConvertsAllPlanesAndReplacesLoneSurrogates) {
  struct Case {
    std::vector<unsigned char> in;
    std::string out;
  } cases[] = {
      {Utf16({'A', 'b'}), "Ab"},
      {Utf16({0xE9, 0x20AC}), "\xC3\xA9\xE2\x82\xAC"},              // é €
      {Utf16({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},                // U+1F600
      {Utf16({0xD83D, 'x'}), "\xEF\xBF\xBDx"},                      // high surrogate alone
      {Utf16({0xDE00}), "\xEF\xBF\xBD"},                            // low surrogate alone
      {Utf16({0xD83D}), "\xEF\xBF\xBD"},                            // high surrogate at the end
  };
  for (const Case &c : cases) {
    char out[64];
    size_t n = Utf16LeToUtf8(c.in.data(), c.in.size(), out, sizeof out);
    EXPECT_EQ(std::string(out, n), c.out);
    EXPECT_EQ(strlen(out), n);
  }
}

TEST(Utf16, OutputBoundNeverSplitsACharacter) {
  // "é€😀" is 2 + 3 + 4 bytes of UTF-8.
  std::vector<unsigned char> in = Utf16({0xE9, 0x20AC, 0xD83D, 0xDE00});
  const struct {
    size_t cap;
    const char *expected;
  } cases[] = {
      {1, ""}, {2, ""}, {3, "\xC3\xA9"}, {5, "\xC3\xA9"}, {6, "\xC3\xA9\xE2\x82\xAC"},
      {9, "\xC3\xA9\xE2\x82\xAC"}, {10, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
  };
  for (const auto &c : cases) {
    std::vector<char> out(c.cap + 4, 'Z');
    size_t n = Utf16LeToUtf8(in.data(), in.size(), out.data(), c.cap);
    EXPECT_STREQ(out.data(), c.expected) << "cap " << c.cap;
    EXPECT_LT(n, c.cap);
    EXPECT_EQ(out[c.cap], 'Z') << "wrote past the bound at cap " << c.cap;
  }
}

TEST(WsPrintf, StopsAt1024Characters) {
  std::string longText(3000, 'x');
  char out[2048];
  size_t n = WsPrintf(out, sizeof out, "%s", longText.c_str());
  EXPECT_EQ(n, 1024u);
  EXPECT_EQ(strlen(out), 1024u);
  char small[10];
  EXPECT_EQ(WsPrintf(small, sizeof small, "%d-%s", 12345, "abcdef"), 9u);
  EXPECT_STREQ(small, "12345-abc");
}

std::string gBoxText, gBoxCaption;
void RecordingHook(const char *text, const char *caption) {
  gBoxText = text;
  gBoxCaption = caption;
}

TEST(MessageBox, GoesToTheInstalledHookOnly) {
  MessageBoxHook old = GetMessageBoxHook();
  SetMessageBoxHook(nullptr);
  MessageBoxA("ignored", "nobody listens");  // must simply return
  SetMessageBoxHook(&RecordingHook);
  MessageBoxA("/tmp/work/msg.xml", "Substitute mail file now");
  EXPECT_EQ(gBoxText, "/tmp/work/msg.xml");
  EXPECT_EQ(gBoxCaption, "Substitute mail file now");
  SetMessageBoxHook(old);
}

}  // namespace
