// The Maildir writer: a record with its part files becomes a message that
// GMime reads back with the same fields and bytes; names are atomic and
// stable so that a resumed run finds what an interrupted one wrote.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/maildir/early_writeback.h"
#include "host/maildir/maildir_writer.h"
#include "host/maildir/original_store.h"
#include "maildir/message_readback.h"
#include "plugin/host_message.h"
#include "support/host_fixture.h"

namespace {

using readback::ListDirectory;
using readback::ReadMessageFile;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

struct RecordDeleter {
  void operator()(HostMessage *r) const {
    com_Deallocate(r, nullptr);
    delete r;
  }
};
using Record = std::unique_ptr<HostMessage, RecordDeleter>;

// 2021-03-04 05:06:07 UTC as FILETIME, and as Unix time.
const uint64_t kSent = (1614834367ULL + 11644473600ULL) * 10000000ULL;
const int64_t kSentUnix = 1614834367;

struct PartSpec {
  int kind;
  const char *name;
  std::string bytes;
};

class MaildirWriterTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_EQ(host_.Init(), 0);
    mail_ = host_.root() + "/mail/Mailbox";
  }

  Record NewRecord(const std::string &messageId, const std::vector<PartSpec> &parts) {
    Record r(new HostMessage());
    r->msgSeq = 4;
    CopyText(r->messageId, sizeof r->messageId, messageId.c_str());
    CopyText(r->subject, sizeof r->subject, "Status");
    r->sentTime = U64ToFileTime(kSent);
    r->importance = 1;
    r->unread = 1;
    for (const PartSpec &p : parts) {
      EXPECT_NE(com_AllocPart(r.get()), 0);
      HostPart *part = r->parts[r->partCount];
      part->kind = p.kind;
      CopyText(part->name, sizeof part->name, p.name);
      part->size = static_cast<int32_t>(p.bytes.size());
      char path[512];
      FormatPartFileName(path, sizeof path, host_.workDir().c_str(), r->msgSeq, r->partCount);
      EXPECT_TRUE(WriteFileBytes(path, p.bytes));
      r->partCount++;
    }
    return r;
  }

  void AddRecipient(HostMessage *r, int kind, const char *name, const char *address) {
    ASSERT_NE(com_AllocRecip(r), 0);
    HostRecipient *rec = r->recips[r->recipCount++];
    rec->kind = kind;
    CopyText(rec->name, sizeof rec->name, name);
    CopyText(rec->address, sizeof rec->address, address);
  }

  // Replaces the bytes of part index's file.
  void Overwrite(HostMessage *r, int index, const std::string &bytes) {
    char path[512];
    FormatPartFileName(path, sizeof path, host_.workDir().c_str(), r->msgSeq, index);
    EXPECT_TRUE(WriteFileBytes(path, bytes));
  }

  // Writes the record into mail_, emptied first, and returns the one file's
  // path in cur/.
  std::string WriteOne(const HostMessage &r) {
    for (const std::string &f : ListDirectory(mail_ + "/cur")) remove((mail_ + "/cur/" + f).c_str());
    maildir::MaildirFolder folder;
    std::string error;
    EXPECT_EQ(maildir::OpenMaildirFolder(mail_, "Mailbox", &folder, &error), 0) << error;
    EXPECT_EQ(maildir::WriteMaildirMessage(&folder, r, host_.workDir(), nullptr, &error), maildir::kWriteStored)
        << error;
    std::vector<std::string> cur = ListDirectory(mail_ + "/cur");
    EXPECT_EQ(cur.size(), 1u);
    return cur.empty() ? "" : mail_ + "/cur/" + cur.back();
  }

  TestHost host_;
  std::string mail_;
};

