// The journal of `mvmigrate import`. The pending message: one "name=value"
// line per field. The created messages: one line each, scope and key
// separated by a tab. Backslash, CR, LF and tab in a value are written as
// \\, \r, \n and \t so that every field stays on its line.
#include "host/mvmigrate/import_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"

namespace {

const char kJournalName[] = "import-pending.txt";
const char kCreatedName[] = "import-created.txt";
const char kMembersName[] = "import-members.txt";
const char kDoubtPrefix[] = "import-doubt-";
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
    } else if (c == '\t') {
      out += "\\t";
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
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
  }
  return out;
}

// Writes all of text, as often as write takes part of it. Returns 0 or -1.
int WriteWhole(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return 0;
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

std::string DataFilePath(const std::string &dataDir, const char *name) {
  if (dataDir.empty()) return name;
  return dataDir + (dataDir.back() == '/' ? "" : "/") + name;
}

}  // namespace

std::string ImportJournalPath(const std::string &dataDir) { return DataFilePath(dataDir, kJournalName); }

std::string ImportCreatedPath(const std::string &dataDir) { return DataFilePath(dataDir, kCreatedName); }

std::string GroupMembersPath(const std::string &dataDir) { return DataFilePath(dataDir, kMembersName); }

namespace {

std::string GroupMemberLine(const GroupMemberRecord &r) {
  return EscapeValue(r.scope) + "\t" + EscapeValue(r.key) + "\t" + std::to_string(r.index) + "\t" +
         EscapeValue(r.name) + "\t" + EscapeValue(r.address) + "\t" + EscapeValue(r.id) + "\n";
}

}  // namespace

int AppendGroupMember(const std::string &path, const GroupMemberRecord &record, std::string *error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0 || WriteWhole(fd, GroupMemberLine(record)) != 0) {
    *error = "cannot write " + path + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  close(fd);
  return 0;
}

std::vector<GroupMemberRecord> ReadGroupMembers(const std::string &path) {
  std::vector<GroupMemberRecord> records;
  FilePtr file = OpenFile(path.c_str(), "rb");
  if (!file) return records;
  std::string line;
  int c;
  for (;;) {
    line.clear();
    while ((c = fgetc(file.get())) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF) break;  // the last line without its end was cut short
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    uint64_t index = 0;
    if (fields.size() != 6 || !ParseTicks(fields[2], &index) || index > 100000 || fields[5].empty()) continue;
    records.push_back({UnescapeValue(fields[0]), UnescapeValue(fields[1]), static_cast<int>(index),
                       UnescapeValue(fields[3]), UnescapeValue(fields[4]), UnescapeValue(fields[5])});
  }
  return records;
}

int RewriteGroupMembers(const std::string &path, const std::vector<GroupMemberRecord> &keep, std::string *error) {
  if (keep.empty()) {
    if (remove(path.c_str()) != 0 && errno != ENOENT) {
      *error = "cannot remove " + path + ": " + strerror(errno);
      return -1;
    }
    return 0;
  }
  std::string text;
  for (const GroupMemberRecord &r : keep) text += GroupMemberLine(r);
  const std::string fresh = path + kNewSuffix;
  const int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool written = fd >= 0 && WriteWhole(fd, text) == 0;
  if (fd >= 0) close(fd);
  if (!written || rename(fresh.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + strerror(errno);
    remove(fresh.c_str());
    return -1;
  }
  return 0;
}

std::string ImportDoubtPath(const std::string &dataDir, const std::string &scope, const std::string &key) {
  // FNV-1a 64 of scope and key: the same message in doubt twice has one file.
  uint64_t hash = 14695981039346656037ULL;
  for (const std::string *text : {&scope, &key}) {
    for (unsigned char c : *text) hash = (hash ^ c) * 1099511628211ULL;
    hash = (hash ^ 0x1F) * 1099511628211ULL;
  }
  char name[64];
  FormatText(name, sizeof name, "%s%016llx.txt", kDoubtPrefix, static_cast<unsigned long long>(hash));
  return DataFilePath(dataDir, name);
}

std::vector<std::string> ImportDoubtPaths(const std::string &dataDir) {
  std::vector<std::string> paths;
  DIR *dir = opendir(dataDir.empty() ? "." : dataDir.c_str());
  if (dir == nullptr) return paths;
  while (struct dirent *e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.compare(0, strlen(kDoubtPrefix), kDoubtPrefix) == 0 && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".txt") == 0)
      paths.push_back(DataFilePath(dataDir, name.c_str()));
  }
  closedir(dir);
  std::sort(paths.begin(), paths.end());
  return paths;
}

int KeepImportDoubt(const std::string &path, const ImportJournal &journal, std::string *error) {
  JournalFile file;
  if (OpenImportJournal(path, &file, error) != 0) return -1;
  const int written = WriteImportJournal(&file, journal, error);
  CloseImportJournal(&file);
  if (written != 0) unlink(path.c_str());
  return written;
}

