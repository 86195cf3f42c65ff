// The folder table: the folder-list parser on answers shaped like the real
// server's, the paths, the bounds, and the order the host sees.
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

using plugin_test::Rows;

class FolderTableTest : public plugin_test::PluginTest {
 protected:
  void Parse(const std::string &fixture) {
    gRunSettings.fakeServer = 1;  // folders without a count are enumerated without traffic
    std::string saved = plugin_test::TestData("folders/" + fixture);
    ASSERT_EQ(1, ParseGWFolders(Reshaped(saved, "folders.xml").c_str()));
  }
};

// A getFolderListResponse holding these <gwt:folder> elements.
std::string FolderList(const std::string &folders) {
  return plugin_test::Answer("getFolderListResponse", "<gwm:folders>" + folders + "</gwm:folders>");
}
std::string FolderElement(const char *kind, const char *id, const char *name, const char *inner) {
  return std::string("<gwt:folder xsi:type=\"gwt:") + kind + "\"><gwt:id>" + id + "</gwt:id><gwt:name>" +
         name + "</gwt:name>" + inner + "</gwt:folder>";
}

TEST_F(FolderTableTest, FolderListAnswersGiveTheirRecords) {
  const std::string root =
      FolderElement("SystemFolder", "ROOT.alice@16", "alice", "<gwt:folderType>Root</gwt:folderType>");
  const std::string underRoot = "<gwt:parent>ROOT.alice@16</gwt:parent>";
  const std::string afterSettings =
      FolderElement("SystemFolder", "CAL@3", "Calendar",
                    (underRoot + "<gwt:count>4</gwt:count><gwt:folderType>Calendar</gwt:folderType>").c_str()) +
      FolderElement("Folder", "CAB@6", "Cabinet", (underRoot + "<gwt:count>1</gwt:count>").c_str());
  // The first block of the enumeration: one item in the folder, one elsewhere.
  const std::string mixedBlock = plugin_test::Answer(
      "readCursorResponse",
      "<gwm:items><gwt:item xsi:type=\"gwt:Appointment\"><gwt:id>IN@1</gwt:id>"
      "<gwt:container>F.alice@5</gwt:container></gwt:item>"
      "<gwt:item xsi:type=\"gwt:Appointment\"><gwt:id>OUT@1</gwt:id>"
      "<gwt:container>MBX.alice@1</gwt:container></gwt:item></gwm:items>");
  // Names past 250 characters: two that differ only after the cut, one of
  // exactly 250, and one whose cut falls inside a two-byte character.
  std::string sameStart(260, 'a'), exact(250, 'b'), accents;
  for (int i = 0; i < 130; ++i) accents += "\xc3\xa9";
  const std::string count = underRoot + "<gwt:count>1</gwt:count>";
  const std::string longNames = FolderList(
      root + FolderElement("Folder", "L1@7", (sameStart + "1").c_str(), count.c_str()) +
      FolderElement("Folder", "L2@7", (sameStart + "2").c_str(), count.c_str()) +
      FolderElement("Folder", "L3@7", exact.c_str(), count.c_str()) +
      FolderElement("Folder", "L4@7", accents.c_str(), count.c_str()));
  const std::string longRows = std::string(241, 'a') + "~ec083c18 0 1; " + std::string(241, 'a') +
                               "~ef0840d1 0 1; " + exact + " 0 1; " + accents.substr(0, 240) +
                               "~9ec9dc1d 0 1; ";
  // A name's text that would end the entry and open another if it were read
  // as markup: after a line break, and past the line's bound (2400).
  const std::string fakeEnd = "&lt;/gwt:folder&gt;";
  const std::string five = underRoot + "<gwt:count>5</gwt:count>";
  const std::string hostileNames = FolderList(
      root + FolderElement("Folder", "N1@7", ("Notes\n" + fakeEnd).c_str(), five.c_str()) +
      FolderElement("Folder", "N2@7", (std::string(2399, 'A') + fakeEnd).c_str(), five.c_str()));
  const std::string hostileRows =
      "Notes\n</gwt:folder> 0 5; " + std::string(241, 'A') + "~c410f606 0 5; ";
  const struct {
    const char *why;
    std::string answer;
    int d332;
    bool mixedBlock;  // the one enumerated folder's first block is mixedBlock
    const char *rows, *rootId;
  } cases[] = {
      {"only the root and Mailbox: one mail record", plugin_test::TestData("folders/root_and_mailbox.xml"), 0,
       false, "Mailbox 0 3; ", "ROOT@16"},
      // Contacts and UserContacts folders go to the address-book list; names
      // lose trailing blanks; calendars, the checklist and count-less folders
      // are enumerated (0 here); the display settings' name is not the calendar's.
      {"the full tree", plugin_test::TestData("folders/folder_list.xml"), 0, false,
       "Mailbox 0 12; Sent Items 0 0; Calendar 2 0; Calendar^Team dates 2 0; Checklist 3 0; "
       "Cabinet 0 0; Cabinet^Projects 0 7; Cabinet^Projects^2026 0 8; Cabinet^Shared out 0 10; "
       "Shared in 0 0; ",
       "7.dom.po.100.0.1.0.1@16"},
      {"empty display settings open no block",
       FolderList(root + FolderElement("SystemFolder", "MBX@1", "Mailbox",
                                       (underRoot + "<gwt:count>3</gwt:count><gwt:displaySettings/>"
                                                    "<gwt:folderType>Mailbox</gwt:folderType>").c_str()) +
                  afterSettings),
       0, false, "Mailbox 0 3; Calendar 2 0; Cabinet 0 1; ", "ROOT.alice@16"},
      {"display settings with attributes closed on their own line",
       FolderList(root + FolderElement("Folder", "P@7", "Projects",
                                       (underRoot + "<gwt:displaySettings xsi:nil=\"true\" />"
                                                    "<gwt:count>2</gwt:count>").c_str()) +
                  afterSettings),
       0, false, "Projects 0 2; Calendar 2 0; Cabinet 0 1; ", "ROOT.alice@16"},
      {"/D332: a calendar counts only its own items",
       FolderList(root + FolderElement("SystemFolder", "F.alice@5", "Dates",
                                       (underRoot + "<gwt:folderType>Calendar</gwt:folderType>").c_str())),
       1, true, "Dates 2 1; ", "ROOT.alice@16"},
      {"/D332: a task list counts only its own items",
       FolderList(root + FolderElement("SystemFolder", "F.alice@5", "Tasks",
                                       (underRoot + "<gwt:folderType>Checklist</gwt:folderType>").c_str())),
       1, true, "Tasks 3 1; ", "ROOT.alice@16"},
      {"/D332 leaves mail folders counting every item",
       FolderList(root + FolderElement("Folder", "F.alice@5", "Notes", underRoot.c_str())), 1, true,
       "Notes 0 2; ", "ROOT.alice@16"},
      {"without /D332 a calendar counts every item",
       FolderList(root + FolderElement("SystemFolder", "F.alice@5", "Dates",
                                       (underRoot + "<gwt:folderType>Calendar</gwt:folderType>").c_str())),
       0, true, "Dates 2 2; ", "ROOT.alice@16"},
      {"names past 250 characters keep their start and a digest of the whole name, so folders "
       "differing after the cut stay apart; a name of 250 stays as it is",
       longNames, 0, false, longRows.c_str(), "ROOT.alice@16"},
      {"a name's text never reads as markup: after a line break it stays in the name; past the "
       "line's bound it is read past (the name is the 1023 characters held)",
       hostileNames, 0, false, hostileRows.c_str(), "ROOT.alice@16"},
  };
  Connect("<folder id=\"F.alice@5\" name=\"Dates\" type=\"Calendar\"/>");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    FreeFolderTable();
    gRunSettings.d332 = c.d332;
    if (c.mixedBlock) FaultNext(2, 200, mixedBlock);  // 1: createCursorRequest
    ASSERT_EQ(1, ParseGWFolders(Reshaped(c.answer, "folders.xml").c_str()));
    EXPECT_EQ(c.rows, Rows());
    EXPECT_STREQ(c.rootId, gRootFolderId);
    server_.ClearFaults();
  }
}

