// Calendar content for the demo mailbox and for load tests: alice's
// meetings (a weekly series in Berlin time across the summer-time change,
// an all-day holiday, a private appointment with an alarm, a review whose
// only body is HTML), and generated appointments with attendees.
#include <string>

#include "gwsim/appointment_data.h"
#include "gwsim/item_filter.h"
#include "gwsim/mailbox.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const long long kFirstAppointmentSeconds = 1767258000;  // 2026-01-01T09:00:00Z

Recipient Attendee(const char *name, const char *email, const char *reply, const char *date) {
  Recipient r;
  r.displayName = name;
  r.email = email;
  r.reply = reply;
  r.replyDate = reply[0] != '\0' ? date : "";
  return r;
}

Item Appointment(const std::string &calendar, const char *created, const char *subject) {
  Item item;
  item.container = calendar;
  item.kind = "Appointment";
  item.created = created;
  item.subject = subject;
  item.fromName = "Alice Anders";
  item.fromEmail = "alice@example.com";
  return item;
}

BodyPart TextBody(const char *text) {
  BodyPart body;
  body.contentType = "text/plain";
  body.data = text;
  return body;
}

}  // namespace

void AddDemoCalendar(Mailbox *mailbox, const std::string &calendar) {
  std::string reason;
  // Wednesdays at 10:00 in Berlin: 09:00Z in winter, 08:00Z from April.
  Item weekly = Appointment(calendar, "2026-02-20T08:00:00Z", "Weekly team meeting");
  weekly.recipients.push_back(Attendee("Alice Anders", "alice@example.com", "accepted",
                                       "2026-02-20T08:00:00Z"));
  weekly.recipients.push_back(
      Attendee("Bob Baker", "bob@example.com", "accepted", "2026-02-20T09:15:00Z"));
  weekly.recipients.push_back(
      Attendee("Carol Clark", "carol@example.com", "declined", "2026-02-21T10:00:00Z"));
  weekly.recipients.push_back(Attendee("Dave Dorsey", "dave@example.com", "", ""));
  weekly.bodies.push_back(TextBody("Agenda: status, blockers, next steps.\n"));
  weekly.appointment.startDate = "2026-03-04T09:00:00Z";
  weekly.appointment.endDate = "2026-03-04T10:00:00Z";
  weekly.appointment.timezone = "W. Europe Standard Time";
  weekly.appointment.place = "Meeting room 2";
  weekly.appointment.acceptLevel = "Busy";
  weekly.appointment.alarmSeconds = 600;
  weekly.appointment.rule.frequency = "Weekly";
  weekly.appointment.rule.count = 6;
  weekly.appointment.rule.interval = 1;
  weekly.appointment.rule.byDay.push_back(RuleDay{"Wednesday", 0});
  AddAppointment(mailbox, weekly, &reason);

  Item holiday = Appointment(calendar, "2026-01-02T08:00:00Z", "Easter Monday");
  holiday.appointment.allDay = true;
  holiday.appointment.startDay = "2026-04-06";
  holiday.appointment.endDay = "2026-04-07";
  holiday.appointment.startDate = "2026-04-06T00:00:00Z";
  holiday.appointment.endDate = "2026-04-07T00:00:00Z";
  holiday.appointment.acceptLevel = "Free";
  mailbox->AddItem(holiday);

  Item dentist = Appointment(calendar, "2026-02-01T12:00:00Z", "Dentist");
  dentist.appointment.startDate = "2026-02-12T14:00:00Z";
  dentist.appointment.endDate = "2026-02-12T15:00:00Z";
  dentist.appointment.isPrivate = true;
  dentist.appointment.alarmSeconds = 1800;
  dentist.appointment.acceptLevel = "OutOfOffice";
  dentist.appointment.place = "Dr. Weber, Hauptstr. 5";
  dentist.appointment.timezone = "W. Europe Standard Time";
  mailbox->AddItem(dentist);

  Item review = Appointment(calendar, "2026-03-10T15:00:00Z", "Project review");
  review.priority = "High";
  review.appointment.startDate = "2026-03-20T15:00:00Z";
  review.appointment.endDate = "2026-03-20T16:30:00Z";
  review.appointment.acceptLevel = "Tentative";
  Attachment html;
  html.name = "text.htm";
  html.contentType = "text/html";
  html.hidden = true;
  html.data = "<html><body><p>Please bring the <b>Q1 figures</b>.</p></body></html>";
  review.attachments.push_back(html);
  mailbox->AddItem(review);
}

bool GenerateAppointments(Mailbox *mailbox, const std::string &owner, int count) {
  User *user = mailbox->FindUser(owner);
  if (user == nullptr) return false;
  Folder *calendar = mailbox->FindFolderByType(owner, "Calendar");
  if (calendar == nullptr) return false;
  const std::string container = calendar->id;
  const std::string ownerName = user->displayName;
  const std::string ownerEmail = user->email;
  for (int i = 0; i < count; ++i) {
    char subject[64];
    FormatText(subject, sizeof subject, "Generated appointment %d", i + 1);
    const long long start = kFirstAppointmentSeconds + 86400LL * (i / 4) + 7200LL * (i % 4);
    Item item;
    item.container = container;
    item.kind = "Appointment";
    item.created = FormatDateTime(start - 86400);
    item.subject = subject;
    item.fromName = ownerName;
    item.fromEmail = ownerEmail;
    item.recipients.push_back(Attendee(ownerName.c_str(), ownerEmail.c_str(), "accepted",
                                       item.created.c_str()));
    item.recipients.push_back(Attendee("Generator One", "one@example.com", "accepted",
                                       item.created.c_str()));
    if (i % 2 == 0) {
      item.recipients.push_back(Attendee("Generator Two", "two@example.com", "declined",
                                         item.created.c_str()));
    }
    item.bodies.push_back(TextBody((std::string(subject) + "\n").c_str()));
    item.appointment.startDate = FormatDateTime(start);
    item.appointment.endDate = FormatDateTime(start + 3600);
    item.appointment.acceptLevel = "Busy";
    item.appointment.alarmSeconds = 900;
    item.appointment.place = "Room " + std::to_string(i % 7 + 1);
    if (i % 5 == 0) {  // every fifth is a weekly series of four
      item.appointment.timezone = "W. Europe Standard Time";
      item.appointment.rule.frequency = "Weekly";
      item.appointment.rule.count = 4;
      item.appointment.rule.interval = 1;
    }
    std::string reason;
    if (AddAppointment(mailbox, item, &reason).empty()) return false;
  }
  return true;
}

}  // namespace gwsim
