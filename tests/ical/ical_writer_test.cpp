// The iCalendar writer: each record field reaches its property, read back by
// libical; series keep their local time through the zone's VTIMEZONE; what
// the file cannot hold is warned about.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "host/ical/ical_writer.h"
#include "ical/ical_support.h"
#include "support/host_fixture.h"

namespace {

using ical_test::AddPart;
using ical_test::AddRecipient;
using ical_test::ItemLines;
using ical_test::NewRecord;
using ical_test::Record;
using ical_test::Utc;

const int64_t kStamp = 1700000000;  // 2023-11-14T22:13:20Z

struct WriterCase {
  const char *why;
  int kind;
  std::function<void(HostMessage *, const std::string &workDir)> fill;
  std::vector<std::string> present;   // whole property lines that must be there
  std::vector<std::string> absent;    // property names that must not be
  std::vector<std::string> zones;     // TZIDs of the VTIMEZONE blocks
  std::vector<std::string> warnings;  // one text each warning holds, in order
};

void Zone(HostMessage *r, const char *name) { CopyText(r->timeZoneName, sizeof r->timeZoneName, name); }
void Times(HostMessage *r, const char *start, const char *end) {
  r->startTime = Utc(start);
  r->endTime = Utc(end);
}

const std::vector<WriterCase> &WriterCases() {
  static const std::vector<WriterCase> cases = {
      {"a single appointment without a zone is written in UTC", kItemAppointment,
       [](HostMessage *r, const std::string &) { CopyText(r->location, sizeof r->location, "Room 1"); },
       {"DTSTART:20240305T090000Z", "DTEND:20240305T100000Z", "SUMMARY:Review", "LOCATION:Room 1",
        "TRANSP:OPAQUE", "X-MICROSOFT-CDO-BUSYSTATUS:BUSY", "PRIORITY:5", "DTSTAMP:20231114T221320Z"},
       {"RRULE", "CLASS", "VALARM/ACTION"}, {}, {}},
      {"a weekly Berlin series in winter is 10:00 local with the zone's block", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240108T090000Z", "20240108T100000Z");
         r->recurKind = 5;
         r->recurDayMask = 2;
         r->recurInterval = 1;
         r->recurRangeKind = 2;
       },
       {"DTSTART;TZID=Europe/Berlin:20240108T100000", "DTEND;TZID=Europe/Berlin:20240108T110000",
        "RRULE:FREQ=WEEKLY;BYDAY=MO"},
       {}, {"Europe/Berlin"}, {}},
      {"a summer start in Berlin is 10:00 local as well", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240708T080000Z", "20240708T083000Z");
       },
       {"DTSTART;TZID=Europe/Berlin:20240708T100000", "DTEND;TZID=Europe/Berlin:20240708T103000"}, {},
       {"Europe/Berlin"}, {}},
      {"an IANA zone name is taken as it stands", kItemAppointment,
       [](HostMessage *r, const std::string &) { Zone(r, "America/New_York"); },
       {"DTSTART;TZID=America/New_York:20240305T040000"}, {}, {"America/New_York"}, {}},
      {"a zone name that maps to nothing is written in UTC and warned about", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "Mars Standard Time");
         r->recurKind = 6;
         r->recurRangeKind = 2;
       },
       {"DTSTART:20240305T090000Z", "RRULE:FREQ=DAILY"}, {}, {}, {"Mars Standard Time"}},
      {"a series without a zone is written in UTC and warned about", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         r->recurKind = 6;
         r->recurRangeKind = 0;
         r->recurCount = 3;
       },
       {"DTSTART:20240305T090000Z", "RRULE:FREQ=DAILY;COUNT=3"}, {}, {}, {"without a time zone"}},
      {"an all-day appointment ending on its start day covers that one day", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         r->allDay = 1;
         r->eventKind = 2;
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240501T000000Z", "20240501T000000Z");
       },
       {"DTSTART;VALUE=DATE:20240501", "DTEND;VALUE=DATE:20240502"}, {}, {}, {}},
      {"an all-day end is the day after the last one", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         r->allDay = 1;
         Times(r, "20240501T000000Z", "20240503T000000Z");
       },
       {"DTSTART;VALUE=DATE:20240501", "DTEND;VALUE=DATE:20240503"}, {}, {}, {}},
      {"an all-day start at local midnight is that local day", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         r->eventKind = 2;
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240430T220000Z", "20240501T220000Z");
       },
       {"DTSTART;VALUE=DATE:20240501", "DTEND;VALUE=DATE:20240502"}, {}, {}, {}},
      {"an all-day series ends on a date", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         r->allDay = 1;
         Times(r, "20240501T000000Z", "20240501T000000Z");
         r->recurKind = 1;
         r->recurMonth = 5;
         r->recurMonthDay = 1;
         r->recurRangeKind = 1;
         r->recurUntil = Utc("20300501T000000Z");
       },
       {"RRULE:FREQ=YEARLY;UNTIL=20300501;BYMONTHDAY=1;BYMONTH=5"}, {}, {}, {}},
      {"monthly on the last Friday with a count", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240126T090000Z", "20240126T100000Z");
         r->recurKind = 4;
         r->recurOccurrence = -1;
         r->recurDayMask = 32;
         r->recurRangeKind = 0;
         r->recurCount = 10;
       },
       {"RRULE:FREQ=MONTHLY;COUNT=10;BYDAY=-1FR"}, {}, {"Europe/Berlin"}, {}},
      {"yearly on a month day until a last day: UNTIL is that day's end in the zone", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240517T080000Z", "20240517T090000Z");
         r->recurKind = 1;
         r->recurMonth = 5;
         r->recurMonthDay = 17;
         r->recurRangeKind = 1;
         r->recurUntil = Utc("20300517T000000Z");
       },
       {"RRULE:FREQ=YEARLY;UNTIL=20300517T215959Z;BYMONTHDAY=17;BYMONTH=5"}, {}, {"Europe/Berlin"}, {}},
      {"daily on weekdays every second day", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "W. Europe Standard Time");
         r->recurKind = 7;
         r->recurDayMask = 62;
         r->recurInterval = 2;
         r->recurRangeKind = 2;
       },
       {"RRULE:FREQ=DAILY;INTERVAL=2;BYDAY=MO,TU,WE,TH,FR"}, {}, {"Europe/Berlin"}, {}},
      {"yearly on the second Tuesday of March", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240312T090000Z", "20240312T100000Z");
         r->recurKind = 2;
         r->recurOccurrence = 2;
         r->recurDayMask = 4;
         r->recurMonth = 3;
         r->recurRangeKind = 2;
       },
       {"RRULE:FREQ=YEARLY;BYDAY=2TU;BYMONTH=3"}, {}, {"Europe/Berlin"}, {}},
      {"rule parts the record leaves at 0 come from the start day", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         Zone(r, "W. Europe Standard Time");
         Times(r, "20240312T090000Z", "20240312T100000Z");
         r->recurKind = 4;
         r->recurRangeKind = 2;
       },
       {"RRULE:FREQ=MONTHLY;BYDAY=2TU"}, {}, {"Europe/Berlin"}, {}},
      {"an unknown recurrence kind is a single appointment, warned about", kItemAppointment,
       [](HostMessage *r, const std::string &) { r->recurKind = 9; }, {}, {"RRULE"}, {}, {"kind 9"}},
      {"organizer and attendees carry their replies and roles", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         CopyText(r->organizerName, sizeof r->organizerName, "Olga");
         CopyText(r->organizerAddress, sizeof r->organizerAddress, "olga@example.com");
         AddRecipient(r, kRecipOrganizer, 0, "Olga", "olga@example.com");
         AddRecipient(r, kRecipTo, 1, "Alice", "alice@example.com");
         AddRecipient(r, kRecipTo, 2, "Bob", "bob@example.com");
         AddRecipient(r, kRecipCc, 3, "Carl", "carl@example.com");
         AddRecipient(r, kRecipTo, 0, "", "dora@example.com");
         AddRecipient(r, kRecipTo, 1, "No Address", "");
       },
       {"ORGANIZER;CN=Olga:mailto:olga@example.com",
        "ATTENDEE;CN=Olga;PARTSTAT=NEEDS-ACTION;ROLE=CHAIR:mailto:olga@example.com",
        "ATTENDEE;CN=Alice;PARTSTAT=ACCEPTED;ROLE=REQ-PARTICIPANT:mailto:alice@example.com",
        "ATTENDEE;CN=Bob;PARTSTAT=DECLINED;ROLE=REQ-PARTICIPANT:mailto:bob@example.com",
        "ATTENDEE;CN=Carl;PARTSTAT=TENTATIVE;ROLE=OPT-PARTICIPANT:mailto:carl@example.com",
        "ATTENDEE;PARTSTAT=NEEDS-ACTION;ROLE=REQ-PARTICIPANT:mailto:dora@example.com"},
       {}, {}, {"No Address"}},
      {"the organizer comes from its recipient entry when the fields are empty", kItemAppointment,
       [](HostMessage *r, const std::string &) { AddRecipient(r, kRecipOrganizer, 1, "Olga", "olga@example.com"); },
       {"ORGANIZER;CN=Olga:mailto:olga@example.com"}, {}, {}, {}},
      {"privacy, alarm, categories and high priority", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         r->isPrivate = 1;
         r->alarmSet = 1;
         r->alarmMinutes = 15;
         r->importance = 2;
         CopyText(r->categories, sizeof r->categories, "Work;Früh;");
       },
       {"CLASS:PRIVATE", "PRIORITY:1", "CATEGORIES:Work", "CATEGORIES:Früh", "VALARM/ACTION:DISPLAY",
        "VALARM/TRIGGER:-PT15M", "VALARM/DESCRIPTION:Review"},
       {}, {}, {}},
      {"free and out-of-office show-as states and low priority", kItemAppointment,
       [](HostMessage *r, const std::string &) {
         r->busyState = 3;
         r->importance = 0;
       },
       {"TRANSP:OPAQUE", "X-MICROSOFT-CDO-BUSYSTATUS:OOF", "PRIORITY:9"}, {}, {}, {}},
      {"shown as free is transparent", kItemAppointment,
       [](HostMessage *r, const std::string &) { r->busyState = 0; },
       {"TRANSP:TRANSPARENT", "X-MICROSOFT-CDO-BUSYSTATUS:FREE"}, {}, {}, {}},
      {"the text body becomes the description, attachments inline base64", kItemAppointment,
       [](HostMessage *r, const std::string &work) {
         AddPart(r, work, kPartHtmlBody, "text.htm", "<p>Agenda</p>");
         AddPart(r, work, kPartTextBody, "Message.txt", "Agenda\r\nline 2");
         AddPart(r, work, kPartFile, "notes.pdf", std::string("%PDF-1\0\x01", 8));
       },
       {"DESCRIPTION:Agenda\\nline 2",
        "ATTACH;VALUE=BINARY;FMTTYPE=application/pdf;ENCODING=BASE64;X-FILENAME=notes.pdf:JVBERi0xAAE="},
       {}, {}, {}},
      {"a Windows-1252 title becomes UTF-8", kItemAppointment,
       [](HostMessage *r, const std::string &) { CopyText(r->title, sizeof r->title, "Gr\xfc\xdf" "e"); },
       {"SUMMARY:Grüße"}, {}, {}, {}},
      {"a task completed by its flag keeps its percent", kItemTask,
       [](HostMessage *r, const std::string &) {
         r->contactFlag = 2;
         r->percentComplete = 40;
         r->taskPriority = 2;
       },
       {"DTSTART:20240305T090000Z", "DUE:20240305T100000Z", "STATUS:COMPLETED", "PERCENT-COMPLETE:40",
        "PRIORITY:1", "SUMMARY:Review"},
       {"DTEND", "TRANSP"}, {}, {}},
      {"a task at 100 percent is completed", kItemTask,
       [](HostMessage *r, const std::string &) { r->percentComplete = 100; },
       {"STATUS:COMPLETED", "PERCENT-COMPLETE:100"}, {}, {}, {}},
      {"a task under way is in process", kItemTask,
       [](HostMessage *r, const std::string &) {
         r->percentComplete = 30;
         r->taskPriority = 1;
       },
       {"STATUS:IN-PROCESS", "PERCENT-COMPLETE:30", "PRIORITY:5"}, {}, {}, {}},
      {"a task with a start of 0 has no start", kItemTask,
       [](HostMessage *r, const std::string &) { r->startTime = U64ToFileTime(0); },
       {"DUE:20240305T100000Z", "STATUS:NEEDS-ACTION"}, {"DTSTART"}, {}, {}},
      {"a task that starts after it is due loses its start, warned about", kItemTask,
       [](HostMessage *r, const std::string &) { Times(r, "20240310T000000Z", "20240305T000000Z"); },
       {"DUE:20240305T000000Z"}, {"DTSTART"}, {}, {"starts after"}},
  };
  return cases;
}

class IcalWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.Init(), 0); }

  Record BaseRecord(int kind) {
    Record r = NewRecord(kind);
    CopyText(r->messageId, sizeof r->messageId, "4A1B.DOM.PO.100.1.1.1@1");
    CopyText(r->title, sizeof r->title, "Review");
    Times(r.get(), "20240305T090000Z", "20240305T100000Z");
    r->busyState = 2;
    r->importance = 1;
    r->taskPriority = 1;
    return r;
  }

  testing_support::TestHost host_;
};

std::string Name(const std::string &line) { return line.substr(0, line.find_first_of(";:")); }

TEST_F(IcalWriterTest, FieldsReachTheirProperties) {
  for (const WriterCase &c : WriterCases()) {
    SCOPED_TRACE(c.why);
    Record r = BaseRecord(c.kind);
    c.fill(r.get(), host_.workDir());
    std::string text, error;
    std::vector<std::string> warnings;
    ASSERT_EQ(ical::BuildItemCalendar(*r, host_.workDir(), kStamp, &text, &warnings, &error), 0) << error;
    std::vector<std::string> zones;
    const std::vector<std::string> lines = ItemLines(text, &zones);
    ASSERT_FALSE(lines.empty()) << text;
    for (const std::string &want : c.present)
      EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << "missing " << want << "\n" << text;
    for (const std::string &name : c.absent)
      for (const std::string &line : lines) EXPECT_NE(Name(line), name) << line;
    EXPECT_EQ(zones, c.zones);
    ASSERT_EQ(warnings.size(), c.warnings.size()) << (warnings.empty() ? "" : warnings[0]);
    for (size_t i = 0; i < warnings.size(); ++i) EXPECT_NE(warnings[i].find(c.warnings[i]), std::string::npos) << warnings[i];
    EXPECT_NE(text.find("UID:" + ical::ItemUid(*r) + "\r\n"), std::string::npos);
  }
}

