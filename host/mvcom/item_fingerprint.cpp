// The fingerprint that tells apart items without a GroupWise message id:
// two 64-bit FNV-1a hashes over the recipients and every part's kind,
// name, noted size and bytes.
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/mvcom/mvcom_host.h"
#include "host/mvcom/mvcom_state.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"

namespace {

const uint64_t kFnvPrime = 1099511628211ULL;

// Two hashes with different starts: 128 bits between two different items.
struct Fingerprint {
  uint64_t a = 14695981039346656037ULL;
  uint64_t b = 0x6C62272E07BB0142ULL;
};

void HashBytes(Fingerprint *fp, const char *bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    fp->a = (fp->a ^ c) * kFnvPrime;
    fp->b = (fp->b ^ c) * kFnvPrime;
  }
}

// A field and a separator byte after it, so that "ab","c" differs from "a","bc".
void HashField(Fingerprint *fp, const char *text, size_t cap) {
  HashBytes(fp, text, strnlen(text, cap));
  HashBytes(fp, "\x1F", 1);
}

void HashNumber(Fingerprint *fp, int64_t value) {
  char digits[32];
  FormatText(digits, sizeof digits, "%" PRId64, value);
  HashField(fp, digits, sizeof digits);
}

// The hash states before and after one large part file was hashed, and
// what told that file apart. The key of an item is asked for several
// times (the state, the message file's name, its Message-ID): a file of
// hundreds of megabytes is read once, not each time. The memo lasts from
// the item's last part being added to the next part being added, and
// holds only while the file keeps its identity, size and change times; a
// different state before it gives a different state after, so that is
// part of the key too.
struct PartHashMemo {
  bool valid = false;
  std::string path;
  struct stat identity = {};
  Fingerprint before, after;
};

// Files below this size are hashed again: cheaper than the bookkeeping.
const int64_t kMemoMinBytes = 1 << 20;

// One per thread: the export's writer thread names its files by the same
// keys while the host's main thread asks for the next item's.
thread_local PartHashMemo gPartHashMemo;

bool SameFile(const struct stat &x, const struct stat &y) {
#if defined(_WIN32)
  (void)x, (void)y;
  return false;  // no nanosecond times: always hashed
#else
  return x.st_dev == y.st_dev && x.st_ino == y.st_ino && x.st_size == y.st_size &&
         x.st_mtim.tv_sec == y.st_mtim.tv_sec && x.st_mtim.tv_nsec == y.st_mtim.tv_nsec &&
         x.st_ctim.tv_sec == y.st_ctim.tv_sec && x.st_ctim.tv_nsec == y.st_ctim.tv_nsec;
#endif
}

bool SameState(const Fingerprint &x, const Fingerprint &y) { return x.a == y.a && x.b == y.b; }

}  // namespace

void ForgetPartHashes(void) { gPartHashMemo.valid = false; }

namespace {

// The part file's length and bytes; a missing file hashes as "-1".
void HashPartFile(Fingerprint *fp, const char *workDir, const HostMessage *record, int index) {
  char path[4096];
  FormatPartFileName(path, sizeof path, workDir, record->msgSeq, index);
  const auto hashKept = [](void *user, const char *data, size_t n) {
    HashBytes(static_cast<Fingerprint *>(user), data, n);
    HashNumber(static_cast<Fingerprint *>(user), static_cast<int64_t>(n));
  };
  if (mvcom_PartRead(path, hashKept, fp)) return;
  FilePtr file = OpenFile(path, "rb");
  if (!file) {
    HashNumber(fp, -1);
    return;
  }
  struct stat identity;
  const bool large = fstat(fileno(file.get()), &identity) == 0 && identity.st_size >= kMemoMinBytes;
  if (large) {
    const PartHashMemo &m = gPartHashMemo;
    if (m.valid && m.path == path && SameFile(m.identity, identity) && SameState(m.before, *fp)) {
      *fp = m.after;
      return;
    }
  }
  const Fingerprint before = *fp;
  char block[65536];
  int64_t length = 0;
  size_t n;
  while ((n = fread(block, 1, sizeof block, file.get())) > 0) {
    HashBytes(fp, block, n);
    length += static_cast<int64_t>(n);
  }
  HashNumber(fp, length);
  // Taken only when the file did not change while it was read.
  struct stat after;
  if (large && fstat(fileno(file.get()), &after) == 0 && SameFile(identity, after) &&
      length == static_cast<int64_t>(identity.st_size)) {
    gPartHashMemo.valid = true;
    gPartHashMemo.path = path;
    gPartHashMemo.identity = identity;
    gPartHashMemo.before = before;
    gPartHashMemo.after = *fp;
  }
}

}  // namespace

int mvcom_ItemFingerprint(const HostMessage *record, const char *workDir, char *out, size_t cap) {
  if (record == nullptr || out == nullptr || cap == 0) return -1;
  Fingerprint fp;
  HashField(&fp, record->fromName, sizeof record->fromName);
  HashNumber(&fp, record->recipCount);
  for (int i = 0; i < record->recipCount && i < kMaxRecipients; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r == nullptr) continue;
    HashNumber(&fp, r->kind);
    HashField(&fp, r->name, sizeof r->name);
    HashField(&fp, r->address, sizeof r->address);
  }
  HashNumber(&fp, record->partCount);
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    const HostPart *p = record->parts[i];
    if (p == nullptr) continue;
    HashNumber(&fp, p->kind);
    HashField(&fp, p->name, sizeof p->name);
    HashNumber(&fp, p->size);
    HashPartFile(&fp, workDir != nullptr ? workDir : "", record, i);
  }
  return FormatText(out, cap, "%016" PRIx64 "%016" PRIx64, fp.a, fp.b) == 32 ? 0 : -1;
}
