// `mvmigrate import`: the items the import sources find into a GroupWise
// mailbox. The loop speaks only the item-store interface: each source
// lists its folders and items and converts one item into the record, and
// the loop keeps the migration state, the journal, Ctrl-C and the report.
#include "host/mvmigrate/import_command.h"
#include "host/mvmigrate/import_read_ahead.h"
#include "host/mvmigrate/interrupt.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <unordered_set>

#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/folder_report.h"
#include "host/mvmigrate/import_group.h"
#include "host/mvmigrate/import_journal.h"
#include "host/mvmigrate/plugin_loader.h"
#include "host/progress/progress.h"
#include "host/report/export_report.h"
#include "platform/bounded_text.h"
#include "plugin/host_message.h"


namespace {

const int kExitImportFailed = 75;       // EX_TEMPFAIL: a rerun retries the failed messages
const int kExitImportInterrupted = 130;  // Ctrl-C: a rerun goes on where this one stopped
// Runs in a row that may fail a message in doubt because its folder could not
// be read whole to ask the server about it; the next one writes it.
const int kUnsureRunsBeforeWriting = 3;

// The failure the plug-in reported for the item being written, if any.
struct WriteFailure {
  bool reported = false;
  bool inDoubt = false;  // the server may have made the item all the same
  std::string reason;
  std::vector<std::string> warnings;  // members of a group left out or made twice
};

void CatchItemFailure(int code, const char *text, void *user) {
  if (user == nullptr || text == nullptr) return;
  auto *failure = static_cast<WriteFailure *>(user);
  if (code == kExtNoticeItemInDoubt) failure->inDoubt = true;
  if (code == kExtNoticeMemberLeftOut) {
    const char *tab = strchr(text, '\t');
    failure->warnings.push_back("member " + (tab != nullptr ? std::string(text, tab) : std::string(text)) +
                                " left out of the group: " + (tab != nullptr ? tab + 1 : "its contact was not created"));
  }
  if (code == kExtNoticeMemberMayBeTwice) {
    const char *tab = strchr(text, '\t');
    failure->warnings.push_back("member " + (tab != nullptr ? std::string(text, tab) : std::string(text)) +
                                " may be in the address book twice: a create of it broke off (" +
                                (tab != nullptr ? tab + 1 : "") + ") and it was created again");
  }
  if (code != kExtErrorItemFailed) return;
  failure->reported = true;
  // "<id>\t<subject>\t<reason>": the reason is the last field.
  const char *tab = strrchr(text, '\t');
  failure->reason = tab != nullptr ? tab + 1 : text;
}

int MV_CALL NotifyImportHost(int, const char *, int, int *, int *, int *) { return 0; }

struct RecordFree {
  void operator()(HostMessage *record) const {
    com_Deallocate_All(record, nullptr);
    free(record);
  }
};
using RecordPtr = std::unique_ptr<HostMessage, RecordFree>;

// Everything one run needs while it writes.
struct ImportRun {
  const ImportOptions *options;
  const PluginApi *api;     // null in a dry run
  std::string stateScope;   // "server|user|" before each folder path
  std::string workDir;
  std::string dataDir;
  std::string journalPath;  // DATA/import-pending.txt
  JournalFile journal;      // open from after the settling to the run's end
  // Messages a killed run created whose records could not be kept: not
  // written again in this run (scope, "\n", key).
  std::set<std::string> passOver;
  // Messages in doubt that the server could not be asked about (their
  // folder could not be read whole): failed in this run, asked about again
  // in the next (scope, "\n", key).
  std::set<std::string> askAgain;
  // Contacts made for the members of groups not yet imported, and the item
  // being written (see MemberMadeBefore).
  std::string membersPath;  // DATA/import-members.txt
  std::vector<GroupMemberRecord> members;
  std::string writingScope, writingKey;
  ImportGroup group;
  HostMessage *record;  // the record of the item being written
  // The read-ahead's records, records[0] also the record between folders.
  HostMessage *records[readahead::kAheadItems];
  std::vector<std::string> written;  // part files of the item written last
  readahead::Converter converter;
  ImportReport *report;
  progress::ProgressDisplay display;
  progress::ProgressState state;
  std::chrono::steady_clock::time_point started;
  int msgSeq = 0;
};

double Elapsed(const ImportRun &run) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - run.started).count();
}

