// ReadTaskFolder and ParseTask: a GroupWise task list read into the host's
// records, one getItemRequest per task, each task handed to the host.
#include "reader/task_reader.h"

#include <cstdio>
#include <cstring>

#include "folders/category_table.h"
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
#include "reader/html_text_body.h"
#include "reader/item_fetch.h"
#include "reader/item_loop.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"

namespace {

enum {
  kTaskLineSize = 2000,
  kTitleChars = 256,
  kOrganizerChars = 250,
  kPathSize = kDirSize + 64,
  kReasonSize = 600,
};

// A task is named by the number of tasks read before it, less one.
const ItemFetchKind kTaskFetch = {
    "all default checklist attachment peek",
    {&RunSettings::mailDebug, &RunSettings::calDebug},
    "task",
    "getItem",
    "task",
    kLabelPosition,
    kLabelPosition,
};
// 500 counts as stored; 1234 lists the task as failed.
const SaveRule kTaskSave = {1, 1};
// Tasks are known to the host's duplicate store under this folder text,
// whatever the task list is called.
const char kTaskDupFolder[] = "Tasks";

// ---- ParseTask ----

// One tag of the task answer and what its element does to the record. The
// handler reads the element's value (or whole element) from the file after
// the tag line; it returns kTaskRead, or kTaskFailed when the item failed.
struct TaskTag {
  const char *tag;
  TagMatch match;
  int (*handle)(HostMessage *record, char *line, FILE *file);
};

void ReadValue(char *line, FILE *file) { ReadElementValue(line, kTaskLineSize, file); }

int ReadTitle(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  CopyTextN(record->title, sizeof record->title, line, kTitleChars);
  TrimPartialUtf8(record->title);
  com_ltrim(record->title);
  com_rtrim(record->title);
  return kTaskRead;
}

// Completion also sets the record's completed mark (contactFlag 2), which a
// later percentage does not take back, so that a task read and written
// again stays completed.
int ReadCompleted(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  record->contactFlag = line[0] == '1' ? kTaskCompletedFlag : 0;
  if (line[0] == '1') record->percentComplete = 100;
  return kTaskRead;
}

int ReadStart(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  ParseGWDateTime(line, &record->startTime);
  return kTaskRead;
}

int ReadDue(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  ParseGWDateTime(line, &record->endTime);
  return kTaskRead;
}

int ReadPercent(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  record->percentComplete = ParseLeadingInt(line);
  return kTaskRead;
}

int ReadCategory(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  char name[kCategoryTextSize];
  LookupCategoryName(line, name);
  AppendCategoryName(record->categories, name);
  return kTaskRead;
}

// The one who assigned the task, up to the end of the from element.
int ReadAssigner(HostMessage *record, char *line, FILE *file) {
  const TagField fields[] = {
      {"<gwt:email>", kTagNoCase, record->organizerAddress, sizeof record->organizerAddress,
       kOrganizerChars, nullptr},
      {"<gwt:displayName>", kTagNoCase, record->organizerName, sizeof record->organizerName,
       kOrganizerChars, nullptr},
  };
  while (ReadResponseLine(line, kTaskLineSize, file) && !EqualsNoCase(line, "</gwt:from>")) {
    ScanTagTable(line, kTaskLineSize, fields, 2, file);
  }
  return kTaskRead;
}

int ReadPriority(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  if (EqualsNoCase(line, "Standard")) record->taskPriority = 1;
  else if (EqualsNoCase(line, "High")) record->taskPriority = 2;
  else if (EqualsNoCase(line, "Low")) record->taskPriority = 0;
  return kTaskRead;
}

// Attachments after the record's part list is full are passed over.
int ReadAttachment(HostMessage *record, char *, FILE *file) {
  if (record->partCount >= kMaxParts) return kTaskRead;
  return GetAttachment(record, file) == kAttachFailed ? kTaskFailed : kTaskRead;
}

// The task's own text, as the mail parser reads a body part.
int ReadBodyPart(HostMessage *record, char *line, FILE *file) {
  int rtf = com_FindText(line, "/rtf", 0) != nullptr;
  return WriteBodyPart(record, file, line, rtf) == 2 ? kTaskFailed : kTaskRead;
}

const TaskTag kTaskTags[] = {
    {"<gwt:subject>", kTagNoCase, ReadTitle},
    {"<gwt:completed>", kTagNoCase, ReadCompleted},
    {"<gwt:startDate>", kTagNoCase, ReadStart},
    {"<gwt:assignedDate>", kTagNoCase, ReadStart},
    {"<gwt:dueDate>", kTagNoCase, ReadDue},
    {"<gwt:percentComplete>", kTagNoCase, ReadPercent},
    {"<gwt:category>", kTagNoCase, ReadCategory},
    {"<gwt:from>", kTagNoCase, ReadAssigner},
    {"<gwt:priority>", kTagNoCase, ReadPriority},
    {"<gwt:attachment>", kTagNoCase, ReadAttachment},
};

// ---- ReadTaskFolder ----

struct TaskRun {
  ItemHost host;  // its stored count: tasks the host accepted
  int read;       // tasks fetched and parsed
};

// A task that could not be read: never stored, listed as failed, reported.
void FailTask(TaskRun *run, const char *id, const char *reason) {
  FailUnreadItem(&run->host, id, run->host.record->title, reason);
  FreeItemLists(&run->host);
}

void LogTaskLine(const HostMessage *record) {
  char start[64], due[64];
  com_DateText(record->startTime, start);
  com_DateText(record->endTime, due);
  com_Log("GroupWise task: %s, start=%s, due=%s", record->title, start, due);
}

// The host's checks, SaveItem and the notification of one parsed task.
void StoreTask(TaskRun *run, const char *id) {
  HostMessage *record = run->host.record;
  KeepItemId(record, id);
  if (gRunSettings.lsub) LogTaskLine(record);
  record->itemKind = kItemTask;
  com_AddressTranslate(record);
  NotifyItem(&run->host, HandOverItem(&run->host, kTaskSave, kTaskDupFolder, id, record->title));
  FreeItemLists(&run->host);
}

void ReadTasks(TaskRun *run, FILE *idFile) {
  char responsePath[kPathSize];
  FormatText(responsePath, sizeof responsePath, "%stask.xml", gSession.workDir);
  static char id[kItemIdSize];
  char reason[kReasonSize];
  while (!run->host.stop && ReadResponseLine(id, sizeof id, idFile)) {
    if (id[0] == '\0') continue;
    com_ResetObject(run->host.record);
    if (!gRunSettings.fakeServer &&
        !FetchItemAnswer(kTaskFetch, id, run->read - 1, responsePath, reason, sizeof reason)) {
      ++run->read;
      FailTask(run, id, reason);
      continue;
    }
    if (gRunSettings.calTest) MessageBoxA(responsePath, "Substitute task file now");
    int parsed = ParseTask(run->host.record, responsePath);
    ++run->read;
    if (parsed != kTaskRead) {
      FailTask(run, id,
               parsed == kTaskFailed ? AttachmentFailureReason() : "the answer cannot be read");
      continue;
    }
    StoreTask(run, id);
    // A limit of 0 is no limit, as for mail: the host's "take everything"
    // must not end the list after its first task.
    if (ItemLimitReached(run->host)) run->host.stop = 1;
  }
}

}  // namespace

