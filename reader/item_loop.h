// The steps every folder reader's item loop shares: the listed ids, the
// notifications, the failure path of an item, the hand-over to SaveItem and
// what its code means.
#pragma once

#include "platform/file_guard.h"
#include "plugin/mv_api.h"

struct FolderRecord;
struct HostMessage;

// What a reader passes to the host's functions for each item.
struct ItemHost {
  HostMessage *record;
  SaveItemFn saveItem;
  ItemNotifyFn itemNotify;
  void *context;  // handed to the host functions as it is
  int stored;     // items stored (the index SaveItem gets from most readers)
  int stop, value1, value2;  // the host's notification integers
};

// Which SaveItem codes a reader takes for an item not stored (1234 and 1235
// always are).
struct SaveRule {
  int failsOn500;   // 500 too; otherwise 500 counts as stored
  int records1234;   // 1234 also lists the item in the failed-ids list
};

// Puts the GroupWise item id into the record's message id when the item has
// none (appointments and tasks): it tells two items of the same title and
// dates apart in the host's duplicate store and in the files the host writes.
void KeepItemId(HostMessage *record, const char *id);

// ItemNotify with status, when the host gave one.
void NotifyItem(ItemHost *host, int status);

// Frees the record's lists and the record's own allocations.
void FreeItemLists(ItemHost *host);

// An item that could not be read: listed as failed under name, reported to
// the host with reason and notified as skipped. The record is not freed.
void FailUnreadItem(ItemHost *host, const char *id, const char *name, const char *reason);

// What a SaveItem code means for the item: kItemSkipped for a failure code
// of rule (1234 then listed as failed under name when rule says so), else
// kItemStored after recording the item as migrated under dupFolder.
int TakeSaveCode(ItemHost *host, int code, const SaveRule &rule, const char *dupFolder,
                 const char *id, const char *name);

// The hand-over of the calendar, task and address-book readers: a duplicate
// under dupFolder is kItemDuplicate; otherwise attachments are sized,
// SaveItem gets an empty text and the stored count, and TakeSaveCode decides.
// A stored item is counted. Returns the status to notify.
int HandOverItem(ItemHost *host, const SaveRule &rule, const char *dupFolder, const char *id,
                 const char *name);

// Tells the host that the server did not list the whole folder, so its
// missing items do not pass unnoticed.
void ReportListingFailed(const char *sortName, int listed, int itemCount);

// Lists the folder's ids into idPath (GetItemIds with checkContainer) and
// reports a listing that failed part way under sortName. Returns the count.
int ListFolderIds(const FolderRecord &folder, const char *sortName, const char *idPath,
                  int checkContainer);

// The listed ids for the item loop; null under /D114 (after its warning)
// or when the file cannot be opened.
FilePtr OpenListedIds(const char *idPath);

// Non-zero once as many items are stored as InitRead's limit (0: none).
int ItemLimitReached(const ItemHost &host);
