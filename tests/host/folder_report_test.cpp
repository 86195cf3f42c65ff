// Folder tags into the tree and JSON that `mvmigrate folders` prints.
#include <gtest/gtest.h>

#include "host/mvmigrate/folder_report.h"

namespace {

TEST(FolderTag, SplitsPathCountAndClassFromTheEnd) {
  const struct {
    const char *tag;
    int rc;
    const char *path;
    int count, cls;
  } cases[] = {
      {"Mailbox^Projects {MV:12:FCLASS:0}", 0, "Mailbox^Projects", 12, 0},
      {"Calendar {MV:0:FCLASS:2}", 0, "Calendar", 0, 2},
      // A folder whose own name holds braces: the last " {MV:" counts.
      {"Odd {MV:1:FCLASS:1} name {MV:3:FCLASS:3}", 0, "Odd {MV:1:FCLASS:1} name", 3, 3},
      {"NoTag", -1, "", 0, 0},
      {"Bad {MV:x:FCLASS:0}", -1, "", 0, 0},
      {"Bad {MV:1:FCLASS:}", -1, "", 0, 0},
      {"Bad {MV:1:CLASS:0}", -1, "", 0, 0},
  };
  for (const auto &c : cases) {
    FolderEntry e;
    e.count = -7;
    EXPECT_EQ(ParseFolderTag(c.tag, &e), c.rc) << c.tag;
    if (c.rc == 0) {
      EXPECT_EQ(e.path, c.path);
      EXPECT_EQ(e.count, c.count);
      EXPECT_EQ(e.folderClass, c.cls);
    } else {
      EXPECT_EQ(e.count, -7) << "entry changed on a bad tag";
    }
  }
}

TEST(FolderJson, OneArrayInGivenOrderWithEscapedPaths) {
  std::vector<FolderEntry> folders = {
      {"Cabinet^Projects", 12, 0},
      {"Say \"hi\"\\now", 1, 1},
      {"Tab\there", 0, 2},
  };
  EXPECT_EQ(FolderJson(folders),
            "[\n"
            "  {\"path\": \"Cabinet^Projects\", \"class\": 0, \"count\": 12},\n"
            "  {\"path\": \"Say \\\"hi\\\"\\\\now\", \"class\": 1, \"count\": 1},\n"
            "  {\"path\": \"Tab\\there\", \"class\": 2, \"count\": 0}\n"
            "]\n");
  EXPECT_EQ(FolderJson({}), "[]\n");
  EXPECT_EQ(JsonString(std::string("a\x01z", 3)), "\"a\\u0001z\"");
}

TEST(FolderTree, ParentsBeforeChildrenSiblingsByNameAndSharedPathsKept) {
  // In the plug-in's order (sorted by the folder's own name), not tree order.
  std::vector<FolderEntry> folders = {
      {"Cabinet^Projects^2026", 4, 0}, {"Calendar", 9, 2}, {"Cabinet", 0, 0},
      {"Cabinet^projects^Old", 1, 0},  {"Contacts", 3, 1}, {"Contacts", 5, 1},
      {"Mailbox", 1, 0},              {"Orphan^Child", 2, 3},
  };
  EXPECT_EQ(FolderTree(folders),
            "Cabinet  (mail, 0 items)\n"
            "  Projects\n"
            "    2026  (mail, 4 items)\n"
            "  projects\n"
            "    Old  (mail, 1 item)\n"
            "Calendar  (calendar, 9 items)\n"
            "Contacts  (contacts, 3 items)\n"
            "Contacts  (contacts, 5 items)\n"
            "Mailbox  (mail, 1 item)\n"
            "Orphan\n"
            "  Child  (tasks, 2 items)\n");
}

}  // namespace
