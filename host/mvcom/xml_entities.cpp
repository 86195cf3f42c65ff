// XML escaping and unescaping of element texts, in place: the five
// predefined entities out, and those plus numeric character references in.
#include <cstring>
#include <vector>

#include "host/mvcom/mvcom_state.h"

static const char *EntityFor(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&apos;";
    default: return nullptr;
  }
}

static int IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// After a cut at text[at]: when text[at] continues a UTF-8 character whose
// first bytes are already in out, takes those bytes back out.
static void DropSplitCharacter(std::vector<char> &out, const char *text, size_t at) {
  if (!IsContinuation(static_cast<unsigned char>(text[at]))) return;
  size_t keep = out.size();
  while (keep > 0 && IsContinuation(static_cast<unsigned char>(out[keep - 1]))) --keep;
  if (keep > 0 && static_cast<unsigned char>(out[keep - 1]) >= 0xC0) out.resize(keep - 1);
}

int com_Escape(char *text, int mode, size_t capacity) {
  (void)mode;
  if (text == nullptr || capacity == 0) return text != nullptr;
  size_t len = strnlen(text, capacity - 1);
  std::vector<char> out;
  out.reserve(capacity);
  int cut = 0;
  for (size_t i = 0; i < len; ++i) {
    const char *entity = EntityFor(text[i]);
    size_t need = entity != nullptr ? strlen(entity) : 1;
    if (out.size() + need > capacity - 1) {
      DropSplitCharacter(out, text, i);
      cut = 1;
      break;
    }
    if (entity != nullptr)
      out.insert(out.end(), entity, entity + need);
    else
      out.push_back(text[i]);
  }
  if (!cut && text[len] != '\0') {  // the text was already longer than its buffer
    DropSplitCharacter(out, text, len);
    cut = 1;
  }
  memcpy(text, out.data(), out.size());
  text[out.size()] = '\0';
  return cut;
}

static size_t EncodeUtf8(unsigned long cp, char *out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

static int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads "&#123;" or "&#x1F600;" at ref. Returns the length of the reference
// and the code point in *cp, or 0 when it is not a valid reference to a
// character (no digits, no ";", 0, a surrogate, above U+10FFFF).
static size_t ReadCharacterReference(const char *ref, unsigned long *cp) {
  size_t i = 2;
  int base = 10;
  if (ref[i] == 'x' || ref[i] == 'X') {
    base = 16;
    ++i;
  }
  size_t firstDigit = i;
  unsigned long value = 0;
  for (int digit; (digit = DigitValue(ref[i], base)) >= 0; ++i) {
    value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
    if (value > 0x10FFFF) return 0;
  }
  if (i == firstDigit || ref[i] != ';') return 0;
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return i + 1;
}

char *com_Unescape(char *text) {
  static const struct {
    const char *name;
    char c;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  if (text == nullptr) return text;
  // Every reference is at least as long as what it stands for, so the
  // decoded text is written over the text being read.
  size_t w = 0;
  for (size_t r = 0; text[r] != '\0';) {
    size_t used = 0;
    if (text[r] == '&' && text[r + 1] == '#') {
      unsigned long cp = 0;
      used = ReadCharacterReference(text + r, &cp);
      if (used > 0) w += EncodeUtf8(cp, text + w);
    } else if (text[r] == '&') {
      for (const auto &entity : kEntities) {
        size_t n = strlen(entity.name);
        if (strncmp(text + r, entity.name, n) == 0) {
          text[w++] = entity.c;
          used = n;
          break;
        }
      }
    }
    if (used == 0) text[w++] = text[r++];
    else r += used;
  }
  text[w] = '\0';
  return text;
}
