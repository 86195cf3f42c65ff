// Calendars and task lists end to end with the real mvmigrate against the
// simulator: alice's calendar and task list exported as vdirs, imported into
// an empty mailbox and exported again with the same events and tasks; runs
// killed with SIGKILL during an export and during an import, then run again,
// leave every item once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gwsim/appointment_data.h"
#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "gwsim/task_samples.h"
#include "host/ical/ical_store.h"
#include "ical/ical_support.h"
#include "support/host_fixture.h"
#include "support/mvmigrate_process.h"

namespace {

using ical_test::Describe;
using ical_test::NewRecord;
using ical_test::Record;
using testing_support::KillNow;
using testing_support::ReadFileBytes;
using testing_support::RunMvmigrate;
using testing_support::RunResult;
using testing_support::StartMvmigrate;
using testing_support::WriteFileBytes;

// What of an event or task survives GroupWise's own create: GroupWise is
// given no zone, all-day flag, alarm, privacy, show-as or category on
// create, the attendee list is appended to the body, a rule gets a number
// of occurrences, and task dates travel as days.
std::string Essentials(const HostMessage &r, const std::vector<std::string> &fields) {
  std::string out = std::to_string(r.itemKind) + "|" + r.title;
  for (const std::string &f : fields) {
    if (r.itemKind == kItemAppointment) {
      if (f.rfind("start=", 0) == 0 || f.rfind("end=", 0) == 0 || f.rfind("location=", 0) == 0) out += "|" + f;
      if (f.rfind("recur=", 0) == 0) {
        size_t cut = 0;  // kind/interval/mask/nth/month/monthDay, without the range
        for (int slashes = 0; cut < f.size() && slashes < 6; ++cut) slashes += f[cut] == '/';
        out += "|" + f.substr(0, cut);
      }
    } else if (f.rfind("end=", 0) == 0) {
      out += "|due=" + f.substr(4, 8);
    } else if (f.rfind("task=", 0) == 0) {
      out += "|done=" + std::string(r.contactFlag == 2 || r.percentComplete == 100 ? "yes" : "no");
    }
  }
  std::string addresses;
  std::set<std::string> sorted;
  for (int i = 0; i < r.recipCount; ++i) sorted.insert(r.recips[i]->address);
  for (const std::string &a : sorted) addresses += a + ",";
  if (r.itemKind == kItemAppointment) out += "|attendees=" + addresses;
  return out;
}

class IcalRoundTripTest : public ::testing::Test {
 protected:
  // The demo mailbox (alice with a calendar and a task list, extra generated
  // ones when asked) and two empty mailboxes, carol and dave.
  void StartServer(int appointments = 0, int tasks = 0) {
    ASSERT_EQ(host_.Init(), 0);
    server_ = std::make_unique<gwsim::Server>(gwsim::Options());
    {
      gwsim::Mailbox &box = server_->mailbox();
      auto lock = box.Lock();
      for (const char *name : {"carol", "dave"}) {
        gwsim::User user;
        user.name = name;
        user.password = "pw";
        user.displayName = name;
        user.email = std::string(name) + "@example.com";
        ASSERT_TRUE(box.AddUser(user));
        const std::string root = box.FindUser(name)->rootFolderId;
        for (const auto &f : {std::make_pair("Mailbox", "Mailbox"), std::make_pair("Calendar", "Calendar"),
                              std::make_pair("Checklist", "Checklist"), std::make_pair("Cabinet", "Cabinet")}) {
          gwsim::Folder folder;
          folder.parentId = root;
          folder.owner = name;
          folder.name = f.first;
          folder.kind = "SystemFolder";
          folder.folderType = f.second;
          folder.calendarAttribute = std::string(f.second) == "Calendar";
          ASSERT_FALSE(box.AddFolder(folder).empty());
        }
        ASSERT_TRUE(WriteFileBytes(host_.root() + "/" + name + ".pw", "pw\n"));
      }
      if (appointments > 0) {
        ASSERT_TRUE(gwsim::GenerateAppointments(&box, "alice", appointments));
      }
      if (tasks > 0) {
        ASSERT_TRUE(gwsim::GenerateTasks(&box, "alice", tasks));
      }
    }
    ASSERT_TRUE(server_->Start()) << server_->LastError();
    ASSERT_TRUE(WriteFileBytes(host_.root() + "/alice.pw", "secret\n"));
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }

  std::string Logon(const std::string &user) const {
    return "--server " + server_->url() + " --user " + user + " --password-file '" + host_.root() + "/" + user + ".pw'";
  }
  std::string ExportArgs(const std::string &user, const std::string &out) const {
    return "-q --out '" + out + "' export " + Logon(user) + " --folder Calendar --folder Checklist";
  }
  std::string ImportArgs(const std::string &in, const std::string &out, const std::string &user) const {
    return "-q --out '" + out + "' import --in '" + in + "' " + Logon(user);
  }
  size_t Requests(const std::string &name, const char *type = nullptr) const {
    size_t n = 0;
    for (const gwsim::RecordedRequest &q : server_->Requests())
      n += q.requestName == name && (type == nullptr || q.body.find(type) != std::string::npos);
    return n;
  }
  // Waits (bounded) until the server holds the given number of requests of a name.
  void WaitForRequests(const std::string &name, size_t count) const {
    for (int i = 0; i < 3000 && Requests(name) < count; ++i) usleep(10000);
  }

  // The events and tasks of an export tree as their essentials, sorted.
  std::vector<std::string> TreeEssentials(const std::string &out) {
    std::vector<std::string> all;
    std::unique_ptr<store::ImportSource> source = ical::MakeIcalImportSource(out);
    std::vector<store::SourceFolder> folders;
    std::string error;
    EXPECT_EQ(source->ListFolders(&folders, &error), 0) << error;
    for (const store::SourceFolder &f : folders) {
      std::vector<store::SourceItem> items;
      EXPECT_EQ(source->ListItems(f, &items, &error), 0) << error;
      for (const store::SourceItem &item : items) {
        Record r = NewRecord(0);
        std::string subject, reason;
        EXPECT_EQ(source->Convert(item, r.get(), &subject, nullptr, &reason), 0) << item.file << ": " << reason;
        all.push_back(f.path + "|" + Essentials(*r, Describe(*r, host_.workDir())));
        com_Deallocate_All(r.get(), nullptr);
      }
    }
    std::sort(all.begin(), all.end());
    return all;
  }

  // The files of an export tree's vdirs, name -> content without DTSTAMP.
  static std::map<std::string, std::string> TreeFiles(const std::string &out) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const char *dir : {"calendars/Calendar", "tasks/Checklist"}) {
      for (const auto &entry : std::filesystem::directory_iterator(out + "/" + dir, ec)) {
        const std::string name = entry.path().filename().string();
        std::string text = ReadFileBytes(entry.path().string());
        const size_t stamp = text.find("DTSTAMP:");
        if (stamp != std::string::npos) text.erase(stamp, text.find('\n', stamp) - stamp + 1);
        files[std::string(dir) + "/" + name] = text;
      }
    }
    return files;
  }

  // The calendar and task items in a user's mailbox, one line each (kind,
  // subject, start): a series is its occurrences.
  std::multiset<std::string> ServerItems(const std::string &user) {
    std::multiset<std::string> out;
    gwsim::Mailbox &box = server_->mailbox();
    auto lock = box.Lock();
    for (const gwsim::Item &item : box.items) {
      const gwsim::Folder *folder = box.FindFolder(item.container);
      if (folder == nullptr || folder->owner != user || (item.kind != "Appointment" && item.kind != "Task")) continue;
      out.insert(item.kind + "|" + item.subject + "|" + item.appointment.startDate + item.task.dueDate);
    }
    return out;
  }

  // Waits (at most 10 s) until every appointment and task create the server
  // received since ClearRequests has made its item: the user then holds at
  // least `before` plus that many distinct titles.
  void WaitForCreatesToFinish(const std::string &user, size_t before) {
    for (int i = 0; i < 1000; ++i) {
      size_t received = 0;
      for (const gwsim::RecordedRequest &q : server_->Requests())
        received += q.requestName == "createItemRequest" &&
                    (q.body.find("type=\"Appointment\"") != std::string::npos ||
                     q.body.find("type=\"Task\"") != std::string::npos);
      std::set<std::string> titles;
      for (const std::string &item : ServerItems(user)) titles.insert(item.substr(0, item.rfind('|')));
      if (titles.size() >= before + received) return;
      usleep(10000);
    }
  }

  size_t DistinctTitles(const std::string &user) {
    std::set<std::string> titles;
    for (const std::string &item : ServerItems(user)) titles.insert(item.substr(0, item.rfind('|')));
    return titles.size();
  }

  testing_support::TestHost host_;
  std::unique_ptr<gwsim::Server> server_;
};

