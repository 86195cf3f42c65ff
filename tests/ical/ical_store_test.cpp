// The iCalendar stores: vdirs written one whole file per item under the
// folder's levels, found again by a resumed run, and read back by the import
// source into the same records.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/ical/ical_store.h"
#include "host/ical/ical_writer.h"
#include "ical/ical_support.h"
#include "support/host_fixture.h"

namespace {

using ical_test::AddPart;
using ical_test::AddRecipient;
using ical_test::Describe;
using ical_test::NewRecord;
using ical_test::Record;
using ical_test::Utc;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

class IcalStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host_.Init(), 0);
    out_ = host_.root() + "/out/";
  }

  Record Appointment(const char *id) {
    Record r = NewRecord(kItemAppointment);
    CopyText(r->messageId, sizeof r->messageId, id);
    CopyText(r->title, sizeof r->title, "Planning");
    r->startTime = Utc("20240305T090000Z");
    r->endTime = Utc("20240305T100000Z");
    r->importance = r->taskPriority = 1;
    r->busyState = 2;
    return r;
  }

  // The directory's entries, hidden ones too; [] when it does not exist.
  static std::vector<std::string> Files(const std::string &dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) out.push_back(entry.path().filename().string());
    return out;
  }

  testing_support::TestHost host_;
  std::string out_;
};

TEST_F(IcalStoreTest, EachClassHasItsTreeAndOtherClassesNone) {
  const struct {
    const char *why;
    int folderClass;
    const char *folder;
    const char *directory;  // below out_, "" when no store
  } cases[] = {
      {"calendars go below calendars/, levels as directories", 2, "Calendar^Team/Ops", "calendars/Calendar/Team%2FOps"},
      {"task lists go below tasks/", 3, "Tasks", "tasks/Tasks"},
      {"mail is not this store's", 0, "Mailbox", ""},
      {"address books are not this store's", 1, "Contacts", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    std::unique_ptr<store::ExportStore> s = ical::MakeIcalExportStore(c.folderClass, out_);
    if (*c.directory == '\0') {
      EXPECT_EQ(s, nullptr);
      continue;
    }
    ASSERT_NE(s, nullptr);
    std::string error;
    ASSERT_EQ(s->OpenFolder(c.folder, &error), 0) << error;
    Record r = Appointment("id-1");
    r->itemKind = c.folderClass == 3 ? kItemTask : kItemAppointment;
    int64_t bytes = 0;
    ASSERT_EQ(s->Write(*r, host_.workDir(), &bytes, nullptr, &error), store::kStored) << error;
    ASSERT_EQ(s->Sync(&error), 0) << error;
    const std::string file = out_ + c.directory + "/" + ical::ItemUid(*r).substr(0, 32) + ".ics";
    EXPECT_EQ(static_cast<int64_t>(ReadFileBytes(file).size()), bytes);
    EXPECT_GT(bytes, 0);
    EXPECT_EQ(Files(out_ + c.directory).size(), 1u) << "no temporary file stays behind";
  }
}

TEST_F(IcalStoreTest, AResumedRunFindsWhatTheInterruptedOneWrote) {
  const std::string dir = out_ + "calendars/Calendar";
  Record done = Appointment("done"), halfWritten = Appointment("half"), emptied = Appointment("emptied");
  const auto name = [](const HostMessage &r) { return ical::ItemUid(r).substr(0, 32) + ".ics"; };
  {
    std::unique_ptr<store::ExportStore> first = ical::MakeIcalExportStore(2, out_);
    std::string error;
    ASSERT_EQ(first->OpenFolder("Calendar", &error), 0);
    ASSERT_EQ(first->Write(*done, host_.workDir(), nullptr, nullptr, &error), store::kStored);
    EXPECT_EQ(first->Write(*done, host_.workDir(), nullptr, nullptr, &error), store::kAlreadyPresent)
        << "the same item twice in one run";
  }
  // What a killed run leaves: a temporary file, and (after a crash before the
  // sync) an item file with no bytes.
  ASSERT_TRUE(WriteFileBytes(dir + "/." + name(*halfWritten) + ".tmp", "BEGIN:VCAL"));
  ASSERT_TRUE(WriteFileBytes(dir + "/" + name(*emptied), ""));
  const struct {
    const char *why;
    const HostMessage *record;
    int result;
  } cases[] = {
      {"an item the interrupted run wrote whole is there", done.get(), store::kAlreadyPresent},
      {"an item it left as a temporary file is written", halfWritten.get(), store::kStored},
      {"an item file left empty by a crash is written again", emptied.get(), store::kStored},
  };
  std::unique_ptr<store::ExportStore> second = ical::MakeIcalExportStore(2, out_);
  std::string error;
  ASSERT_EQ(second->OpenFolder("Calendar", &error), 0);
  EXPECT_FALSE(FileExists(dir + "/." + name(*halfWritten) + ".tmp")) << "opening removes temporary files";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(second->Write(*c.record, host_.workDir(), nullptr, nullptr, &error), c.result) << error;
    EXPECT_NE(ReadFileBytes(dir + "/" + name(*c.record)).find("END:VCALENDAR"), std::string::npos);
  }
  EXPECT_EQ(Files(dir).size(), 3u);
}

