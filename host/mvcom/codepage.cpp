// Code page conversion of a text in place with iconv (ISO-8859-1,
// Windows-1252, UTF-8, ASCII), bounded by the text's buffer. Windows has no
// iconv: its conversion is in codepage_windows.cpp.
#if !defined(_WIN32)
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/mvcom/mvcom_state.h"

static const char *CodepageName(int codepage) {
  switch (codepage) {
    case 28591: return "ISO-8859-1";
    case 1252: return "WINDOWS-1252";
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
    default: return nullptr;
  }
}

// Opened converters, kept for the next line of the same conversion.
struct CachedConverter {
  int from, to;
  iconv_t cd;
};
static std::vector<CachedConverter> gConverters;

static iconv_t ConverterFor(int from, int to) {
  for (const CachedConverter &c : gConverters)
    if (c.from == from && c.to == to) return c.cd;
  iconv_t cd = iconv_open(CodepageName(to), CodepageName(from));
  if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
  // Converters are kept for the process; release them at exit even when the
  // host never shuts the library down.
  static bool releaseAtExit = (atexit(ReleaseCodepageConverters), true);
  (void)releaseAtExit;
  gConverters.push_back({from, to, cd});
  return cd;
}

void ReleaseCodepageConverters(void) {
  for (const CachedConverter &c : gConverters) iconv_close(c.cd);
  gConverters.clear();
}

// Runs the conversion into out (room for outRoom bytes). A byte that the
// source code page does not define, or a character the target cannot hold,
// becomes "?". Stops when the next character does not fit. Returns the
// number of bytes written. fromUtf8: the source is UTF-8, whose undecodable
// character is passed over with its continuation bytes.
static size_t Convert(iconv_t cd, int fromUtf8, char *in, size_t inLeft, char *out,
                      size_t outRoom) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char *outPtr = out;
  size_t outLeft = outRoom;
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG || outLeft == 0) break;
    // EILSEQ or EINVAL: an undecodable byte or an unconvertible character.
    *outPtr++ = '?';
    --outLeft;
    ++in;
    --inLeft;
    while (fromUtf8 && inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {  // rest of it
      ++in;
      --inLeft;
    }
  }
  return static_cast<size_t>(outPtr - out);
}

int com_CodepageToWindows(char *text, int from, int to, size_t capacity) {
  if (text == nullptr || capacity == 0 || CodepageName(from) == nullptr ||
      CodepageName(to) == nullptr)
    return -1;
  if (from == to) return 0;
  iconv_t cd = ConverterFor(from, to);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
  size_t len = strnlen(text, capacity - 1);
  std::vector<char> in(text, text + len);
  std::vector<char> out(capacity);
  size_t written = Convert(cd, from == 65001, in.data(), len, out.data(), capacity - 1);
  memcpy(text, out.data(), written);
  text[written] = '\0';
  return 0;
}

#endif  // !_WIN32
