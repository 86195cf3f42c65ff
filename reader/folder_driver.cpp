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
#include "reader/attachments.h"
#include "reader/calendar_reader.h"
#include "reader/failed_ids.h"
#include "reader/mail_parser.h"
#include "reader/rules_export.h"
#include "reader/task_reader.h"
#include "transport/soap_call.h"

int gItemCopyCounter = 0;

namespace {

const char kGetItemRequest[] =
    "<m:getItemRequest>\n<id>%s</id>\n<view>%s</view>\n</m:getItemRequest>\n";
const char kMailItemView[] = "default recipients message/RTF attachments recipientStatus peek";
const char kRuleListRequest[] = "<m:getRuleListRequest/>";

enum {
  kPathSize = kDirSize + 64,
  kSortNameSize = 512,
  kIdLineSize = kItemIdSize,
  kEscapedIdSize = 6 * kItemIdSize,
  kRequestSize = kEscapedIdSize + 256,
  kReasonSize = 600,
};

// Everything one ConvertFolder call passes around.
struct FolderRun {
  HostMessage *record;
  SaveItemFn saveItem;
  ItemNotifyFn itemNotify;
  const char *text;       // argument 4, passed on to SaveItem
  void *search[3];        // arguments 5 to 7, passed on to com_SearchMsg
  int maxAttachKB;        // argument 8
  void *context;          // argument 11
  const FolderRecord *folder;
  char sortName[kSortNameSize];
  int stop, value1, value2;  // the host's notification integers
  int index;                 // items handed to SaveItem
  int stored;
  int dataSize;
};

void WorkFile(char *out, size_t cap, const char *name) {
  FormatText(out, cap, "%s%s", gSession.workDir, name);
}

void Notify(FolderRun *run, int status) {
  if (run->itemNotify != nullptr)
    run->itemNotify(run->record, "", status, &run->value1, &run->value2, &run->stop);
}

void FreeItem(FolderRun *run) {
  com_Deallocate_All(run->record, run->context);
  com_Deallocate(run->record, run->context);
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
  // A refused list is no list: an empty export would say the mailbox has no rules.
  if (gGWSError != 0) {
    com_Log("MV Warning: unable to retrieve mailbox rules, code=%d", gGWSError);
    return;
  }
  char copyPath[kPathSize];
  FormatText(copyPath, sizeof copyPath, "%sgwrules.xml", gSession.dataDir);
  com_fcopy(responsePath, copyPath);
  com_Log("debug: copied getRuleListRequest response to %s", copyPath);
  char exportPath[kPathSize];
  WorkFile(exportPath, sizeof exportPath, "mboxrules.dat");
  ParseRules(responsePath, exportPath);
}

// Fetches one item into responsePath. Returns 1 when the server gave it,
// 0 with the reason otherwise.
int FetchItem(const char *id, int number, const char *responsePath, char *reason, size_t cap) {
  static char escapedId[kEscapedIdSize];
  static char body[kRequestSize];
  CopyText(escapedId, sizeof escapedId, id);
  com_Escape(escapedId, 1, sizeof escapedId);
  FormatText(body, sizeof body, kGetItemRequest, escapedId, kMailItemView);
  SoapCall(body, "getItemRequest", responsePath);
  if (gRunSettings.mailDebug) {
    char name[64], debugPath[kPathSize + kDirSize];
    FormatText(name, sizeof name, "msg%d.xml", gItemCopyCounter++);
    FormatDebugPath(debugPath, sizeof debugPath, name);
    com_fcopy(responsePath, debugPath);
    DebugLog("debug: copied getItem response to %s", debugPath);
  }
  if (gHTTPResponse != 200) {
    com_Log("MV Warning: failed to retrieve message %d, httpResponse=%d", number, gHTTPResponse);
    FormatText(reason, cap, "getItemRequest failed, httpResponse=%d", gHTTPResponse);
    return 0;
  }
  if (gGWSError != 0) {
    com_Log("MV Warning: failed to retrieve message %d, code=%d", number, gGWSError);
    FormatText(reason, cap, "getItemRequest failed, code=%d", gGWSError);
    return 0;
  }
  return 1;
}

// An item that could not be read: reported, listed as failed, never stored.
void FailItem(FolderRun *run, const char *id, const char *reason) {
  RecordFailedId(id, run->record->subject);
  ReportFailedItem(id, run->record->subject, reason);
  Notify(run, kItemSkipped);
  FreeItem(run);
}

// The host's checks before an item is stored: its status.
int CheckItem(FolderRun *run, int parsed) {
  HostMessage *record = run->record;
  if (parsed == kMailSkip) {
    com_Log("MV Warning: skipping subject '%s' due to /skipsubs", record->subject);
    return kItemSkipped;
  }
  if (com_SearchMsg(record, run->context, run->search[0], run->search[1], run->search[2]) == 0)
    return kItemSkipped;
  record->itemKind = kItemMail;
  if (com_MsgIsDuplicate(record, run->context, kDupAsk, run->sortName) != 0) return kItemDuplicate;
  return kItemStored;
}

// Hands one checked item to the host. Returns the SaveItem code.
int StoreItem(FolderRun *run, const char *id) {
  HostMessage *record = run->record;
  int fieldBytes = 0, totalBytes = 0;
  com_CalcMdatSize(record, &fieldBytes, &totalBytes);
  run->dataSize += totalBytes;
  com_AttachSize(record, run->context, run->index, run->maxAttachKB);
  com_AddressTranslate(record);
  ++run->stored;
  int code = run->saveItem != nullptr ? run->saveItem(record, run->text, run->context, run->index)
                                      : 0;
  int status = kItemStored;
  if (code == kSaveFailed || code == kSaveFailedRecord || code == kSaveFailedStop) {
    status = kItemSkipped;
    if (code == kSaveFailedRecord) RecordFailedId(id, record->subject);
  } else {
    com_MsgIsDuplicate(record, run->context, kDupRecord, run->sortName);
  }
  Notify(run, status);
  FreeItem(run);
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
  while (!run->stop && ReadTextLine(id, sizeof id, idFile)) {
    ++number;
    if (gRunSettings.logUuid) com_Log("[UUID:START]");
    com_ResetObject(run->record);
    if (!gRunSettings.fakeServer &&
        !FetchItem(id, number, responsePath, reason, sizeof reason)) {
      FailItem(run, id, reason);
      continue;
    }
    if (gRunSettings.calTest) MessageBoxA(responsePath, "Substitute mail file now");
    int parsed = ParseMailItem(run->record, responsePath);
    if (parsed == kMailFailed) {
      FailItem(run, id, AttachmentFailureReason());
      continue;
    }
    int status = CheckItem(run, parsed);
    if (status != kItemStored) {
      Notify(run, status);
      FreeItem(run);
      continue;
    }
    int code = StoreItem(run, id);
    if (run->stop || code == kSaveFailedStop) break;
    if (gSession.itemLimit > 0 && run->index == gSession.itemLimit) break;
    if (gRunSettings.logUuid) com_Log("[UUID:END]");
  }
  return number;
}

// Lists the folder's ids into idPath; the count.
int ListItemIds(const FolderRun &run, const char *idPath) {
  if (gRunSettings.d328) {
    int count = ReadFailedIds(run.sortName, idPath);
    if (count >= 0) {
      // The earlier run's list replaces the listing: no date filter applies.
      gSession.dateFilter[0] = '\0';
      return count;
    }
  }
  return GetItemIds(run.folder->id, idPath, 0);
}

// The server did not list the whole folder: its missing items would pass
// unnoticed, so the host is told that the folder is incomplete.
void ReportListingFailed(const FolderRun &run, int listed) {
  char text[kPathSize + 256];
  FormatText(text, sizeof text, "%s\tthe item list could not be read (%d of %d items listed)",
             run.sortName, listed, run.folder->itemCount);
  com_Log("MV Error: folder %s: the item list could not be read, %d of %d items listed",
          run.sortName, listed, run.folder->itemCount);
  com_SetExtendedError(kExtErrorFolder, 0, text);
}

int ConvertMailFolder(FolderRun *run, int folderNumber) {
  ExportMailRulesOnce();
  RecordFailedFolder(folderNumber, run->folder->folderClass, run->sortName);
  char idPath[kPathSize];
  WorkFile(idPath, sizeof idPath, "msgids.tmp");
  gSession.listingFailed = 0;
  int count = ListItemIds(*run, idPath);
  const int itemCount = run->folder->itemCount;
  if (gSession.listingFailed) ReportListingFailed(*run, count);
  if (count != itemCount) {
    com_Log("Adjusting MailboxMessageCount by %d", count - itemCount);
    if (gSession.hostNotify != nullptr)
      gSession.hostNotify(0, "MailboxMessageCount", count - itemCount, &run->value1, &run->value2,
                          &run->stop);
  }
  if (gRunSettings.d114) {
    com_Log("MV Warning: messages will not be converted, only folder structure");
  } else {
    FilePtr idFile = OpenFile(idPath, "r");
    if (idFile) {
      ConvertItems(run, idFile.get());
      int skipped = itemCount - count;
      // Items a failed listing missed are no date-filter skips.
      if (gSession.dateFilter[0] != '\0' && skipped > 0 && !gSession.listingFailed) {
        com_Log("Messages skipped due to server-side date filter: %d", skipped);
        for (int i = 0; i < skipped; ++i) Notify(run, kItemDateFiltered);
      }
      if (gRunSettings.logUuid) com_Log("[UUID:END]");
    }
  }
  // Every folder block of the failed-ids list gets its end line.
  RecordFailedId("", "");
  return 0;
}

}  // namespace