TEST_F(MaildirWriterTest, HeadersComeBackFieldByField) {
  Record r = NewRecord("4A1B.DOM.PO.100.1.1.1@1", {{kPartTextBody, "Message.txt", "hello\n"}});
  CopyText(r->fromName, sizeof r->fromName, "Jürgen Groß");
  CopyText(r->fromAddress, sizeof r->fromAddress, "jg@example.com");
  CopyText(r->subject, sizeof r->subject, "Grüße aus Köln");
  AddRecipient(r.get(), kRecipTo, "Alice", "alice@example.com");
  AddRecipient(r.get(), kRecipTo, "", "bob@example.com");
  AddRecipient(r.get(), kRecipCc, "Zoë", "zoe@example.com");
  AddRecipient(r.get(), kRecipBcc, "Hidden", "hid@example.com");
  AddRecipient(r.get(), kRecipOrganizer, "Org", "org@example.com");
  CopyText(r->categories, sizeof r->categories, "Work;Früh;");
  r->importance = 2;
  r->unread = 0;

  std::string path = WriteOne(*r);
  EXPECT_NE(path.find(":2,S"), std::string::npos) << "read mail carries the S flag: " << path;
  readback::Message m = ReadMessageFile(path);
  ASSERT_TRUE(m.parsed);
  ASSERT_EQ(m.from.size(), 1u);
  EXPECT_EQ(m.from[0].name, "Jürgen Groß");
  EXPECT_EQ(m.from[0].address, "jg@example.com");
  ASSERT_EQ(m.to.size(), 2u);
  EXPECT_EQ(m.to[0].name, "Alice");
  EXPECT_EQ(m.to[1].address, "bob@example.com");
  ASSERT_EQ(m.cc.size(), 1u);
  EXPECT_EQ(m.cc[0].name, "Zoë");
  ASSERT_EQ(m.bcc.size(), 1u) << "the organizer kind is no recipient";
  EXPECT_EQ(m.bcc[0].address, "hid@example.com");
  EXPECT_EQ(m.subject, "Grüße aus Köln");
  EXPECT_TRUE(m.rawSubject.find("=?UTF-8?") != std::string::npos || m.rawSubject.find("=?utf-8?") != std::string::npos)
      << "an encoded word in the file: " << m.rawSubject;
  EXPECT_EQ(m.date, kSentUnix);
  EXPECT_EQ(m.importance, "high");
  EXPECT_EQ(m.xPriority, "1 (Highest)");
  EXPECT_EQ(m.keywords, "Work, Früh");
  EXPECT_EQ(m.groupwiseId, "4A1B.DOM.PO.100.1.1.1@1");
  EXPECT_EQ(m.messageId, maildir::StableMessageId(*r, host_.workDir()));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kSentUnix) << "the file time is the delivery time";
}

struct TextCase {
  const char *subject;  // as the record holds it
  const char *expected;
  const char *why;
};

TEST_F(MaildirWriterTest, RecordTextsBecomeUtf8) {
  const TextCase cases[] = {
      {"plain", "plain", "ASCII stays"},
      {"Caf\xE9 cr\xE8me", "Café crème", "Windows-1252 bytes are converted"},
      {"Stra\xC3\x9F\xC3", "Straß", "a UTF-8 sequence cut by the reader's bound is dropped"},
      {"\x93quoted\x94", "\u201Cquoted\u201D", "Windows-1252 quotes are not Latin-1 controls"},
  };
  int n = 0;
  for (const TextCase &c : cases) {
    SCOPED_TRACE(c.why);
    Record r = NewRecord("id-text-" + std::to_string(n++), {{kPartTextBody, "Message.txt", "x"}});
    CopyText(r->subject, sizeof r->subject, c.subject);
    EXPECT_EQ(ReadMessageFile(WriteOne(*r)).subject, c.expected);
  }
}

struct BodyCase {
  std::vector<PartSpec> parts;
  const char *structure;
  // Per leaf in document order: type, filename, content.
  std::vector<std::vector<std::string>> leaves;
  const char *why;
};

