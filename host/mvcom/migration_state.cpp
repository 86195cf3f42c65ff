// The migration state in SQLite: which items and mail rules were migrated
// already, so that a re-run does not hand the host an item twice.
#include <sqlite3.h>

#include <chrono>
#include <cinttypes>
#include <cstring>
#include <ctime>
#if !defined(_WIN32)
#include <mutex>
#endif
#include <string>
#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/mvcom/mvcom_host.h"
#include "host/mvcom/mvcom_state.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"

enum { kSchemaVersion = 1 };

// Record kinds in the table: a migrated item, an exported mail rule, a
// message imported into GroupWise.
enum { kStateItem = 0, kStateRule = 1, kStateImport = 2 };

static const char kCreateSchema[] =
    "CREATE TABLE IF NOT EXISTS migrated ("
    " kind INTEGER NOT NULL,"
    " folder TEXT NOT NULL,"
    " item_key TEXT NOT NULL,"
    " migrated_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S','now')),"
    " PRIMARY KEY (kind, folder, item_key)) WITHOUT ROWID;"
    "PRAGMA user_version = 1;";
static const char kSelectRecord[] =
    "SELECT 1 FROM migrated WHERE kind = ?1 AND folder = ?2 AND item_key = ?3";
static const char kInsertRecord[] =
    "INSERT OR IGNORE INTO migrated (kind, folder, item_key, migrated_at) VALUES (?1, ?2, ?3, ?4)";

static const char kSelectScope[] = "SELECT 1 FROM migrated WHERE kind = ?1 AND folder = ?2 LIMIT 1";

static sqlite3_stmt *gSelect = nullptr;
static sqlite3_stmt *gInsert = nullptr;
static sqlite3_stmt *gSelectScope = nullptr;

// A first run asks about every item of a folder that has no record yet, and
// a lookup in the table cost more than anything else the host does for a
// small item. So the state notes which scopes (kind and folder) held no
// record when it first asked about them, and keeps a Bloom filter of every
// key recorded since it was opened: a key of such a scope that the filter
// has never seen cannot be in the table. Any other key is looked up. The
// filter only ever answers "not there" for keys never added, so a rolled
// back batch (its keys are gone from the table, not from the filter) costs
// a lookup, never a wrong answer. 256 KiB: when it holds so many keys that
// it would answer "maybe" too often (one in thirty), it is emptied and the
// scopes it served are looked up from then on.
enum {
  kFilterWords = 1 << 15,
  kFilterBits = kFilterWords * 64,
  kFilterProbes = 3,
  kFilterFull = kFilterBits / 8,
};
struct NewScopes {
  std::unordered_map<std::string, bool> emptyAtStart;  // by ScopeName
  std::vector<uint64_t> filter;
  size_t keys = 0;  // added to the filter
};
static NewScopes gNewScopes;

// A record waiting for its commit: made, and found by lookups, but not yet
// in the table.
struct PendingRecord {
  int kind;
  std::string folder, key, madeAt;
};

// Group commit: while a batch is on, records wait in memory and are written
// in one transaction every maxItems records or maxMilliseconds, when the
// host asks and when the state is closed; the host's pre-commit callback
// runs right before. A callback that answers MVCOM_COMMIT_LATER sets the
// records aside instead, in order, until the host says their files are
// durable (mvcom_CommitSetAside).
struct StateBatch {
  bool on = false;
  int maxItems = 0;
  int maxMilliseconds = 0;
  MvcomPreCommit preCommit = nullptr;
  void *user = nullptr;
  std::vector<PendingRecord> pending;
  int64_t openedAt = 0;  // milliseconds, when the first of them was made
};
// Every record made and not yet written or dropped (pending or set aside),
// by RecordName, for lookups.
static std::unordered_set<std::string> gWaitingNames;
static std::deque<std::vector<PendingRecord>> gSetAside;
static StateBatch gBatch;

