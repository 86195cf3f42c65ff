// Portable file-time arithmetic and the other Windows stand-ins; on Windows
// the same names forward to the system (see the end of this file).
#include "win_compat.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "bounded_text.h"

namespace {

#if !defined(_WIN32)
constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t *y, unsigned *m, unsigned *d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}
#endif  // !_WIN32

MessageBoxHook gMessageBoxHook = nullptr;

}  // namespace

uint64_t FileTimeToU64(const FILETIME &ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME U64ToFileTime(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<uint32_t>(v & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<uint32_t>(v >> 32);
  return ft;
}

void SetMessageBoxHook(MessageBoxHook hook) { gMessageBoxHook = hook; }
MessageBoxHook GetMessageBoxHook() { return gMessageBoxHook; }

#if !defined(_WIN32)

int SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out) {
  if (in == nullptr || out == nullptr) return 0;
  if (in->wYear < 1601 || in->wYear > 30827) return 0;
  if (in->wMonth < 1 || in->wMonth > 12) return 0;
  if (in->wDay < 1 || in->wDay > DaysInMonth(in->wYear, in->wMonth)) return 0;
  if (in->wHour > 23 || in->wMinute > 59 || in->wSecond > 59 || in->wMilliseconds > 999) return 0;
  int64_t days = DaysFromCivil(in->wYear, in->wMonth, in->wDay) + kDays1601To1970;
  uint64_t ticks = static_cast<uint64_t>(days) * kTicksPerDay +
                   (static_cast<uint64_t>(in->wHour) * 3600 + in->wMinute * 60 + in->wSecond) *
                       kTicksPerSecond +
                   static_cast<uint64_t>(in->wMilliseconds) * 10000;
  *out = U64ToFileTime(ticks);
  return 1;
}

int FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out) {
  if (in == nullptr || out == nullptr) return 0;
  uint64_t ticks = FileTimeToU64(*in);
  if (ticks > 0x7FFFFFFFFFFFFFFFULL) return 0;
  int64_t days = static_cast<int64_t>(ticks / kTicksPerDay);
  uint64_t rest = ticks % kTicksPerDay;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days - kDays1601To1970, &y, &m, &d);
  out->wYear = static_cast<uint16_t>(y);
  out->wMonth = static_cast<uint16_t>(m);
  out->wDay = static_cast<uint16_t>(d);
  // 1601-01-01 was a Monday.
  out->wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);
  uint64_t secs = rest / kTicksPerSecond;
  out->wHour = static_cast<uint16_t>(secs / 3600);
  out->wMinute = static_cast<uint16_t>((secs / 60) % 60);
  out->wSecond = static_cast<uint16_t>(secs % 60);
  out->wMilliseconds = static_cast<uint16_t>((rest % kTicksPerSecond) / 10000);
  return 1;
}

void GetSystemTimeAsFileTime(FILETIME *out) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t ticks = (static_cast<uint64_t>(ts.tv_sec) + kDays1601To1970 * 86400ULL) * kTicksPerSecond +
                   static_cast<uint64_t>(ts.tv_nsec) / 100;
  *out = U64ToFileTime(ticks);
}

void GetSystemTime(SYSTEMTIME *out) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  FileTimeToSystemTime(&ft, out);
}

