// The response writer: reshapes an answer as it streams in so that every tag
// and every text run that follows a tag stands on a line of its own (CR LF).
//
// It works on runs, not bytes: memchr finds the next ">" (and, while a text
// run is pending, the next "<"), and whole runs are copied into one buffer
// that goes to the file in large writes. The result is byte for byte what the
// per-byte rule gives:
//   "<" while text is pending: CR LF first, then the byte, flag cleared;
//   ">": the byte, then CR LF; unless it ends the chunk, the flag becomes 1
//        when the next byte is not "<" and 0 when it is.
#include "transport/http_transfer.h"

#include <cstring>

#include "transport/keep_alive.h"

namespace {

enum : size_t { kWriterBufferSize = 256 * 1024 };

struct ResponseWriterState {
  FILE *file;       // null: no transfer writes now
  int pendingText;  // the last ">" was followed by text, not by "<"
  int failed;       // a write to the file failed since Begin
  size_t used;      // bytes waiting in buffer
  char buffer[kWriterBufferSize];
};

ResponseWriterState gWriter;

void FlushWriterBuffer() {
  if (gWriter.used == 0) return;
  if (!gWriter.failed && fwrite(gWriter.buffer, 1, gWriter.used, gWriter.file) != gWriter.used) {
    gWriter.failed = 1;
  }
  gWriter.used = 0;
}

void PutRun(const char *data, size_t n) {
  if (n > kWriterBufferSize - gWriter.used) {
    FlushWriterBuffer();
    if (n >= kWriterBufferSize) {
      if (!gWriter.failed && fwrite(data, 1, n, gWriter.file) != n) gWriter.failed = 1;
      return;
    }
  }
  memcpy(gWriter.buffer + gWriter.used, data, n);
  gWriter.used += n;
}

inline void PutLineEnd() {
  if (kWriterBufferSize - gWriter.used < 2) FlushWriterBuffer();
  gWriter.buffer[gWriter.used++] = '\r';
  gWriter.buffer[gWriter.used++] = '\n';
}

}  // namespace

void ResponseWriterBegin(FILE *file) {
  gWriter.file = file;
  gWriter.pendingText = 0;
  gWriter.failed = 0;
  gWriter.used = 0;
}

size_t ResponseWriterWrite(const char *data, size_t size) {
  if (gWriter.file == nullptr) return size;
  KeepAliveTick();
  const char *p = data;
  const char *end = data + size;
  while (p < end) {
    const char *gt = static_cast<const char *>(memchr(p, '>', static_cast<size_t>(end - p)));
    const char *runEnd = gt != nullptr ? gt : end;
    if (gWriter.pendingText) {
      const char *lt = static_cast<const char *>(memchr(p, '<', static_cast<size_t>(runEnd - p)));
      if (lt != nullptr) {
        PutRun(p, static_cast<size_t>(lt - p));
        PutLineEnd();
        gWriter.pendingText = 0;
        p = lt;
      }
    }
    if (gt == nullptr) {
      PutRun(p, static_cast<size_t>(end - p));
      break;
    }
    PutRun(p, static_cast<size_t>(gt + 1 - p));
    PutLineEnd();
    p = gt + 1;
    if (p < end) gWriter.pendingText = (*p != '<');
  }
  return gWriter.failed ? 0 : size;
}

void ResponseWriterEnd() {
  if (gWriter.file == nullptr) return;
  FlushWriterBuffer();
  if (fflush(gWriter.file) != 0) gWriter.failed = 1;
  gWriter.file = nullptr;
}

int ResponseWriterFailed() { return gWriter.failed; }
