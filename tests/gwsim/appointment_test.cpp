// Appointments in the simulator: rules expanded into occurrences (in the
// appointment's zone, across summer time), the demo calendar as
// getItemRequest shows it, and createItemRequest for appointments.
#include <list>
#include <string>
#include <vector>

#include "gwsim/appointment_data.h"
#include "gwsim/mailbox.h"
#include "gwsim_client.h"

namespace {

using gwsim_test::StatusCode;

struct ExpandCase {
  const char *why;
  gwsim::AppointmentData series;
  std::string dates;  // "start..end" of each occurrence, "; "-joined, or "error: reason"
};

gwsim::AppointmentData Series(const char *start, const char *end, const char *frequency,
                              int count, const char *until = "", const char *zone = "") {
  gwsim::AppointmentData a;
  a.startDate = start;
  a.endDate = end;
  a.timezone = zone;
  a.rule.frequency = frequency;
  a.rule.count = count;
  a.rule.until = until;
  return a;
}

gwsim::AppointmentData WithDays(gwsim::AppointmentData a, std::vector<gwsim::RuleDay> days) {
  a.rule.byDay = days;
  return a;
}

gwsim::AppointmentData Yearly17May() {
  gwsim::AppointmentData a = Series("2026-05-17T09:00:00Z", "2026-05-17T10:00:00Z", "Yearly", 2);
  a.rule.byMonthDay = {17};
  a.rule.byMonth = {4};
  return a;
}

gwsim::AppointmentData AllDayWeekly() {
  gwsim::AppointmentData a = Series("", "", "Weekly", 2);
  a.allDay = true;
  a.startDay = "2026-03-27";
  a.endDay = "2026-03-28";
  return a;
}

std::string Expanded(const gwsim::AppointmentData &series) {
  std::vector<gwsim::Occurrence> out;
  std::string reason;
  if (!gwsim::ExpandRule(series, &out, &reason)) return "error: " + reason;
  std::string dates;
  for (const gwsim::Occurrence &o : out) {
    if (!dates.empty()) dates += "; ";
    dates += o.start + ".." + o.end;
  }
  return dates;
}

TEST(AppointmentRuleTest, RulesExpandIntoTheirOccurrences) {
  const ExpandCase cases[] = {
      {"10:00 in Berlin stays 10:00 across the change to summer time (29 March)",
       Series("2026-03-18T09:00:00Z", "2026-03-18T10:00:00Z", "Weekly", 3, "",
              "W. Europe Standard Time"),
       "2026-03-18T09:00:00Z..2026-03-18T10:00:00Z; 2026-03-25T09:00:00Z..2026-03-25T10:00:00Z; "
       "2026-04-01T08:00:00Z..2026-04-01T09:00:00Z"},
      {"without a zone the time stays in UTC; the days in week order from the start",
       WithDays(Series("2026-03-04T09:00:00Z", "2026-03-04T09:30:00Z", "Weekly", 4),
                {{"Friday", 0}, {"Monday", 0}, {"Wednesday", 0}}),
       "2026-03-04T09:00:00Z..2026-03-04T09:30:00Z; 2026-03-06T09:00:00Z..2026-03-06T09:30:00Z; "
       "2026-03-09T09:00:00Z..2026-03-09T09:30:00Z; 2026-03-11T09:00:00Z..2026-03-11T09:30:00Z"},
      {"monthly on the last Friday",
       WithDays(Series("2026-01-30T14:00:00Z", "2026-01-30T15:00:00Z", "Monthly", 3),
                {{"Friday", -1}}),
       "2026-01-30T14:00:00Z..2026-01-30T15:00:00Z; 2026-02-27T14:00:00Z..2026-02-27T15:00:00Z; "
       "2026-03-27T14:00:00Z..2026-03-27T15:00:00Z"},
      {"yearly on 17 May: month 4 counted from 0", Yearly17May(),
       "2026-05-17T09:00:00Z..2026-05-17T10:00:00Z; 2027-05-17T09:00:00Z..2027-05-17T10:00:00Z"},
      {"daily on weekdays passes over the weekend",
       WithDays(Series("2026-03-06T07:00:00Z", "2026-03-06T07:15:00Z", "Daily", 2),
                {{"Monday", 0}, {"Tuesday", 0}, {"Wednesday", 0}, {"Thursday", 0},
                 {"Friday", 0}}),
       "2026-03-06T07:00:00Z..2026-03-06T07:15:00Z; 2026-03-09T07:00:00Z..2026-03-09T07:15:00Z"},
      {"an until date ends the series on that day",
       Series("2026-03-02T09:00:00Z", "2026-03-02T10:00:00Z", "Daily", 0, "2026-03-04"),
       "2026-03-02T09:00:00Z..2026-03-02T10:00:00Z; 2026-03-03T09:00:00Z..2026-03-03T10:00:00Z; "
       "2026-03-04T09:00:00Z..2026-03-04T10:00:00Z"},
      {"all-day occurrences are days", AllDayWeekly(),
       "2026-03-27..2026-03-28; 2026-04-03..2026-04-04"},
      {"an unknown frequency is refused",
       Series("2026-03-02T09:00:00Z", "2026-03-02T10:00:00Z", "Hourly", 2),
       "error: unknown frequency \"Hourly\""},
      {"a rule that gives no date is refused",
       WithDays(Series("2026-03-02T09:00:00Z", "2026-03-02T10:00:00Z", "Monthly", 0,
                       "2026-03-20"),
                {{"Monday", 5}}),
       "error: the rule yields no occurrence"},
  };
  for (const ExpandCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.dates, Expanded(c.series));
  }
  gwsim::AppointmentData open =
      Series("2026-03-02T09:00:00Z", "2026-03-02T10:00:00Z", "Weekly", 0);
  std::vector<gwsim::Occurrence> out;
  std::string reason;
  ASSERT_TRUE(gwsim::ExpandRule(open, &out, &reason));
  EXPECT_EQ(10u, out.size()) << "a rule without end keeps ten occurrences";
}

