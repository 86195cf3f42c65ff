// Reading calendar programs' exports: every VEVENT and VTODO of files shaped
// like Thunderbird's, Google's and Outlook's becomes a record with its times
// in UTC through its zone, its rule in the record's shapes, and a warning for
// each thing the record cannot hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "host/ical/ical_store.h"
#include "ical/ical_support.h"
#include "support/host_fixture.h"

namespace {

using ical_test::Describe;
using ical_test::NewRecord;
using ical_test::Record;

struct ReadCase {
  const char *why;
  const char *folder;  // the file's folder path (its name without ".ics")
  int folderClass;
  const char *key;
  std::vector<std::string> fields;    // "name=value" as Describe gives them
  std::vector<std::string> warnings;  // one text each warning holds, in order
};

const std::vector<ReadCase> &ReadCases() {
  static const std::vector<ReadCase> cases = {
      {"Thunderbird: a weekly series in its own VTIMEZONE, with attendees, alarm and an excluded day",
       "thunderbird", 2, "ical:tb-weekly-1@example.com",
       {"kind=2", "title=Team meeting", "location=Room 4", "start=20240108T090000Z", "end=20240108T100000Z",
        "allDay=0/0", "recur=5/1/10/0/0/0/1/0/20240626T000000Z", "zone=W. Europe Standard Time",
        "organizer=Olga Organizer <olga@example.com>",
        "recips=31:1:Olga Organizer:olga@example.com|3:1:Alice:alice@example.com|11:2:Bob:bob@example.com|"
        "3:3:Carl:carl@example.com",
        "alarm=15", "busy=2", "private=0", "priority=1/1", "categories=Business;Meetings;",
        "parts=1:Message.txt:Weekly sync.\nBring numbers."},
       {"EXDATE: 1"}},
      {"Thunderbird: an all-day event on its day, shown as free", "thunderbird", 2, "ical:tb-allday-1@example.com",
       {"start=20240501T000000Z", "end=20240502T000000Z", "allDay=1/2", "recur=0/0/0/0/0/0/0/0/", "busy=0",
        "zone=", "parts=", "recips=", "alarm=none"},
       {}},
      {"Thunderbird: a task under way with zoned dates and high priority", "thunderbird", 3,
       "ical:tb-todo-1@example.com",
       {"kind=3", "title=Write report", "start=20240301T080000Z", "end=20240308T160000Z", "task=60/0",
        "priority=2/2"},
       {}},
      {"Thunderbird: a completed task with a due date only starts on it", "thunderbird", 3,
       "ical:tb-todo-2@example.com", {"kind=3", "start=20240320T000000Z", "end=20240320T000000Z", "task=100/2"}, {}},
      {"Google: monthly on the last Friday with a count", "google", 2, "ical:g-monthly@google.com",
       {"start=20240126T140000Z", "end=20240126T143000Z", "recur=4/1/32/-1/0/0/0/12/", "zone=Eastern Standard Time"},
       {}},
      {"Google: a changed occurrence is its own appointment, keyed by its RECURRENCE-ID", "google", 2,
       "ical:g-monthly@google.com|20240223T140000Z",
       {"title=Month close (moved)", "start=20240216T140000Z", "recur=0/0/0/0/0/0/0/0/"}, {"changed occurrence"}},
      {"Google: UTC times stay as they are", "google", 2, "ical:g-utc@google.com",
       {"start=20240610T140000Z", "end=20240610T150000Z", "zone="}, {}},
      {"Google: floating times are read in the calendar's X-WR-TIMEZONE", "google", 2, "ical:g-floating@google.com",
       {"start=20240704T160000Z", "end=20240704T170000Z", "zone=Eastern Standard Time"}, {}},
      {"Google: the last workday (BYSETPOS over weekdays) becomes an nth weekday, warned about", "google", 2,
       "ical:g-lastworkday@google.com", {"start=20240131T220000Z", "recur=4/1/62/-1/0/0/2/0/"}, {"several weekdays"}},
      {"Google: several month days keep the first, warned about", "google", 2, "ical:g-payday@google.com",
       {"allDay=1/2", "recur=3/1/0/0/0/1/2/0/", "busy=0"}, {"BYMONTHDAY=1,15"}},
      {"Google: an hourly rule cannot be kept: a single appointment, warned about", "google", 2,
       "ical:g-hourly@google.com", {"start=20240102T130000Z", "recur=0/0/0/0/0/0/0/0/"}, {"frequency not kept"}},
      {"Outlook: a yearly private out-of-office day in a Windows-named zone", "outlook", 2,
       "ical:040000008200E00074C5B7101A82E00800000000A0B1C2D3E4F5060700000000000000001000000012345678",
       {"title=Jahrestag", "start=20240517T080000Z", "end=20240517T090000Z", "recur=1/1/0/0/5/17/2/0/",
        "zone=W. Europe Standard Time", "private=1", "busy=3", "priority=2/2", "alarm=1440"},
       {}},
      {"Outlook: weekdays with a count, excluded days and attachments inline and linked", "outlook", 2,
       "ical:outlook-standup",
       {"start=20240304T073000Z", "end=20240304T074500Z", "recur=5/1/62/0/0/0/0/20/", "busy=1",
        "parts=0:agenda.txt:Hello world"},
       {"EXDATE: 2", "linked attachment https://example.com/slides.pptx"}},
      {"Outlook: a Windows zone named without a VTIMEZONE is found through the zone table", "outlook", 2,
       "ical:outlook-pst", {"start=20240910T160000Z", "end=20240910T170000Z", "zone=Pacific Standard Time"}, {}},
  };
  return cases;
}

class IcalReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.Init(), 0); }
  testing_support::TestHost host_;
};

