// mvmigrate export of mail received from the Internet: each is written as
// the message that arrived (the server's "Mime.822"), byte for byte after
// the export's own header lines, so signatures verify with gpg and openssl,
// threads hold together in notmuch and attachments keep their types; the
// other attachments of such a mail are never fetched; a failed or killed
// download of an original never leaves a converted or partial message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "maildir/message_readback.h"
#include "support/host_fixture.h"
#include "support/mvmigrate_process.h"

namespace {

using readback::ListDirectory;
using readback::Message;
using readback::ReadMessageFile;
using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::RunMvmigrate;
using testing_support::RunResult;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

const char kCrLf[] = "\r\n";

// Shell word in single quotes.
std::string Quote(const std::string &text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// text with every lone "\n" made "\r\n".
std::string CrLf(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// One received mail: what GroupWise's record holds and the original.
struct Received {
  std::string id, subject, fromName, fromEmail, text, original;
  std::vector<gwsim::Attachment> files;  // the record's own attachments
};

class OriginalExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gwsim::Options options;
    options.mailboxFile = std::string(MVGWS_TEST_DATA) + "/gwsim/mail_mailbox.xml";
    server_ = std::make_unique<gwsim::Server>(options);
    ASSERT_TRUE(WriteFileBytes(host_.root() + "/pw", "secret\n"));
    keys_ = host_.root() + "/keys";
    ASSERT_EQ(RunCommand("mkdir -m 700 " + Quote(keys_)).exitCode, 0);
  }
  void TearDown() override {
    // The agent gpg started for the throwaway keys ends with them.
    RunCommand("GNUPGHOME=" + Quote(keys_) + " gpgconf --kill gpg-agent");
    if (server_) server_->Stop();
  }

  // Puts the mails into a folder "Received" of alice's and starts the server.
  void Serve(const std::vector<Received> &mails) {
    {
      auto lock = server_->mailbox().Lock();
      gwsim::Mailbox &box = server_->mailbox();
      gwsim::Folder folder;
      folder.parentId = box.FindUser("alice")->rootFolderId;
      folder.owner = "alice";
      folder.name = "Received";
      const std::string container = box.AddFolder(folder);
      int n = 0;
      for (const Received &m : mails) {
        gwsim::Item item;
        item.id = m.id;
        item.container = container;
        item.created = item.delivered = "2026-02-0" + std::to_string(++n) + "T10:00:00Z";
        item.source = "received";
        item.subject = m.subject;
        item.msgId = m.id + "@example.com";
        item.fromName = m.fromName;
        item.fromEmail = m.fromEmail;
        gwsim::Recipient alice;
        alice.displayName = "Alice Anders";
        alice.email = "alice@example.com";
        item.recipients.push_back(alice);
        gwsim::BodyPart body;
        body.contentType = "text/plain";
        body.data = m.text;
        item.bodies.push_back(body);
        item.attachments = m.files;
        gwsim::Attachment original;
        original.name = "Mime.822";
        original.contentType = "message/rfc822";
        original.hidden = true;
        original.data = m.original;
        item.attachments.push_back(original);
        ASSERT_EQ(box.AddItem(item), m.id);
      }
    }
    ASSERT_TRUE(server_->Start()) << server_->LastError();
  }

  std::string Args(const std::string &out, const std::string &extra = "") const {
    return "-q --out " + Quote(out) + " export --server " + server_->url() + " --user alice --password-file " +
           Quote(host_.root() + "/pw") + " --folder Received --no-rules " + extra;
  }

  // The exported file of the mail with this subject ("" when none or several).
  std::string FileOf(const std::string &out, const std::string &subject) const {
    std::string found;
    int count = 0;
    const std::string cur = out + "/mail/Received/cur/";
    for (const std::string &name : ListDirectory(cur)) {
      if (ReadMessageFile(cur + name).subject == subject) {
        found = cur + name;
        ++count;
      }
    }
    return count == 1 ? found : "";
  }

  // The ids asked for with getAttachmentRequest.
  std::multiset<std::string> AttachmentRequests() const {
    std::multiset<std::string> ids;
    for (const gwsim::RecordedRequest &q : server_->Requests()) {
      if (q.requestName != "getAttachmentRequest") continue;
      size_t start = q.body.find("<id>"), end = q.body.find("</id>");
      if (start != std::string::npos && end != std::string::npos) ids.insert(q.body.substr(start + 4, end - start - 4));
    }
    return ids;
  }

  // A PGP/MIME signed mail, signed with a key made now.
  Received PgpSigned() {
    const std::string env = "GNUPGHOME=" + Quote(keys_) + " ";
    RunResult made = RunCommand(env + "gpg --batch --passphrase '' --quick-gen-key 'Paula PGP <paula@example.com>' "
                                      "ed25519 sign never 2>&1");
    EXPECT_EQ(made.exitCode, 0) << made.output;
    const std::string part = CrLf("Content-Type: text/plain; charset=us-ascii\n\nThis text is signed.\n");
    EXPECT_TRUE(WriteFileBytes(keys_ + "/part.txt", part));
    RunResult signed_ = RunCommand(env + "gpg --batch --armor --detach-sign --local-user paula@example.com --output " +
                                   Quote(keys_ + "/part.asc") + " " + Quote(keys_ + "/part.txt") + " 2>&1");
    EXPECT_EQ(signed_.exitCode, 0) << signed_.output;
    Received m{"PGP.SIGNED@1", "PGP signed", "Paula PGP", "paula@example.com", "This text is signed.\n", "", {}};
    m.original = CrLf(
                     "From: Paula PGP <paula@example.com>\nTo: Alice Anders <alice@example.com>\nSubject: PGP signed\n"
                     "Date: Sun, 01 Feb 2026 10:00:00 +0000\nMessage-ID: <PGP.SIGNED@1@example.com>\nMIME-Version: 1.0\n"
                     "Content-Type: multipart/signed; micalg=pgp-sha512; protocol=\"application/pgp-signature\";\n"
                     " boundary=\"signed-1\"\n\n--signed-1\n") +
                 part + CrLf("\n--signed-1\nContent-Type: application/pgp-signature; name=\"signature.asc\"\n\n") +
                 CrLf(ReadFileBytes(keys_ + "/part.asc")) + CrLf("\n--signed-1--\n");
    return m;
  }

  // An S/MIME signed mail, signed with a certificate made now.
  Received SmimeSigned() {
    const std::string key = Quote(keys_ + "/smime.key"), cert = Quote(keys_ + "/smime.pem");
    RunResult made = RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout " + key + " -out " + cert +
                                " -subj '/CN=Sam SMIME/emailAddress=sam@example.com' 2>&1");
    EXPECT_EQ(made.exitCode, 0) << made.output;
    EXPECT_TRUE(WriteFileBytes(keys_ + "/smime.txt", "This text is signed with S/MIME.\n"));
    RunResult signed_ = RunCommand("openssl smime -sign -in " + Quote(keys_ + "/smime.txt") + " -signer " + cert +
                                   " -inkey " + key + " -from sam@example.com -to alice@example.com -subject " +
                                   "'S/MIME signed' -out " + Quote(keys_ + "/smime.eml") + " 2>&1");
    EXPECT_EQ(signed_.exitCode, 0) << signed_.output;
    Received m{"SMIME.SIGNED@1", "S/MIME signed", "", "sam@example.com", "This text is signed with S/MIME.\n", "", {}};
    m.original = "Date: Mon, 02 Feb 2026 10:00:00 +0000\nMessage-ID: <SMIME.SIGNED@1@example.com>\n" +
                 ReadFileBytes(keys_ + "/smime.eml");
    return m;
  }

