// One record as a VCALENDAR with one VEVENT or VTODO, built with libical.
#include "host/ical/ical_writer.h"

#include <glib.h>
#include <libical/ical.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "host/ical/ical_recurrence.h"
#include "host/ical/ical_zones.h"
#include "host/maildir/maildir_writer.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"

namespace ical {
namespace {

const char kProductId[] = "-//MVGWS//mvmigrate//EN";
const int64_t kDay = 86400;

std::string FieldText(const char *field, size_t cap) { return std::string(field, strnlen(field, cap)); }
#define FIELD(record, name) FieldText((record).name, sizeof (record).name)

// Text from the record as UTF-8: valid UTF-8 stays (a sequence cut at the
// end by the field's bound is dropped); anything else is read as
// Windows-1252, the code page GroupWise clients write.
std::string ToUtf8(const std::string &text) {
  const gchar *end = nullptr;
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &end)) return text;
  const size_t valid = static_cast<size_t>(end - text.data());
  bool cutAtEnd = text.size() - valid < 4 && (static_cast<unsigned char>(text[valid]) & 0xC0) == 0xC0;
  for (size_t i = valid + 1; cutAtEnd && i < text.size(); ++i)
    cutAtEnd = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  if (cutAtEnd && valid > 0) return text.substr(0, valid);
  gchar *converted = g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8", "WINDOWS-1252",
                               nullptr, nullptr, nullptr);
  if (converted == nullptr) converted = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out = converted;
  g_free(converted);
  return out;
}

