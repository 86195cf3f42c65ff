// Part files written into memory and handed to the host when closed.
#include "transport/part_files.h"

#include <cstdio>
#include <cstring>

#include "plugin/mvcom.h"

#if !defined(_WIN32)
namespace {

struct PartSink {
  std::string path;
  std::string bytes;
  size_t limit = 0;
  FILE *file = nullptr;  // once the part outgrew the limit
  long long position = 0;
};

// Moves the held bytes into the part's file, which the rest then follows.
bool Spill(PartSink *sink) {
  mvcom_PartRemove(sink->path.c_str());  // nothing kept may stand for the file
  sink->file = fopen(sink->path.c_str(), "wb");
  if (sink->file == nullptr) return false;
  if (!sink->bytes.empty() && fwrite(sink->bytes.data(), 1, sink->bytes.size(), sink->file) != sink->bytes.size())
    return false;
  std::string().swap(sink->bytes);
  return true;
}

ssize_t SinkWrite(void *cookie, const char *data, size_t size) {
  PartSink *sink = static_cast<PartSink *>(cookie);
  if (sink->file == nullptr && sink->bytes.size() + size > sink->limit && !Spill(sink)) return -1;
  if (sink->file == nullptr) {
    sink->bytes.append(data, size);
  } else if (fwrite(data, 1, size, sink->file) != size) {
    return -1;
  }
  sink->position += static_cast<long long>(size);
  return static_cast<ssize_t>(size);
}

// Only where the stream stands can be asked (ftell); it never moves.
int SinkSeek(void *cookie, off64_t *offset, int whence) {
  PartSink *sink = static_cast<PartSink *>(cookie);
  if ((whence == SEEK_CUR && *offset == 0) || (whence == SEEK_SET && *offset == sink->position)) {
    *offset = sink->position;
    return 0;
  }
  return -1;
}

int SinkClose(void *cookie) {
  PartSink *sink = static_cast<PartSink *>(cookie);
  int result = 0;
  if (sink->file == nullptr && !mvcom_PartKeep(sink->path.c_str(), sink->bytes.data(), sink->bytes.size()) &&
      !Spill(sink))
    result = -1;
  if (sink->file != nullptr && fclose(sink->file) != 0) result = -1;
  delete sink;
  return result;
}

}  // namespace
#endif

FilePtr OpenPartSink(const char *path) {
#if !defined(_WIN32)
  const size_t limit = mvcom_PartMemoryLimit();
  if (limit > 0 && path != nullptr) {
    PartSink *sink = new PartSink;
    sink->path = path;
    sink->limit = limit;
    cookie_io_functions_t io = {nullptr, SinkWrite, SinkSeek, SinkClose};
    FILE *stream = fopencookie(sink, "wb", io);
    if (stream != nullptr) return FilePtr(stream);
    delete sink;
  }
#endif
  return OpenFile(path, "wb");
}

FilePtr OpenPartSource(const char *path, std::string *kept) {
  kept->clear();
#if !defined(_WIN32)
  if (ReadKeptPart(path, kept)) {
    // fmemopen wants at least one byte; an empty part reads as empty.
    const bool empty = kept->empty();
    if (empty) kept->push_back('\0');
    FILE *stream = fmemopen(&(*kept)[0], kept->size(), "rb");
    if (stream != nullptr && empty) fseek(stream, 0, SEEK_END);
    return FilePtr(stream);
  }
#endif
  return OpenFile(path, "rb");
}
