// Base64 decoding of a MIME-encoded text in place.
#include "host/mvcom/mvcom_state.h"

static int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int com_Decode_MimeLine(char *text) {
  if (text == nullptr) return 0;
  // Four characters give three bytes, so the output never overtakes the input.
  size_t w = 0;
  unsigned long group = 0;
  int held = 0;
  for (size_t r = 0; text[r] != '\0'; ++r) {
    char c = text[r];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    int v = Base64Value(c);
    if (v < 0) break;  // "=" padding or anything else ends the data
    group = (group << 6) | static_cast<unsigned long>(v);
    if (++held == 4) {
      text[w++] = static_cast<char>((group >> 16) & 0xFF);
      text[w++] = static_cast<char>((group >> 8) & 0xFF);
      text[w++] = static_cast<char>(group & 0xFF);
      group = 0;
      held = 0;
    }
  }
  if (held == 2) {
    text[w++] = static_cast<char>((group >> 4) & 0xFF);
  } else if (held == 3) {
    text[w++] = static_cast<char>((group >> 10) & 0xFF);
    text[w++] = static_cast<char>((group >> 2) & 0xFF);
  }
  text[w] = '\0';
  return static_cast<int>(w);
}
