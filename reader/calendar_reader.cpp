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
#include "reader/item_fetch.h"
#include "reader/item_loop.h"
#include "transport/response_scanner.h"

namespace {

enum {
  kPathSize = kDirSize + 64,
  kReasonSize = 600,
  kLsubLineSize = 1024,
};

// A failed answer names the entry by the last debug copy; a refused one by
// its id.
const ItemFetchKind kAppointmentFetch = {
    "all default recipientStatus attachment peek",
    {&RunSettings::calDebug, nullptr},
    "cal",
    "getItem",
    "calendar entry",
    kLabelLastCopy,
    kLabelId,
};
// 500 counts as stored here, and 1234 lists nothing.
const SaveRule kAppointmentSave = {1, 0};

struct CalendarRun {
  ItemHost host;
  const char *sortName;
};

// The /LSUB line; non-zero when the host excludes the appointment.
int ExcludedByHost(const HostMessage *record) {
  char date[64];
  com_DateText(record->startTime, date);
  char text[kLsubLineSize];
  FormatText(text, sizeof text, "GroupWise calendar entry: %s, start=%s", record->title, date);
  com_Log("%s", text);
  return com_ExcludeSubject(text);
}

int StoreAppointment(CalendarRun *run, const char *id) {
  HostMessage *record = run->host.record;
  record->itemKind = kItemAppointment;
  KeepItemId(record, id);
  com_AddressTranslate(record);
  // Addresses go into the host's calendar files, where blanks break them.
  for (int i = 0; i < record->recipCount && i < kMaxRecipients; ++i) {
    if (record->recips[i] == nullptr) continue;
    for (char *p = record->recips[i]->address; *p != '\0'; ++p) {
      if (*p == ' ') *p = '_';
    }
  }
  return HandOverItem(&run->host, kAppointmentSave, run->sortName, id, record->title);
}

void ConvertAppointment(CalendarRun *run, const char *id, const char *responsePath) {
  ItemHost *host = &run->host;
  HostMessage *record = host->record;
  char reason[kReasonSize];
  com_ResetObject(record);
  if (!gRunSettings.fakeServer &&
      !FetchItemAnswer(kAppointmentFetch, id, 0, responsePath, reason, sizeof reason)) {
    // Nothing of it was read: reported and listed, never stored.
    FailUnreadItem(host, id, "", reason);
    return;
  }
  if (gRunSettings.calTest) MessageBoxA(responsePath, "Substitute cal file now");
  int parsed = ParseAppointment(record, responsePath);
  if (parsed == kApptParsed && gRunSettings.lsub && ExcludedByHost(record)) parsed = kApptNoFile;
  if (parsed == kApptFailed) {
    FailUnreadItem(host, id, record->title, AttachmentFailureReason());
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
    com_Deallocate_All(record, host->context);
    com_ResetObject(record);
    NotifyItem(host, kItemSkipped);
    return;
  }
  NotifyItem(host, StoreAppointment(run, id));
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
  ListFolderIds(folder, sortName, idPath, gRunSettings.d332);
  FilePtr ids = OpenListedIds(idPath);
  if (!ids) {
    RecordFailedId("", "");
    return 0;
  }
  static CalendarRun run;
  memset(&run, 0, sizeof run);
  run.host = ItemHost{record, saveItem, itemNotify, context, 0, 0, 0, 0};
  run.sortName = sortName;
  static char id[kItemIdSize];
  while (!run.host.stop && ReadResponseLine(id, sizeof id, ids.get())) {
    if (id[0] == '\0') continue;
    ConvertAppointment(&run, id, responsePath);
    FreeItemLists(&run.host);
    // A limit of 0 means none, as for mail folders.
    if (ItemLimitReached(run.host)) run.host.stop = 1;
  }
  // Every folder block of the failed-ids list gets its end line.
  RecordFailedId("", "");
  if (storedCount != nullptr) *storedCount = run.host.stored;
  return 0;
}
