// The simulator's appointment content: the calendar fields of an item of
// kind "Appointment", its recurrence rule, the expansion of a rule into the
// occurrences the server keeps as items of their own, and the time zones
// the expansion knows.
#pragma once

#include <string>
#include <vector>

namespace gwsim {

struct Item;
class Mailbox;

// One weekday of a rule's byDay list: "Monday"..., with the occurrence
// attribute (0: none; -1 the last, 2 the second...).
struct RuleDay {
  std::string day;
  int occurrence = 0;
};

// gwt:rrule, in the server's terms: months count from 0.
struct RecurrenceRule {
  std::string frequency;  // "" (no rule), "Daily", "Weekly", "Monthly", "Yearly"
  int count = 0;          // 0: not given
  std::string until;      // xs:date or xs:dateTime; "" not given
  int interval = 0;       // 0: not given (1)
  std::vector<RuleDay> byDay;
  std::vector<int> byMonthDay;
  std::vector<int> byMonth;  // 0 January ... 11 December
};

struct AppointmentData {
  std::string startDate;  // xs:dateTime (UTC)
  std::string endDate;
  std::string startDay;   // xs:date, all-day appointments
  std::string endDay;
  bool allDay = false;
  std::string acceptLevel;  // "Free", "Tentative", "Busy", "OutOfOffice"; "" none
  int alarmSeconds = -1;    // < 0: no alarm element
  bool alarmEnabled = true;
  std::string place;
  std::string timezone;  // the standard name of a known zone ("W. Europe Standard Time")
  bool isPrivate = false;
  unsigned recurrenceKey = 0;  // 0: not recurring
  RecurrenceRule rule;
};

// The most occurrences one rule is expanded into.
constexpr int kMaxOccurrences = 1000;

// True when `name` is a zone the simulator can send and expand in.
bool KnownTimezone(const std::string &name);

// The dates at which `series` (its appointment's start, end, rule and
// zone) occurs: start and end texts of each occurrence, in order. A series
// without a rule occurs once. False with a reason when the rule cannot be
// expanded (unknown frequency, weekday or month, unreadable dates, a
// rule that never ends).
struct Occurrence {
  std::string start;
  std::string end;
};
bool ExpandRule(const AppointmentData &series, std::vector<Occurrence> *out,
                std::string *reason);

// Adds `series` to the store as one item per occurrence, each with the
// rule and one new recurrence key (or as one item when it has no rule).
// Returns the first occurrence's id, "" with the reason when the rule
// cannot be expanded or an id is taken.
std::string AddAppointment(Mailbox *mailbox, const Item &series, std::string *reason);

// Alice's demo calendar in the folder `calendar` (demo_calendar.cpp).
void AddDemoCalendar(Mailbox *mailbox, const std::string &calendar);

// Adds `count` appointments to the Calendar of `owner`: two hours apart,
// four a day from 2026-01-01T09:00:00Z, each with the owner as organizer and
// two or three attendees with answers, a text body, a place and an alarm;
// every fifth a weekly series of four occurrences in Berlin time. False
// when the user or the calendar is missing.
bool GenerateAppointments(Mailbox *mailbox, const std::string &owner, int count);

// The appointment elements of a full item, in the schema's order: after
// the mail content, the rule, recurrence key, dates, accept level, alarm,
// all-day flag, place and time zone. Cannot fail.
void AppendAppointmentContent(const Item &item, std::string *out);

}  // namespace gwsim