long CompareFileTime(const FILETIME *a, const FILETIME *b) {
  uint64_t x = FileTimeToU64(*a), y = FileTimeToU64(*b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

void Sleep(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int MakeDirectory(const char *path) {
  if (path == nullptr) return 0;
  return mkdir(path, 0755) == 0 || errno == EEXIST;
}

size_t FormatDateUS(const SYSTEMTIME *st, char *out, size_t cap) {
  static const char *const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (st == nullptr || out == nullptr || cap < 17) return 0;
  SYSTEMTIME norm = *st;
  FILETIME ft;
  if (!SystemTimeToFileTime(st, &ft) || !FileTimeToSystemTime(&ft, &norm)) return 0;
  return FormatText(out, cap, "%s, %02u %s %04u", kDays[norm.wDayOfWeek], norm.wDay,
                    kMonths[norm.wMonth - 1], norm.wYear);
}

size_t Utf16LeToUtf8(const unsigned char *in, size_t inBytes, char *out, size_t outCap) {
  if (out == nullptr || outCap == 0) return 0;
  size_t o = 0;
  size_t units = inBytes / 2;
  for (size_t i = 0; i < units; ++i) {
    uint32_t cp = in[2 * i] | (static_cast<uint32_t>(in[2 * i + 1]) << 8);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      uint32_t lo = 0;
      if (i + 1 < units) lo = in[2 * i + 2] | (static_cast<uint32_t>(in[2 * i + 3]) << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    unsigned char buf[4];
    size_t n;
    if (cp < 0x80) {
      buf[0] = static_cast<unsigned char>(cp);
      n = 1;
    } else if (cp < 0x800) {
      buf[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      buf[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      buf[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      buf[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      buf[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      buf[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      buf[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      buf[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      n = 4;
    }
    if (o + n > outCap - 1) break;  // whole characters only
    for (size_t k = 0; k < n; ++k) out[o++] = static_cast<char>(buf[k]);
  }
  out[o] = '\0';
  return o;
}

size_t WsPrintf(char *out, size_t cap, const char *fmt, ...) {
  if (cap > 1025) cap = 1025;
  va_list ap;
  va_start(ap, fmt);
  size_t n = FormatTextV(out, cap, fmt, ap);
  va_end(ap);
  return n;
}

void MessageBoxA(const char *text, const char *caption) {
  if (gMessageBoxHook != nullptr) gMessageBoxHook(text, caption);
}

#else  // _WIN32

int MakeDirectory(const char *path) {
  if (path == nullptr) return 0;
  return CreateDirectoryA(path, nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

size_t FormatDateUS(const SYSTEMTIME *st, char *out, size_t cap) {
  if (st == nullptr || out == nullptr || cap < 17 || cap > 0x7fffffff) return 0;
  // The system rejects an impossible date; a round trip through a file time
  // also fills in the day of the week, which the caller need not have set.
  FILETIME ft;
  SYSTEMTIME norm;
  if (!SystemTimeToFileTime(st, &ft) || !FileTimeToSystemTime(&ft, &norm)) return 0;
  const LCID kEnglishUs = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
  int n = GetDateFormatA(kEnglishUs, 0, &norm, "ddd',' dd MMM yyyy", out, static_cast<int>(cap));
  if (n <= 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n - 1);  // n counts the terminator
}

size_t Utf16LeToUtf8(const unsigned char *in, size_t inBytes, char *out, size_t outCap) {
  if (out == nullptr || outCap == 0) return 0;
  out[0] = '\0';
  size_t units = inBytes / 2;
  if (units == 0 || units > 0x3fffffff) return 0;
  // The bytes need not be aligned for wchar_t.
  std::vector<wchar_t> wide(units);
  for (size_t i = 0; i < units; ++i)
    wide[i] = static_cast<wchar_t>(in[2 * i] | (in[2 * i + 1] << 8));
  // Unpaired surrogates become U+FFFD (the system's default without
  // WC_ERR_INVALID_CHARS); the whole text is converted first, since the
  // system fails rather than cut when the buffer is too small.
  int need = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(units), nullptr, 0,
                                 nullptr, nullptr);
  if (need <= 0) return 0;
  std::vector<char> all(static_cast<size_t>(need));
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(units), all.data(), need, nullptr,
                      nullptr);
  size_t n = all.size();
  if (n > outCap - 1) {
    n = outCap - 1;
    // Whole characters only: back up over the continuation bytes and the
    // lead byte of the character that does not fit.
    while (n > 0 && (static_cast<unsigned char>(all[n]) & 0xC0) == 0x80) --n;
  }
  memcpy(out, all.data(), n);
  out[n] = '\0';
  return n;
}

size_t WsPrintf(char *out, size_t cap, const char *fmt, ...) {
  if (out == nullptr || cap == 0) return 0;
  // wvsprintfA writes at most 1024 characters and the terminator.
  char text[1025];
  va_list ap;
  va_start(ap, fmt);
  int n = wvsprintfA(text, fmt, ap);
  va_end(ap);
  if (n < 0) n = 0;
  text[n < 1024 ? n : 1024] = '\0';
  return CopyText(out, cap < 1025 ? cap : 1025, text);
}

void MessageBoxA(const char *text, const char *caption) {
  if (gMessageBoxHook != nullptr) {
    gMessageBoxHook(text, caption);
    return;
  }
  ::MessageBoxA(nullptr, text, caption, MB_OK | MB_TASKMODAL);
}

#endif  // _WIN32
