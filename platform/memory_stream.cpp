// Memory readers and spilling writers on glibc's custom streams; none on
// Windows.
#include "platform/memory_stream.h"

#if !defined(_WIN32)

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

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

namespace {

struct SpillingStream {
  std::string path;
  size_t limit;
  int *spilled;
  std::vector<char> bytes;  // in memory until the file is made
  size_t position;
  FILE *file;
  KeepStreamBytes keep;  // offered the bytes still in memory at close
};

int MoveIntoFile(SpillingStream *s) {
  struct stat st;
  if (stat(s->path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) remove(s->path.c_str());
  s->file = fopen(s->path.c_str(), "w+b");
  if (s->file == nullptr) return -1;
  if ((!s->bytes.empty() && fwrite(s->bytes.data(), 1, s->bytes.size(), s->file) != s->bytes.size()) ||
      fseeko(s->file, static_cast<off_t>(s->position), SEEK_SET) != 0) {
    fclose(s->file);
    s->file = nullptr;
    remove(s->path.c_str());
    return -1;
  }
  std::vector<char>().swap(s->bytes);
  if (s->spilled != nullptr) *s->spilled = 1;
  return 0;
}

// A failed write returns 0: a custom stream's writer must not return less.
ssize_t WriteSpilling(void *cookie, const char *in, size_t size) {
  SpillingStream *s = static_cast<SpillingStream *>(cookie);
  if (s->file == nullptr && s->position + size > s->limit && MoveIntoFile(s) != 0) return 0;
  if (s->file != nullptr) return fwrite(in, 1, size, s->file) == size ? static_cast<ssize_t>(size) : 0;
  if (s->position + size > s->bytes.size()) s->bytes.resize(s->position + size);
  memcpy(s->bytes.data() + s->position, in, size);
  s->position += size;
  return static_cast<ssize_t>(size);
}

ssize_t ReadSpilling(void *cookie, char *out, size_t size) {
  SpillingStream *s = static_cast<SpillingStream *>(cookie);
  if (s->file != nullptr) {
    const size_t n = fread(out, 1, size, s->file);
    return n == 0 && ferror(s->file) ? -1 : static_cast<ssize_t>(n);
  }
  const size_t left = s->bytes.size() - s->position, n = size < left ? size : left;
  memcpy(out, s->bytes.data() + s->position, n);
  s->position += n;
  return static_cast<ssize_t>(n);
}

int SeekSpilling(void *cookie, off64_t *offset, int whence) {
  SpillingStream *s = static_cast<SpillingStream *>(cookie);
  if (s->file != nullptr) {
    if (fseeko(s->file, static_cast<off_t>(*offset), whence) != 0) return -1;
    *offset = static_cast<off64_t>(ftello(s->file));
    return 0;
  }
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(s->position);
  else if (whence == SEEK_END) base = static_cast<int64_t>(s->bytes.size());
  else if (whence != SEEK_SET) return -1;
  const int64_t target = base + static_cast<int64_t>(*offset);
  if (target < 0 || target > static_cast<int64_t>(s->bytes.size())) return -1;
  s->position = static_cast<size_t>(target);
  *offset = static_cast<off64_t>(target);
  return 0;
}

int CloseSpilling(void *cookie) {
  SpillingStream *s = static_cast<SpillingStream *>(cookie);
  if (s->file == nullptr && s->keep != nullptr && !s->keep(s->path.c_str(), s->bytes.data(), s->bytes.size()) &&
      MoveIntoFile(s) != 0) {
    delete s;
    return -1;
  }
  const int result = s->file != nullptr && fclose(s->file) != 0 ? -1 : 0;
  delete s;
  return result;
}

}  // namespace

namespace {

FILE *OpenStream(const char *spillPath, size_t limit, int *spilled, KeepStreamBytes keep) {
  if (spillPath == nullptr) return nullptr;
  SpillingStream *s = new (std::nothrow) SpillingStream{spillPath, limit, spilled, {}, 0, nullptr, keep};
  if (s == nullptr) return nullptr;
  cookie_io_functions_t io = {ReadSpilling, WriteSpilling, SeekSpilling, CloseSpilling};
  FILE *stream = fopencookie(s, "w+", io);
  if (stream == nullptr) delete s;
  return stream;
}

}  // namespace

FILE *OpenSpillingStream(const char *spillPath, size_t limit, int *spilled) {
  return OpenStream(spillPath, limit, spilled, nullptr);
}

FILE *OpenKeepingStream(const char *spillPath, size_t limit, KeepStreamBytes keep) {
  return OpenStream(spillPath, limit, nullptr, keep);
}

#else

FILE *OpenMemoryReader(const char *, size_t, MemoryReaderRelease, void *) { return nullptr; }

int MemoryReadersAvailable() { return 0; }

FILE *OpenSpillingStream(const char *, size_t, int *) { return nullptr; }

FILE *OpenKeepingStream(const char *, size_t, KeepStreamBytes) { return nullptr; }

#endif
