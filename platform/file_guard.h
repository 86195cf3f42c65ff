// Owners for C stdio files: a FILE* held by a FilePtr is closed on every path.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
  void operator()(FILE *f) const {
    if (f != nullptr) fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// fopen into an owner; the owner is empty when the file cannot be opened.
inline FilePtr OpenFile(const char *path, const char *mode) { return FilePtr(fopen(path, mode)); }

// Reads one line of at most cap - 1 bytes with fgets and removes the line end
// (LF, CR LF or a lone CR). Returns 0 at end of file.
int ReadTextLine(char *buf, size_t cap, FILE *f);
