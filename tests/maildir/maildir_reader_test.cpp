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
  Touch("Mailbox/cur/1700000004.M6.host!2,S");  // the separator where ":" is not allowed
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
                     "1700000004.M6.host!2,S seen",
                 }));
  EXPECT_EQ(maildir::ListMessages((Root() / "absent").string(), &messages, &error), -1);
  std::vector<maildir::FolderSource> folders;
  EXPECT_EQ(maildir::ListFolders(Root().string() + "/absent", &folders, &error), -1);
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
}

// A link placed in the tree must not lead the import to files elsewhere,
// nor round in circles; links within the tree are read as they stand.
TEST_F(MaildirReaderTest, LinksLeadingOutOfTheTreeOrBackUpAreNotFollowed) {
  struct Case {
    const char *why;
    void (*build)(const fs::path &tree, const fs::path &outside);
    std::vector<std::string> folders;   // as Folders() gives them
    std::vector<std::string> messages;  // file names in Mailbox
    std::vector<std::string> skipped;   // relative to the tree, then the reason
  };
  const char kOut[] = "a link leading outside the imported tree, not followed";
  const char kNowhere[] = "a link leading nowhere, not followed";
  const char kLoop[] = "a link back to a folder that holds it, not followed";
  const Case cases[] = {
      {"a message file linked to a file outside",
       [](const fs::path &tree, const fs::path &outside) {
         fs::create_symlink(outside / "secret", tree / "Mailbox/cur/1:2,S");
       },
       {"Mailbox=Mailbox"}, {"2:2,S"}, {"Mailbox/cur/1:2,S", kOut}},
      {"a message file linked to another message inside is read",
       [](const fs::path &tree, const fs::path &) {
         fs::create_symlink(tree / "Mailbox/cur/2:2,S", tree / "Mailbox/cur/1:2,S");
       },
       {"Mailbox=Mailbox"}, {"1:2,S", "2:2,S"}, {}},
      {"a dangling link leads nowhere",
       [](const fs::path &tree, const fs::path &) {
         fs::create_symlink(tree / "gone", tree / "Mailbox/new/3");
       },
       {"Mailbox=Mailbox"}, {"2:2,S"}, {"Mailbox/new/3", kNowhere}},
      {"a folder linked to a Maildir outside",
       [](const fs::path &tree, const fs::path &outside) {
         fs::create_symlink(outside, tree / "Stolen");
       },
       {"Mailbox=Mailbox"}, {"2:2,S"}, {"Stolen", kOut}},
      {"cur/ linked to a directory outside",
       [](const fs::path &tree, const fs::path &outside) {
         fs::remove_all(tree / "Mailbox/cur");
         fs::create_symlink(outside / "cur", tree / "Mailbox/cur");
       },
       {"Mailbox=Mailbox"}, {}, {"Mailbox/cur", kOut}},
      {"a folder linked back to the folder holding it",
       [](const fs::path &tree, const fs::path &) {
         fs::create_symlink(tree / "Mailbox", tree / "Mailbox/Again");
       },
       {"Mailbox=Mailbox"}, {"2:2,S"}, {"Mailbox/Again", kLoop}},
      {"a folder linked to another folder inside is read",
       [](const fs::path &tree, const fs::path &) {
         fs::create_directories(tree / "Cabinet");
         fs::create_symlink(tree / "Mailbox", tree / "Cabinet/Copy");
       },
       {"Cabinet^Copy=Cabinet/Copy", "Mailbox=Mailbox"}, {"2:2,S"}, {}},
  };
  const fs::path outside = fs::path(host_.root()) / "outside";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    fs::remove_all(Root());
    fs::remove_all(outside);
    for (const char *sub : {"cur", "new", "tmp"}) fs::create_directories(outside / sub);
    ASSERT_TRUE(testing_support::WriteFileBytes((outside / "secret").string(), "Subject: s\n\ns\n"));
    ASSERT_TRUE(testing_support::WriteFileBytes((outside / "cur/9:2,S").string(), "Subject: s\n\ns\n"));
    MakeMaildir("Mailbox");
    Touch("Mailbox/cur/2:2,S");
    c.build(Root(), outside);

    std::vector<maildir::FolderSource> folders;
    std::vector<std::string> skipped;
    std::string error;
    ASSERT_EQ(maildir::ListFolders(Root().string(), &folders, &error, &skipped), 0) << error;
    std::vector<std::string> gotFolders;
    for (const auto &f : folders)
      gotFolders.push_back(f.path + "=" + fs::path(f.directory).lexically_relative(Root()).string());
    EXPECT_EQ(c.folders, gotFolders);
    std::vector<maildir::MessageFile> messages;
    maildir::ListMessages((Root() / "Mailbox").string(), &messages, &error, Root().string(),
                          &skipped);
    std::vector<std::string> names;
    for (const auto &m : messages) names.push_back(m.name);
    EXPECT_EQ(c.messages, names);
    std::vector<std::string> expected;
    for (size_t i = 0; i + 1 < c.skipped.size(); i += 2)
      expected.push_back((Root() / c.skipped[i]).string() + ": " + c.skipped[i + 1]);
    EXPECT_EQ(expected, skipped);
  }
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
      {"&A,8-", "\xCF\xBF", "\",\" where base64 has \"/\""},
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