TEST_F(IcalWriterTest, RecordsThatCannotBeWrittenFail) {
  const struct {
    const char *why;
    int kind;
    bool partFile;  // a part whose file is missing
  } cases[] = {
      {"mail is no calendar item", kItemMail, false},
      {"a contact is no calendar item", kItemContact, false},
      {"a text body whose file is gone", kItemAppointment, true},
      {"an attachment of a task whose file is gone", kItemTask, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    Record r = BaseRecord(c.kind);
    if (c.partFile) {
      ASSERT_NE(com_AllocPart(r.get()), 0);
      r->parts[r->partCount]->kind = c.kind == kItemTask ? kPartFile : kPartTextBody;
      r->msgSeq = 99;
      r->partCount++;
    }
    std::string text, error;
    std::vector<std::string> warnings;
    EXPECT_EQ(ical::BuildItemCalendar(*r, host_.workDir(), kStamp, &text, &warnings, &error), -1);
    EXPECT_FALSE(error.empty());
  }
}

TEST_F(IcalWriterTest, UidDependsOnTheGroupWiseIdAlone) {
  Record a = BaseRecord(kItemAppointment), b = BaseRecord(kItemAppointment);
  CopyText(b->title, sizeof b->title, "Renamed");
  b->startTime = Utc("20250101T000000Z");
  EXPECT_EQ(ical::ItemUid(*a), ical::ItemUid(*b)) << "the same item in another run or with edits";
  CopyText(b->messageId, sizeof b->messageId, "4A1B.DOM.PO.100.1.1.2@1");
  EXPECT_NE(ical::ItemUid(*a), ical::ItemUid(*b));
  // Without an id, the fields that tell items apart decide, the same each time.
  Record c = BaseRecord(kItemTask), d = BaseRecord(kItemTask);
  c->messageId[0] = d->messageId[0] = '\0';
  EXPECT_EQ(ical::ItemUid(*c), ical::ItemUid(*d));
  d->endTime = Utc("20240306T000000Z");
  EXPECT_NE(ical::ItemUid(*c), ical::ItemUid(*d));
}

}  // namespace
