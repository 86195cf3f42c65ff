// Messages as mail programs write them, turned into the record that WriteMsg
// sends: every field compared, and every part file byte for byte.
#include <gtest/gtest.h>
#include <utime.h>

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/maildir/message_import.h"
#include "plugin/host_message.h"
#include "support/host_fixture.h"

using testing_support::ReadFileBytes;

namespace {

const std::string kData = std::string(MVGWS_TEST_DATA) + "/maildir/";

// Unix seconds as a FILETIME value.
uint64_t FileTimeOf(int64_t unixSeconds) { return (unixSeconds + 11644473600LL) * 10000000ULL; }

struct ExpectedPart {
  int kind;
  std::string name;
  std::string content;
};

struct MessageCase {
  const char *file;
  bool seen;
  const char *why;
  std::string subject, fromName, fromAddress;
  int64_t sentUnix;
  int unread, importance;
  std::vector<std::string> recipients;  // "kind name <address>"
  std::vector<ExpectedPart> parts;  // content "<original>": the message file itself
  std::vector<std::string> warnings;
};

class MessageImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host_.Init(), 0) << mvcom_LastError();
    record_.reset(static_cast<HostMessage *>(calloc(1, sizeof(HostMessage))));
    record_->msgSeq = 7;
  }
  void TearDown() override { com_Deallocate_All(record_.get(), nullptr); }

  std::string PartFile(int index) const {
    char path[512];
    FormatPartFileName(path, sizeof path, host_.workDir().c_str(), record_->msgSeq, index);
    return path;
  }
  std::vector<std::string> Recipients() const {
    std::vector<std::string> out;
    for (int i = 0; i < record_->recipCount; ++i) {
      const HostRecipient *r = record_->recips[i];
      out.push_back(std::to_string(r->kind) + " " + r->name + " <" + r->address + ">");
    }
    return out;
  }

  struct Free {
    void operator()(HostMessage *m) const { free(m); }
  };
  testing_support::TestHost host_;
  std::unique_ptr<HostMessage, Free> record_;
};

