// WriteMsg against the simulator: mail requests byte for byte against the
// golden files, the dispatch by kind, failures reported to the host, the
// streamed post against the in-memory one; and the shared pieces (dates,
// base64 blocks, content types).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "gwsim/base64.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "host/mvcom/mvcom_host.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "transport/soap_call.h"
#include "writer/mail_writer.h"
#include "writer/write_session.h"
#include "writer_test_support.h"

namespace writer_test {
namespace {

class MailWriterTest : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(ConnectMailbox());
    CopyText(gSession.targetContainer, sizeof gSession.targetContainer, "MBX@16");
  }
};

TEST_F(MailWriterTest, MailRequestsMatchTheGoldenFiles) {
  struct Case {
    const char *why;
    const char *golden;
    void (*fill)(HostMessage *record, const std::string &workDir, const std::string &partDir);
  };
  const Case cases[] = {
      {"no recipients: the to-line is Unknown recipient, the list is empty", "no_recipients.txt",
       [](HostMessage *r, const std::string &work, const std::string &) {
         CopyText(r->subject, sizeof r->subject, "Hello");
         CopyText(r->fromName, sizeof r->fromName, "Ann Lee");
         CopyText(r->fromAddress, sizeof r->fromAddress, "ann@example.com");
         r->sentTime = May2019();
         r->unread = 1;
         AddPart(r, "Message.txt", kPartTextBody, work, "abc");
       }},
      {"To and CC sent with their types, the last To names the to-line, BCC left out, texts "
       "escaped, no attendee list in the body",
       "to_cc_bcc.txt",
       [](HostMessage *r, const std::string &work, const std::string &) {
         CopyText(r->subject, sizeof r->subject, "Q&A <today>");
         CopyText(r->fromName, sizeof r->fromName, "O'Neil \"Pat\"");
         CopyText(r->fromAddress, sizeof r->fromAddress, "pat@example.com");
         r->sentTime = May2019();
         r->importance = 2;
         AddRecipient(r, "Bob Brown", "bob@example.com", kRecipTo);
         AddRecipient(r, "Cy Cole", "cy@example.com", kRecipCc);
         AddRecipient(r, "Dee Dunn", "dee@example.com", kRecipBcc);
         AddRecipient(r, "Eve & Co", "eve@example.com", kRecipTo);
         AddPart(r, "Message.txt", kPartTextBody, work, "ab");
       }},
      {"HTML body as hidden text.htm, content types by name, part files of abc, ab and "
       "nothing, an empty text body (the first text part: a later one is not sent), sentTime 0",
       "attachments.txt",
       [](HostMessage *r, const std::string &work, const std::string &parts) {
         CopyText(r->subject, sizeof r->subject, "Files");
         r->importance = 0;
         AddPart(r, "Message.txt", kPartTextBody, work, "");
         AddPart(r, "index.html", kPartHtmlBody, parts, "<p>hi</p>");
         AddPart(r, "report.docx", kPartFile, parts, "abc");
         AddPart(r, "data.pdf.zip", kPartFile, parts, "ab");
         AddPart(r, "empty.bin", kPartFile, parts, "");
         AddPart(r, "Message.txt", kPartTextBody, work, "not the body");
       }},
  };
  size_t sent = 0;
  // The same requests whether the host hands the parts over as files or in memory.
  for (size_t keptLimit : {size_t{0}, size_t{1024}}) {
    mvcom_SetPartMemory(keptLimit);
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.why) + (keptLimit > 0 ? ", parts kept in memory" : ""));
      itemErrors_.clear();
      RecordPtr record = NewRecord();
      c.fill(record.get(), host_.workDir(), PartDir());
      AnswerNext({{200, CreateAnswer("MAIL@1")}});
      ASSERT_NO_FATAL_FAILURE(
          ExpectGoldenWrite(record.get(), c.golden, sent++, "soapreq5.tmp", "crmail.xml"));
    }
  }
  mvcom_SetPartMemory(0);
}

TEST_F(MailWriterTest, HostFilesAndRecordAreLeftAsTheHostNeedsThem) {
  RecordPtr record = NewRecord();
  AddRecipient(record.get(), "Bob Brown", "bob@example.com", kRecipTo);
  AddPart(record.get(), "Message.txt", kPartTextBody, host_.workDir(), "Body text");
  AddPart(record.get(), "index.html", kPartHtmlBody, PartDir(), "<p>hi</p>");
  AnswerNext({{500, ""}, {200, CreateAnswer("MAIL@1")}});
  WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr);
  WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr);
  // A retried write sends the same body; the host's text file is untouched.
  EXPECT_EQ("Body text", testing_support::ReadFileBytes(BodyFile(record.get(), 0)));
  EXPECT_EQ(SentBody("createItemRequest", 0), SentBody("createItemRequest", 1));
  EXPECT_EQ("text.htm", std::string(record->parts[1]->name));
}

