// The fingerprint that tells apart items without a GroupWise message id:
// two 64-bit FNV-1a hashes over the recipients and every part's kind,
// name, noted size and bytes.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "host/mvcom/mvcom_host.h"
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

// The part file's length and bytes; a missing file hashes as "-1".
void HashPartFile(Fingerprint *fp, const char *workDir, const HostMessage *record, int index) {
  char path[4096];
  FormatPartFileName(path, sizeof path, workDir, record->msgSeq, index);
  FilePtr file = OpenFile(path, "rb");
  if (!file) {
    HashNumber(fp, -1);
    return;
  }
  char block[65536];
  int64_t length = 0;
  size_t n;
  while ((n = fread(block, 1, sizeof block, file.get())) > 0) {
    HashBytes(fp, block, n);
    length += static_cast<int64_t>(n);
  }
  HashNumber(fp, length);
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
