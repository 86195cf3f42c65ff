// Exported vdirs as calendar and task programs read them: khal lists every
// event at its local time (a Berlin series at 10:00 in winter and in summer,
// all-day events on their days) and todoman every task, neither with a
// warning. Both run with a configuration in the test's directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/ical/ical_store.h"
#include "ical/ical_support.h"
#include "support/host_fixture.h"

namespace {

using ical_test::NewRecord;
using ical_test::Record;
using ical_test::Utc;
using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::WriteFileBytes;

struct EventSpec {
  const char *id;
  const char *title;
  const char *zone;
  const char *start;
  const char *end;
  int allDay;
  int recurKind;
  int dayMask;
  int count;  // occurrences; 0: none
};

struct TaskSpec {
  const char *id;
  const char *title;
  const char *start;
  const char *due;
  int percent;
  int completedFlag;
};

const EventSpec kEvents[] = {
    {"weekly", "Weekly sync", "W. Europe Standard Time", "20240108T090000Z", "20240108T100000Z", 0, 5, 2, 30},
    {"single", "Budget review", "", "20240305T090000Z", "20240305T103000Z", 0, 0, 0, 0},
    {"zoned", "Summer party", "W. Europe Standard Time", "20240712T160000Z", "20240712T200000Z", 0, 0, 0, 0},
    {"mayday", "May Day", "", "20240501T000000Z", "20240501T000000Z", 1, 0, 0, 0},
    {"trip", "Trip", "W. Europe Standard Time", "20240509T000000Z", "20240511T000000Z", 1, 0, 0, 0},
    {"unknownzone", "Mars call", "Mars Standard Time", "20240206T150000Z", "20240206T160000Z", 0, 0, 0, 0},
};

const TaskSpec kTasks[] = {
    {"t-open", "Write report", "20240301T080000Z", "20240308T160000Z", 30, 0},
    {"t-flag", "Book trip", "20240310T080000Z", "20240320T000000Z", 40, 2},
    {"t-done", "File taxes", "", "20240415T000000Z", 100, 0},
};

class IcalProgramsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host_.Init(), 0);
    root_ = host_.root();
    out_ = root_ + "/out/";
    env_ = "env -i PATH=/usr/bin:/bin LANG=C.UTF-8 TZ=Europe/Berlin HOME='" + root_ + "' XDG_CONFIG_HOME='" + root_ +
           "/config' XDG_DATA_HOME='" + root_ + "/share' XDG_CACHE_HOME='" + root_ + "/cache' ";
  }

  void Export() {
    std::string error;
    std::unique_ptr<store::ExportStore> calendars = ical::MakeIcalExportStore(2, out_);
    ASSERT_EQ(calendars->OpenFolder("Calendar", &error), 0) << error;
    for (const EventSpec &e : kEvents) {
      Record r = NewRecord(kItemAppointment);
      CopyText(r->messageId, sizeof r->messageId, e.id);
      CopyText(r->title, sizeof r->title, e.title);
      CopyText(r->timeZoneName, sizeof r->timeZoneName, e.zone);
      r->startTime = Utc(e.start);
      r->endTime = Utc(e.end);
      r->allDay = e.allDay;
      r->recurKind = static_cast<int16_t>(e.recurKind);
      r->recurInterval = 1;
      r->recurDayMask = e.dayMask;
      r->recurCount = e.count;
      r->busyState = 2;
      ASSERT_EQ(calendars->Write(*r, host_.workDir(), nullptr, nullptr, &error), store::kStored) << error;
    }
    std::unique_ptr<store::ExportStore> tasks = ical::MakeIcalExportStore(3, out_);
    ASSERT_EQ(tasks->OpenFolder("Tasks", &error), 0) << error;
    for (const TaskSpec &t : kTasks) {
      Record r = NewRecord(kItemTask);
      CopyText(r->messageId, sizeof r->messageId, t.id);
      CopyText(r->title, sizeof r->title, t.title);
      if (*t.start != '\0') r->startTime = Utc(t.start);
      r->endTime = Utc(t.due);
      r->percentComplete = t.percent;
      r->contactFlag = t.completedFlag;
      r->taskPriority = 1;
      ASSERT_EQ(tasks->Write(*r, host_.workDir(), nullptr, nullptr, &error), store::kStored) << error;
    }
  }

  // Runs a program with the test's environment; *stderrText gets what it
  // wrote to stderr.
  std::string Run(const std::string &command, std::string *stderrText) {
    const std::string err = root_ + "/stderr.txt";
    testing_support::RunResult r = RunCommand("(" + env_ + command + " 2>'" + err + "')");
    *stderrText = ReadFileBytes(err);
    EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.output << *stderrText;
    return r.output;
  }

  static std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      if (!line.empty()) out.push_back(line);
      start = end + 1;
    }
    return out;
  }

  testing_support::TestHost host_;
  std::string root_, out_, env_;
};