TEST_F(IcalStoreTest, AFailedWriteLeavesNothing) {
  std::unique_ptr<store::ExportStore> s = ical::MakeIcalExportStore(2, out_);
  std::string error;
  Record r = Appointment("fails");
  EXPECT_EQ(s->Write(*r, host_.workDir(), nullptr, nullptr, &error), store::kFailed) << "no folder open";
  ASSERT_EQ(s->OpenFolder("Calendar", &error), 0);
  ASSERT_NE(com_AllocPart(r.get()), 0);
  r->parts[r->partCount++]->kind = kPartFile;  // its file was never written
  error.clear();
  EXPECT_EQ(s->Write(*r, host_.workDir(), nullptr, nullptr, &error), store::kFailed);
  EXPECT_NE(error.find("PRT"), std::string::npos) << error;
  EXPECT_TRUE(Files(out_ + "calendars/Calendar").empty());
  r->partCount = 0;
  EXPECT_EQ(s->Write(*r, host_.workDir(), nullptr, nullptr, &error), store::kStored) << "a later write of it is not refused";
}

// A series goes out at the first of its occurrences that the reader reads.
// When the first could not be read, one run writes the series from a later
// occurrence and the rerun writes it from the first: the later copy goes.
// And a run that could not read the first occurrence of a series an earlier
// run wrote whole writes no later copy of it.
TEST_F(IcalStoreTest, ASeriesWrittenFromItsFirstOccurrenceReplacesACopyFromALaterOne) {
  const auto weekly = [this](const char *id, const char *start, const char *end) {
    Record r = Appointment(id);
    CopyText(r->timeZoneName, sizeof r->timeZoneName, "W. Europe Standard Time");
    r->startTime = Utc(start);
    r->endTime = Utc(end);
    r->recurKind = 5;  // Mondays and Wednesdays until June
    r->recurInterval = 1;
    r->recurDayMask = 10;
    r->recurRangeKind = 1;
    r->recurUntil = Utc("20240626T000000Z");
    return r;
  };
  const auto daily = [this](const char *id, const char *start) {
    Record r = Appointment(id);
    r->allDay = 1;
    r->eventKind = 2;
    r->startTime = Utc(start);
    r->endTime = U64ToFileTime(FileTimeToU64(r->startTime) + 864000000000ULL);
    r->recurKind = 6;  // every second day, ten times
    r->recurInterval = 2;
    r->recurRangeKind = 0;
    r->recurCount = 10;
    return r;
  };
  enum { kBothKept, kOtherRemoved, kFirstNotWritten };
  const struct {
    const char *why;
    std::function<Record()> first, other;  // `other` written by the first run, `first` by the second
    int outcome;
  } cases[] = {
      {"the Wednesday after the first Monday", [&] { return weekly("a1", "20240108T080000Z", "20240108T090000Z"); },
       [&] { return weekly("a2", "20240110T080000Z", "20240110T090000Z"); }, kOtherRemoved},
      {"a summer occurrence, in daylight time", [&] { return weekly("b1", "20240108T080000Z", "20240108T090000Z"); },
       [&] { return weekly("b2", "20240605T070000Z", "20240605T080000Z"); }, kOtherRemoved},
      {"an all-day series, the third day of it", [&] { return daily("c1", "20240301T000000Z"); },
       [&] { return daily("c2", "20240305T000000Z"); }, kOtherRemoved},
      {"a start on a Tuesday is no occurrence", [&] { return weekly("d1", "20240108T080000Z", "20240108T090000Z"); },
       [&] { return weekly("d2", "20240109T080000Z", "20240109T090000Z"); }, kBothKept},
      {"an all-day series started on a day between", [&] { return daily("e1", "20240301T000000Z"); },
       [&] { return daily("e2", "20240302T000000Z"); }, kBothKept},
      {"another length", [&] { return weekly("f1", "20240108T080000Z", "20240108T090000Z"); },
       [&] { return weekly("f2", "20240110T080000Z", "20240110T093000Z"); }, kBothKept},
      {"another title", [&] { return weekly("g1", "20240108T080000Z", "20240108T090000Z"); },
       [&] {
         Record r = weekly("g2", "20240110T080000Z", "20240110T090000Z");
         CopyText(r->title, sizeof r->title, "Planning (team B)");
         return r;
       },
       kBothKept},
      {"another end of the range", [&] { return weekly("h1", "20240108T080000Z", "20240108T090000Z"); },
       [&] {
         Record r = weekly("h2", "20240110T080000Z", "20240110T090000Z");
         r->recurUntil = Utc("20240726T000000Z");
         return r;
       },
       kBothKept},
      {"the series is there from an earlier start: no later copy", [&] { return weekly("i1", "20240110T080000Z", "20240110T090000Z"); },
       [&] { return weekly("i2", "20240108T080000Z", "20240108T090000Z"); }, kFirstNotWritten},
  };
  const auto name = [](const HostMessage &r) { return ical::ItemUid(r).substr(0, 32) + ".ics"; };
  int number = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    const std::string out = out_ + std::to_string(++number) + "/", dir = out + "calendars/Calendar/";
    Record first = c.first(), other = c.other();
    std::string error;
    {
      std::unique_ptr<store::ExportStore> run1 = ical::MakeIcalExportStore(2, out);
      ASSERT_EQ(run1->OpenFolder("Calendar", &error), 0) << error;
      ASSERT_EQ(run1->Write(*other, host_.workDir(), nullptr, nullptr, &error), store::kStored) << error;
    }
    std::unique_ptr<store::ExportStore> run2 = ical::MakeIcalExportStore(2, out);
    ASSERT_EQ(run2->OpenFolder("Calendar", &error), 0) << error;
    EXPECT_EQ(run2->Write(*first, host_.workDir(), nullptr, nullptr, &error),
              c.outcome == kFirstNotWritten ? store::kAlreadyPresent : store::kStored)
        << error;
    ASSERT_EQ(run2->Sync(&error), 0) << error;
    EXPECT_EQ(FileExists(dir + name(*first)), c.outcome != kFirstNotWritten);
    EXPECT_EQ(FileExists(dir + name(*other)), c.outcome != kOtherRemoved);
    EXPECT_EQ(Files(dir).size(), c.outcome == kBothKept ? 2u : 1u);
  }

  // A run killed after writing the first's file and before removing the
  // copy: the rerun finds the file there and removes the copy then.
  const std::string killed = out_ + "killed/", dir = killed + "calendars/Calendar/";
  const std::string aside = out_ + "aside/", asideDir = aside + "calendars/Calendar/";
  Record first = weekly("k1", "20240108T080000Z", "20240108T090000Z"),
         other = weekly("k2", "20240110T080000Z", "20240110T090000Z");
  std::string error;
  for (const auto &run : {std::make_pair(killed, other.get()), std::make_pair(aside, first.get())}) {
    std::unique_ptr<store::ExportStore> s = ical::MakeIcalExportStore(2, run.first);
    ASSERT_EQ(s->OpenFolder("Calendar", &error), 0) << error;
    ASSERT_EQ(s->Write(*run.second, host_.workDir(), nullptr, nullptr, &error), store::kStored) << error;
  }
  ASSERT_TRUE(WriteFileBytes(dir + name(*first), ReadFileBytes(asideDir + name(*first))));
  std::unique_ptr<store::ExportStore> rerun = ical::MakeIcalExportStore(2, killed);
  ASSERT_EQ(rerun->OpenFolder("Calendar", &error), 0) << error;
  EXPECT_EQ(rerun->Write(*first, host_.workDir(), nullptr, nullptr, &error), store::kAlreadyPresent);
  EXPECT_FALSE(FileExists(dir + name(*other)));
  EXPECT_TRUE(FileExists(dir + name(*first)));
}