  TestHost host_;
  std::unique_ptr<gwsim::Server> server_;
  std::string keys_;
};

Received Thread(const char *id, const char *subject, const std::string &replyTo) {
  Received m{id, subject, "Bob Berger", "bob@example.com", "About the kick-off.\n", "", {}};
  std::string threading;
  if (!replyTo.empty()) threading = "In-Reply-To: <" + replyTo + ">\nReferences: <" + replyTo + ">\n";
  m.original = CrLf("From: Bob Berger <bob@example.com>\nTo: Alice Anders <alice@example.com>\nSubject: " +
                    std::string(subject) + "\nDate: Tue, 03 Feb 2026 10:00:00 +0000\nMessage-ID: <" + id +
                    "@example.com>\n" + threading + "MIME-Version: 1.0\nContent-Type: text/plain\n\n" + m.text);
  return m;
}

// A mail whose attachments have types the record cannot tell.
Received WithAttachments() {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  Received m{"FILES.MAIL@1", "Patch and data", "Carol Clark", "carol@example.com", "Two files.\n", "", {}};
  for (const auto &file : {std::make_pair("fix.patch", "--- a\n+++ b\n"), std::make_pair("data.bin", binary.c_str())}) {
    gwsim::Attachment a;
    a.name = file.first;
    a.contentType = "application/octet-stream";
    a.data = std::string(file.second, file.first == std::string("data.bin") ? binary.size() : strlen(file.second));
    m.files.push_back(a);
  }
  m.original = CrLf(
      "Received: from mx2.example.net (mx2.example.net [192.0.2.25]) by gw.example.com with ESMTPS\n"
      " id 4F1A2B3C for <alice@example.com>; Wed, 04 Feb 2026 10:00:02 +0000\n"
      "Received: from lists.example.com (lists.example.com [198.51.100.7]) by mx2.example.net with ESMTP\n"
      " id 77AB01 for <dev@lists.example.com>; Wed, 04 Feb 2026 10:00:01 +0000\n"
      "Received: from carol-laptop (dsl-203-0-113-9.example.org [203.0.113.9]) by lists.example.com\n"
      " with ESMTPSA id 0C0FFEE for <dev@lists.example.com>; Wed, 04 Feb 2026 10:00:00 +0000\n"
      "From: Carol Clark <carol@example.com>\nTo: Alice Anders <alice@example.com>\nSubject: Patch and data\n"
      "Date: Wed, 04 Feb 2026 10:00:00 +0000\nMessage-ID: <FILES.MAIL@1@example.com>\nList-Id: <dev.example.com>\n"
      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"files\"\n\n--files\n"
      "Content-Type: text/plain\n\nTwo files.\n--files\nContent-Type: text/x-diff; name=\"fix.patch\"\n"
      "Content-Disposition: attachment; filename=\"fix.patch\"\n\n--- a\n+++ b\n\n--files\n"
      "Content-Type: application/x-example-data; name=\"data.bin\"\nContent-Disposition: attachment; "
      "filename=\"data.bin\"\nContent-Transfer-Encoding: base64\n\n"
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\n"
      "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx\n"
      "cnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmq\n"
      "q6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj\n"
      "5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==\n--files--\n");
  return m;
}

