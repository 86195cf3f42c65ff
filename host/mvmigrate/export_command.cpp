// `mvmigrate export` and the export demo: the host side of ConvertFolder.
// The plug-in reads each item into the record and hands it to SaveItem,
// which writes it through the item store of the folder's class; ItemNotify
// counts outcomes and drives the progress display; the extended-error sink
// collects the items the plug-in could not read.
#include "host/mvmigrate/export_command.h"
#include "host/mvmigrate/export_committer.h"
#include "host/mvmigrate/export_writer.h"
#include "host/mvmigrate/interrupt.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <memory>

#include "gwsim/gwsim.h"
#include "host/maildir/original_store.h"
#include "host/mvcom/mvcom_host.h"
#include "host/maildir/maildir_paths.h"
#include "host/mvmigrate/folder_report.h"
#include "host/mvmigrate/import_command.h"
#include "host/mvmigrate/plugin_loader.h"
#include "host/mvmigrate/rules_step.h"
#include "host/progress/progress.h"
#include "host/report/export_report.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"

namespace {

// SaveItem codes the plug-in understands.
enum {
  kSaveStored = 0,
  kSaveFailedRecord = 1234,  // failed; the plug-in lists the id for --retry-failed
};

const char kLateFailureHint[] = "not in the failed-ids list: the next export without --retry-failed takes it";

// Everything the callbacks need during one export; they reach it through
// gRun because the plug-in passes the host no pointer of its own to
// ItemNotify and HostNotify.
struct ExportRun {
  std::string workDir;
  bool dryRun = false;
  // One store per folder class, made when its first folder is opened and
  // kept to the end of the run, so that every commit can sync them all.
  std::map<int, std::unique_ptr<store::ExportStore>> stores;
  store::ExportStore *store = nullptr;  // the store of the folder being read
  report::ExportReport report;
  report::FolderSummary *folder = nullptr;  // the folder being read
  int64_t listedCount = 0;      // the folder's count corrected by the plug-in's listing
  bool pendingFailure = false;  // the current item failed (sink or SaveItem)
  int originalTooLargeKB = 0;   // the plug-in left the current item's original on the server
  report::FailedItem failure;
  // Sentences of the current item's attachments the plug-in replaced by a
  // text part; listed with the item once it is stored.
  std::vector<std::string> pendingLost;
  // (name kept, whole name) of every folder name the plug-in shortened.
  std::vector<std::pair<std::string, std::string>> shortenedNames;
  progress::ProgressDisplay display;
  progress::ProgressState state;
  struct timespec started = {};
  // The writer thread (off with --no-writer-thread: SaveItem writes).
  bool writerOn = false;
  exportwriter::ExportWriter writer;
  // Report entries made while items are queued wait behind them, so that
  // the report lists everything in the order the plug-in handed it over.
  // An empty entry stands for the next queued item's outcome.
  std::deque<std::function<void()>> waiting;
  exportwriter::WriterJob *lastHandedOver = nullptr;  // until its outcome is taken
  // A queued item failed whose record the plug-in has added to the open
  // batch of the migration state: that batch must not be committed.
  bool batchLostAWrite = false;
  // Group commits that fall due while the plug-in reads a folder are made
  // durable by the committer (declared after the writer, whose jobs it
  // waits for, so that it stops first).
  exportwriter::ExportCommitter committer;
  bool inConvert = false;  // inside the plug-in's ConvertFolder
};

ExportRun *gRun = nullptr;

double SecondsSince(const struct timespec &start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

void ShowRunProgress(ExportRun *run, bool force) {
  run->state.seconds = SecondsSince(run->started);
  progress::ShowProgress(&run->display, run->state, force);
}

// Notes a failure of the current item; a second report of the same item
// (SaveItem and the plug-in) completes the first.
void NoteFailure(ExportRun *run, const std::string &id, const std::string &subject, const std::string &reason) {
  if (!run->pendingFailure) {
    run->pendingFailure = true;
    run->failure = report::FailedItem();
    run->failure.folder = run->folder != nullptr ? run->folder->path : "";
    run->failure.subject = subject;
  }
  if (!id.empty()) run->failure.id = id;
  if (run->failure.reason.find(reason) == std::string::npos)
    run->failure.reason += (run->failure.reason.empty() ? "" : "; ") + reason;
}

// Runs what puts an entry into the report once the items queued before it
// have their outcomes in, so that the report keeps the plug-in's order.
void Defer(ExportRun *run, std::function<void()> entry) {
  if (run->waiting.empty())
    entry();
  else
    run->waiting.push_back(std::move(entry));
}

// Moves a noted failure into the report's list.
void CommitFailure(ExportRun *run) {
  if (!run->pendingFailure) return;
  run->pendingFailure = false;
  Defer(run, [run, failure = run->failure] { run->report.failures.push_back(failure); });
}

// What the summary and the report call an item: a mail's subject, an
// appointment's or task's title, a contact's or group's name.
std::string ItemName(const HostMessage &record) {
  auto text = [](const char *field, size_t cap) { return std::string(field, strnlen(field, cap)); };
  switch (record.itemKind) {
    case kItemAppointment:
    case kItemTask: return text(record.title, sizeof record.title);
    case kItemContact: return text(record.contactName, sizeof record.contactName);
    default: return text(record.subject, sizeof record.subject);
  }
}

// Counts a mail written as it arrived or converted; one converted because
// its original is too large is also a warning beside it.
void CountMailForm(ExportRun *run, const exportwriter::ItemNotes &item) {
  if (!run->report.forms.asked || item.itemKind != kItemMail) return;
  if (item.hasOriginal) {
    ++run->report.forms.asReceived;
    return;
  }
  ++run->report.forms.converted;
  if (item.originalTooLargeKB <= 0) return;
  ++run->report.forms.tooLarge;
  run->report.warnings.push_back({item.folderPath, item.id, item.subject,
                                  "converted: its original message (" + std::to_string(item.originalTooLargeKB) +
                                      " KB) is above the attachment size limit"});
}

// What the report needs of the item SaveItem was given, whenever its write ends.
exportwriter::ItemNotes NotesOf(ExportRun *run, const HostMessage &record) {
  exportwriter::ItemNotes item;
  item.id.assign(record.messageId, strnlen(record.messageId, sizeof record.messageId));
  item.subject = ItemName(record);
  item.folderIndex = run->report.folders.empty() ? 0 : run->report.folders.size() - 1;
  item.folderPath = run->folder != nullptr ? run->folder->path : "";
  item.lost.swap(run->pendingLost);
  item.itemKind = record.itemKind;
  item.contactFlag = record.contactFlag;
  item.hasOriginal = maildir::FindOriginalPart(record) >= 0;
  item.originalTooLargeKB = run->originalTooLargeKB;
  return item;
}

void NoteWarnings(ExportRun *run, const exportwriter::ItemNotes &item, const std::vector<std::string> &warnings) {
  for (const std::string &text : warnings) {
    com_Log("MV Warning: %s in %s: %s", item.subject.c_str(), item.folderPath.c_str(), text.c_str());
    run->report.warnings.push_back({item.folderPath, item.id, item.subject, text});
  }
}

// The report's share of an item written, or found written by an earlier run.
void NoteWritten(ExportRun *run, const exportwriter::ItemNotes &item, int result, int64_t bytes) {
  report::FolderSummary *folder = &run->report.folders[item.folderIndex];
  for (const std::string &text : item.lost) run->report.lostAttachments.push_back({folder->path, item.id, item.subject, text});
  if (result == store::kAlreadyPresent) {
    ++folder->alreadyPresent;
    run->report.earlier.push_back({folder->path, item.id, item.subject, "already in the output folder"});
  }
  report::CountKind(&run->report.kinds, item.itemKind, item.contactFlag);
  CountMailForm(run, item);
  folder->bytes += bytes;
  run->state.bytes += bytes;
}

// A queued item whose write failed after SaveItem had told the plug-in it
// was stored: a failed item all the same in the report, and its record in
// the open batch of the migration state is dropped (the whole batch: the
// items of it that were written are found in place by the next run). The
// plug-in did not list it for --retry-failed, and the host does not know
// the id the plug-in fetches it by: the reason says how it is taken again.
void NoteLateFailure(ExportRun *run, const exportwriter::ItemNotes &item, const std::string &error) {
  const std::string reason = (error.empty() ? "not written" : error) + "; " + kLateFailureHint;
  com_Log("MV Error: %s", error.c_str());
  run->batchLostAWrite = true;
  if (!item.notified) {  // the plug-in's notice of this item is still to come
    NoteFailure(run, item.id, item.subject, reason);
    return;
  }
  if (item.countedFailed) return;  // counted and listed as failed already
  report::FailedItem failure;
  failure.folder = item.folderPath;
  failure.id = item.id;
  failure.subject = item.subject;
  failure.reason = reason;
  run->report.failures.push_back(failure);
  report::FolderSummary *folder = &run->report.folders[item.folderIndex];
  if (item.countedStored) --folder->stored;
  ++folder->failed;
}

// Takes the outcomes of queued items and the entries waiting behind them,
// in order: those ready, or (wait) all; with room set, only until another
// item can be queued.
void ApplyWaiting(ExportRun *run, bool wait, bool room = false) {
  while (!run->waiting.empty() && !(room && exportwriter::HasRoom(run->writer))) {
    if (run->waiting.front()) {
      std::function<void()> entry = std::move(run->waiting.front());
      run->waiting.pop_front();
      entry();
      continue;
    }
    exportwriter::WriterJob *job = exportwriter::OldestFinished(&run->writer, wait || room);
    if (job == nullptr) return;
    run->waiting.pop_front();
    NoteWarnings(run, job->notes, job->warnings);
    if (job->result == store::kStored || job->result == store::kAlreadyPresent)
      NoteWritten(run, job->notes, job->result, job->bytes);
    else
      NoteLateFailure(run, job->notes, job->error);
    if (run->lastHandedOver == job) run->lastHandedOver = nullptr;
    exportwriter::DoneWith(&run->writer);
  }
}

// Writes (or drops) the records of the group commits the committer has
// settled, in the order they were set aside; with wait, of all of them.
void SettleSetAside(ExportRun *run, bool wait) {
  if (!exportwriter::CommitterOn(run->committer)) return;
  for (bool durable : exportwriter::TakeSettled(&run->committer, wait)) mvcom_CommitSetAside(durable ? 1 : 0);
}

// Writes the item now; a failure is told to the plug-in, which lists it.
int WriteNow(ExportRun *run, const HostMessage &record) {
  exportwriter::ItemNotes item = NotesOf(run, record);
  std::string error;
  int64_t bytes = 0;
  std::vector<std::string> warnings;
  const int result = run->store->Write(record, run->workDir, &bytes, &warnings, &error);
  NoteWarnings(run, item, warnings);
  if (result != store::kStored && result != store::kAlreadyPresent) {
    com_Log("MV Error: %s", error.c_str());
    NoteFailure(run, item.id, item.subject, error.empty() ? "not written" : error);
    return kSaveFailedRecord;
  }
  NoteWritten(run, item, result, bytes);
  return kSaveStored;
}

int MV_CALL SaveItem(HostMessage *record, const char *, void *, int) {
  ExportRun *run = gRun;
  if (run == nullptr || record == nullptr) return kSaveFailedRecord;
  if (run->store == nullptr) {
    const std::string error = "no store is open for " + (run->folder != nullptr ? run->folder->path : "");
    com_Log("MV Error: %s", error.c_str());
    NoteFailure(run, std::string(record->messageId, strnlen(record->messageId, sizeof record->messageId)),
                ItemName(*record), error);
    run->pendingLost.clear();
    return kSaveFailedRecord;
  }
  if (!run->writerOn) return WriteNow(run, *record);
  SettleSetAside(run, false);
  ApplyWaiting(run, false);
  ApplyWaiting(run, false, true);
  exportwriter::ItemNotes item = NotesOf(run, *record);
  run->lastHandedOver = exportwriter::HandOver(&run->writer, *record, run->workDir, run->store, &item);
  run->waiting.push_back(nullptr);
  return kSaveStored;
}

int MV_CALL ItemNotify(HostMessage *record, const char *, int status, int *, int *, int *stop) {
  ExportRun *run = gRun;
  if (run == nullptr || run->folder == nullptr) return 0;
  bool failed = run->pendingFailure;
  if (run->lastHandedOver != nullptr) {  // this notice is of the item SaveItem queued last
    run->lastHandedOver->notes.notified = true;
    run->lastHandedOver->notes.countedFailed = failed;
    run->lastHandedOver->notes.countedStored = !failed && status == report::kStatusStored;
    run->lastHandedOver = nullptr;
  }
  if (status == report::kStatusDuplicate && !failed && record != nullptr)
    Defer(run, [run, entry = report::EarlierItem{run->folder->path,
                                             std::string(record->messageId, strnlen(record->messageId, sizeof record->messageId)),
                                             ItemName(*record), "exported by an earlier run"}] {
      run->report.earlier.push_back(entry);
    });
  // An item the plug-in reported as failed never counts as stored.
  report::CountItem(run->folder, failed ? report::kStatusSkippedOrFailed : status, failed);
  CommitFailure(run);
  run->pendingLost.clear();  // an item not stored keeps nothing of what it lost
  run->originalTooLargeKB = 0;
  ++run->state.folderDone;
  ++run->state.items;
  ShowRunProgress(run, false);
  if (InterruptRequested() && stop != nullptr) *stop = 1;
  return 0;
}

int MV_CALL HostNotify(int, const char *key, int value, int *, int *, int *stop) {
  ExportRun *run = gRun;
  if (run == nullptr || key == nullptr) return 0;
  if (strcmp(key, "MailboxMessageCount") == 0) {
    run->listedCount += value;
    if (run->folder != nullptr && run->listedCount > run->folder->total) run->folder->total = run->listedCount;
    run->state.folderTotal = run->listedCount;
  }
  if (strcmp(key, "OriginalTooLarge") == 0) run->originalTooLargeKB = value > 0 ? value : 1;
  ShowRunProgress(run, false);
  if (InterruptRequested() && stop != nullptr) *stop = 1;
  return 0;
}

// Group commit: the migration state's records of stored items are
// committed in batches of up to kBatchItems or kBatchMilliseconds, at the end
// of each folder and at exit; right before each commit the messages written
// since the last one are synced, so a recorded item always has its file (an
// unrecorded one whose file exists is not written again: the writer finds
// its name in cur/).
enum { kBatchItems = 500, kBatchMilliseconds = 1000 };

// Pre-commit callback. A commit that falls due while the plug-in reads a
// folder is handed to the committer: its records wait, set aside, until
// the items they stand for are written and synced. Any other (a folder's
// end, the run's) settles those first, then waits for the queued items and
// makes the pending items of every store durable. 0, or -1 (the pending
// records are then dropped) when a sync or a queued write failed.
int SyncPendingMessages(void *) {
  ExportRun *run = gRun;
  if (run == nullptr) return 0;
  if (run->inConvert && exportwriter::CommitterOn(run->committer)) {
    exportwriter::AskCommit(&run->committer);
    return MVCOM_COMMIT_LATER;
  }
  SettleSetAside(run, true);
  if (run->writerOn) ApplyWaiting(run, true);  // every queued item written
  // The items written are made durable also when the batch is dropped.
  int result = run->batchLostAWrite ? -1 : 0;
  run->batchLostAWrite = false;
  for (auto &entry : run->stores) {
    std::string error;
    if (entry.second->Sync(&error) != 0) {
      com_Log("MV Error: %s", error.c_str());
      result = -1;
    }
  }
  return result;
}

// A folder the server would not list completely: its missing items are
// unknown, so the folder itself is the failure (a new run lists it again).
void NoteFolderFailure(ExportRun *run, const std::string &text) {
  if (run->folder == nullptr) return;
  report::FailedItem failure;
  failure.folder = run->folder->path;
  size_t tab = text.find('\t');
  failure.reason = tab == std::string::npos ? text : text.substr(tab + 1);
  failure.reason += "; run the export again to take this folder's remaining items";
  run->report.failures.push_back(failure);
  ++run->folder->failed;
}

// "FIRST\tSECOND" of a notice as its two texts.
std::pair<std::string, std::string> NoticeTexts(const std::string &text) {
  size_t tab = text.find('\t');
  if (tab == std::string::npos) return {text, ""};
  return {text.substr(0, tab), text.substr(tab + 1)};
}

void NoteNotice(ExportRun *run, int code, const std::string &text) {
  std::pair<std::string, std::string> texts = NoticeTexts(text);
  if (code == kExtNoticeFolderShortened) {
    run->shortenedNames.push_back(texts);
    return;
  }
  run->pendingLost.push_back("The attachment " + texts.first + " could not be read from the server: " + texts.second);
}

// Lists each shortened level of the selected folders' paths once, with the
// whole name the server gave and the directory it is written to.
void NoteShortenedFolders(const std::vector<FolderEntry> &folders, const std::vector<int> &selected,
                          ExportRun *run) {
  for (int index : selected) {
    std::string prefix;
    for (const std::string &level : maildir::SplitFolderPath(folders[static_cast<size_t>(index)].path)) {
      prefix += (prefix.empty() ? "" : "^") + level;
      for (const auto &name : run->shortenedNames) {
        if (name.first != level) continue;
        bool listed = false;
        for (const report::ShortenedFolder &f : run->report.shortenedFolders) listed = listed || f.path == prefix;
        if (!listed) run->report.shortenedFolders.push_back({prefix, name.second, maildir::EncodeLevel(level)});
        break;
      }
    }
  }
}

void ExtendedErrorSink(int code, const char *text, void *) {
  ExportRun *run = gRun;
  if (run == nullptr || text == nullptr) return;
  if (IsCalendarDoneNotice(code, text)) return;
  if (code == kExtErrorFolder) return NoteFolderFailure(run, text);
  if (code == kExtNoticeCategoriesUnknown) {
    run->report.warnings.push_back({"(all folders)", "(logon)", "", text});
    return;
  }
  if (code == kExtNoticeAttachmentLost || code == kExtNoticeFolderShortened) return NoteNotice(run, code, text);
  if (code != kExtErrorItemFailed) return;
  std::string all = text;
  size_t tab1 = all.find('\t');
  size_t tab2 = tab1 == std::string::npos ? std::string::npos : all.find('\t', tab1 + 1);
  std::string id = all.substr(0, tab1);
  std::string subject = tab1 == std::string::npos ? "" : all.substr(tab1 + 1, tab2 == std::string::npos ? std::string::npos : tab2 - tab1 - 1);
  std::string reason = tab2 == std::string::npos ? "failed" : all.substr(tab2 + 1);
  NoteFailure(run, id, subject, reason);
}


int LogonExitCodeOf(int result) {
  switch (result) {
    case 1:
    case 2: return kExitNoPerm;
    case 3: return kExitUnavailable;
    default: return kExitProtocol;
  }
}

std::vector<FolderEntry> *gFolders = nullptr;

int MV_CALL CollectFolder(const char *tag) {
  FolderEntry entry;
  if (gFolders != nullptr && ParseFolderTag(tag, &entry) == 0) gFolders->push_back(entry);
  return 0;
}

// Whether path is one of the wanted folders or below one (case ignored).
bool FolderWanted(const std::string &path, const std::vector<std::string> &wanted) {
  if (wanted.empty()) return true;
  for (const std::string &w : wanted) {
    if (EqualsNoCase(path.c_str(), w.c_str())) return true;
    if (path.size() > w.size() && path[w.size()] == '^' && EqualsNoCaseN(path.c_str(), w.c_str(), w.size()))
      return true;
  }
  return false;
}

// Deletes part files ("PRT*.TMP") an interrupted run left in the work directory.
void RemoveStalePartFiles(const std::string &workDir) {
  DIR *d = opendir(workDir.c_str());
  if (d == nullptr) return;
  while (struct dirent *e = readdir(d)) {
    size_t len = strlen(e->d_name);
    if (len > 7 && StartsWith(e->d_name, "PRT") && EqualsNoCase(e->d_name + len - 4, ".TMP"))
      unlink((workDir + e->d_name).c_str());
  }
  closedir(d);
}

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string ReadWholeFile(const std::string &path, bool *exists) {
  FilePtr f = OpenFile(path.c_str(), "rb");
  *exists = static_cast<bool>(f);
  std::string text;
  if (!f) return text;
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
  return text;
}

// Keeps the failures of folders this run did not read in the failed-ids list.
void KeepOtherFoldersFailures(const std::string &path, const std::string &previous, bool hadPrevious) {
  if (!hadPrevious) return;
  bool exists = false;
  std::string current = ReadWholeFile(path, &exists);
  std::string merged = MergeFailedIds(previous, exists ? current : "");
  if (exists && merged == current) return;
  std::string error;
  if (report::WriteTextFile(path, merged, &error) != 0) com_Log("MV Error: %s", error.c_str());
}

// The store of a folder class, made on first use and kept by the run; null
// when the class has none.
store::ExportStore *StoreOfClass(ExportRun *run, int folderClass, const std::string &outDir,
                                 const ExportOptions &options) {
  auto found = run->stores.find(folderClass);
  if (found != run->stores.end()) return found->second.get();
  std::unique_ptr<store::ExportStore> made =
      options.makeStore ? options.makeStore(folderClass, WithSlash(outDir)) : store::MakeExportStore(folderClass, WithSlash(outDir));
  if (!made) return nullptr;
  return (run->stores[folderClass] = std::move(made)).get();
}

// Reads every selected folder with the logged-on plug-in.
void ConvertFolders(const PluginApi &api, const std::vector<FolderEntry> &folders,
                    const std::vector<int> &selected, const HostOptions &host,
                    const ExportOptions &options, ExportRun *run, int *exitCode) {
  struct RecordDeleter {
    void operator()(HostMessage *r) const {
      com_Deallocate_All(r, nullptr);
      delete r;
    }
  };
  std::unique_ptr<HostMessage, RecordDeleter> record(new HostMessage());
  for (size_t k = 0; k < selected.size() && !InterruptRequested(); ++k) {
    const int index = selected[k];
    const FolderEntry &entry = folders[static_cast<size_t>(index)];
    run->report.folders.emplace_back();
    report::FolderSummary *summary = &run->report.folders.back();
    summary->path = entry.path;
    summary->total = entry.count;
    run->folder = summary;
    run->listedCount = entry.count;
    run->state.folder = entry.path;
    run->state.folderDone = 0;
    run->state.folderTotal = entry.count;
    if (!options.dryRun) {
      std::string error;
      run->store = StoreOfClass(run, entry.folderClass, host.outDir, options);
      if (run->store == nullptr || run->store->OpenFolder(entry.path, &error) != 0) {
        progress::ClearProgress(&run->display);
        std::cerr << "mvmigrate: " << (error.empty() ? "no store for " + entry.path : error) << "\n";
        run->store = nullptr;
        *exitCode = kExitCantCreate;
        return;
      }
    }
    // A listing the server refuses leaves the id list of the folder before
    // in place; read again, it would file that folder's items in this one.
    remove((WithSlash(run->workDir) + kPluginIdListFile).c_str());
    // Part files are named by msgSeq; the plug-in puts an attached mail's
    // parts under msgSeq + 1, so folders take even numbers.
    record->msgSeq = static_cast<int32_t>((2 * k) % 1000);
    // The migration state keys items by the folder's whole path (two folders
    // may share a name).
    CopyText(record->hostFolder, sizeof record->hostFolder, entry.path.c_str());
    api.InitRead(record.get(), nullptr, nullptr, nullptr, nullptr, 0);
    int stored = 0, dataSize = 0;
    run->inConvert = true;
    api.ConvertFolder(record.get(), &SaveItem, index, "", nullptr, nullptr, nullptr, options.maxAttachKB, nullptr,
                      nullptr, nullptr, &stored, &dataSize, &ItemNotify);
    run->inConvert = false;
    if (run->writerOn) {
      ApplyWaiting(run, true);  // the folder's items written before its store moves on
    }
    api.CloseRead(0);
    mvcom_CommitBatch();  // the folder's messages and records before the next folder's
    CommitFailure(run);  // a failure no item notice followed
    if (run->listedCount > summary->total) summary->total = run->listedCount;
    if (options.dryRun) summary->total = run->listedCount;
    ShowRunProgress(run, true);
  }
  progress::ClearProgress(&run->display);
  run->folder = nullptr;
  run->store = nullptr;
}

// The wanted folders whose class has a store, in the plug-in's order; the
// wanted ones of a class without a store go into the report as not exported.
std::vector<int> SelectFolders(const std::vector<FolderEntry> &folders, const std::string &outDir,
                               const ExportOptions &options, ExportRun *run) {
  std::vector<int> selected;
  for (size_t i = 0; i < folders.size(); ++i) {
    const FolderEntry &f = folders[i];
    if (!FolderWanted(f.path, options.folders)) continue;
    if (StoreOfClass(run, f.folderClass, outDir, options) != nullptr) {
      selected.push_back(static_cast<int>(i));
    } else {
      report::NotExportedFolder skipped;
      skipped.path = f.path;
      skipped.what = FolderClassWord(f.folderClass);
      skipped.total = f.count;
      run->report.notExported.push_back(skipped);
      com_Log("Not exported: %s (%s): no format for this class", f.path.c_str(), skipped.what.c_str());
    }
  }
  return selected;
}

void PrintDryRun(const report::ExportReport &r) {
  int64_t items = 0;
  for (const report::FolderSummary &f : r.folders) {
    std::cout << f.path << "  " << f.total << (f.total == 1 ? " item\n" : " items\n");
    items += f.total;
  }
  std::cout << r.folders.size() << (r.folders.size() == 1 ? " folder, " : " folders, ") << items
            << " items would be exported (dry run: nothing written)\n";
  for (const report::NotExportedFolder &f : r.notExported)
    std::cout << f.path << "  " << f.total << (f.total == 1 ? " item" : " items") << " not exported (" << f.what
              << ": no format for this class)\n";
}

// The export once the password is known.
int ExportWithPassword(const HostOptions &host, const LogonOptions &logon, const std::string &password,
                       const ExportOptions &options) {
  const std::string out = WithSlash(host.outDir);
  const std::string dataDir = host.dataDir.empty() ? out + "data/" : WithSlash(host.dataDir);
  const std::string workDir = host.workDir.empty() ? out + "work/" : WithSlash(host.workDir);
  const std::string failedIds = dataDir + "failed-ids.txt";
  bool hadFailedIds = false;
  const std::string previousFailedIds = ReadWholeFile(failedIds, &hadFailedIds);
  if (options.retryFailed && !hadFailedIds) {
    std::cout << "No failed items are listed in " << failedIds << ": nothing to retry.\n";
    return kExitOk;
  }

  std::vector<std::string> extra = {"/D327", failedIds};
  // A retry takes only the items that failed before: an attachment the
  // server still will not deliver is then replaced by a text part.
  if (options.retryFailed) {
    extra.push_back("/D328");
    extra.push_back("/LOSTATTACHTEXT");
  }
  if (options.dryRun) extra.push_back("/D114");
  if (options.rules && !options.dryRun) extra.push_back("/MAILRULES");
  if (options.originals) extra.push_back("/MIME822");
  if (options.maxAttachKB > 0) {
    extra.push_back("/MAXATTACHSIZE");
    extra.push_back(std::to_string(options.maxAttachKB));
  }
  for (const std::string &logonSwitch : LogonSwitches(logon)) extra.push_back(logonSwitch);
  int rc = SetUpHost(host, extra);
  if (rc != kExitOk) return rc;
  // Small part files cross from the plug-in to the stores in memory.
  mvcom_SetPartMemory(kPartMemoryBytes);

  // One export at a time into an output directory: the Maildir writer and
  // the failed-ids list assume a single writer.
  int lockFd = open((dataDir + "export.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    std::cerr << "mvmigrate: another mvmigrate is exporting into " << host.outDir << "\n";
    if (lockFd >= 0) close(lockFd);
    mvcom_Shutdown();
    return kExitCantCreate;
  }
  struct LockCloser {
    int fd;
    ~LockCloser() { close(fd); }
  } lockCloser{lockFd};

  PluginApi api;
  std::string error;
  std::string pluginPath = host.pluginPath.empty() ? DefaultPluginPath() : host.pluginPath;
  if (LoadPlugin(pluginPath, {"GetLogonParameters", "Logon", "Logoff", "GetFolderNames", "GetTrueFolder",
                              "InitRead", "ConvertFolder", "CloseRead"},
                 &api, &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    mvcom_Shutdown();
    return kExitSoftware;
  }
  RemoveStalePartFiles(workDir);
  RemovePluginWorkFiles(workDir);

  ExportRun run;
  run.workDir = workDir;
  run.dryRun = options.dryRun;
  run.report.server = logon.server;
  run.report.user = logon.user;
  run.report.outDir = host.outDir;
  run.report.dryRun = options.dryRun;
  run.report.retryFailed = options.retryFailed;
  run.report.forms.asked = options.originals && !options.dryRun;
  run.display = progress::MakeProgressDisplay(host.verbosity > 0 ? stderr : nullptr);
  clock_gettime(CLOCK_MONOTONIC, &run.started);
  if (!options.dryRun && RecoverRulesStep(workDir, out, &run.report, &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    UnloadPlugin(&api);
    mvcom_Shutdown();
    return kExitCantCreate;
  }
  run.writerOn = options.writerThread && !options.dryRun;
  if (run.writerOn && exportwriter::StartWriter(&run.writer, workDir, &error) != 0) {
    com_Log("MV Warning: %s; items are written one by one", error.c_str());
    run.writerOn = false;
  }
  if (run.writerOn && exportwriter::StartCommitter(&run.committer, &run.writer, host.outDir, &error) != 0)
    com_Log("MV Warning: %s; group commits wait for their sync", error.c_str());
  gRun = &run;
  mvcom_BeginBatch(kBatchItems, kBatchMilliseconds, &SyncPendingMessages, nullptr);
  mvcom_SetExtendedErrorSink(&ExtendedErrorSink, nullptr);
  InstallInterrupt();

  char user[1024], pass[4096];
  CopyText(user, sizeof user, logon.user.c_str());
  CopyText(pass, sizeof pass, password.c_str());
  AskLogonForm(api);
  int result = api.Logon(user, pass, logon.server.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, 1, 0, nullptr, nullptr, &HostNotify);
  memset(pass, 0, sizeof pass);
  int exitCode = kExitOk;
  if (result != 0) {
    std::cerr << "mvmigrate: logon to " << logon.server << " as " << logon.user << " failed (see "
              << dataDir << "mvmigrate.log)\n";
    exitCode = LogonExitCodeOf(result);
  } else {
    std::vector<FolderEntry> folders;
    gFolders = &folders;
    api.GetFolderNames(0, &CollectFolder);
    gFolders = nullptr;
    for (size_t i = 0; i < folders.size(); ++i) {
      char path[kHostPathSize] = "";
      api.GetTrueFolder(static_cast<int>(i), path);
      folders[i].path = path;
    }
    std::vector<int> selected = SelectFolders(folders, host.outDir, options, &run);
    NoteShortenedFolders(folders, selected, &run);
    for (const std::string &w : options.folders) {
      bool found = false;
      for (const FolderEntry &f : folders) found = found || FolderWanted(f.path, {w});
      if (!found) {
        std::cerr << "mvmigrate: no folder " << w << " in the mailbox (see `mvmigrate folders`)\n";
        exitCode = kExitUsage;
      }
    }
    if (exitCode == kExitOk) ConvertFolders(api, folders, selected, host, options, &run, &exitCode);
    // The plug-in wrote the rules file while it read the first mail folder,
    // and the state records its rules as exported: they go out also when a
    // folder failed. A file that could not go out stays for the next run.
    if (!options.dryRun && ExportRulesStep(workDir, out, &run.report) == 0)
      remove(WorkRulesFile(workDir).c_str());
  }
  api.Logoff(0);
  RemovePluginWorkFiles(workDir);
  if (result == 0) KeepOtherFoldersFailures(failedIds, previousFailedIds, hadFailedIds);
  RestoreInterrupt();
  mvcom_SetExtendedErrorSink(nullptr, nullptr);
  SettleSetAside(&run, true);
  mvcom_EndBatch();
  exportwriter::StopCommitter(&run.committer);
  exportwriter::StopWriter(&run.writer);
  gRun = nullptr;
  UnloadPlugin(&api);
  mvcom_Shutdown();
  if (result != 0 || exitCode == kExitUsage) return exitCode;

  run.report.interrupted = InterruptRequested() != 0;
  run.report.seconds = SecondsSince(run.started);
  // With "--report -" standard output holds the report alone.
  std::ostream &summaryOut = options.reportPath == "-" ? std::cerr : std::cout;
  if (options.dryRun)
    PrintDryRun(run.report);
  else if (options.jsonSummary)
    summaryOut << report::FormatReportJson(run.report);
  else
    summaryOut << report::FormatSummary(run.report);
  std::cout << std::flush;
  if (!options.reportPath.empty() && report::WriteReportFile(options.reportPath, run.report, &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    if (exitCode == kExitOk) exitCode = kExitCantCreate;
  }
  if (exitCode != kExitOk) return exitCode;
  if (!run.report.failures.empty() || report::Totals(run.report).failed > 0) {
    std::cerr << FailedItemsLine(run.report);
    return kExitItemsFailed;
  }
  return run.report.interrupted ? static_cast<int>(kExitInterrupted) : static_cast<int>(kExitOk);
}

}  // namespace

std::string FailedItemsLine(const report::ExportReport &report) {
  // An item whose write failed after the plug-in was told it was stored is
  // not in the failed-ids list: a plain export takes it, --retry-failed not.
  const std::string late = std::string("; ") + kLateFailureHint;
  size_t unlisted = 0;
  for (const report::FailedItem &f : report.failures)
    if (f.reason.size() >= late.size() && f.reason.compare(f.reason.size() - late.size(), late.size(), late) == 0)
      ++unlisted;
  const int64_t failed = std::max<int64_t>(report::Totals(report).failed, static_cast<int64_t>(report.failures.size()));
  const int64_t listed = failed - static_cast<int64_t>(unlisted);
  std::string line = "mvmigrate: " + std::to_string(failed) + " item(s) failed; ";
  if (unlisted == 0) return line + "`mvmigrate export --retry-failed ...` takes them again\n";
  if (listed <= 0) return line + "the next `mvmigrate export ...` (without --retry-failed) takes them again\n";
  return line + "`mvmigrate export --retry-failed ...` takes " + std::to_string(listed) +
         " of them again, the next export without it the other " + std::to_string(unlisted) + "\n";
}

std::string MergeFailedIds(const std::string &previous, const std::string &current) {
  // Splits a list into folder blocks: (folder name, block text).
  auto blocks = [](const std::string &text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? text.size() : end + 1;
      if (line.compare(0, 13, "FolderNumber=") == 0) {
        size_t semi = line.find(';');
        out.push_back({semi == std::string::npos ? "" : line.substr(semi + 1), ""});
      }
      if (!out.empty()) out.back().second += line + "\n";
    }
    return out;
  };
  std::string merged = current;
  if (!merged.empty() && merged.back() != '\n') merged += '\n';
  auto now = blocks(current);
  for (const auto &old : blocks(previous)) {
    bool replaced = false;
    for (const auto &b : now) replaced = replaced || b.first == old.first;
    if (!replaced) merged += old.second;
  }
  return merged;
}

int RunExport(const HostOptions &host, const LogonOptions &logon, const ExportOptions &options) {
  std::string password, error;
  if (int rc = ReadPassword(logon, &password, &error); rc != kExitOk) {
    std::cerr << "mvmigrate: " << error << "\n";
    return rc;
  }
  return ExportWithPassword(host, logon, password, options);
}

int RunExportDemo(const HostOptions &host, bool tls, bool json) {
  gwsim::Options simOptions;
  simOptions.tls = tls;
  gwsim::Server server(simOptions);
  if (!server.Start()) {
    std::cerr << "mvmigrate: the built-in simulator did not start: " << server.LastError() << "\n";
    return kExitUnavailable;
  }
  const std::string out = WithSlash(host.outDir);
  std::cerr << "Demo: GroupWise simulator at " << server.url() << "\n\n"
            << "1. Exporting alice's mailbox into " << out << "\n";
  LogonOptions logon;
  logon.server = server.url();
  logon.user = "alice";
  ExportOptions options;
  options.jsonSummary = json;
  int rc = ExportWithPassword(host, logon, "secret", options);
  if (rc != kExitOk && rc != kExitItemsFailed) {
    server.Stop();
    return rc;
  }
  std::cout << std::flush;  // the summary before the next step's heading, also when piped
  std::cerr << "\n2. Importing those messages into bob's mailbox\n";
  LogonOptions bob = logon;
  bob.user = "bob";
  ImportOptions importOptions;
  importOptions.inDir = host.outDir;
  ImportReport report;
  int importRc = RunImportWithPassword(host, bob, importOptions, "hunter2", &report);
  server.Stop();
  if (importRc == kExitOk || importRc == kExitItemsFailed || importRc == kExitInterrupted)
    std::cout << (json ? FormatImportJson(report) : FormatImportSummary(report)) << std::flush;
  std::cerr << "\nDemo: the exported messages are in " << out << "mail/, one Maildir per folder (`mutt -f " << out
            << "mail/Mailbox` opens them); bob's mailbox lived in the simulator and is gone with it. The log is "
            << (host.dataDir.empty() ? out + "data/" : WithSlash(host.dataDir)) << "mvmigrate.log.\n";
  std::cerr << "The calendars and task lists are iCalendar directories in " << out << "calendars/ and " << out
            << "tasks/ (khal and todoman read them), the address books vCard directories in " << out
            << "contacts/ (khard reads them); the mail rules are in " << out
            << "rules/ (the plug-in's mboxrules.dat and rules.sieve).\n";
  return rc != kExitOk ? rc : importRc;
}
