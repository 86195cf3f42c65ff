// CreateTask: the createItemRequest of one task, with its dates written
// twice and the attendee list after its text body.
#include "writer/task_writer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/session_state.h"
#include "reader/task_reader.h"
#include "writer/attendee_list.h"
#include "writer/mail_writer.h"
#include "writer/write_session.h"
#include "writer/xml_text.h"

namespace {

enum { kDateTextSize = 256 };

const char kTaskStart[] =
    "<m:%s>\n<m:item type=\"Task\">\n<container>%s</container>\n";
const char kTaskCompleted[] = "<status>\n<completed>1</completed>\n</status>\n";
const char kTaskSubject[] = "<subject>%s</subject>\n";
const char kTaskDistribution[] =
    "<distribution>\n<recipients>\n<recipient>\n<displayName>%s</displayName>\n</recipient>\n"
    "</recipients>\n</distribution>\n";
const char kTaskOptions[] = "<options>\n<priority>%s</priority>\n</options>\n";
const char kTaskChecklist[] =
    "<checklist>\n<dueDate>%s</dueDate>\n<startDate>%s</startDate>\n"
    "<assignedDate>%s</assignedDate>\n<begins>%s</begins>\n"
    "<percentComplete>%d</percentComplete>\n</checklist>\n";
const char kTaskDays[] =
    "<dueDate>%s</dueDate>\n<startDate>%s</startDate>\n<assignedDate>%s</assignedDate>\n";
const char kTaskEnd[] = "</m:item>\n</m:%s>\n";
const char kCreateItem[] = "createItemRequest";

const char *TaskPriorityWord(int taskPriority) {
  if (taskPriority == 2) return "High";
  if (taskPriority == 0) return "Low";
  return "Standard";
}

// The date alone: the text up to its first "T".
void CutAtTime(char *date) {
  char *t = strchr(date, 'T');
  if (t != nullptr) *t = '\0';
}

int WriteTaskBody(FILE *request, void *context) {
  const HostMessage *record = static_cast<const HostMessage *>(context);
  char start[kDateTextSize], due[kDateTextSize];
  FormatGWDate(record->startTime, start, sizeof start);
  FormatGWDate(record->endTime, due, sizeof due);
  fprintf(request, kTaskStart, kCreateItem, gSession.targetContainer);
  if (record->contactFlag == kTaskCompletedFlag || record->percentComplete == 100) {
    fputs(kTaskCompleted, request);
  }
  fprintf(request, kTaskSubject, EscapeXml(record->title, sizeof record->title).c_str());
  fprintf(request, kTaskDistribution,
          EscapeXml(gSession.userDisplayName, sizeof gSession.userDisplayName).c_str());
  fprintf(request, kTaskOptions, TaskPriorityWord(record->taskPriority));
  fprintf(request, kTaskChecklist, due, start, start, start, record->percentComplete);
  CutAtTime(start);
  CutAtTime(due);
  fprintf(request, kTaskDays, due, start, start);
  // The recipients travel only as the list after the text.
  const std::string attendees = AttendeeListText(record);
  if (!WriteTextBody(record, request, attendees.empty() ? nullptr : attendees.c_str())) {
    return kBodyPartUnreadable;
  }
  fprintf(request, kTaskEnd, kCreateItem);
  return 1;
}

}  // namespace

int CreateTask(HostMessage *record, void *, const char *) {
  // The host's report names the task as the user knows it.
  std::string name(record->title, strnlen(record->title, sizeof record->title));
  SubmitCreateItem(kWriterTask, WriteTaskBody, record, name.c_str(), nullptr);
  return 0;
}