TEST_F(MessageImportTest, MessagesAsMailProgramsWriteThem) {
  const std::string pdf("%PDF-1.4\n\x00\x01\x02\xff binary\n", 21);
  const MessageCase kCases[] = {
      {"utf8_encoded_words.eml", true, "UTF-8 encoded words, quoted-printable body, +0100 date, group in Cc",
       "Grüße aus Köln – €", "Jörg Müller", "joerg@example.de", 1583226930, 0, 2,
       {"3 Anna <anna@example.com>", "3 Lee, Ben <ben@example.com>", "11  <carl@example.com>",
        "11  <dora@example.com>", "12  <eve@example.com>"},
       {{1, "Message.txt",
         "Hallo Anna,\nschöne Grüße – ein sehr langer Satz, der mit einem weichen Umbruch weitergeht.\n"}},
       {"Bcc recipients (1) are not kept: GroupWise creates the mail without them"}},
      {"latin1_qp.eml", false, "ISO-8859-1 words and body become UTF-8; Importance wins over X-Priority",
       "Réunion à l'hôtel", "François", "francois@example.fr", 1577835000, 1, 0,
       {"3 Anna <anna@example.com>"},
       {{1, "Message.txt", "Café crème à midi.\n"}},
       {}},
      {"alternative_in_mixed.eml", true, "alternative inside mixed; RFC 2231 name; attached message; second text",
       "Quarterly report", "Ben Lee", "ben@example.com", 1593615600, 0, 1,
       {"3  <anna@example.com>"},
       {{1, "Message.txt", "See the report."},
        {9, "text.htm", "<p>See the <b>report</b>.</p>"},
        {0, "Bericht Q2 €.pdf", pdf},
        {0, "Original note.eml", "From: carl@example.com\nSubject: Original note\n\nForwarded text."},
        {0, "attachment-4.txt", "Mailing list footer"}},
       {}},
      {"no_body.eml", false, "headers only: no part at all", "", "", "anna@example.com", 1578312000, 1, 1,
       {"3  <ben@example.com>"}, {}, {}},
      {"thunderbird_folded.eml", true,
       "Thunderbird: B words folded with padding in the first, a name folded inside its quotes, RFC 2231 name",
       "Grüße aus München – Übersicht für 2026", "Jörg Müller", "joerg@example.de", 1767691230, 0, 1,
       {"3 Brandeburg, Jesse <jesse@example.com>", "3 Zoë Saldaña <zoe@example.com>"},
       {{1, "Message.txt", "Anbei die Übersicht.\n"}, {0, "Übersicht 2026.txt", "Programm"}},
       {}},
      {"outlook_folded.eml", false,
       "Outlook: CRLF, a character split across two words, two charsets, file name folded in its quotes, "
       "3:15 PM EDT",
       "Grüße aus Köln à midi", "Renée François", "renee@example.fr", 1578338100, 1, 2,
       {"3 Équipe Nord <nord@example.fr>"},
       {{1, "Message.txt", "Bonjour à tous\r\n"}, {0, "Prüfbericht für Köln.pdf", "%PDF"}},
       {}},
      {"gmail_folded.eml", true,
       "Gmail: no Date, so the newest Received; a comma inside an encoded name; folded inner subject",
       "Re: [änderung] Översikt för möte nästa vecka", "Björn Ångström", "bjorn@example.se", 1736010005, 0, 1,
       {"3  <anna@example.com>", "11 Lee, Ben <ben@example.com>", "11 Carl Müller <carl@example.com>"},
       {{1, "Message.txt", "Se bifogat.\n"},
        {0, "Ändrad plan.eml",
         "Subject: =?UTF-8?B?w4RuZHJhZA==?=\n =?UTF-8?B?IHBsYW4=?=\nFrom: x@example.com\n\nInner."}},
       {}},
      {"mailer_daemon.eml", true, "a bounce: the sender has a name and an empty address; 11:05 AM GMT",
       "Undeliverable: Report", "MAILER DAEMON", "", 1577963100, 0, 1, {"3  <anna@example.com>"},
       {{1, "Message.txt", "Delivery has failed.\n"}}, {}},
      {"cut_boundary.eml", true, "a boundary parameter cut short: the text as readers show it, the original",
       "Digest", "", "lists@example.org", 1577865600, 0, 1, {},
       {{1, "Message.txt", "------=_Part_1234\nContent-Type: text/plain\n\nDigest text.\n------=_Part_1234--\n"},
        {0, "Original message.eml", "<original>"}},
       {"the MIME structure cannot be read (multipart/mixed without parts); its text is kept as the body and "
        "the original message is attached"}},
      {"alternative_no_boundary.eml", true, "multipart/alternative without a boundary", "Order", "",
       "shop@example.com", 1577869200, 0, 1, {},
       {{1, "Message.txt", "Your order has shipped.\n"}, {0, "Original message.eml", "<original>"}},
       {"the MIME structure cannot be read (multipart/alternative without parts); its text is kept as the body "
        "and the original message is attached"}},
      {"no_blank_line.eml", true, "no blank line after the header: the body starts at the first non-field",
       "Cron <root@host> backup", "", "cron@example.com", 1577872800, 0, 1, {"3  <anna@example.com>"},
       {{1, "Message.txt", "Hello Anna,\nthe backup finished: 3 files.\n"}},
       {"the header is not ended by a blank line; the text from line 5 on is kept as the body"}},
      {"empty_parts.eml", true, "an empty HTML body adds no part; an empty attachment is kept, empty",
       "Empty parts", "Ann", "ann@example.com", 1577952000, 0, 1, {"3  <bob@example.com>"},
       {{1, "Message.txt", "See the empty file."},
        {0, "empty.bin", ""},
        {0, "data.bin", std::string("\x00\x01\x02\xff", 4)}},
       {}},
      {"stray_header_line.eml", true, "a damaged field among the others does not end the header", "A stray line",
       "", "a@example.com", 1577872800, 0, 1, {}, {{1, "Message.txt", "body text\n"}}, {}},
      {"smime_part_without_header.eml", true,
       "the signed part as openssl smime -sign writes it: its text right after the boundary, no header line",
       "Offer (S/MIME signed)", "Bob", "bob@example.com", 1736157600, 0, 1, {"3  <alice@example.com>"},
       {{1, "Message.txt", "Hi Alice,\r\nthe signed offer follows by post.\r\n\r\nBob\r\n"},
        {0, "smime.p7s", std::string("\x00\x01\x02\x03", 4)}},
       {"a MIME part has no blank line before its text; the text from line 11 on is kept as the part's content"}},
      {"parts_without_blank_line.eml", true,
       "a part's text after its fields without a blank line is its content; a damaged field among a part's "
       "fields is skipped",
       "Parts cut short", "", "a@example.com", 1736157600, 0, 1, {},
       {{1, "Message.txt", "first line of the text\nsecond line"}, {0, "notes.txt", "kept notes"}},
       {"a MIME part has no blank line before its text; the text from line 9 on is kept as the part's content"}},
      {"content_type_without_subtype.eml", true,
       "a Content-Type without a subtype is text/plain to mail readers: the body, in its charset",
       "No subtype", "John X. Doe", "bbb@ddd.com", 988999544, 0, 1, {"3  <bbb@zzz.org>"},
       {{1, "Message.txt", "Hi,\nthis Content-Type has no subtype. Café.\n"}}, {}},
      {"header_and_part_without_blank_line.eml", true,
       "neither the header nor the part has its blank line: lines are counted as the file has them",
       "Both", "", "a@example.com", 1736157600, 0, 1, {}, {{1, "Message.txt", "Hello,\ntext"}},
       {"the header is not ended by a blank line; the text from line 6 on is kept as the body",
        "a MIME part has no blank line before its text; the text from line 8 on is kept as the part's content"}},
  };
  for (const MessageCase &c : kCases) {
    SCOPED_TRACE(c.why);
    std::string subject, reason;
    std::vector<std::string> warnings;
    ASSERT_EQ(maildir::ConvertMessageFile(kData + c.file, c.seen, record_.get(), &subject, &warnings, &reason), 0)
        << reason;
    EXPECT_EQ(warnings, c.warnings);
    EXPECT_EQ(record_->itemKind, kItemMail);
    EXPECT_EQ(record_->msgSeq, 7);
    EXPECT_STREQ(record_->subject, c.subject.c_str());
    EXPECT_EQ(subject, c.subject);
    EXPECT_STREQ(record_->fromName, c.fromName.c_str());
    EXPECT_STREQ(record_->fromAddress, c.fromAddress.c_str());
    EXPECT_EQ(FileTimeToU64(record_->sentTime), FileTimeOf(c.sentUnix));
    EXPECT_EQ(record_->unread, c.unread);
    EXPECT_EQ(record_->importance, c.importance);
    EXPECT_EQ(Recipients(), c.recipients);
    ASSERT_EQ(record_->partCount, static_cast<int>(c.parts.size()));
    for (size_t i = 0; i < c.parts.size(); ++i) {
      SCOPED_TRACE("part " + std::to_string(i));
      const HostPart *part = record_->parts[i];
      EXPECT_EQ(part->kind, c.parts[i].kind);
      EXPECT_STREQ(part->name, c.parts[i].name.c_str());
      const std::string content =
          c.parts[i].content == "<original>" ? ReadFileBytes(kData + c.file) : c.parts[i].content;
      EXPECT_EQ(ReadFileBytes(PartFile(static_cast<int>(i))), content);
      EXPECT_EQ(part->size, static_cast<int>(content.size()));
    }
    com_Deallocate_All(record_.get(), nullptr);
  }
}

