// Code page conversion of a text in place on Windows (ISO-8859-1,
// Windows-1252, UTF-8, ASCII) through the system's MultiByteToWideChar and
// WideCharToMultiByte, bounded by the text's buffer, with the same results as
// the iconv conversion of the Linux build: a byte the source code page does
// not define, or a character the target cannot hold, becomes "?".
#if defined(_WIN32)
#include <windows.h>

#include <cstring>
#include <vector>

#include "host/mvcom/mvcom_state.h"

static int KnownCodepage(int codepage) {
  return codepage == 28591 || codepage == 1252 || codepage == 65001 || codepage == 20127;
}

// Decodes one character of the source at in (left bytes remain) into *cp.
// Returns the bytes it took (at least 1); *cp is -1 when they are no
// character of the code page. An undecodable UTF-8 character is passed over
// with its continuation bytes, as the Linux build does.
static size_t DecodeOne(int from, const unsigned char *in, size_t left, long *cp) {
  if (from == 65001) {
    size_t n = in[0] < 0x80 ? 1 : (in[0] >> 5) == 0x6 ? 2 : (in[0] >> 4) == 0xE ? 3
             : (in[0] >> 3) == 0x1E ? 4 : 0;
    wchar_t wide[2];
    int units = (n > 0 && n <= left)
                    ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                          reinterpret_cast<const char *>(in), static_cast<int>(n),
                                          wide, 2)
                    : 0;
    if (units == 1) {
      *cp = wide[0];
    } else if (units == 2) {
      *cp = 0x10000 + ((static_cast<long>(wide[0]) - 0xD800) << 10) + (wide[1] - 0xDC00);
    } else {
      *cp = -1;
      size_t skip = 1;
      while (skip < left && (in[skip] & 0xC0) == 0x80) ++skip;
      return skip;
    }
    return n;
  }
  if (from == 20127 && in[0] >= 0x80) {
    *cp = -1;
    return 1;
  }
  if (from == 28591) {  // every byte is the character of the same number
    *cp = in[0];
    return 1;
  }
  wchar_t wide;
  *cp = MultiByteToWideChar(static_cast<UINT>(from), MB_ERR_INVALID_CHARS,
                            reinterpret_cast<const char *>(in), 1, &wide, 1) == 1
            ? wide
            : -1;
  // Windows-1252 fills its five undefined bytes with control characters;
  // they are no characters of the code page.
  if (from == 1252 && in[0] >= 0x80 && *cp < 0xA0 && *cp >= 0x80) *cp = -1;
  return 1;
}

// Encodes cp in the target code page into out. Returns the bytes (at most
// 4), or 0 when the target cannot hold the character.
static size_t EncodeOne(int to, long cp, char *out) {
  if (cp < 0) return 0;
  wchar_t wide[2];
  int units = 1;
  if (cp >= 0x10000) {
    wide[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
    wide[1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    units = 2;
  } else {
    wide[0] = static_cast<wchar_t>(cp);
  }
  if (to == 65001)
    return static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide, units, out, 4, nullptr, nullptr));
  if (to == 28591) {
    if (cp > 0xFF) return 0;
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (to == 20127 && cp >= 0x80) return 0;
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(static_cast<UINT>(to), WC_NO_BEST_FIT_CHARS, wide, units, out, 4,
                              nullptr, &usedDefault);
  return (n == 1 && !usedDefault) ? 1 : 0;
}

int com_CodepageToWindows(char *text, int from, int to, size_t capacity) {
  if (text == nullptr || capacity == 0 || !KnownCodepage(from) || !KnownCodepage(to)) return -1;
  if (from == to) return 0;
  size_t len = strnlen(text, capacity - 1);
  std::vector<unsigned char> in(text, text + len);
  std::vector<char> out;
  size_t at = 0;
  while (at < len) {
    long cp;
    at += DecodeOne(from, in.data() + at, len - at, &cp);
    char bytes[4];
    size_t n = EncodeOne(to, cp, bytes);
    if (n == 0) {
      bytes[0] = '?';
      n = 1;
    }
    if (out.size() + n > capacity - 1) break;  // whole characters only
    out.insert(out.end(), bytes, bytes + n);
  }
  memcpy(text, out.data(), out.size());
  text[out.size()] = '\0';
  return 0;
}

void ReleaseCodepageConverters(void) {}

#endif  // _WIN32
