// The record's recurrence fields (recurKind, recurDayMask, ...) as an
// iCalendar RRULE and back. The record holds one rule of seven shapes; what
// an RRULE says beyond them is reported as a warning, never dropped in
// silence.
#pragma once

#include <libical/ical.h>

#include <cstdint>
#include <string>
#include <vector>

struct HostMessage;

namespace ical {

// The calendar date of an item's start in its own zone: rule parts that the
// record leaves at 0 (month day, month, weekday, nth) are taken from it.
struct LocalDate {
  int year = 1970;
  int month = 1;    // 1-12
  int day = 1;      // 1-31
  int weekday = 4;  // 0 Sunday to 6 Saturday
};

// Unix seconds of 00:00 UTC on a date, and the date of a Unix time in UTC.
int64_t UnixFromDate(int year, int month, int day);
LocalDate DateFromUnix(int64_t seconds);

// The RRULE value for the record's recurrence ("FREQ=WEEKLY;COUNT=10;
// BYDAY=MO,WE"), "" when recurKind is 0. untilValue is the UNTIL text the
// caller formatted for the range kind "ends on recurUntil" (a DATE for an
// all-day series, else a UTC time). A kind the record does not define, or a
// range that cannot be written, adds a line to *warnings.
std::string RuleText(const HostMessage &record, const LocalDate &start, const std::string &untilValue,
                     std::vector<std::string> *warnings);

// Fills the record's recurrence fields from a parsed rule. `zone` is the
// zone of the item's start (null: UTC or floating): an UNTIL time is taken
// as the last day in it. Returns 0 when the record holds the rule (maybe in
// part: each part left out adds a line to *warnings), or -1 when it holds
// nothing of it (recurKind stays 0, one warning says why).
int RecurrenceFromRule(const icalrecurrencetype &rule, const LocalDate &start, icaltimezone *zone,
                       HostMessage *record, std::vector<std::string> *warnings);

}  // namespace ical