TEST_F(MaildirWriterTest, BodiesAndAttachmentsKeepTheirBytes) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  binary += std::string("\r\n\r\n\0\0", 6);
  // Past the size held in memory: encoded from its file as it is written.
  std::string large;
  uint32_t seed = 12345;
  for (int i = 0; i < 300001; ++i) {
    seed = seed * 1103515245u + 12345u;
    large.push_back(static_cast<char>(seed >> 24));
  }
  const std::string html = "<html>\r\n<body>Hi</body></html>\r\n";
  const BodyCase cases[] = {
      {{{kPartTextBody, "Message.txt", "line one\r\nline two\r\n"}},
       "text/plain",
       {{"text/plain", "", "line one\nline two\n"}},
       "a text body alone; CR LF become the file's LF"},
      {{{kPartTextBody, "Message.txt", "Hi\n"}, {kPartHtmlBody, "text.htm", html}},
       "multipart/alternative(text/plain,text/html)",
       {{"text/plain", "", "Hi\n"}, {"text/html", "", "<html>\n<body>Hi</body></html>\n"}},
       "text and HTML are alternatives"},
      {{{kPartHtmlBody, "text.htm", html}, {kPartFile, "data.bin", binary}, {kPartTextBody, "Message.txt", "Hi"}},
       "multipart/mixed(multipart/alternative(text/plain,text/html),application/octet-stream)",
       {{"text/plain", "", "Hi"}, {"text/html", "", "<html>\n<body>Hi</body></html>\n"},
        {"application/octet-stream", "data.bin", binary}},
       "binary attachment bytes exact, whatever the part order"},
      {{{kPartTextBody, "Message.txt", "body"}, {kPartTextBody, "notes.txt", "a\r\nb"},
        {kPartFile, "Übersicht Q3.PDF", "%PDF-1.4"}},
       "multipart/mixed(text/plain,text/plain,application/pdf)",
       {{"text/plain", "", "body"}, {"text/plain", "notes.txt", "a\r\nb"}, {"application/pdf", "Übersicht Q3.PDF", "%PDF-1.4"}},
       "a second text part is an attachment with exact bytes; a non-ASCII name survives"},
      {{{kPartTextBody, "Message.txt", "x"}, {kPartFile, "Minutes", "Attached message:\r\n\r\nSubject: Plan\r\n"}},
       "multipart/mixed(text/plain,text/plain)",
       {{"text/plain", "", "x"}, {"text/plain", "Minutes", "Attached message:\r\n\r\nSubject: Plan\r\n"}},
       "the summary of an attached mail (no extension, text) is a text attachment"},
      {{{kPartTextBody, "Message.txt", "plain"}, {kPartTextBody, "Message.txt", " <HTML><body>rtf</body></html>"}},
       "multipart/alternative(text/plain,text/html)",
       {{"text/plain", "", "plain"}, {"text/html", "", " <HTML><body>rtf</body></html>"}},
       "a body converted from RTF to HTML stands in for the HTML body"},
      {{{kPartTextBody, "Message.txt", "<html>rtf</html>"}, {kPartHtmlBody, "text.htm", "<html>h</html>"}},
       "multipart/mixed(text/html,text/html)",
       {{"text/html", "", "<html>h</html>"}, {"text/html", "Message.htm", "<html>rtf</html>"}},
       "next to a real HTML body the converted one is kept as an attachment, named for what it holds"},
      {{{kPartHtmlBody, "text.htm", "<html>one</html>"}, {kPartHtmlBody, "text.htm", "<html>two</html>"}},
       "multipart/mixed(text/html,text/html)",
       {{"text/html", "", "<html>one</html>"}, {"text/html", "text.htm", "<html>two</html>"}},
       "of two HTML bodies the first is the body and the second an attachment, neither dropped"},
      {{{kPartFile, "Minutes.html", "<html>\r\nAttached message:<BR>\r\n"}},
       "multipart/mixed(text/plain,text/html)",
       {{"text/plain", "", ""}, {"text/html", "Minutes.html", "<html>\r\nAttached message:<BR>\r\n"}},
       "no body at all: an empty text part, the HTML summary stays an attachment"},
      {{{kPartTextBody, "Message.txt", "see attached"}, {kPartFile, "archive.zip", large}},
       "multipart/mixed(text/plain,application/zip)",
       {{"text/plain", "", "see attached"}, {"application/zip", "archive.zip", large}},
       "a large attachment keeps every byte"},
  };
  int n = 0;
  for (const BodyCase &c : cases) {
    SCOPED_TRACE(c.why);
    Record r = NewRecord("id-body-" + std::to_string(n++), c.parts);
    std::string path = WriteOne(*r);
    readback::Message m = ReadMessageFile(path);
    ASSERT_TRUE(m.parsed);
    EXPECT_EQ(m.structure, c.structure);
    ASSERT_EQ(m.leaves.size(), c.leaves.size());
    for (size_t i = 0; i < c.leaves.size(); ++i) {
      EXPECT_EQ(m.leaves[i].type, c.leaves[i][0]) << i;
      EXPECT_EQ(m.leaves[i].filename, c.leaves[i][1]) << i;
      EXPECT_EQ(m.leaves[i].bytes, c.leaves[i][2]) << i;
      if (!c.leaves[i][1].empty()) {
        EXPECT_EQ(m.leaves[i].disposition, "attachment") << i;
      }
    }
  }
}

