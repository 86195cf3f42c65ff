// Group commit of an import's migration state: the records of created
// messages are committed every few hundred messages or every second, and
// the messages created since the last commit are listed in the journal so
// that a run after a kill records them instead of writing them again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/mvmigrate/import_journal.h"

// Why a kill at any point still leaves at most the message in flight in
// doubt, and why nothing is synced to disk for it:
//  - Each message is named in DATA/import-pending.txt before its create is
//    sent, and that name is removed only after the create's outcome is
//    settled below. A kill -9 ends the process, not the kernel: every
//    write() that returned is in the files the next run reads, synced or
//    not. (The syncs guarded against a crash of the machine, which the
//    state database, WAL with synchronous=NORMAL, does not survive whole
//    either: its last commits may roll back.)
//  - When the server acknowledges a create, the message goes into
//    DATA/import-created.txt (one write) before its record goes into the
//    open group and before its pending entry is removed. So a created
//    message is always in the committed state, in the created list, or
//    named as pending.
//  - The created list is emptied only after the group's commit returned;
//    a failed commit keeps it for the rest of the run.
//  - The next run first records every listed message (the server said it
//    made them: no question to ask), then settles the pending one by
//    asking the server, as before. A line cut short by the kill is passed
//    over: its message is still named as pending. Records are keyed, so a
//    message listed and also named as pending is recorded once.
//  - The records themselves go into the state on a thread of their own
//    (the recorder), a few dozen at a time, while the main thread waits for
//    the server: the main thread only lists the message and queues it. The
//    recorder commits with the group's lock held, so that no message is
//    listed between its last record and the list's emptying.
struct ImportGroup {
  CreatedList created;
  bool keep = false;  // the list holds messages whose records are not committed
  // Shared with the recorder, under mutex:
  std::mutex mutex;
  std::condition_variable wake;      // the recorder has work
  std::condition_variable settled;   // a commit asked for is done
  std::vector<CreatedMessage> queue; // listed, not yet recorded
  int listed = 0;                    // listed since the last commit
  uint64_t commitsAsked = 0, commitsDone = 0;
  int lastCommit = 0;  // CommitImportGroup's result for the last commit
  bool stopping = false;
  // The recorder's own:
  int pending = 0;  // records in the open group (also those made without the list)
  std::chrono::steady_clock::time_point openedAt;
  std::thread recorder;
  ~ImportGroup();  // ends a recorder that EndImportGroups did not
};

// Records the messages at path (DATA/import-created.txt) that a killed run
// created but did not commit, then removes the list. A message that cannot
// be recorded goes into *passOver (scope, "\n", key) so that this run does
// not write it again, and the list is kept for the next run (*keep set).
// Returns the messages recorded now.
int SettleCreatedMessages(const std::string &path, std::set<std::string> *passOver, bool *keep);

// Starts group commit with the created list at path, and the recorder.
// Without a list that can be written, each record is committed on its own.
void BeginImportGroups(ImportGroup *group, const std::string &path, bool keep);

// A message the server created: listed and queued for the recorder, which
// records it in the open group and commits the group when it is due. A
// message that cannot be listed is recorded and committed before this
// returns. Returns 0, or -1 when that record or commit failed (a record the
// recorder cannot make keeps the list for the next run, and is logged).
int RecordCreatedMessage(ImportGroup *group, const CreatedMessage &message);

// Has the recorder record what is queued and commit, and waits for it;
// the list is emptied after. Returns 0 or -1.
int CommitImportGroup(ImportGroup *group);

// Commits what is open, ends the recorder and group commit; the list is
// removed unless it must be kept for the next run.
void EndImportGroups(ImportGroup *group);
