#include "host/maildir/early_writeback.h"

#include <fcntl.h>

namespace maildir {

namespace {
int64_t gInterval = 8 << 20;
const int64_t kSmallFile = 1 << 20;
}  // namespace

int64_t WritebackInterval() { return gInterval; }
void SetWritebackInterval(int64_t bytes) { gInterval = bytes > 0 ? bytes : 1; }

void StartWriteback(int fd, int64_t size) {
  if (size < kSmallFile) return;
#ifdef __linux__
  sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
}

void NoteWritten(int fd, int64_t n, WritebackMark *mark) {
  mark->written += n;
  if (mark->written - mark->handedOver < gInterval) return;
#ifdef __linux__
  // SYNC_FILE_RANGE_WRITE alone queues the pages and returns: the writing
  // overlaps with what comes next instead of all of it waiting for fsync.
  sync_file_range(fd, mark->handedOver, mark->written - mark->handedOver, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
  mark->handedOver = mark->written;
}

}  // namespace maildir