TEST_F(OriginalExportTest, ReceivedMailLeavesAsItArrived) {
  std::vector<Received> mails = {PgpSigned(), SmimeSigned(), Thread("THREAD.PARENT@1", "Kick-off", ""),
                                 Thread("THREAD.REPLY@1", "Re: Kick-off", "THREAD.PARENT@1@example.com"),
                                 WithAttachments()};
  Serve(mails);
  const std::string out = host_.root() + "/out", reportPath = host_.root() + "/report.json";
  RunResult r = RunMvmigrate(Args(out, "--report " + Quote(reportPath)));
  ASSERT_EQ(r.exitCode, 0) << r.output;

  for (const Received &m : mails) {
    SCOPED_TRACE(m.subject);
    const std::string file = FileOf(out, m.subject);
    ASSERT_FALSE(file.empty()) << "one message file";
    const std::string bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), m.original.size());
    EXPECT_EQ(bytes.substr(bytes.size() - m.original.size()), m.original) << "the original, byte for byte";
    // Only the export's own line before it, ended as the original's first line is.
    const size_t firstEnd = m.original.find('\n');
    const bool crlf = firstEnd != std::string::npos && firstEnd > 0 && m.original[firstEnd - 1] == '\r';
    EXPECT_EQ(bytes.substr(0, bytes.size() - m.original.size()),
              "X-GroupWise-Id: " + m.id + "@example.com" + (crlf ? kCrLf : "\n"));
  }

  // Signatures made over the original's bytes still hold.
  {
    const std::string bytes = ReadFileBytes(FileOf(out, "PGP signed"));
    const std::string delimiter = "\r\n--signed-1\r\n";
    size_t first = bytes.find(delimiter), second = bytes.find(delimiter, first + 1);
    size_t end = bytes.find("\r\n--signed-1--");
    ASSERT_TRUE(first != std::string::npos && second != std::string::npos && end != std::string::npos);
    const std::string signedPart = bytes.substr(first + delimiter.size(), second - first - delimiter.size());
    size_t sigStart = bytes.find("\r\n\r\n", second) + 4;
    ASSERT_TRUE(WriteFileBytes(keys_ + "/out.txt", signedPart));
    ASSERT_TRUE(WriteFileBytes(keys_ + "/out.asc", bytes.substr(sigStart, end - sigStart)));
    RunResult verified = RunCommand("GNUPGHOME=" + Quote(keys_) + " gpg --batch --verify " + Quote(keys_ + "/out.asc") +
                                    " " + Quote(keys_ + "/out.txt") + " 2>&1");
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    EXPECT_NE(verified.output.find("Good signature from \"Paula PGP"), std::string::npos) << verified.output;
  }
  {
    RunResult verified = RunCommand("openssl smime -verify -in " + Quote(FileOf(out, "S/MIME signed")) + " -CAfile " +
                                    Quote(keys_ + "/smime.pem") + " -out " + Quote(keys_ + "/verified.txt") + " 2>&1");
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    EXPECT_NE(verified.output.find("Verification successful"), std::string::npos) << verified.output;
  }

  // The reply is threaded with its parent.
  EXPECT_NE(ReadFileBytes(FileOf(out, "Re: Kick-off")).find("\r\nIn-Reply-To: <THREAD.PARENT@1@example.com>\r\n"),
            std::string::npos);
  ASSERT_TRUE(WriteFileBytes(host_.root() + "/notmuch-config",
                             "[database]\npath=" + out + "/mail\n[new]\ntags=new\n[maildir]\nsynchronize_flags=false\n"));
  const std::string notmuch = "NOTMUCH_CONFIG=" + Quote(host_.root() + "/notmuch-config") + " notmuch ";
  ASSERT_EQ(RunCommand(notmuch + "new --quiet 2>&1").exitCode, 0);
  RunResult parent = RunCommand(notmuch + "search --output=threads id:THREAD.PARENT@1@example.com 2>&1");
  RunResult reply = RunCommand(notmuch + "search --output=threads id:THREAD.REPLY@1@example.com 2>&1");
  ASSERT_EQ(parent.exitCode, 0) << parent.output;
  EXPECT_EQ(parent.output.compare(0, 7, "thread:"), 0) << parent.output;
  EXPECT_EQ(reply.output, parent.output) << "one thread";

  // Attachment types and bytes are the original's, which the record has
  // no place for (it calls both application/octet-stream).
  ASSERT_TRUE(WriteFileBytes(host_.root() + "/files.eml", mails[4].original));
  const Message sent = ReadMessageFile(host_.root() + "/files.eml");
  const Message exported = ReadMessageFile(FileOf(out, "Patch and data"));
  ASSERT_EQ(exported.leaves.size(), 3u);
  ASSERT_EQ(sent.leaves.size(), exported.leaves.size());
  for (size_t i = 0; i < sent.leaves.size(); ++i) {
    EXPECT_EQ(exported.leaves[i].type, sent.leaves[i].type);
    EXPECT_EQ(exported.leaves[i].filename, sent.leaves[i].filename);
    EXPECT_EQ(exported.leaves[i].bytes, sent.leaves[i].bytes);
  }
  EXPECT_EQ(exported.leaves[2].type, "application/x-example-data");

  // Only the originals were fetched: none of the record's attachments.
  std::multiset<std::string> asked = AttachmentRequests();
  EXPECT_EQ(asked.count("FILES.MAIL@1#att1") + asked.count("FILES.MAIL@1#att2"), 0u);
  for (const Received &m : mails) EXPECT_EQ(asked.count(m.id + "#att" + std::to_string(m.files.size() + 1)), 1u) << m.id;
  EXPECT_EQ(asked.size(), mails.size());

  const std::string json = ReadFileBytes(reportPath);
  EXPECT_NE(json.find("\"mail_forms\": {\"as_received\": 5, \"converted\": 0, \"original_too_large\": 0}"),
            std::string::npos)
      << json;
  RunResult summary = RunMvmigrate(Args(host_.root() + "/again"));
  EXPECT_NE(summary.output.find("mail: 5 as received, 0 converted\n"), std::string::npos) << summary.output;

  // A rerun into the same tree writes nothing again.
  const std::vector<std::string> before = ListDirectory(out + "/mail/Received/cur");
  RunResult rerun = RunMvmigrate(Args(out));
  EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
  EXPECT_NE(rerun.output.find("Already exported, not written again (5):"), std::string::npos) << rerun.output;
  EXPECT_EQ(ListDirectory(out + "/mail/Received/cur"), before);
}