#if !defined(_WIN32)
// The import records created messages on a thread of its own while its
// read-ahead asks about the next ones: one caller at a time. Recursive,
// since a batch's pre-commit callback may ask too. (The Windows host has
// one thread, and its toolchain no std::mutex.)
static std::recursive_mutex gStateMutex;
struct StateGuard {
  StateGuard() { gStateMutex.lock(); }
  ~StateGuard() { gStateMutex.unlock(); }
  StateGuard(const StateGuard &) = delete;
  StateGuard &operator=(const StateGuard &) = delete;
};
#else
struct StateGuard {
  StateGuard() {}
};
#endif

static int64_t NowMilliseconds(void) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

static int ReadUserVersion(sqlite3 *db, int *version) {
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr) != SQLITE_OK) return -1;
  int rc = sqlite3_step(st);
  *version = rc == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
  sqlite3_finalize(st);
  return rc == SQLITE_ROW ? 0 : -1;
}

// Brings a new or older database to the current schema. Returns 0 or -1.
static int PrepareSchema(sqlite3 *db, const char *path) {
  int version = 0;
  if (ReadUserVersion(db, &version) != 0) {
    SetInitError("migration state %s is not readable: %s", path, sqlite3_errmsg(db));
    return -1;
  }
  if (version > kSchemaVersion) {
    SetInitError("migration state %s has schema version %d, newer than this program's %d", path,
                 version, kSchemaVersion);
    return -1;
  }
  if (version < kSchemaVersion && sqlite3_exec(db, kCreateSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    SetInitError("cannot create the migration state in %s: %s", path, sqlite3_errmsg(db));
    return -1;
  }
  return 0;
}

int OpenMigrationState(const char *path) {
  StateGuard guard;
  CloseMigrationState();
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    SetInitError("cannot open migration state %s: %s", path, db != nullptr ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return -1;
  }
  sqlite3_busy_timeout(db, 5000);
  // WAL keeps one commit per item cheap; NORMAL still survives a crash of the program.
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  if (PrepareSchema(db, path) != 0 ||
      sqlite3_prepare_v2(db, kSelectRecord, -1, &gSelect, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, kInsertRecord, -1, &gInsert, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, kSelectScope, -1, &gSelectScope, nullptr) != SQLITE_OK) {
    if (gMvcom.lastError[0] == '\0')
      SetInitError("cannot use migration state %s: %s", path, sqlite3_errmsg(db));
    sqlite3_finalize(gSelect);
    sqlite3_finalize(gInsert);
    sqlite3_finalize(gSelectScope);
    gSelect = gInsert = gSelectScope = nullptr;
    sqlite3_close(db);
    return -1;
  }
  gMvcom.stateDb = db;
  return 0;
}

void CloseMigrationState(void) {
  StateGuard guard;
  mvcom_EndBatch();
  sqlite3_finalize(gSelect);
  sqlite3_finalize(gInsert);
  sqlite3_finalize(gSelectScope);
  gSelect = gInsert = gSelectScope = nullptr;
  gNewScopes = NewScopes();
  gWaitingNames.clear();
  if (gMvcom.stateDb != nullptr) sqlite3_close(gMvcom.stateDb);
  gMvcom.stateDb = nullptr;
}

// FNV-1a 64 over the bytes of text and a separator after it.
static void HashText(uint64_t *hash, const char *text, size_t cap) {
  size_t len = strnlen(text, cap);
  for (size_t i = 0; i < len; ++i) {
    *hash ^= static_cast<unsigned char>(text[i]);
    *hash *= 1099511628211ULL;
  }
  *hash ^= 0x1F;
  *hash *= 1099511628211ULL;
}

static void HashNumber(uint64_t *hash, uint64_t value) {
  char digits[32];
  FormatText(digits, sizeof digits, "%" PRIu64, value);
  HashText(hash, digits, sizeof digits);
}

// The item's key: its GroupWise message id, or a hash of the fields that
// tell one item from another when the id is missing.
static std::string ItemKey(const HostMessage *r) {
  if (r->messageId[0] != '\0')
    return "id:" + std::string(r->messageId, strnlen(r->messageId, sizeof r->messageId));
  uint64_t hash = 14695981039346656037ULL;
  HashNumber(&hash, static_cast<uint64_t>(static_cast<uint32_t>(r->itemKind)));
  HashText(&hash, r->subject, sizeof r->subject);
  HashText(&hash, r->fromAddress, sizeof r->fromAddress);
  HashNumber(&hash, FileTimeToU64(r->sentTime));
  HashText(&hash, r->title, sizeof r->title);
  HashNumber(&hash, FileTimeToU64(r->startTime));
  HashText(&hash, r->firstName, sizeof r->firstName);
  HashText(&hash, r->lastName, sizeof r->lastName);
  HashText(&hash, r->email, sizeof r->email);
  // Notices, protected-header mail and fragments share subject, sender and
  // time: what they are sent to and what they hold tells them apart.
  char fingerprint[40];
  if (mvcom_ItemFingerprint(r, gMvcom.workDir.c_str(), fingerprint, sizeof fingerprint) != 0)
    fingerprint[0] = '\0';
  char text[80];
  FormatText(text, sizeof text, "hash:%016" PRIx64 ":%s", hash, fingerprint);
  return text;
}

// The key of the item last asked about. Between the question and the
// record the host translates addresses and drops oversized attachments:
// the record must go under the key that was asked for, or the next run
// would not find it.
struct AskedKey {
  const HostMessage *record = nullptr;
  int32_t msgSeq = 0;
  std::string messageId, subject, key;
};
static AskedKey gAsked;

static std::string AskKey(const HostMessage *r) {
  gAsked.record = r;
  gAsked.msgSeq = r->msgSeq;
  gAsked.messageId.assign(r->messageId, strnlen(r->messageId, sizeof r->messageId));
  gAsked.subject.assign(r->subject, strnlen(r->subject, sizeof r->subject));
  gAsked.key = ItemKey(r);
  return gAsked.key;
}

static std::string RecordKey(const HostMessage *r) {
  bool same = gAsked.record == r && gAsked.msgSeq == r->msgSeq &&
              gAsked.messageId == std::string(r->messageId, strnlen(r->messageId, sizeof r->messageId)) &&
              gAsked.subject == std::string(r->subject, strnlen(r->subject, sizeof r->subject));
  std::string key = same ? gAsked.key : ItemKey(r);
  gAsked = AskedKey();
  return key;
}

static int BindKey(sqlite3_stmt *st, int kind, const char *folder, const std::string &key) {
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (sqlite3_bind_int(st, 1, kind) != SQLITE_OK ||
      sqlite3_bind_text(st, 2, folder, -1, SQLITE_TRANSIENT) != SQLITE_OK ||
      sqlite3_bind_text(st, 3, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    return -1;
  return 0;
}

// The folder's length goes first, so that no folder and key together can
// spell another pair's name (folder and key texts may hold any character).
static std::string ScopeName(int kind, const char *folder) {
  return std::to_string(kind) + '\t' + std::to_string(strlen(folder)) + '\t' + folder;
}

static uint64_t FilterHash(int kind, const char *folder, const std::string &key) {
  uint64_t hash = (14695981039346656037ULL ^ static_cast<uint32_t>(kind)) * 1099511628211ULL;
  HashText(&hash, folder, strlen(folder) + 1);
  HashText(&hash, key.c_str(), key.size() + 1);
  return hash;
}

// The filter's probes: double hashing over the two halves of a mixed hash.
static void FilterProbes(uint64_t hash, size_t probes[kFilterProbes]) {
  uint64_t mixed = (hash ^ (hash >> 31)) * 0x7fb5d329728ea185ULL;
  mixed ^= mixed >> 27;
  const uint64_t step = (mixed >> 32) | 1;
  for (int i = 0; i < kFilterProbes; ++i)
    probes[i] = static_cast<size_t>((mixed + static_cast<uint64_t>(i) * step) % kFilterBits);
}

static void FilterAdd(int kind, const char *folder, const std::string &key) {
  if (gNewScopes.keys >= kFilterFull) {
    for (auto &scope : gNewScopes.emptyAtStart) scope.second = false;
    gNewScopes.filter.clear();
    gNewScopes.keys = 0;
  }
  if (gNewScopes.filter.empty()) gNewScopes.filter.assign(kFilterWords, 0);
  ++gNewScopes.keys;
  size_t probes[kFilterProbes];
  FilterProbes(FilterHash(kind, folder, key), probes);
  for (size_t bit : probes) gNewScopes.filter[bit / 64] |= uint64_t{1} << (bit % 64);
}

static bool FilterMayHold(int kind, const char *folder, const std::string &key) {
  if (gNewScopes.filter.empty()) return false;
  size_t probes[kFilterProbes];
  FilterProbes(FilterHash(kind, folder, key), probes);
  for (size_t bit : probes)
    if ((gNewScopes.filter[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return false;
  return true;
}

// Whether the scope held no record when first asked about: 1, 0, or -1 on a
// database error. Records this run adds afterwards do not change the answer.
static int ScopeWasEmpty(int kind, const char *folder) {
  const std::string name = ScopeName(kind, folder);
  auto known = gNewScopes.emptyAtStart.find(name);
  if (known != gNewScopes.emptyAtStart.end()) return known->second ? 1 : 0;
  sqlite3_reset(gSelectScope);
  sqlite3_clear_bindings(gSelectScope);
  if (sqlite3_bind_int(gSelectScope, 1, kind) != SQLITE_OK ||
      sqlite3_bind_text(gSelectScope, 2, folder, -1, SQLITE_TRANSIENT) != SQLITE_OK)
    return -1;
  int rc = sqlite3_step(gSelectScope);
  sqlite3_reset(gSelectScope);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return -1;
  gNewScopes.emptyAtStart[name] = rc == SQLITE_DONE;
  return rc == SQLITE_DONE ? 1 : 0;
}

static std::string RecordName(int kind, const char *folder, const std::string &key) {
  return ScopeName(kind, folder) + '\n' + key;
}

// 1 when the record is there, 0 when not, -1 on a database error.
static int FindRecord(int kind, const char *folder, const std::string &key) {
  if (!gWaitingNames.empty() && gWaitingNames.count(RecordName(kind, folder, key)) != 0) return 1;
  const int wasEmpty = ScopeWasEmpty(kind, folder);
  if (wasEmpty < 0) return -1;
  if (wasEmpty == 1 && !FilterMayHold(kind, folder, key)) return 0;
  if (BindKey(gSelect, kind, folder, key) != 0) return -1;
  int rc = sqlite3_step(gSelect);
  sqlite3_reset(gSelect);
  return rc == SQLITE_ROW ? 1 : rc == SQLITE_DONE ? 0 : -1;
}

// Commits the batch when it is full or old enough. Returns 0 or -1.
static int CommitBatchWhenDue(void) {
  if (gBatch.pending.empty()) return 0;
  if (static_cast<int>(gBatch.pending.size()) < gBatch.maxItems &&
      NowMilliseconds() - gBatch.openedAt < gBatch.maxMilliseconds)
    return 0;
  return mvcom_CommitBatch();
}

// The time a record is made, as the table's default would give it (UTC,
// "YYYY-MM-DD HH:MM:SS"), formatted once a second instead of by SQLite for
// every record. Called under the state's lock.
static const char *RecordTime(void) {
  static SecondText madeAt;
  return CurrentSecondText(&madeAt, true, "1970-01-01 00:00:00");
}

// Writes one record into the table (INSERT OR IGNORE); 1 when it was there
// already, 0 when written now, -1 on a database error.
static int InsertRecord(int kind, const char *folder, const std::string &key, const char *madeAt) {
  if (BindKey(gInsert, kind, folder, key) != 0 ||
      sqlite3_bind_text(gInsert, 4, madeAt, -1, SQLITE_TRANSIENT) != SQLITE_OK)
    return -1;
  int rc = sqlite3_step(gInsert);
  sqlite3_reset(gInsert);
  if (rc != SQLITE_DONE) return -1;
  return sqlite3_changes(gMvcom.stateDb) == 0 ? 1 : 0;
}

// Writes waiting records in one transaction. Returns 0 or -1 (none written).
static int WriteRecords(const std::vector<PendingRecord> &records) {
  if (sqlite3_exec(gMvcom.stateDb, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return -1;
  for (const PendingRecord &r : records) {
    if (InsertRecord(r.kind, r.folder.c_str(), r.key, r.madeAt.c_str()) < 0) {
      sqlite3_exec(gMvcom.stateDb, "ROLLBACK", nullptr, nullptr, nullptr);
      return -1;
    }
  }
  if (sqlite3_exec(gMvcom.stateDb, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(gMvcom.stateDb, "ROLLBACK", nullptr, nullptr, nullptr);
    return -1;
  }
  return 0;
}

// The records no longer wait: written, or dropped.
static void ForgetWaiting(const std::vector<PendingRecord> &records) {
  for (const PendingRecord &r : records) gWaitingNames.erase(RecordName(r.kind, r.folder.c_str(), r.key));
}

// 1 when the record was there already, 0 when added now, -1 on an error.
// A record that may not start a commit waits in the batch for the next one.
static int AddRecord(int kind, const char *folder, const std::string &key, bool mayCommit = true) {
  int existed;
  if (!gBatch.on) {
    existed = InsertRecord(kind, folder, key, RecordTime());
    if (existed < 0) return -1;
  } else {
    existed = FindRecord(kind, folder, key);
    if (existed < 0) return -1;
    if (existed == 0) {
      if (gBatch.pending.empty()) gBatch.openedAt = NowMilliseconds();
      gBatch.pending.push_back({kind, folder, key, RecordTime()});
      gWaitingNames.insert(RecordName(kind, folder, key));
    }
  }
  FilterAdd(kind, folder, key);
  if (mayCommit && CommitBatchWhenDue() != 0) return -1;
  return existed;
}

int mvcom_BeginBatch(int maxItems, int maxMilliseconds, MvcomPreCommit preCommit, void *user) {
  StateGuard guard;
  if (gMvcom.stateDb == nullptr || maxItems < 1 || maxMilliseconds < 0) return -1;
  if (mvcom_EndBatch() != 0) return -1;
  gBatch = StateBatch();
  gBatch.on = true;
  gBatch.maxItems = maxItems;
  gBatch.maxMilliseconds = maxMilliseconds;
  gBatch.preCommit = preCommit;
  gBatch.user = user;
  return 0;
}

int mvcom_CommitBatch(void) {
  StateGuard guard;
  if (gBatch.pending.empty()) return 0;
  std::vector<PendingRecord> records;
  records.swap(gBatch.pending);
  // The records may only reach the disk after what they stand for.
  const int ready = gBatch.preCommit != nullptr ? gBatch.preCommit(gBatch.user) : 0;
  if (ready == MVCOM_COMMIT_LATER) {
    gSetAside.push_back(std::move(records));
    return 0;
  }
  if (ready != 0) {
    com_Log("MV Error: migration state: %d record(s) dropped: their files could not be made durable",
            static_cast<int>(records.size()));
    ForgetWaiting(records);
    return -1;
  }
  const int rc = WriteRecords(records);
  if (rc != 0) com_Log("MV Error: migration state: commit failed: %s", sqlite3_errmsg(gMvcom.stateDb));
  ForgetWaiting(records);
  return rc;
}

int mvcom_CommitSetAside(int keep) {
  StateGuard guard;
  if (gSetAside.empty()) return -1;
  std::vector<PendingRecord> records = std::move(gSetAside.front());
  gSetAside.pop_front();
  int rc = 0;
  if (!keep) {
    com_Log("MV Error: migration state: %d record(s) dropped: their files could not be made durable",
            static_cast<int>(records.size()));
    rc = -1;
  } else if (WriteRecords(records) != 0) {
    com_Log("MV Error: migration state: commit failed: %s", sqlite3_errmsg(gMvcom.stateDb));
    rc = -1;
  }
  ForgetWaiting(records);
  return rc;
}

int mvcom_SetAsideCount(void) {
  StateGuard guard;
  return static_cast<int>(gSetAside.size());
}

int mvcom_EndBatch(void) {
  StateGuard guard;
  int rc = mvcom_CommitBatch();
  // Records set aside that the host never confirmed: their files may not be
  // durable, so they go (the next run finds the files in place).
  while (!gSetAside.empty()) {
    mvcom_CommitSetAside(0);
    rc = -1;
  }
  gBatch = StateBatch();
  return rc;
}

int com_MsgIsDuplicate(HostMessage *record, void *context, int kind, const char *folderName) {
  StateGuard guard;
  (void)context;
  if (record == nullptr || gMvcom.stateDb == nullptr) return 0;
  const char *folder = folderName != nullptr ? folderName : "";
  // The plug-in names a folder by its own name, which two folders can share
  // (Cabinet^2019^Projects, Cabinet^2020^Projects); a copy of one mail filed
  // in both would be taken for a duplicate and left behind. The host knows
  // the folder's whole path and puts it in hostFolder: items are keyed by it.
  if ((kind == kDupAsk || kind == kDupRecord) && record->hostFolder[0] != '\0')
    folder = record->hostFolder;
  int found;
  switch (kind) {
    case kDupAsk:
      found = FindRecord(kStateItem, folder, AskKey(record));
      break;
    case kDupRecord:
      found = AddRecord(kStateItem, folder, RecordKey(record));
      break;
    case kDupRule:  // the rule's name is in subject, or else is the folder text itself
      // The plug-in asks while it writes the rule into its rules file, so
      // the record must not reach the disk before that file is closed: it
      // goes with the next item's commit. The host merges a rules file a
      // killed run left behind before the plug-in writes a new one.
      found = AddRecord(kStateRule, folder,
                        "rule:" + std::string(record->subject, strnlen(record->subject, sizeof record->subject)),
                        false);
      break;
    default:
      com_Log("MV Error: unknown duplicate check kind %d", kind);
      return 0;
  }
  if (found < 0) {
    com_Log("MV Error: migration state: %s", sqlite3_errmsg(gMvcom.stateDb));
    return 0;
  }
  return found;
}

int com_SearchMsg(HostMessage *record, void *context, void *a3, void *a4, void *a5) {
  (void)context;
  (void)a3;
  (void)a4;
  (void)a5;
  if (gMvcom.onlyMessageIds.empty()) return 1;
  if (record == nullptr) return 0;
  std::string id(record->messageId, strnlen(record->messageId, sizeof record->messageId));
  for (const std::string &wanted : gMvcom.onlyMessageIds)
    if (wanted == id) return 1;
  return 0;
}

int mvcom_IsImported(const char *folder, const char *key) {
  StateGuard guard;
  if (gMvcom.stateDb == nullptr || folder == nullptr || key == nullptr) return -1;
  int found = FindRecord(kStateImport, folder, key);
  if (found < 0) com_Log("MV Error: migration state: %s", sqlite3_errmsg(gMvcom.stateDb));
  return found;
}

int mvcom_RecordImported(const char *folder, const char *key) {
  StateGuard guard;
  if (gMvcom.stateDb == nullptr || folder == nullptr || key == nullptr) return -1;
  int added = AddRecord(kStateImport, folder, key);
  if (added < 0) com_Log("MV Error: migration state: %s", sqlite3_errmsg(gMvcom.stateDb));
  return added;
}
