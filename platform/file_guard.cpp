// Line reading over a guarded FILE*.
#include "file_guard.h"

#include <sys/stat.h>

#include <cstring>

FilePtr CreateFileFresh(const char *path, const char *mode) {
  struct stat st;
  if (path != nullptr && stat(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG) remove(path);
  return OpenFile(path, mode);
}

int ReadTextLine(char *buf, size_t cap, FILE *f) {
  if (cap < 2 || f == nullptr) return 0;
  if (fgets(buf, static_cast<int>(cap > 0x7fffffff ? 0x7fffffff : cap), f) == nullptr) return 0;
  size_t len = strlen(buf);
  while (len > 0 && (buf[len - 1] == '\n' || buf[len - 1] == '\r')) buf[--len] = '\0';
  return 1;
}

int ReadWholeFile(const char *path, std::string *text) {
  FilePtr f = OpenFile(path, "rb");
  if (!f) return -1;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f.get())) > 0) text->append(buffer, n);
  return ferror(f.get()) ? -1 : 0;
}
