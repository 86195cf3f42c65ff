// vdirs of .vcf files behind the item-store interface, both ways.
#include "host/vcard/vcard_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "host/maildir/maildir_paths.h"
#include "host/maildir/tree_links.h"
#include "host/vcard/vcard_reader.h"
#include "host/vcard/vcard_writer.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"

namespace vcard {
namespace {

const char kDefaultBook[] = "Contacts";  // the book of cards lying directly in contacts/

std::string WithoutSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool EndsWithVcf(const std::string &name) {
  return name.size() > 4 && name[0] != '.' && EqualsNoCase(name.substr(name.size() - 4).c_str(), ".vcf");
}

int MakeDirectories(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MakeDirectories(path.substr(0, slash)) != 0) return -1;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : -1;
}

bool IsDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entries of a directory, sorted; "." and ".." left out.
std::vector<std::string> ListDirectory(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

int ReadWholeFile(const std::string &path, std::string *text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  text->clear();
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text->append(buf, static_cast<size_t>(n));
  int savedErrno = errno;
  close(fd);
  errno = savedErrno;  // the caller reports why the read failed
  return n < 0 ? -1 : 0;
}

// Writes text into a new file at path and syncs it. Returns 0, or -1 with
// *error set (the file is then removed).
int WriteSyncedFile(const std::string &path, const std::string &text, std::string *error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + strerror(errno);
    return -1;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  int savedErrno = done < text.size() ? errno : 0;
  if (savedErrno == 0 && fsync(fd) != 0) savedErrno = errno;
  if (close(fd) != 0 && savedErrno == 0) savedErrno = errno;
  if (done < text.size() || savedErrno != 0) {
    *error = "cannot write " + path + ": " + strerror(savedErrno != 0 ? savedErrno : EIO);
    unlink(path.c_str());
    return -1;
  }
  return 0;
}

class VcardExportStore : public store::ExportStore {
 public:
  explicit VcardExportStore(const std::string &outDir) : root_(WithoutSlash(outDir) + "/contacts") {}

  int OpenFolder(const std::string &folderPath, std::string *error) override {
    directory_ = BookDirectory(root_, folderPath);
    present_.clear();
    open_ = false;
    if (MakeDirectories(directory_) != 0) {
      *error = "cannot create address-book directory " + directory_ + ": " + strerror(errno);
      return -1;
    }
    for (const std::string &name : ListDirectory(directory_)) {
      // What an interrupted run left half written is never a card.
      if (name[0] == '.' && name.size() > 8 && name.compare(name.size() - 8, 8, ".vcf.tmp") == 0)
        unlink((directory_ + "/" + name).c_str());
      else if (EndsWithVcf(name))
        present_.insert(name);
    }
    open_ = true;
    return 0;
  }

  int Write(const HostMessage &record, const std::string &, int64_t *bytes, std::vector<std::string> *warnings,
            std::string *error) override {
    if (bytes != nullptr) *bytes = 0;
    if (!open_) {
      *error = "no address-book directory is open";
      return store::kFailed;
    }
    if (record.itemKind != kItemContact) {
      *error = "not a contact or group (item kind " + std::to_string(record.itemKind) + ")";
      return store::kFailed;
    }
    const std::string name = CardUid(record) + ".vcf";
    if (present_.count(name) != 0) return store::kAlreadyPresent;
    const std::string text = CardText(record, warnings);
    const std::string tmp = directory_ + "/." + name + ".tmp", path = directory_ + "/" + name;
    if (WriteSyncedFile(tmp, text, error) != 0) return store::kFailed;
    if (rename(tmp.c_str(), path.c_str()) != 0) {
      *error = "cannot rename " + tmp + " to " + path + ": " + strerror(errno);
      unlink(tmp.c_str());
      return store::kFailed;
    }
    present_.insert(name);
    pending_ = true;
    if (bytes != nullptr) *bytes = static_cast<int64_t>(text.size());
    return store::kStored;
  }

  int Sync(std::string *error) override {
    if (!pending_) return 0;
    int fd = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
      *error = "cannot sync " + directory_ + ": " + strerror(errno);
      if (fd >= 0) close(fd);
      return -1;
    }
    close(fd);
    pending_ = false;
    return 0;
  }

 private:
  std::string root_, directory_;
  std::set<std::string> present_;  // .vcf names in the open directory
  bool open_ = false;
  bool pending_ = false;  // renamed since the last Sync
};

class VcardImportSource : public store::ImportSource {
 public:
  explicit VcardImportSource(const std::string &inDir)
      : tree_(WithoutSlash(inDir)), root_(WithoutSlash(inDir) + "/contacts") {}

