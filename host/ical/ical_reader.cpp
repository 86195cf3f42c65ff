// One VEVENT or VTODO of a parsed iCalendar file into a record.
#include "host/ical/ical_reader.h"

#include <glib.h>

#include <cstring>
#include <ctime>

#include "host/ical/ical_recurrence.h"
#include "host/ical/ical_writer.h"
#include "host/ical/ical_zones.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"

namespace ical {
namespace {

const int64_t kDay = 86400;
const size_t kCategoriesLimit = 500;  // what the category list may hold in all
const size_t kRecipientText = 251;    // name and address, as the readers keep them

void CopyUtf8(char *dst, size_t cap, const char *src) {
  CopyText(dst, cap, src != nullptr ? src : "");
  TrimPartialUtf8(dst);
}

// A time of the item as the record keeps it.
struct ItemTime {
  bool present = false;
  bool isDate = false;
  int64_t unix = 0;              // dates: 00:00 UTC of the day
  icaltimezone *zone = nullptr;  // the zone it was given in; null for UTC, floating and dates
};

const char *TzidOf(icalproperty *p) {
  icalparameter *tzid = p != nullptr ? icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER) : nullptr;
  return tzid != nullptr ? icalparameter_get_tzid(tzid) : nullptr;
}

// The instant of a time value. A TZID that the file does not define is
// tried as an IANA or Windows zone name; floating times are read in
// floatingZone, or in the host's local time when there is none.
ItemTime ReadTime(icaltimetype value, icalproperty *property, icaltimezone *floatingZone, const char *what,
                  std::vector<std::string> *warnings) {
  ItemTime out;
  if (icaltime_is_null_time(value)) return out;
  out.present = true;
  if (value.is_date) {
    out.isDate = true;
    out.unix = UnixFromDate(value.year, value.month, value.day);
    return out;
  }
  icaltimezone *zone = const_cast<icaltimezone *>(value.zone);
  const char *tzid = TzidOf(property);
  if (zone == nullptr && tzid != nullptr) {
    zone = BuiltinZone(IanaZoneFor(tzid));
    if (zone == nullptr) {
      warnings->push_back(std::string(what) + ": time zone \"" + tzid + "\" unknown, read as local time");
    }
  }
  if (zone == nullptr) zone = floatingZone;
  if (zone != nullptr) {
    out.unix = icaltime_as_timet_with_zone(value, zone);
    if (zone != icaltimezone_get_utc_timezone()) out.zone = zone;
    return out;
  }
  struct tm local = {};
  local.tm_year = value.year - 1900;
  local.tm_mon = value.month - 1;
  local.tm_mday = value.day;
  local.tm_hour = value.hour;
  local.tm_min = value.minute;
  local.tm_sec = value.second;
  local.tm_isdst = -1;
  out.unix = mktime(&local);
  return out;
}

std::string AddressOf(const char *value) {
  std::string address = value != nullptr ? value : "";
  if (address.size() >= 7 && EqualsNoCaseN(address.c_str(), "mailto:", 7)) address = address.substr(7);
  return address;
}

// The CN (display name) of an ORGANIZER or ATTENDEE, or null.
const char *CommonNameOf(icalproperty *p) {
  icalparameter *cn = icalproperty_get_first_parameter(p, ICAL_CN_PARAMETER);
  return cn != nullptr ? icalparameter_get_cn(cn) : nullptr;
}

// The value of the X- parameter `name` (any case), or null.
const char *XParameterOf(icalproperty *p, const char *name) {
  for (icalparameter *param = icalproperty_get_first_parameter(p, ICAL_X_PARAMETER); param != nullptr;
       param = icalproperty_get_next_parameter(p, ICAL_X_PARAMETER)) {
    const char *xname = icalparameter_get_xname(param);
    if (xname != nullptr && EqualsNoCase(xname, name)) return icalparameter_get_xvalue(param);
  }
  return nullptr;
}

// The value of the X- property `name` (any case), or null.
const char *XPropertyOf(icalcomponent *c, const char *name) {
  for (icalproperty *p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY)) {
    const char *xname = icalproperty_get_x_name(p);
    if (xname != nullptr && EqualsNoCase(xname, name)) return icalproperty_get_x(p);
  }
  return nullptr;
}

int CountProperties(icalcomponent *c, icalproperty_kind kind) {
  int n = 0;
  for (icalproperty *p = icalcomponent_get_first_property(c, kind); p != nullptr;
       p = icalcomponent_get_next_property(c, kind))
    ++n;
  return n;
}

// Appends part files to a record: the file first, then the entry.
class PartAdder {
 public:
  PartAdder(HostMessage *record, const std::string &workDir) : record_(record), workDir_(workDir) {}

