// ParseAppointment on saved getItemResponses: the recurrence rule, dates,
// alarm and the other fields, organizer and attendees, the recurrence-key
// list, and the results that keep an item from the host.
#include <gtest/gtest.h>

#include <string>

#include "calendar_support.h"
#include "platform/bounded_text.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/calendar_reader.h"
#include "reader/recurrence_keys.h"

namespace calendar_test {
namespace {

const std::string kHour =
    "<gwt:startDate>2026-03-02T09:00:00Z</gwt:startDate>"
    "<gwt:endDate>2026-03-02T10:00:00Z</gwt:endDate>";
const std::string kHourText = "2026-03-02T09:00:00Z..2026-03-02T10:00:00Z";
const std::string kPlain = "|allDay=0 ev=0|alarm=0/0|priv=0 busy=0 imp=1|tz=|org= <> match=0|recips=|parts=";

std::string Rule(const std::string &inner, int key) {
  return "<gwt:rrule>" + inner + "</gwt:rrule><gwt:recurrenceKey>" + std::to_string(key) +
         "</gwt:recurrenceKey>";
}

struct FieldCase {
  const char *why;
  std::string inner;
  bool d179;
  std::string summary;
};

TEST_F(CalendarTest, AnswersFillTheAppointmentFields) {
  const std::string westEurope =
      "<gwt:timezone><gwt:daylight><gwt:name>W. Europe Daylight Time</gwt:name>"
      "<gwt:month>2</gwt:month><gwt:dayOfWeek occurrence=\"Last\">Sunday</gwt:dayOfWeek>"
      "<gwt:offset>7200</gwt:offset></gwt:daylight><gwt:standard>"
      "<gwt:name>W. Europe Standard Time</gwt:name><gwt:month>9</gwt:month>"
      "<gwt:offset>3600</gwt:offset></gwt:standard></gwt:timezone>";
  const FieldCase cases[] = {
      {"weekly on two days with a count: kind 5, the mask, range 0",
       "<gwt:subject>Standup</gwt:subject>" +
           Rule("<gwt:frequency>Weekly</gwt:frequency><gwt:count>10</gwt:count><gwt:byDay>"
                "<gwt:day>Monday</gwt:day><gwt:day>Wednesday</gwt:day></gwt:byDay>",
                11) +
           kHour,
       false,
       "Standup||kind=5 int=1 occ=0 mask=10 month=0 mday=0 range=0 count=10 until=-|" +
           kHourText + kPlain},
      {"neither count nor until: never ends (range 2); the interval is read",
       Rule("<gwt:frequency>Daily</gwt:frequency><gwt:interval>2</gwt:interval>", 12) + kHour,
       false,
       "||kind=6 int=2 occ=0 mask=0 month=0 mday=0 range=2 count=0 until=-|" + kHourText +
           kPlain},
      {"an until date: range 1 and the date (a date alone is read at noon)",
       Rule("<gwt:frequency>Weekly</gwt:frequency><gwt:until>2026-06-30</gwt:until>"
            "<gwt:byDay><gwt:day>Friday</gwt:day></gwt:byDay>",
            13) +
           kHour,
       false,
       "||kind=5 int=1 occ=0 mask=32 month=0 mday=0 range=1 count=0 "
       "until=2026-06-30T12:00:00Z|" +
           kHourText + kPlain},
      {"monthly on the last Friday: kind 4, occurrence -1, mask 32",
       Rule("<gwt:frequency>Monthly</gwt:frequency><gwt:byDay>"
            "<gwt:day occurrence=\"-1\">Friday</gwt:day></gwt:byDay>",
            14) +
           kHour,
       false,
       "||kind=4 int=1 occ=-1 mask=32 month=0 mday=0 range=2 count=0 until=-|" + kHourText +
           kPlain},
      {"daily on weekdays becomes kind 7",
       Rule("<gwt:frequency>Daily</gwt:frequency><gwt:byDay><gwt:day>Monday</gwt:day>"
            "<gwt:day>Tuesday</gwt:day><gwt:day>Wednesday</gwt:day><gwt:day>Thursday</gwt:day>"
            "<gwt:day>Friday</gwt:day></gwt:byDay>",
            15) +
           kHour,
       false,
       "||kind=7 int=1 occ=0 mask=62 month=0 mday=0 range=2 count=0 until=-|" + kHourText +
           kPlain},
      {"yearly on 17 May: the server's month 4 is the record's 5",
       Rule("<gwt:frequency>Yearly</gwt:frequency><gwt:byMonthDay><gwt:day>17</gwt:day>"
            "</gwt:byMonthDay><gwt:byMonth><gwt:month>4</gwt:month></gwt:byMonth>",
            16) +
           kHour,
       false,
       "||kind=1 int=1 occ=0 mask=0 month=5 mday=17 range=2 count=0 until=-|" + kHourText +
           kPlain},
      {"yearly on the second Tuesday of November: kind 2, month 11",
       Rule("<gwt:frequency>Yearly</gwt:frequency><gwt:count>3</gwt:count><gwt:byDay>"
            "<gwt:day occurrence=\"2\">Tuesday</gwt:day></gwt:byDay><gwt:byMonth>"
            "<gwt:month>10</gwt:month></gwt:byMonth>",
            17) +
           kHour,
       false,
       "||kind=2 int=1 occ=2 mask=4 month=11 mday=0 range=0 count=3 until=-|" + kHourText +
           kPlain},
      {"a month the server cannot mean (past 32 bits) is no month, as one past 11 is",
       Rule("<gwt:frequency>Yearly</gwt:frequency><gwt:byMonthDay><gwt:day>17</gwt:day>"
            "</gwt:byMonthDay><gwt:byMonth><gwt:month>4294967296</gwt:month></gwt:byMonth>",
            20) +
           kHour,
       false,
       "||kind=1 int=1 occ=0 mask=0 month=0 mday=17 range=2 count=0 until=-|" + kHourText +
           kPlain},
      {"month 12 is no month either",
       Rule("<gwt:frequency>Yearly</gwt:frequency><gwt:byMonthDay><gwt:day>17</gwt:day>"
            "</gwt:byMonthDay><gwt:byMonth><gwt:month>12</gwt:month></gwt:byMonth>",
            21) +
           kHour,
       false,
       "||kind=1 int=1 occ=0 mask=0 month=0 mday=17 range=2 count=0 until=-|" + kHourText +
           kPlain},
      {"a set position's day is a month day, not a weekday",
       Rule("<gwt:frequency>Monthly</gwt:frequency><gwt:byDay><gwt:day>Monday</gwt:day>"
            "</gwt:byDay><gwt:bySetPos><gwt:day>-1</gwt:day></gwt:bySetPos>",
            18) +
           kHour,
       false,
       "||kind=3 int=1 occ=0 mask=2 month=0 mday=-1 range=2 count=0 until=-|" + kHourText +
           kPlain},
      {"/D179: the rule is not read",
       Rule("<gwt:frequency>Weekly</gwt:frequency><gwt:count>4</gwt:count>", 19) + kHour, true,
       "||kind=0 int=0 occ=0 mask=0 month=0 mday=0 range=0 count=0 until=-|" + kHourText +
           kPlain},
      {"alarm in minutes, show-as, privacy, place, priority and the standard zone's name",
       "<gwt:status><gwt:private>1</gwt:private></gwt:status><gwt:subject>Review</gwt:subject>"
       "<gwt:options><gwt:priority>High</gwt:priority></gwt:options>" +
           kHour +
           "<gwt:acceptLevel>Tentative</gwt:acceptLevel><gwt:alarm enabled=\"1\">900</gwt:alarm>"
           "<gwt:place>Room &amp; Hall</gwt:place>" +
           westEurope,
       false,
       "Review|Room & Hall|kind=0 int=0 occ=0 mask=0 month=0 mday=0 range=0 count=0 until=-|" +
           kHourText +
           "|allDay=0 ev=0|alarm=1/15|priv=1 busy=1 imp=2|tz=W. Europe Standard Time|org= <> "
           "match=0|recips=|parts="},
      {"an alarm that is not enabled, out of office, low priority",
       kHour +
           "<gwt:alarm enabled=\"0\">600</gwt:alarm><gwt:acceptLevel>OutOfOffice</gwt:acceptLevel>"
           "<gwt:priority>Low</gwt:priority>",
       false,
       "||kind=0 int=0 occ=0 mask=0 month=0 mday=0 range=0 count=0 until=-|" + kHourText +
           "|allDay=0 ev=0|alarm=0/0|priv=0 busy=3 imp=0|tz=|org= <> match=0|recips=|parts="},
      {"no start date: the begins time; no end date: the start",
       "<gwt:begins>2026-04-01T08:30:00Z</gwt:begins>", false,
       "||kind=0 int=0 occ=0 mask=0 month=0 mday=0 range=0 count=0 until=-|"
       "2026-04-01T08:30:00Z..2026-04-01T08:30:00Z" +
           kPlain},
      {"all day: the start and end days replace the dates",
       "<gwt:startDate>2026-03-04T23:00:00Z</gwt:startDate>"
       "<gwt:endDate>2026-03-05T23:00:00Z</gwt:endDate><gwt:startDay>2026-03-05</gwt:startDay>"
       "<gwt:endDay>2026-03-06</gwt:endDay><gwt:allDayEvent>1</gwt:allDayEvent>",
       false,
       "||kind=0 int=0 occ=0 mask=0 month=0 mday=0 range=0 count=0 until=-|"
       "2026-03-05T12:00:00Z..2026-03-06T12:00:00Z|allDay=1 ev=2|alarm=0/0|priv=0 busy=0 "
       "imp=1|tz=|org= <> match=0|recips=|parts="},
      {"start and end days without the all-day flag are not used; a subject in the flags is "
       "not the title",
       "<gwt:subject>Real</gwt:subject><gwt:flags><gwt:subject>Flagged</gwt:subject>"
       "</gwt:flags>" +
           kHour + "<gwt:startDay>2026-03-05</gwt:startDay><gwt:allDayEvent>0</gwt:allDayEvent>",
       false, "Real||kind=0 int=0 occ=0 mask=0 month=0 mday=0 range=0 count=0 until=-|" +
                  kHourText + kPlain},
  };
  for (const FieldCase &c : cases) {
    SCOPED_TRACE(c.why);
    gRunSettings.d179 = c.d179 ? 1 : 0;
    EXPECT_EQ(kApptParsed, Parse(c.inner));
    EXPECT_EQ(c.summary, Summary(record_));
  }
}

TEST_F(CalendarTest, WithoutAnyStartTheAppointmentStartsNow) {
  FILETIME before, after;
  GetSystemTimeAsFileTime(&before);
  EXPECT_EQ(kApptParsed, Parse("<gwt:subject>Sometime</gwt:subject>"));
  GetSystemTimeAsFileTime(&after);
  EXPECT_LE(FileTimeToU64(before), FileTimeToU64(record_->startTime));
  EXPECT_GE(FileTimeToU64(after), FileTimeToU64(record_->startTime));
  EXPECT_EQ(FileTimeToU64(record_->startTime), FileTimeToU64(record_->endTime));
}

struct OrganizerCase {
  const char *why;
  const char *d159;
  const char *userEmail;
  std::string organizerAndRecipients;
};

TEST_F(CalendarTest, TheOrganizerIsMarkedAmongTheAttendees) {
  const std::string people =
      "<gwt:distribution><gwt:from><gwt:displayName>Olga Org</gwt:displayName>"
      "<gwt:email>olga@example.com</gwt:email></gwt:from><gwt:recipients>"
      "<gwt:recipient><gwt:displayName>Olga Org</gwt:displayName>"
      "<gwt:email>OLGA@example.com</gwt:email><gwt:distType>TO</gwt:distType></gwt:recipient>"
      "<gwt:recipient><gwt:displayName>Bob Brown</gwt:displayName>"
      "<gwt:email>bob@example.com</gwt:email><gwt:distType>TO</gwt:distType>"
      "<gwt:recipientStatus><gwt:declined>2026-03-01T10:00:00Z</gwt:declined>"
      "</gwt:recipientStatus></gwt:recipient>"
      "<gwt:recipient><gwt:displayName>Cy Cole</gwt:displayName>"
      "<gwt:email>cy@example.com</gwt:email><gwt:distType>CC</gwt:distType>"
      "<gwt:recipientStatus><gwt:accepted>2026-03-01T10:00:00Z</gwt:accepted>"
      "</gwt:recipientStatus></gwt:recipient></gwt:recipients></gwt:distribution>";
  const OrganizerCase cases[] = {
      {"the organizer's own entry (address in any case) gets kind 31; no /D159", "", "",
       "org=Olga Org <olga@example.com> match=0|recips=Olga Org <OLGA@example.com> 31/1;"
       "Bob Brown <bob@example.com> 3/2;Cy Cole <cy@example.com> 11/1;"},
      {"/D159 names the organizer's address in another case", "OLGA@EXAMPLE.COM", "",
       "org=Olga Org <olga@example.com> match=1|recips=Olga Org <OLGA@example.com> 31/1;"
       "Bob Brown <bob@example.com> 3/2;Cy Cole <cy@example.com> 11/1;"},
      {"/D159 names the organizer", "olga org", "",
       "org=Olga Org <olga@example.com> match=1|recips=Olga Org <OLGA@example.com> 31/1;"
       "Bob Brown <bob@example.com> 3/2;Cy Cole <cy@example.com> 11/1;"},
      {"the user organised it: attendees without an answer have none", "someone else",
       "olga@example.com",
       "org=Olga Org <olga@example.com> match=0|recips=Olga Org <OLGA@example.com> 31/0;"
       "Bob Brown <bob@example.com> 3/2;Cy Cole <cy@example.com> 11/1;"},
  };
  for (const OrganizerCase &c : cases) {
    SCOPED_TRACE(c.why);
    CopyText(gRunSettings.d159, sizeof gRunSettings.d159, c.d159);
    CopyText(gSession.userEmail, sizeof gSession.userEmail, c.userEmail);
    EXPECT_EQ(kApptParsed, Parse(people + kHour));
    std::string summary = Summary(record_);
    EXPECT_EQ(c.organizerAndRecipients,
              summary.substr(summary.find("org="), summary.find("|parts=") - summary.find("org=")));
  }
}

struct ResultCase {
  const char *why;
  std::string inner;
  int result;
};

TEST_F(CalendarTest, FurtherOccurrencesAndTasksAreNotParsedAsAppointments) {
  const std::string weekly = Rule("<gwt:frequency>Weekly</gwt:frequency>", 501) + kHour;
  const ResultCase cases[] = {
      {"the first occurrence of a series is converted", weekly, kApptParsed},
      {"a further occurrence of the same key is skipped", weekly, kApptFurtherOccurrence},
      {"an occurrence whose rule cannot be read is converted although its key was seen",
       "<gwt:recurrenceKey>501</gwt:recurrenceKey>" + kHour, kApptParsed},
      {"a key the server sends above 2^31 is kept as its 32 bits",
       "<gwt:rrule><gwt:frequency>Daily</gwt:frequency></gwt:rrule>"
       "<gwt:recurrenceKey>4294967295</gwt:recurrenceKey>",
       kApptParsed},
      {"... and its next occurrence is known",
       "<gwt:rrule><gwt:frequency>Daily</gwt:frequency></gwt:rrule>"
       "<gwt:recurrenceKey>4294967295</gwt:recurrenceKey>",
       kApptFurtherOccurrence},
      {"an item with a due date is a task", "<gwt:subject>T</gwt:subject><gwt:dueDate>"
                                            "2026-03-03T00:00:00Z</gwt:dueDate>",
       kApptIsTask},
  };
  for (const ResultCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.result, Parse(c.inner));
  }
  EXPECT_EQ(kApptNoFile, ParseAppointment(record_, WorkFile("missing.xml").c_str()));
}

TEST_F(CalendarTest, TheKeyListKeepsGrowing) {
  // More series than the old fixed list held: each key is still known.
  for (int32_t key = 1; key <= 25000; ++key) ASSERT_EQ(1, AddRecurrenceKey(key * 7));
  EXPECT_EQ(25000, RecurrenceKeyCount());
  EXPECT_EQ(1, ContainsRecurrenceKey(25000 * 7));
  EXPECT_EQ(0, ContainsRecurrenceKey(25000 * 7 + 1));
  EXPECT_FALSE(host_.HasLog("MV Warning: too many recurring entries"));
}

}  // namespace
}  // namespace calendar_test
