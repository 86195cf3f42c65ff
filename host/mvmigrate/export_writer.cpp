// The export's writer thread and its bounded queue of items.
#include "host/mvmigrate/export_writer.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "host/mvmigrate/thread_priority.h"
#include "platform/bounded_text.h"
#include "plugin/mvcom.h"

namespace exportwriter {
namespace {

std::string PartFile(const std::string &dir, int msgSeq, int index) {
  char path[4096];
  FormatPartFileName(path, sizeof path, dir.c_str(), msgSeq, index);
  return path;
}

// The prefix of every part file name of an item ("DIR/PRT001").
std::string PartPrefix(const std::string &dir, int msgSeq) {
  std::string name = PartFile(dir, msgSeq, 0);
  return name.substr(0, name.size() - 6);  // "00.TMP"
}

// The queue's own copy of the record: every field after the two lists,
// and the entries of the lists in use (not the thousands of empty ones).
void CopyRecord(const HostMessage &from, int slot, WriterJob *job) {
  HostMessage *to = job->record.get();
  for (int i = 0; i < to->partCount && i < kMaxParts; ++i) to->parts[i] = nullptr;
  for (int i = 0; i < to->recipCount && i < kMaxRecipients; ++i) to->recips[i] = nullptr;
  const size_t start = offsetof(HostMessage, partCount);
  memcpy(reinterpret_cast<char *>(to) + start, reinterpret_cast<const char *>(&from) + start,
         sizeof(HostMessage) - start);
  const int parts = from.partCount < 0 ? 0 : from.partCount > kMaxParts ? kMaxParts : from.partCount;
  const int recips = from.recipCount < 0 ? 0 : from.recipCount > kMaxRecipients ? kMaxRecipients : from.recipCount;
  job->parts.assign(static_cast<size_t>(parts), HostPart());
  job->recips.assign(static_cast<size_t>(recips), HostRecipient());
  for (int i = 0; i < parts; ++i) {
    if (from.parts[i] != nullptr) job->parts[static_cast<size_t>(i)] = *from.parts[i];
    to->parts[i] = from.parts[i] != nullptr ? &job->parts[static_cast<size_t>(i)] : nullptr;
  }
  for (int i = 0; i < recips; ++i) {
    if (from.recips[i] != nullptr) job->recips[static_cast<size_t>(i)] = *from.recips[i];
    to->recips[i] = from.recips[i] != nullptr ? &job->recips[static_cast<size_t>(i)] : nullptr;
  }
  to->msgSeq = slot;
}

// Moves the item's part files under the slot's names in the queue. A part
// without a file leaves none under its queue name either, so the store
// meets the same missing file it would have met in the work directory.
void TakePartFiles(const HostMessage &from, const std::string &workDir, const std::string &queueDir, int slot) {
  for (int i = 0; i < from.partCount && i < kMaxParts; ++i) {
    const std::string to = PartFile(queueDir, slot, i);
    mvcom_PartRename(PartFile(workDir, from.msgSeq, i).c_str(), to.c_str());
  }
}

// Writes one job; a message naming a queued part file names the file the
// plug-in wrote instead.
void WriteJob(WriterJob *job) {
  job->result = job->store != nullptr
                    ? job->store->Write(*job->record, job->workDir, &job->bytes, &job->warnings, &job->error)
                    : static_cast<int>(store::kFailed);
  const std::string queued = PartPrefix(job->workDir, job->record->msgSeq);
  for (size_t at = job->error.find(queued); at != std::string::npos; at = job->error.find(queued, at)) {
    job->error.replace(at, queued.size(), job->partFrom);
    at += job->partFrom.size();
  }
}

void WriteLoop(ExportWriter *writer) {
  LowerHelperThreadPriority();
  std::unique_lock<std::mutex> lock(writer->mutex);
  int emptyLooks = 0;
  auto ready = [writer] { return writer->stopping || writer->written < writer->count; };
  for (;;) {
    if (!ready()) {
      if (emptyLooks < kHelperEmptyLooks) {  // items coming in: look again soon
        writer->changed.wait_for(lock, kHelperLookInterval);
        if (!ready()) ++emptyLooks;
        continue;
      }
      writer->parked = true;
      writer->changed.wait(lock, ready);
      writer->parked = false;
    }
    emptyLooks = 0;
    if (writer->written >= writer->count) return;  // stopping, and everything written
    WriterJob *job = writer->slots[(writer->front + writer->written) % writer->slots.size()].get();
    lock.unlock();
    WriteJob(job);
    // Deleted here, off the thread that talks to the server.
    for (int i = 0; i < job->record->partCount && i < kMaxParts; ++i)
      mvcom_PartRemove(PartFile(job->workDir, job->record->msgSeq, i).c_str());
    lock.lock();
    job->done = true;
    ++writer->written;
    ++writer->finishedTotal;
    if (job->result != store::kStored && job->result != store::kAlreadyPresent) writer->failedSeqs.push_back(job->seq);
    writer->changed.notify_all();
  }
}

// Deletes the files an interrupted run left in the queue directory.
void RemoveQueuedFiles(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent *e = readdir(d)) {
    if (StartsWith(e->d_name, "PRT")) unlink((dir + e->d_name).c_str());
  }
  closedir(d);
}

}  // namespace

