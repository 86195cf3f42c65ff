// The folder table: the folder-list parser on answers shaped like the real
// server's, the paths, and the order the host sees.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "plugin_test_support.h"

namespace {

using plugin_test::ReshapeToFile;
using plugin_test::TestData;

struct Row {
  std::string path;
  int folderClass;
  int count;
};

std::vector<Row> TableRows() {
  std::vector<Row> rows;
  for (int i = 0; i < gFolderTable.count; ++i) {
    const FolderRecord *r = gFolderTable.records[i];
    rows.push_back({r->path, r->folderClass, r->itemCount});
  }
  return rows;
}

std::string Describe(const std::vector<Row> &rows) {
  std::string text;
  for (const Row &r : rows)
    text += r.path + " class=" + std::to_string(r.folderClass) + " count=" +
            std::to_string(r.count) + "\n";
  return text;
}

class FolderTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_test::ResetPluginState();
    host_.Init();
    plugin_test::UseHostDirectories(host_);
    // No server: folders without a count are "enumerated" without traffic.
    gRunSettings.fakeServer = 1;
  }
  void TearDown() override { plugin_test::ResetPluginState(); }

  // Parses a saved answer from the test data.
  void ParseFixture(const std::string &name) {
    std::string path = host_.workDir() + "folders.xml";
    ReshapeToFile(TestData("folders/" + name), path);
    ASSERT_EQ(1, ParseGWFolders(path.c_str()));
  }

  testing_support::TestHost host_;
};

TEST_F(FolderTableTest, RootAndMailboxOnlyGiveOneMailRecord) {
  ParseFixture("root_and_mailbox.xml");
  ASSERT_EQ(1, gFolderTable.count);
  EXPECT_STREQ("Mailbox", gFolderTable.records[0]->path);
  EXPECT_EQ(kFolderClassMail, gFolderTable.records[0]->folderClass);
  EXPECT_EQ(3, gFolderTable.records[0]->itemCount);
  EXPECT_EQ(1, gFolderTable.records[0]->countGiven);
  EXPECT_STREQ("ROOT@16", gRootFolderId);
  EXPECT_EQ(0, ParseGWFolders((host_.workDir() + "absent.xml").c_str()));
  EXPECT_EQ(1, gFolderTable.count);
}

TEST_F(FolderTableTest, FullTreeGivesPathsClassesAndServerCounts) {
  ParseFixture("folder_list.xml");
  // Contacts and UserContacts folders are left to the address-book list; the
  // display settings' own id and name are not the calendar's; names lose
  // their trailing blanks; folders without a count were enumerated (0 here).
  const std::vector<Row> expected = {
      {"Mailbox", 0, 12},          {"Sent Items", 0, 0},
      {"Calendar", 2, 0},          {"Calendar^Team dates", 2, 0},
      {"Checklist", 3, 0},         {"Cabinet", 0, 0},
      {"Cabinet^Projects", 0, 7},  {"Cabinet^Projects^2026", 0, 8},
      {"Cabinet^Shared out", 0, 10}, {"Shared in", 0, 0},
  };
  std::vector<Row> rows = TableRows();
  ASSERT_EQ(expected.size(), rows.size()) << Describe(rows);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].path, rows[i].path) << i;
    EXPECT_EQ(expected[i].folderClass, rows[i].folderClass) << rows[i].path;
    EXPECT_EQ(expected[i].count, rows[i].count) << rows[i].path;
  }
  EXPECT_STREQ("Projects", gFolderTable.records[6]->name);
  EXPECT_STREQ("7.dom.po.100.0.1.0.1@3", gFolderTable.records[2]->id);
  EXPECT_STREQ("7.dom.po.100.0.1.0.1@16", gRootFolderId);
}

