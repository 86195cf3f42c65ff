// The export's writer queue: a queued item keeps its fields and part files
// while the plug-in reuses the record and the part file names for the next
// one, outcomes come back in the order the items were handed over, the
// queue holds no more than its depth, and a failure names the part file
// the plug-in wrote.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/mvmigrate/export_committer.h"
#include "host/mvmigrate/export_writer.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"
#include "support/host_fixture.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

// Writes "subject|recipient|part bytes..." of each record it is given, or
// fails when the subject says so; holds every write until the test opens
// the gate, so that the queue fills up.
class GatedStore : public store::ExportStore {
 public:
  int OpenFolder(const std::string &, std::string *) override { return 0; }
  int Write(const HostMessage &record, const std::string &workDir, int64_t *bytes, std::vector<std::string> *,
            std::string *error) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      gate_.wait(lock, [this] { return open_; });
    }
    std::string seen = std::string(record.subject) + "|";
    for (int i = 0; i < record.recipCount; ++i) seen += std::string(record.recips[i]->address) + "|";
    for (int i = 0; i < record.partCount; ++i) {
      char path[4096];
      FormatPartFileName(path, sizeof path, workDir.c_str(), record.msgSeq, i);
      const std::string content = ReadFileBytes(path);
      if (std::string(record.subject) == "fails") {
        *error = std::string("cannot read body part file ") + path;
        return store::kFailed;
      }
      seen += std::string(record.parts[i]->name) + "=" + content + "|";
    }
    written.push_back(seen);
    *bytes = static_cast<int64_t>(seen.size());
    return store::kStored;
  }
  int Sync(std::string *) override { return 0; }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    gate_.notify_all();
  }
  std::vector<std::string> written;  // read by the test only after the writer stopped

 private:
  std::mutex mutex_;
  std::condition_variable gate_;
  bool open_ = false;
};

struct Item {
  const char *subject;
  const char *recipient;
  std::vector<std::pair<const char *, const char *>> parts;  // name, bytes
};

