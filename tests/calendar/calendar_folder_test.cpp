// ReadCalendarFolder through ConvertFolder against the simulator: further
// occurrences skipped, /D179, the item limit, SaveItem codes, fetches that
// fail; what one stored appointment carries; and the HTML-only body.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "calendar_support.h"
#include "host/mvcom/mvcom_host.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"

namespace calendar_test {
namespace {

// A weekly series of three occurrences, an all-day private event and an
// appointment whose only body is HTML.
const char kCalendar[] =
    "<folder name=\"Mailbox\" type=\"Mailbox\" id=\"MBX@16\"/>"
    "<folder name=\"Calendar\" type=\"Calendar\" id=\"CAL@16\">"
    "<item id=\"APPT.WEEKLY@1\" kind=\"Appointment\" subject=\"Weekly sync\""
    " created=\"2026-03-01T08:00:00Z\" start=\"2026-03-02T09:00:00Z\" end=\"2026-03-02T10:00:00Z\""
    " timezone=\"W. Europe Standard Time\" acceptLevel=\"Busy\" alarm=\"600\" place=\"Room 1\">"
    "<from name=\"Olga Org\" email=\"olga@example.com\"/>"
    "<to name=\"Olga Org\" email=\"olga@example.com\"/>"
    "<to name=\"Bob Brown\" email=\"bob@example.com\" declined=\"2026-03-01T09:00:00Z\"/>"
    "<text>Agenda</text>"
    "<rrule frequency=\"Weekly\" count=\"3\" byDay=\"Monday\"/>"
    "</item>"
    "<item id=\"APPT.ALLDAY@1\" kind=\"Appointment\" subject=\"Holiday\""
    " created=\"2026-03-01T08:00:00Z\" startDay=\"2026-04-06\" endDay=\"2026-04-07\" allDay=\"1\""
    " private=\"1\"/>"
    "<item id=\"APPT.HTML@1\" kind=\"Appointment\" subject=\"Slides\""
    " created=\"2026-03-01T08:00:00Z\" start=\"2026-03-10T13:00:00Z\" end=\"2026-03-10T14:00:00Z\">"
    "<html><![CDATA[<html><body><p>Bring <b>slides</b></p></body></html>]]></html>"
    "</item>"
    "</folder>";

const char kWeeklyStored[] =
    "Weekly sync|Room 1|kind=5 int=1 occ=0 mask=2 month=0 mday=0 range=0 count=3 until=-|"
    "2026-03-02T09:00:00Z..2026-03-02T10:00:00Z|allDay=0 ev=0|alarm=1/10|priv=0 busy=2 imp=1|"
    "tz=W. Europe Standard Time|org=Olga Org <olga@example.com> match=0|"
    "recips=Olga Org <olga@example.com> 31/1;Bob Brown <bob@example.com> 3/2;|"
    "parts=Message.txt 1;";

struct FolderCase {
  const char *why;
  std::vector<std::string> params;
  int itemLimit;
  std::vector<int> saveCodes;
  gwsim::FaultKind fault;  // on the fourth getItemRequest (the all-day event)
  int faultStatus;         // 0: no fault
  std::vector<int> statuses;
  int stored;
  int saveCalls;
  std::vector<std::string> itemErrors;
};

TEST_F(CalendarTest, CalendarFoldersGoToTheHostOnceASeries) {
  const FolderCase cases[] = {
      {"the series once, its two further occurrences skipped", {}, 0, {},
       gwsim::FaultKind::kStatus, 0, {0, 6, 6, 0, 0}, 3, 3, {}},
      {"/D179: every occurrence on its own", {"/D179"}, 0, {}, gwsim::FaultKind::kStatus, 0,
       {0, 0, 0, 0, 0}, 5, 5, {}},
      {"an item limit of 2 ends the folder after the second stored", {}, 2, {},
       gwsim::FaultKind::kStatus, 0, {0, 6, 6, 0}, 2, 2, {}},
      {"1235 does not end the folder; 1235 and 500 (the host failed the item) are not stored", {}, 0,
       {1235, 500}, gwsim::FaultKind::kStatus, 0, {6, 6, 6, 6, 0}, 1, 3, {}},
      {"a fetch answered with HTTP 500: nothing stored, reported with its id", {}, 0, {},
       gwsim::FaultKind::kStatus, 500, {0, 6, 6, 6, 0}, 2, 2,
       {"APPT.ALLDAY@1\t\tgetItemRequest failed, httpResponse=500"}},
  };
  ASSERT_NO_FATAL_FAILURE(Connect(kCalendar));
  for (const FolderCase &c : cases) {
    SCOPED_TRACE(c.why);
    Logoff(0);
    mvcom_Shutdown();  // a fresh migration state: nothing is a duplicate yet
    remove((host_.dataDir() + "mvmigrate.db").c_str());
    ResetRunSettings();
    ASSERT_EQ(0, LogOn("alice", "secret", c.params));
    gCalendarHost = CalendarHost();
    gCalendarHost.saveCodes = c.saveCodes;
    itemErrors_.clear();
    folderErrors_.clear();
    if (c.faultStatus != 0) {
      gwsim::Fault fault;
      fault.kind = c.fault;
      fault.status = c.faultStatus;
      fault.requestName = "getItemRequest";
      fault.nameOrdinal = static_cast<int>(Sent("getItemRequest").size()) + 4;
      server_.AddFault(fault);
    }

    EXPECT_EQ(0, Convert("Calendar", c.itemLimit));

    EXPECT_EQ(c.statuses, gCalendarHost.statuses);
    EXPECT_EQ(c.stored, storedCount_);
    EXPECT_EQ(static_cast<size_t>(c.saveCalls), gCalendarHost.stored.size());
    EXPECT_EQ(c.itemErrors, itemErrors_);
    // The calendar's path goes to the host once the reader is through.
    EXPECT_EQ(std::vector<std::string>{"Calendar"}, folderErrors_);
  }
}

// Two appointments may share title and times ("Lunch" twice at noon): each
// carries its item id, so the host's duplicate store keeps both.
TEST_F(CalendarTest, TwoAppointmentsOfOneTitleAndTimeAreBothStored) {
  const char kTwins[] =
      "<folder name=\"Mailbox\" type=\"Mailbox\" id=\"MBX@16\"/>"
      "<folder name=\"Calendar\" type=\"Calendar\" id=\"CAL@16\">"
      "<item id=\"LUNCH.A@1\" kind=\"Appointment\" subject=\"Lunch\" created=\"2026-03-01T08:00:00Z\""
      " start=\"2026-03-02T11:00:00Z\" end=\"2026-03-02T12:00:00Z\"/>"
      "<item id=\"LUNCH.B@1\" kind=\"Appointment\" subject=\"Lunch\" created=\"2026-03-01T08:00:00Z\""
      " start=\"2026-03-02T11:00:00Z\" end=\"2026-03-02T12:00:00Z\"/>"
      "</folder>";
  ASSERT_NO_FATAL_FAILURE(Connect(kTwins));
  EXPECT_EQ(0, Convert("Calendar"));
  EXPECT_EQ((std::vector<int>{0, 0}), gCalendarHost.statuses);
  EXPECT_EQ(2, storedCount_);
}

TEST_F(CalendarTest, WithLsubTheHostMayExcludeAnAppointmentByItsTitle) {
  const char *excluded[] = {"calendar entry: Holiday"};
  host_.config().excludeSubjects = excluded;
  host_.config().excludeCount = 1;
  ASSERT_NO_FATAL_FAILURE(Connect(kCalendar, {"/LSUB"}));
  EXPECT_EQ(0, Convert("Calendar"));
  EXPECT_EQ((std::vector<int>{0, 6, 6, 6, 0}), gCalendarHost.statuses);
  EXPECT_EQ(2, storedCount_);
  EXPECT_TRUE(host_.HasLog("GroupWise calendar entry: Slides, start="));
  EXPECT_EQ(1, host_.CountLog("Calendar skipped, code=2"));
  EXPECT_TRUE(itemErrors_.empty());
}

TEST_F(CalendarTest, AStoredSeriesCarriesItsRuleAttendeesAndBody) {
  ASSERT_NO_FATAL_FAILURE(Connect(kCalendar));
  EXPECT_EQ(0, Convert("Calendar"));
  ASSERT_EQ(3u, gCalendarHost.stored.size());
  EXPECT_EQ(kWeeklyStored, gCalendarHost.stored[0]);
  EXPECT_EQ("Agenda", gCalendarHost.bodies[0]);
  EXPECT_EQ(2, host_.CountLog("Extra Calendar instance skipped"));
  // All day on its days; private.
  EXPECT_NE(std::string::npos,
            gCalendarHost.stored[1].find("2026-04-06T12:00:00Z..2026-04-07T12:00:00Z|allDay=1 "
                                         "ev=2|alarm=0/0|priv=1"));
  // The HTML body stays as it is and a text form of it is added.
  EXPECT_NE(std::string::npos, gCalendarHost.stored[2].find("parts=text.htm 9;Message.txt 1;"))
      << gCalendarHost.stored[2];
  EXPECT_NE(std::string::npos, gCalendarHost.bodies[2].find("Bring slides"))
      << gCalendarHost.bodies[2];
}

}  // namespace
}  // namespace calendar_test