TEST_F(MessageImportTest, BrokenMimeIsImportedAsFarAsItGoes) {
  // No usable Date: the file's time stands in.
  const std::string copy = host_.root() + "/broken.eml";
  ASSERT_TRUE(testing_support::WriteFileBytes(copy, ReadFileBytes(kData + "broken_mime.eml")));
  struct utimbuf times = {1600000000, 1600000000};
  ASSERT_EQ(utime(copy.c_str(), &times), 0);
  std::string subject, reason;
  ASSERT_EQ(maildir::ConvertMessageFile(copy, false, record_.get(), &subject, nullptr, &reason), 0) << reason;
  EXPECT_EQ(FileTimeToU64(record_->sentTime), FileTimeOf(1600000000));
  EXPECT_STREQ(record_->fromAddress, "broken@example.com");
  // An encoded word without its padding is read whole, as mail readers read it.
  EXPECT_STREQ(record_->subject, "Broken not base64 tail");
  // The text in an unknown charset is kept as decoded; the unclosed
  // multipart still yields its second part.
  ASSERT_EQ(record_->partCount, 2);
  EXPECT_EQ(record_->parts[0]->kind, kPartTextBody);
  EXPECT_EQ(ReadFileBytes(PartFile(0)).substr(0, 6), "Hello ");
  EXPECT_STREQ(record_->parts[1]->name, "cut.bin");
  EXPECT_EQ(ReadFileBytes(PartFile(1)), std::string("\x00\x01\x02", 3));
}