int StartWriter(ExportWriter *writer, const std::string &workDir, std::string *error) {
  writer->queueDir = workDir + "queue/";
  RemoveQueuedFiles(writer->queueDir);
  writer->slots.clear();
  writer->slots.resize(kQueueDepth);
  for (auto &slot : writer->slots) {
    slot = std::make_unique<WriterJob>();
    slot->record.reset(new HostMessage());
  }
  writer->front = writer->count = writer->written = 0;
  writer->handedTotal = writer->finishedTotal = 0;
  writer->failedSeqs.clear();
  writer->stopping = false;
  if (mkdir(writer->queueDir.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create " + writer->queueDir + ": " + strerror(errno);
    return -1;
  }
  writer->thread = std::thread(WriteLoop, writer);
  return 0;
}

bool HasRoom(const ExportWriter &writer) { return writer.count < writer.slots.size(); }

bool HasJobs(const ExportWriter &writer) { return writer.count > 0; }

WriterJob *HandOver(ExportWriter *writer, const HostMessage &record, const std::string &workDir,
              store::ExportStore *store, ItemNotes *notes) {
  const size_t index = (writer->front + writer->count) % writer->slots.size();
  WriterJob *job = writer->slots[index].get();
  job->store = store;
  job->notes = std::move(*notes);
  job->done = false;
  job->result = store::kFailed;
  job->bytes = 0;
  job->warnings.clear();
  job->error.clear();
  const int slot = static_cast<int>(index);
  CopyRecord(record, slot, job);
  TakePartFiles(record, workDir, writer->queueDir, slot);
  job->workDir = writer->queueDir;
  job->partFrom = PartPrefix(workDir, record.msgSeq);
  std::lock_guard<std::mutex> lock(writer->mutex);
  job->seq = ++writer->handedTotal;
  ++writer->count;
  if (writer->parked) writer->changed.notify_all();
  return job;
}

WriterJob *OldestFinished(ExportWriter *writer, bool wait) {
  std::unique_lock<std::mutex> lock(writer->mutex);
  if (writer->count == 0) return nullptr;
  if (wait) writer->changed.wait(lock, [writer] { return writer->written > 0; });
  return writer->written > 0 ? writer->slots[writer->front].get() : nullptr;
}

void DoneWith(ExportWriter *writer) {
  std::lock_guard<std::mutex> lock(writer->mutex);
  writer->front = (writer->front + 1) % writer->slots.size();
  --writer->count;
  --writer->written;
}

void StopWriter(ExportWriter *writer) {
  if (!writer->thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(writer->mutex);
    writer->stopping = true;
    writer->changed.notify_all();
  }
  writer->thread.join();
  rmdir(writer->queueDir.c_str());  // empty now: the writer deleted each file it wrote
}

ExportWriter::~ExportWriter() { StopWriter(this); }

}  // namespace exportwriter