void Fail(ImportRun *run, ImportFolderSummary *folder, const store::SourceItem &item,
          const std::string &subject, const std::string &reason) {
  folder->failed++;
  run->report->failures.push_back({folder->path, item.name, subject, reason});
  com_Log("MV Warning: item %s of %s not imported: %s", item.name.c_str(), folder->path.c_str(),
          reason.c_str());
}

// Lists what the record cannot hold of an item; it is written all the same.
void Warn(ImportRun *run, const ImportFolderSummary &folder, const store::SourceItem &item,
          const std::string &subject, const std::vector<std::string> &warnings) {
  for (const std::string &text : warnings) {
    run->report->warnings.push_back({folder.path, item.name, subject, text});
    com_Log("MV Warning: item %s of %s: %s", item.name.c_str(), folder.path.c_str(), text.c_str());
  }
}

std::string FieldText(const char *field, size_t cap) { return std::string(field, strnlen(field, cap)); }

// What tells an item apart among the items read back from the server, in
// the fields the plug-in's readers fill: a mail by subject, sender and
// delivery time; an appointment by its title (as far as the reader keeps
// it) and start; a task by its title and the day it is due (GroupWise keeps
// task dates as days); a contact by its names and first address, a group by
// its name (neither has a subject, sender or date: told apart by those, any
// entry of the book would pass for any other).
struct ItemIdentity {
  std::string subject;
  std::string sender;
  uint64_t time = 0;  // FILETIME ticks
};

ItemIdentity IdentityOf(const HostMessage &record) {
  ItemIdentity id;
  if (record.itemKind == kItemContact) {
    if (record.contactFlag == 1) {
      id.subject = "group: " + FieldText(record.title, sizeof record.title);
    } else {
      id.subject = "contact: " + FieldText(record.firstName, sizeof record.firstName) + " / " +
                   FieldText(record.lastName, sizeof record.lastName);
      id.sender = FieldText(record.email, sizeof record.email);
    }
    return id;
  }
  if (record.itemKind != kItemAppointment && record.itemKind != kItemTask) {
    id.subject = FieldText(record.subject, sizeof record.subject);
    id.sender = FieldText(record.fromAddress, sizeof record.fromAddress);
    id.time = FileTimeToU64(record.sentTime);
    return id;
  }
  const size_t kReaderTitle = 256;  // what the calendar and task readers keep of a title
  id.subject = FieldText(record.title, kReaderTitle);
  const uint64_t ticksPerDay = 86400ULL * 10000000ULL;
  id.time = record.itemKind == kItemAppointment ? FileTimeToU64(record.startTime)
                                                 : FileTimeToU64(record.endTime) / ticksPerDay * ticksPerDay;
  return id;
}

// The journal entry of the item in record, about to be written.
ImportJournal PendingMessage(const HostMessage &record, const std::string &key, const std::string &folder,
                             int folderClass) {
  ImportJournal pending;
  pending.key = key;
  pending.folder = folder;
  pending.folderClass = folderClass;
  const ItemIdentity id = IdentityOf(record);
  pending.subject = id.subject;
  pending.sender = id.sender;
  pending.sentTime = id.time;
  pending.writeStarted = ImportJournalNow();
  return pending;
}

// ---- the message a killed run left pending ----

const uint64_t kTicksPerSecond = 10000000ULL;
const uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;
// SaveItem's "not stored": the listing only looks, nothing is written.
const int kVerifyNotStored = 500;

// What one look at the target folder found; the plug-in's callbacks reach
// it through gVerify, since SaveItem gets no pointer of the host's own.
struct PendingCheck {
  const ImportJournal *journal = nullptr;
  bool found = false;
  int unreadable = 0;  // items or the folder the plug-in could not read
};

PendingCheck *gVerify = nullptr;

int MV_CALL CompareWithPending(HostMessage *record, const char *, void *, int) {
  PendingCheck *check = gVerify;
  if (check == nullptr || record == nullptr) return kVerifyNotStored;
  // The server keeps the dates to the second.
  const ImportJournal &pending = *check->journal;
  const ItemIdentity id = IdentityOf(*record);
  if (id.subject == pending.subject && EqualsNoCase(id.sender.c_str(), pending.sender.c_str()) &&
      id.time / kTicksPerSecond == pending.sentTime / kTicksPerSecond)
    check->found = true;
  return kVerifyNotStored;
}

int MV_CALL IgnoreItemNotice(HostMessage *, const char *, int, int *, int *, int *) { return 0; }

