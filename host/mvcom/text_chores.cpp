// Small in-place text chores of the host library: bounded copy, trims,
// quotes, line ends, file-name cleaning, substring search and the password
// scramble.
#include <strings.h>

#include <cctype>
#include <cstring>

#include "host/mvcom/mvcom_state.h"
#include "platform/bounded_text.h"

char *com_strncpy(char *dst, const char *src, int n) {
  if (dst == nullptr) return dst;
  if (n < 0) n = 0;
  CopyTextN(dst, static_cast<size_t>(n) + 1, src, static_cast<size_t>(n));
  return dst;
}

char *com_rtrim(char *text) {
  if (text == nullptr) return text;
  size_t len = strlen(text);
  while (len > 0 && (text[len - 1] == ' ' || text[len - 1] == '\t' || text[len - 1] == '\r' ||
                     text[len - 1] == '\n'))
    --len;
  text[len] = '\0';
  return text;
}

char *com_ltrim(char *text) {
  if (text == nullptr) return text;
  size_t skip = strspn(text, " \t");
  if (skip > 0) memmove(text, text + skip, strlen(text + skip) + 1);
  return text;
}

char *com_Remove_Quotes(char *text) {
  if (text == nullptr) return text;
  size_t len = strlen(text);
  if (len >= 2 && text[0] == '"' && text[len - 1] == '"') {
    memmove(text, text + 1, len - 2);
    text[len - 2] = '\0';
  }
  return text;
}

char *com_LineTerminate(char *text) {
  if (text != nullptr) text[strcspn(text, "\r\n")] = '\0';
  return text;
}

char *com_MakeValidDosName(char *text, int mode) {
  (void)mode;
  if (text == nullptr) return text;
  for (char *p = text; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F || strchr("\\/:*?\"<>|", c) != nullptr) *p = '_';
  }
  size_t len = strlen(text);
  while (len > 0 && (text[len - 1] == '.' || text[len - 1] == ' ')) --len;
  text[len] = '\0';
  if (len == 0) CopyText(text, 2, "_");
  return text;
}

const char *com_FindText(const char *text, const char *pattern, int mode) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  if (mode == 0) return strstr(text, pattern);
  size_t plen = strlen(pattern);
  for (const char *p = text;; ++p) {
    if (strncasecmp(p, pattern, plen) == 0) return p;
    if (*p == '\0') return nullptr;
  }
}

// The scramble works on printable ASCII other than the blank (0x21..0x7E):
// each such character moves forward by a key that depends on its position, so
// the text stays printable, keeps its length and never gains a NUL.
void _encrypt2(int mode, char *text) {
  static const char kKey[] = "GwMvComScramble7";
  const int span = 0x7E - 0x21 + 1;
  if (text == nullptr || (mode != 1 && mode != 2)) return;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x21 || c > 0x7E) continue;
    int shift = (kKey[i % (sizeof kKey - 1)] + static_cast<int>(i)) % span;
    int offset = c - 0x21;
    offset = mode == 1 ? (offset + shift) % span : (offset - shift + span) % span;
    text[i] = static_cast<char>(0x21 + offset);
  }
}
