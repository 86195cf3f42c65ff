// The text layer of vCard lines: folds that never split a character, and
// decoders that keep what they do not understand instead of dropping it
// (escaping is checked by the golden cards and the export-import round trip).
#include <gtest/gtest.h>

#include "host/vcard/vcard_text.h"

namespace {

struct FoldCase {
  std::string line;
  std::string folded;
  const char *why;
};

TEST(VcardTextTest, LinesFoldAt75OctetsBetweenCharacters) {
  const std::string a73(73, 'a'), a74(74, 'a'), a75(75, 'a');
  const FoldCase cases[] = {
      {a75, a75 + "\r\n", "75 octets fit on one line"},
      {a75 + "b", a75 + "\r\n b\r\n", "the 76th octet goes to a continuation line"},
      {a74 + "é", a74 + "\r\n é\r\n", "a two-octet character at octets 75-76 moves down whole"},
      {a73 + "€x", a73 + "\r\n €x\r\n", "a three-octet character at 74-76 moves down whole"},
      {a75 + std::string(74, 'c') + "d", a75 + "\r\n " + std::string(74, 'c') + "\r\n d\r\n",
       "continuation lines hold 74 octets after their blank"},
  };
  for (const FoldCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(vcard::FoldLine(c.line), c.folded);
  }
}

struct DecodeCase {
  std::string encoded, decoded;
  int malformed;
  const char *why;
};

TEST(VcardTextTest, QuotedPrintableKeepsWhatItCannotRead) {
  const DecodeCase cases[] = {
      {"J=C3=BCrgen", "J\xC3\xBCrgen", 0, "bytes of a UTF-8 character"},
      {"M=C3=BC=\r\nnchen", "M\xC3\xBCnchen", 0, "a soft break inside a character"},
      {"a=\nb=  \nc", "abc", 0, "soft breaks with LF and with trailing blanks"},
      {"=ZZ and =4", "=ZZ and =4", 2, "not hex: kept and counted"},
      {"line=0D=0Anext", "line\r\nnext", 0, "an encoded line end"},
  };
  for (const DecodeCase &c : cases) {
    SCOPED_TRACE(c.why);
    int malformed = 0;
    EXPECT_EQ(vcard::DecodeQuotedPrintable(c.encoded, &malformed), c.decoded);
    EXPECT_EQ(malformed, c.malformed);
  }
}

TEST(VcardTextTest, RecordTextBecomesUtf8) {
  bool converted = false;
  EXPECT_EQ(vcard::ToUtf8("Z\xC3\xB6\xC3", &converted), "Z\xC3\xB6") << "a sequence cut at the end is dropped";
  EXPECT_FALSE(converted);
  EXPECT_EQ(vcard::ToUtf8("M\xFCller \x80 \x81", &converted), "M\xC3\xBCller \xE2\x82\xAC \xC2\x81")
      << "Windows-1252, its gaps as Latin-1";
  EXPECT_TRUE(converted);
  char field[8];
  EXPECT_FALSE(vcard::CopyField(field, sizeof field, "abcdef\xC3\xB6"));
  EXPECT_STREQ(field, "abcdef") << "a cut falls before a character, not inside it";
  std::string out;
  EXPECT_TRUE(vcard::ConvertCharset("M\xFC", "ISO-8859-1", &out));
  EXPECT_EQ(out, "M\xC3\xBC");
  EXPECT_FALSE(vcard::ConvertCharset("x", "NO-SUCH-CHARSET", &out));
  EXPECT_FALSE(vcard::DecodeBase64("not base64!", &out));
}

}  // namespace
