// The iCalendar export store (vdirs, one item per file, written whole) and
// import source (vdirs and many-event .ics files) behind the item-store
// interface.
#include "host/ical/ical_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "host/ical/ical_reader.h"
#include "host/ical/ical_writer.h"
#include "host/ical/series_copies.h"
#include "host/maildir/maildir_paths.h"
#include "host/maildir/tree_links.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"

namespace ical {
namespace {

const char kItemExtension[] = ".ics";
const char kTempSuffix[] = ".ics.tmp";  // ".<name>.ics.tmp": calendar programs read *.ics only

bool EndsWith(const std::string &text, const char *suffix) {
  const size_t n = strlen(suffix);
  return text.size() >= n && EqualsNoCase(text.c_str() + text.size() - n, suffix);
}

std::string JoinPath(const std::string &dir, const std::string &name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

int MakeDirectories(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MakeDirectories(path.substr(0, slash)) != 0) return -1;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : -1;
}

// What an import's walk must stay inside; links it does not follow go to
// skipped (may be null).
struct TreeGuard {
  std::string root;
  std::vector<std::string> *skipped;
};

// Entries of a directory (dot entries skipped), sorted; directories and
// regular files apart. With a guard, links it forbids are left out.
void ListDirectory(const std::string &dir, std::vector<std::string> *files, std::vector<std::string> *dirs,
                   const TreeGuard *guard = nullptr) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    struct stat st;
    const std::string path = JoinPath(dir, e->d_name);
    if (guard != nullptr && !maildir::FollowEntry(guard->root, path, guard->skipped)) continue;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) && dirs != nullptr) dirs->push_back(e->d_name);
    if (S_ISREG(st.st_mode) && files != nullptr) files->push_back(e->d_name);
  }
  closedir(d);
  if (files != nullptr) std::sort(files->begin(), files->end());
  if (dirs != nullptr) std::sort(dirs->begin(), dirs->end());
}

// ---- export ----

class VdirExportStore : public store::ExportStore {
 public:
  explicit VdirExportStore(std::string root) : root_(std::move(root)) {}

  int OpenFolder(const std::string &folderPath, std::string *error) override {
    open_ = false;
    present_.clear();
    series_.clear();
    seriesRead_ = false;
    directory_ = maildir::FolderDirectory(root_, folderPath);
    if (MakeDirectories(directory_) != 0) {
      *error = "cannot create calendar directory " + directory_ + ": " + strerror(errno);
      return -1;
    }
    DIR *d = opendir(directory_.c_str());
    if (d == nullptr) {
      *error = "cannot read " + directory_ + ": " + strerror(errno);
      return -1;
    }
    while (struct dirent *e = readdir(d)) {
      const std::string name = e->d_name;
      const std::string path = JoinPath(directory_, name);
      struct stat st;
      if (name[0] == '.' && EndsWith(name, kTempSuffix)) {
        unlink(path.c_str());  // what an interrupted run left half written
      } else if (name[0] != '.' && EndsWith(name, kItemExtension) && stat(path.c_str(), &st) == 0 &&
                 st.st_size > 0) {
        present_.insert(name);
      }
    }
    closedir(d);
    open_ = true;
    return 0;
  }

  int Write(const HostMessage &record, const std::string &workDir, int64_t *bytes,
            std::vector<std::string> *warnings, std::string *error) override {
    if (bytes != nullptr) *bytes = 0;
    if (!open_) {
      *error = "no calendar folder open";
      return store::kFailed;
    }
    const std::string name = ItemUid(record).substr(0, 32) + kItemExtension;
    const bool series = record.itemKind == kItemAppointment && record.recurKind != 0;
    if (present_.count(name) != 0) {
      // A run killed after the rename may not have removed the later copy.
      if (series) DropLaterCopies(name, ReadWhole(JoinPath(directory_, name)));
      return store::kAlreadyPresent;
    }
    std::string text;
    std::vector<std::string> notes;
    if (BuildItemCalendar(record, workDir, static_cast<int64_t>(time(nullptr)), &text, &notes, error) != 0)
      return store::kFailed;
    if (series && HeldFromEarlierStart(name, text)) return store::kAlreadyPresent;
    const std::string tmpPath = JoinPath(directory_, "." + name + ".tmp");
    const std::string path = JoinPath(directory_, name);
    if (WriteWhole(tmpPath, text, error) != 0) return store::kFailed;
    if (rename(tmpPath.c_str(), path.c_str()) != 0) {
      *error = "cannot rename " + tmpPath + ": " + strerror(errno);
      unlink(tmpPath.c_str());
      return store::kFailed;
    }
    present_.insert(name);
    ++unsynced_;
    if (series) DropLaterCopies(name, text);
    if (bytes != nullptr) *bytes = static_cast<int64_t>(text.size());
    if (warnings != nullptr) warnings->insert(warnings->end(), notes.begin(), notes.end());
    return store::kStored;
  }

