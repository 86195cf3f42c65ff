// Group commit of the migration state: records wait in one transaction until
// the batch is full, old enough, committed by the host or closed; the host's
// pre-commit callback runs before any of them reaches the database file, and
// when it fails the pending records are dropped rather than kept without
// their files.
#include <sqlite3.h>

#include "mvcom/mvcom_fixture.h"

namespace {

struct CommitProbe {
  std::string dbPath;
  int result = 0;              // what the callback returns
  int calls = 0;
  int committedAtCall = -1;    // committed records seen by the last call
};

// Records committed so far, as a second connection (another process after
// a crash) sees them.
int CommittedRecords(const std::string &dbPath) {
  sqlite3 *db = nullptr;
  int count = -1;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM migrated", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      count = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return count;
}

int ProbeCommit(void *user) {
  CommitProbe *probe = static_cast<CommitProbe *>(user);
  ++probe->calls;
  probe->committedAtCall = CommittedRecords(probe->dbPath);
  return probe->result;
}

enum Finish { kNothing, kCommit, kEnd, kShutdown };

TEST_F(MvcomTest, BatchedRecordsReachTheFileOnlyAfterThePreCommit) {
  struct Row {
    const char *why;
    int maxItems, maxMilliseconds, callbackResult, records;
    Finish finish;
    int committedBeforeFinish, committedAfter, calls, lastRecordResult, committedAtLastCall;
  };
  const Row rows[] = {
      {"below the batch size nothing is committed until the host commits", 3, 60000, 0, 2, kCommit, 0, 2, 1, 0, 0},
      {"a full batch commits by itself", 3, 60000, 0, 3, kNothing, 3, 3, 1, 0, 0},
      {"a full batch and one more: the extra one waits", 2, 60000, 0, 3, kNothing, 2, 2, 1, 0, 0},
      {"an old batch commits with the next record", 100, 0, 0, 2, kNothing, 2, 2, 2, 0, 1},
      {"ending the batch commits the rest", 3, 60000, 0, 4, kEnd, 3, 4, 2, 0, 3},
      {"closing the state commits the rest", 5, 60000, 0, 1, kShutdown, 0, 1, 1, 0, 0},
      {"a failing pre-commit drops the full batch", 2, 60000, -1, 2, kNothing, 0, 0, 1, -1, 0},
      {"a failing pre-commit on the host's commit drops the rest", 5, 60000, -1, 2, kCommit, 0, 0, 1, 0, 0},
  };
  int turn = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.why);
    ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
    CommitProbe probe;
    probe.dbPath = host_.dataDir() + "mvmigrate.db";
    probe.result = row.callbackResult;
    const std::string folder = "run" + std::to_string(++turn);
    const int before = CommittedRecords(probe.dbPath);
    ASSERT_EQ(mvcom_BeginBatch(row.maxItems, row.maxMilliseconds, &ProbeCommit, &probe), 0);
    int last = 0;
    for (int i = 0; i < row.records; ++i) {
      last = mvcom_RecordImported(folder.c_str(), ("key" + std::to_string(i)).c_str());
      if (i + 1 < row.records) {
        EXPECT_EQ(last, 0) << "record " << i;
      }
    }
    EXPECT_EQ(last, row.lastRecordResult);
    EXPECT_EQ(CommittedRecords(probe.dbPath) - before, row.committedBeforeFinish);
    switch (row.finish) {
      case kCommit: EXPECT_EQ(mvcom_CommitBatch(), row.callbackResult); break;
      case kEnd: EXPECT_EQ(mvcom_EndBatch(), 0); break;
      case kShutdown: mvcom_Shutdown(); break;
      case kNothing: break;
    }
    EXPECT_EQ(CommittedRecords(probe.dbPath) - before, row.committedAfter);
    EXPECT_EQ(probe.calls, row.calls);
    // The callback ran before its records were in the file.
    if (row.calls > 0) {
      EXPECT_EQ(probe.committedAtCall - before, row.committedAtLastCall);
    }
    mvcom_EndBatch();
  }
}

TEST_F(MvcomTest, PendingRecordsAreFoundAndCountOnce) {
  CommitProbe probe;
  probe.dbPath = host_.dataDir() + "mvmigrate.db";
  EXPECT_EQ(mvcom_BeginBatch(0, 1000, &ProbeCommit, &probe), -1);  // no batch of nothing
  ASSERT_EQ(mvcom_BeginBatch(2, 60000, &ProbeCommit, &probe), 0);
  EXPECT_EQ(mvcom_RecordImported("bob|Mailbox", "mid:a@x"), 0);
  EXPECT_EQ(mvcom_IsImported("bob|Mailbox", "mid:a@x"), 1);
  EXPECT_EQ(mvcom_RecordImported("bob|Mailbox", "mid:a@x"), 1);  // not a second pending record
  EXPECT_EQ(CommittedRecords(probe.dbPath), 0);
  EXPECT_EQ(probe.calls, 0);
  MessagePtr m = NewMessage();
  CopyText(m->messageId, sizeof m->messageId, "item@1");
  EXPECT_EQ(com_MsgIsDuplicate(m.get(), nullptr, kDupRecord, "Mailbox"), 0);  // the second: full
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(CommittedRecords(probe.dbPath), 2);
  EXPECT_EQ(com_MsgIsDuplicate(m.get(), nullptr, kDupAsk, "Mailbox"), 1);
  EXPECT_EQ(mvcom_EndBatch(), 0);
  EXPECT_EQ(probe.calls, 1);  // nothing was pending
  // Without a batch every record is committed at once again.
  EXPECT_EQ(mvcom_RecordImported("bob|Mailbox", "mid:b@x"), 0);
  EXPECT_EQ(CommittedRecords(probe.dbPath), 3);
}