void CountUnreadable(int code, const char *text, void *user) {
  if (IsCalendarDoneNotice(code, text)) return;
  if (code == kExtErrorItemFailed || code == kExtErrorFolder) ++static_cast<PendingCheck *>(user)->unreadable;
}

// The folders of the plug-in's folder table that may hold the pending item:
// for mail the folder `path`; for the other classes, whose items go into a
// folder the plug-in picks by a switch, every folder of that class.
std::vector<std::string> *gFolderTags = nullptr;
int MV_CALL CollectFolderTag(const char *tag) {
  if (gFolderTags != nullptr && tag != nullptr) gFolderTags->push_back(tag);
  return 0;
}

std::vector<int> FindFolderIndexes(const PluginApi &api, const std::string &path, int folderClass) {
  std::vector<std::string> tags;
  gFolderTags = &tags;
  api.GetFolderNames(0, &CollectFolderTag);  // also puts the table in its final order
  gFolderTags = nullptr;
  std::vector<int> indexes;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (folderClass != store::kClassMail) {
      FolderEntry entry;
      if (ParseFolderTag(tags[i], &entry) == 0 && entry.folderClass == folderClass)
        indexes.push_back(static_cast<int>(i));
      continue;
    }
    char truePath[kHostPathSize] = "";
    api.GetTrueFolder(static_cast<int>(i), truePath);
    if (path == truePath) return {static_cast<int>(i)};
  }
  return indexes;
}

// Reads the folder's items created around the day of `day` and compares each
// with the pending message; nothing is stored or recorded as exported.
void LookForPending(const PluginApi &api, int folderIndex, uint64_t day, PendingCheck *check) {
  struct RecordFree {
    void operator()(HostMessage *r) const {
      com_Deallocate_All(r, nullptr);
      free(r);
    }
  };
  std::unique_ptr<HostMessage, RecordFree> record(static_cast<HostMessage *>(calloc(1, sizeof(HostMessage))));
  if (!record) {
    ++check->unreadable;
    return;
  }
  // A host folder of its own: the export state's duplicate keys never match.
  CopyText(record->hostFolder, sizeof record->hostFolder, ("import-verify:" + check->journal->folder).c_str());
  record->msgSeq = 998;
  // The listing's filter is "created gt DAY1T00:00:00Z and created lt
  // DAY2T23:59:59Z": an item made at midnight or in the last second of a day
  // is only listed with the day before and the day after in the range.
  const uint64_t dayStart = day - day % kTicksPerDay;
  const FILETIME from = U64ToFileTime(dayStart >= kTicksPerDay ? dayStart - kTicksPerDay : dayStart);
  mvcom_SetDateRange(from, U64ToFileTime(dayStart + kTicksPerDay));
  // A listing the server refuses leaves an earlier id list in place: the
  // pending message must not be "found" among another folder's items.
  char workDir[256];
  com_GetGlobal(kGlobalWorkDir, workDir);
  remove((std::string(workDir) + kPluginIdListFile).c_str());
  gVerify = check;
  mvcom_SetExtendedErrorSink(&CountUnreadable, check);
  api.InitRead(record.get(), nullptr, nullptr, nullptr, nullptr, 0);
  int stored = 0, dataSize = 0;
  api.ConvertFolder(record.get(), &CompareWithPending, folderIndex, "", nullptr, nullptr, nullptr, 0, nullptr,
                    nullptr, nullptr, &stored, &dataSize, &IgnoreItemNotice);
  api.CloseRead(0);
  mvcom_SetExtendedErrorSink(nullptr, nullptr);
  gVerify = nullptr;
}

// True when the server holds the pending message: its folder is read for
// the day of its date (the plug-in writes it as the item's created), then,
// for a server that stamps created with the time of creation, for the day
// the write began. The user's date range is put back afterwards.
bool ServerHasPending(const PluginApi &api, const ImportJournal &pending, bool *unsure) {
  const std::vector<int> indexes = FindFolderIndexes(api, pending.folder, pending.folderClass);
  if (indexes.empty()) return false;  // the folder itself was never created
  FILETIME userFrom = {0, 0}, userTo = {0, 0};
  com_GetDateRange(0, &userFrom, &userTo);
  PendingCheck check;
  check.journal = &pending;
  for (size_t i = 0; i < indexes.size() && !check.found; ++i) {
    LookForPending(api, indexes[i], pending.sentTime, &check);
    if (!check.found && (pending.writeStarted / kTicksPerDay > pending.sentTime / kTicksPerDay + 1 ||
                         pending.writeStarted / kTicksPerDay + 1 < pending.sentTime / kTicksPerDay))
      LookForPending(api, indexes[i], pending.writeStarted, &check);
  }
  mvcom_SetDateRange(userFrom, userTo);
  *unsure = !check.found && check.unreadable > 0;
  return check.found;
}