// The simulator's originals (the fixture's <original/>, the generator's)
// hold what the record holds: exported as received and converted, the
// mail shows the same subject, addresses and attachment bytes.
TEST_F(OriginalExportTest, SimulatorOriginalsAgreeWithTheirRecords) {
  {
    auto lock = server_->mailbox().Lock();
    gwsim::GeneratedAttachments files;
    files.perItem = 2;
    files.size = 3000;
    files.originals = true;
    ASSERT_TRUE(gwsim::GenerateMailbox(&server_->mailbox(), "alice", 0, 1, files));
  }
  Serve({});
  const std::string received = host_.root() + "/received", converted = host_.root() + "/converted";
  const std::string folders = "--folder Mailbox";
  ASSERT_EQ(RunMvmigrate(Args(received, folders)).exitCode, 0);
  ASSERT_EQ(RunMvmigrate(Args(converted, folders + " --no-originals")).exitCode, 0);
  // A mail without an original comes out as it does with originals off
  // (the same but for the MIME boundaries GMime draws).
  auto bySubject = [](const std::string &out) {
    std::map<std::string, Message> messages;
    for (const std::string &name : ListDirectory(out + "/mail/Mailbox/cur"))
      messages[ReadMessageFile(out + "/mail/Mailbox/cur/" + name).subject] = ReadMessageFile(out + "/mail/Mailbox/cur/" + name);
    return messages;
  };
  std::map<std::string, Message> withOriginals = bySubject(received), without = bySubject(converted);
  ASSERT_EQ(withOriginals.size(), 6u);
  ASSERT_EQ(without.size(), 6u);
  int same = 0;
  for (const auto &entry : withOriginals) {
    if (entry.first == "Grüße & <Angebote>" || entry.first == "Generated message 1") continue;
    SCOPED_TRACE(entry.first);
    const Message &a = entry.second, &b = without[entry.first];
    EXPECT_EQ(a.messageId, b.messageId);
    EXPECT_EQ(readback::AddressList(a.from) + readback::AddressList(a.to), readback::AddressList(b.from) + readback::AddressList(b.to));
    EXPECT_EQ(a.structure, b.structure);
    ASSERT_EQ(a.leaves.size(), b.leaves.size());
    for (size_t i = 0; i < a.leaves.size(); ++i) {
      EXPECT_EQ(a.leaves[i].filename, b.leaves[i].filename);
      EXPECT_EQ(a.leaves[i].bytes, b.leaves[i].bytes);
    }
    ++same;
  }
  EXPECT_EQ(same, 4);
  for (const char *subject : {"Grüße & <Angebote>", "Generated message 1"}) {
    SCOPED_TRACE(subject);
    auto read = [&](const std::string &out) {
      for (const std::string &name : ListDirectory(out + "/mail/Mailbox/cur")) {
        Message m = ReadMessageFile(out + "/mail/Mailbox/cur/" + name);
        if (m.subject == subject) return m;
      }
      return Message();
    };
    const Message a = read(received), b = read(converted);
    ASSERT_TRUE(a.parsed && b.parsed);
    EXPECT_NE(a.messageId, b.messageId) << "the original's own Message-ID, not the export's";
    EXPECT_EQ(readback::AddressList(a.from), readback::AddressList(b.from));
    EXPECT_EQ(readback::AddressList(a.to), readback::AddressList(b.to));
    EXPECT_EQ(a.date, b.date);
    std::map<std::string, std::string> filesA, filesB;
    for (const readback::Leaf &leaf : a.leaves)
      if (!leaf.filename.empty()) filesA[leaf.filename] = leaf.bytes;
    for (const readback::Leaf &leaf : b.leaves)
      if (!leaf.filename.empty() && leaf.filename != "Message.htm") filesB[leaf.filename] = leaf.bytes;
    EXPECT_FALSE(filesA.empty());
    EXPECT_EQ(filesA, filesB);
  }
}

