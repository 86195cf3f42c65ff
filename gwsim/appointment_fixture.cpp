// Fixture files: the appointment attributes of an <item kind="Appointment">
// and its <rrule> child, read into the item's calendar fields.
#include "gwsim/appointment_fixture.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "gwsim/item_filter.h"
#include "gwsim/mailbox.h"

namespace gwsim {
namespace {

const char *const kAcceptLevels[] = {"Free", "Tentative", "Busy", "OutOfOffice", "NoDisplay"};
const char *const kFrequencies[] = {"Daily", "Weekly", "Monthly", "Yearly"};
const char *const kRuleAttributes[] = {"frequency", "count", "until", "interval",
                                       "byDay", "byMonthDay", "byMonth"};

template <size_t N>
bool OneOf(const std::string &value, const char *const (&list)[N]) {
  for (const char *entry : list) {
    if (value == entry) return true;
  }
  return false;
}

// A whole decimal number (sign allowed); false for anything else.
bool ReadNumber(const std::string &text, long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  *value = strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

bool ReadDate(pugi::xml_node node, const char *attribute, std::string *out, std::string *error) {
  pugi::xml_attribute a = node.attribute(attribute);
  if (!a) return true;
  long long seconds = 0;
  if (!ParseDateTime(a.value(), &seconds)) {
    *error = std::string("unreadable ") + attribute + " \"" + a.value() + "\"";
    return false;
  }
  *out = a.value();
  return true;
}

bool ReadFlag(pugi::xml_node node, const char *attribute, bool *out, std::string *error) {
  pugi::xml_attribute a = node.attribute(attribute);
  if (!a) return true;
  if (strcmp(a.value(), "0") != 0 && strcmp(a.value(), "1") != 0) {
    *error = std::string(attribute) + " must be 0 or 1";
    return false;
  }
  *out = a.as_bool();
  return true;
}

// "Monday -1Friday 2Tuesday": weekdays with an optional occurrence in front.
bool ReadRuleDays(const std::string &text, std::vector<RuleDay> *days, std::string *error) {
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    size_t digits = 0;
    while (digits < word.size() && (word[digits] == '-' || isdigit(static_cast<unsigned char>(word[digits])))) {
      ++digits;
    }
    RuleDay day;
    day.day = word.substr(digits);
    long occurrence = 0;
    if (digits > 0 && !ReadNumber(word.substr(0, digits), &occurrence)) {
      *error = "unreadable byDay \"" + word + "\"";
      return false;
    }
    day.occurrence = static_cast<int>(occurrence);
    static const char *const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};
    if (!OneOf(day.day, kDays)) {
      *error = "unknown weekday \"" + day.day + "\" in byDay";
      return false;
    }
    days->push_back(day);
  }
  return true;
}

bool ReadNumbers(const std::string &text, const char *what, long low, long high,
                 std::vector<int> *out, std::string *error) {
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    long value = 0;
    if (!ReadNumber(word, &value) || value < low || value > high) {
      *error = std::string("unreadable ") + what + " \"" + word + "\"";
      return false;
    }
    out->push_back(static_cast<int>(value));
  }
  return true;
}

}  // namespace

const char *const kAppointmentAttributes[] = {
    "start", "end", "startDay", "endDay", "allDay", "acceptLevel", "alarm", "alarmEnabled",
    "place", "timezone", "private", "recurrenceKey", nullptr};

bool LoadAppointmentAttributes(pugi::xml_node node, Item *item, std::string *error) {
  AppointmentData &a = item->appointment;
  if (!ReadDate(node, "start", &a.startDate, error) || !ReadDate(node, "end", &a.endDate, error) ||
      !ReadDate(node, "startDay", &a.startDay, error) ||
      !ReadDate(node, "endDay", &a.endDay, error) || !ReadFlag(node, "allDay", &a.allDay, error) ||
      !ReadFlag(node, "alarmEnabled", &a.alarmEnabled, error) ||
      !ReadFlag(node, "private", &a.isPrivate, error)) {
    return false;
  }
  a.acceptLevel = node.attribute("acceptLevel").value();
  if (!a.acceptLevel.empty() && !OneOf(a.acceptLevel, kAcceptLevels)) {
    *error = "unknown acceptLevel \"" + a.acceptLevel + "\"";
    return false;
  }
  long number = 0;
  if (node.attribute("alarm")) {
    if (!ReadNumber(node.attribute("alarm").value(), &number) || number < 0) {
      *error = std::string("unreadable alarm \"") + node.attribute("alarm").value() + "\"";
      return false;
    }
    a.alarmSeconds = static_cast<int>(number);
  }
  if (node.attribute("recurrenceKey")) {
    if (!ReadNumber(node.attribute("recurrenceKey").value(), &number) || number <= 0) {
      *error = "recurrenceKey must be a positive number";
      return false;
    }
    a.recurrenceKey = static_cast<unsigned>(number);
  }
  a.place = node.attribute("place").value();
  a.timezone = node.attribute("timezone").value();
  if (!a.timezone.empty() && !KnownTimezone(a.timezone)) {
    *error = "unknown timezone \"" + a.timezone + "\"";
    return false;
  }
  return true;
}

bool LoadRule(pugi::xml_node node, Item *item, std::string *error) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    if (!OneOf(a.name(), kRuleAttributes)) {
      *error = std::string("unknown attribute ") + a.name() + " on <rrule>";
      return false;
    }
  }
  RecurrenceRule &rule = item->appointment.rule;
  rule.frequency = node.attribute("frequency").value();
  if (!OneOf(rule.frequency, kFrequencies)) {
    *error = "unknown frequency \"" + rule.frequency + "\"";
    return false;
  }
  long number = 0;
  const char *const numbers[] = {"count", "interval"};
  for (const char *name : numbers) {
    pugi::xml_attribute a = node.attribute(name);
    if (!a) continue;
    if (!ReadNumber(a.value(), &number) || number < 1) {
      *error = std::string(name) + " must be a positive number";
      return false;
    }
    (strcmp(name, "count") == 0 ? rule.count : rule.interval) = static_cast<int>(number);
  }
  if (!ReadDate(node, "until", &rule.until, error)) return false;
  return ReadRuleDays(node.attribute("byDay").value(), &rule.byDay, error) &&
         ReadNumbers(node.attribute("byMonthDay").value(), "byMonthDay", -31, 31,
                     &rule.byMonthDay, error) &&
         ReadNumbers(node.attribute("byMonth").value(), "byMonth", 0, 11, &rule.byMonth, error);
}

}  // namespace gwsim
