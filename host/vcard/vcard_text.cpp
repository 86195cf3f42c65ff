// Escaping, folding, UTF-8 clean-up and decoding of vCard text.
#include "host/vcard/vcard_text.h"

#include <glib.h>

#include <cstring>

namespace vcard {
namespace {

const size_t kMaxLineOctets = 75;  // octets of one physical line, CR LF not counted

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Windows-1252 0x80-0x9F as Unicode code points (0 where the code page has
// no character: those bytes are taken as Latin-1 control characters).
const unsigned kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

void AppendCodePoint(std::string *out, unsigned cp) {
  char buf[8];
  int n = g_unichar_to_utf8(static_cast<gunichar>(cp), buf);
  out->append(buf, static_cast<size_t>(n));
}

bool ValidUtf8(const std::string &text, size_t *validLength) {
  const gchar *end = nullptr;
  bool ok = g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &end);
  if (validLength != nullptr) *validLength = static_cast<size_t>(end - text.data());
  return ok;
}

}  // namespace

std::string EscapeText(const std::string &text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case ',': out += "\\,"; break;
      case ';': out += "\\;"; break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "\\n";
        break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> SplitEscaped(const std::string &value, char sep) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      parts.back() += value.substr(i, 2);
      ++i;
    } else if (value[i] == sep) {
      parts.emplace_back();
    } else {
      parts.back() += value[i];
    }
  }
  return parts;
}

std::string UnescapeText(const std::string &value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    char next = value[++i];
    out += next == 'n' || next == 'N' ? '\n' : next;
  }
  return out;
}

std::string QuoteParameter(const std::string &value) {
  std::string out;
  bool quote = false;
  for (char c : value) {
    switch (c) {
      case '^': out += "^^"; break;
      case '"': out += "^'"; break;
      case '\r': break;
      case '\n': out += "^n"; break;
      case ':': case ';': case ',': case ' ': case '\t':
        quote = true;
        out += c;
        break;
      default: out += c;
    }
  }
  return quote ? "\"" + out + "\"" : out;
}

std::string DecodeParameter(const std::string &value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '^' && i + 1 < value.size()) {
      char next = value[i + 1];
      if (next == '^' || next == '\'' || next == 'n') {
        out += next == '^' ? '^' : next == '\'' ? '"' : '\n';
        ++i;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

std::string FoldLine(const std::string &line) {
  std::string out;
  size_t pos = 0, room = kMaxLineOctets;
  while (line.size() - pos > room) {
    size_t cut = pos + room;
    // Step back to the start of a UTF-8 sequence so that none is split.
    while (cut > pos && IsContinuation(static_cast<unsigned char>(line[cut]))) --cut;
    if (cut == pos) cut = pos + room;  // not UTF-8 at all: cut by octets
    out.append(line, pos, cut - pos);
    out += "\r\n ";
    pos = cut;
    room = kMaxLineOctets - 1;  // the blank that starts a continuation counts
  }
  out.append(line, pos, std::string::npos);
  out += "\r\n";
  return out;
}

std::string ToUtf8(const std::string &text, bool *converted) {
  if (converted != nullptr) *converted = false;
  size_t valid = 0;
  if (ValidUtf8(text, &valid)) return text;
  // Only a sequence cut at the very end: drop it.
  if (text.size() - valid < 4 && (static_cast<unsigned char>(text[valid]) & 0xC0) == 0xC0) {
    bool onlyContinuations = true;
    for (size_t i = valid + 1; i < text.size(); ++i)
      if (!IsContinuation(static_cast<unsigned char>(text[i]))) onlyContinuations = false;
    if (onlyContinuations) return text.substr(0, valid);
  }
  if (converted != nullptr) *converted = true;
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0 && kCp1252High[c - 0x80] != 0) {
      AppendCodePoint(&out, kCp1252High[c - 0x80]);
    } else {
      AppendCodePoint(&out, c);
    }
  }
  return out;
}

bool CopyField(char *field, size_t cap, const std::string &text) {
  if (cap == 0) return text.empty();
  size_t n = text.size() < cap - 1 ? text.size() : cap - 1;
  if (n < text.size()) {
    while (n > 0 && IsContinuation(static_cast<unsigned char>(text[n]))) --n;
  }
  memcpy(field, text.data(), n);
  field[n] = '\0';
  return n == text.size();
}

std::string DecodeQuotedPrintable(const std::string &value, int *malformed) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '=') {
      out += value[i];
      continue;
    }
    // A soft line break: "=" then the line end (blanks before it tolerated).
    size_t j = i + 1;
    while (j < value.size() && (value[j] == ' ' || value[j] == '\t')) ++j;
    if (j < value.size() && (value[j] == '\r' || value[j] == '\n')) {
      if (value[j] == '\r' && j + 1 < value.size() && value[j + 1] == '\n') ++j;
      i = j;
      continue;
    }
    if (j == value.size()) {
      i = j;  // "=" at the very end is a soft break with nothing after it
      continue;
    }
    int hi = i + 1 < value.size() ? HexValue(value[i + 1]) : -1;
    int lo = i + 2 < value.size() ? HexValue(value[i + 2]) : -1;
    if (hi < 0 || lo < 0) {
      if (malformed != nullptr) ++*malformed;
      out += '=';
      continue;
    }
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

bool DecodeBase64(const std::string &value, std::string *out) {
  std::string clean;
  for (char c : value) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
              c == '/' || c == '=';
    if (!ok) return false;
    clean += c;
  }
  if (clean.size() % 4 != 0) return false;
  gsize length = 0;
  guchar *bytes = g_base64_decode(clean.c_str(), &length);
  out->assign(reinterpret_cast<const char *>(bytes), length);
  g_free(bytes);
  return true;
}

bool ConvertCharset(const std::string &bytes, const std::string &charset, std::string *out) {
  out->clear();
  gsize written = 0;
  GError *error = nullptr;
  gchar *converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", charset.c_str(),
                               nullptr, &written, &error);
  if (converted == nullptr) {
    if (error != nullptr) g_error_free(error);
    return false;
  }
  out->assign(converted, written);
  g_free(converted);
  return true;
}

std::string Sha256Hex(const std::string &bytes) {
  gchar *hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar *>(bytes.data()),
                                           bytes.size());
  std::string out = hex != nullptr ? hex : "";
  g_free(hex);
  return out;
}

std::string UuidFromText(const std::string &text) {
  std::string h = Sha256Hex(text).substr(0, 32);
  h[12] = '8';  // version 8: a custom (here name-based, SHA-256) UUID
  static const char kVariant[] = "89ab";
  h[16] = kVariant[HexValue(h[16]) & 3];
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" +
         h.substr(20, 12);
}

}  // namespace vcard
