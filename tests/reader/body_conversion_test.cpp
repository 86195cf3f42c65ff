// Body converters: RTF bodies to the small HTML file, HTML bodies to plain
// text (breaks, entities, style text, the Latin-1 rewrite).
#include <string>

#include "reader/body_conversion.h"
#include "folders/plugin_test_support.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

const char kHead[] =
    "<html>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
    "<head>\n</head>\n<body>\n";
const char kTail[] = "</body>\n</html>\n";

std::string Repeat(const std::string &text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

class BodyConversionTest : public plugin_test::PluginTest {
 protected:
  // The HTML body RtfToHtml makes of rtf (the text between head and tail),
  // or the whole output when it does not have them.
  std::string RtfBody(const std::string &rtf, int *result) {
    std::string in = WorkFile("body.rtf"), out = WorkFile("body.html");
    EXPECT_TRUE(WriteFileBytes(in, rtf));
    *result = RtfToHtml(in.c_str(), out.c_str());
    std::string html = ReadFileBytes(out);
    const std::string head = kHead, tail = kTail;
    if (html.compare(0, head.size(), head) != 0 || html.size() < head.size() + tail.size() ||
        html.compare(html.size() - tail.size(), tail.size(), tail) != 0)
      return "(no head and tail) " + html;
    return html.substr(head.size(), html.size() - head.size() - tail.size());
  }

  // The text HtmlToText makes of html.
  std::string Text(const std::string &html, int *result) {
    std::string path = WorkFile("body.htm");
    EXPECT_TRUE(WriteFileBytes(path, html));
    *result = HtmlToText(path.c_str());
    return ReadFileBytes(path);
  }
};

TEST_F(BodyConversionTest, RtfKeepsOuterTextAndParagraphs) {
  const struct {
    const char *why;
    std::string rtf, body;
  } cases[] = {
      {"the font table's text is not copied", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Hello\\par}",
       "Hello<br>\n"},
      {"par in any case breaks the line, pard does not", "{\\rtf1 \\PAR \\pard X\\Par}",
       "<br>\nX<br>\n"},
      {"escaped backslash and braces inside copied text",
       "{\\rtf1 a\\\\b\\{c\\}d\\par}", "a\\b{c}d<br>\n"},
      {"nested group text and the text after its closing brace are dropped",
       "{\\rtf1\\ansi\\f0 Start\\b{\\i mid}tail\\b0 end\\par}", "Startend<br>\n"},
      {"a hex escape is a character of the text around it, Windows-1252 without ansicpg",
       "{\\rtf1 caf\\'e9s ok\\par}", "caf\xC3\xA9s ok<br>\n"},
      {"an escaped tab stays, other control characters go", "{\\rtf1 a\\'09b\\'01c\\par}",
       "a\tbc<br>\n"},
      {"German in the default code page: umlauts, sharp s and the euro sign",
       "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Gr\\'fc\\'dfe aus K\\'f6ln \\'80 5\\par}",
       "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln \xE2\x82\xAC 5<br>\n"},
      {"Czech through ansicpg1250: the same bytes are other letters than in 1252",
       "{\\rtf1\\ansi\\ansicpg1250 P\\'f8\\'edli\\'9a \\'9elu\\'9dou\\'e8k\\'fd k\\'f9\\'f2\\par}",
       "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88<br>\n"},
      {"Russian through ansicpg1251, hex digits in either case, escapes right after a control word",
       "{\\rtf1\\ansi\\ansicpg1251\\pard\\'cf\\'d0\\'c8\\'c2\\'c5\\'D2 \\'ec\\'e8\\'f0\\par}",
       "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2 \xD0\xBC\xD0\xB8\xD1\x80<br>\n"},
      {"a \\u run: one fallback character each is passed over, also when it is a hex escape",
       "{\\rtf1\\ansi \\u1055?\\u1088?\\u1080\\'3f\\u1074 ?\\u1077?\\u1090? world\\par}",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 world<br>\n"},
      {"uc0 has no fallback, uc2 two; a negative value counts from 65536",
       "{\\rtf1 \\uc0\\u252 ber \\uc2\\u-3913 xyz\\par}",
       "\xC3\xBC" "ber \xEF\x82\xB7z<br>\n"},
      {"a surrogate pair becomes one character; a lone half becomes U+FFFD",
       "{\\rtf1 \\u-10179?\\u-8704?!\\u-10179?x\\par}",
       "\xF0\x9F\x98\x80!\xEF\xBF\xBDx<br>\n"},
      {"a code page without a table gives U+FFFD for bytes past 0x7F, ASCII stays",
       "{\\rtf1\\ansicpg1253 \\'e1\\'41\\par}", "\xEF\xBF\xBD" "A<br>\n"},
      {"escapes in a nested group stay dropped as its text; ul and uc words are no characters",
       "{\\rtf1 a\\b{\\i \\'e9\\u252?}b\\ul c\\ulnone d\\par}", "acd<br>\n"},
      {"a control character from an escape is no text; a cut escape is dropped",
       "{\\rtf1 a\\'0d\\'0ab\\'4 c\\'", "ab c"},
      {"a control word is cut after 251 bytes and the rest copied as text",
       "{\\" + Repeat("x", 300) + " tail}", Repeat("x", 49) + " tail"},
      {"a backslash at the very end", "{\\rtf1 end\\", "end"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    int result = -1;
    EXPECT_EQ(c.body, RtfBody(c.rtf, &result));
    EXPECT_EQ(kRtfOk, result);
  }
}

TEST_F(BodyConversionTest, RtfFailuresAreReportedByResult) {
  const char *const notRtf[] = {"plain text", ""};
  for (const char *text : notRtf) {
    SCOPED_TRACE(text);
    int result = -1;
    EXPECT_EQ("(no head and tail) " + std::string(kHead), RtfBody(text, &result))
        << "the output holds the head only";
    EXPECT_EQ(kRtfNotRtf, result);
  }

  std::string out = WorkFile("never.html");
  EXPECT_EQ(kRtfNoInput, RtfToHtml(WorkFile("missing.rtf").c_str(), out.c_str()));
  std::string in = WorkFile("body.rtf");
  ASSERT_TRUE(WriteFileBytes(in, "{\\rtf1 x}"));
  EXPECT_EQ(kRtfNoOutput, RtfToHtml(in.c_str(), WorkFile("no/such/dir.html").c_str()));
}

TEST_F(BodyConversionTest, HtmlBecomesTextWithBreaksEntitiesAndUtf8) {
  const std::string words = Repeat("word ", 60);  // 300 characters
  const std::string line25 = Repeat("word ", 24) + "word";
  const std::string latin1Head = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">";
  const std::string e = "\xE9", eUtf8 = "\xC3\xA9";
  const struct {
    const char *why;
    std::string html, text;
  } cases[] = {
      {"a 300-character line breaks at the first blank past every 120 columns", words,
       line25 + "\r\n" + line25 + "\r\n" + Repeat("word ", 10)},
      {"paragraph ends, breaks and division ends break lines, in any case",
       "<p>a</p>b<BR>c</DIV>d", "a\r\nb\r\nc\r\nd"},
      {"a self-closing break is not a break", "a<br/>b<br />c", "abc"},
      {"the column restarts after a break tag",
       Repeat("x", 119) + "<br>" + Repeat("y", 119) + " z", Repeat("x", 119) + "\r\n" +
                                                             Repeat("y", 119) + " z"},
      {"line ends in the source are dropped", "one\r\ntwo\nthree", "onetwothree"},
      {"known entities in any case", "&AMP;&lt;b&GT;&nbsp;&quot;&apos;", "&<b> \"'"},
      {"a numeric reference leaves its semicolon", "it&#8217;s", "it;s"},
      {"a lone ampersand before a tag writes the < and lets the tag through",
       "a & b <i>c</i>d", "a <i>cd"},
      {"an ampersand at the end of the input writes nothing more", "a&b", "a"},
      {"text inside style is dropped, inside script kept",
       "<STYLE type=\"text/css\">p { x }</style>Hi<script>var a;</script>", "Hivar a;"},
      {"a tag that never closes swallows the rest", "a<b c d", "a"},
      {"charset iso-8859-1 in the head converts", latin1Head + "caf" + e + "<br>",
       "caf" + eUtf8 + "\r\n"},
      {"another charset is left alone", "<meta charset=windows-1252>caf" + e, "caf" + e},
      {"a declaration after the first 2000 bytes does not count",
       Repeat("a", 2000) + latin1Head + e, Repeat("a", 2000) + e},
      {"a long line doubles without losing text",
       latin1Head + Repeat("a" + e, 20000), Repeat("a" + eUtf8, 20000)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    int result = -1;
    EXPECT_EQ(c.text, Text(c.html, &result));
    EXPECT_EQ(1, result);
    EXPECT_FALSE(FileExists(WorkFile("tasktxt.tmp")));
  }
}

TEST_F(BodyConversionTest, HtmlFailuresLeaveTheFileAlone) {
  std::string path = WorkFile("body.htm");
  ASSERT_TRUE(WriteFileBytes(path, "<p>kept</p>"));
  CopyText(gSession.workDir, sizeof gSession.workDir, (host_.root() + "/no/such/dir/").c_str());
  EXPECT_EQ(0, HtmlToText(path.c_str())) << "the scratch file cannot be created";
  EXPECT_EQ("<p>kept</p>", ReadFileBytes(path));
}

}  // namespace
