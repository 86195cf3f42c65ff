// XML escaping and unescaping: round trips, numeric references to UTF-8,
// malformed references left alone, and cuts at the buffer's capacity.
#include "mvcom/mvcom_fixture.h"

namespace {

std::string Escape(const std::string &text, size_t capacity, int *cut = nullptr) {
  return InBuffer(text, capacity, [](char *buf, size_t cap) { return com_Escape(buf, 1, cap); }, cut);
}
std::string Unescape(std::string text) { return com_Unescape(&text[0]); }

TEST(XmlEntities, UnescapeUndoesEscapeWritesUtf8AndLeavesMalformedReferences) {
  const std::string plain = "a&b<c>d\"e'f &amp; &#65;";
  int cut = -1;
  std::string escaped = Escape(plain, 256, &cut);
  EXPECT_EQ(cut, 0);
  EXPECT_EQ(escaped, "a&amp;b&lt;c&gt;d&quot;e&apos;f &amp;amp; &amp;#65;");
  EXPECT_EQ(Unescape(escaped), plain);
  const char *cases[][2] = {
      {"&#65;&#x42;&#X43;", "ABC"},
      {"&#233;&#x20AC;", "\xC3\xA9\xE2\x82\xAC"},
      {"&#x1F600;&#128512;", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},  // 4 bytes, hex and decimal
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
      {"&#x0000041;", "A"},
      {"&#0;&lt;&#65", "&#0;<&#65"},
  };
  for (const auto &c : cases) EXPECT_EQ(Unescape(c[0]), c[1]) << c[0];
  const char *malformed[] = {
      "&#0;", "&#xD800;", "&#xDFFF;",  // no characters
      "&#x110000;",                    // above U+10FFFF
      "&#99999999999999999999999;",    // would overflow a naive accumulator
      "&#65", "&#;", "&#x;", "&#12a;", "&bogus;", "&amp", "&#",
  };
  for (const char *c : malformed) EXPECT_EQ(Unescape(c), c) << c;
}

TEST(XmlEntities, EscapeCutKeepsEntitiesAndUtf8CharactersWhole) {
  const std::string plain = "R&D <x> \"q\" 'a'";
  const std::string full = Escape(plain, 256);
  for (size_t cap = 1; cap <= full.size() + 1; ++cap) {
    int cut = -1;
    std::string out = Escape(plain, cap, &cut);
    ASSERT_EQ(full.compare(0, out.size(), out), 0) << "cap " << cap;
    // Cut between entities: it unescapes to a prefix that escapes back the same.
    ASSERT_EQ(Escape(Unescape(out), 256), out) << "broken entity at cap " << cap;
    EXPECT_EQ(cut, cap <= full.size() ? 1 : 0) << "cap " << cap;
  }
  EXPECT_EQ(Escape("a\xC3\xA9", 3), "a");  // text longer than its buffer
  EXPECT_EQ(Escape("a\xF0\x9F\x98\x80", 5), "a");
  EXPECT_EQ(Escape("a\xF0\x9F\x98\x80", 6), "a\xF0\x9F\x98\x80");  // just fits
  EXPECT_EQ(Escape("&\xC3\xA9", 7), "&amp;");                       // the entity fills the room first
}

}  // namespace
