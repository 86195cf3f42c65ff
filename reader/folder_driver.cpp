// ConvertFolder: the entry point by which the host reads one source folder.
// Mail folders run the item loop here: list the ids, fetch and parse each
// item, run the host's checks, hand it over and report its outcome.
#include "reader/folder_driver.h"

#include <cstdio>
#include <cstring>

#include "folders/folder_table.h"
#include "folders/item_enumeration.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/host_message.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/address_book_reader.h"
#include "reader/attachments.h"
#include "reader/calendar_reader.h"
#include "reader/failed_ids.h"
#include "reader/item_fetch.h"
#include "reader/item_loop.h"
#include "reader/lost_attachment.h"
#include "reader/mail_parser.h"
#include "reader/original_message.h"
#include "reader/rules_export.h"
#include "reader/task_reader.h"
#include "transport/answer_store.h"
#include "transport/soap_call.h"

int gItemCopyCounter = 0;

namespace {

const char kRuleListRequest[] = "<m:getRuleListRequest/>";

const ItemFetchKind kMailFetch = {
    "default recipients message/RTF attachments recipientStatus peek",
    {&RunSettings::mailDebug, nullptr},
    "msg",
    "getItem",
    "message",
    kLabelPosition,
    kLabelPosition,
};
// Every failure code leaves the item unstored; 1234 also lists it as failed.
const SaveRule kMailSave = {1, 1};

enum {
  kPathSize = kDirSize + 64,
  kSortNameSize = 512,
  kIdLineSize = kItemIdSize,
  kReasonSize = 600,
};

// Everything one ConvertFolder call passes around.
struct FolderRun {
  ItemHost host;          // record, SaveItem, ItemNotify, argument 11 as context
  const char *text;       // argument 4, passed on to SaveItem
  void *search[3];        // arguments 5 to 7, passed on to com_SearchMsg
  int maxAttachKB;        // argument 8
  const FolderRecord *folder;
  char sortName[kSortNameSize];
  int index;                 // items handed to SaveItem
  int64_t dataSize;  // summed wide: a folder passes 2 GiB
};

void WorkFile(char *out, size_t cap, const char *name) {
  FormatText(out, cap, "%s%s", gSession.workDir, name);
}

// Exports the mailbox's rules once per process when /MAILRULES asks for it.
void ExportMailRulesOnce() {
  if (!gRunSettings.mailRules) return;
  gRunSettings.mailRules = 0;
  com_Log("Attempting to export GW mail rules");
  char responsePath[kPathSize];
  WorkFile(responsePath, sizeof responsePath, "gwrules.xml");
  SoapCall(kRuleListRequest, "getRuleListRequest", responsePath);
  if (gHTTPResponse != 200) {
    com_Log("MV Warning: unable to retrieve mailbox rules, response %d", gHTTPResponse);
    return;
  }
  // A refused or broken list is no list: an empty export would say the
  // mailbox has no rules.
  if (!SoapAnswerUsable()) {
    com_Log("MV Warning: unable to retrieve mailbox rules, %s", SoapAnswerProblem());
    return;
  }
  if (gGWSError != 0) {
    com_Log("MV Warning: unable to retrieve mailbox rules, code=%d", gGWSError);
    return;
  }
  char copyPath[kPathSize];
  FormatText(copyPath, sizeof copyPath, "%sgwrules.xml", gSession.dataDir);
  CopyAnswer(responsePath, copyPath);
  com_Log("debug: copied getRuleListRequest response to %s", copyPath);
  char exportPath[kPathSize];
  WorkFile(exportPath, sizeof exportPath, "mboxrules.dat");
  ParseRules(responsePath, exportPath);
}

// An item that could not be read: reported, listed as failed, never stored.
void FailItem(FolderRun *run, const char *id, const char *reason) {
  FailUnreadItem(&run->host, id, run->host.record->subject, reason);
  FreeItemLists(&run->host);
}

// The host's checks before an item is stored: its status.
int CheckItem(FolderRun *run, int parsed) {
  HostMessage *record = run->host.record;
  if (parsed == kMailSkip) {
    com_Log("MV Warning: skipping subject '%s' due to /skipsubs", record->subject);
    return kItemSkipped;
  }
  void *context = run->host.context;
  if (com_SearchMsg(record, context, run->search[0], run->search[1], run->search[2]) == 0)
    return kItemSkipped;
  record->itemKind = kItemMail;
  if (com_MsgIsDuplicate(record, context, kDupAsk, run->sortName) != 0) return kItemDuplicate;
  return kItemStored;
}

// Hands one checked item to the host. Returns the SaveItem code.
int StoreItem(FolderRun *run, const char *id) {
  ItemHost *host = &run->host;
  HostMessage *record = host->record;
  int fieldBytes = 0, totalBytes = 0;
  com_CalcMdatSize(record, &fieldBytes, &totalBytes);
  run->dataSize += totalBytes;
  com_AttachSize(record, host->context, run->index, run->maxAttachKB);
  com_AddressTranslate(record);
  ++host->stored;
  int code = host->saveItem != nullptr
                 ? host->saveItem(record, run->text, host->context, run->index)
                 : 0;
  NotifyItem(host, TakeSaveCode(host, code, kMailSave, run->sortName, id, record->subject));
  FreeItemLists(host);
  ++run->index;
  return code;
}

// The item loop over the id file. Returns the number of ids read.
int ConvertItems(FolderRun *run, FILE *idFile) {
  char responsePath[kPathSize];
  WorkFile(responsePath, sizeof responsePath, "msg.xml");
  static char id[kIdLineSize];
  char reason[kReasonSize];
  int number = 0;
  while (!run->host.stop && ReadTextLine(id, sizeof id, idFile)) {
    ++number;
    if (gRunSettings.logUuid) com_Log("[UUID:START]");
    com_ResetObject(run->host.record);
    if (!gRunSettings.fakeServer &&
        !FetchItemAnswer(kMailFetch, id, number, responsePath, reason, sizeof reason)) {
      FailItem(run, id, reason);
      continue;
    }
    if (gRunSettings.calTest) MessageBoxA(responsePath, "Substitute mail file now");
    int parsed = ParseMailItem(run->host.record, responsePath);
    if (parsed == kMailFailed) {
      FailItem(run, id, AttachmentFailureReason());
      continue;
    }
    int status = CheckItem(run, parsed);
    if (status != kItemStored) {
      NotifyItem(&run->host, status);
      FreeItemLists(&run->host);
      continue;
    }
    int code = StoreItem(run, id);
    if (run->host.stop || code == kSaveFailedStop) break;
    if (gSession.itemLimit > 0 && run->index == gSession.itemLimit) break;
    if (gRunSettings.logUuid) com_Log("[UUID:END]");
  }
  return number;
}

// Lists the folder's ids into idPath; the count.
int ListItemIds(const FolderRun &run, const char *idPath) {
  gSession.listingFailed = 0;
  if (gRunSettings.d328) {
    int count = ReadFailedIds(run.sortName, idPath);
    AllowLostAttachments(count >= 0);
    if (count >= 0) {
      // The earlier run's list replaces the listing: no date filter applies.
      gSession.dateFilter[0] = '\0';
      return count;
    }
    // The earlier run could not list the folder whole: the items it never
    // saw are in no list, so the folder is listed again (the host passes
    // over what is already exported).
    if (count == kListAgain)
      com_Log("MV Info: folder %s was not listed whole by the earlier run, listing it again", run.sortName);
  }
  const int listed = ListFolderIds(*run.folder, run.sortName, idPath, 0);
  if (gSession.listingFailed) RecordListingFailed();
  return listed;
}

int ConvertMailFolder(FolderRun *run, int folderNumber) {
  ExportMailRulesOnce();
  RecordFailedFolder(folderNumber, run->folder->folderClass, run->sortName);
  char idPath[kPathSize];
  WorkFile(idPath, sizeof idPath, "msgids.tmp");
  int count = ListItemIds(*run, idPath);
  const int itemCount = run->folder->itemCount;
  // A negative count from the server is no count at all: nothing to adjust
  // and no item to call skipped (the difference would not even fit an int).
  const int countKnown = itemCount >= 0;
  if (!countKnown)
    com_Log("MV Warning: folder %s has no usable item count (%d)", run->sortName, itemCount);
  if (countKnown && count != itemCount) {
    com_Log("Adjusting MailboxMessageCount by %d", count - itemCount);
    if (gSession.hostNotify != nullptr)
      gSession.hostNotify(0, "MailboxMessageCount", count - itemCount, &run->host.value1,
                          &run->host.value2, &run->host.stop);
  }
  FilePtr idFile = OpenListedIds(idPath);
  if (idFile) {
    ConvertItems(run, idFile.get());
    int skipped = countKnown ? itemCount - count : 0;
    // Items a failed listing missed are no date-filter skips.
    if (gSession.dateFilter[0] != '\0' && skipped > 0 && !gSession.listingFailed) {
      com_Log("Messages skipped due to server-side date filter: %d", skipped);
      for (int i = 0; i < skipped; ++i) NotifyItem(&run->host, kItemDateFiltered);
    }
    if (gRunSettings.logUuid) com_Log("[UUID:END]");
  }
  AllowLostAttachments(0);
  // Every folder block of the failed-ids list gets its end line.
  RecordFailedId("", "");
  return 0;
}

// The readers of the other folder classes, given what ConvertFolder received.
typedef int (*FolderReaderFn)(HostMessage *record, SaveItemFn saveItem, void *readerArg,
                              const char *workDir, int *storedCount, ItemNotifyFn itemNotify,
                              int folderIndex, const char *sortName);

struct FolderReaderEntry {
  int32_t folderClass;
  FolderReaderFn reader;
};

// The calendar reader takes the work directory as the host functions'
// context; after a calendar the host is told which folder it was (code 109
// with the folder's path and no reason: a notice, not a failure).
int ReadCalendar(HostMessage *record, SaveItemFn saveItem, void *readerArg, const char *workDir,
                 int *storedCount, ItemNotifyFn itemNotify, int folderIndex, const char *sortName) {
  // The reader reuses the line buffer, which holds the folder's path.
  static char path[kHostPathSize];
  CopyText(path, sizeof path, gSession.lineBuffer);
  int result = ReadCalendarFolder(record, saveItem, readerArg, const_cast<char *>(workDir),
                                  storedCount, itemNotify, folderIndex, sortName);
  if (result == 0) com_SetExtendedError(kExtErrorFolder, 0, path);
  return result;
}

// The task reader takes the folder index first.
int ReadTasks(HostMessage *record, SaveItemFn saveItem, void *readerArg, const char *workDir,
              int *storedCount, ItemNotifyFn itemNotify, int folderIndex, const char *) {
  return ReadTaskFolder(folderIndex, record, saveItem, readerArg, const_cast<char *>(workDir),
                        storedCount, itemNotify);
}

const FolderReaderEntry kFolderReaders[] = {
    {kFolderClassAddressBook, ReadAddressBook},
    {kFolderClassCalendar, ReadCalendar},
    {kFolderClassTaskList, ReadTasks},
};

const FolderReaderEntry *FindFolderReader(int32_t folderClass) {
  for (const FolderReaderEntry &entry : kFolderReaders) {
    if (entry.folderClass == folderClass) return &entry;
  }
  return nullptr;
}

}  // namespace