TEST_F(MessageImportTest, UnusableFilesFailWithAReasonAndLeaveNothing) {
  const std::string empty = host_.root() + "/empty.eml";
  ASSERT_TRUE(testing_support::WriteFileBytes(empty, ""));
  struct FailCase {
    std::string path;
    const char *reason;
    const char *why;
  };
  const FailCase kCases[] = {
      {empty, "empty file", "a zero-length file holds no message"},
      {host_.root() + "/absent.eml", "cannot open", "the file vanished since the listing"},
  };
  for (const FailCase &c : kCases) {
    SCOPED_TRACE(c.why);
    std::string subject, reason;
    EXPECT_EQ(maildir::ConvertMessageFile(c.path, false, record_.get(), &subject, nullptr, &reason), -1);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(record_->partCount, 0);
  }
}

// Bytes that differ from one offset to the next, all 256 values among them.
std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}

std::string Base64Lines(const std::string &bytes) {
  gchar *text = g_base64_encode(reinterpret_cast<const guchar *>(bytes.data()), bytes.size());
  std::string lines;
  for (size_t at = 0, n = strlen(text); at < n; at += 76)
    lines += std::string(text + at, std::min<size_t>(76, n - at)) + "\r\n";
  g_free(text);
  return lines;
}

// Quoted-printable with a soft break every 72 characters; every byte that
// is not a plain letter or digit is written as =XX.
std::string QuotedPrintable(const std::string &bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t line = 0;
  for (unsigned char c : bytes) {
    const std::string piece =
        isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string{'=', kHex[c >> 4], kHex[c & 15]};
    if (line + piece.size() > 72) {
      out += "=\r\n";
      line = 0;
    }
    out += piece;
    line += piece.size();
  }
  return out + "\r\n";
}

