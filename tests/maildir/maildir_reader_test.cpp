// Folder discovery in Maildir trees as the export writes them and as mail
// programs leave them, and the message files of a folder with their flags.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/maildir/maildir_reader.h"
#include "support/host_fixture.h"

namespace fs = std::filesystem;

namespace {

class MaildirReaderTest : public ::testing::Test {
 protected:
  void MakeMaildir(const std::string &relative) {
    for (const char *sub : {"cur", "new", "tmp"}) fs::create_directories(Root() / relative / sub);
  }
  void Touch(const std::string &relative) {
    ASSERT_TRUE(testing_support::WriteFileBytes((Root() / relative).string(), "Subject: x\n\nx\n"));
  }
  fs::path Root() const { return fs::path(host_.root()) / "tree"; }
  // "path=directory relative to the root" per folder, in the order listed.
  std::vector<std::string> Folders() {
    std::vector<maildir::FolderSource> folders;
    std::string error;
    EXPECT_EQ(maildir::ListFolders(Root().string(), &folders, &error), 0) << error;
    std::vector<std::string> out;
    for (const auto &f : folders)
      out.push_back(f.path + "=" + fs::relative(f.directory, Root()).string());
    return out;
  }
  testing_support::TestHost host_;
};

TEST_F(MaildirReaderTest, NestedTreeMapsTopLevelsAndDecodesLevels) {
  MakeMaildir("Inbox");
  MakeMaildir("Sent");
  MakeMaildir("Cabinet/Projects");
  MakeMaildir("Cabinet/Projects/Sent");  // only the top level is mapped
  MakeMaildir("Cabinet/a%2Fb");
  MakeMaildir("Cabinet/%6Eew");
  MakeMaildir(".old");  // no Maildir at the root: a dot is part of the name
  fs::create_directories(Root() / "Empty");  // neither cur nor new: no folder
  EXPECT_EQ(Folders(), (std::vector<std::string>{
                           ".old=.old",
                           "Cabinet^Projects=Cabinet/Projects",
                           "Cabinet^Projects^Sent=Cabinet/Projects/Sent",
                           "Cabinet^a/b=Cabinet/a%2Fb",
                           "Cabinet^new=Cabinet/%6Eew",
                           "Mailbox=Inbox",
                           "Sent Items=Sent",
                       }));
}

TEST_F(MaildirReaderTest, MaildirPlusPlusRootIsTheMailbox) {
  MakeMaildir("");
  MakeMaildir(".Sent Messages");
  MakeMaildir(".Archive.2019");
  MakeMaildir(".Entw&APw-rfe");
  MakeMaildir(".R&-D");
  fs::create_directories(Root() / ".Trash-notes");  // no Maildir
  EXPECT_EQ(Folders(), (std::vector<std::string>{
                           "Archive^2019=.Archive.2019",
                           "Entwürfe=.Entw&APw-rfe",
                           "Mailbox=.",
                           "R&D=.R&-D",
                           "Sent Items=.Sent Messages",
                       }));
}

TEST_F(MaildirReaderTest, MessagesComeFromCurAndNewWithTheirSeenFlagAndAbsentTreesFail) {
  MakeMaildir("Mailbox");
  Touch("Mailbox/cur/1700000002.M1.host:2,RS");
  Touch("Mailbox/cur/1700000001.M2.Server:2,RF");  // the "S" of the host name is no flag
  Touch("Mailbox/new/1700000003.M3.host");
  Touch("Mailbox/new/1700000000.M4.host:2,S");  // in new/: not seen yet
  Touch("Mailbox/cur/.hidden:2,S");
  Touch("Mailbox/tmp/1700000005.M5.host");  // being delivered
  fs::create_directories(Root() / "Mailbox/cur/subdir");
  std::vector<maildir::MessageFile> messages;
  std::string error;
  ASSERT_EQ(maildir::ListMessages((Root() / "Mailbox").string(), &messages, &error), 0) << error;
  std::vector<std::string> got;
  for (const auto &m : messages) got.push_back(m.name + (m.seen ? " seen" : " unseen"));
  EXPECT_EQ(got, (std::vector<std::string>{
                     "1700000000.M4.host:2,S unseen",
                     "1700000001.M2.Server:2,RF unseen",
                     "1700000002.M1.host:2,RS seen",
                     "1700000003.M3.host unseen",
                 }));
  EXPECT_EQ(maildir::ListMessages((Root() / "absent").string(), &messages, &error), -1);
  std::vector<maildir::FolderSource> folders;
  EXPECT_EQ(maildir::ListFolders(Root().string() + "/absent", &folders, &error), -1);
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
}

struct Utf7Case {
  const char *in;
  const char *out;
  const char *why;
};

TEST(MaildirNamesTest, ModifiedUtf7DecodesAndKeepsWhatIsNot) {
  const Utf7Case kCases[] = {
      {"Entw&APw-rfe", "Entwürfe", "one character"},
      {"&ZeVnLIqe-", "日本語", "several characters in one run"},
      {"&2D3eAA-", "😀", "a surrogate pair"},
      {"R&-D", "R&D", "an escaped ampersand"},
      {"a&Zm9v", "a&Zm9v", "a run without its end stays"},
      {"&Zm9v-", "&Zm9v-", "leftover bits: not UTF-16"},
      {"&3gA-", "&3gA-", "a lone low surrogate"},
      {"&A*A-", "&A*A-", "a character outside the alphabet"},
      {"Plain", "Plain", "nothing to decode"},
  };
  for (const Utf7Case &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::DecodeModifiedUtf7(c.in), c.out);
  }
}

TEST(MaildirNamesTest, TopLevelNames) {
  const Utf7Case kCases[] = {
      {"INBOX", "Mailbox", "the Maildir++ name"},
      {"inbox", "Mailbox", "case ignored"},
      {"sent mail", "Sent Items", "as Gmail names it"},
      {"Sent Messages", "Sent Items", "as Apple Mail names it"},
      {"Inboxes", "Inboxes", "only the whole name"},
      {"Drafts", "Drafts", "other names stay"},
  };
  for (const Utf7Case &c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::MapTopLevel(c.in), c.out);
  }
}

}  // namespace