// Settles the message of the journal at path: the one a killed run was
// writing (DATA/import-pending.txt), or one whose create broke off after the
// server may have acted on it (a doubt file). Recorded as imported when
// the server has it, else left for this run to import. The journal is
// removed either way.
void SettleJournal(ImportRun *run, const std::string &path, const char *what) {
  ImportJournal pending;
  const int read = ReadImportJournal(path, &pending);
  if (read == 0) return;
  if (read < 0) {
    com_Log("MV Warning: %s is unreadable and is removed; its message is imported as any other",
            path.c_str());
    RemoveImportJournal(path);
    return;
  }
  const std::string scope = run->stateScope + pending.folder;
  if (mvcom_IsImported(scope.c_str(), pending.key.c_str()) != 1) {
    bool unsure = false;
    if (ServerHasPending(*run->api, pending, &unsure)) {
      com_Log("import: the message '%s' %s was created on the server; not creating it again",
              pending.subject.c_str(), what);
      if (mvcom_RecordImported(scope.c_str(), pending.key.c_str()) < 0) {
        // Keep the journal so that the next run checks the server again,
        // and pass the message over in this one.
        com_Log("MV Error: the message '%s' could not be recorded as imported", pending.subject.c_str());
        run->passOver.insert(scope + "\n" + pending.key);
        return;
      }
    } else if (unsure) {
      // Written blindly, it could be there twice: it waits, as a doubt
      // file, for a run that can read its folder; but not for ever, since
      // an item the server can never deliver leaves the folder unreadable.
      std::string error;
      const std::string doubtPath = ImportDoubtPath(run->dataDir, scope, pending.key);
      ImportJournal asked = pending;
      asked.unsureChecks++;
      if (asked.unsureChecks < kUnsureRunsBeforeWriting && KeepImportDoubt(doubtPath, asked, &error) == 0) {
        com_Log("MV Warning: %s could not be read whole; the message '%s' %s is not written in this run, and "
                "the next run asks the server about it again", pending.folder.c_str(), pending.subject.c_str(), what);
        run->askAgain.insert(scope + "\n" + pending.key);
        if (path != doubtPath && RemoveImportJournal(path) != 0) com_Log("MV Warning: cannot remove %s", path.c_str());
        return;
      }
      if (!error.empty()) com_Log("MV Warning: %s", error.c_str());
      com_Log("MV Warning: %s could not be read whole (%d runs); the message '%s' %s is written, and may exist twice",
              pending.folder.c_str(), asked.unsureChecks, pending.subject.c_str(), what);
    } else {
      com_Log("import: the message '%s' %s was not created; importing it", pending.subject.c_str(), what);
    }
  }
  if (RemoveImportJournal(path) != 0) com_Log("MV Warning: cannot remove %s", path.c_str());
}

void SettleJournals(ImportRun *run) {
  SettleJournal(run, run->journalPath, "interrupted last run");
  for (const std::string &path : ImportDoubtPaths(run->dataDir))
    SettleJournal(run, path, "whose create broke off in an earlier run");
}

// Older versions recorded Maildir messages by Message-ID and created only
// the first of several sharing one. Such a record stands for that message
// alone: the first met in the folder that is not recorded under its own key
// takes it over (its key is recorded and the old record marked as taken),
// so it is not written again; every other message with that id is written.
bool TakesOverOldRecord(ImportRun *run, const std::string &scope, const store::SourceItem &item,
                        const readahead::Conversion &converted, std::unordered_set<std::string> *keysThisRun) {
  if (item.legacyKey.empty()) return false;
  const int legacy = converted.legacyImported != -2 ? converted.legacyImported
                                                     : mvcom_IsImported(scope.c_str(), item.legacyKey.c_str());
  if (legacy != 1) return false;
  const std::string taken = "taken:" + item.legacyKey;
  if (mvcom_IsImported(scope.c_str(), taken.c_str()) == 1 || !keysThisRun->insert(taken).second) return false;
  if (run->api != nullptr && (mvcom_RecordImported(scope.c_str(), item.key.c_str()) < 0 ||
                              mvcom_RecordImported(scope.c_str(), taken.c_str()) < 0))
    com_Log("MV Error: %s was imported by an earlier version but could not be recorded again", item.name.c_str());
  return true;
}