struct FormCase {
  const char *extra;       // options of the run
  const char *structure;   // of the exported "Patch and data"
  const char *forms;       // the report's mail_forms ("" when absent)
  bool originalAsked;      // the original was fetched
  const char *why;
};

TEST_F(OriginalExportTest, ConvertedWhenTurnedOffOrTooLarge) {
  Serve({WithAttachments()});
  const FormCase cases[] = {
      {"--no-originals", "multipart/mixed(text/plain,text/x-patch,application/octet-stream)", "", false,
       "turned off: converted from the record as before"},
      {"--max-attach-size 1", "multipart/mixed(text/plain,text/x-patch,application/octet-stream)", "\"mail_forms\": {\"as_received\": 0, \"converted\": 1, \"original_too_large\": 1}",
       false, "an original above the limit: converted, its attachments (under the limit or not) as before"},
      {"--max-attach-size 2", "multipart/mixed(text/plain,text/x-diff,application/x-example-data)",
       "\"mail_forms\": {\"as_received\": 1, \"converted\": 0, \"original_too_large\": 0}", true,
       "an original within the limit"},
  };
  int n = 0;
  for (const FormCase &c : cases) {
    SCOPED_TRACE(c.why);
    server_->ClearRequests();
    const std::string out = host_.root() + "/out" + std::to_string(n++), reportPath = out + ".json";
    RunResult r = RunMvmigrate(Args(out, std::string(c.extra) + " --report " + Quote(reportPath)));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string file = FileOf(out, "Patch and data");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(ReadMessageFile(file).structure, c.structure);
    const std::string json = ReadFileBytes(reportPath);
    if (c.forms[0] == '\0') {
      EXPECT_EQ(json.find("mail_forms"), std::string::npos) << json;
    } else {
      EXPECT_NE(json.find(c.forms), std::string::npos) << json;
    }
    EXPECT_EQ(AttachmentRequests().count("FILES.MAIL@1#att3"), c.originalAsked ? 1u : 0u);
    if (std::string(c.extra) == "--max-attach-size 1") {
      EXPECT_NE(json.find("above the attachment size limit"), std::string::npos) << "a warning beside the item: " << json;
    }
  }
}