TEST_F(FolderTableTest, SharingBitsAndResourceCalendarChooseTheFolders) {
  struct Case {
    const char *why;
    int d70;
    const char *recipType;
    int d300;
    std::vector<std::string> paths;
  };
  const std::vector<Case> cases = {
      {"bit 0 keeps ordinary folders only", 1, "User", 0,
       {"Mailbox", "Sent Items", "Calendar", "Calendar^Team dates", "Checklist", "Cabinet",
        "Cabinet^Projects", "Cabinet^Projects^2026"}},
      {"bits 1 and 2 keep shared folders only", 6, "User", 0, {"Shared out", "Shared in"}},
      {"bit 1 keeps folders shared by me", 2, "User", 0, {"Shared out"}},
      {"bit 2 keeps folders shared to me", 4, "User", 0, {"Shared in"}},
      {"a resource mailbox offers its Mailbox as the calendar", 0, "resource", 1,
       {"Calendar", "Sent Items", "Checklist", "Cabinet", "Cabinet^Projects",
        "Cabinet^Projects^2026", "Cabinet^Shared out", "Shared in"}},
      {"without /D300 a resource mailbox keeps its calendars", 0, "Resource", 0,
       {"Mailbox", "Sent Items", "Calendar", "Calendar^Team dates", "Checklist", "Cabinet",
        "Cabinet^Projects", "Cabinet^Projects^2026", "Cabinet^Shared out", "Shared in"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    FreeFolderTable();
    gRunSettings.d70 = c.d70;
    gRunSettings.d300 = c.d300;
    CopyText(gSession.userRecipType, sizeof gSession.userRecipType, c.recipType);
    ParseFixture("folder_list.xml");
    std::vector<std::string> paths;
    for (const Row &r : TableRows()) paths.push_back(r.path);
    EXPECT_EQ(c.paths, paths);
    if (c.d300 && !paths.empty()) {
      EXPECT_EQ(kFolderClassCalendar, gFolderTable.records[0]->folderClass);
    }
  }
}

TEST_F(FolderTableTest, RecordTextsAreTrimmedAndBounded) {
  std::string longId(3000, 'x');
  ASSERT_EQ(1, AddFolderRecord(5, longId.c_str(), "P", "Inbox   ", kFolderClassMail, 1));
  const FolderRecord *r = gFolderTable.records[0];
  EXPECT_STREQ("Inbox", r->name);
  EXPECT_STREQ("Inbox", r->path);
  EXPECT_STREQ("Inbox", r->sortName);
  EXPECT_EQ(size_t(kFolderTextSize - 1), strlen(r->id));
}

TEST_F(FolderTableTest, ParentChainsEndAtMissingParentsAndLoops) {
  AddFolderRecord(0, "A", "B", "a", kFolderClassMail, 1);     // 0: A -> B -> A ...
  AddFolderRecord(0, "B", "A", "b", kFolderClassMail, 1);     // 1
  AddFolderRecord(0, "S", "S", "self", kFolderClassMail, 1);  // 2: its own parent
  AddFolderRecord(0, "C", "GONE", "c", kFolderClassMail, 1);  // 3: parent not listed
  char path[kFolderTextSize];
  CopyText(path, sizeof path, "a");
  BuildFolderPath(path, sizeof path, 0);
  // At most as many steps as records: the loop is cut, not followed forever.
  EXPECT_EQ(std::string("a^b^a^b^a"), path);
  CopyText(path, sizeof path, "self");
  BuildFolderPath(path, sizeof path, 2);
  EXPECT_EQ(std::string("self^self^self^self^self"), path);
  CopyText(path, sizeof path, "c");
  BuildFolderPath(path, sizeof path, 3);
  EXPECT_STREQ("c", path);
}

TEST_F(FolderTableTest, DeepPathIsCutAtItsBuffer) {
  std::string name(200, 'n');
  for (int i = 0; i < 20; ++i) {
    std::string id = "F" + std::to_string(i), parent = "F" + std::to_string(i - 1);
    AddFolderRecord(0, id.c_str(), i == 0 ? "ROOT" : parent.c_str(), name.c_str(),
                    kFolderClassMail, 1);
  }
  char path[kFolderTextSize];
  CopyText(path, sizeof path, name.c_str());
  BuildFolderPath(path, sizeof path, 19);
  EXPECT_EQ(size_t(kFolderTextSize - 1), strlen(path));
}

TEST_F(FolderTableTest, FullTableTakesNoMoreFolders) {
  for (int i = 0; i < kMaxFolders; ++i)
    ASSERT_EQ(1, AddFolderRecord(0, "ID", "P", "n", kFolderClassMail, 1));
  EXPECT_EQ(0, AddFolderRecord(0, "ID", "P", "n", kFolderClassMail, 1));
  ParseFixture("root_and_mailbox.xml");
  EXPECT_EQ(kMaxFolders, gFolderTable.count);
}

std::vector<std::string> gTags;
int MV_CALL CollectTag(const char *tag) {
  gTags.push_back(tag);
  return 0;
}

TEST_F(FolderTableTest, FolderNamesAreSortedIgnoringCaseAndStable) {
  AddFolderRecord(4, "1", "R", "beta", kFolderClassMail, 1);
  AddFolderRecord(2, "2", "R", "Inbox", kFolderClassCalendar, 1);
  AddFolderRecord(3, "3", "R", "Alpha", kFolderClassTaskList, 1);
  AddFolderRecord(9, "4", "R", "inbox", kFolderClassAddressBook, 0);
  AddFolderRecord(1, "5", "R", "INBOX", kFolderClassMail, 1);
  gTags.clear();
  EXPECT_EQ(0, GetFolderNames(0, CollectTag));
  const std::vector<std::string> first = gTags;
  const std::vector<std::string> expected = {
      "Alpha {MV:3:FCLASS:3}", "beta {MV:4:FCLASS:0}", "Inbox {MV:2:FCLASS:2}",
      "inbox {MV:9:FCLASS:1}", "INBOX {MV:1:FCLASS:0}"};
  EXPECT_EQ(expected, first);
  gTags.clear();
  GetFolderNames(0, CollectTag);
  EXPECT_EQ(first, gTags);

  // Indexes follow the sorted order.
  char path[kHostPathSize];
  EXPECT_EQ(3, GetTrueFolder(3, path));
  EXPECT_STREQ("inbox", path);
  CopyText(path, sizeof path, "stale");
  EXPECT_EQ(5, GetTrueFolder(5, path));
  EXPECT_STREQ("", path);
  CopyText(path, sizeof path, "stale");
  EXPECT_EQ(-1, GetTrueFolder(-1, path));
  EXPECT_STREQ("", path);
}

}  // namespace