TEST_F(IcalRoundTripTest, ExportImportExportKeepsEveryEventAndTask) {
  StartServer();
  const std::string first = host_.root() + "/first", imported = host_.root() + "/imported",
                    second = host_.root() + "/second";
  RunResult r = RunMvmigrate(ExportArgs("alice", first));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  r = RunMvmigrate(ImportArgs(first, imported, "carol"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  r = RunMvmigrate(ExportArgs("carol", second));
  ASSERT_EQ(r.exitCode, 0) << r.output;

  const std::vector<std::string> before = TreeEssentials(first), after = TreeEssentials(second);
  EXPECT_GE(std::count_if(before.begin(), before.end(), [](const std::string &s) { return s.find("|2|") != std::string::npos; }), 4)
      << "the demo's calendar: a weekly meeting, an all-day event, a private appointment, a review";
  EXPECT_EQ(std::count_if(before.begin(), before.end(), [](const std::string &s) { return s.find("|3|") != std::string::npos; }), 2)
      << "the demo's two tasks";
  EXPECT_EQ(after, before);

  // A second import finds every item in its state and creates nothing.
  server_->ClearRequests();
  const std::multiset<std::string> made = ServerItems("carol");
  r = RunMvmigrate(ImportArgs(first, imported, "carol"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(Requests("createItemRequest"), 0u);
  EXPECT_EQ(ServerItems("carol"), made);
}

TEST_F(IcalRoundTripTest, KilledExportsResumeToTheSameFiles) {
  StartServer(30, 20);
  gwsim::Fault slow;
  slow.kind = gwsim::FaultKind::kDelay;
  slow.delayMs = 10;
  slow.requestName = "getItemRequest";
  slow.times = 0;  // every read, so that a run is still reading when it is killed
  server_->AddFault(slow);
  const std::string whole = host_.root() + "/whole", killed = host_.root() + "/killed";
  RunResult r = RunMvmigrate(ExportArgs("alice", whole));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // Killed after the 5th, 20th, 40th and 60th item read of each run: in the
  // calendar, at its end, in the task list.
  for (size_t at : {5u, 20u, 40u, 60u}) {
    server_->ClearRequests();
    pid_t child = StartMvmigrate(ExportArgs("alice", killed));
    ASSERT_GT(child, 0);
    WaitForRequests("getItemRequest", at);
    KillNow(child);
    ASSERT_GE(Requests("getItemRequest"), at) << "killed in the middle of the run";
  }
  r = RunMvmigrate(ExportArgs("alice", killed));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::map<std::string, std::string> a = TreeFiles(whole), b = TreeFiles(killed);
  EXPECT_GT(a.size(), 50u);
  ASSERT_EQ(b.size(), a.size()) << "nothing doubled, nothing lost";
  for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
    EXPECT_EQ(ia->first, ib->first);
    EXPECT_EQ(ia->second, ib->second) << ia->first;
  }
}

// The weekly meeting's first occurrence cannot be read in the first run:
// that run writes the series from the second, and the rerun, which reads the
// first, leaves the series once, as a whole export writes it. A rerun of a
// whole export that cannot read the first adds nothing.
TEST_F(IcalRoundTripTest, ASeriesWhoseFirstOccurrenceFailedEndsAsAWholeExportWritesIt) {
  StartServer();
  std::string firstOccurrence, firstStart;
  {
    gwsim::Mailbox &box = server_->mailbox();
    auto lock = box.Lock();
    for (const gwsim::Item &item : box.items) {
      if (item.kind != "Appointment" || item.appointment.recurrenceKey == 0) continue;
      if (firstStart.empty() || item.appointment.startDate < firstStart) {
        firstStart = item.appointment.startDate;
        firstOccurrence = item.id;
      }
    }
  }
  ASSERT_FALSE(firstOccurrence.empty()) << "the demo calendar holds a series";
  const std::string whole = host_.root() + "/whole", faulty = host_.root() + "/faulty";
  RunResult r = RunMvmigrate(ExportArgs("alice", whole));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  gwsim::Fault refused;
  refused.status = 500;
  refused.requestName = "getItemRequest";
  refused.requestId = firstOccurrence;
  refused.times = 0;
  server_->AddFault(refused);
  r = RunMvmigrate(ExportArgs("alice", faulty));
  ASSERT_EQ(r.exitCode, 75) << r.output;
  std::map<std::string, std::string> a = TreeFiles(whole), b = TreeFiles(faulty);
  ASSERT_EQ(b.size(), a.size());
  EXPECT_NE(b, a) << "the series went out from its second occurrence";
  server_->ClearFaults();
  r = RunMvmigrate(ExportArgs("alice", faulty));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  b = TreeFiles(faulty);
  EXPECT_EQ(b, a);

  // The whole export run again, its first occurrence failing this time: the
  // second is met first, and no later copy joins the series.
  server_->AddFault(refused);
  r = RunMvmigrate(ExportArgs("alice", whole));
  ASSERT_EQ(r.exitCode, 75) << r.output;
  EXPECT_EQ(TreeFiles(whole), a);
}

TEST_F(IcalRoundTripTest, KilledImportsResumeWithoutDuplicateOrGap) {
  StartServer(30, 20);
  const std::string tree = host_.root() + "/tree";
  RunResult r = RunMvmigrate(ExportArgs("alice", tree));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  r = RunMvmigrate(ImportArgs(tree, host_.root() + "/clean", "dave"));
  ASSERT_EQ(r.exitCode, 0) << r.output;

  gwsim::Fault slow;
  slow.kind = gwsim::FaultKind::kDelay;
  slow.delayMs = 30;
  slow.requestName = "createItemRequest";
  slow.times = 0;  // every create: a killed run must leave items for the next
  server_->AddFault(slow);
  const std::string imported = host_.root() + "/imported";
  // Killed while the 3rd, then the 10th and 10th create of a run waits for
  // its answer: the server makes the item, the migration state never hears.
  for (size_t at : {3u, 10u, 10u}) {
    const size_t before = DistinctTitles("carol");
    server_->ClearRequests();
    pid_t child = StartMvmigrate(ImportArgs(tree, imported, "carol"));
    ASSERT_GT(child, 0);
    WaitForRequests("createItemRequest", at);
    KillNow(child);
    ASSERT_GE(Requests("createItemRequest"), at) << "killed in the middle of the run";
    WaitForCreatesToFinish("carol", before);  // the server finishes the create it was given
  }
  server_->ClearFaults();
  server_->ClearRequests();
  r = RunMvmigrate(ImportArgs(tree, imported, "carol"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // How far a killed run got depends on when the kill lands (later under
  // load); the last run writes whatever is left.
  EXPECT_GT(Requests("createItemRequest"), 0u) << "the last run writes what the killed ones left";
  const std::multiset<std::string> clean = ServerItems("dave"), resumed = ServerItems("carol");
  EXPECT_GT(clean.size(), 50u);
  EXPECT_EQ(resumed, clean);
}

}  // namespace