TEST_F(IcalProgramsTest, KhalListsEveryEventAtItsLocalTime) {
  if (!testing_support::FileExists("/usr/bin/khal")) GTEST_SKIP() << "khal is not installed";
  Export();
  const std::string config = root_ + "/khal.conf";
  ASSERT_TRUE(WriteFileBytes(config, "[calendars]\n[[groupwise]]\npath = " + out_ + "calendars/Calendar\n"
                                     "[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\n"
                                     "longdateformat = %Y-%m-%d\ndatetimeformat = %Y-%m-%d %H:%M\n"
                                     "longdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = Europe/Berlin\n"
                                     "default_timezone = Europe/Berlin\nfirstweekday = 0\n"
                                     "[sqlite]\npath = " + root_ + "/khal.db\n"));
  std::string errors;
  const std::vector<std::string> lines = Lines(Run("khal -c '" + config + "' list --day-format '' --format "
                                                   "'{start-date} {start-time}-{end-time} {title}' 2024-01-01 2024-12-31",
                                                   &errors));
  EXPECT_EQ(errors, "") << "khal warns about nothing";
  const struct {
    const char *why;
    const char *line;
    bool listed;
  } cases[] = {
      {"the series' first occurrence, winter time", "2024-01-08 10:00-11:00 Weekly sync", true},
      {"the last Monday before the change to summer time", "2024-03-25 10:00-11:00 Weekly sync", true},
      {"the first Monday in summer time keeps 10:00", "2024-04-01 10:00-11:00 Weekly sync", true},
      {"the 30th and last occurrence", "2024-07-29 10:00-11:00 Weekly sync", true},
      {"no 31st occurrence", "2024-08-05 10:00-11:00 Weekly sync", false},
      {"a single appointment in UTC shows at its local time", "2024-03-05 10:00-11:30 Budget review", true},
      {"a zoned summer appointment", "2024-07-12 18:00-22:00 Summer party", true},
      {"an unknown zone still gives the right instant", "2024-02-06 16:00-17:00 Mars call", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(std::find(lines.begin(), lines.end(), c.line) != lines.end(), c.listed)
        << c.line << "\n" << ::testing::PrintToString(lines);
  }
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string &l) { return l.find("Weekly sync") != std::string::npos; }),
            30);

  // All-day events, one day at a time.
  const struct {
    const char *why;
    const char *day;
    std::vector<std::string> titles;
  } days[] = {
      {"an all-day event on its day", "2024-05-01", {"May Day"}},
      {"the day after it is free", "2024-05-02", {}},
      {"an all-day event over two days, first day", "2024-05-09", {"Trip"}},
      {"its second day", "2024-05-10", {"Trip"}},
      {"not the day after its end", "2024-05-11", {}},
  };
  for (const auto &d : days) {
    SCOPED_TRACE(d.why);
    EXPECT_EQ(Lines(Run("khal -c '" + config + "' list --day-format '' --format '{title}' " + d.day + " 1d", &errors)),
              d.titles);
    EXPECT_EQ(errors, "");
  }
}

TEST_F(IcalProgramsTest, TodomanListsEveryTask) {
  if (!testing_support::FileExists("/usr/bin/todoman")) GTEST_SKIP() << "todoman is not installed";
  Export();
  const std::string config = root_ + "/todoman.py";
  ASSERT_TRUE(WriteFileBytes(config, "path = \"" + out_ + "tasks/*\"\ndate_format = \"%Y-%m-%d\"\n"
                                     "time_format = \"%H:%M\"\ndefault_list = \"Tasks\"\n"
                                     "cache_path = \"" + root_ + "/todoman.sqlite\"\n"));
  std::string errors;
  const std::string listing = Run("todoman --config '" + config + "' --porcelain list --status ANY", &errors);
  EXPECT_EQ(errors, "") << "todoman warns about nothing";
  const struct {
    const char *why;
    const char *text;
  } cases[] = {
      {"an open task under way", "\"summary\": \"Write report\""},
      {"its percent", "\"percent\": 30"},
      {"a task completed by its flag", "\"summary\": \"Book trip\""},
      {"its percent as the record had it", "\"percent\": 40"},
      {"a task at 100 percent", "\"summary\": \"File taxes\""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_NE(listing.find(c.text), std::string::npos) << listing;
  }
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '{'), 3) << listing;
  const std::string open = Run("todoman --config '" + config + "' --porcelain list", &errors);
  EXPECT_NE(open.find("Write report"), std::string::npos) << "the open task is listed by default";
  EXPECT_EQ(open.find("Book trip"), std::string::npos) << "completed tasks are not: " << open;
  EXPECT_EQ(open.find("File taxes"), std::string::npos) << open;
}

}  // namespace
