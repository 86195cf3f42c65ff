// Part files kept in memory under their file's name, for a host that asks.
// The plug-in hands a small part over here instead of writing it; the host's
// stores, the fingerprint and the record-list chores read it from here; a
// name that is not kept is the file, as before. The export's writer thread
// reads and drops the parts of its queue while the main thread keeps the
// next item's, so every call holds the lock.
#include <cstdio>

#include "host/mvcom/mvcom_state.h"
#include "plugin/mvcom.h"

#if defined(_WIN32)
// No memory streams for the plug-in to write into (and no std::mutex in the
// Windows toolchain's thread model): every part is its file.
void mvcom_SetPartMemory(size_t) {}
size_t mvcom_PartMemoryLimit(void) { return 0; }
int mvcom_PartKeep(const char *, const char *, size_t) { return 0; }
int mvcom_PartRead(const char *, MvcomPartSink, void *) { return 0; }
void mvcom_PartRemove(const char *path) {
  if (path != nullptr) remove(path);
}
void ForgetKeptPart(const char *) {}

int mvcom_PartRename(const char *from, const char *to) {
  if (from == nullptr || to == nullptr) return -1;
  remove(to);  // rename does not replace a file on Windows
  if (rename(from, to) == 0) return 0;
  return -1;
}
#else
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

struct PartMemory {
  std::mutex mutex;
  size_t limit = 0;
  std::unordered_map<std::string, std::string> parts;
};

PartMemory &Parts() {
  static PartMemory memory;
  return memory;
}

}  // namespace

void mvcom_SetPartMemory(size_t limit) {
  PartMemory &m = Parts();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.limit = limit;
  if (limit == 0) m.parts.clear();
}

size_t mvcom_PartMemoryLimit(void) {
  PartMemory &m = Parts();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.limit;
}

int mvcom_PartKeep(const char *path, const char *data, size_t size) {
  if (path == nullptr || (data == nullptr && size > 0)) return 0;
  PartMemory &m = Parts();
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.limit == 0 || size > m.limit) return 0;
    m.parts[path].assign(data != nullptr ? data : "", size);
  }
  // A file left under this name by an earlier item must not be read for it.
  remove(path);
  return 1;
}

int mvcom_PartRead(const char *path, MvcomPartSink sink, void *user) {
  if (path == nullptr) return 0;
  PartMemory &m = Parts();
  std::lock_guard<std::mutex> lock(m.mutex);
  auto found = m.parts.find(path);
  if (found == m.parts.end()) return 0;
  if (sink != nullptr) sink(user, found->second.data(), found->second.size());
  return 1;
}

void mvcom_PartRemove(const char *path) {
  if (path == nullptr) return;
  PartMemory &m = Parts();
  bool kept = false;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    kept = m.parts.erase(path) > 0;
  }
  if (!kept) remove(path);
}

void ForgetKeptPart(const char *path) {
  if (path == nullptr) return;
  PartMemory &m = Parts();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.parts.erase(path);
}

int mvcom_PartRename(const char *from, const char *to) {
  if (from == nullptr || to == nullptr) return -1;
  PartMemory &m = Parts();
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    auto found = m.parts.find(from);
    if (found != m.parts.end()) {
      std::string bytes = std::move(found->second);
      m.parts.erase(found);
      m.parts[to] = std::move(bytes);
      return 0;
    }
    m.parts.erase(to);
  }
  if (rename(from, to) == 0) return 0;
  remove(to);
  return -1;
}
#endif
