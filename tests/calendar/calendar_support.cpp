// The calendar tests' host and the one-line form of an appointment record.
#include "calendar_support.h"

#include <cstring>

#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "reader/calendar_reader.h"
#include "transport/response_scanner.h"

namespace calendar_test {

CalendarHost gCalendarHost;

namespace {

std::string TextBody(const HostMessage *record) {
  for (int i = 0; i < record->partCount; ++i) {
    if (record->parts[i]->kind != kPartTextBody) continue;
    char path[1100];
    FormatPartFileName(path, sizeof path, gSession.workDir, record->msgSeq, i);
    return testing_support::ReadFileBytes(path);
  }
  return "";
}

int MV_CALL SaveItem(HostMessage *record, const char *, void *, int) {
  gCalendarHost.stored.push_back(Summary(record));
  gCalendarHost.bodies.push_back(TextBody(record));
  if (gCalendarHost.onSave != nullptr) gCalendarHost.onSave(record);
  size_t call = gCalendarHost.stored.size() - 1;
  return call < gCalendarHost.saveCodes.size() ? gCalendarHost.saveCodes[call] : 0;
}

int MV_CALL ItemNotify(HostMessage *, const char *, int status, int *, int *, int *) {
  gCalendarHost.statuses.push_back(status);
  return 0;
}

}  // namespace

std::string DateText(FILETIME date) {
  if (FileTimeToU64(date) == 0) return "-";
  SYSTEMTIME st = {};
  FileTimeToSystemTime(&date, &st);
  char text[64];
  FormatText(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", st.wYear, st.wMonth, st.wDay,
             st.wHour, st.wMinute, st.wSecond);
  return text;
}

FILETIME Date(const char *text) {
  FILETIME date = U64ToFileTime(0);
  ParseGWDateTime(text, &date);
  return date;
}

std::string Summary(const HostMessage *r) {
  std::string s = std::string(r->title) + "|" + r->location + "|";
  s += "kind=" + std::to_string(r->recurKind) + " int=" + std::to_string(r->recurInterval) +
       " occ=" + std::to_string(r->recurOccurrence) + " mask=" + std::to_string(r->recurDayMask) +
       " month=" + std::to_string(r->recurMonth) + " mday=" + std::to_string(r->recurMonthDay) +
       " range=" + std::to_string(r->recurRangeKind) + " count=" + std::to_string(r->recurCount) +
       " until=" + DateText(r->recurUntil) + "|";
  s += DateText(r->startTime) + ".." + DateText(r->endTime) + "|";
  s += "allDay=" + std::to_string(r->allDay) + " ev=" + std::to_string(r->eventKind) + "|";
  s += "alarm=" + std::to_string(r->alarmSet) + "/" + std::to_string(r->alarmMinutes) + "|";
  s += "priv=" + std::to_string(r->isPrivate) + " busy=" + std::to_string(r->busyState) +
       " imp=" + std::to_string(r->importance) + "|";
  s += std::string("tz=") + r->timeZoneName + "|";
  s += std::string("org=") + r->organizerName + " <" + r->organizerAddress + "> match=" +
       std::to_string(r->organizerMatch) + "|recips=";
  for (int i = 0; i < r->recipCount; ++i) {
    const HostRecipient *p = r->recips[i];
    s += std::string(p->name) + " <" + p->address + "> " + std::to_string(p->kind) + "/" +
         std::to_string(p->status) + ";";
  }
  s += "|parts=";
  for (int i = 0; i < r->partCount; ++i) {
    s += std::string(r->parts[i]->name) + " " + std::to_string(r->parts[i]->kind) + ";";
  }
  return s;
}

void CalendarTest::SetUp() {
  PluginTest::SetUp();
  gCalendarHost = CalendarHost();
  record_ = new HostMessage();
  record_->msgSeq = 7;
}

void CalendarTest::TearDown() {
  com_Deallocate_All(record_, nullptr);
  delete record_;
  PluginTest::TearDown();
}

int CalendarTest::Convert(const std::string &name, int itemLimit) {
  InitRead(record_, nullptr, nullptr, nullptr, nullptr, itemLimit);
  return ConvertFolder(record_, &SaveItem, FolderIndex(name), "", nullptr, nullptr, nullptr, 0,
                       nullptr, nullptr, nullptr, &storedCount_, nullptr, &ItemNotify);
}

int CalendarTest::Parse(const std::string &inner) {
  std::string answer = plugin_test::Answer(
      "getItemResponse", "<gwm:item xsi:type=\"gwt:Appointment\">" + inner + "</gwm:item>");
  std::string path = Reshaped(answer, "cal.xml");
  com_Deallocate_All(record_, nullptr);
  com_ResetObject(record_);
  return ParseAppointment(record_, path.c_str());
}

}  // namespace calendar_test
