// XML escaping and unescaping: round trips, numeric references to UTF-8,
// malformed references left alone, and cuts at the buffer's capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/mvcom.h"

namespace {

std::string Escape(const std::string &text, size_t capacity, int *cut = nullptr) {
  std::vector<char> buf(capacity + 8, 'Z');  // room past the capacity shows overruns
  memcpy(buf.data(), text.c_str(), std::min(text.size() + 1, buf.size()));
  buf[std::min(text.size(), capacity + 7)] = '\0';
  const std::vector<char> before = buf;
  int result = com_Escape(buf.data(), 1, capacity);
  if (cut != nullptr) *cut = result;
  for (size_t i = capacity; i < buf.size(); ++i)
    EXPECT_EQ(buf[i], before[i]) << "byte " << i << " written past capacity";
  return std::string(buf.data());
}

std::string Unescape(const std::string &text) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  return std::string(com_Unescape(buf.data()));
}

TEST(XmlEntities, AllFiveEntitiesRoundTrip) {
  const std::string plain = "a&b<c>d\"e'f & <<>>";
  int cut = -1;
  std::string escaped = Escape(plain, 256, &cut);
  EXPECT_EQ(cut, 0);
  EXPECT_EQ(escaped, "a&amp;b&lt;c&gt;d&quot;e&apos;f &amp; &lt;&lt;&gt;&gt;");
  EXPECT_EQ(Unescape(escaped), plain);
}

TEST(XmlEntities, UnescapeDecodesOnlyOnce) {
  // Text that itself reads like an entity must come back as that text.
  EXPECT_EQ(Unescape(Escape("&amp; &#65;", 256)), "&amp; &#65;");
  EXPECT_EQ(Unescape("&amp;lt;"), "&lt;");
}

TEST(XmlEntities, NumericReferencesBecomeUtf8) {
  struct Case {
    const char *in, *out;
  } cases[] = {
      {"&#65;", "A"},
      {"&#x41;&#X42;", "AB"},
      {"&#233;", "\xC3\xA9"},
      {"&#x20AC;", "\xE2\x82\xAC"},
      {"&#x1F600;", "\xF0\x9F\x98\x80"},   // 4-byte sequence, hex
      {"&#128512;", "\xF0\x9F\x98\x80"},   // the same, decimal
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},  // highest code point
      {"&#x0000041;", "A"},                // leading zeros are fine
      {"x&#65;&amp;y&#x1F600;z", "xA&y\xF0\x9F\x98\x80z"},
  };
  for (const Case &c : cases) EXPECT_EQ(Unescape(c.in), c.out) << c.in;
}

TEST(XmlEntities, MalformedReferencesStayAsTheyAre) {
  const char *cases[] = {
      "&#0;",                       // NUL is no character
      "&#xD800;",                   // lone surrogate
      "&#xDFFF;",                   // lone surrogate, top
      "&#x110000;",                 // above U+10FFFF
      "&#99999999999999999999999;", // would overflow a naive accumulator
      "&#65",                       // unterminated
      "&#;", "&#x;",                // no digits
      "&#12a;",                     // stray character
      "&bogus;", "&amp", "&", "&#", // unknown or cut short
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
    // A whole-entity cut unescapes to a prefix that escapes back to the same text.
    std::string back = Unescape(out);
    ASSERT_EQ(plain.compare(0, back.size(), back), 0) << "cap " << cap;
    ASSERT_EQ(Escape(back, 256), out) << "broken entity at cap " << cap;
    EXPECT_EQ(cut, cap <= full.size() ? 1 : 0) << "cap " << cap;
  }
}

TEST(XmlEntities, EscapeCutKeepsUtf8CharactersWhole) {
  int cut = 0;
  EXPECT_EQ(Escape("a\xC3\xA9", 3, &cut), "a");
  EXPECT_EQ(cut, 1);
  EXPECT_EQ(Escape("a\xF0\x9F\x98\x80", 5, &cut), "a");
  EXPECT_EQ(Escape("a\xF0\x9F\x98\x80", 6, &cut), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(cut, 0);
}

TEST(XmlEntities, TextLongerThanItsBufferIsCutToIt) {
  char buf[16] = "abcdefgh";
  EXPECT_EQ(com_Escape(buf, 1, 4), 1);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(com_Escape(buf, 1, 0), 1);  // no room at all: nothing written
  EXPECT_STREQ(buf, "abc");
}

}  // namespace
