// The export and import loops speak only the item-store interface: a store
// made for a class gets that class's folders and records, a class without
// one is listed as not exported (not failed), a store's warnings and
// failures reach the report, and the import writes each source folder with
// InitWrite for its class.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/export_command.h"
#include "host/mvmigrate/import_command.h"
#include "host/mvmigrate/interrupt.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"
#include "platform/win_compat.h"
#include "support/host_fixture.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

// A mailbox with a folder of every class: two mails, a calendar with an
// appointment, a task list with a task, a personal address book.
const char kMailbox[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<gwsim>
  <user name="alice" password="secret" displayName="Alice Anders" email="alice@example.com">
    <folder name="Mailbox" type="Mailbox">
      <item id="MAIL.ONE@1" subject="First" created="2026-01-05T09:00:00Z" delivered="2026-01-05T09:00:00Z"
            msgId="ONE.1@example.com">
        <from name="Dan Dorsey" email="dan@example.com"/>
        <text>one</text>
      </item>
      <item id="MAIL.TWO@1" subject="Second" created="2026-01-06T09:00:00Z" delivered="2026-01-06T09:00:00Z"
            msgId="TWO.1@example.com">
        <from name="Dan Dorsey" email="dan@example.com"/>
        <text>two</text>
      </item>
    </folder>
    <folder name="Calendar" type="Calendar">
      <item kind="Appointment" subject="Meeting" created="2026-01-07T10:00:00Z"/>
    </folder>
    <folder name="Checklist" type="Checklist">
      <item kind="Task" subject="Slides" created="2026-01-07T11:00:00Z"/>
    </folder>
    <book name="Alice's Contacts">
      <item kind="Contact" subject="Dan Dorsey"/>
    </book>
  </user>
  <user name="bob" password="hunter2" displayName="Bob Berger" email="bob@example.com">
    <folder name="Mailbox" type="Mailbox"/>
    <folder name="Calendar" type="Calendar"/>
  </user>
</gwsim>
)";

// What the fake stores of one run saw, "class folder subject" per write.
struct StoreLog {
  std::vector<std::string> opened;  // "class path"
  std::vector<std::string> written;
  int unsynced = 0;  // written since the last Sync, over every store
  std::string warnSubject, failSubject;
};

class FakeExportStore : public store::ExportStore {
 public:
  FakeExportStore(int folderClass, StoreLog *log) : class_(folderClass), log_(log) {}
  int OpenFolder(const std::string &path, std::string *) override {
    folder_ = path;
    log_->opened.push_back(std::to_string(class_) + " " + path);
    return 0;
  }
  int Write(const HostMessage &record, const std::string &, int64_t *bytes, std::vector<std::string> *warnings,
            std::string *error) override {
    const std::string subject = record.subject;
    if (subject == log_->failSubject) {
      *error = "disk full";
      return store::kFailed;
    }
    if (subject == log_->warnSubject && warnings != nullptr) warnings->push_back("alarm left out");
    log_->written.push_back(std::to_string(class_) + " " + folder_ + " " + subject);
    ++log_->unsynced;
    if (bytes != nullptr) *bytes = 10;
    return store::kStored;
  }
  int Sync(std::string *) override {
    log_->unsynced = 0;
    return 0;
  }

 private:
  int class_;
  StoreLog *log_;
  std::string folder_;
};

class ItemLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteFileBytes(scratch_.root() + "/mailbox.xml", kMailbox));
    ASSERT_TRUE(WriteFileBytes(scratch_.root() + "/pw", "secret\n"));
    gwsim::Options options;
    options.mailboxFile = scratch_.root() + "/mailbox.xml";
    server_ = std::make_unique<gwsim::Server>(options);
    ASSERT_TRUE(server_->Start()) << server_->LastError();
    host_.pluginPath = std::string(MVGWS_BIN_DIR) + "/libMVGWS.so";
    host_.outDir = scratch_.root() + "/out";
    host_.verbosity = 0;
    logon_.server = server_->url();
    logon_.user = "alice";
    logon_.passwordFile = scratch_.root() + "/pw";
  }
  void TearDown() override { server_->Stop(); }

  // Exports with fakes for `classes`; every other class has no store.
  int Export(const std::set<int> &classes, ExportOptions options, StoreLog *log) {
    options.makeStore = [classes, log](int folderClass, const std::string &) -> std::unique_ptr<store::ExportStore> {
      if (classes.count(folderClass) == 0) return nullptr;
      return std::make_unique<FakeExportStore>(folderClass, log);
    };
    options.reportPath = scratch_.root() + "/report.json";
    return RunExport(host_, logon_, options);
  }

  TestHost scratch_;  // only for its temporary directory
  std::unique_ptr<gwsim::Server> server_;
  HostOptions host_;
  LogonOptions logon_;
};

TEST_F(ItemLoopTest, ExportHandsEachFolderToTheStoreOfItsClass) {
  const struct {
    std::set<int> classes;
    std::vector<std::string> folders;  // --folder
    std::string warnSubject, failSubject;
    int exitCode;  // -1: not pinned (the plug-in's reader of that class decides)
    std::vector<std::string> opened, written;
    std::vector<std::string> inReport;  // pieces of the JSON report
    const char *why;
  } rows[] = {
      {{0}, {}, "", "", 0,
       {"0 Mailbox"},
       {"0 Mailbox First", "0 Mailbox Second"},
       {"\"kinds\": {\"mail\": 2, \"appointments\": 0, \"tasks\": 0, \"contacts\": 0, \"groups\": 0}",
        "{\"path\": \"Calendar\", \"class\": \"calendar\", \"total\": 1}",
        "{\"path\": \"Checklist\", \"class\": \"tasks\", \"total\": 1}",
        "\"failed_items\": []"},
       "only mail has a store: the other classes are listed as not exported, nothing fails"},
      {{0, 2}, {}, "", "", -1,
       {"2 Calendar", "0 Mailbox"},
       {"0 Mailbox First", "0 Mailbox Second"},
       {"{\"path\": \"Checklist\", \"class\": \"tasks\", \"total\": 1}"},
       "a store for calendars gets the calendar folder"},
      {{0}, {"Calendar"}, "", "", 0,
       {},
       {},
       {"{\"path\": \"Calendar\", \"class\": \"calendar\", \"total\": 1}", "\"failed_items\": []"},
       "--folder naming a folder of a class without a store"},
      {{0}, {}, "First", "Second", 75,
       {"0 Mailbox"},
       {"0 Mailbox First"},
       {"\"warnings\": [\n    {\"folder\": \"Mailbox\", \"item\": \"ONE.1@example.com\", \"subject\": \"First\", "
        "\"warning\": \"alarm left out\"}]",
        "{\"folder\": \"Mailbox\", \"id\": \"TWO.1@example.com\", \"subject\": \"Second\", \"reason\": \"disk full; "
        "not in the failed-ids list: the next export without --retry-failed takes it\"}"},
       "a warning goes beside its item, a failed write (by the writer thread) is a failed item"},
      {{0}, {"Mail"}, "", "", 64, {}, {}, {}, "--folder Mail names no folder: Mailbox only starts with it"},
  };
  int run = 0;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    host_.outDir = scratch_.root() + "/out" + std::to_string(run++);
    StoreLog log;
    log.warnSubject = row.warnSubject;
    log.failSubject = row.failSubject;
    ExportOptions options;
    options.folders = row.folders;
    const int rc = Export(row.classes, options, &log);
    if (row.exitCode >= 0) {
      EXPECT_EQ(rc, row.exitCode);
    }
    EXPECT_EQ(log.opened, row.opened);
    EXPECT_EQ(log.written, row.written);
    EXPECT_EQ(log.unsynced, 0) << "every write synced before its record was committed";
    const std::string json = ReadFileBytes(scratch_.root() + "/report.json");
    for (const std::string &piece : row.inReport) EXPECT_NE(json.find(piece), std::string::npos) << piece << "\n" << json;
    if (row.classes.count(2) != 0) {
      EXPECT_EQ(json.find("\"path\": \"Calendar\", \"class\""), std::string::npos) << json;
    }
  }
}