// Lists an item passed over as earlier, with its subject (read by
// converting it; the conversion is thrown away).
void NoteEarlier(ImportRun *run, const ImportFolderSummary &folder, const store::SourceItem &item,
                 const readahead::Conversion &converted, const char *why) {
  com_Deallocate_All(converted.record, nullptr);
  run->report->earlier.push_back({folder.path, item.name, converted.subject, why});
}

// Lets the record of an item just written go. Its part files are deleted
// by the read-ahead thread when the loop releases the record: deleting a
// file costs the file system more than the rest of the host's work for a
// small message.
void DiscardWritten(ImportRun *run) {
  HostMessage *record = run->record;
  char path[4096];
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    FormatPartFileName(path, sizeof path, run->workDir.c_str(), record->msgSeq, i);
    run->written.push_back(path);
  }
  com_Deallocate(record, nullptr);
}

// The journal names no message: after a failure (a message that was not
// created must not be taken for one of the server's), and at a folder's end.
void EmptyJournal(ImportRun *run) {
  if (run->journal.length > 0 && ClearImportJournal(&run->journal) != 0)
    com_Log("MV Warning: cannot empty %s; the next run checks its message on the server", run->journalPath.c_str());
}

// Writes one item, converted into `converted` (null for an item without a
// key, which is not converted). Counts it into folder.
void ImportItem(ImportRun *run, const store::SourceFolder &from, ImportFolderSummary *folder,
                const store::SourceItem &item, std::unordered_set<std::string> *keysThisRun,
                const readahead::Conversion *converted) {
  const std::string &key = item.key;  // set by the conversion (Identify) when listed without one
  if (key.empty() || converted == nullptr) {
    Fail(run, folder, item, "", item.problem.empty() ? "cannot tell the item's identity" : item.problem);
    return;
  }
  const std::string scope = run->stateScope + folder->path;
  const bool copyThisRun = !keysThisRun->insert(key).second;
  const int imported =
      converted->imported != -2 ? converted->imported : mvcom_IsImported(scope.c_str(), key.c_str());
  if (!run->askAgain.empty() && run->askAgain.count(scope + "\n" + key) > 0) {
    Fail(run, folder, item, converted->subject,
         "its earlier create broke off, and the server could not be asked whether it holds it (the folder could "
         "not be read whole); the next run asks again");
    com_Deallocate_All(converted->record, nullptr);
    return;
  }
  const bool passedOver = !run->passOver.empty() && run->passOver.count(scope + "\n" + key) > 0;
  if (copyThisRun || imported == 1 || passedOver ||
      TakesOverOldRecord(run, scope, item, *converted, keysThisRun)) {
    folder->alreadyImported++;
    NoteEarlier(run, *folder, item, *converted, copyThisRun ? "a copy of a message read before in this run"
                                                            : "imported by an earlier run");
    return;
  }
  run->record = converted->record;
  const std::string &subject = converted->subject;
  const std::vector<std::string> &warnings = converted->warnings;
  if (converted->result != 0) {
    Warn(run, *folder, item, subject, warnings);
    Fail(run, folder, item, subject, converted->reason.empty() ? "not converted" : converted->reason);
    return;
  }
  for (int i = 0; i < run->record->partCount; ++i) run->state.bytes += run->record->parts[i]->size;
  if (com_ExcludeSubject(run->record->subject)) {
    folder->skipped++;
    com_Deallocate_All(run->record, nullptr);
    return;
  }
  Warn(run, *folder, item, subject, warnings);
  if (run->api == nullptr) {
    folder->created++;  // dry run: it would be
    report::CountKind(&run->report->kinds, run->record->itemKind, run->record->contactFlag);
  } else {
    // No write without its journal: after a kill the next run could not
    // tell whether the server created the item.
    ImportJournal pending = PendingMessage(*run->record, key, folder->path, from.folderClass);
    std::string journalError;
    if (WriteImportJournal(&run->journal, pending, &journalError) != 0) {
      Fail(run, folder, item, subject, journalError);
      com_Deallocate_All(run->record, nullptr);
      return;
    }
    run->writingScope = scope;
    run->writingKey = key;
    WriteFailure failure;
    mvcom_SetExtendedErrorSink(&CatchItemFailure, &failure);
    run->api->WriteMsg(run->record, nullptr, run->workDir.c_str(), nullptr);
    mvcom_SetExtendedErrorSink(nullptr, nullptr);
    Warn(run, *folder, item, subject, failure.warnings);
    if (failure.reported) {
      std::string reason = failure.reason.empty() ? "not written" : failure.reason;
      if (failure.inDoubt) {
        // Written again blindly, it could be there twice: the next run asks.
        std::string error;
        if (KeepImportDoubt(ImportDoubtPath(run->dataDir, scope, key), pending, &error) == 0)
          reason += "; the next run asks the server whether it holds it before writing it again";
        else
          com_Log("MV Warning: %s; the next run writes the message '%s' without asking the server first",
                  error.c_str(), subject.c_str());
      }
      Fail(run, folder, item, subject, reason);
    } else {
      folder->created++;
      report::CountKind(&run->report->kinds, run->record->itemKind, run->record->contactFlag);
      if (RecordCreatedMessage(&run->group, {scope, key}) == 0) {
        // Listed as created (or committed): the journal may go on naming it
        // until the next message's journal replaces it, since a run after a
        // kill records the list first and then finds the journal's message
        // imported, without asking the server. That saves a write per
        // message.
        DiscardWritten(run);
        return;
      }
      com_Log("MV Error: %s was created but could not be recorded; a rerun writes it again", item.name.c_str());
    }
    EmptyJournal(run);
  }
  DiscardWritten(run);
}

