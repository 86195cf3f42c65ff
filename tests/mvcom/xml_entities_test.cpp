// XML escaping and unescaping: round trips, numeric references to UTF-8,
// malformed references left alone, and cuts at the buffer's capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/mvcom.h"

namespace {

// Escapes in a buffer of `capacity` bytes followed by guard bytes that must
// stay untouched.
std::string Escape(const std::string &text, size_t capacity, int *cut = nullptr) {
  std::vector<char> buf(std::max(capacity, text.size() + 1) + 8, 'Z');
  memcpy(buf.data(), text.c_str(), text.size() + 1);
  const std::vector<char> before = buf;
  int result = com_Escape(buf.data(), 1, capacity);
  if (cut != nullptr) *cut = result;
  for (size_t i = capacity; i < buf.size(); ++i) EXPECT_EQ(buf[i], before[i]) << "overrun at " << i;
  return buf.data();
}

std::string Unescape(std::string text) { return com_Unescape(&text[0]); }

TEST(XmlEntities, RoundTripDecodesEachEntityOnce) {
  const std::string plain = "a&b<c>d\"e'f &amp; &#65;";
  int cut = -1;
  std::string escaped = Escape(plain, 256, &cut);
  EXPECT_EQ(cut, 0);
  EXPECT_EQ(escaped, "a&amp;b&lt;c&gt;d&quot;e&apos;f &amp;amp; &amp;#65;");
  EXPECT_EQ(Unescape(escaped), plain);
}

TEST(XmlEntities, NumericReferencesBecomeUtf8) {
  const char *cases[][2] = {
      {"&#65;&#x42;&#X43;", "ABC"},
      {"&#233;", "\xC3\xA9"},
      {"&#x20AC;", "\xE2\x82\xAC"},
      {"&#x1F600;&#128512;", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},  // 4 bytes, hex and decimal
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
      {"&#x0000041;", "A"},
  };
  for (const auto &c : cases) EXPECT_EQ(Unescape(c[0]), c[1]) << c[0];
}

TEST(XmlEntities, MalformedReferencesStayAsTheyAre) {
  const char *cases[] = {
      "&#0;", "&#xD800;", "&#xDFFF;",  // no characters
      "&#x110000;",                    // above U+10FFFF
      "&#99999999999999999999999;",    // would overflow a naive accumulator
      "&#65", "&#;", "&#x;", "&#12a;", "&bogus;", "&amp", "&#",
  };
  for (const char *c : cases) EXPECT_EQ(Unescape(c), c) << c;
  EXPECT_EQ(Unescape("&#0;&lt;&#65"), "&#0;<&#65");
}

TEST(XmlEntities, EscapeCutNeverLeavesPartOfAnEntity) {
  const std::string plain = "R&D <x> \"q\" 'a'";
  const std::string full = Escape(plain, 256);
  for (size_t cap = 1; cap <= full.size() + 1; ++cap) {
    int cut = -1;
    std::string out = Escape(plain, cap, &cut);
    ASSERT_LT(out.size(), cap);
    ASSERT_EQ(full.compare(0, out.size(), out), 0) << "cap " << cap;
    // Cut between entities: it unescapes to a prefix that escapes back the same.
    ASSERT_EQ(Escape(Unescape(out), 256), out) << "broken entity at cap " << cap;
    EXPECT_EQ(cut, cap <= full.size() ? 1 : 0) << "cap " << cap;
  }
}

TEST(XmlEntities, EscapeCutKeepsUtf8CharactersWhole) {
  struct Case {
    const char *in;
    size_t cap;
    const char *out;
  } cases[] = {
      {"a\xC3\xA9", 3, "a"},                              // text longer than its buffer
      {"a\xF0\x9F\x98\x80", 5, "a"},
      {"a\xF0\x9F\x98\x80", 6, "a\xF0\x9F\x98\x80"},     // just fits
      {"&\xC3\xA9", 7, "&amp;"},                          // the entity fills the room first
  };
  for (const Case &c : cases) EXPECT_EQ(Escape(c.in, c.cap), c.out) << c.in << " cap " << c.cap;
}

}  // namespace