struct ComponentDeleter {
  void operator()(icalcomponent *c) const { icalcomponent_free(c); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

// How an item's times are written: in a zone (local time with TZID), in
// UTC, or as dates.
struct TimeStyle {
  icaltimezone *zone = nullptr;  // null: UTC
  std::string tzid;
  bool allDay = false;
};

icaltimetype DateTimeValue(int64_t unix, const TimeStyle &style) {
  return icaltime_from_timet_with_zone(static_cast<time_t>(unix), 0,
                                       style.zone != nullptr ? style.zone : icaltimezone_get_utc_timezone());
}

// The day an all-day time stands for: a time at 00:00 UTC is that day (the
// reader gives all-day days so); any other time is taken in the item's zone.
LocalDate DayOf(int64_t unix, const TimeStyle &style) {
  if (unix % kDay == 0 || style.zone == nullptr) return DateFromUnix(unix);
  icaltimetype local = DateTimeValue(unix, style);
  return DateFromUnix(UnixFromDate(local.year, local.month, local.day));
}

icaltimetype DateValue(const LocalDate &d) {
  icaltimetype t = icaltime_null_date();
  t.year = d.year;
  t.month = d.month;
  t.day = d.day;
  return t;
}

std::string DateText(const LocalDate &d) {
  char text[16];
  FormatText(text, sizeof text, "%04d%02d%02d", d.year, d.month, d.day);
  return text;
}

// A DTSTART/DTEND/DUE property of the style's kind.
icalproperty *TimeProperty(icalproperty *(*make)(icaltimetype), int64_t unix, const TimeStyle &style) {
  if (style.allDay) {
    icalproperty *p = make(DateValue(DayOf(unix, style)));
    icalproperty_add_parameter(p, icalparameter_new_value(ICAL_VALUE_DATE));
    return p;
  }
  icaltimetype value = DateTimeValue(unix, style);
  // The local digits go out as they are; the TZID parameter names their zone.
  if (style.zone != nullptr) value.zone = nullptr;
  icalproperty *p = make(value);
  if (style.zone != nullptr) icalproperty_add_parameter(p, icalparameter_new_tzid(style.tzid.c_str()));
  return p;
}

// The start's date in the item's own zone (rule parts default to it).
LocalDate StartDate(int64_t unix, const TimeStyle &style) {
  if (style.allDay) return DayOf(unix, style);
  icaltimetype local = DateTimeValue(unix, style);
  return DateFromUnix(UnixFromDate(local.year, local.month, local.day));
}

// UNTIL for a series ending on recurUntil, the last day it may fall on: a
// date for an all-day series, else the end of that day in the item's zone,
// in UTC as UNTIL must be.
std::string UntilValue(const HostMessage &record, const TimeStyle &style) {
  if (FileTimeToU64(record.recurUntil) == 0) return "";
  const LocalDate last = DateFromUnix(UnixFromFileTime(record.recurUntil));
  if (style.allDay) return DateText(last);
  icaltimetype end = icaltime_null_time();
  end.year = last.year;
  end.month = last.month;
  end.day = last.day;
  end.hour = 23;
  end.minute = 59;
  end.second = 59;
  const time_t unix = icaltime_as_timet_with_zone(
      end, style.zone != nullptr ? style.zone : icaltimezone_get_utc_timezone());
  char text[32];
  const LocalDate d = DateFromUnix(unix);
  const int64_t rest = unix - UnixFromDate(d.year, d.month, d.day);
  FormatText(text, sizeof text, "%sT%02d%02d%02dZ", DateText(d).c_str(), static_cast<int>(rest / 3600),
             static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

// Reads a whole part file. Returns 0, or -1 with *error set.
int ReadPart(const std::string &workDir, const HostMessage &record, int index, std::string *bytes,
             std::string *error) {
  char path[4096];
  FormatPartFileName(path, sizeof path, workDir.c_str(), record.msgSeq, index);
  if (ReadKeptPart(path, bytes)) return 0;
  FilePtr f = OpenFile(path, "rb");
  if (!f) {
    *error = std::string("cannot read part file ") + path + ": " + strerror(errno);
    return -1;
  }
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f.get())) > 0) bytes->append(buffer, n);
  if (ferror(f.get())) {
    *error = std::string("cannot read part file ") + path;
    return -1;
  }
  return 0;
}

// iCalendar values may not hold CR: line ends become LF.
std::string WithoutCarriageReturns(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

// Parameter values may not hold a double quote.
std::string ParameterText(const std::string &text) {
  std::string out = ToUtf8(text);
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

// DESCRIPTION from the first text body part; ATTACH for every file attachment.
int AddPartProperties(icalcomponent *item, const HostMessage &record, const std::string &workDir,
                      std::string *error) {
  bool haveText = false;
  for (int i = 0; i < record.partCount && i < kMaxParts; ++i) {
    const HostPart *part = record.parts[i];
    if (part == nullptr) continue;
    if (part->kind == kPartTextBody && !haveText) {
      std::string text;
      if (ReadPart(workDir, record, i, &text, error) != 0) return -1;
      haveText = true;
      text = WithoutCarriageReturns(ToUtf8(text));
      if (!text.empty()) icalcomponent_add_property(item, icalproperty_new_description(text.c_str()));
    } else if (part->kind == kPartFile) {
      std::string bytes;
      if (ReadPart(workDir, record, i, &bytes, error) != 0) return -1;
      gchar *encoded = g_base64_encode(reinterpret_cast<const guchar *>(bytes.data()), bytes.size());
      icalattach *attach = icalattach_new_from_data(encoded, nullptr, nullptr);
      icalproperty *p = icalproperty_new_attach(attach);
      icalattach_unref(attach);
      g_free(encoded);
      std::string name = FIELD(*part, name);
      if (name.empty()) name = "attachment-" + std::to_string(i + 1);
      icalproperty_add_parameter(p, icalparameter_new_fmttype(maildir::GuessContentType(name).c_str()));
      icalproperty_add_parameter(p, icalparameter_new_encoding(ICAL_ENCODING_BASE64));
      icalparameter *file = icalparameter_new_x(ParameterText(name).c_str());
      icalparameter_set_xname(file, "X-FILENAME");
      icalproperty_add_parameter(p, file);
      icalcomponent_add_property(item, p);
    }
  }
  return 0;
}

// Categories "A;B;" as one CATEGORIES property each.
void AddCategories(icalcomponent *item, const HostMessage &record) {
  const std::string all = ToUtf8(FIELD(record, categories));
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    if (end > start) icalcomponent_add_property(item, icalproperty_new_categories(all.substr(start, end - start).c_str()));
    start = end + 1;
  }
}

// The record's priorities (2 high, 1 standard, 0 low) as iCalendar's 1, 5, 9.
void AddPriority(icalcomponent *item, int priority) {
  static const int kIcalPriority[] = {9, 5, 1};
  if (priority >= 0 && priority <= 2) icalcomponent_add_property(item, icalproperty_new_priority(kIcalPriority[priority]));
}

icalproperty *AddressProperty(icalproperty *(*make)(const char *), const std::string &name,
                              const std::string &address) {
  icalproperty *p = make(("mailto:" + ToUtf8(address)).c_str());
  if (!name.empty() && name != address) icalproperty_add_parameter(p, icalparameter_new_cn(ParameterText(name).c_str()));
  return p;
}

// ORGANIZER, and one ATTENDEE per recipient with its reply as PARTSTAT
// (the organizer too: its own reply is part of the record).
void AddPeople(icalcomponent *item, const HostMessage &record, std::vector<std::string> *warnings) {
  std::string organizerName = FIELD(record, organizerName), organizerAddress = FIELD(record, organizerAddress);
  for (int i = 0; organizerAddress.empty() && i < record.recipCount && i < kMaxRecipients; ++i) {
    const HostRecipient *r = record.recips[i];
    if (r != nullptr && r->kind == kRecipOrganizer) {
      organizerName = FIELD(*r, name);
      organizerAddress = FIELD(*r, address);
    }
  }
  if (!organizerAddress.empty())
    icalcomponent_add_property(item, AddressProperty(icalproperty_new_organizer, organizerName, organizerAddress));
  static const icalparameter_partstat kStatus[] = {ICAL_PARTSTAT_NEEDSACTION, ICAL_PARTSTAT_ACCEPTED,
                                                   ICAL_PARTSTAT_DECLINED, ICAL_PARTSTAT_TENTATIVE};
  for (int i = 0; i < record.recipCount && i < kMaxRecipients; ++i) {
    const HostRecipient *r = record.recips[i];
    if (r == nullptr) continue;
    const std::string name = FIELD(*r, name), address = FIELD(*r, address);
    if (address.empty()) {
      warnings->push_back("attendee \"" + ToUtf8(name) + "\" has no address: left out");
      continue;
    }
    icalproperty *p = AddressProperty(icalproperty_new_attendee, name, address);
    const int status = r->status >= 0 && r->status <= 3 ? r->status : 0;
    icalproperty_add_parameter(p, icalparameter_new_partstat(kStatus[status]));
    icalproperty_add_parameter(p, icalparameter_new_role(r->kind == kRecipCc || r->kind == kRecipBcc
                                                             ? ICAL_ROLE_OPTPARTICIPANT
                                                         : r->kind == kRecipOrganizer ? ICAL_ROLE_CHAIR
                                                                                      : ICAL_ROLE_REQPARTICIPANT));
    icalcomponent_add_property(item, p);
  }
}

// Show-as: TRANSP for every program, and Outlook's four states.
void AddShowAs(icalcomponent *item, int busyState) {
  static const char *const kBusyStatus[] = {"FREE", "TENTATIVE", "BUSY", "OOF"};
  const int state = busyState >= 0 && busyState <= 3 ? busyState : 2;
  icalcomponent_add_property(item, icalproperty_new_transp(state == 0 ? ICAL_TRANSP_TRANSPARENT : ICAL_TRANSP_OPAQUE));
  icalproperty *busy = icalproperty_new_x(kBusyStatus[state]);
  icalproperty_set_x_name(busy, "X-MICROSOFT-CDO-BUSYSTATUS");
  icalcomponent_add_property(item, busy);
}

void AddAlarm(icalcomponent *event, const HostMessage &record, const std::string &title) {
  if (!record.alarmSet) return;
  icalcomponent *alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
  icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
  icalcomponent_add_property(alarm, icalproperty_new_description(title.empty() ? "Reminder" : title.c_str()));
  icaltriggertype trigger = icaltriggertype_from_int(0);
  const int minutes = record.alarmMinutes > 0 ? record.alarmMinutes : 0;
  trigger.duration = icaldurationtype_from_int(-minutes * 60);
  icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
  icalcomponent_add_component(event, alarm);
}

// The zone an appointment's times are written in.
TimeStyle StyleOf(const HostMessage &record, std::vector<std::string> *warnings) {
  TimeStyle style;
  style.allDay = record.allDay != 0 || record.eventKind == 2;
  const std::string name = FIELD(record, timeZoneName);
  const std::string iana = IanaZoneFor(name);
  if (!iana.empty() && !IsUtcZone(iana)) {
    style.zone = BuiltinZone(iana);
    style.tzid = iana;
  }
  if (style.zone == nullptr && !style.allDay) {
    if (!name.empty() && iana.empty()) {
      warnings->push_back("time zone \"" + ToUtf8(name) + "\" unknown: times written in UTC");
    } else if (name.empty() && record.recurKind >= 1 && record.recurKind <= 7) {
      warnings->push_back("recurring appointment without a time zone: times written in UTC");
    }
  }
  return style;
}

void BuildEvent(icalcomponent *calendar, icalcomponent *event, const HostMessage &record,
                std::vector<std::string> *warnings) {
  const TimeStyle style = StyleOf(record, warnings);
  const int64_t start = UnixFromFileTime(record.startTime);
  int64_t end = UnixFromFileTime(record.endTime);
  if (style.zone != nullptr && !style.allDay)
    icalcomponent_add_component(calendar, ZoneBlock(style.zone, style.tzid, start));
  icalcomponent_add_property(event, TimeProperty(icalproperty_new_dtstart, start, style));
  if (style.allDay) {
    // A date end is the day after the last; an end on the start day (or
    // none) makes a one-day event.
    const LocalDate day = StartDate(start, style);
    const int64_t first = UnixFromDate(day.year, day.month, day.day);
    const LocalDate last = DayOf(end, style);
    int64_t after = UnixFromDate(last.year, last.month, last.day);
    if (after <= first) after = first + kDay;
    icalproperty *p = icalproperty_new_dtend(DateValue(DateFromUnix(after)));
    icalproperty_add_parameter(p, icalparameter_new_value(ICAL_VALUE_DATE));
    icalcomponent_add_property(event, p);
  } else if (end > start) {
    icalcomponent_add_property(event, TimeProperty(icalproperty_new_dtend, end, style));
  }
  const std::string rule = RuleText(record, StartDate(start, style), UntilValue(record, style), warnings);
  if (!rule.empty()) {
    icalrecurrencetype recurrence = icalrecurrencetype_from_string(rule.c_str());
    icalcomponent_add_property(event, icalproperty_new_rrule(recurrence));
  }
  const std::string location = ToUtf8(FIELD(record, location));
  if (!location.empty()) icalcomponent_add_property(event, icalproperty_new_location(location.c_str()));
  if (record.isPrivate) icalcomponent_add_property(event, icalproperty_new_class(ICAL_CLASS_PRIVATE));
  AddShowAs(event, record.busyState);
  AddPriority(event, record.importance);
  AddPeople(event, record, warnings);
}

void BuildTask(icalcomponent *todo, const HostMessage &record, std::vector<std::string> *warnings) {
  const TimeStyle utc;
  const int64_t start = UnixFromFileTime(record.startTime), due = UnixFromFileTime(record.endTime);
  const bool hasStart = FileTimeToU64(record.startTime) != 0, hasDue = FileTimeToU64(record.endTime) != 0;
  if (hasStart && hasDue && start > due) {
    warnings->push_back("task starts after it is due: start left out");
  } else if (hasStart) {
    icalcomponent_add_property(todo, TimeProperty(icalproperty_new_dtstart, start, utc));
  }
  if (hasDue) icalcomponent_add_property(todo, TimeProperty(icalproperty_new_due, due, utc));
  const int percent = record.percentComplete < 0 ? 0 : record.percentComplete > 100 ? 100 : record.percentComplete;
  const bool completed = record.contactFlag == 2 || percent == 100;
  icalcomponent_add_property(todo, icalproperty_new_percentcomplete(completed && percent == 0 ? 100 : percent));
  icalcomponent_add_property(todo, icalproperty_new_status(completed   ? ICAL_STATUS_COMPLETED
                                                           : percent > 0 ? ICAL_STATUS_INPROCESS
                                                                         : ICAL_STATUS_NEEDSACTION));
  AddPriority(todo, record.taskPriority);
  const std::string organizer = FIELD(record, organizerAddress);
  if (!organizer.empty())
    icalcomponent_add_property(todo, AddressProperty(icalproperty_new_organizer, FIELD(record, organizerName), organizer));
}

}  // namespace

std::string Sha256Hex(const std::string &text) {
  gchar *hex = g_compute_checksum_for_string(G_CHECKSUM_SHA256, text.data(), static_cast<gssize>(text.size()));
  std::string out = hex != nullptr ? hex : "";
  g_free(hex);
  return out;
}

std::string ItemKey(const HostMessage &record) {
  const std::string id = FIELD(record, messageId);
  if (!id.empty()) return "id:" + id;
  const std::string fields = std::to_string(record.itemKind) + "\n" + FIELD(record, title) + "\n" +
                             std::to_string(FileTimeToU64(record.startTime)) + "\n" +
                             std::to_string(FileTimeToU64(record.endTime)) + "\n" + FIELD(record, organizerAddress);
  return "digest:" + Sha256Hex(fields);
}

std::string ItemUid(const HostMessage &record) {
  return Sha256Hex(ItemKey(record)).substr(0, 32) + "@groupwise.invalid";
}

int BuildItemCalendar(const HostMessage &record, const std::string &workDir, int64_t stampUnix,
                      std::string *text, std::vector<std::string> *warnings, std::string *error) {
  if (record.itemKind != kItemAppointment && record.itemKind != kItemTask) {
    *error = "item kind " + std::to_string(record.itemKind) + " is neither an appointment nor a task";
    return -1;
  }
  ComponentPtr calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
  icalcomponent_add_property(calendar.get(), icalproperty_new_prodid(kProductId));
  const bool event = record.itemKind == kItemAppointment;
  icalcomponent *item = icalcomponent_new(event ? ICAL_VEVENT_COMPONENT : ICAL_VTODO_COMPONENT);
  icalcomponent_add_property(item, icalproperty_new_uid(ItemUid(record).c_str()));
  icalcomponent_add_property(item, icalproperty_new_dtstamp(icaltime_from_timet_with_zone(
                                       static_cast<time_t>(stampUnix), 0, icaltimezone_get_utc_timezone())));
  const std::string title = ToUtf8(FIELD(record, title));
  if (!title.empty()) icalcomponent_add_property(item, icalproperty_new_summary(title.c_str()));
  if (event) {
    BuildEvent(calendar.get(), item, record, warnings);
  } else {
    BuildTask(item, record, warnings);
  }
  AddCategories(item, record);
  int result = AddPartProperties(item, record, workDir, error);
  if (event) AddAlarm(item, record, title);
  icalcomponent_add_component(calendar.get(), item);
  if (result != 0) return -1;
  char *out = icalcomponent_as_ical_string_r(calendar.get());
  *text = out != nullptr ? out : "";
  icalmemory_free_buffer(out);
  return 0;
}

}  // namespace ical
