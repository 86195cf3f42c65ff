// The folder conversion driver behind ConvertFolder: the mail item loop and
// the counters the item readers share.
#pragma once

// Process-wide number of the next "msg%d.xml" debug copy of an item answer;
// shared by the mail, calendar, task and address-book readers, never reset.
extern int gItemCopyCounter;

// Statuses given to the host's ItemNotify.
enum {
  kItemStored = 0,
  kItemDuplicate = 1,
  kItemDateFiltered = 2,
  kItemSkipped = 6,  // skipped or failed
};

// SaveItem codes that mean the item was not stored.
enum {
  kSaveFailed = 500,
  kSaveFailedRecord = 1234,  // also recorded in the failed-ids list
  kSaveFailedStop = 1235,    // and the folder ends
};

// Reports an item that could not be read to the host: the text
// "<id>\t<subject>\t<reason>" with kExtErrorItemFailed.
void ReportFailedItem(const char *id, const char *subject, const char *reason);