// Large attachments are spliced into the file past GMime's filters; the
// file must be the one GMime writes, byte for byte, wherever they stand.
TEST_F(MaildirWriterTest, LargeAttachmentsSplicedInGiveTheFileGMimeWrites) {
  std::string first, second;
  uint32_t seed = 99;
  for (int i = 0; i < 300001; ++i) {
    seed = seed * 1103515245u + 12345u;
    first.push_back(static_cast<char>(seed >> 24));
  }
  for (int i = 0; i < 262145; ++i) second.push_back("ab\r\n"[i % 4]);
  Record r = NewRecord("id-large", {{kPartTextBody, "Message.txt", "MVGWS-LARGE-PART-0000\nsee both\n"},
                                    {kPartFile, "one.bin", first},
                                    {kPartFile, "note.txt", "small"},
                                    {kPartFile, "two.dat", second}});
  maildir::SetLargePartSplicing(false);
  // GMime draws a new boundary for each write.
  auto sameBoundaries = [](std::string text) {
    const std::string key = "boundary=\"";
    for (size_t at = text.find(key), n = 0; at != std::string::npos; at = text.find(key, at + 1), ++n) {
      const size_t start = at + key.size(), end = text.find('"', start);
      const std::string boundary = text.substr(start, end - start), fixed = "B" + std::to_string(n);
      for (size_t b = text.find(boundary); b != std::string::npos; b = text.find(boundary, b + fixed.size()))
        text.replace(b, boundary.size(), fixed);
    }
    return text;
  };
  const std::string byGMime = sameBoundaries(testing_support::ReadFileBytes(WriteOne(*r)));
  maildir::SetLargePartSplicing(true);
  ASSERT_GT(byGMime.size(), 700000u);
  // The spliced writer flushes and starts writeback every few megabytes:
  // at a small interval it does so in the middle of parts and of lines.
  const int64_t usual = maildir::WritebackInterval();
  for (int64_t interval : {usual, int64_t{4093}}) {
    SCOPED_TRACE(interval);
    maildir::SetWritebackInterval(interval);
    const std::string spliced = sameBoundaries(testing_support::ReadFileBytes(WriteOne(*r)));
    EXPECT_EQ(spliced.size(), byGMime.size());
    const size_t at = static_cast<size_t>(std::mismatch(spliced.begin(), spliced.end(), byGMime.begin()).first - spliced.begin());
    EXPECT_TRUE(spliced == byGMime) << "first difference at " << at << ": " << spliced.substr(at > 40 ? at - 40 : 0, 100) << " vs " << byGMime.substr(at > 40 ? at - 40 : 0, 100);
  }
  maildir::SetWritebackInterval(usual);
  readback::Message m = ReadMessageFile(mail_ + "/cur/" + ListDirectory(mail_ + "/cur").back());
  ASSERT_EQ(m.leaves.size(), 4u);
  EXPECT_EQ(m.leaves[1].bytes, first);
  EXPECT_EQ(m.leaves[3].bytes, second);
}

