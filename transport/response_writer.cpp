// The response writer: reshapes an answer as it streams in so that every tag
// and every text run that follows a tag stands on a line of its own (CR LF).
//
// It works on runs, not bytes: memchr finds the next ">" (and, outside a
// tag, the next "<"), and whole runs are copied into one buffer that goes to
// the file in large writes. The result is byte for byte what the per-byte
// rule gives:
//   "<" while text is pending: CR LF first, then the byte, flag cleared;
//   ">": the byte, then CR LF; unless it ends the chunk, the flag becomes 1
//        when the next byte is not "<" and 0 when it is;
//   CR or LF after a ">" and before the next "<": "&#13;" or "&#10;", so
//        that a text run stays on one line whatever line breaks it holds
//        (the scanner decodes them back into the value).
#include "transport/http_transfer.h"

#include <cstring>

#include "transport/answer_store.h"
#include "transport/keep_alive.h"
#include "transport/soap_answer.h"

namespace {

enum : size_t { kWriterBufferSize = 256 * 1024 };

struct ResponseWriterState {
  FILE *file;       // the file written, or null
  int toStore;      // the answer store is written (AnswerBegin was called)
  int pendingText;  // the last ">" was followed by text, not by "<"
  int inTag;        // between "<" and ">", or before the first tag
  int failed;       // a write to the file failed since Begin
  size_t used;      // bytes waiting in buffer
  char buffer[kWriterBufferSize];
};

ResponseWriterState gWriter;

// Reshaped bytes go out: into the verdict's scan (so the answer is read
// once) and into the file or the answer store.
void Emit(const char *data, size_t n) {
  if (gWriter.failed) return;
  ScanSoapAnswer(data, n);
  if (gWriter.toStore) {
    if (!AnswerAppend(data, n)) gWriter.failed = 1;
  } else if (fwrite(data, 1, n, gWriter.file) != n) {
    gWriter.failed = 1;
  }
}

void FlushWriterBuffer() {
  if (gWriter.used == 0) return;
  Emit(gWriter.buffer, gWriter.used);
  gWriter.used = 0;
}

void PutRun(const char *data, size_t n) {
  if (n > kWriterBufferSize - gWriter.used) {
    FlushWriterBuffer();
    if (n >= kWriterBufferSize) {
      Emit(data, n);
      return;
    }
  }
  memcpy(gWriter.buffer + gWriter.used, data, n);
  gWriter.used += n;
}

// A text run with its line breaks written as references.
void PutText(const char *data, size_t n) {
  const char *end = data + n;
  while (data < end) {
    const char *lf = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(end - data)));
    const char *searchEnd = lf != nullptr ? lf : end;
    const char *cr =
        static_cast<const char *>(memchr(data, '\r', static_cast<size_t>(searchEnd - data)));
    const char *lineBreak = cr != nullptr ? cr : lf;
    if (lineBreak == nullptr) {
      PutRun(data, static_cast<size_t>(end - data));
      return;
    }
    PutRun(data, static_cast<size_t>(lineBreak - data));
    PutRun(*lineBreak == '\r' ? "&#13;" : "&#10;", 5);
    data = lineBreak + 1;
  }
}

inline void PutLineEnd() {
  if (kWriterBufferSize - gWriter.used < 2) FlushWriterBuffer();
  gWriter.buffer[gWriter.used++] = '\r';
  gWriter.buffer[gWriter.used++] = '\n';
}

}  // namespace

namespace {

void BeginWriter(FILE *file, int toStore) {
  gWriter.file = file;
  gWriter.toStore = toStore;
  gWriter.pendingText = 0;
  gWriter.inTag = 1;
  gWriter.failed = 0;
  gWriter.used = 0;
  BeginSoapAnswerScan();
}

}  // namespace

void ResponseWriterBegin(FILE *file) { BeginWriter(file, 0); }

void ResponseWriterBeginAnswer() { BeginWriter(nullptr, 1); }

size_t ResponseWriterWrite(const char *data, size_t size) {
  if (gWriter.file == nullptr && !gWriter.toStore) return size;
  KeepAliveTick();
  const char *p = data;
  const char *end = data + size;
  while (p < end) {
    const char *gt = static_cast<const char *>(memchr(p, '>', static_cast<size_t>(end - p)));
    const char *runEnd = gt != nullptr ? gt : end;
    if (!gWriter.inTag) {
      const char *lt = static_cast<const char *>(memchr(p, '<', static_cast<size_t>(runEnd - p)));
      const char *textEnd = lt != nullptr ? lt : runEnd;
      PutText(p, static_cast<size_t>(textEnd - p));
      p = textEnd;
      if (lt != nullptr) {
        if (gWriter.pendingText) PutLineEnd();
        gWriter.pendingText = 0;
        gWriter.inTag = 1;
      }
    }
    if (gt == nullptr) {
      PutRun(p, static_cast<size_t>(end - p));
      break;
    }
    PutRun(p, static_cast<size_t>(gt + 1 - p));
    PutLineEnd();
    gWriter.inTag = 0;
    p = gt + 1;
    if (p < end) gWriter.pendingText = (*p != '<');
  }
  return gWriter.failed ? 0 : size;
}

void ResponseWriterEnd() {
  if (gWriter.file == nullptr && !gWriter.toStore) return;
  FlushWriterBuffer();
  if (gWriter.file != nullptr && fflush(gWriter.file) != 0) gWriter.failed = 1;
  gWriter.file = nullptr;
  gWriter.toStore = 0;
}

int ResponseWriterFailed() { return gWriter.failed; }