// The plug-in makes each member of a group a contact of its own before the
// group. A group written again (it failed, or a run was killed while its
// members were made) takes the contacts made before, found by its scope
// and key and the member's place, name and address.
int MemberMadeBefore(void *user, int index, const char *name, const char *address, char *id, size_t cap) {
  const ImportRun *run = static_cast<const ImportRun *>(user);
  for (const GroupMemberRecord &m : run->members) {
    if (m.index == index && m.key == run->writingKey && m.scope == run->writingScope && m.name == name &&
        m.address == address) {
      CopyText(id, cap, m.id.c_str());
      return 1;
    }
  }
  return 0;
}

void NoteMemberMade(void *user, int index, const char *name, const char *address, const char *id) {
  ImportRun *run = static_cast<ImportRun *>(user);
  const GroupMemberRecord record = {run->writingScope, run->writingKey, index, name, address, id};
  std::string error;
  if (AppendGroupMember(run->membersPath, record, &error) != 0)
    com_Log("MV Warning: %s; if the group %s is written again, this member is made twice", error.c_str(),
            run->writingKey.c_str());
  run->members.push_back(record);
}

// Keeps the member records of the groups that are not imported yet.
void PruneMemberRecords(ImportRun *run) {
  std::vector<GroupMemberRecord> keep;
  for (const GroupMemberRecord &m : run->members)
    if (mvcom_IsImported(m.scope.c_str(), m.key.c_str()) != 1) keep.push_back(m);
  if (keep.size() == run->members.size() && !keep.empty()) return;
  std::string error;
  if (RewriteGroupMembers(run->membersPath, keep, &error) != 0) com_Log("MV Warning: %s", error.c_str());
}

// Each link a source did not follow is a warning, under the folder listed.
void ReportSkippedLinks(ImportReport *report, store::ImportSource *source, const std::string &folder) {
  for (const std::string &text : source->TakeSkippedLinks()) {
    report->warnings.push_back({folder, "", "", text});
    com_Log("MV Warning: %s", text.c_str());
  }
}

// One folder of a source found below DIR.
struct SelectedFolder {
  store::ImportSource *source;
  store::SourceFolder folder;
};