class AppointmentAnswerTest : public gwsim_test::ServerTest {
 protected:
  std::vector<std::string> CalendarIds() {
    auto lock = server.mailbox().Lock();
    calendar_ = server.mailbox().FindFolderByType("alice", "Calendar")->id;
    std::vector<std::string> ids;
    for (const gwsim::Item *item : server.mailbox().ItemsIn(calendar_)) ids.push_back(item->id);
    return ids;
  }
  // Each answer in a document of its own, so that earlier ones stay readable.
  pugi::xml_node Item(const std::string &id) {
    answers_.emplace_back();
    return gwsim_test::Call(&client, server.url(), session, "getItemRequest",
                            "<m:getItemRequest><id>" + id + "</id></m:getItemRequest>",
                            &answers_.back())
        .child("gwm:item");
  }
  std::string calendar_;
  std::list<pugi::xml_document> answers_;
};

TEST_F(AppointmentAnswerTest, TheDemoCalendarShowsEachOccurrenceWithItsSeries) {
  const std::vector<std::string> ids = CalendarIds();
  ASSERT_EQ(9u, ids.size());
  pugi::xml_node first = Item(ids[0]);
  pugi::xml_node fifth = Item(ids[4]);
  // Schema order after the mail content: rule, key, dates, accept level, alarm, place, zone.
  std::vector<std::string> order;
  bool afterSubject = false;
  for (pugi::xml_node n = fifth.first_child(); n; n = n.next_sibling()) {
    if (afterSubject) order.push_back(n.name());
    if (std::string(n.name()) == "gwt:subject") afterSubject = true;
  }
  EXPECT_EQ((std::vector<std::string>{"gwt:distribution", "gwt:message", "gwt:rrule",
                                      "gwt:recurrenceKey", "gwt:startDate", "gwt:endDate",
                                      "gwt:acceptLevel", "gwt:alarm", "gwt:place",
                                      "gwt:timezone"}),
            order);
  EXPECT_STREQ(first.child_value("gwt:recurrenceKey"), fifth.child_value("gwt:recurrenceKey"));
  EXPECT_STREQ("2026-03-04T09:00:00Z", first.child_value("gwt:startDate"));
  EXPECT_STREQ("2026-04-01T08:00:00Z", fifth.child_value("gwt:startDate"));
  EXPECT_STREQ("Weekly", fifth.child("gwt:rrule").child_value("gwt:frequency"));
  EXPECT_STREQ("6", fifth.child("gwt:rrule").child_value("gwt:count"));
  EXPECT_STREQ("1", fifth.child("gwt:alarm").attribute("enabled").value());
  EXPECT_STREQ("W. Europe Standard Time",
               fifth.child("gwt:timezone").child("gwt:standard").child_value("gwt:name"));
  std::vector<std::string> answers;
  for (pugi::xml_node r : fifth.child("gwt:distribution").child("gwt:recipients").children()) {
    pugi::xml_node status = r.child("gwt:recipientStatus").first_child();
    answers.push_back(std::string(r.child_value("gwt:email")) + " " +
                      (status ? status.name() : "-"));
  }
  EXPECT_EQ((std::vector<std::string>{"alice@example.com gwt:accepted",
                                      "bob@example.com gwt:accepted",
                                      "carol@example.com gwt:declined", "dave@example.com -"}),
            answers);
  pugi::xml_node holiday = Item(ids[6]);
  EXPECT_STREQ("2026-04-06", holiday.child_value("gwt:startDay"));
  EXPECT_STREQ("1", holiday.child_value("gwt:allDayEvent"));
  pugi::xml_node dentist = Item(ids[7]);
  EXPECT_STREQ("1", dentist.child("gwt:status").child_value("gwt:private"));
  EXPECT_STREQ("1800", dentist.child_value("gwt:alarm"));
  pugi::xml_node review = Item(ids[8]);
  EXPECT_STREQ("text.htm", review.child("gwt:attachments").child("gwt:attachment")
                               .child_value("gwt:name"));
}

