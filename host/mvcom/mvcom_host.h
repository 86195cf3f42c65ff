// The host side of MVCOM: what the host program (and tests) call to set the
// library up before the plug-in runs. The plug-in never calls these.
#pragma once

#include <cstddef>

#include "plugin/mvcom.h"

extern "C" {

// How the host configures the library. Every pointer may be null; texts are
// copied. Directories get a trailing "/" when they lack one.
struct MvcomConfig {
  const char *programDir;  // global 1
  const char *dataDir;     // global 2: the log and the migration state live here
  const char *workDir;     // global 6
  const char *const *params;  // host parameters handed out by com_GetParm
  int paramCount;
  // Lines mirrored to stderr: 0 errors only, 1 errors and warnings, 2 all
  // but "debug:" and "curl debug:", 3 all. The log file has every line.
  int stderrLevel;
  FILETIME dateFrom, dateTo;  // com_GetDateRange; zero = no bound
  const char *const *excludeSubjects;  // extended regular expressions
  int excludeCount;
  const char *addressMapPath;  // CSV "old,new" per line, or null
  const char *statePath;       // SQLite migration state; null: dataDir + "mvmigrate.db"
  const char *const *onlyMessageIds;  // com_SearchMsg takes only these, when any
  int onlyCount;
};

// (Re)initialises the library: closes what an earlier call opened, creates
// the data and work directories when missing, opens the log file (dataDir +
// "mvmigrate.log", appended) and the state database, compiles the excluded
// subjects and loads the address map. Returns 0 on success, -1 when a
// directory is longer than 255 characters or cannot be made, the log or the
// state cannot be opened, an excluded subject is no valid regular expression
// or the address map cannot be read (the reason is then in mvcom_LastError;
// the library is then left closed, as after mvcom_Shutdown).
MVCOM_API int mvcom_Init(const MvcomConfig *config);

// Closes the log and the state database.
MVCOM_API void mvcom_Shutdown(void);

// Text of the last mvcom_Init failure.
MVCOM_API const char *mvcom_LastError(void);

// Every log line (without its timestamp and line end) is also handed to
// sink, when set; the sink stays set across mvcom_Init and mvcom_Shutdown.
typedef void (*MvcomLogSink)(const char *line, void *user);
MVCOM_API void mvcom_SetLogSink(MvcomLogSink sink, void *user);

// Replaces the range com_GetDateRange answers (zero = no bound) until the
// next mvcom_Init; the import narrows the plug-in's listing with it for a
// moment and puts the user's range back afterwards.
MVCOM_API void mvcom_SetDateRange(FILETIME from, FILETIME to);

// The hook behind com_MessageBox; null makes the pause a no-op.
typedef void (*MvcomMessageBoxHook)(const char *text, const char *caption);
MVCOM_API void mvcom_SetMessageBoxHook(MvcomMessageBoxHook hook);

// The last com_SetExtendedError, or 0 and "" when none.
MVCOM_API int mvcom_GetExtendedError(char *text, size_t cap);

// Every com_SetExtendedError is also handed to sink, when set (the host
// counts and lists failed items through it); it stays set across
// mvcom_Init and mvcom_Shutdown. Null removes it.
typedef void (*MvcomExtendedErrorSink)(int code, const char *text, void *user);
MVCOM_API void mvcom_SetExtendedErrorSink(MvcomExtendedErrorSink sink, void *user);

// The record behind mvcom_KnownGroupMember and mvcom_NoteGroupMember: the
// contacts made for the members of the group being written. known copies a
// member's contact id into id (cap bytes) and returns 1 when one was made
// for member `index` with that name and address; note is told each one made.
// Null hooks remember nothing.
typedef int (*MvcomKnownMemberHook)(void *user, int index, const char *name, const char *address, char *id,
                                    size_t cap);
typedef void (*MvcomNoteMemberHook)(void *user, int index, const char *name, const char *address, const char *id);
MVCOM_API void mvcom_SetGroupMemberHooks(MvcomKnownMemberHook known, MvcomNoteMemberHook note, void *user);

// Global 12's line buffer as registered by the plug-in, and global 13.
MVCOM_API const char *mvcom_GetLineBuffer(void);
MVCOM_API int mvcom_GetFailedCount(void);

// Import state: messages written into GroupWise from a Maildir tree, keyed
// by the target folder (any text that names it) and the message's identity,
// so that a second import creates nothing twice. mvcom_IsImported returns 1
// when recorded, 0 when not, -1 without an open state or on a database
// error. mvcom_RecordImported returns 0 when recorded now, 1 when it was
// recorded already, -1 without an open state or on a database error (the
// record is then not kept). Both are separate from com_MsgIsDuplicate's
// records.
MVCOM_API int mvcom_IsImported(const char *folder, const char *key);
MVCOM_API int mvcom_RecordImported(const char *folder, const char *key);

// Group commit of the migration state. After mvcom_BeginBatch, records
// (com_MsgIsDuplicate's and mvcom_RecordImported's) wait in memory and are
// written in one transaction when maxItems new records are pending, when
// the oldest is maxMilliseconds old (checked as records are added), on
// mvcom_CommitBatch, on mvcom_EndBatch and when the state is closed;
// lookups see the waiting records. Right before each commit that has
// records, preCommit(user) runs (may be null): the host makes durable there
// what the pending records stand for (written files), so that a record on
// disk always has its file. When preCommit returns MVCOM_COMMIT_LATER the
// records are set aside (still seen by lookups) until the host has made
// their files durable: mvcom_CommitSetAside(1) then writes the oldest
// group set aside, mvcom_CommitSetAside(0) drops it; mvcom_SetAsideCount
// says how many groups wait. When preCommit returns anything else non-zero
// the pending records are dropped and the commit returns -1; a crash loses
// the waiting records only. mvcom_BeginBatch returns 0, or -1 without an
// open state or with maxItems < 1 or maxMilliseconds < 0 (an earlier batch
// is ended first). mvcom_CommitBatch and mvcom_EndBatch return 0 (also when
// nothing is pending or no batch is on) or -1 when the records could not be
// committed; mvcom_EndBatch drops the groups still set aside (returning -1)
// and leaves batch mode (each record is then committed on its own again).
// mvcom_CommitSetAside returns 0, or -1 when nothing is set aside, when the
// group was dropped or on a database error. The host ends the batch before
// whatever preCommit uses goes away.
#define MVCOM_COMMIT_LATER 1
typedef int (*MvcomPreCommit)(void *user);
MVCOM_API int mvcom_BeginBatch(int maxItems, int maxMilliseconds, MvcomPreCommit preCommit, void *user);
MVCOM_API int mvcom_CommitBatch(void);
MVCOM_API int mvcom_CommitSetAside(int keep);
MVCOM_API int mvcom_SetAsideCount(void);
MVCOM_API int mvcom_EndBatch(void);

// The fingerprint of an item that has no GroupWise message id: 32 hex
// digits (cap must be at least 33) over the sender's name, the recipients
// (kind, name, address), and each part's kind, name, noted size and the
// bytes of its file in workDir (which ends with "/"). Two items that differ
// in any of these differ in it; the same item gives the same text in every
// run. Returns 0, or -1 when an argument is null or cap is too small.
MVCOM_API int mvcom_ItemFingerprint(const HostMessage *record, const char *workDir, char *out, size_t cap);

// Keeps part files up to limit bytes in memory (0: none, the default); see
// mvcom_PartKeep. Only where memory streams exist (not on Windows).
MVCOM_API void mvcom_SetPartMemory(size_t limit);

}  // extern "C"
