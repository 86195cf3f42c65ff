// The export's committer thread.
#include "host/mvmigrate/export_committer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/mvmigrate/thread_priority.h"

namespace exportwriter {
namespace {

// Whether every job in (from, upTo] is written: waits for the writer, then
// looks for a failure among them.
bool JobsWritten(ExportWriter *writer, uint64_t from, uint64_t upTo) {
  std::unique_lock<std::mutex> lock(writer->mutex);
  writer->changed.wait(lock, [writer, upTo] { return writer->finishedTotal >= upTo; });
  for (uint64_t seq : writer->failedSeqs)
    if (seq > from && seq <= upTo) return false;
  return true;
}

void CommitLoop(ExportCommitter *c) {
  LowerHelperThreadPriority();
  std::unique_lock<std::mutex> lock(c->mutex);
  for (;;) {
    c->changed.wait(lock, [c] { return c->stopping || c->settled < c->tickets.size(); });
    if (c->settled >= c->tickets.size()) return;  // stopping, and every ticket settled
    const uint64_t from = c->settledUpTo;
    const uint64_t upTo = c->tickets[c->settled].upTo;
    lock.unlock();
    // The whole file system at once: every store writes below the output
    // directory, and one sync costs what one store's would.
    const bool durable = JobsWritten(c->writer, from, upTo) && syncfs(c->syncFd) == 0;
    lock.lock();
    c->tickets[c->settled].durable = durable;
    ++c->settled;
    c->settledUpTo = upTo;
    c->changed.notify_all();
  }
}

}  // namespace

int StartCommitter(ExportCommitter *c, ExportWriter *writer, const std::string &outDir, std::string *error) {
  c->writer = writer;
  c->tickets.clear();
  c->settled = 0;
  c->settledUpTo = 0;
  c->stopping = false;
  c->syncFd = open(outDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (c->syncFd < 0) {
    *error = "cannot open " + outDir + ": " + strerror(errno);
    return -1;
  }
  c->thread = std::thread(CommitLoop, c);
  return 0;
}

bool CommitterOn(const ExportCommitter &c) { return c.thread.joinable(); }

void AskCommit(ExportCommitter *c) {
  uint64_t upTo;
  {
    std::lock_guard<std::mutex> lock(c->writer->mutex);
    upTo = c->writer->handedTotal;
  }
  std::lock_guard<std::mutex> lock(c->mutex);
  CommitTicket ticket;
  ticket.upTo = upTo;
  c->tickets.push_back(ticket);
  c->changed.notify_all();
}

std::vector<bool> TakeSettled(ExportCommitter *c, bool wait) {
  std::vector<bool> outcomes;
  std::unique_lock<std::mutex> lock(c->mutex);
  if (wait) c->changed.wait(lock, [c] { return c->settled >= c->tickets.size(); });
  for (; c->settled > 0; --c->settled) {
    outcomes.push_back(c->tickets.front().durable);
    c->tickets.pop_front();
  }
  return outcomes;
}

void StopCommitter(ExportCommitter *c) {
  if (!c->thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    c->stopping = true;
    c->changed.notify_all();
  }
  c->thread.join();
  close(c->syncFd);
  c->syncFd = -1;
}

ExportCommitter::~ExportCommitter() { StopCommitter(this); }

}  // namespace exportwriter
