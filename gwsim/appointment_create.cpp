// The simulator's createItemRequest for an appointment: the mail fields as
// for a Mail, then the calendar fields and the rule, stored as the
// occurrences the rule gives (each with the same recurrence key).
#include <cstdlib>
#include <string>

#include "gwsim/appointment_data.h"
#include "gwsim/handlers.h"
#include "gwsim/item_filter.h"

namespace gwsim {
namespace {

bool IsTrueText(const std::string &text) { return text == "1" || text == "true"; }

// The element's text without the blanks and line ends around it.
std::string Trimmed(const char *text) {
  std::string value(text);
  const char *const blanks = " \t\r\n";
  const size_t first = value.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(blanks) - first + 1);
}

bool Refused(Answer *answer, const std::string &description) {
  answer->code = kCodeBadParameter;
  answer->description = description;
  return false;
}

// A whole number; false for anything else (an empty text included).
bool ReadInt(const std::string &text, long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  *value = strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

std::vector<pugi::xml_node> Elements(pugi::xml_node parent, const char *local) {
  std::vector<pugi::xml_node> found;
  for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element && std::string(LocalName(n.name())) == local) {
      found.push_back(n);
    }
  }
  return found;
}

bool ReadRule(pugi::xml_node node, RecurrenceRule *rule, Answer *answer) {
  rule->frequency = ChildText(node, "frequency");
  long number = 0;
  const std::string count = ChildText(node, "count");
  if (!count.empty()) {
    if (!ReadInt(count, &number) || number < 0) return Refused(answer, "Bad count " + count);
    rule->count = static_cast<int>(number);
  }
  const std::string interval = ChildText(node, "interval");
  if (!interval.empty()) {
    if (!ReadInt(interval, &number) || number < 0) return Refused(answer, "Bad interval " + interval);
    rule->interval = static_cast<int>(number);
  }
  rule->until = ChildText(node, "until");
  for (pugi::xml_node day : Elements(Child(node, "byDay"), "day")) {
    RuleDay entry;
    entry.day = Trimmed(day.text().get());
    const std::string occurrence = AttributeValue(day, "occurrence");
    if (!occurrence.empty()) {
      if (!ReadInt(occurrence, &number)) return Refused(answer, "Bad occurrence " + occurrence);
      entry.occurrence = static_cast<int>(number);
    }
    rule->byDay.push_back(entry);
  }
  for (pugi::xml_node day : Elements(Child(node, "byMonthDay"), "day")) {
    if (!ReadInt(Trimmed(day.text().get()), &number) || number < -31 || number > 31 || number == 0) {
      return Refused(answer, std::string("Bad month day ") + day.text().get());
    }
    rule->byMonthDay.push_back(static_cast<int>(number));
  }
  for (pugi::xml_node month : Elements(Child(node, "byMonth"), "month")) {
    if (!ReadInt(Trimmed(month.text().get()), &number) || number < 0 || number > 11) {
      return Refused(answer, std::string("Bad month ") + month.text().get());
    }
    rule->byMonth.push_back(static_cast<int>(number));
  }
  return true;
}

// Reply states of the created recipients from their recipientStatus.
void ReadRecipientStatuses(pugi::xml_node request, Item *item) {
  pugi::xml_node recipients = Child(Child(request, "distribution"), "recipients");
  size_t index = 0;
  for (pugi::xml_node r : Elements(recipients, "recipient")) {
    if (index >= item->recipients.size()) break;
    Recipient &recipient = item->recipients[index++];
    pugi::xml_node status = Child(r, "recipientStatus");
    for (const char *reply : {"accepted", "declined"}) {
      pugi::xml_node node = Child(status, reply);
      if (!node) continue;
      recipient.reply = reply;
      recipient.replyDate = Trimmed(node.text().get());
    }
  }
}

bool ReadDateField(pugi::xml_node request, const char *name, bool required, std::string *out,
                   Answer *answer) {
  *out = ChildText(request, name);
  long long seconds = 0;
  if (out->empty()) return !required || Refused(answer, std::string("The ") + name + " is missing");
  return ParseDateTime(*out, &seconds) || Refused(answer, "Unreadable date " + *out);
}

bool ReadAppointment(pugi::xml_node request, Item *item, Answer *answer) {
  AppointmentData &a = item->appointment;
  if (!ReadDateField(request, "startDate", true, &a.startDate, answer) ||
      !ReadDateField(request, "endDate", false, &a.endDate, answer) ||
      !ReadDateField(request, "startDay", false, &a.startDay, answer) ||
      !ReadDateField(request, "endDay", false, &a.endDay, answer)) {
    return false;
  }
  a.place = ChildText(request, "place");
  a.allDay = IsTrueText(ChildText(request, "allDayEvent"));
  a.acceptLevel = ChildText(request, "acceptLevel");
  a.isPrivate = IsTrueText(ChildText(Child(request, "status"), "private"));
  pugi::xml_node alarm = Child(request, "alarm");
  if (alarm) {
    long seconds = 0;
    if (!ReadInt(Trimmed(alarm.text().get()), &seconds) || seconds < 0) {
      return Refused(answer, std::string("Bad alarm ") + alarm.text().get());
    }
    a.alarmSeconds = static_cast<int>(seconds);
    const std::string enabled = AttributeValue(alarm, "enabled");
    a.alarmEnabled = enabled.empty() || IsTrueText(enabled);
  }
  ReadRecipientStatuses(request, item);
  pugi::xml_node rule = Child(request, "rrule");
  return !rule || ReadRule(rule, &a.rule, answer);
}

}  // namespace

void CreateAppointmentItem(const HandlerCall &call, pugi::xml_node request, Answer *answer) {
  Item item;
  item.container = ChildText(request, "container");
  if (!CheckContainer(call, item.container, answer)) return;
  if (!ReadCreatedMail(request, &item, answer) || !ReadAppointment(request, &item, answer)) return;
  item.kind = "Appointment";
  if (item.created.empty()) item.created = item.appointment.startDate;
  std::string reason;
  const std::string id = AddAppointment(call.state->mailbox, item, &reason);
  if (id.empty()) {
    Refused(answer, "The appointment cannot be stored: " + reason);
    return;
  }
  AppendElement(&answer->inner, "gwm:id", id);
}

}  // namespace gwsim