TEST_F(MaildirWriterTest, BodyCharsetAndEncodingFollowTheBytes) {
  const std::string line998(998, 'x'), line999(999, 'x');
  const struct {
    std::string bytes;
    const char *charset;
    std::string decodedUtf8;
    const char *encoding, *why;
  } cases[] = {
      {"plain", "us-ascii", "plain", "7bit", "ASCII"},
      {"Gr\xC3\xBC\xC3\x9F" "e", "utf-8", "Grüße", "quoted-printable", "UTF-8"},
      {"Gr\xFC\xDF" "e", "windows-1252", "Grüße", "quoted-printable", "not UTF-8: the Windows code page"},
      {line998, "us-ascii", line998, "7bit", "an ASCII line of 998 octets fits a 7bit part"},
      {line999, "us-ascii", line999, "quoted-printable", "one octet more does not"},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    Record r = NewRecord("id-cs-" + std::to_string(n++), {{kPartTextBody, "Message.txt", c.bytes}});
    readback::Message m = ReadMessageFile(WriteOne(*r));
    ASSERT_EQ(m.leaves.size(), 1u);
    EXPECT_EQ(m.leaves[0].charset, c.charset);
    EXPECT_EQ(m.leaves[0].encoding, c.encoding);
    // The bytes stay as they were; a single-part body ends with the message's line end.
    EXPECT_EQ(m.leaves[0].bytes, c.bytes + "\n");
    gchar *utf8 = g_convert(m.leaves[0].bytes.data(), static_cast<gssize>(m.leaves[0].bytes.size()), "UTF-8",
                            c.charset, nullptr, nullptr, nullptr);
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(std::string(utf8), c.decodedUtf8 + "\n");
    g_free(utf8);
  }
}

TEST_F(MaildirWriterTest, NamesAreStablePerFolderAndItem) {
  const std::string work = host_.workDir();
  Record a = NewRecord("ID-A", {}), a2 = NewRecord("ID-A", {}), b = NewRecord("ID-B", {});
  CopyText(a2->subject, sizeof a2->subject, "changed subject, same item");
  AddRecipient(a2.get(), kRecipTo, "", "new@example.com");
  EXPECT_EQ(maildir::MessageFileBase("Mailbox", *a, work), maildir::MessageFileBase("Mailbox", *a2, work));
  // An item with a GroupWise id keeps the name and Message-ID earlier exports gave it.
  EXPECT_EQ(maildir::MessageFileBase("Mailbox", *a, work), "gw-aaf1915052d8c03624911eef4d0018a9");
  EXPECT_EQ(maildir::StableMessageId(*a, work), "7ccc7e95cb10b3167f1bedafb8a7f070@groupwise.invalid");
  EXPECT_NE(maildir::MessageFileBase("Mailbox", *a, work), maildir::MessageFileBase("Mailbox", *b, work));
  EXPECT_NE(maildir::MessageFileBase("Mailbox", *a, work), maildir::MessageFileBase("Cabinet", *a, work))
      << "the same item filed in two folders gets a name in each";
  EXPECT_EQ(maildir::StableMessageId(*a, work), maildir::StableMessageId(*a2, work));
  EXPECT_NE(maildir::StableMessageId(*a, work), maildir::StableMessageId(*b, work));
  EXPECT_EQ(maildir::MessageFileBase("Mailbox", *a, work).find_first_of(":/"), std::string::npos);
}

