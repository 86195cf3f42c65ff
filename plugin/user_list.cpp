// GetUserList: turns the host's UTF-16LE user list (one "Name: value"
// property a line) into the semicolon-separated list "address;address;name".
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/mv_api.h"

namespace {

enum {
  kMaxLineBytes = 1001,  // bytes of a UTF-16 line kept; the rest is read as the next line
  kTextSize = 1024,
  kMaxTextBytes = 512,
};

// Reads one UTF-16LE line a 16-bit unit at a time, so that a character whose
// low or high byte is 0x0A or 0x0D (U+010D, U+040A, U+0D05, U+200D...) stays
// part of the text: the line ends at U+000A, U+000D is dropped. At most
// kMaxLineBytes bytes are kept (whole units only); the rest of a longer line
// is read as the next line. An odd last byte of the file is ignored. Returns
// the number of bytes kept, or -1 at end of file with nothing read.
int ReadUtf16Line(FILE *in, unsigned char *line) {
  int kept = 0;
  bool any = false;
  unsigned char unit[2];
  while (kept + 2 <= kMaxLineBytes && fread(unit, 1, 2, in) == 2) {
    any = true;
    if (unit[0] == 0x0A && unit[1] == 0x00) break;
    if (unit[0] == 0x0D && unit[1] == 0x00) continue;
    line[kept++] = unit[0];
    line[kept++] = unit[1];
  }
  if (!any) return -1;
  return kept;
}

// The value after "Name:": the text two characters after the first colon,
// or null when there is no colon.
const char *PropertyValue(const char *text) {
  const char *colon = strchr(text, ':');
  if (colon == nullptr) return nullptr;
  // A value-less "Name:" has only the colon; never step past the terminator.
  return colon[1] == '\0' ? colon + 1 : colon + 2;
}

}  // namespace

extern "C" MV_EXPORT int MV_CALL GetUserList(const char *inputPath, const char *outputPath) {
  FilePtr in = OpenFile(inputPath, "rb");
  if (!in) return 0;
  FilePtr out = OpenFile(outputPath, "w");
  if (!out) return 0;

  unsigned char raw[kMaxLineBytes + 1];
  char text[kTextSize];
  char displayName[kTextSize] = "";
  bool first = true;
  int n;
  while ((n = ReadUtf16Line(in.get(), raw)) >= 0) {
    const unsigned char *start = raw;
    // A byte-order mark at the start of the file is not part of the first line.
    if (first && n >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
      start += 2;
      n -= 2;
    }
    first = false;
    Utf16LeToUtf8(start, static_cast<size_t>(n), text, kMaxTextBytes + 1);

    if (strncmp(text, "DisplayName", 11) == 0) {
      const char *value = PropertyValue(text);
      if (value != nullptr) CopyText(displayName, sizeof displayName, value);
    } else if (strncmp(text, "PrimarySmtpAddress", 18) == 0) {
      const char *value = PropertyValue(text);
      if (value == nullptr) continue;
      fprintf(out.get(), "%s;%s;%s\n", value, value, displayName);
      displayName[0] = '\0';
    }
  }
  return 1;
}
