// The pending-message journal of `mvmigrate import`: one "name=value" line
// per field; backslash, CR and LF in a value are written as \\, \r and \n so
// that every field stays on its line.
#include "host/mvmigrate/import_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/file_guard.h"

namespace {

const char kJournalName[] = "import-pending.txt";
const char kNewSuffix[] = ".new";

// Seconds from 1601-01-01 to 1970-01-01.
const uint64_t kUnixEpochSeconds = 11644473600ULL;

std::string EscapeValue(const std::string &value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeValue(const std::string &value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    char next = value[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

// Digits only, no overflow. Returns 1 when text is such a number.
int ParseTicks(const std::string &text, uint64_t *out) {
  if (text.empty() || text.size() > 20) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  *out = value;
  return 1;
}

// The directory of path, for the sync that makes the rename durable.
std::string DirectoryOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// Syncs dir so that a rename in it survives a crash. Returns 0 or -1.
int SyncDirectory(const std::string &dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int result = fsync(fd);
  close(fd);
  return result;
}

}  // namespace

std::string ImportJournalPath(const std::string &dataDir) {
  if (dataDir.empty()) return kJournalName;
  return dataDir + (dataDir.back() == '/' ? "" : "/") + kJournalName;
}

int WriteImportJournal(const std::string &path, const ImportJournal &journal, std::string *error) {
  const std::string temporary = path + kNewSuffix;
  FilePtr file = OpenFile(temporary.c_str(), "wb");
  if (!file) {
    *error = "cannot create " + temporary + ": " + strerror(errno);
    return -1;
  }
  fprintf(file.get(), "key=%s\nfolder=%s\nsubject=%s\nsender=%s\nsent=%llu\nstarted=%llu\nclass=%d\n",
          EscapeValue(journal.key).c_str(), EscapeValue(journal.folder).c_str(),
          EscapeValue(journal.subject).c_str(), EscapeValue(journal.sender).c_str(),
          static_cast<unsigned long long>(journal.sentTime),
          static_cast<unsigned long long>(journal.writeStarted), journal.folderClass);
  if (fflush(file.get()) != 0 || ferror(file.get()) || fsync(fileno(file.get())) != 0) {
    *error = "cannot write " + temporary + ": " + strerror(errno);
    return -1;
  }
  if (fclose(file.release()) != 0) {
    *error = "cannot write " + temporary + ": " + strerror(errno);
    return -1;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot rename " + temporary + " to " + path + ": " + strerror(errno);
    return -1;
  }
  if (SyncDirectory(DirectoryOf(path)) != 0) {
    *error = "cannot sync the directory of " + path + ": " + strerror(errno);
    return -1;
  }
  return 0;
}

int ReadImportJournal(const std::string &path, ImportJournal *journal) {
  FilePtr file = OpenFile(path.c_str(), "rb");
  if (!file) return errno == ENOENT ? 0 : -1;
  *journal = ImportJournal();
  std::string line;
  unsigned seen = 0;
  enum { kKey = 1, kFolder = 2, kSubject = 4, kSender = 8, kSent = 16, kStarted = 32, kAll = 63 };
  int c;
  for (;;) {
    line.clear();
    while ((c = fgetc(file.get())) != EOF && c != '\n') line += static_cast<char>(c);
    if (line.empty() && c == EOF) break;
    // A line without its end is the tail of a journal cut short.
    if (c == EOF) return -1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return -1;
    const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
    struct TextField {
      const char *name;
      std::string *value;
      unsigned bit;
    };
    const TextField texts[] = {{"key", &journal->key, kKey},
                               {"folder", &journal->folder, kFolder},
                               {"subject", &journal->subject, kSubject},
                               {"sender", &journal->sender, kSender}};
    for (const TextField &f : texts) {
      if (name != f.name) continue;
      *f.value = UnescapeValue(value);
      seen |= f.bit;
    }
    if (name == "sent" || name == "started") {
      uint64_t *ticks = name == "sent" ? &journal->sentTime : &journal->writeStarted;
      if (!ParseTicks(value, ticks)) return -1;
      seen |= name == "sent" ? kSent : kStarted;
    }
    if (name == "class") {
      uint64_t folderClass = 0;
      if (!ParseTicks(value, &folderClass) || folderClass > 3) return -1;
      journal->folderClass = static_cast<int>(folderClass);
    }
  }
  if (seen != kAll || journal->key.empty() || journal->folder.empty()) return -1;
  return 1;
}

int RemoveImportJournal(const std::string &path) {
  remove((path + kNewSuffix).c_str());
  if (remove(path.c_str()) != 0 && errno != ENOENT) return -1;
  return 0;
}

uint64_t ImportJournalNow() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const uint64_t ticks = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count()) * 10;
  return ticks + kUnixEpochSeconds * 10000000ULL;
}