// Items without a GroupWise id: notices, protected-header mail ("Subject
// Unavailable") and message fragments share subject, sender and time; what
// they are sent to and what they hold tells them apart.
TEST_F(MaildirWriterTest, ItemsWithoutIdAreToldApartByRecipientsAndContent) {
  const std::vector<PartSpec> parts = {{kPartTextBody, "Message.txt", "part 1 of 2"},
                                       {kPartFile, "frag.bin", "ABCD"}};
  const struct {
    const char *why;
    std::function<void(MaildirWriterTest *, HostMessage *)> change;
    bool sameName;
  } cases[] = {
      {"the same item read again has the same name", [](MaildirWriterTest *, HostMessage *) {}, true},
      {"another recipient", [](MaildirWriterTest *t, HostMessage *r) { t->AddRecipient(r, kRecipTo, "", "x@example.com"); }, false},
      {"the same address as Cc instead of To",
       [](MaildirWriterTest *, HostMessage *r) { r->recips[0]->kind = kRecipCc; }, false},
      {"another body of the same size",
       [](MaildirWriterTest *t, HostMessage *r) { t->Overwrite(r, 0, "part 2 of 2"); }, false},
      {"another attachment of the same size", [](MaildirWriterTest *t, HostMessage *r) { t->Overwrite(r, 1, "ABCE"); }, false},
      {"another attachment name",
       [](MaildirWriterTest *, HostMessage *r) { CopyText(r->parts[1]->name, sizeof r->parts[1]->name, "frag2.bin"); }, false},
      {"another sender name", [](MaildirWriterTest *, HostMessage *r) { CopyText(r->fromName, sizeof r->fromName, "Daemon"); }, false},
      {"another subject", [](MaildirWriterTest *, HostMessage *r) { CopyText(r->subject, sizeof r->subject, "other"); }, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    Record first = NewRecord("", parts);
    AddRecipient(first.get(), kRecipTo, "", "list@example.com");
    const std::string firstBase = maildir::MessageFileBase("Mailbox", *first, host_.workDir());
    const std::string firstId = maildir::StableMessageId(*first, host_.workDir());
    Record second = NewRecord("", parts);
    AddRecipient(second.get(), kRecipTo, "", "list@example.com");
    c.change(this, second.get());
    EXPECT_EQ(c.sameName, maildir::MessageFileBase("Mailbox", *second, host_.workDir()) == firstBase);
    EXPECT_EQ(c.sameName, maildir::StableMessageId(*second, host_.workDir()) == firstId);
  }
}

TEST_F(MaildirWriterTest, ResumedRunFindsWhatAnInterruptedOneWrote) {
  Record r = NewRecord("ID-R", {{kPartTextBody, "Message.txt", "once"}});
  r->unread = 1;
  std::string path = WriteOne(*r);
  EXPECT_EQ(path.substr(path.size() - 3), ":2,") << "an unread mail has no flags";
  const std::string base = maildir::MessageFileBase("Mailbox", *r, host_.workDir());
  // A mail program meanwhile marked it read and replied; a half-written file waits in tmp/.
  ASSERT_EQ(rename(path.c_str(), (mail_ + "/cur/" + base + ":2,RS").c_str()), 0);
  ASSERT_TRUE(WriteFileBytes(mail_ + "/tmp/" + base, "From: half"));

  maildir::MaildirFolder folder;
  std::string error;
  ASSERT_EQ(maildir::OpenMaildirFolder(mail_, "Mailbox", &folder, &error), 0) << error;
  EXPECT_EQ(folder.staleRemoved, 1);
  EXPECT_TRUE(ListDirectory(mail_ + "/tmp").empty());
  EXPECT_EQ(maildir::WriteMaildirMessage(&folder, *r, host_.workDir(), nullptr, &error), maildir::kWriteAlreadyPresent);
  EXPECT_EQ(ListDirectory(mail_ + "/cur"), std::vector<std::string>{base + ":2,RS"});
  // A message a mail program moved back to new/ counts too.
  ASSERT_EQ(rename((mail_ + "/cur/" + base + ":2,RS").c_str(), (mail_ + "/new/" + base).c_str()), 0);
  ASSERT_EQ(maildir::OpenMaildirFolder(mail_, "Mailbox", &folder, &error), 0);
  EXPECT_EQ(maildir::WriteMaildirMessage(&folder, *r, host_.workDir(), nullptr, &error), maildir::kWriteAlreadyPresent);
  EXPECT_TRUE(ListDirectory(mail_ + "/cur").empty());
}

TEST_F(MaildirWriterTest, MissingPartFileFailsAndLeavesNothing) {
  Record r = NewRecord("ID-M", {{kPartTextBody, "Message.txt", "t"}, {kPartFile, "gone.pdf", "x"}});
  char path[512];
  FormatPartFileName(path, sizeof path, host_.workDir().c_str(), r->msgSeq, 1);
  ASSERT_EQ(remove(path), 0);
  maildir::MaildirFolder folder;
  std::string error;
  ASSERT_EQ(maildir::OpenMaildirFolder(mail_, "Mailbox", &folder, &error), 0);
  int64_t bytes = 99;
  EXPECT_EQ(maildir::WriteMaildirMessage(&folder, *r, host_.workDir(), &bytes, &error), maildir::kWriteFailed);
  EXPECT_NE(error.find("gone.pdf"), std::string::npos) << error;
  EXPECT_EQ(bytes, 0);
  EXPECT_TRUE(ListDirectory(mail_ + "/cur").empty());
  EXPECT_TRUE(ListDirectory(mail_ + "/tmp").empty());
  // Once the file is there the same item goes through.
  ASSERT_TRUE(WriteFileBytes(path, "x"));
  EXPECT_EQ(maildir::WriteMaildirMessage(&folder, *r, host_.workDir(), &bytes, &error), maildir::kWriteStored);
  EXPECT_GT(bytes, 0);
}

// Attached mails are written as messages a reader can open: never base64,
// binary only when the message holds bytes a 7bit or 8bit part cannot.
TEST_F(MaildirWriterTest, AttachedMailsAreMessagesInSevenBitEightBitOrBinary) {
  const std::string head = "From: a@example.com\nTo: b@example.com\nSubject: inner\nMessage-ID: <1@example.com>\n"
                           "MIME-Version: 1.0\n\n";
  const struct {
    const char *name;
    std::string bytes;
    const char *encoding, *why;
  } cases[] = {
      {"inner.eml", head + "plain ASCII body\n", "7bit", "ASCII text"},
      {"inner.eml", head + "Gr\xC3\xBC\xC3\x9F" "e\n", "8bit", "8-bit text"},
      {"inner.eml", head + std::string(1200, 'x') + "\n", "binary", "a line past 998 octets"},
      {"inner.eml", head + std::string("a\0b\n", 4), "binary", "a NUL byte"},
      {"Forwarded", head + "told by content, whatever the name\n", "7bit", "a name without extension"},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    Record r = NewRecord("id-rfc822-" + std::to_string(n++),
                         {{kPartTextBody, "Message.txt", "see attached\n"}, {kPartFile, c.name, c.bytes}});
    readback::Message m = ReadMessageFile(WriteOne(*r));
    ASSERT_TRUE(m.parsed);
    EXPECT_EQ(m.structure, "multipart/mixed(text/plain,message/rfc822)");
    ASSERT_EQ(m.leaves.size(), 2u);
    EXPECT_EQ(m.leaves[1].encoding, c.encoding);
    EXPECT_EQ(m.leaves[1].filename, c.name);
    EXPECT_EQ(m.leaves[1].bytes, c.bytes) << "the inner message, byte for byte";
  }
}

// The parts mail programs make are typed by what they hold: their names
// ("attachment", "signature.asc", "smime.p7s") say little.
TEST(GuessContentTypeTest, MailPartsByContentThenByName) {
  const std::string signedData("\x30\x80\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02\xA0\x80", 15);
  const std::string summary = "Subject: Plan\r\nFrom: Ann <ann@example.com>\r\nDate: Mon, 1 Mar 2021\r\n\r\nbody\r\n";
  const struct {
    const char *name;
    std::string head;
    bool whole;
    const char *type, *why;
  } cases[] = {
      {"signature.asc", "-----BEGIN PGP SIGNATURE-----\n\niQEz...\n-----END PGP SIGNATURE-----\n", true,
       "application/pgp-signature", "a detached PGP signature"},
      {"attachment", "Version: 1\r\n", true, "application/pgp-encrypted", "the PGP/MIME control part"},
      {"attachment", "Version: 1\r\n", false, "application/octet-stream", "only the start of a longer part"},
      {"key.asc", "-----BEGIN PGP PUBLIC KEY BLOCK-----\n", false, "application/pgp-keys", "a PGP key"},
      {"smime.p7s", signedData, true, "application/pkcs7-signature", "a DER PKCS#7 signature"},
      {"attachment", std::string("\x30\x82\x05\x10", 4) + signedData.substr(2), true, "application/pkcs7-signature",
       "the same with a definite length, any name"},
      {"attachment",
       "Reporting-MTA: dns; mx.example.com\n\nFinal-Recipient: rfc822; x@example.com\nAction: failed\n"
       "Status: 5.1.1\n",
       true, "message/delivery-status", "a delivery-status body"},
      {"attachment", "Received: from x\n\tby y\nFrom: a@example.com\nMessage-ID: <1@x>\n\n", true,
       "text/rfc822-headers", "a header block alone, folded lines too"},
      {"attachment", "Return-Path: <a@x>\nFrom: a@example.com\nSubject: s\n\nbody\n", true, "message/rfc822",
       "a whole mail"},
      {"Minutes", summary, true, "application/octet-stream", "the reader's summary of a mail is no mail"},
      {"notes.txt", "Just text: with a colon\n\nmore\n", true, "text/plain", "text with a colon is no header"},
      {"fix.patch", "--- a/x\n+++ b/x\n", true, "text/x-patch", "the shared MIME database by name"},
      {"photo", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), true, "image/png", "magic bytes without a name"},
      {"data", std::string("\x01\x02\x03", 3), true, "application/octet-stream", "nothing sure"},
      {"attachment-5.dat", "", true, "application/octet-stream", "an empty part is no type of its own"},
      {"attachment-1.txt", "\n<HTML><body>hi</body></HTML>\n", true, "text/html", "an HTML document, whatever its name"},
      {"testing.eml", "From: a@example.com\nMessage-ID: <2@x>\n\n", true, "message/rfc822",
       "a mail with an empty body, named as a mail"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::GuessAttachmentType(c.name, c.head, c.whole), c.type);
  }
}

