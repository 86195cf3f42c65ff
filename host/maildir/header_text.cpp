// Unfolding and RFC 2047 decoding of header texts, one encoded word at a time.
#include "host/maildir/header_text.h"

#include <gmime/gmime.h>

#include <cstring>
#include <memory>

#include "platform/bounded_text.h"

namespace maildir {
namespace {

struct GFreeDeleter {
  void operator()(void *p) const { g_free(p); }
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Windows-1252 bytes as UTF-8; bytes the code page leaves undefined become U+FFFD.
std::string FromWindows1252(const std::string &bytes) {
  std::unique_ptr<char, GFreeDeleter> converted(
      g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", "WINDOWS-1252", nullptr, nullptr, nullptr));
  if (converted) return converted.get();
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      char utf8[8];
      int n = g_unichar_to_utf8(c >= 0x80 && c < 0xA0 ? 0xFFFD : c, utf8);
      out.append(utf8, static_cast<size_t>(n));
    }
  }
  return out;
}

// Raw header bytes in UTF-8: kept when they are UTF-8, else read as Windows-1252.
std::string PlainToUtf8(const std::string &bytes) {
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
  return FromWindows1252(bytes);
}

// The bytes of encoded words in charset, as UTF-8. g_convert, unlike
// iconv through GMime, fails on a byte the charset does not have instead of
// dropping it; such text and text in an unknown charset go as plain bytes.
std::string CharsetToUtf8(const std::string &bytes, const std::string &charset) {
  // GMime's charset table is made by g_mime_init; without it each name
  // looked up is allocated anew and never freed.
  static const bool gmimeReady = (g_mime_init(), true);
  (void)gmimeReady;
  const char *name = g_mime_charset_iconv_name(charset.c_str());
  std::unique_ptr<char, GFreeDeleter> converted(g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                                                          name != nullptr ? name : charset.c_str(), nullptr,
                                                          nullptr, nullptr));
  if (!converted || !g_utf8_validate(converted.get(), -1, nullptr)) return PlainToUtf8(bytes);
  return converted.get();
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Base64 as mail readers take it: padding optional, a padding "=" ends a
// quantum (its leftover bits are dropped) but not the text.
std::string DecodeBase64(const std::string &text) {
  std::string out;
  unsigned int bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') {
      count = 0;
      bits = 0;
      continue;
    }
    int v = Base64Value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned int>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQ(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out += ' ';
    } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct EncodedWord {
  size_t end = 0;       // index just past "?="
  std::string charset;  // without an RFC 2231 language suffix
  std::string bytes;    // the decoded bytes, in charset
};

// Reads the encoded word "=?charset?B|Q?text?=" starting at text[at].
bool EncodedWordAt(const std::string &text, size_t at, EncodedWord *word) {
  if (text.compare(at, 2, "=?") != 0) return false;
  size_t q1 = text.find('?', at + 2);
  if (q1 == std::string::npos || q1 == at + 2 || q1 + 2 >= text.size() || text[q1 + 2] != '?') return false;
  const char encoding = text[q1 + 1];
  if (encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q') return false;
  size_t close = text.find("?=", q1 + 3);
  if (close == std::string::npos) return false;
  for (size_t i = at + 2; i < close; ++i)
    if (IsSpace(text[i])) return false;
  std::string charset = text.substr(at + 2, q1 - at - 2);
  size_t star = charset.find('*');
  if (star != std::string::npos) charset.resize(star);
  const std::string payload = text.substr(q1 + 3, close - q1 - 3);
  word->charset = charset;
  word->bytes = encoding == 'B' || encoding == 'b' ? DecodeBase64(payload) : DecodeQ(payload);
  word->end = close + 2;
  return true;
}

// Builds decoded text: plain runs, encoded words and the white space
// between them, converting adjacent words of one charset together.
struct TextDecoder {
  std::string out, plain, wordBytes, wordCharset, space;
  bool afterWord = false;

  void FlushWords() {
    if (!wordBytes.empty()) out += CharsetToUtf8(wordBytes, wordCharset);
    wordBytes.clear();
    wordCharset.clear();
  }
  void FlushPlain() {
    if (!plain.empty()) out += PlainToUtf8(plain);
    plain.clear();
  }
  void Word(const EncodedWord &word) {
    FlushPlain();
    space.clear();  // white space between adjacent encoded words is dropped
    if (!EqualsNoCase(word.charset.c_str(), wordCharset.c_str())) FlushWords();
    wordCharset = word.charset;
    wordBytes += word.bytes;
    afterWord = true;
  }
  void Char(char c) {
    if (afterWord && (c == ' ' || c == '\t')) {
      space += c;
      return;
    }
    if (afterWord) {
      FlushWords();
      plain += space;
      space.clear();
      afterWord = false;
    }
    plain += c;
  }
  std::string Finish() {
    FlushWords();
    plain += space;
    FlushPlain();
    return out;
  }
};

// The content of the quoted string opening at text[at]; *end is past its closing quote.
std::string ReadQuoted(const std::string &text, size_t at, size_t *end) {
  std::string content;
  size_t i = at + 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    content += text[i];
  }
  *end = i < text.size() ? i + 1 : i;
  return content;
}

std::string Quote(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Index past the comment or angle-bracketed address opening at text[at].
size_t SkipBracketed(const std::string &text, size_t at) {
  const char open = text[at], close = open == '(' ? ')' : '>';
  int depth = 0;
  for (size_t i = at; i < text.size(); ++i) {
    if (text[i] == '\\' && open == '(') {
      ++i;
    } else if (text[i] == open) {
      ++depth;
    } else if (text[i] == close && --depth == 0) {
      return i + 1;
    }
  }
  return text.size();
}

}  // namespace

std::string UnfoldHeader(const std::string &raw) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw)
    if (c != '\r' && c != '\n') out += c;
  return Trim(out);
}