// A part the item lists but whose file is gone fails the item: sending it
// without its body or with an empty attachment would be reported as created.
TEST_F(MailWriterTest, AnItemWithAnUnreadablePartFileFailsAndIsNotSent) {
  struct Case {
    const char *why;
    int32_t itemKind;
    int bodyKind;       // the part whose file is missing
    bool bodyInWorkDir;  // text bodies live in the work directory
  };
  const Case cases[] = {
      {"a mail whose text body file is missing", kItemMail, kPartTextBody, true},
      {"a mail whose attachment file is missing", kItemMail, kPartFile, false},
      {"a mail whose HTML body file is missing", kItemMail, kPartHtmlBody, false},
      {"a task whose text body file is missing", kItemTask, kPartTextBody, true},
      {"an appointment whose attachment file is missing", kItemAppointment, kPartFile, false},
  };
  int seq = 100;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    itemErrors_.clear();
    RecordPtr record = NewRecord();
    record->msgSeq = seq++;  // no row finds the part files of another
    record->itemKind = c.itemKind;
    CopyText(record->subject, sizeof record->subject, "Parts");
    CopyText(record->title, sizeof record->title, "Parts");
    if (c.bodyKind != kPartTextBody) {
      AddPart(record.get(), "Message.txt", kPartTextBody, host_.workDir(), "text");
    }
    AddPart(record.get(), "gone.pdf", c.bodyKind, c.bodyInWorkDir ? host_.workDir() : PartDir(),
            nullptr);
    size_t before = Sent("createItemRequest").size();
    WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr);
    EXPECT_EQ(before, Sent("createItemRequest").size());
    ASSERT_EQ(1u, itemErrors_.size());
    EXPECT_EQ("\tParts\ta part file could not be read", itemErrors_[0]);
  }
}

TEST_F(MailWriterTest, KindSevenIsPassedOverWithoutFailure) {
  RecordPtr record = NewRecord();
  record->itemKind = 7;
  CopyText(record->subject, sizeof record->subject, "Item");
  EXPECT_EQ(0, WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr));
  EXPECT_TRUE(itemErrors_.empty());
  EXPECT_EQ(0u, Sent("createItemRequest").size());
}