// Records as the plug-in's readers give them, each exported and imported
// again: every field the record has comes back.
const std::vector<std::pair<const char *, std::function<void(HostMessage *, const std::string &)>>> &RoundTrips() {
  static const std::vector<std::pair<const char *, std::function<void(HostMessage *, const std::string &)>>> cases = {
      {"a weekly Berlin meeting with attendees, alarm, body and attachment",
       [](HostMessage *r, const std::string &work) {
         CopyText(r->timeZoneName, sizeof r->timeZoneName, "W. Europe Standard Time");
         r->startTime = Utc("20240108T090000Z");
         r->endTime = Utc("20240108T100000Z");
         r->recurKind = 5;
         r->recurInterval = 1;
         r->recurDayMask = 10;
         r->recurRangeKind = 1;
         r->recurUntil = Utc("20240626T000000Z");
         CopyText(r->location, sizeof r->location, "Room 4");
         CopyText(r->organizerName, sizeof r->organizerName, "Olga");
         CopyText(r->organizerAddress, sizeof r->organizerAddress, "olga@example.com");
         AddRecipient(r, kRecipOrganizer, 1, "Olga", "olga@example.com");
         AddRecipient(r, kRecipTo, 2, "Bob", "bob@example.com");
         AddRecipient(r, kRecipCc, 3, "Carl", "carl@example.com");
         AddRecipient(r, kRecipTo, 0, "Dora Díaz", "dora@example.com");
         r->alarmSet = 1;
         r->alarmMinutes = 10;
         r->isPrivate = 1;
         r->busyState = 3;
         r->importance = r->taskPriority = 2;
         CopyText(r->categories, sizeof r->categories, "Work;Größe;");
         AddPart(r, work, kPartTextBody, "Message.txt", "Agenda:\n1. numbers; 2, plans\n");
         AddPart(r, work, kPartFile, "plan;v2, \"final\".bin", std::string("\0\xff\x10 bytes", 9));
       }},
      {"an all-day event over two days", [](HostMessage *r, const std::string &) {
         r->allDay = 1;
         r->eventKind = 2;
         r->startTime = Utc("20240501T000000Z");
         r->endTime = Utc("20240503T000000Z");
         r->busyState = 0;
       }},
      {"monthly on the last Friday in New York, with a count", [](HostMessage *r, const std::string &) {
         CopyText(r->timeZoneName, sizeof r->timeZoneName, "Eastern Standard Time");
         r->startTime = Utc("20240126T140000Z");
         r->endTime = Utc("20240126T150000Z");
         r->recurKind = 4;
         r->recurInterval = 1;
         r->recurDayMask = 32;
         r->recurOccurrence = -1;
         r->recurRangeKind = 0;
         r->recurCount = 12;
       }},
      {"yearly on the second Tuesday of March, never ending", [](HostMessage *r, const std::string &) {
         CopyText(r->timeZoneName, sizeof r->timeZoneName, "W. Europe Standard Time");
         r->startTime = Utc("20240312T090000Z");
         r->endTime = Utc("20240312T100000Z");
         r->recurKind = 2;
         r->recurInterval = 1;
         r->recurDayMask = 4;
         r->recurOccurrence = 2;
         r->recurMonth = 3;
         r->recurRangeKind = 2;
       }},
      {"daily on weekdays every second day", [](HostMessage *r, const std::string &) {
         CopyText(r->timeZoneName, sizeof r->timeZoneName, "W. Europe Standard Time");
         r->recurKind = 7;
         r->recurInterval = 2;
         r->recurDayMask = 62;
         r->recurRangeKind = 0;
         r->recurCount = 30;
       }},
      {"a task completed by its flag at 40 percent", [](HostMessage *r, const std::string &work) {
         r->itemKind = kItemTask;
         r->contactFlag = 2;
         r->percentComplete = 40;
         r->busyState = 0;  // tasks have no show-as state
         CopyText(r->organizerName, sizeof r->organizerName, "Olga");
         CopyText(r->organizerAddress, sizeof r->organizerAddress, "olga@example.com");
         AddPart(r, work, kPartTextBody, "Message.txt", "Steps");
       }},
      {"an open low-priority task under way", [](HostMessage *r, const std::string &) {
         r->itemKind = kItemTask;
         r->percentComplete = 30;
         r->importance = r->taskPriority = 0;
         r->busyState = 0;
       }},
  };
  return cases;
}