  int Sync(std::string *error) override {
    if (unsynced_ == 0) return 0;
    const int fd = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || syncfs(fd) != 0) {
      *error = "cannot sync " + directory_ + ": " + strerror(errno);
      if (fd >= 0) close(fd);
      return -1;
    }
    close(fd);
    unsynced_ = 0;
    return 0;
  }

 private:
  static int WriteWhole(const std::string &path, const std::string &text, std::string *error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
      *error = "cannot create " + path + ": " + strerror(errno);
      return -1;
    }
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    const int savedErrno = errno;
    if (close(fd) != 0 || done != text.size()) {
      *error = "cannot write " + path + ": " + strerror(done != text.size() ? savedErrno : errno);
      unlink(path.c_str());
      return -1;
    }
    return 0;
  }

  static std::string ReadWhole(const std::string &path) {
    std::string text;
    if (ReadWholeFile(path.c_str(), &text) != 0) text.clear();
    return text;
  }

  // The series of the open folder, read from its files when a series is
  // first written into it.
  void ReadSeries() {
    seriesRead_ = true;
    for (const std::string &name : present_) {
      SeriesShape shape;
      if (ReadSeriesShape(ReadWhole(JoinPath(directory_, name)), &shape)) series_.emplace(name, shape);
    }
  }

  // Whether the folder holds the series in text from an earlier start: an
  // earlier run wrote it from its first occurrence, and this one, which
  // could not read that one, met a later one first. Nothing is written then.
  bool HeldFromEarlierStart(const std::string &name, const std::string &text) {
    if (!seriesRead_) ReadSeries();
    SeriesShape shape;
    if (!ReadSeriesShape(text, &shape)) return false;
    for (const auto &held : series_) {
      if (held.first == name || !IsLaterCopy(held.second, shape)) continue;
      com_Log("MV Info: the series of %s is in %s already, from an earlier occurrence", name.c_str(),
              held.first.c_str());
      return true;
    }
    return false;
  }

  // A series written at its first occurrence replaces the copies of it that
  // an earlier run wrote from a later occurrence, when the first could not
  // be read (see series_copies.h).
  void DropLaterCopies(const std::string &name, const std::string &text) {
    if (!seriesRead_) ReadSeries();
    SeriesShape shape;
    if (!ReadSeriesShape(text, &shape)) return;
    series_[name] = shape;
    for (auto it = series_.begin(); it != series_.end();) {
      if (it->first == name || !IsLaterCopy(shape, it->second)) {
        ++it;
        continue;
      }
      const std::string path = JoinPath(directory_, it->first);
      if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        com_Log("MV Warning: cannot remove %s, a copy of the series in %s from a later occurrence: %s", path.c_str(),
                name.c_str(), strerror(errno));
        ++it;
        continue;
      }
      com_Log("MV Info: removed %s, the series in %s written from a later occurrence", path.c_str(), name.c_str());
      present_.erase(it->first);
      ++unsynced_;
      it = series_.erase(it);
    }
  }

  std::string root_;
  std::string directory_;
  bool open_ = false;
  std::unordered_set<std::string> present_;  // item file names in the open folder
  std::map<std::string, SeriesShape> series_;  // file name -> shape, once seriesRead_
  bool seriesRead_ = false;
  int unsynced_ = 0;
};