// What gwsim recorded for the streamed post and for SoapCall of the same
// body must be the same bytes with the same length header.
TEST_F(MailWriterTest, StreamedPostSendsWhatTheInMemoryPostSends) {
  struct Case {
    const char *why;
    size_t attachmentBytes;
    gwsim::FaultKind fault;  // on the streamed post
    bool faulted;
  };
  const Case cases[] = {
      {"a small mail", 10, gwsim::FaultKind::kStatus, false},
      {"an attachment larger than libcurl's buffers", 3u << 20, gwsim::FaultKind::kStatus, false},
      {"a redirect makes libcurl rewind the stream", 300000, gwsim::FaultKind::kRedirect, true},
      {"a second post after a busy server starts from the beginning", 300000,
       gwsim::FaultKind::kBusy503, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    RecordPtr record = NewRecord();
    CopyText(record->subject, sizeof record->subject, "Big");
    std::string data(c.attachmentBytes, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
    AddPart(record.get(), "blob.bin", kPartFile, PartDir(), "");
    char path[1100];
    FormatPartFileName(path, sizeof path, PartDir().c_str(), record->msgSeq, 0);
    ASSERT_TRUE(testing_support::WriteFileBytes(path, data));
    server_.ClearFaults();
    itemErrors_.clear();
    size_t before = server_.Requests().size();
    if (c.faulted) {
      gwsim::Fault fault;
      fault.kind = c.fault;
      fault.requestNumber = static_cast<int>(server_.RequestCount()) + 1;
      server_.AddFault(fault);
    }
    FaultEvery("createItemRequest", 200, CreateAnswer("MAIL@1"));

    WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr);
    std::vector<gwsim::RecordedRequest> all = server_.Requests();
    ASSERT_EQ(before + (c.faulted ? 2 : 1), all.size());
    const gwsim::RecordedRequest streamed = all.back();
    std::string body = SentBody("createItemRequest", Sent("createItemRequest").size() - 1);
    EXPECT_NE(std::string::npos,
              body.find("<size>" + std::to_string((c.attachmentBytes + 2) / 3 * 4) + "</size>"));
    EXPECT_TRUE(itemErrors_.empty()) << (itemErrors_.empty() ? "" : itemErrors_[0]);

    EXPECT_EQ(1, SoapCall(body.c_str(), "createItemRequest", (host_.workDir() + "x.xml").c_str()));
    const gwsim::RecordedRequest inMemory = server_.Requests().back();
    EXPECT_EQ(inMemory.body.size(), streamed.body.size());
    EXPECT_TRUE(inMemory.body == streamed.body);
    EXPECT_EQ(inMemory.soapAction, streamed.soapAction);
  }
}

TEST(MailPiecesTest, DatesAreUtcTextsWithoutMilliseconds) {
  struct Case {
    const char *why;
    uint64_t fileTime;
    const char *text;
  };
  const Case cases[] = {
      {"milliseconds are dropped", 132012810599990000ull, "2019-05-02T14:30:59Z"},
      {"a leap day", 132274080000000000ull, "2020-02-29T00:00:00Z"},
      {"beyond what the calendar holds falls back to zero", 0x8000000000000000ull,
       "1601-01-01T00:00:00Z"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    char text[256];
    FormatGWDate(U64ToFileTime(c.fileTime), text, sizeof text);
    EXPECT_STREQ(c.text, text);
  }
}

TEST(MailPiecesTest, ContentTypesFollowTheLastTextFoundInTheName) {
  struct Case {
    const char *why;
    const char *name;
    const char *type;
  };
  const Case cases[] = {
      {".jpeg", "photo.jpeg", "application/jpeg"},
      {"the text may stand anywhere", "x.xls.bak", "application/ms-excel"},
      {"case counts", "SCAN.PDF", "application/octet-stream"},
      {"no known text", "notes", "application/octet-stream"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_STREQ(c.type, ContentTypeFor(c.name));
  }
}

TEST(MailPiecesTest, TheCreateAnswerGivesItsCodeAndAMissingAnswerIsAFailure) {
  const struct {
    const char *why;
    const char *answer;  // null: no answer file
    int code;
  } cases[] = {
      {"no answer file is no success", nullptr, 1},
      {"the code of the status element", "<gwt:status>\n<gwt:code>\n59905\n</gwt:code>\n", 59905},
      {"a status without a code is 0", "<gwt:status>\n</gwt:status>\n", 0},
  };
  char dir[] = "/tmp/mailpiecesXXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string path = std::string(dir) + "/crmail.xml";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    remove(path.c_str());
    if (c.answer != nullptr) {
      ASSERT_TRUE(testing_support::WriteFileBytes(path, c.answer));
    }
    EXPECT_EQ(c.code, ReadResponseCode(path.c_str()));
  }
  remove(path.c_str());
  rmdir(dir);
}

class Base64BlockTest : public WriterTest {};

TEST_F(Base64BlockTest, DataBlocksCarryTheEncodedLengthAndNoLineBreaks) {
  struct Case {
    const char *why;
    std::string content;
    const char *appendix;
    std::string block;
  };
  std::string large(100001, '\0'), largeBase64;
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 131) ^ (i >> 9));
  gwsim::AppendBase64(large.data(), large.size(), 0, &largeBase64);  // an encoder of its own
  const Case cases[] = {
      {"three bytes", "abc", nullptr, "<size>4</size>\n<data>\nYWJj\n</data>\n"},
      {"two bytes pad once", "ab", nullptr, "<size>4</size>\n<data>\nYWI=\n</data>\n"},
      {"one byte pads twice", "a", nullptr, "<size>4</size>\n<data>\nYQ==\n</data>\n"},
      {"an empty file", "", nullptr, "<size>0</size>\n<data>\n\n</data>\n"},
      {"high bytes use + and /", "\xfb\xff\xbf", nullptr,
       "<size>4</size>\n<data>\n+/+/\n</data>\n"},
      {"an appendix continues the last group", "ab", "cd",
       "<size>8</size>\n<data>\nYWJjZA==\n</data>\n"},
      {"100001 bytes cross the block boundaries", large, nullptr,
       "<size>133336</size>\n<data>\n" + largeBase64 + "\n</data>\n"},
  };
  std::string part = host_.workDir() + "part.bin", out = host_.workDir() + "out.txt";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_TRUE(testing_support::WriteFileBytes(part, c.content));
    FILE *request = fopen(out.c_str(), "wb");
    ASSERT_NE(nullptr, request);
    EXPECT_EQ(1, WriteBase64File(part.c_str(), request, c.appendix));
    fclose(request);
    EXPECT_EQ(c.block, testing_support::ReadFileBytes(out));
  }
  FILE *request = fopen(out.c_str(), "wb");
  ASSERT_NE(nullptr, request);
  EXPECT_EQ(0, WriteBase64File((host_.workDir() + "no-such-file").c_str(), request));
  fclose(request);
  EXPECT_EQ("", testing_support::ReadFileBytes(out));
}

}  // namespace
}  // namespace writer_test