TEST_F(IcalStoreTest, ExportedRecordsImportAsTheSameRecords) {
  int number = 0;
  for (const auto &c : RoundTrips()) {
    SCOPED_TRACE(c.first);
    Record original = Appointment(("rt-" + std::to_string(++number)).c_str());
    c.second(original.get(), host_.workDir());
    const std::vector<std::string> before = Describe(*original, host_.workDir());
    const std::string out = out_ + std::to_string(number) + "/";
    std::unique_ptr<store::ExportStore> s = ical::MakeIcalExportStore(original->itemKind, out);
    std::string error, subject, reason;
    std::vector<std::string> warnings;
    ASSERT_EQ(s->OpenFolder("Calendar", &error), 0) << error;
    ASSERT_EQ(s->Write(*original, host_.workDir(), nullptr, &warnings, &error), store::kStored) << error;
    EXPECT_TRUE(warnings.empty()) << warnings[0];
    com_Deallocate_All(original.get(), nullptr);

    std::unique_ptr<store::ImportSource> source = ical::MakeIcalImportSource(out);
    std::vector<store::SourceFolder> folders;
    ASSERT_EQ(source->ListFolders(&folders, &error), 0) << error;
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].path, "Calendar");
    EXPECT_EQ(folders[0].folderClass, original->itemKind);
    std::vector<store::SourceItem> items;
    ASSERT_EQ(source->ListItems(folders[0], &items, &error), 0) << error;
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].key, "ical:" + ical::ItemUid(*original));
    Record back = NewRecord(0);
    ASSERT_EQ(source->Convert(items[0], back.get(), &subject, &warnings, &reason), 0) << reason;
    EXPECT_TRUE(warnings.empty()) << warnings[0];
    EXPECT_EQ(Describe(*back, host_.workDir()), before);
    com_Deallocate_All(back.get(), nullptr);
  }
}