// A message of several megabytes is read from its file rather than whole,
// and its parts are decoded in blocks: every byte must come out as it went
// in, across the blocks' edges.
// Read through a file buffer, never whole: also when the text part has no
// header lines, or the message's header no blank line after it, and a
// blank line is put in as it is read.
TEST_F(MessageImportTest, ALargeMessageKeepsEveryByteOfItsParts) {
  const std::string binary = Pattern(1600000, 7), latin = Pattern(1100000, 11), plain(300000, 'x');
  const struct {
    const char *headerEnd, *firstPart;
  } rows[] = {{"\r\n", "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee the files.\r\n"},
              {"\r\n", "--b1\r\nSee the files.\r\n"},
              {"This is a message in MIME format.\r\n", "--b1\r\nSee the files.\r\n"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.headerEnd) + row.firstPart);
    const std::string message =
        "From: Ann <ann@example.com>\r\nTo: bob@example.com\r\nSubject: Big\r\n"
        "Date: Mon, 6 Jan 2020 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n" +
        std::string(row.headerEnd) + row.firstPart +
        "--b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
        "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        Base64Lines(binary) +
        "--b1\r\nContent-Type: application/octet-stream; name=\"qp.bin\"\r\n"
        "Content-Disposition: attachment; filename=\"qp.bin\"\r\nContent-Transfer-Encoding: quoted-printable\r\n"
        "\r\n" +
        QuotedPrintable(latin) +
        "--b1\r\nContent-Type: text/plain; name=\"plain.txt\"\r\n"
        "Content-Disposition: attachment; filename=\"plain.txt\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
        plain + "\r\n--b1--\r\n";
    ASSERT_GT(message.size(), 4u << 20) << "beyond the size read whole, and beyond one block per part";
    const std::string path = host_.root() + "/big.eml";
    ASSERT_TRUE(testing_support::WriteFileBytes(path, message));
    std::string subject, reason;
    ASSERT_EQ(maildir::ConvertMessageFile(path, true, record_.get(), &subject, nullptr, &reason), 0) << reason;
    EXPECT_EQ(subject, "Big");
    const struct {
      const char *name;
      std::string content;
    } expected[] = {{"Message.txt", "See the files."}, {"data.bin", binary}, {"qp.bin", latin}, {"plain.txt", plain}};
    ASSERT_EQ(record_->partCount, 4);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(expected[i].name);
      EXPECT_STREQ(record_->parts[i]->name, expected[i].name);
      EXPECT_EQ(record_->parts[i]->size, static_cast<int>(expected[i].content.size()));
      EXPECT_TRUE(ReadFileBytes(PartFile(i)) == expected[i].content) << "the part's bytes differ";
    }
    com_Deallocate_All(record_.get(), nullptr);
  }
}

TEST_F(MessageImportTest, PartFileThatCannotBeWrittenFailsTheMessage) {
  record_->msgSeq = 8;
  // A directory where the second part's file should go.
  ASSERT_EQ(mkdir(PartFile(1).c_str(), 0755), 0);
  std::string subject, reason;
  EXPECT_EQ(maildir::ConvertMessageFile(kData + "alternative_in_mixed.eml", true, record_.get(), &subject,
                                        nullptr, &reason),
            -1);
  EXPECT_NE(reason.find("cannot write part file"), std::string::npos) << reason;
  EXPECT_EQ(subject, "Quarterly report");  // known for the failure report
  EXPECT_EQ(record_->partCount, 0);
  EXPECT_FALSE(testing_support::FileExists(PartFile(0)));  // the text body file is gone again
  rmdir(PartFile(1).c_str());
}

