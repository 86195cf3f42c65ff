// Helpers of the iCalendar tests.
#include "ical/ical_support.h"

#include <libical/ical.h>

#include <gtest/gtest.h>

#include "host/ical/ical_recurrence.h"
#include "host/ical/ical_zones.h"
#include "support/host_fixture.h"

namespace ical_test {

Record NewRecord(int kind) {
  Record r(new HostMessage());
  r->itemKind = kind;
  r->msgSeq = 7;
  return r;
}

FILETIME Utc(const char *text) {
  icaltimetype t = icaltime_from_string(text);
  return ical::FileTimeFromUnix(ical::UnixFromDate(t.year, t.month, t.day) + t.hour * 3600 + t.minute * 60 + t.second);
}

std::string UtcText(const FILETIME &ft) {
  if (FileTimeToU64(ft) == 0) return "";
  const int64_t unix = ical::UnixFromFileTime(ft);
  const ical::LocalDate d = ical::DateFromUnix(unix);
  const int64_t rest = unix - ical::UnixFromDate(d.year, d.month, d.day);
  char text[32];
  FormatText(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", d.year, d.month, d.day, static_cast<int>(rest / 3600),
             static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

void AddRecipient(HostMessage *r, int kind, int status, const char *name, const char *address) {
  ASSERT_NE(com_AllocRecip(r), 0);
  HostRecipient *rec = r->recips[r->recipCount++];
  rec->kind = kind;
  rec->status = status;
  CopyText(rec->name, sizeof rec->name, name);
  CopyText(rec->address, sizeof rec->address, address);
}

void AddPart(HostMessage *r, const std::string &workDir, int kind, const char *name, const std::string &bytes) {
  ASSERT_NE(com_AllocPart(r), 0);
  HostPart *part = r->parts[r->partCount];
  part->kind = kind;
  part->size = static_cast<int32_t>(bytes.size());
  CopyText(part->name, sizeof part->name, name);
  char path[512];
  FormatPartFileName(path, sizeof path, workDir.c_str(), r->msgSeq, r->partCount);
  ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
  r->partCount++;
}

std::string PartBytes(const HostMessage &r, const std::string &workDir, int index) {
  char path[512];
  FormatPartFileName(path, sizeof path, workDir.c_str(), r.msgSeq, index);
  return testing_support::ReadFileBytes(path);
}

std::vector<std::string> Describe(const HostMessage &r, const std::string &workDir) {
  const auto n = [](long v) { return std::to_string(v); };
  std::string recips, parts;
  for (int i = 0; i < r.recipCount; ++i) {
    const HostRecipient *p = r.recips[i];
    recips += (i ? "|" : "") + n(p->kind) + ":" + n(p->status) + ":" + p->name + ":" + p->address;
  }
  for (int i = 0; i < r.partCount; ++i) {
    const HostPart *p = r.parts[i];
    parts += (i ? "|" : "") + n(p->kind) + ":" + p->name + ":" + PartBytes(r, workDir, i);
  }
  return {
      "kind=" + n(r.itemKind),
      std::string("title=") + r.title,
      std::string("location=") + r.location,
      "start=" + UtcText(r.startTime),
      "end=" + UtcText(r.endTime),
      "allDay=" + n(r.allDay) + "/" + n(r.eventKind),
      "recur=" + n(r.recurKind) + "/" + n(r.recurInterval) + "/" + n(r.recurDayMask) + "/" + n(r.recurOccurrence) +
          "/" + n(r.recurMonth) + "/" + n(r.recurMonthDay) + "/" + n(r.recurRangeKind) + "/" + n(r.recurCount) +
          "/" + UtcText(r.recurUntil),
      std::string("organizer=") + r.organizerName + " <" + r.organizerAddress + ">",
      "recips=" + recips,
      "alarm=" + (r.alarmSet ? n(r.alarmMinutes) : std::string("none")),
      "busy=" + n(r.busyState),
      "private=" + n(r.isPrivate),
      "priority=" + n(r.importance) + "/" + n(r.taskPriority),
      std::string("categories=") + r.categories,
      std::string("zone=") + r.timeZoneName,
      "task=" + n(r.percentComplete) + "/" + n(r.contactFlag),
      "parts=" + parts,
  };
}

namespace {

void AddLines(icalcomponent *c, const std::string &prefix, std::vector<std::string> *out) {
  for (icalproperty *p = icalcomponent_get_first_property(c, ICAL_ANY_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(c, ICAL_ANY_PROPERTY)) {
    char *text = icalproperty_as_ical_string_r(p);
    std::string line = text != nullptr ? text : "";
    icalmemory_free_buffer(text);
    std::string unfolded;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line.compare(i, 3, "\r\n ") == 0) {
        i += 2;
        continue;
      }
      if (line[i] != '\r' && line[i] != '\n') unfolded += line[i];
    }
    out->push_back(prefix + unfolded);
  }
}

}  // namespace

std::vector<std::string> ItemLines(const std::string &text, std::vector<std::string> *zones) {
  std::vector<std::string> out;
  icalcomponent *calendar = icalparser_parse_string(text.c_str());
  if (calendar == nullptr) return out;
  for (icalcomponent *c = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT); c != nullptr;
       c = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT)) {
    const icalcomponent_kind kind = icalcomponent_isa(c);
    if (kind == ICAL_VTIMEZONE_COMPONENT && zones != nullptr) {
      icalproperty *tzid = icalcomponent_get_first_property(c, ICAL_TZID_PROPERTY);
      if (tzid != nullptr) zones->push_back(icalproperty_get_tzid(tzid));
    }
    if (kind != ICAL_VEVENT_COMPONENT && kind != ICAL_VTODO_COMPONENT) continue;
    AddLines(c, "", &out);
    for (icalcomponent *a = icalcomponent_get_first_component(c, ICAL_VALARM_COMPONENT); a != nullptr;
         a = icalcomponent_get_next_component(c, ICAL_VALARM_COMPONENT))
      AddLines(a, "VALARM/", &out);
  }
  icalcomponent_free(calendar);
  return out;
}

}  // namespace ical_test
