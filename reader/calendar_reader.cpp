// ReadCalendarFolder: a calendar folder's ids listed, each appointment
// fetched, parsed and handed to the host with its status; a series goes
// over once, its further occurrences are skipped.
#include "reader/calendar_reader.h"

#include <cstdio>
#include <cstring>

#include "folders/folder_table.h"
#include "folders/item_enumeration.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/attachments.h"
#include "reader/failed_ids.h"
#include "reader/folder_driver.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"

namespace {

enum {
  kPathSize = kDirSize + 64,
  kEscapedIdSize = 6 * kItemIdSize,
  kRequestSize = kEscapedIdSize + 256,
  kReasonSize = 600,
  kLsubLineSize = 1024,
};

const char kGetItemRequest[] =
    "<m:getItemRequest>\n<id>%s</id>\n<view>%s</view>\n</m:getItemRequest>\n";
const char kCalendarView[] = "all default recipientStatus attachment peek";

struct CalendarRun {
  HostMessage *record;
  SaveItemFn saveItem;
  ItemNotifyFn itemNotify;
  void *context;
  const char *sortName;
  int stored;
  int stop, value1, value2;
};

void Notify(CalendarRun *run, int status) {
  if (run->itemNotify != nullptr)
    run->itemNotify(run->record, "", status, &run->value1, &run->value2, &run->stop);
}

// Fetches one appointment into responsePath; 1 when the server gave it,
// 0 with the reason otherwise.
int FetchAppointment(const char *id, const char *responsePath, char *reason, size_t cap) {
  static char escapedId[kEscapedIdSize];
  static char body[kRequestSize];
  CopyText(escapedId, sizeof escapedId, id);
  com_Escape(escapedId, 1, sizeof escapedId);
  FormatText(body, sizeof body, kGetItemRequest, escapedId, kCalendarView);
  SoapCall(body, "getItemRequest", responsePath);
  if (gRunSettings.calDebug) {
    char name[64], debugPath[kPathSize + kDirSize];
    FormatText(name, sizeof name, "cal%d.xml", gItemCopyCounter++);
    FormatDebugPath(debugPath, sizeof debugPath, name);
    com_fcopy(responsePath, debugPath);
    DebugLog("debug: copied getItem response to %s", debugPath);
  }
  if (gHTTPResponse != 200) {
    com_Log("MV Warning: failed to retrieve calendar entry %d, httpResponse=%d",
            gItemCopyCounter - 1, gHTTPResponse);
    FormatText(reason, cap, "getItemRequest failed, httpResponse=%d", gHTTPResponse);
    return 0;
  }
  if (gGWSError != 0) {
    com_Log("MV Warning: failed to retrieve calendar entry %s, code=%d", id, gGWSError);
    FormatText(reason, cap, "getItemRequest failed, code=%d", gGWSError);
    return 0;
  }
  return 1;
}

// The /LSUB line; non-zero when the host excludes the appointment.
int ExcludedByHost(const HostMessage *record) {
  char date[64];
  com_DateText(record->startTime, date);
  char text[kLsubLineSize];
  FormatText(text, sizeof text, "GroupWise calendar entry: %s, start=%s", record->title, date);
  com_Log("%s", text);
  return com_ExcludeSubject(text);
}

int StoreAppointment(CalendarRun *run) {
  HostMessage *record = run->record;
  record->itemKind = kItemAppointment;
  com_AddressTranslate(record);
  // Addresses go into the host's calendar files, where blanks break them.
  for (int i = 0; i < record->recipCount && i < kMaxRecipients; ++i) {
    if (record->recips[i] == nullptr) continue;
    for (char *p = record->recips[i]->address; *p != '\0'; ++p) {
      if (*p == ' ') *p = '_';
    }
  }
  if (com_MsgIsDuplicate(record, run->context, kDupAsk, run->sortName) != 0) return kItemDuplicate;
  com_AttachSize(record, run->context, 0, gRunSettings.maxAttachSize);
  const int code = run->saveItem != nullptr ? run->saveItem(record, "", run->context, run->stored)
                                            : 0;
  if (code == kSaveFailedRecord || code == kSaveFailedStop) return kItemSkipped;
  com_MsgIsDuplicate(record, run->context, kDupRecord, run->sortName);
  ++run->stored;
  return kItemStored;
}

void ConvertAppointment(CalendarRun *run, const char *id, const char *responsePath) {
  HostMessage *record = run->record;
  char reason[kReasonSize];
  com_ResetObject(record);
  if (!gRunSettings.fakeServer && !FetchAppointment(id, responsePath, reason, sizeof reason)) {
    // Nothing of it was read: reported and listed, never stored.
    RecordFailedId(id, "");
    ReportFailedItem(id, "", reason);
    Notify(run, kItemSkipped);
    return;
  }
  if (gRunSettings.calTest) MessageBoxA(responsePath, "Substitute cal file now");
  int parsed = ParseAppointment(record, responsePath);
  if (parsed == kApptParsed && gRunSettings.lsub && ExcludedByHost(record)) parsed = kApptNoFile;
  if (parsed == kApptFailed) {
    RecordFailedId(id, record->title);
    ReportFailedItem(id, record->title, AttachmentFailureReason());
    Notify(run, kItemSkipped);
    return;
  }
  if (parsed != kApptParsed) {
    if (parsed == kApptFurtherOccurrence) {
      com_Log("Extra Calendar instance skipped");
    } else if (parsed == kApptIsTask) {
      com_Log("Skipping task found in calendar list");
    } else {
      com_Log("Calendar skipped, code=%d", parsed);
    }
    // The lists are freed before the record is cleared, so nothing leaks.
    com_Deallocate_All(record, run->context);
    com_ResetObject(record);
    Notify(run, kItemSkipped);
    return;
  }
  Notify(run, StoreAppointment(run));
}

void ReportListingFailed(const FolderRecord &folder, const char *sortName, int listed) {
  char text[kPathSize + 256];
  FormatText(text, sizeof text, "%s\tthe item list could not be read (%d of %d items listed)",
             sortName, listed, folder.itemCount);
  com_Log("MV Error: folder %s: the item list could not be read, %d of %d items listed", sortName,
          listed, folder.itemCount);
  com_SetExtendedError(kExtErrorFolder, 0, text);
}

}  // namespace