TEST(MessageIdentityTest, ContentHashKeyAndMessageIdAsTheOldKey) {
  testing_support::TestHost host;
  const std::string dir = host.root() + "/";
  struct IdCase {
    const char *content;
    const char *key;  // the SHA-256 of the file: it must never change, or reruns import again
    const char *legacyKey;
    const char *why;
  };
  const IdCase kCases[] = {
      {"Message-ID: <a.1@x>\nSubject: s\n\nbody\n", "sha256:abd427fa05d4054bc06e573d2a50ff3ad0fa379aca25b72e2f710fdb6a3c952a",
       "mid:a.1@x", "the usual form"},
      {"Subject: s\nMESSAGE-ID:\n  <folded@x>\n\nbody\n", "sha256:4cbd064e38a84a3810970e2c65d30cccb03c479e6725c88672cde4e9269e2b90",
       "mid:folded@x", "case ignored, folded value"},
      {"Message-ID:\n\t<tab@x>\nSubject: s\n\nbody\n", "sha256:5e74d7492a5dd342072b182f4604a6ac7b3c15b89ae93e6047ca70d7079b63b9",
       "mid:tab@x", "folded with a tab"},
      {"Subject: s\n\nMessage-ID: <in-body@x>\n", "sha256:fa84e978d5201569f5663c5570a329f4d4bff4a7a5726dd8ba41e1116cc0a6c6",
       "", "a Message-ID line in the body is not the header's"},
      {"Subject: s\nMessage-ID: <>\n\nbody\n", "sha256:1cb407ab15b94b85e92b3a62a8841b5639545b942ca8648115b5f7d771a59f53",
       "", "an empty id is no id"},
  };
  for (const IdCase &c : kCases) {
    SCOPED_TRACE(c.why);
    const std::string path = dir + "m";
    ASSERT_TRUE(testing_support::WriteFileBytes(path, c.content));
    std::string key, legacy = "stale", reason;
    ASSERT_EQ(maildir::MessageIdentity(path, &key, &legacy, &reason), 0) << reason;
    EXPECT_EQ(legacy, c.legacyKey);
    EXPECT_EQ(key, c.key);
    // Read into memory for the conversion that follows: the same key.
    std::string bytes;
    ASSERT_EQ(maildir::MessageIdentity(path, &key, &legacy, &reason, &bytes), 0) << reason;
    EXPECT_EQ(bytes, c.content);
    EXPECT_EQ(legacy, c.legacyKey);
    EXPECT_EQ(key, c.key);
  }
  struct SameCase {
    const char *a, *b;
    bool same;
    const char *why;
  };
  const SameCase kPairs[] = {
      {"Subject: one\n\nx\n", "Subject: one\n\nx\n", true, "a byte-identical copy is the same message"},
      {"Message-ID: <bug-1@tracker>\nSubject: [Bug 1] new\n\nfirst\n",
       "Message-ID: <bug-1@tracker>\nSubject: [Bug 1] comment\n\nsecond\n", false,
       "a bug tracker's copies share one Message-ID and differ"},
      {"Subject: one\n\nx\n", "Subject: one\n\nx \n", false, "one byte apart"},
  };
  for (const SameCase &c : kPairs) {
    SCOPED_TRACE(c.why);
    // The second under a name a mail program gives a read message.
    ASSERT_TRUE(testing_support::WriteFileBytes(dir + "a:2,", c.a));
    ASSERT_TRUE(testing_support::WriteFileBytes(dir + "b:2,S", c.b));
    std::string first, second, legacy, reason;
    ASSERT_EQ(maildir::MessageIdentity(dir + "a:2,", &first, &legacy, &reason), 0);
    ASSERT_EQ(maildir::MessageIdentity(dir + "b:2,S", &second, &legacy, &reason), 0);
    EXPECT_EQ(first == second, c.same);
  }
  std::string key, legacy, reason;
  EXPECT_EQ(maildir::MessageIdentity(dir + "absent", &key, &legacy, &reason), -1);
  EXPECT_NE(reason.find("cannot open"), std::string::npos);
}

TEST(ImportanceTest, HeadersToImportance) {
  struct ImportanceCase {
    const char *importance, *xPriority;
    int expected;
    const char *why;
  };
  const ImportanceCase kCases[] = {
      {"High", "", 2, "Importance high"},
      {"low", "1", 0, "Importance decides over X-Priority"},
      {"", "1 (Highest)", 2, "X-Priority 1"},
      {"", "2", 2, "X-Priority 2 is high too"},
      {"", "3 (Normal)", 1, "X-Priority 3"},
      {"", "5 (Lowest)", 0, "X-Priority 5"},
      {"urgent", "4", 0, "an unknown Importance word leaves it to X-Priority"},
      {"", "", 1, "nothing said: normal"},
  };
  for (const ImportanceCase &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::ImportanceFromHeaders(c.importance, c.xPriority), c.expected);
  }
}

}  // namespace