  int ListFolders(std::vector<store::SourceFolder> *out, std::string *) override {
    if (IsDirectory(root_) && maildir::FollowEntry(tree_, root_, &skippedLinks_)) Walk(root_, "", out);
    std::sort(out->begin(), out->end(),
              [](const store::SourceFolder &a, const store::SourceFolder &b) { return a.path < b.path; });
    return 0;
  }

  int ListItems(const store::SourceFolder &folder, std::vector<store::SourceItem> *out, std::string *) override {
    for (const std::string &name : ListDirectory(folder.directory)) {
      const std::string path = folder.directory + "/" + name;
      if (!EndsWithVcf(name) || IsDirectory(path)) continue;
      // Walk has reported the links it passed over.
      if (!maildir::FollowEntry(tree_, path, nullptr)) continue;
      const std::vector<Card> *cards = Cards(path);
      if (cards == nullptr || cards->empty()) {
        store::SourceItem item;
        item.file = path;
        item.name = name;
        out->push_back(item);  // empty key: the loop reports the file
        continue;
      }
      for (size_t i = 0; i < cards->size(); ++i) {
        store::SourceItem item;
        item.file = path;
        item.index = static_cast<int>(i);
        item.key = CardKey((*cards)[i]);
        item.name = cards->size() == 1 ? name : name + " #" + std::to_string(i + 1) + " " + CardName((*cards)[i]);
        out->push_back(item);
      }
    }
    return 0;
  }

  int Convert(const store::SourceItem &item, HostMessage *record, std::string *subject,
              std::vector<std::string> *warnings, std::string *reason) override {
    com_ResetObject(record);
    const std::vector<Card> *cards = Cards(item.file);
    if (cards == nullptr) {
      *reason = "cannot read " + item.file + ": " + strerror(errno);
      return -1;
    }
    if (item.index < 0 || static_cast<size_t>(item.index) >= cards->size()) {
      *reason = item.file + " holds no vCard" + (cards->empty() ? "" : " #" + std::to_string(item.index + 1));
      return -1;
    }
    const Card &card = (*cards)[static_cast<size_t>(item.index)];
    *subject = CardName(card);
    if (CardToRecord(card, record, warnings, reason) != 0) {
      com_Deallocate_All(record, nullptr);
      return -1;
    }
    return 0;
  }

 private:
  void Walk(const std::string &dir, const std::string &relative, std::vector<store::SourceFolder> *out) {
    bool hasCards = false;
    for (const std::string &name : ListDirectory(dir)) {
      const std::string path = dir + "/" + name;
      if (!maildir::FollowEntry(tree_, path, &skippedLinks_)) continue;
      struct stat st;
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        // A linked directory is not followed: a link to a parent would never end.
        if (name[0] != '.') Walk(path, relative.empty() ? name : relative + "/" + name, out);
      } else if (EndsWithVcf(name)) {
        hasCards = true;
      }
    }
    if (!hasCards) return;
    store::SourceFolder folder;
    folder.path = relative.empty() ? kDefaultBook : maildir::FolderPathOf(relative);
    folder.directory = dir;
    folder.folderClass = store::kClassAddressBook;
    out->push_back(folder);
  }

  // The cards of a file, parsed once for all its items; null when the file
  // cannot be read.
  const std::vector<Card> *Cards(const std::string &path) {
    if (path == cachedPath_) return &cached_;
    std::string text;
    cachedPath_.clear();
    if (ReadWholeFile(path, &text) != 0) return nullptr;
    cached_ = ParseCards(text);
    cachedPath_ = path;
    return &cached_;
  }

  std::string tree_;  // the import's directory: no link leads out of it
  std::string root_;
  std::string cachedPath_;
  std::vector<Card> cached_;
};

}  // namespace

std::string BookDirectory(const std::string &contactsRoot, const std::string &folderPath) {
  return maildir::FolderDirectory(WithoutSlash(contactsRoot), folderPath);
}

std::unique_ptr<store::ExportStore> MakeVcardExportStore(const std::string &outDir) {
  return std::unique_ptr<store::ExportStore>(new VcardExportStore(outDir));
}

std::unique_ptr<store::ImportSource> MakeVcardImportSource(const std::string &inDir) {
  return std::unique_ptr<store::ImportSource>(new VcardImportSource(inDir));
}

}  // namespace vcard
