// The export's committer: makes the items of a group commit durable on a
// thread of its own, so that the main thread goes on with the next request
// while the disk catches up (the sync of 500 small messages took 5 to 15 ms,
// a tenth of a fast export's time). The migration state sets the group's
// records aside (MVCOM_COMMIT_LATER) and the main thread writes or drops
// them once the committer has settled their ticket, in the order asked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/mvmigrate/export_writer.h"

namespace exportwriter {

// A group commit asked for: the jobs it covers are those handed over up
// to upTo (the writer's seq).
struct CommitTicket {
  uint64_t upTo = 0;
  bool durable = false;  // set once settled: every job written and synced
};

struct ExportCommitter {
  ExportWriter *writer = nullptr;
  int syncFd = -1;  // the output directory: its file system is synced
  std::deque<CommitTicket> tickets;  // asked, oldest first
  size_t settled = 0;                // tickets from the front the thread has settled
  uint64_t settledUpTo = 0;          // the upTo of the last ticket settled
  bool stopping = false;
  std::mutex mutex;
  std::condition_variable changed;
  std::thread thread;
  ~ExportCommitter();  // stops the thread
};

// Starts the thread for the writer's jobs, syncing the file system of
// outDir. Returns 0, or -1 with *error set (then commits stay on the main
// thread).
int StartCommitter(ExportCommitter *committer, ExportWriter *writer, const std::string &outDir,
                   std::string *error);

// Whether the thread runs.
bool CommitterOn(const ExportCommitter &committer);

// Asks for a commit of every job handed over so far.
void AskCommit(ExportCommitter *committer);

// Takes the outcomes of the oldest tickets settled, in order (true: the
// jobs are written and durable; false: one failed, or the sync did); with
// wait, of every ticket asked.
std::vector<bool> TakeSettled(ExportCommitter *committer, bool wait);

// Ends the thread once every ticket is settled. The outcomes not taken stay.
void StopCommitter(ExportCommitter *committer);

}  // namespace exportwriter