TEST_F(ItemLoopTest, AWriteThatFailsIsAFailedItemThatTheNextRunTakes) {
  const struct {
    bool writerThread;
    std::string failure;             // the JSON report's entry
    bool listed;                     // in the failed-ids list for --retry-failed
    std::vector<std::string> rerun;  // what a plain second run writes
    const char *closing;             // the closing line on standard error
    const char *why;
  } rows[] = {
      {false,
       "{\"folder\": \"Mailbox\", \"id\": \"TWO.1@example.com\", \"subject\": \"Second\", \"reason\": \"disk full\"}",
       true,
       {"0 Mailbox Second"},
       "mvmigrate: 1 item(s) failed; `mvmigrate export --retry-failed ...` takes them again\n",
       "written on the spot: the plug-in hears of the failure, lists the item and records only what was written"},
      {true,
       "{\"folder\": \"Mailbox\", \"id\": \"TWO.1@example.com\", \"subject\": \"Second\", \"reason\": \"disk full; "
       "not in the failed-ids list: the next export without --retry-failed takes it\"}",
       false,
       {"0 Mailbox First", "0 Mailbox Second"},
       "mvmigrate: 1 item(s) failed; the next `mvmigrate export ...` (without --retry-failed) takes them again\n",
       "written by the thread after SaveItem returned: the batch holding its record is dropped, so the next run "
       "takes it again, and the batch's other items too (a real store finds them in place)"},
  };
  int run = 0;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    host_.outDir = scratch_.root() + "/late" + std::to_string(run++);
    StoreLog log;
    log.failSubject = "Second";
    ExportOptions options;
    options.writerThread = row.writerThread;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Export({0}, options, &log), 75);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find(row.closing), std::string::npos) << errors;
    EXPECT_EQ(log.written, std::vector<std::string>{"0 Mailbox First"});
    const std::string json = ReadFileBytes(scratch_.root() + "/report.json");
    EXPECT_NE(json.find(row.failure), std::string::npos) << json;
    EXPECT_NE(json.find("{\"path\": \"Mailbox\", \"total\": 2, \"stored\": 1, \"already_present\": 0, \"earlier\": 0, "
                        "\"duplicates\": 0, \"date_filtered\": 0, \"skipped\": 0, \"failed\": 1, "),
              std::string::npos)
        << "one stored, one failed: " << json;
    const std::string failedIds = ReadFileBytes(host_.outDir + "/data/failed-ids.txt");
    EXPECT_EQ(failedIds.find(";Second\n") != std::string::npos, row.listed) << failedIds;
    StoreLog again;
    EXPECT_EQ(Export({0}, options, &again), 0);
    EXPECT_EQ(again.written, row.rerun) << "nothing lost: the failed item is written by the next run";
  }
}

TEST(FailedItemsLine, NamesTheCommandThatTakesEachFailedItemAgain) {
  const report::FailedItem listed = {"Mailbox", "A.1", "a", "HTTP response=500"};
  const report::FailedItem late = {"Mailbox", "B.1", "b",
                                   "disk full; not in the failed-ids list: the next export without --retry-failed takes it"};
  report::ExportReport both;
  both.failures = {listed, late, listed};
  EXPECT_EQ(FailedItemsLine(both),
            "mvmigrate: 3 item(s) failed; `mvmigrate export --retry-failed ...` takes 2 of them again, the next "
            "export without it the other 1\n");
}