// ---- import ----

struct ComponentDeleter {
  void operator()(icalcomponent *c) const { icalcomponent_free(c); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

// What a file holds, from a look at its lines (no parse).
enum { kHasEvents = 1, kHasTasks = 2, kHasNeither = 4 };

int ScanKinds(const std::string &path) {
  FilePtr f = OpenFile(path.c_str(), "rb");
  if (!f) return kHasNeither;
  int kinds = 0;
  char line[4096];
  while (fgets(line, sizeof line, f.get()) != nullptr) {
    if (StartsWithNoCase(line, "BEGIN:VEVENT")) kinds |= kHasEvents;
    if (StartsWithNoCase(line, "BEGIN:VTODO")) kinds |= kHasTasks;
  }
  return kinds != 0 ? kinds : kHasNeither;
}

// The events and tasks of a parsed file in file order, each with the
// VCALENDAR it belongs to.
struct ParsedFile {
  std::string path;
  ComponentPtr root;
  std::vector<std::pair<icalcomponent *, icalcomponent *>> items;  // (calendar, item)
};

void CollectItems(icalcomponent *calendar, ParsedFile *file) {
  for (icalcomponent *c = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT); c != nullptr;
       c = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT)) {
    const icalcomponent_kind kind = icalcomponent_isa(c);
    if (kind == ICAL_VEVENT_COMPONENT || kind == ICAL_VTODO_COMPONENT) file->items.emplace_back(calendar, c);
  }
}

// Parses a whole file. Returns 0, or -1 with *reason set.
int ParseFile(const std::string &path, ParsedFile *out, std::string *reason) {
  std::string text;
  if (ReadWholeFile(path.c_str(), &text) != 0) {
    *reason = "cannot read " + path + ": " + strerror(errno);
    return -1;
  }
  out->path = path;
  out->items.clear();
  out->root.reset(icalparser_parse_string(text.c_str()));
  if (!out->root) {
    *reason = "not an iCalendar file";
    return -1;
  }
  icalcomponent *root = out->root.get();
  const icalcomponent_kind kind = icalcomponent_isa(root);
  if (kind == ICAL_VEVENT_COMPONENT || kind == ICAL_VTODO_COMPONENT) {
    out->items.emplace_back(nullptr, root);
  } else if (kind == ICAL_VCALENDAR_COMPONENT) {
    CollectItems(root, out);
  } else {
    for (icalcomponent *c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT); c != nullptr;
         c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT))
      CollectItems(c, out);
  }
  if (out->items.empty()) {
    *reason = "no events or tasks in " + path;
    return -1;
  }
  return 0;
}

