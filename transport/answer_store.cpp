// The answer store: a few named answers in memory, least recently used one
// written to its file when a new name needs its place, and any answer that
// grows past the spill size continued in its file.
#include "transport/answer_store.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/memory_stream.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"

namespace {

enum {
  kAnswerSlots = 8,  // more names than are ever in use at once
  kAnswerPathSize = 1024,
  kKeptCapacity = 64 * 1024,  // a forgotten answer's buffer kept up to this size
};

// The bytes of one answer. A reader holds them while its stream is open;
// bytes replaced while read are retired and freed by their last reader.
struct AnswerBytes {
  char *data;
  size_t length;
  size_t capacity;
  int readers;
  int retired;
};

struct AnswerSlot {
  char path[kAnswerPathSize];  // "" when the slot is free
  AnswerBytes *bytes;
  int inFile;        // the answer is in its file, not in bytes
  int wroteFile;     // this store wrote a file under path
  // Forgotten: no answer and no file under path. The slot keeps its name,
  // so that the next answer of that name (the next item's) finds it
  // without removing a file that is not there.
  int gone;
  uint64_t lastUse;
};

struct AnswerStore {
  AnswerSlot slots[kAnswerSlots];
  uint64_t clock;
  AnswerSlot *writing;  // the answer between AnswerBegin and AnswerEnd
  FILE *spill;          // its file, once it has one
  int spillFailed;
  size_t spillSize;
  int spillSizeSet;
};

AnswerStore gAnswers;

void FreeBytes(AnswerBytes *bytes) {
  free(bytes->data);
  free(bytes);
}

// Lets the slot's bytes go: freed now, or by their last reader.
void DropBytes(AnswerSlot *slot) {
  AnswerBytes *bytes = slot->bytes;
  slot->bytes = nullptr;
  if (bytes == nullptr) return;
  if (bytes->readers > 0) bytes->retired = 1;
  else FreeBytes(bytes);
}

void ReleaseReader(void *context) {
  AnswerBytes *bytes = static_cast<AnswerBytes *>(context);
  if (--bytes->readers == 0 && bytes->retired) FreeBytes(bytes);
}

size_t SpillSize() {
  if (!MemoryReadersAvailable() || gRunSettings.calTest) return 0;
  return gAnswers.spillSizeSet ? gAnswers.spillSize : kAnswerSpillSize;
}

AnswerSlot *FindSlot(const char *path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  for (AnswerSlot &slot : gAnswers.slots) {
    if (slot.path[0] != '\0' && strcmp(slot.path, path) == 0) return &slot;
  }
  return nullptr;
}

int WriteBytesTo(const AnswerBytes *bytes, const char *path) {
  FilePtr file = CreateFileFresh(path, "wb");
  if (!file) return 0;
  const size_t length = bytes != nullptr ? bytes->length : 0;
  if (length > 0 && fwrite(bytes->data, 1, length, file.get()) != length) return 0;
  return fclose(file.release()) == 0;
}

// A slot for a name not kept yet: a free one, else the least recently used,
// whose answer is written to its file first so that it can still be read.
AnswerSlot *TakeSlot(const char *path) {
  AnswerSlot *chosen = &gAnswers.slots[0];
  for (AnswerSlot &slot : gAnswers.slots) {
    if (slot.path[0] == '\0') {
      chosen = &slot;
      break;
    }
    if (slot.lastUse < chosen->lastUse) chosen = &slot;
  }
  if (chosen->path[0] != '\0' && !chosen->inFile && !chosen->gone) {
    if (!WriteBytesTo(chosen->bytes, chosen->path)) {
      com_Log("MV Warning: cannot write the answer %s", chosen->path);
    }
  }
  DropBytes(chosen);
  chosen->inFile = chosen->wroteFile = chosen->gone = 0;
  CopyText(chosen->path, sizeof chosen->path, path);
  // A file of this name from before (an earlier run's) must not stand for
  // an answer of this one: while the name has its slot, a file under it is
  // one this store wrote.
  remove(path);
  return chosen;
}

// Room for size more bytes in memory; 0 when there is none.
int Reserve(AnswerBytes *bytes, size_t size) {
  if (bytes->capacity - bytes->length >= size) return 1;
  size_t capacity = bytes->capacity > 0 ? bytes->capacity : 16 * 1024;
  while (capacity - bytes->length < size) capacity *= 2;
  char *data = static_cast<char *>(realloc(bytes->data, capacity));
  if (data == nullptr) return 0;
  bytes->data = data;
  bytes->capacity = capacity;
  return 1;
}

// Moves the answer being written into its file: the bytes so far, then
// every later byte.
int StartSpill(AnswerSlot *slot) {
  FilePtr file = CreateFileFresh(slot->path, "wb");
  if (!file) return 0;
  slot->wroteFile = 1;
  slot->inFile = 1;
  if (slot->bytes != nullptr && slot->bytes->length > 0 &&
      fwrite(slot->bytes->data, 1, slot->bytes->length, file.get()) != slot->bytes->length) {
    gAnswers.spillFailed = 1;
  }
  if (slot->bytes != nullptr) slot->bytes->length = 0;
  gAnswers.spill = file.release();
  // The response writer hands over large blocks already; without a second
  // buffer here a failed write shows at once, not only when the file closes.
  setvbuf(gAnswers.spill, nullptr, _IONBF, 0);
  return 1;
}

}  // namespace