void ReportFailedItem(const char *id, const char *subject, const char *reason) {
  char text[kItemIdSize + 1024 + kReasonSize], idText[kItemIdSize], subjectText[1024];
  char reasonText[kReasonSize];
  CopyOneLine(idText, sizeof idText, id, kReportBreaks);
  CopyOneLine(subjectText, sizeof subjectText, subject, kReportBreaks);
  CopyOneLine(reasonText, sizeof reasonText, reason, kRecordBreaks);
  FormatText(text, sizeof text, "%s\t%s\t%s", idText, subjectText, reasonText);
  com_SetExtendedError(kExtErrorItemFailed, 0, text);
}

extern "C" MV_EXPORT int MV_CALL ConvertFolder(HostMessage *record, SaveItemFn saveItem,
                                               int folderNumber, const char *text,
                                               void *search1, void *search2, void *search3,
                                               int maxAttachKB, void *readerArg, void *,
                                               void *context,
                                               int *storedCount, int *dataSize,
                                               ItemNotifyFn itemNotify) {
  com_GetGlobal(kGlobalWorkDir, gSession.workDir);
  com_GetGlobal(kGlobalDataDir, gSession.dataDir);
  if (storedCount != nullptr) *storedCount = 0;
  if (dataSize != nullptr) *dataSize = 0;
  int index = GetTrueFolder(folderNumber, gSession.lineBuffer);
  if (record == nullptr || index < 0 || index >= gFolderTable.count) {
    com_Log("MV Error: folder %d is not in the folder table", folderNumber);
    com_SetExtendedError(kExtErrorFolder, 0, "\tfolder not in the folder table");
    return 1;
  }
  static FolderRun run;
  memset(&run, 0, sizeof run);
  run.host = ItemHost{record, saveItem, itemNotify, context, 0, 0, 0, 0};
  run.text = text;
  run.search[0] = search1;
  run.search[1] = search2;
  run.search[2] = search3;
  run.maxAttachKB = maxAttachKB;
  SetOriginalSizeLimit(maxAttachKB);
  run.folder = gFolderTable.records[index];
  CopyText(run.sortName, sizeof run.sortName, run.folder->sortName);
  com_Log("Converting folder %s, count=%d", run.sortName, run.folder->itemCount);

  const FolderReaderEntry *reader = FindFolderReader(run.folder->folderClass);
  if (reader != nullptr) {
    int result = reader->reader(record, saveItem, readerArg, gSession.workDir, &run.host.stored,
                                itemNotify, index, run.sortName);
    if (storedCount != nullptr) *storedCount = run.host.stored;
    record->folderItemCount = run.folder->itemCount;
    return result;
  }
  int result = ConvertMailFolder(&run, index);
  if (storedCount != nullptr) *storedCount = run.host.stored;
  if (dataSize != nullptr)
    *dataSize = run.dataSize > INT32_MAX ? INT32_MAX : static_cast<int>(run.dataSize);
  record->folderItemCount = run.folder->itemCount;
  return result;
}