void ImportFolder(ImportRun *run, const SelectedFolder &selected) {
  const store::SourceFolder &source = selected.folder;
  ImportFolderSummary folder;
  folder.path = source.path;
  folder.directory = source.directory;
  std::vector<store::SourceItem> items;
  std::string error;
  const int listed = selected.source->ListItems(source, &items, &error);
  ReportSkippedLinks(run->report, selected.source, folder.path);
  if (listed != 0) {
    com_Log("MV Error: %s", error.c_str());
    run->report->folders.push_back(folder);
    return;
  }
  folder.total = static_cast<int64_t>(items.size());
  com_Log("Import folder: %s, class=%d, count=%d", folder.path.c_str(), source.folderClass,
          static_cast<int>(items.size()));
  // Mail goes into the folder of its path (made when missing); contacts,
  // calendars and tasks into the folder of their class that the plug-in's
  // switches name.
  if (run->api != nullptr) run->api->InitWrite(run->record, folder.path.c_str(), nullptr, source.folderClass);
  run->state.folder = folder.path;
  run->state.folderTotal = folder.total;
  run->state.folderDone = 0;
  std::unordered_set<std::string> keysThisRun;
  readahead::BeginFolder(&run->converter, selected.source, &items, run->stateScope + folder.path, run->records,
                         run->msgSeq);
  for (size_t i = 0; i < items.size(); ++i) {
    readahead::Conversion *converted = readahead::Take(&run->converter, i);
    if (converted == nullptr || converted->interrupted) {
      run->report->interrupted = true;
      break;
    }
    ImportItem(run, source, &folder, items[i], &keysThisRun, converted);
    readahead::Release(&run->converter, &run->written);
    run->written.clear();
    run->state.folderDone++;
    run->state.items++;
    run->state.seconds = Elapsed(*run);
    progress::ShowProgress(&run->display, run->state, false);
  }
  // Items converted ahead and not written (the run was stopped): their
  // lists and part files go.
  run->msgSeq = readahead::EndFolder(&run->converter);
  run->record = run->records[0];
  if (run->api != nullptr) {
    run->api->CloseWrite(source.folderClass);
    CommitImportGroup(&run->group);
    EmptyJournal(run);
  }
  run->report->folders.push_back(folder);
}

int LogonForImport(const PluginApi &api, const LogonOptions &logon, const std::string &password) {
  char user[1024];
  char pass[4096];
  CopyText(user, sizeof user, logon.user.c_str());
  CopyText(pass, sizeof pass, password.c_str());
  AskLogonForm(api);
  int result = api.Logon(user, pass, logon.server.c_str(), nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, 1, 0, nullptr, nullptr,
                         &NotifyImportHost);
  memset(pass, 0, sizeof pass);
  if (result == 0) return kExitOk;
  std::cerr << "mvmigrate: logon to " << logon.server << " as " << logon.user << " failed (result "
            << result << ", see the log)\n";
  api.Logoff(0);
  switch (result) {
    case 1:
    case 2: return kExitNoPerm;
    case 3: return kExitUnavailable;
    default: return kExitProtocol;
  }
}

using SourceList = std::vector<std::unique_ptr<store::ImportSource>>;

// The folders of every source that the options select, source by source.
// Returns kExitOk or 66.
int SelectFolders(const ImportOptions &options, const SourceList &sources, std::vector<SelectedFolder> *selected) {
  std::vector<SelectedFolder> all;
  for (const auto &source : sources) {
    std::vector<store::SourceFolder> folders;
    std::string error;
    if (source->ListFolders(&folders, &error) != 0) {
      std::cerr << "mvmigrate: " << error << "\n";
      return kExitNoInput;
    }
    for (const store::SourceFolder &f : folders) all.push_back({source.get(), f});
  }
  for (const std::string &wanted : options.folders) {
    bool found = false;
    for (const auto &f : all) found = found || ImportFolderWanted(f.folder.path, {wanted});
    if (!found) {
      std::cerr << "mvmigrate: no folder " << wanted << " under " << options.inDir << "\n";
      return kExitNoInput;
    }
  }
  for (const auto &f : all)
    if (ImportFolderWanted(f.folder.path, options.folders)) selected->push_back(f);
  return kExitOk;
}

}  // namespace

int ImportExitCode(const ImportReport &report) {
  if (report.interrupted) return kExitImportInterrupted;
  return report.failures.empty() ? kExitOk : kExitImportFailed;
}

bool ImportFolderWanted(const std::string &path, const std::vector<std::string> &wanted) {
  if (wanted.empty()) return true;
  for (const std::string &w : wanted)
    if (path == w || (path.size() > w.size() && path.compare(0, w.size(), w) == 0 && path[w.size()] == '^'))
      return true;
  return false;
}


