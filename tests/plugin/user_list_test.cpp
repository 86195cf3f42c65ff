// GetUserList on real UTF-16LE files.
#include <gtest/gtest.h>

#include <string>

#include "plugin/mv_api.h"
#include "support/host_fixture.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

// UTF-8 text to UTF-16LE bytes (BMP and supplementary planes).
std::string ToUtf16Le(const std::string &utf8) {
  std::string out;
  auto unit = [&out](uint32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    int len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
    else { cp = c & 0x07; len = 4; }
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

const std::string kBom = "\xFF\xFE";

std::string Convert(TestHost &host, const std::string &utf16, int *result = nullptr) {
  std::string in = host.root() + "/users.txt", out = host.root() + "/users.csv";
  EXPECT_TRUE(WriteFileBytes(in, utf16));
  int rc = GetUserList(in.c_str(), out.c_str());
  if (result) *result = rc;
  return ReadFileBytes(out);
}

TEST(GetUserList, ConvertsPropertyLinesToAddressAddressName) {
  TestHost host;
  ASSERT_EQ(host.Init(), 0);
  const struct {
    const char *why;
    std::string utf16;
    const char *csv;
  } cases[] = {
      {"byte-order mark, CR LF, accents and a supplementary character",
       kBom + ToUtf16Le("DisplayName : Zoë Ångström\r\nAlias : zoe\r\n"
                        "PrimarySmtpAddress : zoe@example.com\r\n\r\n"
                        "DisplayName : 山田 太郎 😀\r\nPrimarySmtpAddress : taro@example.jp\r\n"),
       "zoe@example.com;zoe@example.com;Zoë Ångström\n"
       "taro@example.jp;taro@example.jp;山田 太郎 😀\n"},
      {"a name is used once and then emptied",
       ToUtf16Le("PrimarySmtpAddress : a@x\nDisplayName : Late\n"
                 "PrimarySmtpAddress : b@x\nPrimarySmtpAddress : c@x\n"),
       "a@x;a@x;\nb@x;b@x;Late\nc@x;c@x;\n"},
      {"lines without a colon are passed over",
       ToUtf16Le("DisplayName without colon\nDisplayName : N\n"
                 "PrimarySmtpAddress no colon\nPrimarySmtpAddress : n@x\n"),
       "n@x;n@x;N\n"},
      // Characters with a byte 0x0A or 0x0D: č is 0D 01, Č 0C 01, Њ 0A 04,
      // Ċ 0A 01, the zero-width joiner 0D 20, Gurmukhi ਅ 05 0A, Malayalam അ 05 0D.
      {"Czech: č and Č are no line ends",
       ToUtf16Le("DisplayName : Čeněk Kočí\r\nPrimarySmtpAddress : cenek@example.cz\r\n"),
       "cenek@example.cz;cenek@example.cz;Čeněk Kočí\n"},
      {"Serbian: Њ is no line end",
       ToUtf16Le("DisplayName : Његош Њ\nPrimarySmtpAddress : njegos@example.rs\n"),
       "njegos@example.rs;njegos@example.rs;Његош Њ\n"},
      {"Maltese: Ċ is no line end",
       ToUtf16Le("DisplayName : Ċensu Ċ\nPrimarySmtpAddress : censu@example.mt\n"),
       "censu@example.mt;censu@example.mt;Ċensu Ċ\n"},
      {"a zero-width joiner inside a name",
       ToUtf16Le("DisplayName : Dev 👩\u200d💻\nPrimarySmtpAddress : dev@example.org\n"),
       "dev@example.org;dev@example.org;Dev 👩\u200d💻\n"},
      {"high bytes 0x0A and 0x0D: Gurmukhi and Malayalam",
       ToUtf16Le("DisplayName : ਅਮਰ അനു\r\nPrimarySmtpAddress : amar@example.in\r\n"),
       "amar@example.in;amar@example.in;ਅਮਰ അനു\n"},
      {"an odd last byte is no character",
       ToUtf16Le("DisplayName : Ann\nPrimarySmtpAddress : ann@x\n") + "A",
       "ann@x;ann@x;Ann\n"},
      {"a last line without a line end still counts",
       ToUtf16Le("DisplayName : Bo\nPrimarySmtpAddress : bo@x"), "bo@x;bo@x;Bo\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    int rc = 0;
    EXPECT_EQ(c.csv, Convert(host, c.utf16, &rc));
    EXPECT_EQ(1, rc);
  }
}

TEST(GetUserList, OverlongLineIsSplitOnACharacterBoundaryAndStaysValidUtf8) {
  TestHost host;
  ASSERT_EQ(host.Init(), 0);
  // 600 two-byte-in-UTF-8 characters: 1200 bytes of UTF-16, over the 1001-byte line.
  std::string name;
  for (int i = 0; i < 600; ++i) name += "é";
  std::string csv = Convert(host, kBom + ToUtf16Le("DisplayName : " + name + "\nPrimarySmtpAddress : long@x\n"));
  ASSERT_EQ(csv.rfind("long@x;long@x;", 0), 0u) << csv.substr(0, 80);
  std::string kept = csv.substr(14, csv.size() - 15);
  // Only whole "é" characters, never half of one.
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.size() % 2, 0u);
  for (size_t i = 0; i < kept.size(); i += 2) {
    ASSERT_EQ(static_cast<unsigned char>(kept[i]), 0xC3) << "at " << i;
    ASSERT_EQ(static_cast<unsigned char>(kept[i + 1]), 0xA9) << "at " << i;
  }
  // The output of one line is at most 512 bytes of UTF-8.
  EXPECT_LE(kept.size(), 512u);
}

TEST(GetUserList, UnreadableInputOrUncreatableOutputReturnsZero) {
  TestHost host;
  ASSERT_EQ(host.Init(), 0);
  std::string missing = host.root() + "/missing.txt";
  std::string out = host.root() + "/out.csv";
  EXPECT_EQ(GetUserList(missing.c_str(), out.c_str()), 0);
  std::string in = host.root() + "/in.txt";
  ASSERT_TRUE(WriteFileBytes(in, ToUtf16Le("DisplayName : X\n")));
  std::string badOut = host.root() + "/no/such/dir/out.csv";
  EXPECT_EQ(GetUserList(in.c_str(), badOut.c_str()), 0);
}

}  // namespace
