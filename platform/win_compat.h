// Portable stand-ins for the few Windows calls the connector makes: file
// times and calendar fields, the current time, Sleep, the US-English date
// text, UTF-16LE to UTF-8, a wsprintfA-like printf and the test pause that
// replaces MessageBoxA. On Linux these are ours; on Windows the system's
// own calls stand behind the same names.
#pragma once

#include "platform/printf_format.h"

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// FILETIME, SYSTEMTIME, SystemTimeToFileTime, FileTimeToSystemTime,
// GetSystemTimeAsFileTime, GetSystemTime, CompareFileTime and Sleep are the
// system's own.
#include <windows.h>
#else
// 100-nanosecond intervals since 1601-01-01 00:00 UTC, in two 32-bit halves
// exactly as Windows lays it out.
struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;  // 1..12
  uint16_t wDayOfWeek;  // 0 Sunday .. 6 Saturday; ignored on input
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// Calendar fields (UTC, proleptic Gregorian, years 1601..30827) to a file
// time. Returns 0 and leaves *out unchanged for an impossible date or time
// (month 13, 30 February, hour 24...), non-zero on success.
int SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out);

// File time to calendar fields. Returns 0 for a value above 0x7FFFFFFFFFFFFFFF
// (as Windows does), non-zero on success.
int FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out);

void GetSystemTimeAsFileTime(FILETIME *out);
void GetSystemTime(SYSTEMTIME *out);

// -1, 0 or 1 as a is earlier than, equal to or later than b.
long CompareFileTime(const FILETIME *a, const FILETIME *b);

void Sleep(uint32_t milliseconds);
#endif  // !_WIN32

uint64_t FileTimeToU64(const FILETIME &ft);
FILETIME U64ToFileTime(uint64_t v);

// Creates one directory level (CreateDirectoryA). An existing directory
// counts as success. Returns non-zero on success.
int MakeDirectory(const char *path);

// The date as "ddd',' dd MMM yyyy" in US English ("Wed, 02 May 2019").
// Returns the length written, 0 when cap is too small.
size_t FormatDateUS(const SYSTEMTIME *st, char *out, size_t cap);

// Converts UTF-16LE (inBytes bytes; an odd last byte is ignored) to UTF-8.
// Writes at most outCap - 1 bytes and always terminates; never cuts inside a
// character and never emits invalid UTF-8 (unpaired surrogates become
// U+FFFD). Returns the number of bytes written.
size_t Utf16LeToUtf8(const unsigned char *in, size_t inBytes, char *out, size_t outCap);

// printf whose output stops at 1024 characters, like wsprintfA; out must hold
// at least 1025 bytes or cap bytes, whichever is smaller.
size_t WsPrintf(char *out, size_t cap, const char *fmt, ...) MV_PRINTF_FORMAT(3, 4);

// The test pause: MessageBoxA(text, caption) calls the installed hook, which
// shows the text and waits for the user. Without a hook it returns at once on
// Linux and shows the system's message box on Windows.
using MessageBoxHook = void (*)(const char *text, const char *caption);
void SetMessageBoxHook(MessageBoxHook hook);
MessageBoxHook GetMessageBoxHook();
void MessageBoxA(const char *text, const char *caption);
