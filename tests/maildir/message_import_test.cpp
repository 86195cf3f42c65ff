// Messages as mail programs write them, turned into the record that WriteMsg
// sends: every field compared, and every part file byte for byte.
#include <gtest/gtest.h>
#include <utime.h>

#include <cstdlib>
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
  std::vector<ExpectedPart> parts;
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
         "Hallo Anna,\nschöne Grüße – ein sehr langer Satz, der mit einem weichen Umbruch weitergeht.\n"}}},
      {"latin1_qp.eml", false, "ISO-8859-1 words and body become UTF-8; Importance wins over X-Priority",
       "Réunion à l'hôtel", "François", "francois@example.fr", 1577835000, 1, 0,
       {"3 Anna <anna@example.com>"},
       {{1, "Message.txt", "Café crème à midi.\n"}}},
      {"alternative_in_mixed.eml", true, "alternative inside mixed; RFC 2231 name; attached message; second text",
       "Quarterly report", "Ben Lee", "ben@example.com", 1593615600, 0, 1,
       {"3  <anna@example.com>"},
       {{1, "Message.txt", "See the report."},
        {9, "text.htm", "<p>See the <b>report</b>.</p>"},
        {0, "Bericht Q2 €.pdf", pdf},
        {0, "Original note.eml", "From: carl@example.com\nSubject: Original note\n\nForwarded text."},
        {0, "attachment-4.txt", "Mailing list footer"}}},
      {"no_body.eml", false, "headers only: no part at all", "", "", "anna@example.com", 1578312000, 1, 1,
       {"3  <ben@example.com>"}, {}},
  };
  for (const MessageCase &c : kCases) {
    SCOPED_TRACE(c.why);
    std::string subject, reason;
    ASSERT_EQ(maildir::ConvertMessageFile(kData + c.file, c.seen, record_.get(), &subject, &reason), 0)
        << reason;
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
      EXPECT_EQ(ReadFileBytes(PartFile(static_cast<int>(i))), c.parts[i].content);
      EXPECT_EQ(part->size, static_cast<int>(c.parts[i].content.size()));
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
  ASSERT_EQ(maildir::ConvertMessageFile(copy, false, record_.get(), &subject, &reason), 0) << reason;
  EXPECT_EQ(FileTimeToU64(record_->sentTime), FileTimeOf(1600000000));
  EXPECT_STREQ(record_->fromAddress, "broken@example.com");
  // The unpadded last quantum of the broken encoded word is lost, nothing else.
  EXPECT_STREQ(record_->subject, "Broken not base6 tail");
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
    EXPECT_EQ(maildir::ConvertMessageFile(c.path, false, record_.get(), &subject, &reason), -1);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(record_->partCount, 0);
  }
}

TEST_F(MessageImportTest, PartFileThatCannotBeWrittenFailsTheMessage) {
  record_->msgSeq = 8;
  // A directory where the second part's file should go.
  ASSERT_EQ(mkdir(PartFile(1).c_str(), 0755), 0);
  std::string subject, reason;
  EXPECT_EQ(maildir::ConvertMessageFile(kData + "alternative_in_mixed.eml", true, record_.get(), &subject,
                                        &reason),
            -1);
  EXPECT_NE(reason.find("cannot write part file"), std::string::npos) << reason;
  EXPECT_EQ(subject, "Quarterly report");  // known for the failure report
  EXPECT_EQ(record_->partCount, 0);
  EXPECT_FALSE(testing_support::FileExists(PartFile(0)));  // the text body file is gone again
  rmdir(PartFile(1).c_str());
}

TEST(MessageIdentityTest, MessageIdElseContentHash) {
  testing_support::TestHost host;
  const std::string dir = host.root() + "/";
  struct IdCase {
    const char *content;
    const char *key;
    const char *why;
  };
  const IdCase kCases[] = {
      {"Message-ID: <a.1@x>\nSubject: s\n\nbody\n", "mid:a.1@x", "the usual form"},
      {"Subject: s\nMESSAGE-ID:\n  <folded@x>\n\nbody\n", "mid:folded@x", "case ignored, folded value"},
      {"Subject: s\n\nMessage-ID: <in-body@x>\n", "sha256:", "a Message-ID line in the body is not the header's"},
      {"Subject: s\nMessage-ID: <>\n\nbody\n", "sha256:", "an empty id is no id"},
  };
  for (const IdCase &c : kCases) {
    SCOPED_TRACE(c.why);
    const std::string path = dir + "m";
    ASSERT_TRUE(testing_support::WriteFileBytes(path, c.content));
    std::string key, reason;
    ASSERT_EQ(maildir::MessageIdentity(path, &key, &reason), 0) << reason;
    EXPECT_EQ(key.substr(0, strlen(c.key)), c.key);
  }
  // The hash follows the content, not the file name.
  ASSERT_TRUE(testing_support::WriteFileBytes(dir + "a:2,S", "Subject: one\n\nx\n"));
  ASSERT_TRUE(testing_support::WriteFileBytes(dir + "a:2,", "Subject: one\n\nx\n"));
  ASSERT_TRUE(testing_support::WriteFileBytes(dir + "b", "Subject: two\n\nx\n"));
  std::string seen, unseen, other, reason;
  ASSERT_EQ(maildir::MessageIdentity(dir + "a:2,S", &seen, &reason), 0);
  ASSERT_EQ(maildir::MessageIdentity(dir + "a:2,", &unseen, &reason), 0);
  ASSERT_EQ(maildir::MessageIdentity(dir + "b", &other, &reason), 0);
  EXPECT_EQ(seen, unseen);
  EXPECT_NE(seen, other);
  EXPECT_EQ(seen.size(), 7u + 64u);
  EXPECT_EQ(maildir::MessageIdentity(dir + "absent", &other, &reason), -1);
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
