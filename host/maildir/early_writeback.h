// Early writeback of a large file being written: the one sync at the end
// of a message of hundreds of megabytes then finds most of it on disk.
#pragma once

#include <cstdint>

namespace maildir {

// Where a file's writeback stands: bytes written, bytes handed to the
// kernel's writeback.
struct WritebackMark {
  int64_t written = 0;
  int64_t handedOver = 0;
};

// Counts n more bytes written to fd (all of them already passed to the
// kernel, no stdio buffer in between) and, every few megabytes, starts the
// kernel writing them out without waiting for it. A hint only: on failure,
// or where there is no such call, the data waits for the sync as before.
void NoteWritten(int fd, int64_t n, WritebackMark *mark);

// Starts the kernel writing out the size bytes written to fd, without
// waiting: a file whose sync comes later, with those of many others, is then
// mostly on disk when it comes. A hint, as above. Files under a megabyte are
// left to the group's sync: started one by one, their writeback cost the
// export more processor time than the shorter sync gave back.
void StartWriteback(int fd, int64_t size);

// Bytes between two writeback starts (a few megabytes; tests set less).
int64_t WritebackInterval();
void SetWritebackInterval(int64_t bytes);

}  // namespace maildir
