// The import's read-ahead thread.
#include "host/mvmigrate/import_read_ahead.h"

#include <unistd.h>

#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/interrupt.h"
#include "host/mvmigrate/thread_priority.h"
#include "plugin/mvcom.h"

namespace readahead {
namespace {

// Sets up item i's conversion in its ring record (under the lock).
Conversion *Prepare(Converter *c, size_t i) {
  Conversion *conv = &c->ring[i % kAheadItems];
  conv->item = &(*c->items)[i];
  conv->record = c->records[i % kAheadItems];
  conv->record->msgSeq = ++c->msgSeq;
  return conv;
}

void Run(store::ImportSource *source, const std::string &scope, Conversion *c) {
  c->subject.clear();
  c->reason.clear();
  c->warnings.clear();
  c->imported = c->legacyImported = -2;
  c->bytes = 0;
  source->Identify(c->item);
  if (c->item->key.empty() && !c->item->keyPending) {  // the loop reports the item's problem
    c->result = -1;
  } else {
    c->result = source->Convert(*c->item, c->record, &c->subject, &c->warnings, &c->reason);
    if (c->item->keyPending) source->AwaitIdentity(c->item);
    if (c->item->key.empty()) {  // converted, but without a key it cannot be written
      if (c->result == 0) com_Deallocate_All(c->record, nullptr);
      c->result = -1;
      c->interrupted = InterruptRequested();
      return;
    }
    if (!scope.empty()) {
      c->imported = mvcom_IsImported(scope.c_str(), c->item->key.c_str());
      if (!c->item->legacyKey.empty())
        c->legacyImported = mvcom_IsImported(scope.c_str(), c->item->legacyKey.c_str());
    }
    for (int i = 0; i < c->record->partCount && i < kMaxParts; ++i)
      if (c->record->parts[i] != nullptr) c->bytes += c->record->parts[i]->size;
  }
  c->interrupted = InterruptRequested();
}

void RemoveParts(const std::vector<std::string> &paths) {
  for (const std::string &path : paths) mvcom_PartRemove(path.c_str());
}

// Whether the thread may convert the next item: one is left, a record is
// free, and the parts ahead are within bounds (or nothing is ahead).
bool MayConvert(const Converter &c) {
  if (c.items == nullptr || c.ended || c.converted >= c.items->size()) return false;
  if (c.converted >= c.released + kAheadItems) return false;
  return c.converted == c.released || c.aheadBytes < kAheadBytes;
}

void Loop(Converter *c) {
  LowerHelperThreadPriority();
  std::unique_lock<std::mutex> lock(c->mutex);
  std::vector<std::string> doomed;
  int emptyLooks = kHelperEmptyLooks;  // parked until the first folder
  for (;;) {
    if (!c->doomed.empty()) {
      doomed.swap(c->doomed);
      lock.unlock();
      RemoveParts(doomed);
      doomed.clear();
      lock.lock();
      continue;
    }
    if (c->stopping) return;
    if (!MayConvert(*c)) {
      if (emptyLooks < kHelperEmptyLooks) {  // records coming free: look again soon
        c->toThread.wait_for(lock, kHelperLookInterval);
        if (!MayConvert(*c) && c->doomed.empty()) ++emptyLooks;
        continue;
      }
      c->threadWaits = true;
      c->toThread.wait(lock);
      c->threadWaits = false;
      continue;
    }
    emptyLooks = 0;
    Conversion *conv = Prepare(c, c->converted);
    store::ImportSource *source = c->source;
    const std::string scope = c->scope;
    c->converting = true;
    lock.unlock();
    Run(source, scope, conv);
    lock.lock();
    c->converting = false;
    c->converted++;
    c->aheadBytes += conv->bytes;
    if (conv->interrupted) c->ended = true;
    if (c->mainWaits) c->toMain.notify_one();
  }
}

}  // namespace

void StartConverter(Converter *converter) {
  converter->stopping = false;
  converter->thread = std::thread(Loop, converter);
}

void BeginFolder(Converter *c, store::ImportSource *source, std::vector<store::SourceItem> *items,
                 const std::string &scope, HostMessage *const records[kAheadItems], int32_t msgSeq) {
  std::lock_guard<std::mutex> lock(c->mutex);
  c->source = source;
  c->items = items;
  c->scope = scope;
  for (size_t i = 0; i < kAheadItems; ++i) c->records[i] = records[i];
  c->msgSeq = msgSeq;
  c->converted = c->released = 0;
  c->converting = c->ended = false;
  c->aheadBytes = 0;
  if (c->threadWaits) c->toThread.notify_one();
}

Conversion *Take(Converter *c, size_t i) {
  if (!c->thread.joinable()) {
    if (c->ended || c->items == nullptr || i >= c->items->size()) return nullptr;
    Conversion *conv = Prepare(c, i);
    Run(c->source, c->scope, conv);
    c->converted = i + 1;
    if (conv->interrupted) c->ended = true;
    return conv;
  }
  std::unique_lock<std::mutex> lock(c->mutex);
  while (c->converted <= i) {
    if (c->ended || c->items == nullptr || c->converted >= c->items->size()) return nullptr;
    if (c->threadWaits && MayConvert(*c)) c->toThread.notify_one();
    c->mainWaits = true;
    c->toMain.wait(lock);
    c->mainWaits = false;
  }
  return &c->ring[i % kAheadItems];
}

void Release(Converter *c, std::vector<std::string> *paths) {
  if (!c->thread.joinable()) {
    RemoveParts(*paths);
    c->released++;
    return;
  }
  std::lock_guard<std::mutex> lock(c->mutex);
  c->doomed.insert(c->doomed.end(), paths->begin(), paths->end());
  c->aheadBytes -= c->ring[c->released % kAheadItems].bytes;
  c->released++;
  // Half the records free, or the main thread about to wait for the next.
  const size_t free = c->released + kAheadItems - c->converted;
  if (c->threadWaits && MayConvert(*c) && (free >= kAheadItems / 2 || c->converted == c->released))
    c->toThread.notify_one();
}

int32_t EndFolder(Converter *c) {
  std::vector<std::string> doomed;
  {
    std::unique_lock<std::mutex> lock(c->mutex);
    c->ended = true;
    while (c->converting) {
      c->mainWaits = true;
      c->toMain.wait(lock);
      c->mainWaits = false;
    }
    // Converted ahead and never written: their lists and part files go.
    for (size_t i = c->released; i < c->converted; ++i) com_Deallocate_All(c->ring[i % kAheadItems].record, nullptr);
    c->released = c->converted;
    c->aheadBytes = 0;
    c->items = nullptr;
    c->source = nullptr;
    doomed.swap(c->doomed);
  }
  RemoveParts(doomed);
  return c->msgSeq;
}

void StopConverter(Converter *c) {
  if (!c->thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    c->stopping = true;
    c->toThread.notify_one();
  }
  c->thread.join();
  std::vector<std::string> doomed;
  doomed.swap(c->doomed);
  RemoveParts(doomed);
}

Converter::~Converter() { StopConverter(this); }

}  // namespace readahead