int ReadCalendarFolder(HostMessage *record, SaveItemFn saveItem, void *, void *context,
                       int *storedCount, ItemNotifyFn itemNotify, int folderIndex,
                       const char *sortName) {
  if (storedCount != nullptr) *storedCount = 0;
  if (record == nullptr || folderIndex < 0 || folderIndex >= gFolderTable.count) return 0;
  const FolderRecord &folder = *gFolderTable.records[folderIndex];
  char idPath[kPathSize], responsePath[kPathSize];
  FormatText(idPath, sizeof idPath, "%smsgids.tmp", gSession.workDir);
  FormatText(responsePath, sizeof responsePath, "%scal.xml", gSession.workDir);
  RecordFailedFolder(folderIndex, folder.folderClass, sortName);
  gSession.listingFailed = 0;
  const int listed = GetItemIds(folder.id, idPath, gRunSettings.d332);
  if (gSession.listingFailed) ReportListingFailed(folder, sortName, listed);
  if (gRunSettings.d114) {
    com_Log("MV Warning: messages will not be converted, only folder structure");
    RecordFailedId("", "");
    return 0;
  }
  FilePtr ids = OpenFile(idPath, "r");
  if (!ids) {
    RecordFailedId("", "");
    return 0;
  }
  static CalendarRun run;
  memset(&run, 0, sizeof run);
  run.record = record;
  run.saveItem = saveItem;
  run.itemNotify = itemNotify;
  run.context = context;
  run.sortName = sortName;
  static char id[kItemIdSize];
  while (!run.stop && ReadResponseLine(id, sizeof id, ids.get())) {
    if (id[0] == '\0') continue;
    ConvertAppointment(&run, id, responsePath);
    com_Deallocate_All(record, context);
    com_Deallocate(record, context);
    // A limit of 0 means none, as for mail folders.
    if (gSession.itemLimit > 0 && run.stored >= gSession.itemLimit) run.stop = 1;
  }
  // Every folder block of the failed-ids list gets its end line.
  RecordFailedId("", "");
  if (storedCount != nullptr) *storedCount = run.stored;
  return 0;
}