int ParseTask(HostMessage *record, const char *responsePath) {
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return kTaskNotOpened;
  static char line[kTaskLineSize];
  // A task without a priority element is of standard priority, not low.
  record->taskPriority = 1;
  int result = kTaskRead;
  while (result == kTaskRead && ReadResponseLine(line, sizeof line, file.get())) {
    // The body part is known by its element and attributes, in any order.
    if (IsTextBodyPart(line)) {
      result = ReadBodyPart(record, line, file.get());
      continue;
    }
    for (const TaskTag &t : kTaskTags) {
      if (!TagMatches(line, t.tag, t.match)) continue;
      result = t.handle(record, line, file.get());
      break;
    }
  }
  file.reset();
  if (result != kTaskRead) return result;
  AddTextBodyFromHtml(record);
  return kTaskRead;
}

int ReadTaskFolder(int folderIndex, HostMessage *record, SaveItemFn saveItem, void *,
                   void *context, int *storedCount, ItemNotifyFn itemNotify) {
  const FolderRecord *folder = gFolderTable.records[folderIndex];
  char idPath[kPathSize];
  FormatText(idPath, sizeof idPath, "%smsgids.tmp", gSession.workDir);
  ListFolderIds(*folder, folder->sortName, idPath, gRunSettings.d332);
  if (storedCount != nullptr) *storedCount = 0;
  FilePtr idFile = OpenListedIds(idPath);
  if (!idFile) return 0;
  static TaskRun run;
  memset(&run, 0, sizeof run);
  run.host = ItemHost{record, saveItem, itemNotify, context, 0, 0, 0, 0};
  RecordFailedFolder(folderIndex, folder->folderClass, folder->sortName);
  ReadTasks(&run, idFile.get());
  RecordFailedId("", "");
  if (storedCount != nullptr) *storedCount = run.host.stored;
  return 0;
}