void ReportFailedItem(const char *id, const char *subject, const char *reason) {
  char text[kItemIdSize + 1024 + kReasonSize];
  FormatText(text, sizeof text, "%s\t%s\t%s", id, subject, reason);
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
    com_SetExtendedError(kExtErrorFolder, 0, "folder not in the folder table");
    return 1;
  }
  static FolderRun run;
  memset(&run, 0, sizeof run);
  run.record = record;
  run.saveItem = saveItem;
  run.itemNotify = itemNotify;
  run.text = text;
  run.search[0] = search1;
  run.search[1] = search2;
  run.search[2] = search3;
  run.maxAttachKB = maxAttachKB;
  run.context = context;
  run.folder = gFolderTable.records[index];
  CopyText(run.sortName, sizeof run.sortName, run.folder->sortName);
  com_Log("Converting folder %s, count=%d", run.sortName, run.folder->itemCount);

  if (run.folder->folderClass == kFolderClassCalendar) {
    // The reader reuses the line buffer: the path is kept for the report.
    static char path[kHostPathSize];
    CopyText(path, sizeof path, gSession.lineBuffer);
    int result = ReadCalendarFolder(record, saveItem, readerArg, context, storedCount, itemNotify,
                                    index, run.sortName);
    if (result == 0) com_SetExtendedError(kExtErrorFolder, 0, path);
    record->folderItemCount = run.folder->itemCount;
    return result;
  }
  if (run.folder->folderClass == kFolderClassTaskList) {
    int result = ReadTaskFolder(index, record, saveItem, readerArg, gSession.workDir, storedCount,
                                itemNotify);
    record->folderItemCount = run.folder->itemCount;
    return result;
  }
  if (run.folder->folderClass != kFolderClassMail) {
    // The address-book, calendar and task readers are not part of this build.
    com_Log("MV Warning: folder %s is not converted: its reader is not available yet",
            run.sortName);
    char error[kSortNameSize + 64];
    FormatText(error, sizeof error, "folder %s not converted: no reader for class %d",
               run.sortName, run.folder->folderClass);
    com_SetExtendedError(kExtErrorFolder, 0, error);
    record->folderItemCount = run.folder->itemCount;
    return 1;
  }
  int result = ConvertMailFolder(&run, index);
  if (storedCount != nullptr) *storedCount = run.stored;
  if (dataSize != nullptr) *dataSize = run.dataSize;
  record->folderItemCount = run.folder->itemCount;
  return result;
}