  // Returns 0 (a full part list drops the part with a warning), or -1 with
  // *reason set when the file cannot be written.
  int Add(const std::string &bytes, const char *name, int kind, std::vector<std::string> *warnings,
          std::string *reason) {
    if (record_->partCount >= kMaxParts) {
      warnings->push_back(std::string("part \"") + name + "\" left out: too many parts");
      return 0;
    }
    char path[4096];
    FormatPartFileName(path, sizeof path, workDir_.c_str(), record_->msgSeq, record_->partCount);
    FilePtr f = OpenFile(path, "wb");
    if (!f || (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) ||
        fflush(f.get()) != 0) {
      *reason = std::string("cannot write part file ") + path;
      f.reset();
      unlink(path);
      return -1;
    }
    f.reset();
    if (!com_AllocPart(record_)) {
      unlink(path);
      warnings->push_back(std::string("part \"") + name + "\" left out: too many parts");
      return 0;
    }
    HostPart *part = record_->parts[record_->partCount];
    CopyUtf8(part->name, sizeof part->name, name);
    part->kind = kind;
    part->size = bytes.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(bytes.size());
    record_->partCount++;
    return 0;
  }

 private:
  HostMessage *record_;
  std::string workDir_;
};

// DESCRIPTION as the text body; inline ATTACH values as file attachments.
int ReadParts(icalcomponent *item, HostMessage *record, const std::string &workDir,
              std::vector<std::string> *warnings, std::string *reason) {
  PartAdder parts(record, workDir);
  const char *description = icalcomponent_get_description(item);
  if (description != nullptr && *description != '\0' &&
      parts.Add(description, "Message.txt", kPartTextBody, warnings, reason) != 0)
    return -1;
  int number = 0;
  for (icalproperty *p = icalcomponent_get_first_property(item, ICAL_ATTACH_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(item, ICAL_ATTACH_PROPERTY)) {
    ++number;
    icalattach *attach = icalproperty_get_attach(p);
    if (attach == nullptr) continue;
    if (icalattach_get_is_url(attach)) {
      const char *url = icalattach_get_url(attach);
      warnings->push_back(std::string("linked attachment ") + (url != nullptr ? url : "") + " not imported");
      continue;
    }
    const char *data = reinterpret_cast<const char *>(icalattach_get_data(attach));
    gsize length = 0;
    guchar *decoded = g_base64_decode(data != nullptr ? data : "", &length);
    std::string bytes(reinterpret_cast<const char *>(decoded), length);
    g_free(decoded);
    const char *name = XParameterOf(p, "X-FILENAME");
    if (name == nullptr) name = XParameterOf(p, "FILENAME");
    if (name == nullptr) name = XParameterOf(p, "X-EVOLUTION-CALDAV-ATTACHMENT-NAME");
    const std::string fallback = "attachment-" + std::to_string(number);
    if (parts.Add(bytes, name != nullptr && *name != '\0' ? name : fallback.c_str(), kPartFile, warnings,
                  reason) != 0)
      return -1;
  }
  return 0;
}

void AddRecipient(HostMessage *record, const std::string &name, const std::string &address, int kind,
                  int status, std::vector<std::string> *warnings) {
  if (record->recipCount >= kMaxRecipients || !com_AllocRecip(record)) {
    warnings->push_back("attendee " + address + " left out: too many attendees");
    return;
  }
  HostRecipient *r = record->recips[record->recipCount];
  CopyUtf8(r->name, kRecipientText, name.c_str());
  CopyUtf8(r->address, kRecipientText, address.c_str());
  r->kind = kind;
  r->status = status;
  record->recipCount++;
}

// ORGANIZER into the organizer fields; each ATTENDEE a recipient with its
// reply, the organizer's own entry of kind 31. An organizer that is not
// among the attendees of a meeting is added as one, so that the meeting
// keeps its organizer when written.
void ReadPeople(icalcomponent *item, HostMessage *record, std::vector<std::string> *warnings) {
  std::string organizer, organizerName;
  icalproperty *o = icalcomponent_get_first_property(item, ICAL_ORGANIZER_PROPERTY);
  if (o != nullptr) {
    organizer = AddressOf(icalproperty_get_organizer(o));
    const char *cn = CommonNameOf(o);
    organizerName = cn != nullptr ? cn : "";
    CopyUtf8(record->organizerAddress, sizeof record->organizerAddress, organizer.c_str());
    CopyUtf8(record->organizerName, sizeof record->organizerName, organizerName.c_str());
  }
  bool organizerListed = false;
  int attendees = 0;
  for (icalproperty *p = icalcomponent_get_first_property(item, ICAL_ATTENDEE_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(item, ICAL_ATTENDEE_PROPERTY)) {
    ++attendees;
    const std::string address = AddressOf(icalproperty_get_attendee(p));
    const char *cn = CommonNameOf(p);
    int status = 0;
    icalparameter *partstat = icalproperty_get_first_parameter(p, ICAL_PARTSTAT_PARAMETER);
    switch (partstat != nullptr ? icalparameter_get_partstat(partstat) : ICAL_PARTSTAT_NONE) {
      case ICAL_PARTSTAT_ACCEPTED: status = 1; break;
      case ICAL_PARTSTAT_DECLINED: status = 2; break;
      case ICAL_PARTSTAT_TENTATIVE: status = 3; break;
      default: break;
    }
    icalparameter *role = icalproperty_get_first_parameter(p, ICAL_ROLE_PARAMETER);
    const bool optional = role != nullptr && (icalparameter_get_role(role) == ICAL_ROLE_OPTPARTICIPANT ||
                                              icalparameter_get_role(role) == ICAL_ROLE_NONPARTICIPANT);
    const bool isOrganizer = !organizer.empty() && EqualsNoCase(address.c_str(), organizer.c_str());
    organizerListed = organizerListed || isOrganizer;
    AddRecipient(record, cn != nullptr ? cn : "", address,
                 isOrganizer ? kRecipOrganizer : optional ? kRecipCc : kRecipTo, status, warnings);
  }
  if (attendees > 0 && !organizer.empty() && !organizerListed)
    AddRecipient(record, organizerName, organizer, kRecipOrganizer, 1, warnings);
}

void ReadCategories(icalcomponent *item, HostMessage *record, std::vector<std::string> *warnings) {
  std::string all;
  bool cut = false;
  for (icalproperty *p = icalcomponent_get_first_property(item, ICAL_CATEGORIES_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(item, ICAL_CATEGORIES_PROPERTY)) {
    const char *value = icalproperty_get_categories(p);
    std::string names = value != nullptr ? value : "";
    size_t start = 0;
    while (start <= names.size()) {
      size_t end = names.find(',', start);
      if (end == std::string::npos) end = names.size();
      std::string name = names.substr(start, end - start);
      start = end + 1;
      if (name.empty()) continue;
      if (all.size() + name.size() + 1 > kCategoriesLimit) {
        cut = true;
        continue;
      }
      all += name + ";";
    }
  }
  if (cut) warnings->push_back("categories cut to " + std::to_string(kCategoriesLimit) + " characters");
  CopyText(record->categories, sizeof record->categories, all.c_str());
}

// iCalendar's priorities 1-4 high, 5 (or none) standard, 6-9 low.
int PriorityOf(icalcomponent *item) {
  icalproperty *p = icalcomponent_get_first_property(item, ICAL_PRIORITY_PROPERTY);
  const int value = p != nullptr ? icalproperty_get_priority(p) : 0;
  return value >= 1 && value <= 4 ? 2 : value >= 6 && value <= 9 ? 0 : 1;
}

// Show-as from Outlook's busy status, else from TRANSP (opaque: busy).
int BusyStateOf(icalcomponent *item) {
  static const struct {
    const char *status;
    int state;
  } kStates[] = {{"FREE", 0}, {"TENTATIVE", 1}, {"BUSY", 2}, {"OOF", 3}, {"WORKINGELSEWHERE", 2}};
  const char *status = XPropertyOf(item, "X-MICROSOFT-CDO-BUSYSTATUS");
  for (const auto &s : kStates)
    if (status != nullptr && EqualsNoCase(status, s.status)) return s.state;
  icalproperty *transp = icalcomponent_get_first_property(item, ICAL_TRANSP_PROPERTY);
  return transp != nullptr && icalproperty_get_transp(transp) == ICAL_TRANSP_TRANSPARENT ? 0 : 2;
}

// The first VALARM as the minutes it rings before the start.
void ReadAlarm(icalcomponent *item, int64_t start, int64_t end, HostMessage *record,
               std::vector<std::string> *warnings) {
  icalcomponent *alarm = icalcomponent_get_first_component(item, ICAL_VALARM_COMPONENT);
  if (alarm == nullptr) return;
  icalproperty *p = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
  if (p == nullptr) return;
  icaltriggertype trigger = icalproperty_get_trigger(p);
  int64_t rings;
  if (!icaltime_is_null_time(trigger.time)) {
    rings = icaltime_as_timet_with_zone(trigger.time, icaltimezone_get_utc_timezone());
  } else {
    icalparameter *related = icalproperty_get_first_parameter(p, ICAL_RELATED_PARAMETER);
    const bool fromEnd = related != nullptr && icalparameter_get_related(related) == ICAL_RELATED_END;
    rings = (fromEnd ? end : start) + icaldurationtype_as_int(trigger.duration);
  }
  int64_t minutes = (start - rings) / 60;
  if (minutes < 0) {
    warnings->push_back("alarm after the start: set to ring at the start");
    minutes = 0;
  }
  record->alarmSet = 1;
  record->alarmMinutes = minutes > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(minutes);
  if (icalcomponent_get_next_component(item, ICAL_VALARM_COMPONENT) != nullptr)
    warnings->push_back("several alarms: only the first kept");
}

// The record's zone name for a start zone: the Windows id GroupWise uses
// when there is one, else the zone's own name.
void SetZoneName(icaltimezone *zone, HostMessage *record) {
  if (zone == nullptr) return;
  const std::string name = ZoneName(zone);
  std::string iana = IanaZoneFor(name);
  const std::string windows = WindowsZoneFor(iana.empty() ? name : iana);
  CopyText(record->timeZoneName, sizeof record->timeZoneName, windows.empty() ? name.c_str() : windows.c_str());
}

void ReadRecurrence(icalcomponent *item, const ItemTime &start, HostMessage *record,
                    std::vector<std::string> *warnings) {
  const bool task = icalcomponent_isa(item) == ICAL_VTODO_COMPONENT;
  icalproperty *rrule = icalcomponent_get_first_property(item, ICAL_RRULE_PROPERTY);
  if (rrule != nullptr && task) {
    warnings->push_back("recurring task: only its first occurrence is imported");
  } else if (rrule != nullptr) {
    LocalDate date = DateFromUnix(start.unix);
    if (start.zone != nullptr) {
      icaltimetype local = icaltime_from_timet_with_zone(static_cast<time_t>(start.unix), 0, start.zone);
      date = DateFromUnix(UnixFromDate(local.year, local.month, local.day));
    }
    RecurrenceFromRule(icalproperty_get_rrule(rrule), date, start.zone, record, warnings);
    if (icalcomponent_get_next_property(item, ICAL_RRULE_PROPERTY) != nullptr)
      warnings->push_back("several RRULEs: only the first kept");
  }
  const int excluded = CountProperties(item, ICAL_EXDATE_PROPERTY);
  if (excluded > 0)
    warnings->push_back("EXDATE: " + std::to_string(excluded) + " excluded occurrence(s) not kept, the series has them");
  const int added = CountProperties(item, ICAL_RDATE_PROPERTY);
  if (added > 0) warnings->push_back("RDATE: " + std::to_string(added) + " added date(s) not kept");
  if (icalcomponent_get_first_property(item, ICAL_RECURRENCEID_PROPERTY) != nullptr)
    warnings->push_back("changed occurrence of a series: imported as a single appointment");
}

int ReadEventTimes(icalcomponent *item, icaltimezone *floatingZone, HostMessage *record,
                   std::vector<std::string> *warnings, std::string *reason) {
  const ItemTime start = ReadTime(icalcomponent_get_dtstart(item),
                                  icalcomponent_get_first_property(item, ICAL_DTSTART_PROPERTY), floatingZone,
                                  "DTSTART", warnings);
  if (!start.present) {
    *reason = "event without a start (DTSTART)";
    return -1;
  }
  ItemTime end = ReadTime(icalcomponent_get_dtend(item), icalcomponent_get_first_property(item, ICAL_DTEND_PROPERTY),
                          floatingZone, "DTEND", warnings);
  if (!end.present || end.unix < start.unix) end.unix = start.isDate ? start.unix + kDay : start.unix;
  record->startTime = FileTimeFromUnix(start.unix);
  record->endTime = FileTimeFromUnix(end.unix);
  if (start.isDate) {
    record->allDay = 1;
    record->eventKind = 2;
  }
  SetZoneName(start.zone, record);
  ReadRecurrence(item, start, record, warnings);
  ReadAlarm(item, start.unix, end.unix, record, warnings);
  return 0;
}

void ReadTaskFields(icalcomponent *item, icaltimezone *floatingZone, HostMessage *record,
                    std::vector<std::string> *warnings) {
  const ItemTime start = ReadTime(icalcomponent_get_dtstart(item),
                                  icalcomponent_get_first_property(item, ICAL_DTSTART_PROPERTY), floatingZone,
                                  "DTSTART", warnings);
  const ItemTime due = ReadTime(icalcomponent_get_due(item), icalcomponent_get_first_property(item, ICAL_DUE_PROPERTY),
                                floatingZone, "DUE", warnings);
  // GroupWise wants a start for every task: one without takes its due date.
  if (start.present || due.present) record->startTime = FileTimeFromUnix(start.present ? start.unix : due.unix);
  if (due.present) record->endTime = FileTimeFromUnix(due.unix);
  icalproperty *percent = icalcomponent_get_first_property(item, ICAL_PERCENTCOMPLETE_PROPERTY);
  const bool completed = icalcomponent_get_status(item) == ICAL_STATUS_COMPLETED ||
                         icalcomponent_get_first_property(item, ICAL_COMPLETED_PROPERTY) != nullptr;
  int value = percent != nullptr ? icalproperty_get_percentcomplete(percent) : completed ? 100 : 0;
  record->percentComplete = value < 0 ? 0 : value > 100 ? 100 : value;
  if (completed) record->contactFlag = 2;
  ReadRecurrence(item, start, record, warnings);
  if (icalcomponent_get_first_component(item, ICAL_VALARM_COMPONENT) != nullptr)
    warnings->push_back("task alarm not kept");
}

}  // namespace

std::string ComponentKey(icalcomponent *item) {
  const char *uid = icalcomponent_get_uid(item);
  if (uid == nullptr || *uid == '\0') {
    char *text = icalcomponent_as_ical_string_r(item);
    std::string key = "ical-sha256:" + Sha256Hex(text != nullptr ? text : "");
    icalmemory_free_buffer(text);
    return key;
  }
  std::string key = std::string("ical:") + uid;
  icalproperty *rid = icalcomponent_get_first_property(item, ICAL_RECURRENCEID_PROPERTY);
  if (rid != nullptr) {
    icaltimetype t = icalproperty_get_recurrenceid(rid);
    const char *tzid = TzidOf(rid);
    icalcomponent *calendar = icalcomponent_get_parent(item);
    icaltimezone *zone = tzid == nullptr ? nullptr
                         : calendar != nullptr && icalcomponent_get_timezone(calendar, tzid) != nullptr
                             ? icalcomponent_get_timezone(calendar, tzid)
                             : BuiltinZone(IanaZoneFor(tzid));
    if (!t.is_date && zone != nullptr) {
      t.zone = zone;
      t = icaltime_convert_to_zone(t, icaltimezone_get_utc_timezone());
    }
    char *text = icaltime_as_ical_string_r(t);
    key += std::string("|") + (text != nullptr ? text : "");
    icalmemory_free_buffer(text);
  }
  return key;
}

icaltimezone *FloatingZone(icalcomponent *calendar) {
  const char *name = calendar != nullptr ? XPropertyOf(calendar, "X-WR-TIMEZONE") : nullptr;
  return name != nullptr ? BuiltinZone(IanaZoneFor(name)) : nullptr;
}

int ConvertComponent(icalcomponent *item, icaltimezone *floatingZone, const std::string &workDir,
                     HostMessage *record, std::vector<std::string> *warnings, std::string *reason) {
  const icalcomponent_kind kind = icalcomponent_isa(item);
  if (kind != ICAL_VEVENT_COMPONENT && kind != ICAL_VTODO_COMPONENT) {
    *reason = "neither an event nor a task";
    return -1;
  }
  const bool event = kind == ICAL_VEVENT_COMPONENT;
  record->itemKind = event ? kItemAppointment : kItemTask;
  CopyUtf8(record->title, sizeof record->title, icalcomponent_get_summary(item));
  CopyUtf8(record->location, sizeof record->location, icalcomponent_get_location(item));
  record->importance = PriorityOf(item);
  record->taskPriority = record->importance;
  ReadCategories(item, record, warnings);
  if (event) {
    if (ReadEventTimes(item, floatingZone, record, warnings, reason) != 0) return -1;
    icalproperty *klass = icalcomponent_get_first_property(item, ICAL_CLASS_PROPERTY);
    const icalproperty_class c = klass != nullptr ? icalproperty_get_class(klass) : ICAL_CLASS_PUBLIC;
    record->isPrivate = c == ICAL_CLASS_PRIVATE || c == ICAL_CLASS_CONFIDENTIAL ? 1 : 0;
    record->busyState = static_cast<int16_t>(BusyStateOf(item));
    ReadPeople(item, record, warnings);
  } else {
    ReadTaskFields(item, floatingZone, record, warnings);
    ReadPeople(item, record, warnings);
    if (icalcomponent_get_first_property(item, ICAL_ATTACH_PROPERTY) != nullptr)
      warnings->push_back("task attachments are not written to GroupWise");
  }
  return ReadParts(item, record, workDir, warnings, reason);
}

}  // namespace ical
