// Writing a finished output file of the host: standard output, a device or
// FIFO in place, anything else replaced whole through a temporary file.
#include "host/report/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace report {
namespace {

// Writes all of text to fd. Returns 0, or -1 with errno set.
int WriteAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

int WriteStandardOutput(const std::string &text, std::string *error) {
  if (fwrite(text.data(), 1, text.size(), stdout) != text.size() || fflush(stdout) != 0) {
    *error = std::string("cannot write to standard output: ") + strerror(errno);
    return -1;
  }
  return 0;
}

// A device or FIFO takes the text as it is: renaming over it would put a
// regular file in the place of, say, /dev/null for every program after us.
int WriteInPlace(const std::string &path, const std::string &text, std::string *error) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + strerror(errno);
    return -1;
  }
  int rc = WriteAll(fd, text);
  int savedErrno = errno;
  if (close(fd) != 0 && rc == 0) {
    rc = -1;
    savedErrno = errno;
  }
  if (rc != 0) *error = "cannot write " + path + ": " + strerror(savedErrno);
  return rc;
}

int ReplaceWhole(const std::string &path, const std::string &text, bool sync, std::string *error) {
  const std::string tmp = path + ".tmp";
  // O_NOFOLLOW: a link planted under the temporary name must not redirect the write.
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = "cannot create " + tmp + ": " + strerror(errno);
    return -1;
  }
  // A temporary file left by an older run keeps its old mode; make it ours.
  bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, text) == 0 && (!sync || fsync(fd) == 0);
  int savedErrno = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    *error = "cannot write " + tmp + ": " + strerror(savedErrno);
    unlink(tmp.c_str());
    return -1;
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot rename " + tmp + " to " + path + ": " + strerror(errno);
    unlink(tmp.c_str());
    return -1;
  }
  return 0;
}

}  // namespace

int WriteOutputFile(const std::string &path, const std::string &text, bool sync, std::string *error) {
  if (path == "-") return WriteStandardOutput(text, error);
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *error = "cannot write " + path + ": it is a directory";
      return -1;
    }
    if (!S_ISREG(st.st_mode)) return WriteInPlace(path, text, error);
  }
  return ReplaceWhole(path, text, sync, error);
}

}  // namespace report
