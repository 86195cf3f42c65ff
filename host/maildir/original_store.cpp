// Writing a received mail's original message into a Maildir file.
#include "host/maildir/original_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "host/maildir/early_writeback.h"
#include "plugin/host_message.h"

namespace maildir {

int WriteAll(int fd, const void *data, size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

namespace {

const char kOriginalPartName[] = "Mime.822";

// headers with every "\n" made "\r\n".
std::string WithCrLf(const std::string &headers) {
  std::string out;
  for (char c : headers) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

int FindOriginalPart(const HostMessage &record) {
  for (int i = 0; i < record.partCount && i < kMaxParts; ++i) {
    const HostPart *part = record.parts[i];
    if (part != nullptr && part->kind == kPartFile &&
        strncmp(part->name, kOriginalPartName, sizeof part->name) == 0)
      return i;
  }
  return -1;
}

int64_t WriteOriginalFile(const std::string &headers, const std::string &originalPath, const std::string &path,
                          bool sync, std::string *error) {
  int in = open(originalPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = "cannot read the original message " + originalPath + ": " + strerror(errno);
    return -1;
  }
  int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) {
    *error = "cannot create " + path + ": " + strerror(errno);
    close(in);
    return -1;
  }
  std::vector<char> block(256 * 1024);
  int64_t written = 0;
  bool first = true, failed = false, readFailed = false;
  WritebackMark writeback;
  ssize_t n;
  while ((n = read(in, block.data(), block.size())) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      readFailed = failed = true;
      break;
    }
    if (first) {
      // The header lines take the line end the original's first line has.
      const char *lf = static_cast<const char *>(memchr(block.data(), '\n', static_cast<size_t>(n)));
      const std::string lead = lf != nullptr && lf > block.data() && lf[-1] == '\r' ? WithCrLf(headers) : headers;
      if (WriteAll(out, lead.data(), lead.size()) != 0) {
        failed = true;
        break;
      }
      written += static_cast<int64_t>(lead.size());
      NoteWritten(out, static_cast<int64_t>(lead.size()), &writeback);
      first = false;
    }
    if (WriteAll(out, block.data(), static_cast<size_t>(n)) != 0) {
      failed = true;
      break;
    }
    written += n;
    NoteWritten(out, n, &writeback);
  }
  int savedErrno = errno;
  close(in);
  if (!failed && first) {
    failed = readFailed = true;  // an empty original is no message
    savedErrno = EINVAL;
  }
  if (!failed && !sync) StartWriteback(out, written);
  if (!failed && sync && fsync(out) != 0) {
    failed = true;
    savedErrno = errno;
  }
  if (close(out) != 0 && !failed) {
    failed = true;
    savedErrno = errno;
  }
  if (failed) {
    *error = (readFailed ? "cannot read the original message " + originalPath : "cannot write " + path) + ": " +
             strerror(savedErrno != 0 ? savedErrno : EIO);
    unlink(path.c_str());
    return -1;
  }
  return written;
}

}  // namespace maildir
