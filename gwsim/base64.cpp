// Base64 encoding with optional line breaks, and strict decoding.
#include "gwsim/base64.h"

#include <cstdint>

namespace gwsim {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

void AppendBase64(const char *data, size_t size, size_t lineLength, std::string *out) {
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(data);
  size_t column = 0;
  auto put = [&](char c) {
    if (lineLength > 0 && column == lineLength) {
      out->push_back('\n');
      column = 0;
    }
    out->push_back(c);
    ++column;
  };
  out->reserve(out->size() + (size + 2) / 3 * 4 + (lineLength > 0 ? size / lineLength : 0));
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put(kAlphabet[v & 63]);
  }
  if (i < size) {
    uint32_t v = uint32_t{bytes[i]} << 16;
    if (i + 1 < size) v |= uint32_t{bytes[i + 1]} << 8;
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(i + 1 < size ? kAlphabet[(v >> 6) & 63] : '=');
    put('=');
  }
}

bool DecodeBase64(const std::string &text, std::string *out) {
  out->clear();
  uint32_t group = 0;
  int filled = 0;    // characters in the current group
  int padding = 0;   // "=" seen
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    int value = 0;
    if (c == '=') {
      if (filled < 2) return false;
      ++padding;
    } else {
      value = ValueOf(c);
      if (value < 0 || padding > 0) return false;
    }
    group = (group << 6) | static_cast<uint32_t>(value);
    if (++filled < 4) continue;
    out->push_back(static_cast<char>((group >> 16) & 0xFF));
    if (padding < 2) out->push_back(static_cast<char>((group >> 8) & 0xFF));
    if (padding < 1) out->push_back(static_cast<char>(group & 0xFF));
    filled = 0;
    group = 0;
    if (padding > 0) padding = 3;  // nothing may follow a padded group
  }
  return filled == 0;
}

}  // namespace gwsim