int RunImportWithPassword(const HostOptions &host, const LogonOptions &logon,
                          const ImportOptions &options, const std::string &password,
                          ImportReport *report) {
  report->inDir = options.inDir;
  report->server = logon.server;
  report->user = logon.user;
  report->dryRun = options.dryRun;
  const SourceList sources = options.makeSources ? options.makeSources(options.inDir)
                                                 : store::MakeImportSources(options.inDir);
  std::vector<SelectedFolder> folders;
  int rc = SelectFolders(options, sources, &folders);
  if (rc != kExitOk) return rc;

  rc = SetUpHost(host, LogonSwitches(logon));
  if (rc != kExitOk) return rc;
  // Small part files cross from the Maildir reader to the plug-in in memory.
  mvcom_SetPartMemory(kPartMemoryBytes);
  char workDir[256];
  com_GetGlobal(kGlobalWorkDir, workDir);
  for (const auto &source : sources) ReportSkippedLinks(report, source.get(), "");

  PluginApi api;
  if (!options.dryRun) {
    std::string error;
    std::string path = host.pluginPath.empty() ? DefaultPluginPath() : host.pluginPath;
    if (LoadPlugin(path, {"Logon", "Logoff", "InitWrite", "WriteMsg", "CloseWrite", "GetFolderNames",
                          "GetTrueFolder", "InitRead", "ConvertFolder", "CloseRead"},
                   &api, &error) != 0) {
      std::cerr << "mvmigrate: " << error << "\n";
      mvcom_Shutdown();
      return kExitSoftware;
    }
    rc = LogonForImport(api, logon, password);
    if (rc != kExitOk) {
      UnloadPlugin(&api);
      mvcom_Shutdown();
      return rc;
    }
  }

  RecordPtr records[readahead::kAheadItems];
  ImportRun run;
  for (size_t i = 0; i < readahead::kAheadItems; ++i) {
    records[i].reset(static_cast<HostMessage *>(calloc(1, sizeof(HostMessage))));
    run.records[i] = records[i].get();
  }
  if (options.readAhead) readahead::StartConverter(&run.converter);
  run.options = &options;
  run.api = options.dryRun ? nullptr : &api;
  run.stateScope = logon.server + "|" + logon.user + "|";
  run.workDir = workDir;
  char dataDir[256];
  com_GetGlobal(kGlobalDataDir, dataDir);
  run.dataDir = dataDir;
  run.journalPath = ImportJournalPath(dataDir);
  run.record = run.records[0];
  run.report = report;
  run.display = progress::MakeProgressDisplay(stderr);
  run.started = std::chrono::steady_clock::now();
  InstallInterrupt();
  if (!options.dryRun) {
    const std::string createdPath = ImportCreatedPath(dataDir);
    bool keepCreated = false;
    SettleCreatedMessages(createdPath, &run.passOver, &keepCreated);
    SettleJournals(&run);
    run.membersPath = GroupMembersPath(dataDir);
    run.members = ReadGroupMembers(run.membersPath);
    mvcom_SetGroupMemberHooks(&MemberMadeBefore, &NoteMemberMade, &run);
    std::string journalError;
    if (OpenImportJournal(run.journalPath, &run.journal, &journalError) != 0)
      com_Log("MV Error: %s; no message can be written", journalError.c_str());
    BeginImportGroups(&run.group, createdPath, keepCreated);
  }
  for (const SelectedFolder &folder : folders) {
    if (InterruptRequested()) {
      report->interrupted = true;
      break;
    }
    ImportFolder(&run, folder);
  }
  RestoreInterrupt();
  readahead::StopConverter(&run.converter);
  progress::ClearProgress(&run.display);
  report->seconds = Elapsed(run);
  for (RecordPtr &r : records) r.reset();
  if (!options.dryRun) {
    CloseImportJournal(&run.journal);
    EndImportGroups(&run.group);
    mvcom_SetGroupMemberHooks(nullptr, nullptr, nullptr);
    PruneMemberRecords(&run);
    api.Logoff(0);
    UnloadPlugin(&api);
    RemovePluginWorkFiles(run.workDir);
  }
  mvcom_Shutdown();
  return ImportExitCode(*report);
}

int RunImport(const HostOptions &host, const LogonOptions &logon, const ImportOptions &options) {
  std::string password, error;
  if (int rc = options.dryRun ? kExitOk : ReadPassword(logon, &password, &error); rc != kExitOk) {
    std::cerr << "mvmigrate: " << error << "\n";
    return rc;
  }
  ImportReport report;
  int rc = RunImportWithPassword(host, logon, options, password, &report);
  if (rc != kExitOk && rc != kExitImportFailed && rc != kExitImportInterrupted) return rc;
  // With "--report -" standard output holds the report alone.
  (options.reportPath == "-" ? std::cerr : std::cout) << FormatImportSummary(report) << std::flush;
  if (!options.reportPath.empty() && report::WriteTextFile(options.reportPath, FormatImportJson(report), &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    return kExitCantCreate;
  }
  return rc;
}
