// Part files written into memory and handed to the host when closed.
#include "transport/part_files.h"

#include <cstdio>

#include "platform/memory_stream.h"
#include "plugin/mvcom.h"

FilePtr OpenPartSink(const char *path) {
  const size_t limit = mvcom_PartMemoryLimit();
  if (limit > 0 && path != nullptr) {
    // Bytes an earlier item left kept under this name must not stand for a
    // part that goes on into its file.
    if (mvcom_PartRead(path, nullptr, nullptr)) mvcom_PartRemove(path);
    if (FILE *stream = OpenKeepingStream(path, limit, &mvcom_PartKeep)) return FilePtr(stream);
  }
  return OpenFile(path, "wb");
}

FilePtr OpenPartSource(const char *path, std::string *kept) {
  kept->clear();
  if (MemoryReadersAvailable() && ReadKeptPart(path, kept))
    return FilePtr(OpenMemoryReader(kept->data(), kept->size(), nullptr, nullptr));
  return OpenFile(path, "rb");
}