TEST_F(IcalReaderTest, ExportsOfCalendarProgramsBecomeRecords) {
  std::unique_ptr<store::ImportSource> source = ical::MakeIcalImportSource(MVGWS_TEST_DATA "/ical");
  std::vector<store::SourceFolder> folders;
  std::string error;
  ASSERT_EQ(source->ListFolders(&folders, &error), 0) << error;
  std::map<std::string, std::vector<store::SourceItem>> items;  // "folder/class" -> items
  for (const store::SourceFolder &f : folders) {
    ASSERT_EQ(source->ListItems(f, &items[f.path + "/" + std::to_string(f.folderClass)], &error), 0) << error;
  }
  for (const ReadCase &c : ReadCases()) {
    SCOPED_TRACE(c.why);
    const std::vector<store::SourceItem> &list = items[std::string(c.folder) + "/" + std::to_string(c.folderClass)];
    auto found = std::find_if(list.begin(), list.end(), [&](const store::SourceItem &i) { return i.key == c.key; });
    ASSERT_NE(found, list.end()) << c.key;
    Record r = NewRecord(0);
    std::string subject, reason;
    std::vector<std::string> warnings;
    ASSERT_EQ(source->Convert(*found, r.get(), &subject, &warnings, &reason), 0) << reason;
    EXPECT_EQ(subject, r->title);
    const std::vector<std::string> fields = Describe(*r, host_.workDir());
    for (const std::string &want : c.fields)
      EXPECT_NE(std::find(fields.begin(), fields.end(), want), fields.end())
          << "want " << want << "\nhave:\n" << ::testing::PrintToString(fields);
    ASSERT_EQ(warnings.size(), c.warnings.size()) << ::testing::PrintToString(warnings);
    for (size_t i = 0; i < warnings.size(); ++i)
      EXPECT_NE(warnings[i].find(c.warnings[i]), std::string::npos) << warnings[i];
    com_Deallocate_All(r.get(), nullptr);
  }
}

TEST_F(IcalReaderTest, EachFileIsAFolderPerKindWithItsItemsInFileOrder) {
  std::unique_ptr<store::ImportSource> source = ical::MakeIcalImportSource(MVGWS_TEST_DATA "/ical");
  std::vector<store::SourceFolder> folders;
  std::string error;
  ASSERT_EQ(source->ListFolders(&folders, &error), 0) << error;
  std::vector<std::string> listed;
  for (const store::SourceFolder &f : folders) {
    std::vector<store::SourceItem> list;
    ASSERT_EQ(source->ListItems(f, &list, &error), 0);
    listed.push_back(f.path + "/" + std::to_string(f.folderClass) + ":" + std::to_string(list.size()));
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"google/2:7", "outlook/2:3", "thunderbird/2:2", "thunderbird/3:2"}));
}

}  // namespace

namespace {

TEST_F(IcalReaderTest, DamagedItemsAreImportedAsFarAsTheyGoOrRefused) {
  const std::string dir = host_.root() + "/damaged";
  ASSERT_EQ(testing_support::RunCommand("mkdir -p '" + dir + "'").exitCode, 0);
  ASSERT_TRUE(testing_support::WriteFileBytes(
      dir + "/damaged.ics",
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
      "BEGIN:VEVENT\r\nUID:x1\r\nDTSTART:20240101T100000Z\r\nDTEND:garbage\r\n"
      "RRULE:FREQ=SOMETIMES;BYDAY=XX\r\nSUMMARY:Bad lines\r\nEND:VEVENT\r\n"
      "BEGIN:VEVENT\r\nUID:x2\r\nSUMMARY:No start\r\nEND:VEVENT\r\n"
      "END:VCALENDAR\r\n"));
  const struct {
    const char *why;
    const char *key;
    int result;
    std::vector<std::string> fields;  // when imported
    std::vector<std::string> texts;   // in the warnings, or in the reason
  } cases[] = {
      {"unreadable lines are dropped and named, the rest imported", "ical:x1", 0,
       {"title=Bad lines", "start=20240101T100000Z", "end=20240101T100000Z", "recur=0/0/0/0/0/0/0/0/"},
       {"DTEND", "RRULE"}},
      {"an event without a start is refused", "ical:x2", -1, {}, {"without a start"}},
  };
  std::unique_ptr<store::ImportSource> source = ical::MakeIcalImportSource(dir);
  std::vector<store::SourceFolder> folders;
  std::vector<store::SourceItem> items;
  std::string error;
  ASSERT_EQ(source->ListFolders(&folders, &error), 0);
  ASSERT_EQ(folders.size(), 1u);
  ASSERT_EQ(source->ListItems(folders[0], &items, &error), 0);
  ASSERT_EQ(items.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const auto &c = cases[i];
    SCOPED_TRACE(c.why);
    EXPECT_EQ(items[i].key, c.key);
    Record r = NewRecord(0);
    std::string subject, reason;
    std::vector<std::string> warnings;
    ASSERT_EQ(source->Convert(items[i], r.get(), &subject, &warnings, &reason), c.result);
    const std::vector<std::string> fields = Describe(*r, host_.workDir());
    for (const std::string &want : c.fields)
      EXPECT_NE(std::find(fields.begin(), fields.end(), want), fields.end()) << want;
    std::string said = reason;
    for (const std::string &w : warnings) said += "\n" + w;
    for (const std::string &text : c.texts) EXPECT_NE(said.find(text), std::string::npos) << said;
    EXPECT_EQ(r->partCount, 0);
  }
}

}  // namespace
