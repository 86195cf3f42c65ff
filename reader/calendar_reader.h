// The calendar reader: every appointment of a calendar folder fetched,
// turned into a host record of kind 2 and handed to the host; a recurring
// series is converted once, with its rule, at its first occurrence.
#pragma once

#include "plugin/mv_api.h"

struct HostMessage;

// Results of ParseAppointment.
enum {
  kApptParsed = 0,
  kApptFurtherOccurrence = 1,  // of a series already converted in this session
  kApptNoFile = 2,             // the answer cannot be opened (or the host excluded the subject)
  kApptIsTask = 3,             // the item has a due date
  kApptFailed = 4,             // a body or an attachment could not be fetched
};

// Fills record (reset by the caller) from the getItemResponse at
// responsePath; see the results above.
int ParseAppointment(HostMessage *record, const char *responsePath);

// Converts the calendar folder at folderIndex of the folder table. SaveItem
// and ItemNotify are the host's; context goes with them. *storedCount gets
// the number of appointments stored. Returns 0.
int ReadCalendarFolder(HostMessage *record, SaveItemFn saveItem, void *unused, void *context,
                       int *storedCount, ItemNotifyFn itemNotify, int folderIndex,
                       const char *sortName);
