// The appointment writer: requests byte for byte against the golden files,
// the count estimate of the recurrence rule, failed writes reported, the
// host's files left alone, and a read, write, read round trip through the
// simulator.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "calendar_support.h"
#include "gwsim/mailbox.h"
#include "host/mvcom/mvcom_host.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "writer/appointment_writer.h"
#include "writer/recurrence_rule.h"
#include "writer/write_session.h"
#include "../writer/writer_test_support.h"

namespace calendar_test {
namespace {

using writer_test::AddPart;
using writer_test::AddRecipient;
using writer_test::CreateAnswer;
using writer_test::NewRecord;
using writer_test::RecordPtr;

const char kCalendarOnly[] =
    "<folder name=\"Mailbox\" type=\"Mailbox\" id=\"MBX@16\"/>"
    "<folder name=\"Calendar\" type=\"Calendar\" id=\"CAL@16\"/>";

void SetStatus(HostMessage *record, int index, int status) {
  record->recips[index]->status = status;
}

class AppointmentWriterTest : public CalendarTest {
 protected:
  void SetUp() override {
    CalendarTest::SetUp();
    ResetWriteCounters();
    partDir_ = host_.root() + "/parts/";
    ASSERT_EQ(0, mkdir(partDir_.c_str(), 0755));
  }
  void ConnectCalendar(const std::string &content = kCalendarOnly) {
    ASSERT_NO_FATAL_FAILURE(Connect(content));
    CopyText(gSession.targetContainer, sizeof gSession.targetContainer, "CAL@16");
  }
  // The request as sent, with the status time (the time of the write) as NOW.
  std::string SentRequest(size_t index) {
    std::string body = SentBody("createItemRequest", index);
    const std::string tag = "<delivered>\n";
    size_t at = body.find(tag);
    if (at == std::string::npos) return body;
    const std::string now = body.substr(at + tag.size(), 20);
    for (size_t p = body.find(now); p != std::string::npos; p = body.find(now, p))
      body.replace(p, now.size(), "NOW");
    return body;
  }
  std::string partDir_;
};

// 2019-05-02T14:30:59Z and an hour later.
FILETIME Start() { return Date("2019-05-02T14:30:59Z"); }
FILETIME End() { return Date("2019-05-02T15:30:59Z"); }

TEST_F(AppointmentWriterTest, AppointmentRequestsMatchTheGoldenFiles) {
  struct Case {
    const char *why;
    const char *golden;
    void (*fill)(HostMessage *record, const std::string &workDir, const std::string &partDir);
  };
  const Case cases[] = {
      {"no recipients: no distribution, no attendee list; weekly on Monday, Wednesday and "
       "Friday without end is 627 occurrences, the days in week order; taskPriority 2 is High",
       "weekly_no_recipients.txt",
       [](HostMessage *r, const std::string &work, const std::string &) {
         CopyText(r->title, sizeof r->title, "Standup");
         CopyText(r->location, sizeof r->location, "Room <1>");
         r->startTime = Start();
         r->endTime = End();
         r->taskPriority = 2;
         r->recurKind = 5;
         r->recurInterval = 1;
         r->recurDayMask = 42 | 128;  // bits above Saturday are ignored
         r->recurRangeKind = 2;
         AddPart(r, "Message.txt", kPartTextBody, work, "abc");
       }},
      {"organizer and attendees: the organizer in from and among the recipients, accepted "
       "and declined with the status time, a tentative one without, a bare name left out, "
       "addresses escaped; the attendee list after the text and the HTML body",
       "attendees.txt",
       [](HostMessage *r, const std::string &work, const std::string &parts) {
         CopyText(r->title, sizeof r->title, "Plan & review");
         r->startTime = Start();
         r->endTime = End();
         r->taskPriority = 1;
         AddRecipient(r, "Olga Org", "olga@example.com", kRecipOrganizer);
         AddRecipient(r, "Bob Brown", "bob&co@example.com", kRecipTo);
         SetStatus(r, 1, 1);
         AddRecipient(r, "Cy Cole", "cy@example.com", kRecipCc);
         SetStatus(r, 2, 2);
         AddRecipient(r, "Dee Dunn", "dee@example.com", kRecipTo);
         SetStatus(r, 3, 3);
         AddRecipient(r, "Room 12", "Room 12", kRecipTo);
         AddPart(r, "Message.txt", kPartTextBody, work, "Agenda\n");
         AddPart(r, "index.html", kPartHtmlBody, parts, "<p>Agenda</p>");
         AddPart(r, "plan.pdf", kPartFile, parts, "PDF");
       }},
      {"yearly on 17 April ending after 5: the month written is one less; taskPriority 0 is "
       "Low; no body",
       "yearly_month.txt",
       [](HostMessage *r, const std::string &, const std::string &) {
         CopyText(r->title, sizeof r->title, "Anniversary");
         r->startTime = Start();
         r->endTime = End();
         r->recurKind = 1;
         r->recurMonth = 4;
         r->recurMonthDay = 17;
         r->recurCount = 5;
       }},
      {"a title over 500 bytes is cut before it is escaped; yearly by the third weekday with "
       "no weekday set names no day",
       "long_title.txt",
       [](HostMessage *r, const std::string &, const std::string &) {
         std::string title(499, 't');
         title += "&&&";
         CopyText(r->title, sizeof r->title, title.c_str());
         r->startTime = Start();
         r->endTime = End();
         r->recurKind = 2;
         r->recurOccurrence = 3;
         r->recurMonth = 12;
         r->recurCount = 2;
       }},
  };
  ASSERT_NO_FATAL_FAILURE(ConnectCalendar());
  size_t sent = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    itemErrors_.clear();
    RecordPtr record = NewRecord();
    record->itemKind = kItemAppointment;
    c.fill(record.get(), host_.workDir(), partDir_);
    FaultNext(1, 200, CreateAnswer("APPT@1"));

    EXPECT_EQ(0, WriteMsg(record.get(), nullptr, partDir_.c_str(), nullptr));

    std::string golden = plugin_test::TestData(std::string("calendar/") + c.golden);
    ASSERT_FALSE(golden.empty()) << c.golden;
    EXPECT_EQ(golden, SentRequest(sent++));
    EXPECT_TRUE(itemErrors_.empty());
    EXPECT_FALSE(testing_support::FileExists(host_.workDir() + "soapreq3.tmp"));
    EXPECT_FALSE(testing_support::FileExists(host_.workDir() + "crcal.xml"));
  }
  EXPECT_TRUE(host_.HasLog(
      "debug: recipient Room 12 <Room 12> removed due to missing or invalid email address"));
}

struct CountCase {
  const char *why;
  int kind;
  int dayMask;
  int rangeKind;
  int count;
  const char *recurStart;  // "" null
  const char *startTime;
  const char *until;
  int d340;
  int expected;
};

TEST(RecurrenceCountTest, TheCountIsGivenOrEstimatedFromTheSpan) {
  const CountCase cases[] = {
      {"a count of 0 stays 0", 5, 2, 0, 0, "", "", "", 0, 0},
      {"a count is taken as it is", 6, 0, 0, 12, "", "", "", 0, 12},
      {"weekly on three days without end: 209 weeks times 3", 5, 42, 2, 0, "", "", "", 0, 627},
      {"daily without end: four years of days", 6, 0, 2, 0, "", "", "", 0, 1460},
      {"yearly without end: ten years", 1, 0, 2, 0, "", "", "", 0, 10},
      {"yearly without end over /D340 100 days: less than one year is 1", 2, 0, 2, 0, "", "", "",
       100, 1},
      {"/D340 also replaces the four years", 7, 62, 2, 0, "", "", "", 7, 7},
      {"monthly ending 45 days and a minute after the range start: 46 days, one month", 3, 0, 1,
       0, "2026-01-01T00:00:00Z", "2025-06-01T00:00:00Z", "2026-02-15T00:01:00Z", 0, 1},
      {"a range start after its end: measured from the appointment's start", 6, 0, 1, 0,
       "2026-03-20T00:00:00Z", "2026-03-01T00:00:00Z", "2026-03-11T00:00:00Z", 0, 10},
      {"an appointment start after the end as well: the distance counts, not its sign", 6, 0, 1,
       0, "2026-03-20T00:00:00Z", "2026-03-14T00:00:00Z", "2026-03-11T00:00:00Z", 0, 3},
      {"no range start: the appointment's start", 5, 2, 1, 0, "", "2026-03-02T09:00:00Z",
       "2026-03-30T09:00:00Z", 0, 4},
      {"weekly without a weekday and an end date: 0 times the weeks is 1", 5, 0, 1, 0,
       "2026-03-02T09:00:00Z", "", "2026-06-30T09:00:00Z", 0, 1},
  };
  for (const CountCase &c : cases) {
    SCOPED_TRACE(c.why);
    HostMessage *record = new HostMessage();
    record->recurKind = static_cast<int16_t>(c.kind);
    record->recurDayMask = c.dayMask;
    record->recurRangeKind = c.rangeKind;
    record->recurCount = c.count;
    record->recurStart = c.recurStart[0] ? Date(c.recurStart) : U64ToFileTime(0);
    record->startTime = c.startTime[0] ? Date(c.startTime) : U64ToFileTime(0);
    record->recurUntil = c.until[0] ? Date(c.until) : U64ToFileTime(0);
    gRunSettings.d340 = c.d340;
    EXPECT_EQ(c.expected, RecurrenceCount(record));
    delete record;
  }
  gRunSettings.d340 = 0;
}

TEST(RecurrenceCountTest, WithoutAnyStartTheSpanRunsFromNow) {
  HostMessage *record = new HostMessage();
  record->recurKind = 6;
  record->recurRangeKind = 1;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  record->recurUntil = U64ToFileTime(FileTimeToU64(now) + 10ull * 86400 * 10000000);
  EXPECT_EQ(10, RecurrenceCount(record));
  delete record;
}

TEST_F(AppointmentWriterTest, FailedWritesReachTheHostAndRetriesSendTheSameRequest) {
  ASSERT_NO_FATAL_FAILURE(ConnectCalendar());
  RecordPtr record = NewRecord();
  record->itemKind = kItemAppointment;
  CopyText(record->title, sizeof record->title, "Standup");
  AddRecipient(record.get(), "Bob Brown", "bob@example.com", kRecipTo);
  AddPart(record.get(), "Message.txt", kPartTextBody, host_.workDir(), "Body text");
  AddPart(record.get(), "index.html", kPartHtmlBody, partDir_, "<p>hi</p>");
  FaultNext(1, 200, CreateAnswer("", 59905));
  FaultNext(2, 500);
  FaultNext(3, 200, CreateAnswer("APPT@1"));

  for (int i = 0; i < 3; ++i) WriteMsg(record.get(), nullptr, partDir_.c_str(), nullptr);

  EXPECT_EQ((std::vector<std::string>{"\tStandup\tHTTP response=200, code=59905",
                                      "\tStandup\tHTTP response=500, code=0"}),
            itemErrors_);
  EXPECT_TRUE(host_.HasLog(
      "MV Warning: failed to create calendar entry, event=Standup, HTTP response=200, GWS "
      "Error=59905"));
  // Each attempt sends the same body; the host's files are as they were.
  EXPECT_EQ(SentRequest(0), SentRequest(1));
  EXPECT_EQ(SentRequest(0), SentRequest(2));
  char path[1100];
  FormatPartFileName(path, sizeof path, host_.workDir().c_str(), record->msgSeq, 0);
  EXPECT_EQ("Body text", testing_support::ReadFileBytes(path));
  FormatPartFileName(path, sizeof path, partDir_.c_str(), record->msgSeq, 1);
  EXPECT_EQ("<p>hi</p>", testing_support::ReadFileBytes(path));
}

// Each stored appointment is written straight back into the calendar, as a
// migration into the same mailbox would.
void WriteBack(HostMessage *record) { WriteMsg(record, nullptr, gSession.workDir, nullptr); }

// The fields a write carries over: title, place, rule and dates.
std::string Carried(const std::string &summary) {
  return summary.substr(0, summary.find("|allDay="));
}

TEST_F(AppointmentWriterTest, ARuleReadWrittenAndReadAgainIsTheSame) {
  const std::string calendar =
      "<folder name=\"Mailbox\" type=\"Mailbox\" id=\"MBX@16\"/>"
      "<folder name=\"Calendar\" type=\"Calendar\" id=\"CAL@16\">"
      "<item kind=\"Appointment\" subject=\"Anniversary\" created=\"2026-01-01T00:00:00Z\""
      " start=\"2026-05-17T09:00:00Z\" end=\"2026-05-17T10:00:00Z\">"
      "<rrule frequency=\"Yearly\" count=\"3\" byMonthDay=\"17\" byMonth=\"4\"/></item>"
      "<item kind=\"Appointment\" subject=\"Retro\" created=\"2026-01-01T00:00:00Z\""
      " start=\"2026-03-27T14:00:00Z\" end=\"2026-03-27T15:00:00Z\" place=\"Hall\">"
      "<from name=\"Olga Org\" email=\"olga@example.com\"/>"
      "<to name=\"Olga Org\" email=\"olga@example.com\"/>"
      "<to name=\"Bob Brown\" email=\"bob@example.com\" declined=\"2026-03-01T09:00:00Z\"/>"
      "<rrule frequency=\"Monthly\" count=\"4\" byDay=\"-1Friday\"/></item>"
      "<item kind=\"Appointment\" subject=\"Mon Wed Fri\" created=\"2026-01-01T00:00:00Z\""
      " start=\"2026-03-02T08:00:00Z\" end=\"2026-03-02T08:15:00Z\">"
      "<rrule frequency=\"Weekly\" until=\"2026-03-31\" byDay=\"Monday Wednesday Friday\"/>"
      "</item></folder>";
  ASSERT_NO_FATAL_FAILURE(ConnectCalendar(calendar));
  gCalendarHost.onSave = &WriteBack;
  EXPECT_EQ(0, Convert("Calendar"));
  gCalendarHost.onSave = nullptr;
  ASSERT_EQ(3u, gCalendarHost.stored.size());
  EXPECT_TRUE(itemErrors_.empty()) << itemErrors_[0];
  const std::vector<std::string> first = gCalendarHost.stored;

  // Only the written series are left; a new session with a fresh migration
  // state reads them.
  {
    auto lock = server_.mailbox().Lock();
    std::vector<gwsim::Item> &items = server_.mailbox().items;
    ASSERT_EQ(20u + 22u, items.size());
    items.erase(items.begin(), items.begin() + 20);
  }
  Logoff(0);
  mvcom_Shutdown();
  remove((host_.dataDir() + "mvmigrate.db").c_str());
  ASSERT_EQ(0, LogOn("alice", "secret"));
  gCalendarHost = CalendarHost();
  EXPECT_EQ(0, Convert("Calendar"));
  ASSERT_EQ(3u, gCalendarHost.stored.size());
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(first[i]);
    // An until date comes back as the count GroupWise was given.
    std::string expected = Carried(first[i]);
    const std::string until = "range=1 count=0 until=2026-03-31T12:00:00Z";
    if (expected.find(until) != std::string::npos)
      expected.replace(expected.find(until), until.size(), "range=0 count=15 until=-");
    EXPECT_EQ(expected, Carried(gCalendarHost.stored[i]));
  }
  // The attendees came back with their answers; the organizer is known by address.
  EXPECT_NE(std::string::npos,
            gCalendarHost.stored[1].find("recips= <olga@example.com> 31/1; <bob@example.com> 3/2;"))
      << gCalendarHost.stored[1];
}

}  // namespace
}  // namespace calendar_test
