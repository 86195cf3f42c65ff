// The simulator's appointments: the calendar elements of a full item, the
// time zones it knows, and the expansion of a recurrence rule into the
// occurrences that the server keeps as items of their own.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gwsim/appointment_data.h"
#include "gwsim/handlers.h"
#include "gwsim/item_filter.h"
#include "gwsim/mailbox.h"

namespace gwsim {
namespace {

const long long kDay = 86400;
// A rule without count or until keeps this many occurrences here (the
// server would go on for years; the plug-in writes a count in every case).
const int kOpenEndedOccurrences = 10;
// Periods looked at before a rule that yields no dates is given up.
const int kMaxPeriods = 20000;

const char *const kWeekDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

// ---- calendar arithmetic on days since 1970-01-01 ----

long long DaysFromCivil(long long y, long long m, long long d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long long days, int *year, int *month, int *day) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long doe = days - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

// 0 Sunday ... 6 Saturday.
int WeekDayOf(long long days) {
  long long w = (days + 4) % 7;  // 1970-01-01 was a Thursday
  return static_cast<int>(w < 0 ? w + 7 : w);
}

long long FloorDiv(long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int DaysInMonth(int year, int month) {
  const long long first = DaysFromCivil(year, month, 1);
  const long long next = month == 12 ? DaysFromCivil(year + 1, 1, 1)
                                     : DaysFromCivil(year, month + 1, 1);
  return static_cast<int>(next - first);
}

// The day of the nth weekday of a month (n < 0 counts from the end); -1
// when the month has no such day.
long long NthWeekDay(int year, int month, int weekDay, int n) {
  const int length = DaysInMonth(year, month);
  if (n > 0) {
    const long long first = DaysFromCivil(year, month, 1);
    const long long day = first + (weekDay - WeekDayOf(first) + 7) % 7 + 7LL * (n - 1);
    return day < first + length ? day : -1;
  }
  const long long last = DaysFromCivil(year, month, length);
  const long long day = last - (WeekDayOf(last) - weekDay + 7) % 7 + 7LL * (n + 1);
  return day >= last - length + 1 ? day : -1;
}

int WeekDayNumber(const std::string &name) {
  for (int i = 0; i < 7; ++i) {
    if (name == kWeekDays[i]) return i;
  }
  return -1;
}

// ---- time zones ----

enum DstRule { kNoDst, kEuropeanDst, kUnitedStatesDst };

struct Zone {
  const char *standardName;
  const char *daylightName;
  int standardMinutes;  // offset from UTC
  int daylightMinutes;
  DstRule rule;
};

const Zone kZones[] = {
    {"UTC", "UTC", 0, 0, kNoDst},
    {"W. Europe Standard Time", "W. Europe Daylight Time", 60, 120, kEuropeanDst},
    {"Romance Standard Time", "Romance Daylight Time", 60, 120, kEuropeanDst},
    {"GMT Standard Time", "GMT Daylight Time", 0, 60, kEuropeanDst},
    {"Eastern Standard Time", "Eastern Daylight Time", -300, -240, kUnitedStatesDst},
    {"Pacific Standard Time", "Pacific Daylight Time", -480, -420, kUnitedStatesDst},
};

const Zone *FindZone(const std::string &name) {
  for (const Zone &zone : kZones) {
    if (name == zone.standardName) return &zone;
  }
  return nullptr;
}

// Daylight saving time in force at the UTC instant?
bool InDaylightTime(const Zone &zone, long long utc) {
  if (zone.rule == kNoDst) return false;
  int year = 0, month = 0, day = 0;
  CivilFromDays(FloorDiv(utc, kDay), &year, &month, &day);
  long long begin, end;
  if (zone.rule == kEuropeanDst) {  // last Sundays of March and October, 01:00 UTC
    begin = NthWeekDay(year, 3, 0, -1) * kDay + 3600;
    end = NthWeekDay(year, 10, 0, -1) * kDay + 3600;
  } else {  // second Sunday of March and first of November, 02:00 local
    begin = NthWeekDay(year, 3, 0, 2) * kDay + 7200 - zone.standardMinutes * 60LL;
    end = NthWeekDay(year, 11, 0, 1) * kDay + 7200 - zone.daylightMinutes * 60LL;
  }
  return utc >= begin && utc < end;
}

long long OffsetAt(const Zone *zone, long long utc) {
  if (zone == nullptr) return 0;
  return 60LL * (InDaylightTime(*zone, utc) ? zone->daylightMinutes : zone->standardMinutes);
}

// The UTC instant of a local wall time; a time skipped by the spring
// change is read with the standard offset.
long long LocalToUtc(const Zone *zone, long long local) {
  if (zone == nullptr) return local;
  const long long daylight = local - zone->daylightMinutes * 60LL;
  if (OffsetAt(zone, daylight) == zone->daylightMinutes * 60LL) return daylight;
  return local - zone->standardMinutes * 60LL;
}

void AppendZoneComponent(std::string *out, const char *element, const char *name, int month0,
                         const char *occurrence, int hour, int offsetMinutes) {
  out->append("<").append(element).append(">");
  AppendElement(out, "gwt:name", name);
  AppendElement(out, "gwt:month", std::to_string(month0));
  out->append("<gwt:dayOfWeek occurrence=\"").append(occurrence).append("\">Sunday</gwt:dayOfWeek>");
  AppendElement(out, "gwt:hour", std::to_string(hour));
  AppendElement(out, "gwt:minute", "0");
  AppendElement(out, "gwt:offset", std::to_string(offsetMinutes * 60));
  out->append("</").append(element).append(">");
}

void AppendTimezone(const std::string &name, std::string *out) {
  const Zone *zone = FindZone(name);
  if (zone == nullptr) return;
  out->append("<gwt:timezone>");
  if (zone->rule == kEuropeanDst) {
    const int localHour = 1 + zone->standardMinutes / 60;
    AppendZoneComponent(out, "gwt:daylight", zone->daylightName, 2, "Last", localHour,
                        zone->daylightMinutes);
    AppendZoneComponent(out, "gwt:standard", zone->standardName, 9, "Last", localHour + 1,
                        zone->standardMinutes);
  } else if (zone->rule == kUnitedStatesDst) {
    AppendZoneComponent(out, "gwt:daylight", zone->daylightName, 2, "Second", 2,
                        zone->daylightMinutes);
    AppendZoneComponent(out, "gwt:standard", zone->standardName, 10, "First", 2,
                        zone->standardMinutes);
  } else {
    out->append("<gwt:standard>");
    AppendElement(out, "gwt:name", zone->standardName);
    AppendElement(out, "gwt:offset", "0");
    out->append("</gwt:standard>");
  }
  out->append("</gwt:timezone>");
}

void AppendRule(const RecurrenceRule &rule, std::string *out) {
  out->append("<gwt:rrule>");
  AppendElement(out, "gwt:frequency", rule.frequency);
  if (rule.count > 0) AppendElement(out, "gwt:count", std::to_string(rule.count));
  if (!rule.until.empty()) AppendElement(out, "gwt:until", rule.until.substr(0, 10));
  if (rule.interval > 0) AppendElement(out, "gwt:interval", std::to_string(rule.interval));
  if (!rule.byDay.empty()) {
    out->append("<gwt:byDay>");
    for (const RuleDay &d : rule.byDay) {
      if (d.occurrence != 0) {
        out->append("<gwt:day occurrence=\"" + std::to_string(d.occurrence) + "\">");
        AppendEscaped(out, d.day);
        out->append("</gwt:day>");
      } else {
        AppendElement(out, "gwt:day", d.day);
      }
    }
    out->append("</gwt:byDay>");
  }
  if (!rule.byMonthDay.empty()) {
    out->append("<gwt:byMonthDay>");
    for (int d : rule.byMonthDay) AppendElement(out, "gwt:day", std::to_string(d));
    out->append("</gwt:byMonthDay>");
  }
  if (!rule.byMonth.empty()) {
    out->append("<gwt:byMonth>");
    for (int m : rule.byMonth) AppendElement(out, "gwt:month", std::to_string(m));
    out->append("</gwt:byMonth>");
  }
  out->append("</gwt:rrule>");
}

// ---- expansion ----

struct Expansion {
  const RecurrenceRule *rule;
  long long firstDay;  // local day of the series' start
  long long untilDay;  // last local day allowed (LLONG_MAX-like when none)
  int limit;           // occurrences wanted
  std::vector<long long> days;

  // Takes a candidate day; false once enough are taken or past the end.
  bool Take(long long day) {
    if (day < firstDay) return true;
    if (day > untilDay || static_cast<int>(days.size()) >= limit) return false;
    days.push_back(day);
    return static_cast<int>(days.size()) < limit;
  }
};

// Weekday numbers of the byDay list in week order; false for a bad name.
bool RuleWeekDays(const RecurrenceRule &rule, std::vector<int> *weekDays) {
  for (const RuleDay &d : rule.byDay) {
    const int n = WeekDayNumber(d.day);
    if (n < 0) return false;
    weekDays->push_back(n);
  }
  std::sort(weekDays->begin(), weekDays->end());
  weekDays->erase(std::unique(weekDays->begin(), weekDays->end()), weekDays->end());
  return true;
}

// The days of one month that the rule picks, in order.
std::vector<long long> MonthDays(const RecurrenceRule &rule, int year, int month, int startDay) {
  std::vector<long long> days;
  const int length = DaysInMonth(year, month);
  if (!rule.byDay.empty()) {
    for (const RuleDay &d : rule.byDay) {
      const int weekDay = WeekDayNumber(d.day);
      if (d.occurrence != 0) {
        const long long day = NthWeekDay(year, month, weekDay, d.occurrence);
        if (day >= 0) days.push_back(day);
      } else {  // every such weekday of the month
        for (int n = 1; n <= 5; ++n) {
          const long long day = NthWeekDay(year, month, weekDay, n);
          if (day >= 0) days.push_back(day);
        }
      }
    }
  } else {
    std::vector<int> monthDays = rule.byMonthDay;
    if (monthDays.empty()) monthDays.push_back(startDay);
    for (int d : monthDays) {
      const int day = d < 0 ? length + 1 + d : d;
      if (day >= 1 && day <= length) days.push_back(DaysFromCivil(year, month, day));
    }
  }
  std::sort(days.begin(), days.end());
  return days;
}

bool ExpandDays(Expansion *x, std::string *reason) {
  const RecurrenceRule &rule = *x->rule;
  const int interval = rule.interval > 0 ? rule.interval : 1;
  std::vector<int> weekDays;
  if (!RuleWeekDays(rule, &weekDays)) {
    *reason = "unknown weekday in byDay";
    return false;
  }
  int year = 0, month = 0, day = 0;
  CivilFromDays(x->firstDay, &year, &month, &day);
  for (int period = 0; period < kMaxPeriods; ++period) {
    if (rule.frequency == "Daily") {
      if (weekDays.empty()) {
        if (!x->Take(x->firstDay + 1LL * period * interval)) return true;
      } else if (std::binary_search(weekDays.begin(), weekDays.end(),
                                    WeekDayOf(x->firstDay + period)) &&
                 !x->Take(x->firstDay + period)) {
        return true;
      }
    } else if (rule.frequency == "Weekly") {
      const long long weekStart = x->firstDay - WeekDayOf(x->firstDay) + 7LL * period * interval;
      if (weekDays.empty()) weekDays.push_back(WeekDayOf(x->firstDay));
      for (int w : weekDays) {
        if (!x->Take(weekStart + w)) return true;
      }
    } else if (rule.frequency == "Monthly") {
      const int index = (month - 1) + period * interval;
      for (long long d : MonthDays(rule, year + index / 12, index % 12 + 1, day)) {
        if (!x->Take(d)) return true;
      }
    } else if (rule.frequency == "Yearly") {
      std::vector<int> months;
      for (int m : rule.byMonth) {
        if (m < 0 || m > 11) {
          *reason = "month out of range 0..11";
          return false;
        }
        months.push_back(m + 1);
      }
      if (months.empty()) months.push_back(month);
      std::sort(months.begin(), months.end());
      for (int m : months) {
        for (long long d : MonthDays(rule, year + period * interval, m, day)) {
          if (!x->Take(d)) return true;
        }
      }
    } else {
      *reason = "unknown frequency \"" + rule.frequency + "\"";
      return false;
    }
  }
  return true;
}

bool ParseDate(const std::string &text, const char *what, long long *seconds,
               std::string *reason) {
  if (ParseDateTime(text, seconds)) return true;
  *reason = std::string("unreadable ") + what + " \"" + text + "\"";
  return false;
}

}  // namespace

bool KnownTimezone(const std::string &name) { return FindZone(name) != nullptr; }

bool ExpandRule(const AppointmentData &series, std::vector<Occurrence> *out,
                std::string *reason) {
  out->clear();
  const bool dayBased = series.allDay && !series.startDay.empty();
  const std::string &startText = dayBased ? series.startDay : series.startDate;
  const std::string &endText = dayBased ? series.endDay : series.endDate;
  if (series.rule.frequency.empty() || startText.empty()) {
    out->push_back(Occurrence{startText, endText});
    return true;
  }
  long long start = 0, end = 0;
  if (!ParseDate(startText, "start", &start, reason)) return false;
  end = start;
  if (!endText.empty() && !ParseDate(endText, "end", &end, reason)) return false;
  const Zone *zone = dayBased ? nullptr : FindZone(series.timezone);
  const long long localStart = start + OffsetAt(zone, start);
  const long long timeOfDay = localStart - FloorDiv(localStart, kDay) * kDay;
  Expansion x;
  x.rule = &series.rule;
  x.firstDay = FloorDiv(localStart, kDay);
  x.untilDay = 1LL << 40;
  x.limit = series.rule.count > 0 ? std::min(series.rule.count, kMaxOccurrences)
                                  : kMaxOccurrences;
  if (!series.rule.until.empty()) {
    long long until = 0;
    if (!ParseDate(series.rule.until, "until", &until, reason)) return false;
    x.untilDay = FloorDiv(until, kDay);
  } else if (series.rule.count <= 0) {
    x.limit = kOpenEndedOccurrences;
  }
  if (!ExpandDays(&x, reason)) return false;
  for (long long day : x.days) {
    const long long s = dayBased ? day * kDay : LocalToUtc(zone, day * kDay + timeOfDay);
    const std::string startOut = FormatDateTime(s);
    const std::string endOut = FormatDateTime(s + (end - start));
    if (dayBased) {
      out->push_back(Occurrence{startOut.substr(0, 10), endOut.substr(0, 10)});
    } else {
      out->push_back(Occurrence{startOut, endOut});
    }
  }
  if (out->empty()) {
    *reason = "the rule yields no occurrence";
    return false;
  }
  return true;
}

std::string AddAppointment(Mailbox *mailbox, const Item &series, std::string *reason) {
  std::vector<Occurrence> dates;
  if (!ExpandRule(series.appointment, &dates, reason)) return "";
  if (series.appointment.rule.frequency.empty()) {
    std::string id = mailbox->AddItem(series);
    if (id.empty()) *reason = "duplicate id " + series.id;
    return id;
  }
  // One key per series; keys are unique across the store.
  unsigned key = series.appointment.recurrenceKey;
  if (key == 0) {
    key = 1000;
    for (const Item &item : mailbox->items) key = std::max(key, item.appointment.recurrenceKey + 1);
  }
  const bool dayBased = series.appointment.allDay && !series.appointment.startDay.empty();
  std::string firstId;
  for (size_t i = 0; i < dates.size(); ++i) {
    Item occurrence = series;
    if (i > 0) occurrence.id.clear();  // the given id names the first occurrence
    occurrence.appointment.recurrenceKey = key;
    std::string &start = dayBased ? occurrence.appointment.startDay
                                  : occurrence.appointment.startDate;
    std::string &end = dayBased ? occurrence.appointment.endDay : occurrence.appointment.endDate;
    start = dates[i].start;
    end = dates[i].end;
    if (dayBased) {  // all-day occurrences also carry their dates
      occurrence.appointment.startDate = dates[i].start + "T00:00:00Z";
      occurrence.appointment.endDate = dates[i].end + "T00:00:00Z";
    }
    std::string id = mailbox->AddItem(occurrence);
    if (id.empty()) {
      *reason = "duplicate id " + occurrence.id;
      return "";
    }
    if (i == 0) firstId = id;
  }
  return firstId;
}

void AppendAppointmentContent(const Item &item, std::string *out) {
  const AppointmentData &a = item.appointment;
  if (!a.rule.frequency.empty()) AppendRule(a.rule, out);
  if (a.recurrenceKey != 0) AppendElement(out, "gwt:recurrenceKey", std::to_string(a.recurrenceKey));
  if (!a.startDate.empty()) AppendElement(out, "gwt:startDate", a.startDate);
  if (!a.endDate.empty()) AppendElement(out, "gwt:endDate", a.endDate);
  if (!a.startDay.empty()) AppendElement(out, "gwt:startDay", a.startDay);
  if (!a.endDay.empty()) AppendElement(out, "gwt:endDay", a.endDay);
  if (!a.acceptLevel.empty()) AppendElement(out, "gwt:acceptLevel", a.acceptLevel);
  if (a.alarmSeconds >= 0) {
    out->append(a.alarmEnabled ? "<gwt:alarm enabled=\"1\">" : "<gwt:alarm enabled=\"0\">");
    out->append(std::to_string(a.alarmSeconds));
    out->append("</gwt:alarm>");
  }
  if (a.allDay) AppendElement(out, "gwt:allDayEvent", "1");
  if (!a.place.empty()) AppendElement(out, "gwt:place", a.place);
  if (!a.timezone.empty()) AppendTimezone(a.timezone, out);
}

}  // namespace gwsim
