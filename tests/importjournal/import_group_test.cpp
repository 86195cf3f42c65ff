// The import's group commit: a message the server created is, at every
// moment, either committed in the migration state (as another connection
// to the database sees it) or listed in DATA/import-created.txt; a run
// after a kill records what is listed; the list keeps its whole lines only.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "host/mvmigrate/import_group.h"
#include "support/host_fixture.h"

namespace {

using testing_support::TestHost;
using testing_support::WriteFileBytes;

bool Exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class ImportGroupTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.Init(), 0); }
  std::string ListPath() const { return ImportCreatedPath(host_.dataDir()); }

  // The import records the state holds on disk, read as a killed run's
  // successor would: through a connection of its own.
  std::set<std::string> Committed() const {
    std::set<std::string> out;
    sqlite3 *db = nullptr;
    const std::string path = host_.dataDir() + "mvmigrate.db";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt *st = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT folder, item_key FROM migrated WHERE kind = 2", -1, &st, nullptr) ==
          SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW)
          out.insert(std::string(reinterpret_cast<const char *>(sqlite3_column_text(st, 0))) + "\n" +
                     reinterpret_cast<const char *>(sqlite3_column_text(st, 1)));
      }
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
  }

  std::set<std::string> Listed() const {
    std::vector<CreatedMessage> listed;
    ReadCreatedList(ListPath(), &listed);
    std::set<std::string> out;
    for (const CreatedMessage &m : listed) out.insert(m.scope + "\n" + m.key);
    return out;
  }

  TestHost host_;
};

TEST_F(ImportGroupTest, ACreatedMessageIsAlwaysCommittedOrListed) {
  ImportGroup group;
  BeginImportGroups(&group, ListPath(), false);
  std::set<std::string> created;
  for (int i = 0; i < 1203; ++i) {
    const CreatedMessage m = {"srv|bob|Mailbox", "sha256:" + std::to_string(i)};
    ASSERT_EQ(RecordCreatedMessage(&group, m), 0);
    created.insert(m.scope + "\n" + m.key);
    if (i % 100 != 0 && i != 1202) continue;
    SCOPED_TRACE("after message " + std::to_string(i));
    // As a kill sees them: at one instant, not across a commit the
    // recorder makes between the two reads.
    std::unique_lock<std::mutex> instant(group.mutex);
    const std::set<std::string> committed = Committed(), listed = Listed();
    instant.unlock();
    for (const std::string &c : created)
      ASSERT_TRUE(committed.count(c) + listed.count(c) > 0) << c << " would be lost by a kill now";
    EXPECT_LE(listed.size(), 500u) << "the list holds one group at most: each commit empties it";
  }
  EndImportGroups(&group);
  EXPECT_EQ(Committed(), created);
  EXPECT_FALSE(Exists(ListPath())) << "nothing left to list after the last commit";
}

TEST_F(ImportGroupTest, AKilledRunsListIsRecordedByTheNext) {
  // As a run killed before its group's commit leaves it: two whole lines,
  // one of them for a message already committed, and a line cut short.
  ASSERT_EQ(mvcom_RecordImported("s|u|Mailbox", "k1"), 0);
  ASSERT_TRUE(WriteFileBytes(ListPath(), "s|u|Mailbox\tk1\ns|u|Cabinet\\tTab\tk2\\\\x\ns|u|Mailbox\tk3"));
  std::set<std::string> passOver;
  bool keep = true;
  EXPECT_EQ(SettleCreatedMessages(ListPath(), &passOver, &keep), 1) << "k1 was recorded before";
  EXPECT_FALSE(keep);
  EXPECT_TRUE(passOver.empty());
  EXPECT_EQ(mvcom_IsImported("s|u|Cabinet\tTab", "k2\\x"), 1);
  EXPECT_EQ(mvcom_IsImported("s|u|Mailbox", "k3"), 0) << "a line cut short was never acknowledged whole";
  EXPECT_FALSE(Exists(ListPath()));
  EXPECT_EQ(SettleCreatedMessages(ListPath(), &passOver, &keep), 0) << "no list: nothing to do";
}

TEST_F(ImportGroupTest, OnlyWholeLinesAreRead) {
  const struct {
    std::string text;
    std::vector<std::string> expected;  // scope "|" key
    const char *why;
  } rows[] = {
      {"a\tb\nc\td\n", {"a|b", "c|d"}, "two whole lines"},
      {"a\tb\nc\td", {"a|b"}, "the last line without its end: cut short by a kill"},
      {"a\\tx\\n\\\\\tb\\r\n", {"a\tx\n\\|b\r"}, "tab, line end and backslash written escaped"},
      {"ab\n\tb\na\t\nc\td\n", {"c|d"}, "lines without a tab, scope or key"},
      {"", {}, "an empty list"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    ASSERT_TRUE(WriteFileBytes(ListPath(), row.text));
    std::vector<CreatedMessage> read;
    EXPECT_EQ(ReadCreatedList(ListPath(), &read), row.expected.size());
    std::vector<std::string> got;
    for (const CreatedMessage &m : read) got.push_back(m.scope + "|" + m.key);
    EXPECT_EQ(got, row.expected);
  }
}

TEST_F(ImportGroupTest, WhatIsNotedReadsBackAndClearingEmptiesTheList) {
  CreatedList list;
  std::string error;
  ASSERT_EQ(OpenCreatedList(ListPath(), &list, &error), 0) << error;
  const CreatedMessage odd = {"srv|u|Grüße\tKöln\\x", "sha256:a\nb\r"};
  ASSERT_EQ(NoteCreated(&list, odd), 0);
  ASSERT_EQ(NoteCreated(&list, {"srv|u|Mailbox", "k2"}), 0);
  std::vector<CreatedMessage> read;
  ASSERT_EQ(ReadCreatedList(ListPath(), &read), 2u);
  EXPECT_EQ(read[0].scope, odd.scope);
  EXPECT_EQ(read[0].key, odd.key);
  ASSERT_EQ(ClearCreatedList(&list), 0);
  EXPECT_EQ(ReadCreatedList(ListPath(), &read), 0u);
  ASSERT_EQ(NoteCreated(&list, {"srv|u|Mailbox", "k3"}), 0);
  ASSERT_EQ(ReadCreatedList(ListPath(), &read), 1u) << "written from the start again";
  EXPECT_EQ(read[0].key, "k3");
  CloseCreatedList(&list, true);
  EXPECT_FALSE(Exists(ListPath()));
  EXPECT_EQ(NoteCreated(&list, odd), -1) << "a closed list takes nothing";
}

}  // namespace
