// Recurrence rules: the seven shapes the record holds as RRULE texts, and
// RRULEs read back into them as far as they fit.
#include "host/ical/ical_recurrence.h"

#include <cstdlib>

#include "host/ical/ical_zones.h"
#include "plugin/host_message.h"

namespace ical {
namespace {

// Day codes in the record's mask order: bit 0 Sunday to bit 6 Saturday.
const char *const kDayCodes[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// The record's recurrence kinds and the RRULE parts each one uses.
struct RuleShape {
  int kind;
  icalrecurrencetype_frequency freq;
  const char *freqName;
  bool byMonth;     // BYMONTH from recurMonth
  bool byMonthDay;  // BYMONTHDAY from recurMonthDay
  bool byDay;       // BYDAY from recurDayMask
  bool nth;         // each BYDAY day with the recurOccurrence ordinal
};
const RuleShape kShapes[] = {
    {1, ICAL_YEARLY_RECURRENCE, "YEARLY", true, true, false, false},
    {2, ICAL_YEARLY_RECURRENCE, "YEARLY", true, false, true, true},
    {3, ICAL_MONTHLY_RECURRENCE, "MONTHLY", false, true, false, false},
    {4, ICAL_MONTHLY_RECURRENCE, "MONTHLY", false, false, true, true},
    {5, ICAL_WEEKLY_RECURRENCE, "WEEKLY", false, false, true, false},
    {6, ICAL_DAILY_RECURRENCE, "DAILY", false, false, false, false},
    {7, ICAL_DAILY_RECURRENCE, "DAILY", false, false, true, false},
};

const RuleShape *ShapeOfKind(int kind) {
  for (const RuleShape &s : kShapes)
    if (s.kind == kind) return &s;
  return nullptr;
}

// The shape for a frequency, by whether the rule names weekdays.
const RuleShape *ShapeOfRule(icalrecurrencetype_frequency freq, bool hasDays) {
  for (const RuleShape &s : kShapes)
    if (s.freq == freq && (s.byDay == hasDays || s.kind == 5)) return &s;
  return nullptr;
}

// The nth weekday of the month that `date` is (1 to 5).
int NthOfMonth(const LocalDate &date) { return (date.day - 1) / 7 + 1; }

// Entries of a libical BY* list, up to its terminator.
std::vector<int> ListOf(const short *list, int size) {
  std::vector<int> out;
  for (int i = 0; i < size && list[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) out.push_back(list[i]);
  return out;
}

std::string Joined(const std::vector<int> &values) {
  std::string out;
  for (int v : values) out += (out.empty() ? "" : ",") + std::to_string(v);
  return out;
}

}  // namespace

int64_t UnixFromDate(int year, int month, int day) {
  // Days from the civil date (proleptic Gregorian), after H. Hinnant.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return (static_cast<int64_t>(era) * 146097 + doe - 719468) * 86400;
}

LocalDate DateFromUnix(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  LocalDate out;
  out.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  out.year = static_cast<int>(yoe + era * 400 + (out.month <= 2 ? 1 : 0));
  return out;
}

std::string RuleText(const HostMessage &record, const LocalDate &start, const std::string &untilValue,
                     std::vector<std::string> *warnings) {
  if (record.recurKind == 0) return "";
  const RuleShape *shape = ShapeOfKind(record.recurKind);
  if (shape == nullptr) {
    warnings->push_back("recurrence kind " + std::to_string(record.recurKind) +
                        " unknown: written as a single appointment");
    return "";
  }
  std::string text = std::string("FREQ=") + shape->freqName;
  if (record.recurRangeKind == 0) {
    if (record.recurCount > 0) {
      text += ";COUNT=" + std::to_string(record.recurCount);
    } else {
      warnings->push_back("recurrence count " + std::to_string(record.recurCount) + ": written without an end");
    }
  } else if (record.recurRangeKind != 2) {
    if (!untilValue.empty()) {
      text += ";UNTIL=" + untilValue;
    } else {
      warnings->push_back("recurrence end date missing: written without an end");
    }
  }
  if (record.recurInterval > 1) text += ";INTERVAL=" + std::to_string(record.recurInterval);
  if (shape->byDay) {
    int mask = record.recurDayMask & 0x7F;
    if (mask == 0) mask = 1 << start.weekday;
    int nth = record.recurOccurrence;
    if (shape->nth && (nth == 0 || nth > 5 || nth < -5)) nth = NthOfMonth(start);
    std::string days;
    for (int bit = 0; bit < 7; ++bit) {
      if ((mask & (1 << bit)) == 0) continue;
      days += days.empty() ? "" : ",";
      if (shape->nth) days += std::to_string(nth);
      days += kDayCodes[bit];
    }
    text += ";BYDAY=" + days;
  }
  if (shape->byMonthDay) {
    const int day = record.recurMonthDay;
    text += ";BYMONTHDAY=" + std::to_string(day != 0 && day >= -31 && day <= 31 ? day : start.day);
  }
  if (shape->byMonth) {
    const int month = record.recurMonth;
    text += ";BYMONTH=" + std::to_string(month >= 1 && month <= 12 ? month : start.month);
  }
  return text;
}

int RecurrenceFromRule(const icalrecurrencetype &rule, const LocalDate &start, icaltimezone *zone,
                       HostMessage *record, std::vector<std::string> *warnings) {
  char *ruleText = icalrecurrencetype_as_string_r(const_cast<icalrecurrencetype *>(&rule));
  const std::string shown = ruleText != nullptr ? ruleText : "";
  icalmemory_free_buffer(ruleText);
  auto warn = [&](const std::string &what) { warnings->push_back("rule " + shown + ": " + what); };

  const std::vector<int> days = ListOf(rule.by_day, ICAL_BY_DAY_SIZE);
  const RuleShape *shape = ShapeOfRule(rule.freq, !days.empty());
  if (shape == nullptr) {
    warn("frequency not kept, imported as a single appointment");
    return -1;
  }
  record->recurKind = static_cast<int16_t>(shape->kind);
  record->recurInterval = rule.interval > 0 ? rule.interval : 1;

  int mask = 0;
  std::vector<int> positions;
  for (int day : days) {
    const int weekday = static_cast<int>(icalrecurrencetype_day_day_of_week(static_cast<short>(day)));
    if (weekday >= 1 && weekday <= 7) mask |= 1 << (weekday - 1);
    const int position = icalrecurrencetype_day_position(static_cast<short>(day));
    if (position != 0) positions.push_back(position);
  }
  const std::vector<int> setPos = ListOf(rule.by_set_pos, ICAL_BY_SETPOS_SIZE);
  bool setPosUsed = false;
  if (shape->byDay) {
    record->recurDayMask = mask != 0 ? mask : 1 << start.weekday;
    if (shape->nth) {
      int nth = 0;
      if (!positions.empty()) {
        nth = positions[0];
      } else if (setPos.size() == 1) {
        nth = setPos[0];
        setPosUsed = true;
      }
      if (nth == 0) {
        nth = NthOfMonth(start);
        warn("every weekday of the month cannot be kept: only the " + std::to_string(nth) + ". one");
      }
      record->recurOccurrence = nth;
      bool mixed = false;
      for (int p : positions) mixed = mixed || p != nth;
      if (mixed || (mask & (mask - 1)) != 0) warn("several weekdays: only the first is written to GroupWise");
    } else if (!positions.empty()) {
      warn("weekday ordinals not kept");
    }
  } else if (shape->kind == 5) {
    record->recurDayMask = 1 << start.weekday;
  }
  if (!setPos.empty() && !setPosUsed) warn("BYSETPOS=" + Joined(setPos) + " not kept");

  const std::vector<int> monthDays = ListOf(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE);
  if (shape->byMonthDay) {
    record->recurMonthDay = monthDays.empty() ? start.day : monthDays[0];
    if (monthDays.size() > 1) warn("BYMONTHDAY=" + Joined(monthDays) + ": only the first kept");
  } else if (!monthDays.empty()) {
    warn("BYMONTHDAY=" + Joined(monthDays) + " not kept");
  }
  std::vector<int> months;
  for (int m : ListOf(rule.by_month, ICAL_BY_MONTH_SIZE)) months.push_back(icalrecurrencetype_month_month(static_cast<short>(m)));
  if (shape->byMonth) {
    record->recurMonth = months.empty() ? start.month : months[0];
    if (months.size() > 1) warn("BYMONTH=" + Joined(months) + ": only the first kept");
  } else if (!months.empty()) {
    warn("BYMONTH=" + Joined(months) + " not kept");
  }
  const struct {
    const short *list;
    int size;
    const char *name;
  } kUnkept[] = {
      {rule.by_year_day, ICAL_BY_YEARDAY_SIZE, "BYYEARDAY"}, {rule.by_week_no, ICAL_BY_WEEKNO_SIZE, "BYWEEKNO"},
      {rule.by_hour, ICAL_BY_HOUR_SIZE, "BYHOUR"},           {rule.by_minute, ICAL_BY_MINUTE_SIZE, "BYMINUTE"},
      {rule.by_second, ICAL_BY_SECOND_SIZE, "BYSECOND"},
  };
  for (const auto &u : kUnkept) {
    std::vector<int> values = ListOf(u.list, u.size);
    if (!values.empty()) warn(std::string(u.name) + "=" + Joined(values) + " not kept");
  }

  if (rule.count > 0) {
    record->recurRangeKind = 0;
    record->recurCount = rule.count;
  } else if (!icaltime_is_null_time(rule.until)) {
    // The record keeps the last day of the series, as GroupWise does.
    icaltimetype until = rule.until;
    if (!until.is_date && zone != nullptr) until = icaltime_convert_to_zone(until, zone);
    record->recurRangeKind = 1;
    record->recurUntil = FileTimeFromUnix(UnixFromDate(until.year, until.month, until.day));
  } else {
    record->recurRangeKind = 2;
  }
  return 0;
}

}  // namespace ical