TEST_F(FolderTableTest, SharingBitsAndResourceCalendarChooseTheFolders) {
  const std::string own =
      "Mailbox; Sent Items; Calendar; Calendar^Team dates; Checklist; Cabinet; Cabinet^Projects; "
      "Cabinet^Projects^2026; ";
  const struct {
    const char *why;
    int d70, d300;
    const char *recipType;
    std::string paths;
  } cases[] = {
      {"bit 0 keeps ordinary folders only", 1, 0, "User", own},
      {"bits 1 and 2 keep shared folders only", 6, 0, "User", "Shared out; Shared in; "},
      {"bit 1 keeps folders shared by me", 2, 0, "User", "Shared out; "},
      {"bit 2 keeps folders shared to me", 4, 0, "User", "Shared in; "},
      {"without /D300 a resource mailbox keeps its calendars", 0, 0, "Resource",
       own + "Cabinet^Shared out; Shared in; "},
      {"a resource mailbox offers its Mailbox as the calendar", 0, 1, "resource",
       "Calendar 2 0; Sent Items 0 0; Checklist 3 0; Cabinet 0 0; Cabinet^Projects 0 7; "
       "Cabinet^Projects^2026 0 8; Cabinet^Shared out 0 10; Shared in 0 0; "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    FreeFolderTable();
    gRunSettings.d70 = c.d70;
    gRunSettings.d300 = c.d300;
    CopyText(gSession.userRecipType, sizeof gSession.userRecipType, c.recipType);
    Parse("folder_list.xml");
    EXPECT_EQ(c.paths, Rows(c.d300 != 0));
  }
}

TEST_F(FolderTableTest, ParentChainsEndAtMissingParentsAndLoops) {
  AddFolderRecord(0, "A", "B", "a", kFolderClassMail, 1);     // 0: A -> B -> A ...
  AddFolderRecord(0, "B", "A", "b", kFolderClassMail, 1);     // 1
  AddFolderRecord(0, "S", "S", "self", kFolderClassMail, 1);  // 2: its own parent
  AddFolderRecord(0, "C", "GONE", "c", kFolderClassMail, 1);  // 3: parent not listed
  // At most as many steps as records: a loop is cut, not followed forever.
  const struct { int index; const char *path; } cases[] = {
      {0, "a^b^a^b^a"}, {2, "self^self^self^self^self"}, {3, "c"}};
  for (const auto &c : cases) {
    char path[kFolderTextSize];
    CopyText(path, sizeof path, gFolderTable.records[c.index]->name);
    BuildFolderPath(path, sizeof path, c.index);
    EXPECT_STREQ(c.path, path);
  }
}

TEST_F(FolderTableTest, LongTextsAndAFullTableAreCut) {
  std::string longId(3000, 'x'), name(200, 'n');
  ASSERT_EQ(1, AddFolderRecord(5, longId.c_str(), "P", "Inbox   ", kFolderClassMail, 1));
  EXPECT_EQ(size_t(kFolderTextSize - 1), strlen(gFolderTable.records[0]->id));
  FreeFolderTable();
  for (int i = 0; i < 20; ++i) {  // a path deeper than its buffer
    std::string id = "F" + std::to_string(i), parent = "F" + std::to_string(i - 1);
    AddFolderRecord(0, id.c_str(), parent.c_str(), name.c_str(), kFolderClassMail, 1);
  }
  char path[kFolderTextSize];
  CopyText(path, sizeof path, name.c_str());
  BuildFolderPath(path, sizeof path, 19);
  EXPECT_EQ(size_t(kFolderTextSize - 1), strlen(path));
  while (gFolderTable.count < kMaxFolders)
    ASSERT_EQ(1, AddFolderRecord(0, "ID", "P", "n", kFolderClassMail, 1));
  EXPECT_EQ(0, AddFolderRecord(0, "ID", "P", "n", kFolderClassMail, 1));
  Parse("root_and_mailbox.xml");
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
  // Enough equal names that an unstable sort (which keeps order only in short
  // runs) would reorder them.
  std::vector<std::string> sameNames;
  for (int i = 0; i < 48; ++i) {
    AddFolderRecord(100 + i, "S", "R", i % 2 ? "Same" : "sAME", kFolderClassMail, 1);
    sameNames.push_back(std::string(i % 2 ? "Same" : "sAME") + " {MV:" + std::to_string(100 + i) +
                        ":FCLASS:0}");
  }
  std::vector<std::string> expected = {
      "Alpha {MV:3:FCLASS:3}", "beta {MV:4:FCLASS:0}", "Inbox {MV:2:FCLASS:2}",
      "inbox {MV:9:FCLASS:1}", "INBOX {MV:1:FCLASS:0}"};
  expected.insert(expected.end(), sameNames.begin(), sameNames.end());
  for (int pass = 0; pass < 2; ++pass) {  // a second call gives the same order
    gTags.clear();
    EXPECT_EQ(0, GetFolderNames(0, CollectTag));
    EXPECT_EQ(expected, gTags) << "pass " << pass;
  }
  for (int index : {3, 53, -1}) {  // indexes follow the sorted order; others give ""
    char path[kHostPathSize] = "stale";
    EXPECT_EQ(index, GetTrueFolder(index, path));
    EXPECT_STREQ(index == 3 ? "inbox" : "", path) << index;
  }
}

}  // namespace