TEST_F(IcalStoreTest, ImportFindsVdirsLooseFilesAndReportsBrokenOnes) {
  const std::string in = host_.root() + "/in";
  const std::string event = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e1\r\nDTSTART:20240101T100000Z\r\n"
                            "SUMMARY:E\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  const std::string task = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:t1\r\nSUMMARY:T\r\nEND:VTODO\r\n"
                           "END:VCALENDAR\r\n";
  const std::string both = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e2\r\nDTSTART:20240101T100000Z\r\n"
                           "END:VEVENT\r\nBEGIN:VTODO\r\nUID:t2\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
  const struct {
    const char *file;
    std::string bytes;
  } files[] = {
      {"calendars/Calendar/a.ics", event},
      {"calendars/Calendar/broken.ics", "not a calendar\r\n"},
      {"calendars/Calendar/notes.txt", "not an item"},
      {"calendars/Cabinet/Sub%2FTeam/b.ics", event},
      {"tasks/Tasks/c.ics", task},
      {"calendars/holidays.ics", event},
      {"exports/family.ics", both},
      {"mail/Mailbox/cur/x.ics", event},
      {"contacts/Contacts/y.ics", event},
  };
  for (const auto &f : files) {
    const std::string path = in + "/" + f.file;
    ASSERT_EQ(testing_support::RunCommand("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").exitCode, 0);
    ASSERT_TRUE(WriteFileBytes(path, f.bytes));
  }
  std::unique_ptr<store::ImportSource> source = ical::MakeIcalImportSource(in);
  std::vector<store::SourceFolder> folders;
  std::string error;
  ASSERT_EQ(source->ListFolders(&folders, &error), 0) << error;
  std::vector<std::string> listed;
  for (const store::SourceFolder &f : folders) {
    std::vector<store::SourceItem> items;
    ASSERT_EQ(source->ListItems(f, &items, &error), 0) << error;
    std::string line = f.path + "/" + std::to_string(f.folderClass) + ":";
    for (const store::SourceItem &i : items) line += " " + i.name + "=" + (i.key.empty() ? "?" : i.key);
    listed.push_back(line);
  }
  EXPECT_EQ(listed, (std::vector<std::string>{
                        "Cabinet^Sub/Team/2: b.ics=ical:e1",
                        "Calendar/2: a.ics=ical:e1 broken.ics=?",
                        "Tasks/3: c.ics=ical:t1",
                        "exports^family/2: family.ics e2=ical:e2",
                        "exports^family/3: family.ics t2=ical:t2",
                        "holidays/2: holidays.ics=ical:e1",
                    }));
  // The broken file is reported through Convert, with its record left clean.
  std::vector<store::SourceItem> items;
  ASSERT_EQ(source->ListItems(folders[1], &items, &error), 0);
  Record r = NewRecord(0);
  std::string subject, reason;
  EXPECT_EQ(source->Convert(items[1], r.get(), &subject, nullptr, &reason), -1);
  EXPECT_EQ(reason, "not an iCalendar file");
  EXPECT_EQ(items[1].problem, reason) << "the listing says why too";
  EXPECT_EQ(r->partCount, 0);
  EXPECT_EQ(ical::MakeIcalImportSource(in + "/missing")->ListFolders(&folders, &error), -1);
}

}  // namespace