TEST(AppointmentGeneratorTest, GeneratedAppointmentsHaveAttendeesAndSomeAreSeries) {
  gwsim::Mailbox mailbox;
  gwsim::LoadDemoMailbox(&mailbox);
  const std::string calendar = mailbox.FindFolderByType("alice", "Calendar")->id;
  const size_t before = mailbox.ItemsIn(calendar).size();
  ASSERT_TRUE(gwsim::GenerateAppointments(&mailbox, "alice", 10));
  std::vector<const gwsim::Item *> items = mailbox.ItemsIn(calendar);
  // Ten appointments, the first and the sixth weekly series of four.
  ASSERT_EQ(before + 10 + 2 * 3, items.size());
  const gwsim::Item &first = *items[before];
  EXPECT_EQ("Generated appointment 1", first.subject);
  EXPECT_EQ(3u, first.recipients.size());
  EXPECT_EQ("2026-01-01T09:00:00Z", first.appointment.startDate);
  EXPECT_EQ(first.appointment.recurrenceKey, items[before + 3]->appointment.recurrenceKey);
  EXPECT_EQ("2026-01-22T09:00:00Z", items[before + 3]->appointment.startDate);
  const gwsim::Item &second = *items[before + 4];
  EXPECT_EQ("Generated appointment 2", second.subject);
  EXPECT_EQ(2u, second.recipients.size());
  EXPECT_EQ(0u, second.appointment.recurrenceKey);
  EXPECT_FALSE(gwsim::GenerateAppointments(&mailbox, "nobody", 1));
}

std::string AppointmentRequest(const std::string &container, const std::string &content) {
  return "<m:createItemRequest>\n<item type=\"Appointment\">\n<container>" + container +
         "</container>\n<subject>New</subject>\n" + content + "</item>\n</m:createItemRequest>\n";
}

TEST_F(AppointmentAnswerTest, CreatedSeriesAreStoredAsOccurrencesAndBadOnesRefused) {
  CalendarIds();
  const std::string start = "<startDate>2026-06-01T09:00:00Z</startDate>\n";
  struct Case {
    const char *why;
    std::string content;
    int code;
    size_t added;
  } cases[] = {
      {"no start date", "<endDate>2026-06-01T10:00:00Z</endDate>\n", 59905, 0},
      {"an unreadable date", "<startDate>June</startDate>\n", 59905, 0},
      {"a month the server does not count (12)",
       start + "<rrule><frequency>Yearly</frequency><count>2</count><byMonth><month>12</month>"
               "</byMonth></rrule>",
       59905, 0},
      {"an unknown frequency", start + "<rrule><frequency>Hourly</frequency></rrule>", 59905, 0},
      {"a bad alarm", start + "<alarm enabled=\"1\">soon</alarm>", 59905, 0},
      {"a single appointment", start, 0, 1},
      {"a weekly series of three with attendees' answers",
       start + "<distribution>\n<recipients>\n<recipient>\n<email>\nbob@example.com\n</email>\n"
               "<recipientStatus>\n<accepted>\n2026-05-01T00:00:00Z\n</accepted>\n"
               "</recipientStatus>\n</recipient>\n</recipients>\n</distribution>\n"
               "<rrule>\n<frequency>Weekly</frequency>\n<count>3</count>\n<byDay>\n"
               "<day>Monday</day>\n</byDay>\n<honorRule>true</honorRule>\n</rrule>\n",
       0, 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    const size_t before = CalendarIds().size();
    pugi::xml_node response = Ask("createItemRequest", AppointmentRequest(calendar_, c.content));
    EXPECT_EQ(c.code, StatusCode(response));
    const std::vector<std::string> ids = CalendarIds();
    ASSERT_EQ(before + c.added, ids.size());
    if (c.added == 0) continue;
    EXPECT_EQ(ids[before], std::string(response.child_value("gwm:id")));
    if (c.added < 2) continue;
    pugi::xml_node last = Item(ids.back());
    EXPECT_STREQ(Item(ids[before]).child_value("gwt:recurrenceKey"),
                 last.child_value("gwt:recurrenceKey"));
    EXPECT_STREQ("2026-06-15T09:00:00Z", last.child_value("gwt:startDate"));
    EXPECT_STREQ("accepted", last.child("gwt:distribution").child("gwt:recipients")
                                 .child("gwt:recipient").child("gwt:recipientStatus")
                                 .first_child().name() + 4);
  }
}

}  // namespace