// The plug-in asks about a rule while it writes the rule into its file: the
// record waits for the next item's commit, which comes after the file.
TEST_F(MvcomTest, ARuleRecordWaitsForTheNextItemsCommit) {
  CommitProbe probe;
  probe.dbPath = host_.dataDir() + "mvmigrate.db";
  ASSERT_EQ(mvcom_BeginBatch(1, 0, &ProbeCommit, &probe), 0);  // every record due at once
  MessagePtr rule = NewMessage();
  CopyText(rule->subject, sizeof rule->subject, "Newsletters out of the way");
  EXPECT_EQ(com_MsgIsDuplicate(rule.get(), nullptr, kDupRule, "rules"), 0);
  EXPECT_EQ(CommittedRecords(probe.dbPath), 0);
  EXPECT_EQ(probe.calls, 0);
  EXPECT_EQ(com_MsgIsDuplicate(rule.get(), nullptr, kDupRule, "rules"), 1) << "pending, yet known";
  MessagePtr item = NewMessage();
  CopyText(item->messageId, sizeof item->messageId, "item@1");
  EXPECT_EQ(com_MsgIsDuplicate(item.get(), nullptr, kDupRecord, "Mailbox"), 0);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(CommittedRecords(probe.dbPath), 2);
  EXPECT_EQ(mvcom_EndBatch(), 0);
}

// A host that makes the files durable later has the records set aside:
// found by lookups, in the file only once the host confirms them, in the
// order set aside, dropped when it cannot, and dropped when the batch ends
// before it says.
TEST_F(MvcomTest, RecordsSetAsideWaitForTheHostsWord) {
  CommitProbe probe;
  probe.dbPath = host_.dataDir() + "mvmigrate.db";
  probe.result = MVCOM_COMMIT_LATER;
  ASSERT_EQ(mvcom_BeginBatch(2, 60000, &ProbeCommit, &probe), 0);
  EXPECT_EQ(mvcom_CommitSetAside(1), -1) << "nothing set aside";
  ASSERT_EQ(mvcom_RecordImported("F", "a"), 0);
  ASSERT_EQ(mvcom_RecordImported("F", "b"), 0);  // due: set aside
  ASSERT_EQ(mvcom_RecordImported("F", "c"), 0);
  ASSERT_EQ(mvcom_RecordImported("F", "d"), 0);  // due: a second group
  ASSERT_EQ(mvcom_RecordImported("F", "e"), 0);  // pending
  EXPECT_EQ(probe.calls, 2);
  EXPECT_EQ(mvcom_SetAsideCount(), 2);
  EXPECT_EQ(CommittedRecords(probe.dbPath), 0);
  for (const char *key : {"a", "b", "c", "d", "e"}) {
    EXPECT_EQ(mvcom_IsImported("F", key), 1) << key;
    EXPECT_EQ(mvcom_RecordImported("F", key), 1) << key << " is not made twice";
  }
  EXPECT_EQ(mvcom_CommitSetAside(1), 0);  // the oldest: a and b
  EXPECT_EQ(CommittedRecords(probe.dbPath), 2);
  EXPECT_EQ(mvcom_CommitSetAside(0), -1);  // c and d: their files are not durable
  EXPECT_EQ(mvcom_SetAsideCount(), 0);
  EXPECT_EQ(CommittedRecords(probe.dbPath), 2);
  EXPECT_EQ(mvcom_IsImported("F", "c"), 0);
  EXPECT_EQ(mvcom_IsImported("F", "a"), 1);
  EXPECT_EQ(mvcom_IsImported("F", "e"), 1);
  ASSERT_EQ(mvcom_RecordImported("F", "f"), 0);  // due with e: set aside
  EXPECT_EQ(mvcom_SetAsideCount(), 1);
  // A pair whose folder and key run together like a waiting one's is another record.
  ASSERT_EQ(mvcom_RecordImported("G", "a\nb"), 0);
  EXPECT_EQ(mvcom_IsImported("G\na", "b"), 0);
  EXPECT_EQ(mvcom_IsImported("G", "a\nb"), 1);
  EXPECT_EQ(mvcom_EndBatch(), -1) << "a group never confirmed is dropped";
  EXPECT_EQ(CommittedRecords(probe.dbPath), 2);  // G's went aside at the end, and was dropped too
  EXPECT_EQ(mvcom_IsImported("F", "e"), 0);
  EXPECT_EQ(mvcom_IsImported("F", "b"), 1);
}

// Each record carries the time it was made, in UTC, as the table's default
// writes it: what an earlier version's records hold too.
TEST_F(MvcomTest, RecordsCarryTheUtcTimeTheyWereMade) {
  const char *zone = getenv("TZ");
  const std::string savedZone = zone != nullptr ? zone : "";
  setenv("TZ", "America/New_York", 1);  // a host clock away from UTC must not show
  tzset();
  ASSERT_EQ(mvcom_RecordImported("Inbox", "timed"), 0);
  mvcom_Shutdown();
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((host_.dataDir() + "mvmigrate.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt *st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "SELECT migrated_at GLOB '[0-9][0-9][0-9][0-9]-[0-1][0-9]-[0-3][0-9] "
                               "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]', "
                               "abs(strftime('%s', migrated_at) - strftime('%s', 'now')) FROM migrated "
                               "WHERE item_key = 'timed'",
                               -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1) << sqlite3_column_text(st, 0);
  EXPECT_LE(sqlite3_column_int(st, 1), 5) << "seconds from now, UTC";
  sqlite3_finalize(st);
  sqlite3_close(db);
  if (zone != nullptr)
    setenv("TZ", savedZone.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