TEST(ExportWriterQueue, QueuedItemsKeepTheirFieldsAndPartFilesAndFinishInOrder) {
  struct {
    std::vector<Item> items;
    std::vector<std::string> written;
    std::vector<int> results;
    std::string error;  // of the failing item
    const char *why;
  } rows[] = {
      {{{"one", "a@example.com", {{"Message.txt", "first body"}}},
        {"two", "b@example.com", {{"Message.txt", "second body"}, {"report.pdf", "%PDF-2"}}}},
       {"one|a@example.com|Message.txt=first body|", "two|b@example.com|Message.txt=second body|report.pdf=%PDF-2|"},
       {store::kStored, store::kStored},
       "",
       "the plug-in's next item overwrites the record and the part files: the queued ones keep theirs"},
      {{{"one", "a@example.com", {{"Message.txt", "1"}}},
        {"fails", "b@example.com", {{"Message.txt", "2"}}},
        {"three", "c@example.com", {{"Message.txt", "3"}}},
        {"four", "d@example.com", {}}},
       {"one|a@example.com|Message.txt=1|", "three|c@example.com|Message.txt=3|", "four|d@example.com|"},
       {store::kStored, store::kFailed, store::kStored, store::kStored},
       "cannot read body part file WORK/PRT01600.TMP",
       "a full queue; the failure comes back in its place and names the plug-in's part file"},
  };
  // The second row fills the queue.
  std::vector<std::string> names;
  names.reserve(exportwriter::kQueueDepth);
  for (size_t n = rows[1].items.size(); n < static_cast<size_t>(exportwriter::kQueueDepth); ++n) {
    names.push_back("more" + std::to_string(n));
    rows[1].items.push_back({names.back().c_str(), "e@example.com", {{"Message.txt", "more"}}});
    rows[1].written.push_back(names.back() + "|e@example.com|Message.txt=more|");
    rows[1].results.push_back(store::kStored);
  }
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    TestHost scratch;
    const std::string workDir = scratch.workDir();
    GatedStore store;
    exportwriter::ExportWriter writer;
    std::string error;
    ASSERT_EQ(exportwriter::StartWriter(&writer, workDir, &error), 0) << error;
    // One record and one set of part file names, reused for every item.
    std::unique_ptr<HostMessage> record(new HostMessage());
    record->msgSeq = 16;
    HostRecipient recipient = {};
    std::vector<HostPart> parts(2);
    for (const Item &item : row.items) {
      ASSERT_TRUE(exportwriter::HasRoom(writer));
      CopyText(record->subject, sizeof record->subject, item.subject);
      CopyText(recipient.address, sizeof recipient.address, item.recipient);
      record->recips[0] = &recipient;
      record->recipCount = 1;
      record->partCount = static_cast<int32_t>(item.parts.size());
      for (size_t i = 0; i < item.parts.size(); ++i) {
        CopyText(parts[i].name, sizeof parts[i].name, item.parts[i].first);
        record->parts[i] = &parts[i];
        char path[4096];
        FormatPartFileName(path, sizeof path, workDir.c_str(), record->msgSeq, static_cast<int>(i));
        ASSERT_TRUE(WriteFileBytes(path, item.parts[i].second));
      }
      exportwriter::ItemNotes notes;
      notes.subject = item.subject;
      exportwriter::HandOver(&writer, *record, workDir, &store, &notes);
      EXPECT_EQ(notes.subject, "") << "the notes went with the job";
    }
    EXPECT_EQ(exportwriter::HasRoom(writer), row.items.size() < static_cast<size_t>(exportwriter::kQueueDepth));
    EXPECT_EQ(exportwriter::OldestFinished(&writer, false), nullptr) << "nothing is written before the gate opens";
    store.Open();
    for (size_t i = 0; i < row.items.size(); ++i) {
      exportwriter::WriterJob *job = exportwriter::OldestFinished(&writer, true);
      ASSERT_NE(job, nullptr);
      EXPECT_EQ(job->notes.subject, row.items[i].subject) << "outcomes in the order handed over";
      EXPECT_EQ(job->result, row.results[i]);
      if (job->result == store::kFailed) {
        std::string expected = row.error;
        expected.replace(expected.find("WORK/"), 5, workDir);
        EXPECT_EQ(job->error, expected);
      }
      exportwriter::DoneWith(&writer);
    }
    EXPECT_EQ(exportwriter::OldestFinished(&writer, true), nullptr) << "an empty queue does not wait";
    EXPECT_FALSE(exportwriter::HasJobs(writer));
    exportwriter::StopWriter(&writer);
    EXPECT_EQ(store.written, row.written);
    // Every part file was taken from the plug-in's names and deleted once written.
    for (int i = 0; i < 2; ++i) {
      char path[4096];
      FormatPartFileName(path, sizeof path, workDir.c_str(), 16, i);
      EXPECT_EQ(access(path, F_OK), -1) << path;
    }
    for (int slot = 0; slot < exportwriter::kQueueDepth; ++slot) {
      for (int i = 0; i < 2; ++i) {
        char path[4096];
        FormatPartFileName(path, sizeof path, (workDir + "queue/").c_str(), slot, i);
        EXPECT_EQ(access(path, F_OK), -1) << path;
      }
    }
    EXPECT_EQ(access((workDir + "queue").c_str(), F_OK), -1) << "the emptied queue directory goes at the end";
  }
}

// Items come in while the thread looks at the queue on its timer, and after
// it has parked for want of items: both are written, and so is the last
// one when the writer is stopped at once.
TEST(ExportWriterQueue, ItemsAreWrittenWhetherTheThreadLooksOrHasParked) {
  TestHost scratch;
  const std::string workDir = scratch.workDir();
  GatedStore store;
  store.Open();
  exportwriter::ExportWriter writer;
  std::string error;
  ASSERT_EQ(exportwriter::StartWriter(&writer, workDir, &error), 0) << error;
  std::unique_ptr<HostMessage> record(new HostMessage());
  record->msgSeq = 3;
  auto handOver = [&](const char *subject) {
    CopyText(record->subject, sizeof record->subject, subject);
    exportwriter::ItemNotes notes;
    notes.subject = subject;
    exportwriter::HandOver(&writer, *record, workDir, &store, &notes);
  };
  // The outcome of the oldest item within two seconds, or null.
  auto finished = [&]() -> exportwriter::WriterJob * {
    for (int i = 0; i < 2000; ++i) {
      if (exportwriter::WriterJob *job = exportwriter::OldestFinished(&writer, false)) return job;
      usleep(1000);
    }
    return nullptr;
  };
  auto parked = [&] {
    std::lock_guard<std::mutex> lock(writer.mutex);
    return writer.parked;
  };
  for (const char *subject : {"looked for", "while parked"}) {
    SCOPED_TRACE(subject);
    if (std::string(subject) == "while parked") {
      for (int i = 0; i < 2000 && !parked(); ++i) usleep(1000);
      ASSERT_TRUE(parked()) << "an idle writer parks";
    }
    handOver(subject);
    exportwriter::WriterJob *job = finished();
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->notes.subject, subject);
    EXPECT_EQ(job->result, store::kStored);
    exportwriter::DoneWith(&writer);
  }
  handOver("last");
  exportwriter::StopWriter(&writer);
  EXPECT_EQ(store.written, (std::vector<std::string>{"looked for|", "while parked|", "last|"}));
}

