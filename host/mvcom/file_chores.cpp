// File chores of the host library: copying a file and asking for its size.
#include <sys/stat.h>
#include <unistd.h>
#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdio>
#include <string>

#include "host/mvcom/mvcom_state.h"
#include "platform/file_guard.h"

#if defined(_WIN32)
// The C runtime's stat has no inode numbers on Windows (st_ino is 0 for every
// file): the volume serial and file index name a file there.
static int FileIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info) {
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}

static int SameFile(const char *a, const char *b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return FileIdentity(a, &ia) && FileIdentity(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}
#else
static int SameFile(const char *a, const char *b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
#endif

// Copies every byte of in to out. Returns 0, or -1 on a read or write error.
static int CopyStream(FILE *in, FILE *out) {
  char block[65536];
  size_t n;
  while ((n = fread(block, 1, sizeof block, in)) > 0)
    if (fwrite(block, 1, n, out) != n) return -1;
  return ferror(in) ? -1 : 0;
}

int com_fcopy(const char *source, const char *destination) {
  if (source == nullptr || destination == nullptr) return -1;
  // Opening the destination for writing would empty a source that is the same file.
  if (SameFile(source, destination)) return 0;
  std::string kept;
  if (ReadKeptPart(source, &kept)) {
    FILE *out = fopen(destination, "wb");
    if (out == nullptr) return -1;
    int result = fwrite(kept.data(), 1, kept.size(), out) == kept.size() ? 0 : -1;
    if (fclose(out) != 0) result = -1;
    if (result != 0) unlink(destination);
    return result;
  }
  FilePtr in = OpenFile(source, "rb");
  if (!in) return -1;
  FILE *out = fopen(destination, "wb");
  if (out == nullptr) return -1;
  int result = CopyStream(in.get(), out);
  if (fclose(out) != 0) result = -1;
  if (result != 0) unlink(destination);
  return result;
}

int com_GetFileSize(const char *path, int64_t *size) {
  int64_t keptSize = 0;
  if (mvcom_PartRead(
          path, [](void *user, const char *, size_t n) { *static_cast<int64_t *>(user) = static_cast<int64_t>(n); },
          &keptSize)) {
    if (size != nullptr) *size = keptSize;
    return 0;
  }
#if defined(_WIN32)
  // The plain stat's size is 32 bits on 32-bit Windows.
  struct _stat64 st;
  if (path == nullptr || _stat64(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
#else
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
#endif
  if (size != nullptr) *size = static_cast<int64_t>(st.st_size);
  return 0;
}
