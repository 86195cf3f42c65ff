// CreateAppointment: the createItemRequest of an appointment, with the
// distribution (organizer and attendees with their status), the recurrence
// rule, the attachments and the attendee list after the body texts.
#include "writer/appointment_writer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "writer/mail_writer.h"
#include "writer/recurrence_rule.h"
#include "writer/write_session.h"
#include "writer/xml_text.h"

namespace {

enum {
  kTextChars = 500,  // subject and place are cut to this many bytes before escaping
  kDateTextSize = 256,
};

// Body texts of the host end their lines as the platform's text files do.
#if defined(_WIN32)
const char kLineEnd[] = "\r\n";
#else
const char kLineEnd[] = "\n";
#endif

const char kItemStart[] =
    "<m:%s>\n<item type=\"Appointment\">\n<container>%s</container>\n";
const char kItemFields[] =
    "<subject>%s</subject>\n<place>%s</place>\n<startDate>%s</startDate>\n<endDate>%s</endDate>\n";
const char kCreateItem[] = "createItemRequest";

struct StatusWord {
  int32_t status;
  const char *word;
};
const StatusWord kStatusWords[] = {{1, "Confirmed"}, {2, "Declined"}, {3, "Tentative"}};

const char *StatusWordOf(int32_t status) {
  for (const StatusWord &row : kStatusWords) {
    if (row.status == status) return row.word;
  }
  return "No Response";
}

const char *PriorityWordOf(int32_t taskPriority) {
  if (taskPriority == 2) return "High";
  if (taskPriority == 0) return "Low";
  return "Standard";
}

int RecipientCount(const HostMessage *record) {
  if (record->recipCount < 0) return 0;
  return record->recipCount > kMaxRecipients ? kMaxRecipients : record->recipCount;
}

// A record text cut to 500 bytes (never inside a UTF-8 sequence), escaped.
std::string CutAndEscape(const char *text, size_t fieldSize) {
  char cut[kTextChars + 1];
  const size_t length = strnlen(text, fieldSize);
  CopyTextN(cut, sizeof cut, text, length < size_t{kTextChars} ? length : size_t{kTextChars});
  TrimPartialUtf8(cut);
  return EscapeXml(cut, sizeof cut);
}

struct AppointmentRequest {
  HostMessage *record;
  const char *partDirectory;
  std::string subject;  // escaped
  std::string place;    // escaped
  std::string attendees;  // "" without recipients
  char statusTime[kDateTextSize];
};

void WriteRecipient(const HostRecipient *r, const char *statusTime, FILE *request) {
  fprintf(request, "<recipient>\n<email>\n%s\n</email>\n",
          EscapeXml(r->address, sizeof r->address).c_str());
  fputs("<distType>\nTO\n</distType>\n<recipType>\nUser\n</recipType>\n<recipientStatus>\n",
        request);
  fprintf(request, "<delivered>\n%s\n</delivered>\n<opened>\n%s\n</opened>\n", statusTime,
          statusTime);
  if (r->status == 1) fprintf(request, "<accepted>\n%s\n</accepted>\n", statusTime);
  if (r->status == 2) fprintf(request, "<declined>\n%s\n</declined>\n", statusTime);
  fputs("</recipientStatus>\n</recipient>\n", request);
}

void WriteDistribution(const AppointmentRequest &a, FILE *request) {
  const HostMessage *record = a.record;
  const int count = RecipientCount(record);
  fputs("<distribution>\n", request);
  for (int i = 0; i < count; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r == nullptr || r->kind != kRecipOrganizer) continue;
    fprintf(request, "<from>\n<email>\n%s\n</email>\n</from>\n",
            EscapeXml(r->address, sizeof r->address).c_str());
    break;
  }
  fputs("<recipients>\n", request);
  for (int i = 0; i < count; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r == nullptr) continue;
    if (strchr(r->address, '@') == nullptr) {
      com_Log("debug: recipient %s <%s> removed due to missing or invalid email address", r->name,
              r->address);
      continue;
    }
    WriteRecipient(r, a.statusTime, request);
  }
  fputs("</recipients>\n</distribution>\n", request);
}

int WriteAppointmentBody(FILE *request, void *context) {
  const AppointmentRequest &a = *static_cast<const AppointmentRequest *>(context);
  HostMessage *record = a.record;
  char start[kDateTextSize], end[kDateTextSize];
  FormatGWDate(record->startTime, start, sizeof start);
  FormatGWDate(record->endTime, end, sizeof end);
  fprintf(request, kItemStart, kCreateItem, gSession.targetContainer);
  fprintf(request, kItemFields, a.subject.c_str(), a.place.c_str(), start, end);
  fprintf(request, "<options>\n<priority>%s</priority>\n</options>\n",
          PriorityWordOf(record->taskPriority));
  const char *attendees = a.attendees.empty() ? nullptr : a.attendees.c_str();
  if (!WriteTextBody(record, request, attendees)) return kBodyPartUnreadable;
  if (RecipientCount(record) != 0) WriteDistribution(a, request);
  if (record->recurKind != 0) BuildRecurrenceRule(record, request);
  if (!WriteAttachments(record, request, a.partDirectory, attendees)) return kBodyPartUnreadable;
  fprintf(request, "</item>\n</m:%s>\n", kCreateItem);
  return 1;
}

}  // namespace

std::string AppendAttendeeList(const HostMessage *record) {
  std::string list = std::string(kLineEnd) + kLineEnd + "Attendees:" + kLineEnd + kLineEnd;
  const int count = RecipientCount(record);
  for (int i = 0; i < count; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r == nullptr) continue;
    std::string name(r->name, strnlen(r->name, sizeof r->name));
    std::string address(r->address, strnlen(r->address, sizeof r->address));
    const char *word = r->kind == kRecipOrganizer ? "Organizer" : StatusWordOf(r->status);
    list += name + " <" + address + "> (" + word + ")" + kLineEnd;
  }
  return list;
}

int CreateAppointment(HostMessage *record, void *, const char *partDirectory) {
  static AppointmentRequest a;
  a.record = record;
  a.partDirectory = partDirectory != nullptr ? partDirectory : "";
  a.subject = CutAndEscape(record->title, sizeof record->title);
  a.place = CutAndEscape(record->location, sizeof record->location);
  a.attendees = RecipientCount(record) != 0 ? AppendAttendeeList(record) : std::string();
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  FormatGWDate(now, a.statusTime, sizeof a.statusTime);
  SubmitCreateItem(kWriterAppointment, WriteAppointmentBody, &a, a.subject.c_str(), nullptr);
  return 0;
}
