// The listing, notifications, failure path and SaveItem hand-over the
// folder readers share.
#include "reader/item_loop.h"

#include "folders/folder_table.h"
#include "folders/item_enumeration.h"
#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/failed_ids.h"
#include "reader/folder_driver.h"

namespace {

enum { kListingTextSize = kDirSize + 64 + 256 };

int SaveFailed(int code, const SaveRule &rule) {
  return code == kSaveFailedRecord || code == kSaveFailedStop ||
         (rule.failsOn500 && code == kSaveFailed);
}

}  // namespace

void KeepItemId(HostMessage *record, const char *id) {
  if (record->messageId[0] != '\0') return;
  CopyText(record->messageId, sizeof record->messageId, id);
  CopyText(record->messageIdCopy, sizeof record->messageIdCopy, id);
}

void NotifyItem(ItemHost *host, int status) {
  if (host->itemNotify != nullptr)
    host->itemNotify(host->record, "", status, &host->value1, &host->value2, &host->stop);
}

void FreeItemLists(ItemHost *host) {
  com_Deallocate_All(host->record, host->context);
  com_Deallocate(host->record, host->context);
}

void FailUnreadItem(ItemHost *host, const char *id, const char *name, const char *reason) {
  RecordFailedId(id, name);
  ReportFailedItem(id, name, reason);
  NotifyItem(host, kItemSkipped);
}

int TakeSaveCode(ItemHost *host, int code, const SaveRule &rule, const char *dupFolder,
                 const char *id, const char *name) {
  if (SaveFailed(code, rule)) {
    if (code == kSaveFailedRecord && rule.records1234) RecordFailedId(id, name);
    return kItemSkipped;
  }
  com_MsgIsDuplicate(host->record, host->context, kDupRecord, dupFolder);
  return kItemStored;
}

int HandOverItem(ItemHost *host, const SaveRule &rule, const char *dupFolder, const char *id,
                 const char *name) {
  HostMessage *record = host->record;
  if (com_MsgIsDuplicate(record, host->context, kDupAsk, dupFolder) != 0) return kItemDuplicate;
  com_AttachSize(record, host->context, 0, gRunSettings.maxAttachSize);
  const int code =
      host->saveItem != nullptr ? host->saveItem(record, "", host->context, host->stored) : 0;
  const int status = TakeSaveCode(host, code, rule, dupFolder, id, name);
  if (status == kItemStored) ++host->stored;
  return status;
}

void ReportListingFailed(const char *sortName, int listed, int itemCount) {
  char text[kListingTextSize];
  FormatText(text, sizeof text, "%s\tthe item list could not be read (%d of %d items listed)",
             sortName, listed, itemCount);
  com_Log("MV Error: folder %s: the item list could not be read, %d of %d items listed", sortName,
          listed, itemCount);
  com_SetExtendedError(kExtErrorFolder, 0, text);
}

int ListFolderIds(const FolderRecord &folder, const char *sortName, const char *idPath,
                  int checkContainer) {
  gSession.listingFailed = 0;
  const int listed = GetItemIds(folder.id, idPath, checkContainer);
  if (gSession.listingFailed) ReportListingFailed(sortName, listed, folder.itemCount);
  return listed;
}

FilePtr OpenListedIds(const char *idPath) {
  if (gRunSettings.d114) {
    com_Log("MV Warning: messages will not be converted, only folder structure");
    return FilePtr();
  }
  return OpenFile(idPath, "r");
}

int ItemLimitReached(const ItemHost &host) {
  return gSession.itemLimit > 0 && host.stored >= gSession.itemLimit;
}