std::string OneLine(const std::string &text) {
  std::string out = text;
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

std::string DecodeHeaderText(const std::string &text) {
  TextDecoder decoder;
  for (size_t i = 0; i < text.size();) {
    EncodedWord word;
    if (EncodedWordAt(text, i, &word)) {
      decoder.Word(word);
      i = word.end;
    } else {
      decoder.Char(text[i++]);
    }
  }
  return decoder.Finish();
}

std::string DecodeAddressWords(const std::string &list) {
  std::string out;
  for (size_t i = 0; i < list.size();) {
    const char c = list[i];
    if (c == '"') {
      size_t end = 0;
      const std::string content = ReadQuoted(list, i, &end);
      out += content.find("=?") != std::string::npos ? Quote(DecodeHeaderText(content)) : list.substr(i, end - i);
      i = end;
    } else if (c == '(' || c == '<') {
      size_t end = SkipBracketed(list, i);
      out += list.substr(i, end - i);
      i = end;
    } else if (EncodedWord word; EncodedWordAt(list, i, &word)) {
      // The run of adjacent words, with the white space between them.
      size_t end = word.end, next = end;
      while (true) {
        while (next < list.size() && (list[next] == ' ' || list[next] == '\t')) ++next;
        if (!EncodedWordAt(list, next, &word)) break;
        end = next = word.end;
      }
      out += Quote(DecodeHeaderText(list.substr(i, end - i)));
      i = end;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string EmptyAddressName(const std::string &list) {
  std::string name;
  size_t i = 0;
  for (; i < list.size() && list[i] != '<' && list[i] != ',' && list[i] != ':'; ++i) {
    if (list[i] == '"') {
      size_t end = 0;
      name += ReadQuoted(list, i, &end);
      i = end - 1;
    } else {
      name += list[i];
    }
  }
  if (i >= list.size() || list[i] != '<') return "";
  size_t close = list.find_first_not_of(" \t", i + 1);
  if (close == std::string::npos || list[close] != '>') return "";
  return Trim(OneLine(DecodeHeaderText(Trim(name))));
}

bool PlainParameter(const std::string &value, const char *name, std::string *out) {
  size_t i = 0;
  // Past the type or disposition itself.
  while (i < value.size() && value[i] != ';') {
    if (value[i] == '"') {
      ReadQuoted(value, i, &i);
    } else {
      ++i;
    }
  }
  while (i < value.size()) {
    while (i < value.size() && (value[i] == ';' || IsSpace(value[i]))) ++i;
    size_t equals = i;
    while (equals < value.size() && value[equals] != '=' && value[equals] != ';') ++equals;
    const std::string attribute = Trim(value.substr(i, equals - i));
    if (equals >= value.size() || value[equals] == ';') {
      i = equals;
      continue;
    }
    size_t v = equals + 1;
    while (v < value.size() && IsSpace(value[v])) ++v;
    std::string text;
    if (v < value.size() && value[v] == '"') {
      text = ReadQuoted(value, v, &i);
      while (i < value.size() && value[i] != ';') ++i;
    } else {
      i = value.find(';', v);
      if (i == std::string::npos) i = value.size();
      text = Trim(value.substr(v, i - v));
    }
    if (EqualsNoCase(attribute.c_str(), name)) {
      *out = text;
      return true;
    }
  }
  return false;
}

bool HasExtendedParameter(const std::string &value, const char *name) {
  const std::string extended = std::string(name) + "*";
  for (size_t at = value.find(';'); at != std::string::npos; at = value.find(';', at + 1)) {
    size_t b = value.find_first_not_of(" \t", at + 1);
    if (b != std::string::npos && StartsWithNoCase(value.c_str() + b, extended.c_str())) return true;
  }
  return false;
}

}  // namespace maildir