int AnswerBegin(const char *path) {
  if (gAnswers.writing != nullptr) AnswerEnd();
  // A name longer than a slot holds could not be found again (work paths
  // are far shorter).
  if (path == nullptr || path[0] == '\0' || strlen(path) >= kAnswerPathSize) return 0;
  AnswerSlot *slot = FindSlot(path);
  if (slot == nullptr) slot = TakeSlot(path);
  slot->lastUse = ++gAnswers.clock;
  if (slot->bytes != nullptr && slot->bytes->readers > 0) DropBytes(slot);
  if (slot->bytes == nullptr) {
    slot->bytes = static_cast<AnswerBytes *>(calloc(1, sizeof(AnswerBytes)));
    if (slot->bytes == nullptr) return 0;
  }
  slot->bytes->length = 0;
  // A file left by an earlier answer of this name must not outlive it.
  if (slot->wroteFile) remove(path);
  slot->inFile = slot->wroteFile = slot->gone = 0;
  gAnswers.writing = slot;
  gAnswers.spillFailed = 0;
  if (SpillSize() == 0 && !StartSpill(slot)) {
    gAnswers.writing = nullptr;
    slot->path[0] = '\0';
    DropBytes(slot);
    return 0;
  }
  return 1;
}

int AnswerAppend(const char *data, size_t size) {
  AnswerSlot *slot = gAnswers.writing;
  if (slot == nullptr) return 0;
  if (!slot->inFile) {
    AnswerBytes *bytes = slot->bytes;
    if (bytes->length + size <= SpillSize() && Reserve(bytes, size)) {
      memcpy(bytes->data + bytes->length, data, size);
      bytes->length += size;
      return 1;
    }
    if (!StartSpill(slot)) {
      gAnswers.spillFailed = 1;
      return 0;
    }
  }
  if (!gAnswers.spillFailed && size > 0 && fwrite(data, 1, size, gAnswers.spill) != size) {
    gAnswers.spillFailed = 1;
  }
  return !gAnswers.spillFailed;
}

int AnswerEnd() {
  if (gAnswers.writing == nullptr) return 0;
  gAnswers.writing = nullptr;
  if (gAnswers.spill != nullptr) {
    if (fclose(gAnswers.spill) != 0) gAnswers.spillFailed = 1;
    gAnswers.spill = nullptr;
  }
  return !gAnswers.spillFailed;
}

FilePtr OpenAnswer(const char *path, const char *mode) {
  AnswerSlot *slot = FindSlot(path);
  if (slot == nullptr || slot->inFile || slot->gone || slot->bytes == nullptr) return OpenFile(path, mode);
  AnswerBytes *bytes = slot->bytes;
  ++bytes->readers;
  FILE *stream = OpenMemoryReader(bytes->data != nullptr ? bytes->data : "", bytes->length,
                                  ReleaseReader, bytes);
  if (stream == nullptr) --bytes->readers;
  return FilePtr(stream);
}

int AnswerMayHold(const char *path, const char *text) {
  const AnswerSlot *slot = FindSlot(path);
  if (slot == nullptr || slot->inFile || slot->gone || slot->bytes == nullptr || text == nullptr) return 1;
  const size_t n = strlen(text);
  if (n == 0 || isalpha(static_cast<unsigned char>(text[0]))) return 1;
  const char *data = slot->bytes->data, *end = data + slot->bytes->length;
  for (const char *at = data; at != nullptr && static_cast<size_t>(end - at) >= n;
       at = static_cast<const char *>(memchr(at + 1, text[0], static_cast<size_t>(end - at - 1)))) {
    if (*at == text[0] && EqualsNoCaseN(at, text, n)) return 1;
  }
  return 0;
}

int CopyAnswer(const char *path, const char *copyPath) {
  AnswerSlot *slot = FindSlot(path);
  if (slot == nullptr || slot->inFile || slot->gone) return com_fcopy(path, copyPath);
  return WriteBytesTo(slot->bytes, copyPath) ? 0 : -1;
}

void KeepAnswerFile(const char *path) {
  AnswerSlot *slot = FindSlot(path);
  if (slot == nullptr || slot->inFile || slot->gone || gAnswers.writing == slot) return;
  if (WriteBytesTo(slot->bytes, slot->path)) slot->wroteFile = 1;
}

void ForgetAnswer(const char *path) {
  AnswerSlot *slot = FindSlot(path);
  if (slot == nullptr) {
    if (path != nullptr) remove(path);
    return;
  }
  if (gAnswers.writing == slot) AnswerEnd();
  // A small buffer no reader holds stays for the next answer of this name.
  if (slot->bytes != nullptr && slot->bytes->readers == 0 && slot->bytes->capacity <= kKeptCapacity)
    slot->bytes->length = 0;
  else
    DropBytes(slot);
  if (slot->wroteFile) remove(path);
  slot->inFile = slot->wroteFile = 0;
  slot->gone = 1;
}

void ForgetAllAnswers() {
  if (gAnswers.writing != nullptr) AnswerEnd();
  for (AnswerSlot &slot : gAnswers.slots) {
    DropBytes(&slot);
    slot.path[0] = '\0';
    slot.inFile = slot.wroteFile = slot.gone = 0;
  }
}

void SetAnswerSpillSize(size_t size) {
  gAnswers.spillSize = size;
  gAnswers.spillSizeSet = 1;
}