TEST(GuessContentTypeTest, ByExtension) {
  const struct {
    const char *name, *type, *why;
  } cases[] = {
      {"report.pdf", "application/pdf", "common type"},
      {"PHOTO.JPG", "image/jpeg", "case ignored"},
      {"archive.tar.gz", "application/gzip", "the last extension counts"},
      {"README", "application/octet-stream", "no extension"},
      {".profile", "application/octet-stream", "a leading dot is no extension"},
      {"name.", "application/octet-stream", "a trailing dot is no extension"},
      {"x.unknownext", "application/octet-stream", "unknown extension"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::GuessContentType(c.name), c.type);
  }
}

}  // namespace

namespace {

// An original is copied in blocks, its writeback started as it grows: the
// file is the header and the original, byte for byte, however often that
// happens, synced or left to the group's sync.
TEST(OriginalFileTest, TheCopyIsWholeWhereverItsWritebackStarts) {
  TestHost host;
  ASSERT_EQ(host.Init(), 0);
  std::string original = "Received: by mx.example.com\r\nSubject: Big\r\n\r\n";
  for (int i = 0; original.size() < 700000; ++i) original += "line " + std::to_string(i) + " of the body\r\n";
  const std::string from = host.root() + "/original.eml";
  ASSERT_TRUE(testing_support::WriteFileBytes(from, original));
  const int64_t usual = maildir::WritebackInterval();
  for (int64_t interval : {usual, int64_t{4093}, int64_t{1}}) {
    for (bool sync : {true, false}) {
      SCOPED_TRACE(std::to_string(interval) + (sync ? " synced" : " left to the group's sync"));
      maildir::SetWritebackInterval(interval);
      const std::string to = host.root() + "/copy.eml";
      std::string error;
      const int64_t size = maildir::WriteOriginalFile("X-GW-Id: 1\n", from, to, sync, &error);
      ASSERT_GE(size, 0) << error;
      const std::string copy = testing_support::ReadFileBytes(to);
      EXPECT_EQ(copy, "X-GW-Id: 1\r\n" + original);
      EXPECT_EQ(size, static_cast<int64_t>(copy.size()));
      remove(to.c_str());
    }
  }
  maildir::SetWritebackInterval(usual);
}

}  // namespace
