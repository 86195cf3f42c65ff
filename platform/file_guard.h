// Owners for C stdio files: a FILE* held by a FilePtr is closed on every path.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
  void operator()(FILE *f) const {
    if (f != nullptr) fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// fopen into an owner; the owner is empty when the file cannot be opened.
inline FilePtr OpenFile(const char *path, const char *mode) { return FilePtr(fopen(path, mode)); }

// Opens path for writing as an empty file ("w" or "wb" in mode). An
// existing regular file is removed and created anew rather than truncated:
// on ext4, truncating a file that holds data and writing it again forces its
// blocks to disk at close, which costs more than writing a small work file.
// Anything else at path (a device such as /dev/full) is opened as it is.
// The owner is empty when the file cannot be opened.
FilePtr CreateFileFresh(const char *path, const char *mode);

// Reads one line of at most cap - 1 bytes with fgets and removes the line end
// (LF, CR LF or a lone CR). Returns 0 at end of file.
int ReadTextLine(char *buf, size_t cap, FILE *f);

// Appends the whole content of the file at path to *text. Returns 0, or -1
// when the file cannot be opened or read (errno tells why).
int ReadWholeFile(const char *path, std::string *text);
