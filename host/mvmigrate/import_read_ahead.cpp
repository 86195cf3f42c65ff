// The import's read-ahead thread.
#include "host/mvmigrate/import_read_ahead.h"

namespace readahead {
namespace {

void Run(Conversion *c) {
  c->subject.clear();
  c->reason.clear();
  c->warnings.clear();
  c->result = c->source->Convert(*c->item, c->record, &c->subject, &c->warnings, &c->reason);
}

void Loop(Converter *converter) {
  std::unique_lock<std::mutex> lock(converter->mutex);
  for (;;) {
    converter->changed.wait(lock, [converter] { return converter->stopping || converter->next != nullptr; });
    if (converter->next == nullptr) return;  // stopping, nothing in hand
    Conversion *c = converter->next;
    lock.unlock();
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

void StopConverter(Converter *converter) {
  if (!converter->thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(converter->mutex);
    converter->stopping = true;
    converter->changed.notify_all();
  }
  converter->thread.join();
}

Converter::~Converter() { StopConverter(this); }

}  // namespace readahead
