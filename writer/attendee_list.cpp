// AttendeeListText and AppendAttendeeList: the recipients of an appointment
// or task as the text that follows its body.
#include "writer/attendee_list.h"

#include <cstdio>
#include <cstring>

#include "platform/file_guard.h"
#include "plugin/host_message.h"

namespace {

// The list reads as the text-mode part file it follows would: CR LF on Windows.
#ifdef _WIN32
const char kLineEnd[] = "\r\n";
#else
const char kLineEnd[] = "\n";
#endif

const char *StatusWord(int status) {
  switch (status) {
    case 1: return "Confirmed";
    case 2: return "Declined";
    case 3: return "Tentative";
    default: return "No Response";
  }
}

std::string Field(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }

}  // namespace

std::string AttendeeListText(const HostMessage *record) {
  int count = record->recipCount < 0 ? 0 : record->recipCount;
  if (count > kMaxRecipients) count = kMaxRecipients;
  if (count == 0) return "";
  std::string text = std::string(kLineEnd) + kLineEnd + "Attendees:" + kLineEnd + kLineEnd;
  for (int i = 0; i < count; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r == nullptr) continue;
    text += Field(r->name, sizeof r->name) + " <" + Field(r->address, sizeof r->address) + "> (";
    text += r->kind == kRecipOrganizer ? "Organizer" : StatusWord(r->status);
    text += ")";
    text += kLineEnd;
  }
  return text;
}

void AppendAttendeeList(const HostMessage *record, const char *path) {
  FilePtr file = OpenFile(path, "ab");
  if (!file) return;
  const std::string text = AttendeeListText(record);
  fwrite(text.data(), 1, text.size(), file.get());
}