TEST(FailedIdsMerge, ARunOverSomeFoldersKeepsTheOtherFoldersFailedIds) {
  const std::string a = "FolderNumber=1, FolderType=0;A\nmsgid=A1@1;x\nmsgid=;\n";
  const std::string b = "FolderNumber=2, FolderType=0;B\nmsgid=B1@1;y\nmsgid=;\n";
  const std::string a2 = "FolderNumber=1, FolderType=0;A\nmsgid=A2@1;z\nmsgid=;\n";
  const struct {
    std::string previous, current, merged;
    const char *why;
  } rows[] = {
      {a + b, a2, a2 + b, "export --folder A: A's new block replaces its old one, B's stays"},
      {a + b, "", a + b, "a run that read no folder keeps every block"},
      {b, "FolderNumber=1, FolderType=0;A\nmsgid=;", "FolderNumber=1, FolderType=0;A\nmsgid=;\n" + b,
       "a current list without its last line end gets one before the kept blocks"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(MergeFailedIds(row.previous, row.current), row.merged);
  }
}

TEST(ImportFolderSelection, AWantedFolderTakesItsSubfoldersNotNamesThatStartLikeIt) {
  const struct {
    const char *path;
    bool wanted;
    const char *why;
  } rows[] = {
      {"Cabinet", true, "the folder itself"},
      {"Cabinet^Projects", true, "a folder below it"},
      {"CabinetOld", false, "a name that only starts like it"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(ImportFolderWanted(row.path, {"Cabinet"}), row.wanted);
  }
}

// ---- import ----

struct FakeItem {
  const char *key;
  const char *subject;
  int itemKind;
  int contactFlag;
  const char *warning;  // "" for none
  const char *problem;  // why the key is empty
};

struct FakeFolder {
  const char *path;
  int folderClass;
  std::vector<FakeItem> items;
};

class FakeImportSource : public store::ImportSource {
 public:
  explicit FakeImportSource(const std::vector<FakeFolder> &folders) : folders_(folders) {}
  int ListFolders(std::vector<store::SourceFolder> *out, std::string *) override {
    for (const FakeFolder &f : folders_) out->push_back({f.path, std::string("/fake/") + f.path, f.folderClass});
    return 0;
  }
  int ListItems(const store::SourceFolder &folder, std::vector<store::SourceItem> *out, std::string *) override {
    for (const FakeFolder &f : folders_) {
      if (folder.path != f.path) continue;
      for (const FakeItem &i : f.items) {
        store::SourceItem item;
        item.file = folder.directory + "/" + i.subject;
        item.name = i.subject;
        item.key = i.key;
        item.problem = i.problem;
        out->push_back(item);
      }
    }
    return 0;
  }
  int Convert(const store::SourceItem &item, HostMessage *record, std::string *subject,
              std::vector<std::string> *warnings, std::string *) override {
    const FakeItem *found = nullptr;
    for (const FakeFolder &f : folders_)
      for (const FakeItem &i : f.items)
        if (item.key == i.key) found = &i;
    com_ResetObject(record);
    record->itemKind = found->itemKind;
    record->contactFlag = found->contactFlag;
    record->sentTime = U64ToFileTime(133500000000000000ULL);
    CopyText(record->subject, sizeof record->subject, found->subject);
    *subject = found->subject;
    if (found->warning[0] != '\0' && warnings != nullptr) warnings->push_back(found->warning);
    return 0;
  }

 private:
  std::vector<FakeFolder> folders_;
};

const std::vector<FakeFolder> kSourceFolders = {
    {"Mailbox", 0, {{"mid:1", "Hello Bob", 0, 0, "", ""}}},
    {"Calendar", 2,
     {{"uid:a", "Standup", 2, 0, "", ""},
      {"uid:b", "Review", 2, 0, "a rule with BYSETPOS imported in part", ""},
      {"", "broken.ics", 2, 0, "", "broken.ics: no VCALENDAR"}}},
    {"Tasks", 3, {{"uid:t", "Slides", 3, 0, "", ""}}},
    {"Contacts", 1, {{"uid:c", "Dan Dorsey", 1, 0, "", ""}, {"uid:g", "Team", 1, 1, "", ""}}},
};

TEST_F(ItemLoopTest, DryImportCountsKindsAndListsWarningsAndUnreadableItems) {
  ImportOptions options;
  options.inDir = scratch_.root() + "/in";
  options.dryRun = true;
  options.makeSources = [](const std::string &) {
    std::vector<std::unique_ptr<store::ImportSource>> sources;
    sources.push_back(std::make_unique<FakeImportSource>(kSourceFolders));
    return sources;
  };
  ImportReport report;
  EXPECT_EQ(RunImportWithPassword(host_, logon_, options, "", &report), 75);
  const std::string json = FormatImportJson(report);
  const char *pieces[] = {
      "\"kinds\": {\"mail\": 1, \"appointments\": 2, \"tasks\": 1, \"contacts\": 1, \"groups\": 1}",
      "\"warnings\": [\n  {\"folder\": \"Calendar\", \"item\": \"Review\", \"subject\": \"Review\", "
      "\"warning\": \"a rule with BYSETPOS imported in part\"}]",
      "{\"folder\": \"Calendar\", \"file\": \"broken.ics\", \"subject\": \"\", \"reason\": \"broken.ics: no VCALENDAR\"}",
  };
  for (const char *piece : pieces) EXPECT_NE(json.find(piece), std::string::npos) << piece << "\n" << json;
  const std::string summary = FormatImportSummary(report);
  EXPECT_NE(summary.find("to write by kind: 1 mail, 2 appointments, 1 task, 1 contact, 1 group\n"), std::string::npos)
      << summary;
}

// Mail with a text part file of its own; Ctrl-C is pressed while the item
// with key `interruptAt` is being converted: the signal goes to the thread
// that converts, or (as a terminal sends it, to any thread of the process)
// to the main thread, and the conversion ends once the run has seen it.
class InterruptingSource : public FakeImportSource {
 public:
  InterruptingSource(const std::vector<FakeFolder> &folders, std::string interruptAt, bool toMain,
                     pthread_t mainThread)
      : FakeImportSource(folders), interruptAt_(std::move(interruptAt)), toMain_(toMain), main_(mainThread) {}
  int Convert(const store::SourceItem &item, HostMessage *record, std::string *subject,
              std::vector<std::string> *warnings, std::string *reason) override {
    FakeImportSource::Convert(item, record, subject, warnings, reason);
    char workDir[256], path[512];
    com_GetGlobal(kGlobalWorkDir, workDir);
    FormatPartFileName(path, sizeof path, workDir, record->msgSeq, 0);
    const std::string text = "Text of " + *subject + "\n";
    if (!WriteFileBytes(path, text) || !com_AllocPart(record)) return -1;
    record->parts[0]->kind = kPartTextBody;
    record->parts[0]->size = static_cast<int32_t>(text.size());
    record->partCount = 1;
    if (item.key != interruptAt_) return 0;
    if (!toMain_) {
      raise(SIGINT);
      return 0;
    }
    pthread_kill(main_, SIGINT);
    for (int i = 0; i < 2000 && !InterruptRequested(); ++i) usleep(1000);
    return 0;
  }

 private:
  std::string interruptAt_;
  bool toMain_;
  pthread_t main_;
};

// The next item is converted while one is written: Ctrl-C during that
// conversion stops the run before the item converted ahead, as without the
// read-ahead, and leaves none of its files behind.
TEST_F(ItemLoopTest, ACtrlCStopsTheImportBeforeTheItemConvertedAhead) {
  logon_.user = "bob";
  logon_.passwordFile.clear();
  const struct {
    bool readAhead, toMain;
    const char *mode;
  } modes[] = {{true, false, "ahead"}, {false, false, "in turn"}, {true, true, "ahead, signal to main"}};
  for (const auto &m : modes) {
    const bool readAhead = m.readAhead;
    const std::string mode = m.mode;
    SCOPED_TRACE(mode);
    std::vector<FakeItem> items;
    static std::vector<std::string> subjects, keys;
    subjects.clear();
    keys.clear();
    for (int i = 1; i <= 5; ++i) {
      subjects.push_back(mode + " " + std::to_string(i));
      keys.push_back("mid:" + mode + std::to_string(i));
    }
    for (int i = 0; i < 5; ++i) items.push_back({keys[i].c_str(), subjects[i].c_str(), 0, 0, "", ""});
    const std::vector<FakeFolder> folders = {{"Mailbox", 0, items}};
    ImportOptions options;
    options.inDir = scratch_.root() + "/in";
    options.readAhead = readAhead;
    const pthread_t mainThread = pthread_self();
    const bool toMain = m.toMain;
    options.makeSources = [folders, toMain, mainThread](const std::string &) {
      std::vector<std::unique_ptr<store::ImportSource>> sources;
      sources.push_back(std::make_unique<InterruptingSource>(folders, keys[2], toMain, mainThread));
      return sources;
    };
    ImportReport report;
    EXPECT_EQ(RunImportWithPassword(host_, logon_, options, "hunter2", &report), 130);
    EXPECT_TRUE(report.interrupted);
    ASSERT_EQ(report.folders.size(), 1u);
    EXPECT_EQ(report.folders[0].created, 2) << FormatImportSummary(report);
    std::vector<std::string> written;
    {
      gwsim::Mailbox &box = server_->mailbox();
      auto lock = box.Lock();
      for (const gwsim::Item &item : box.items)
        if (item.subject.rfind(mode + " ", 0) == 0) written.push_back(item.subject);
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, std::vector<std::string>({mode + " 1", mode + " 2"}));
    std::vector<std::string> left;
    for (const auto &e : std::filesystem::directory_iterator(host_.outDir + "/work"))
      if (e.path().filename().string().rfind("PRT", 0) == 0) left.push_back(e.path().filename().string());
    EXPECT_TRUE(left.empty()) << left[0];
  }
}

TEST_F(ItemLoopTest, ImportWritesEachFolderWithInitWriteForItsClass) {
  logon_.user = "bob";
  ImportOptions options;
  options.inDir = scratch_.root() + "/in";
  options.makeSources = [](const std::string &) {
    std::vector<std::unique_ptr<store::ImportSource>> sources;
    sources.push_back(std::make_unique<FakeImportSource>(std::vector<FakeFolder>{
        kSourceFolders[0], {"Work^Team Calendar", 2, {{"uid:a", "Standup", 2, 0, "", ""}}}}));
    return sources;
  };
  ImportReport report;
  RunImportWithPassword(host_, logon_, options, "hunter2", &report);
  ASSERT_EQ(report.folders.size(), 2u);
  EXPECT_EQ(report.folders[0].created, 1) << FormatImportSummary(report);
  const std::string log = ReadFileBytes(host_.outDir + "/data/mvmigrate.log");
  EXPECT_NE(log.find("Writing to GW calendar folder"), std::string::npos) << log;
  gwsim::Mailbox &box = server_->mailbox();
  auto lock = box.Lock();
  std::vector<std::string> bobs;
  for (const gwsim::Item &item : box.items) {
    const gwsim::Folder *folder = box.FindFolder(item.container);
    if (folder != nullptr && folder->owner == "bob") bobs.push_back(folder->name + ": " + item.subject);
  }
  EXPECT_NE(std::find(bobs.begin(), bobs.end(), "Mailbox: Hello Bob"), bobs.end());
  for (const gwsim::Folder &f : box.folders)
    EXPECT_FALSE(f.owner == "bob" && (f.name == "Work" || f.name == "Team Calendar"))
        << "a calendar's path makes no mail folder: " << f.name;
}

}  // namespace