// A group commit is settled only once every item handed over before it was
// asked is written; one whose items include a failed write is not durable,
// and the failure taints no other.
TEST(ExportCommitterTickets, SettleInOrderOnceTheirItemsAreWritten) {
  TestHost scratch;
  const std::string workDir = scratch.workDir();
  GatedStore store;
  exportwriter::ExportWriter writer;
  exportwriter::ExportCommitter committer;
  struct GateOpener {  // a failed assertion must not leave the writer stuck at the gate
    GatedStore *store;
    ~GateOpener() { store->Open(); }
  } opener{&store};
  std::string error;
  ASSERT_EQ(exportwriter::StartWriter(&writer, workDir, &error), 0) << error;
  ASSERT_EQ(exportwriter::StartCommitter(&committer, &writer, workDir, &error), 0) << error;
  std::unique_ptr<HostMessage> record(new HostMessage());
  record->msgSeq = 5;
  HostPart body = {};
  CopyText(body.name, sizeof body.name, "Message.txt");
  record->parts[0] = &body;
  record->partCount = 1;
  auto handOver = [&](const char *subject) {
    CopyText(record->subject, sizeof record->subject, subject);
    char path[4096];
    FormatPartFileName(path, sizeof path, workDir.c_str(), record->msgSeq, 0);
    ASSERT_TRUE(WriteFileBytes(path, subject));
    exportwriter::ItemNotes notes;
    exportwriter::HandOver(&writer, *record, workDir, &store, &notes);
  };
  handOver("one");
  handOver("two");
  exportwriter::AskCommit(&committer);
  handOver("fails");
  handOver("four");
  exportwriter::AskCommit(&committer);
  for (int i = 0; i < 30; ++i) {  // time for a committer that would not wait to settle both
    usleep(10000);
    ASSERT_TRUE(exportwriter::TakeSettled(&committer, false).empty()) << "nothing is written yet";
  }
  store.Open();
  EXPECT_EQ(exportwriter::TakeSettled(&committer, true), (std::vector<bool>{true, false}));
  handOver("five");
  exportwriter::AskCommit(&committer);
  EXPECT_EQ(exportwriter::TakeSettled(&committer, true), (std::vector<bool>{true}));
  EXPECT_TRUE(exportwriter::TakeSettled(&committer, true).empty());
  exportwriter::StopCommitter(&committer);
  exportwriter::StopWriter(&writer);
  EXPECT_EQ(store.written, (std::vector<std::string>{"one|Message.txt=one|", "two|Message.txt=two|",
                                                     "four|Message.txt=four|", "five|Message.txt=five|"}));
}

TEST(ExportWriterQueue, StartDeletesWhatAKilledRunLeftQueued) {
  TestHost scratch;
  const std::string queue = scratch.workDir() + "queue/";
  ASSERT_EQ(mkdir(queue.c_str(), 0700), 0);
  ASSERT_TRUE(WriteFileBytes(queue + "PRT00200.TMP", "left over"));
  ASSERT_TRUE(WriteFileBytes(queue + "notes.txt", "not ours"));
  exportwriter::ExportWriter writer;
  std::string error;
  ASSERT_EQ(exportwriter::StartWriter(&writer, scratch.workDir(), &error), 0) << error;
  exportwriter::StopWriter(&writer);
  EXPECT_EQ(access((queue + "PRT00200.TMP").c_str(), F_OK), -1);
  EXPECT_EQ(ReadFileBytes(queue + "notes.txt"), "not ours") << "and a directory holding a file of someone else's stays";
}

}  // namespace