int OpenImportJournal(const std::string &path, JournalFile *file, std::string *error) {
  CloseImportJournal(file);
  file->path = path;
  file->fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (file->fd < 0) {
    *error = "cannot create " + path + ": " + strerror(errno);
    return -1;
  }
  struct stat st;
  file->length = fstat(file->fd, &st) == 0 ? static_cast<size_t>(st.st_size) : 1;
  return 0;
}

int WriteImportJournal(JournalFile *file, const ImportJournal &journal, std::string *error) {
  char sent[24], started[24], folderClass[16];
  FormatText(sent, sizeof sent, "%llu", static_cast<unsigned long long>(journal.sentTime));
  FormatText(started, sizeof started, "%llu", static_cast<unsigned long long>(journal.writeStarted));
  FormatText(folderClass, sizeof folderClass, "%d", journal.folderClass);
  const std::string unsure = journal.unsureChecks > 0 ? "unsure=" + std::to_string(journal.unsureChecks) + "\n" : "";
  const std::string text = "key=" + EscapeValue(journal.key) + "\nfolder=" + EscapeValue(journal.folder) +
                           "\nsubject=" + EscapeValue(journal.subject) + "\nsender=" +
                           EscapeValue(journal.sender) + "\nsent=" + sent + "\nstarted=" + started +
                           "\nclass=" + folderClass + "\n" + unsure + "\n";
  if (file->fd < 0) {
    *error = "cannot write " + file->path + ": not open";
    return -1;
  }
  // The blank line ends the journal: what a longer earlier one left after
  // it is not read, and the file is never cut (a truncation per message
  // cost the file system more than the write).
  const ssize_t written = pwrite(file->fd, text.data(), text.size(), 0);
  if (written != static_cast<ssize_t>(text.size())) {
    *error = "cannot write " + file->path + ": " + strerror(errno);
    return -1;
  }
  file->length = text.size();
  return 0;
}

int ClearImportJournal(JournalFile *file) {
  if (file->fd < 0 || pwrite(file->fd, "\n", 1, 0) != 1) return -1;
  file->length = 0;
  return 0;
}

void CloseImportJournal(JournalFile *file) {
  if (file->fd < 0) return;
  close(file->fd);
  file->fd = -1;
  if (file->length == 0) unlink(file->path.c_str());
}

int ReadImportJournal(const std::string &path, ImportJournal *journal) {
  FilePtr file = OpenFile(path.c_str(), "rb");
  if (!file) return errno == ENOENT ? 0 : -1;
  // Empty: nothing was ever written to it.
  if (fgetc(file.get()) == EOF) return ferror(file.get()) ? -1 : 0;
  rewind(file.get());
  *journal = ImportJournal();
  std::string line;
  unsigned seen = 0;
  enum { kKey = 1, kFolder = 2, kSubject = 4, kSender = 8, kSent = 16, kStarted = 32, kAll = 63 };
  int c;
  for (;;) {
    line.clear();
    while ((c = fgetc(file.get())) != EOF && c != '\n') line += static_cast<char>(c);
    if (line.empty() && c == EOF) break;
    // A blank line ends the journal (one at the start: emptied between
    // messages); journals written before there was one end at the file's end.
    if (line.empty()) {
      if (seen == 0) return 0;
      break;
    }
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
    if (name == "unsure") {
      uint64_t count = 0;
      if (!ParseTicks(value, &count) || count > 1000) return -1;
      journal->unsureChecks = static_cast<int>(count);
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

int OpenCreatedList(const std::string &path, CreatedList *list, std::string *error) {
  CloseCreatedList(list, false);
  list->path = path;
  list->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (list->fd < 0) {
    *error = "cannot open " + path + ": " + strerror(errno);
    return -1;
  }
  return 0;
}

int NoteCreated(CreatedList *list, const CreatedMessage &message) {
  if (list->fd < 0) return -1;
  return WriteWhole(list->fd, EscapeValue(message.scope) + "\t" + EscapeValue(message.key) + "\n");
}

int ClearCreatedList(CreatedList *list) {
  if (list->fd < 0) return -1;
  return ftruncate(list->fd, 0) == 0 ? 0 : -1;
}

void CloseCreatedList(CreatedList *list, bool remove) {
  if (list->fd >= 0) close(list->fd);
  list->fd = -1;
  if (remove && !list->path.empty()) unlink(list->path.c_str());
}

size_t ReadCreatedList(const std::string &path, std::vector<CreatedMessage> *messages) {
  messages->clear();
  FilePtr file = OpenFile(path.c_str(), "rb");
  if (!file) return 0;
  std::string line;
  int c;
  for (;;) {
    line.clear();
    while ((c = fgetc(file.get())) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF) break;  // the end, or a line cut short
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || tab + 1 == line.size()) continue;
    messages->push_back({UnescapeValue(line.substr(0, tab)), UnescapeValue(line.substr(tab + 1))});
  }
  return messages->size();
}

uint64_t ImportJournalNow() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const uint64_t ticks = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count()) * 10;
  return ticks + kUnixEpochSeconds * 10000000ULL;
}
