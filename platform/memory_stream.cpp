// Memory readers on glibc's custom streams; none on Windows.
#include "platform/memory_stream.h"

#if !defined(_WIN32)

#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct MemoryReader {
  const char *data;
  size_t length;
  size_t position;
  MemoryReaderRelease release;
  void *context;
};

ssize_t ReadBytes(void *cookie, char *out, size_t size) {
  MemoryReader *r = static_cast<MemoryReader *>(cookie);
  size_t left = r->length - r->position;
  size_t n = size < left ? size : left;
  memcpy(out, r->data + r->position, n);
  r->position += n;
  return static_cast<ssize_t>(n);
}

int SeekBytes(void *cookie, off64_t *offset, int whence) {
  MemoryReader *r = static_cast<MemoryReader *>(cookie);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(r->position);
  else if (whence == SEEK_END) base = static_cast<int64_t>(r->length);
  else if (whence != SEEK_SET) return -1;
  const int64_t target = base + static_cast<int64_t>(*offset);
  if (target < 0 || target > static_cast<int64_t>(r->length)) return -1;
  r->position = static_cast<size_t>(target);
  *offset = static_cast<off64_t>(target);
  return 0;
}

int CloseReader(void *cookie) {
  MemoryReader *r = static_cast<MemoryReader *>(cookie);
  if (r->release != nullptr) r->release(r->context);
  delete r;
  return 0;
}

}  // namespace

FILE *OpenMemoryReader(const char *data, size_t length, MemoryReaderRelease release,
                       void *context) {
  MemoryReader *r = new (std::nothrow) MemoryReader{data, length, 0, release, context};
  if (r == nullptr) return nullptr;
  cookie_io_functions_t io = {ReadBytes, nullptr, SeekBytes, CloseReader};
  FILE *stream = fopencookie(r, "r", io);
  if (stream == nullptr) delete r;
  return stream;
}

int MemoryReadersAvailable() { return 1; }

#else

FILE *OpenMemoryReader(const char *, size_t, MemoryReaderRelease, void *) { return nullptr; }

int MemoryReadersAvailable() { return 0; }

#endif
