// Bounded text copies and formatting shared by the plug-in, the host library,
// the host program and the simulator.
#include "bounded_text.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <strings.h>

size_t CopyTextN(char *dst, size_t cap, const char *src, size_t n) {
  if (dst == nullptr || cap == 0) return 0;
  if (src == nullptr) src = "";
  size_t len = strnlen(src, n);
  if (len > cap - 1) len = cap - 1;
  memmove(dst, src, len);
  dst[len] = '\0';
  return len;
}

size_t CopyText(char *dst, size_t cap, const char *src) {
  return CopyTextN(dst, cap, src, static_cast<size_t>(-1));
}

size_t AppendText(char *dst, size_t cap, const char *src) {
  if (dst == nullptr || cap == 0) return 0;
  size_t used = strnlen(dst, cap - 1);
  return used + CopyText(dst + used, cap - used, src);
}

size_t FormatTextV(char *dst, size_t cap, const char *fmt, va_list ap) {
  if (dst == nullptr || cap == 0) return 0;
  int n = vsnprintf(dst, cap, fmt, ap);
  if (n < 0) {
    dst[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : cap - 1;
}

size_t FormatText(char *dst, size_t cap, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  size_t n = FormatTextV(dst, cap, fmt, ap);
  va_end(ap);
  return n;
}

size_t AppendFormat(char *dst, size_t cap, const char *fmt, ...) {
  if (dst == nullptr || cap == 0) return 0;
  size_t used = strnlen(dst, cap - 1);
  va_list ap;
  va_start(ap, fmt);
  size_t n = FormatTextV(dst + used, cap - used, fmt, ap);
  va_end(ap);
  return used + n;
}

void TrimPartialUtf8(char *dst) {
  size_t len = strlen(dst);
  if (len == 0) return;
  // Walk back over continuation bytes to the lead byte of the last sequence.
  size_t i = len;
  size_t cont = 0;
  while (i > 0 && (static_cast<unsigned char>(dst[i - 1]) & 0xC0) == 0x80 && cont < 4) {
    --i;
    ++cont;
  }
  if (i == 0) {
    dst[0] = '\0';
    return;
  }
  unsigned char lead = static_cast<unsigned char>(dst[i - 1]);
  size_t need = 0;
  if (lead < 0x80) need = 0;
  else if ((lead & 0xE0) == 0xC0) need = 1;
  else if ((lead & 0xF0) == 0xE0) need = 2;
  else if ((lead & 0xF8) == 0xF0) need = 3;
  else need = 99;  // stray byte: drop it
  if (need != cont) dst[lead < 0x80 ? i : i - 1] = '\0';
}

int ParseLeadingInt(const char *text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' ||
         *text == '\v')
    ++text;
  int negative = 0;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  long long value = 0;
  while (*text >= '0' && *text <= '9') {
    value = value * 10 + (*text++ - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

int EqualsNoCase(const char *a, const char *b) { return strcasecmp(a, b) == 0; }

int CompareNoCase(const char *a, const char *b) { return strcasecmp(a, b); }

int EqualsNoCaseN(const char *a, const char *b, size_t n) { return strncasecmp(a, b, n) == 0; }

int StartsWith(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

int StartsWithNoCase(const char *text, const char *prefix) {
  return strncasecmp(text, prefix, strlen(prefix)) == 0;
}
