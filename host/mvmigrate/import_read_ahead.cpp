// The import's read-ahead thread.
#include "host/mvmigrate/import_read_ahead.h"

#include <unistd.h>

#include "plugin/mvcom.h"

namespace readahead {
namespace {

void Run(Conversion *c) {
  c->subject.clear();
  c->reason.clear();
  c->warnings.clear();
  c->source->Identify(c->item);
  if (c->item->key.empty()) {  // the loop reports the item's problem
    c->result = -1;
    return;
  }
  c->result = c->source->Convert(*c->item, c->record, &c->subject, &c->warnings, &c->reason);
}

void RemoveParts(const std::vector<std::string> &paths) {
  for (const std::string &path : paths) mvcom_PartRemove(path.c_str());
}

void Loop(Converter *converter) {
  std::unique_lock<std::mutex> lock(converter->mutex);
  std::vector<std::string> doomed;
  for (;;) {
    converter->changed.wait(lock, [converter] { return converter->stopping || converter->next != nullptr; });
    if (converter->next == nullptr) return;  // stopping, nothing in hand
    Conversion *c = converter->next;
    doomed.swap(converter->doomed);
    lock.unlock();
    RemoveParts(doomed);
    doomed.clear();
    Run(c);
    lock.lock();
    converter->next = nullptr;
    converter->changed.notify_all();
  }
}

}  // namespace

void StartConverter(Converter *converter) {
  converter->stopping = false;
  converter->next = nullptr;
  converter->thread = std::thread(Loop, converter);
}

void Convert(Converter *converter, Conversion *conversion) {
  if (!converter->thread.joinable()) {
    Run(conversion);
    return;
  }
  std::lock_guard<std::mutex> lock(converter->mutex);
  converter->next = conversion;
  converter->changed.notify_all();
}

void WaitFor(Converter *converter) {
  if (!converter->thread.joinable()) return;
  std::unique_lock<std::mutex> lock(converter->mutex);
  converter->changed.wait(lock, [converter] { return converter->next == nullptr; });
}

void DeleteLater(Converter *converter, std::vector<std::string> *paths) {
  if (!converter->thread.joinable()) {
    RemoveParts(*paths);
    return;
  }
  std::lock_guard<std::mutex> lock(converter->mutex);
  converter->doomed.insert(converter->doomed.end(), paths->begin(), paths->end());
}

void DeleteLeft(Converter *converter) {
  std::vector<std::string> doomed;
  {
    std::lock_guard<std::mutex> lock(converter->mutex);
    doomed.swap(converter->doomed);
  }
  RemoveParts(doomed);
}

void StopConverter(Converter *converter) {
  if (!converter->thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(converter->mutex);
    converter->stopping = true;
    converter->changed.notify_all();
  }
  converter->thread.join();
  DeleteLeft(converter);
}

Converter::~Converter() { StopConverter(this); }

}  // namespace readahead