std::string BaseName(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class IcalImportSource : public store::ImportSource {
 public:
  explicit IcalImportSource(std::string inDir) : inDir_(std::move(inDir)) {}

  int ListFolders(std::vector<store::SourceFolder> *out, std::string *error) override {
    struct stat st;
    if (stat(inDir_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *error = "cannot read " + inDir_;
      return -1;
    }
    std::vector<store::SourceFolder> found;
    const TreeGuard guard = {inDir_, &skippedLinks_};
    for (const char *root : {"calendars", "tasks"}) {
      const std::string dir = JoinPath(inDir_, root);
      if (!maildir::FollowEntry(inDir_, dir, &skippedLinks_)) continue;
      ListVdirs(dir, "", root[0] == 't' ? store::kClassTaskList : store::kClassCalendar, guard, &found);
    }
    ListLooseFiles(inDir_, "", &found);
    std::stable_sort(found.begin(), found.end(), [](const store::SourceFolder &a, const store::SourceFolder &b) {
      return a.path != b.path ? a.path < b.path : a.folderClass < b.folderClass;
    });
    out->insert(out->end(), found.begin(), found.end());
    return 0;
  }

  int ListItems(const store::SourceFolder &folder, std::vector<store::SourceItem> *out, std::string *error) override {
    (void)error;
    std::vector<std::string> files;
    struct stat st;
    if (stat(folder.directory.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      files.push_back(folder.directory);
    } else {
      std::vector<std::string> names;
      // The folder listing has reported the links it passed over.
      const TreeGuard guard = {inDir_, nullptr};
      ListDirectory(folder.directory, &names, nullptr, &guard);
      for (const std::string &name : names)
        if (EndsWith(name, kItemExtension)) files.push_back(JoinPath(folder.directory, name));
    }
    const bool defaultClass = folder.folderClass == DefaultClassOf(folder.directory);
    const icalcomponent_kind wanted =
        folder.folderClass == store::kClassTaskList ? ICAL_VTODO_COMPONENT : ICAL_VEVENT_COMPONENT;
    for (const std::string &file : files) {
      std::string reason;
      const ParsedFile *parsed = Parsed(file, &reason);
      if (parsed == nullptr) {
        // Listed once, in the folder of the kind its place suggests, so the loop reports it.
        if (defaultClass) {
          out->push_back(Item(file, BaseName(file), 0, ""));
          out->back().problem = reason;
        }
        continue;
      }
      const bool many = parsed->items.size() > 1;
      for (size_t i = 0; i < parsed->items.size(); ++i) {
        icalcomponent *item = parsed->items[i].second;
        if (icalcomponent_isa(item) != wanted) continue;
        const char *uid = icalcomponent_get_uid(item);
        std::string name = BaseName(file);
        if (many) name += std::string(" ") + (uid != nullptr ? uid : "#" + std::to_string(i + 1));
        out->push_back(Item(file, name, static_cast<int>(i), ComponentKey(item)));
      }
    }
    return 0;
  }

  int Convert(const store::SourceItem &item, HostMessage *record, std::string *subject,
              std::vector<std::string> *warnings, std::string *reason) override {
    com_ResetObject(record);
    subject->clear();
    const ParsedFile *parsed = Parsed(item.file, reason);
    if (parsed == nullptr) return -1;
    if (item.index < 0 || static_cast<size_t>(item.index) >= parsed->items.size()) {
      *reason = "item " + std::to_string(item.index + 1) + " no longer in " + item.file;
      return -1;
    }
    icalcomponent *calendar = parsed->items[item.index].first;
    icalcomponent *component = parsed->items[item.index].second;
    const char *summary = icalcomponent_get_summary(component);
    *subject = summary != nullptr ? summary : "";
    char workDir[256];
    com_GetGlobal(kGlobalWorkDir, workDir);
    std::vector<std::string> notes;
    for (icalproperty *p = icalcomponent_get_first_property(component, ICAL_XLICERROR_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(component, ICAL_XLICERROR_PROPERTY)) {
      const char *text = icalproperty_get_xlicerror(p);
      notes.push_back(std::string("unreadable line skipped: ") + (text != nullptr ? text : ""));
    }
    if (ConvertComponent(component, FloatingZone(calendar), workDir, record, &notes, reason) != 0) {
      com_Deallocate_All(record, nullptr);
      return -1;
    }
    if (warnings != nullptr) warnings->insert(warnings->end(), notes.begin(), notes.end());
    return 0;
  }

 private:
  static store::SourceItem Item(const std::string &file, const std::string &name, int index, const std::string &key) {
    store::SourceItem item;
    item.file = file;
    item.name = name;
    item.index = index;
    item.key = key;
    return item;
  }

  // The class a broken file below this directory is reported under.
  int DefaultClassOf(const std::string &directory) const {
    const std::string tasks = JoinPath(inDir_, "tasks");
    return directory.compare(0, tasks.size(), tasks) == 0 ? store::kClassTaskList : store::kClassCalendar;
  }

  // Adds the folders of a file or directory by what its files hold.
  static void AddByKinds(int kinds, int defaultClass, const std::string &path, const std::string &directory,
                         std::vector<store::SourceFolder> *out) {
    if ((kinds & kHasNeither) != 0) kinds |= defaultClass == store::kClassTaskList ? kHasTasks : kHasEvents;
    for (int cls : {store::kClassCalendar, store::kClassTaskList}) {
      if ((kinds & (cls == store::kClassCalendar ? kHasEvents : kHasTasks)) == 0) continue;
      store::SourceFolder folder;
      folder.path = path;
      folder.directory = directory;
      folder.folderClass = cls;
      out->push_back(folder);
    }
  }

  // Every directory below a vdir root that holds .ics files is a folder.
  static void ListVdirs(const std::string &dir, const std::string &relative, int defaultClass,
                        const TreeGuard &guard, std::vector<store::SourceFolder> *out) {
    std::vector<std::string> files, dirs;
    ListDirectory(dir, &files, &dirs, &guard);
    int kinds = 0;
    for (const std::string &name : files) {
      if (!EndsWith(name, kItemExtension)) continue;
      const std::string path = JoinPath(dir, name);
      if (relative.empty()) {
        // A file right in the root is a calendar of its own, named by the file.
        AddByKinds(ScanKinds(path), defaultClass,
                   maildir::FolderPathOf(name.substr(0, name.size() - strlen(kItemExtension))), path, out);
      } else {
        kinds |= ScanKinds(path);
      }
    }
    if (kinds != 0) AddByKinds(kinds, defaultClass, maildir::FolderPathOf(relative), dir, out);
    for (const std::string &sub : dirs)
      ListVdirs(JoinPath(dir, sub), relative.empty() ? sub : relative + "/" + sub, defaultClass, guard, out);
  }

  // .ics files outside the vdir roots and the other formats' trees.
  void ListLooseFiles(const std::string &dir, const std::string &relative, std::vector<store::SourceFolder> *out) {
    std::vector<std::string> files, dirs;
    // The other formats' roots at the top are judged by their own walks.
    std::vector<std::string> skipped;
    const TreeGuard guard = {inDir_, &skipped};
    ListDirectory(dir, &files, &dirs, &guard);
    for (const std::string &text : skipped) {
      bool ownRoot = false;
      for (const char *root : {"calendars", "tasks", "mail", "contacts"})
        ownRoot = ownRoot || (relative.empty() && text.rfind(JoinPath(dir, root) + ":", 0) == 0);
      if (!ownRoot) skippedLinks_.push_back(text);
    }
    for (const std::string &name : files) {
      if (!EndsWith(name, kItemExtension)) continue;
      const std::string stem = name.substr(0, name.size() - strlen(kItemExtension));
      const std::string path = JoinPath(dir, name);
      AddByKinds(ScanKinds(path), store::kClassCalendar,
                 maildir::FolderPathOf(relative.empty() ? stem : relative + "/" + stem), path, out);
    }
    for (const std::string &sub : dirs) {
      if (relative.empty() && (sub == "calendars" || sub == "tasks" || sub == "mail" || sub == "contacts")) continue;
      ListLooseFiles(JoinPath(dir, sub), relative.empty() ? sub : relative + "/" + sub, out);
    }
  }

  // The parsed file, from the one-file cache when it is the last one read.
  const ParsedFile *Parsed(const std::string &path, std::string *reason) {
    if (cache_.root && cache_.path == path) return &cache_;
    cache_ = ParsedFile();
    if (ParseFile(path, &cache_, reason) != 0) {
      cache_ = ParsedFile();
      return nullptr;
    }
    return &cache_;
  }

  std::string inDir_;
  ParsedFile cache_;
};

}  // namespace

std::unique_ptr<store::ExportStore> MakeIcalExportStore(int folderClass, const std::string &outDir) {
  if (folderClass == store::kClassCalendar) return std::make_unique<VdirExportStore>(JoinPath(outDir, "calendars"));
  if (folderClass == store::kClassTaskList) return std::make_unique<VdirExportStore>(JoinPath(outDir, "tasks"));
  return nullptr;
}

std::unique_ptr<store::ExportStore> MakeIcalCalendarStore(const std::string &outDir) {
  return MakeIcalExportStore(store::kClassCalendar, outDir);
}

std::unique_ptr<store::ExportStore> MakeIcalTaskStore(const std::string &outDir) {
  return MakeIcalExportStore(store::kClassTaskList, outDir);
}

std::unique_ptr<store::ImportSource> MakeIcalImportSource(const std::string &inDir) {
  return std::make_unique<IcalImportSource>(inDir);
}

}  // namespace ical
