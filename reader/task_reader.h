// The task reader: a GroupWise task list read task by task into the host's
// records (kind 3) and handed to the host.
#pragma once

#include "plugin/mv_api.h"

struct HostMessage;

// contactFlag of a completed task.
enum { kTaskCompletedFlag = 2 };

// Results of ParseTask.
enum {
  kTaskNotOpened = 0,  // the response file cannot be opened
  kTaskRead = 1,
  kTaskFailed = 2,  // its body or an attachment could not be fetched (AttachmentFailureReason())
};

// Fills record (reset by the caller) from the getItemResponse of one task:
// title, dates, progress, priority, categories, the assigner as organizer,
// the text body, attachments, and a text body made from an HTML-only body.
int ParseTask(HostMessage *record, const char *responsePath);

// Reads the task list at folderIndex of the folder table: every task is
// fetched, parsed and handed to saveItem, its outcome told to itemNotify;
// duplicates are asked and recorded under "Tasks". A task that cannot be
// fetched or read is notified as skipped, stored nowhere, recorded as failed
// and reported to the host (kExtErrorItemFailed). context goes to the host
// functions as it is. Stops when the host sets the stop flag or when the
// item limit of InitRead (0: none) tasks are stored. Writes the number of
// tasks stored through storedCount. Returns 0.
int ReadTaskFolder(int folderIndex, HostMessage *record, SaveItemFn saveItem, void *unused,
                   void *context, int *storedCount, ItemNotifyFn itemNotify);
