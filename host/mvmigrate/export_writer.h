// The export's writer: a thread that writes the items SaveItem hands it
// through a bounded queue, so that the plug-in's next request goes out while
// the previous item is written. Each queued item has its own copy of the
// record's fields and its part files moved into the queue's directory, since
// the plug-in reuses the record and its part file names for the next item.
// Items finish in the order they were handed over; the main thread takes
// each outcome from the front of the queue.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/store/item_store.h"
#include "plugin/host_message.h"

namespace exportwriter {

// What the export notes of an item when it hands it over, for the report
// once its outcome is known.
struct ItemNotes {
  std::string id, subject;
  size_t folderIndex = 0;             // into the report's folder list
  std::string folderPath;
  std::vector<std::string> lost;      // attachments replaced by a text part
  int32_t itemKind = 0, contactFlag = 0;
  bool hasOriginal = false;           // a mail kept as it arrived
  int originalTooLargeKB = 0;         // its original stayed on the server
  // Set by the export once the plug-in has told the item's outcome
  // (ItemNotify), and whether it counted the item as failed or as stored.
  bool notified = false, countedFailed = false, countedStored = false;
};

// One queued item and, once written, its outcome.
struct WriterJob {
  std::unique_ptr<HostMessage> record;  // the queue's own copy; msgSeq is the slot
  std::vector<HostPart> parts;
  std::vector<HostRecipient> recips;
  store::ExportStore *store = nullptr;
  std::string workDir;   // where the part files lie while queued
  std::string partFrom;  // the plug-in's part file name prefix ("WORK/PRT001"), for messages
  ItemNotes notes;
  uint64_t seq = 0;  // 1 for the first item handed over, and on
  bool done = false;
  int result = store::kFailed;
  int64_t bytes = 0;
  std::vector<std::string> warnings;
  std::string error;
};

// The queue. Plain data; StartWriter sets it up, StopWriter ends it.
struct ExportWriter {
  std::string queueDir;  // WORK/queue/: the part files of queued items
  std::vector<std::unique_ptr<WriterJob>> slots;
  size_t front = 0;    // oldest job not yet taken by the main thread
  size_t count = 0;    // jobs handed over and not yet taken
  size_t written = 0;  // jobs the thread has finished, counted from front
  bool stopping = false;
  bool parked = false;  // the thread waits to be woken, not on its timer
  uint64_t handedTotal = 0;    // jobs handed over since the start
  uint64_t finishedTotal = 0;  // jobs the thread has finished since the start
  std::vector<uint64_t> failedSeqs;  // the seq of every job whose write failed
  std::mutex mutex;
  std::condition_variable changed;
  std::thread thread;
  ~ExportWriter();  // stops the thread
};

// Deep enough that the main thread seldom waits for the writer, which runs
// at a lower priority; each slot holds a record's copy (about 70 KB).
enum { kQueueDepth = 16 };

// Prepares the queue below workDir (ending with "/"): makes WORK/queue/,
// deletes the part files an interrupted run left there, and starts the
// thread. Returns 0, or -1 with *error set.
int StartWriter(ExportWriter *writer, const std::string &workDir, std::string *error);

// Whether another item can be handed over without waiting.
bool HasRoom(const ExportWriter &writer);

// Hands one record to the writer: copies its used fields and moves its part
// files into the queue, which must have room. *notes is moved into the job.
// Returns the job (the caller's to mark until its outcome is taken).
WriterJob *HandOver(ExportWriter *writer, const HostMessage &record, const std::string &workDir,
              store::ExportStore *store, ItemNotes *notes);

// Whether a job was handed over and not yet taken.
bool HasJobs(const ExportWriter &writer);

// The oldest job not yet taken, once written; null when none is, or (wait
// set) when the queue is empty. The job stays the caller's until DoneWith.
WriterJob *OldestFinished(ExportWriter *writer, bool wait);

// Gives the oldest job's slot back to the queue (the thread deleted its
// part files once it was written).
void DoneWith(ExportWriter *writer);

// Ends the thread once every job is written. The jobs not taken stay.
void StopWriter(ExportWriter *writer);

}  // namespace exportwriter