TEST_F(OriginalExportTest, FailedOrKilledDownloadLeavesNoPartialMessage) {
  // An original of 3 MB is read in 16 pieces.
  Received big = Thread("BIG.MAIL@1", "Big one", "");
  big.original += std::string(3000000, 'x') + kCrLf;
  Serve({big});
  const std::string out = host_.root() + "/out";

  // A piece refused: the item fails (listed for --retry-failed); it is
  // neither converted nor written in part.
  gwsim::Fault refuse;
  refuse.kind = gwsim::FaultKind::kStatus;
  refuse.requestName = "getAttachmentRequest";
  refuse.nameOrdinal = 3;
  server_->AddFault(refuse);
  RunResult failed = RunMvmigrate(Args(out));
  EXPECT_EQ(failed.exitCode, 75) << failed.output;
  EXPECT_NE(failed.output.find("Mime.822"), std::string::npos) << failed.output;
  EXPECT_TRUE(ListDirectory(out + "/mail/Received/cur").empty());
  server_->ClearFaults();

  // Killed while the pieces come in, then run again: one whole file.
  gwsim::Fault slow;
  slow.kind = gwsim::FaultKind::kDelay;
  slow.delayMs = 50;
  slow.requestName = "getAttachmentRequest";
  slow.times = 0;
  server_->AddFault(slow);
  server_->ClearRequests();
  pid_t child = testing_support::StartMvmigrate(Args(out));
  ASSERT_GE(child, 0);
  for (int wait = 0; wait < 2000 && AttachmentRequests().size() < 4; ++wait) usleep(10000);
  EXPECT_GE(AttachmentRequests().size(), 4u) << "killed during the download";
  testing_support::KillNow(child);
  EXPECT_TRUE(ListDirectory(out + "/mail/Received/cur").empty());
  server_->ClearFaults();
  RunResult last = RunMvmigrate(Args(out));
  ASSERT_EQ(last.exitCode, 0) << last.output;
  std::vector<std::string> files = ListDirectory(out + "/mail/Received/cur");
  ASSERT_EQ(files.size(), 1u);
  const std::string bytes = ReadFileBytes(out + "/mail/Received/cur/" + files[0]);
  EXPECT_EQ(bytes, std::string("X-GroupWise-Id: BIG.MAIL@1@example.com\r\n") + big.original);
  EXPECT_TRUE(ListDirectory(out + "/mail/Received/tmp").empty());
}

}  // namespace
