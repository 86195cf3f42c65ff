// The Maildir export store: each write lands in the folder opened last, and
// a folder that cannot be opened makes the writes fail rather than letting
// them go into the folder before. The import source: a large message gets
// the key a small one would.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/maildir/maildir_store.h"
#include "host/maildir/message_import.h"
#include "maildir/message_readback.h"
#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "support/host_fixture.h"

namespace {

using readback::ListDirectory;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

TEST(MaildirStoreTest, WritesGoIntoTheFolderOpenedLast) {
  TestHost host;
  ASSERT_EQ(host.Init(), 0);
  const std::string out = host.root() + "/out/";
  // A file where a folder's first level would go: that folder cannot be made.
  std::filesystem::create_directories(out + "mail");
  ASSERT_TRUE(WriteFileBytes(out + "mail/Blocked", "not a directory"));
  std::unique_ptr<store::ExportStore> maildirStore = maildir::MakeMaildirExportStore(out);
  HostMessage record = {};
  record.msgSeq = 2;
  CopyText(record.messageId, sizeof record.messageId, "ONE.1@example.com");
  CopyText(record.subject, sizeof record.subject, "Status");

  std::string error;
  int64_t bytes = 0;
  EXPECT_EQ(maildirStore->Write(record, host.workDir(), &bytes, nullptr, &error), store::kFailed)
      << "no folder open yet";

  // Another item whose attachment file is gone: its message cannot be written.
  HostMessage partless = record;
  CopyText(partless.messageId, sizeof partless.messageId, "TWO.1@example.com");
  HostPart missing = {};
  CopyText(missing.name, sizeof missing.name, "gone.pdf");
  partless.parts[0] = &missing;
  partless.partCount = 1;

  const struct {
    const char *folder;
    const HostMessage *item;
    int openResult, writeResult;
    size_t mailboxFiles, projectsFiles;
    const char *why;
  } steps[] = {
      {"Mailbox", &record, 0, store::kStored, 1, 0, "the first write lands in OUT/mail/Mailbox/cur"},
      {"Mailbox", &record, 0, store::kAlreadyPresent, 1, 0, "opened again, the folder already holds the item"},
      {"Mailbox", &partless, 0, store::kFailed, 1, 0, "a message that cannot be written is a failure, not stored"},
      {"Blocked^Sub", &record, -1, store::kFailed, 1, 0, "a folder that cannot be made: the write fails, nothing in Mailbox"},
      {"Cabinet^Projects", &record, 0, store::kStored, 1, 1, "the next folder that opens takes its item"},
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(s.why);
    error.clear();
    EXPECT_EQ(maildirStore->OpenFolder(s.folder, &error), s.openResult) << error;
    EXPECT_EQ(maildirStore->Write(*s.item, host.workDir(), &bytes, nullptr, &error), s.writeResult) << error;
    EXPECT_EQ(maildirStore->Sync(&error), 0) << error;
    EXPECT_EQ(ListDirectory(out + "mail/Mailbox/cur").size(), s.mailboxFiles);
    EXPECT_EQ(ListDirectory(out + "mail/Cabinet/Projects/cur").size(), s.projectsFiles);
  }
}

}  // namespace

namespace {

// A large message is hashed beside its conversion: it must get the key and
// the legacy key it gets when hashed first, as a small one does.
TEST(MaildirImportSourceTest, ALargeMessageGetsTheKeyItsBytesGiveWhileItIsConverted) {
  TestHost host;
  ASSERT_EQ(host.Init(), 0);
  const std::string in = host.root() + "/in/";
  std::filesystem::create_directories(in + "mail/Mailbox/cur");
  std::filesystem::create_directories(in + "mail/Mailbox/new");
  std::filesystem::create_directories(in + "mail/Mailbox/tmp");
  const std::string head = "From: a@example.com\nSubject: Plans\nMIME-Version: 1.0\n";
  std::string large = head + "Message-ID: <large@example.com>\nContent-Type: application/octet-stream\n"
                             "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"big.bin\"\n\n";
  const std::string line = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\n";
  while (large.size() < (5u << 20)) large += line;
  ASSERT_TRUE(WriteFileBytes(in + "mail/Mailbox/cur/large:2,S", large));
  ASSERT_TRUE(WriteFileBytes(in + "mail/Mailbox/cur/small:2,S", head + "Message-ID: <small@example.com>\n\nhello\n"));

  std::unique_ptr<store::ImportSource> source = maildir::MakeMaildirImportSource(in);
  std::vector<store::SourceFolder> folders;
  std::string error;
  ASSERT_EQ(source->ListFolders(&folders, &error), 0) << error;
  ASSERT_EQ(folders.size(), 1u);
  std::vector<store::SourceItem> items;
  ASSERT_EQ(source->ListItems(folders[0], &items, &error), 0) << error;
  ASSERT_EQ(items.size(), 2u);
  for (store::SourceItem &item : items) {
    SCOPED_TRACE(item.name);
    const bool isLarge = item.name.find("large") != std::string::npos;
    source->Identify(&item);
    EXPECT_EQ(item.keyPending, isLarge) << "only a large message is hashed beside its conversion";
    std::unique_ptr<HostMessage> record(new HostMessage());
    std::string subject, reason;
    ASSERT_EQ(source->Convert(item, record.get(), &subject, nullptr, &reason), 0) << reason;
    source->AwaitIdentity(&item);
    EXPECT_FALSE(item.keyPending);
    std::string key, legacyKey, problem;
    ASSERT_EQ(maildir::MessageIdentity(item.file, &key, &legacyKey, &problem, nullptr), 0) << problem;
    EXPECT_EQ(item.key, key);
    EXPECT_EQ(item.legacyKey, legacyKey);
    EXPECT_EQ(item.legacyKey, isLarge ? "mid:large@example.com" : "mid:small@example.com");
    EXPECT_EQ(subject, "Plans");
    com_Deallocate_All(record.get(), nullptr);
  }
}

}  // namespace
