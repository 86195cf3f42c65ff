// An export killed while its writer queue is full, the writer stuck on an
// item and the folder's end waiting for the queue: the next run writes every
// item the killed one did not, and each queued one in particular (no record
// of the migration state went ahead of its file).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "host/mvmigrate/export_command.h"
#include "plugin/host_message.h"
#include "support/host_fixture.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

enum { kMails = 8 };

// Mail 1 ... Mail 8 in the Mailbox.
std::string MailboxXml() {
  std::string items;
  for (int i = 1; i <= kMails; ++i) {
    const std::string n = std::to_string(i);
    items += "      <item id=\"MAIL." + n + "@1\" subject=\"Mail " + n +
             "\" created=\"2026-01-05T09:00:00Z\" delivered=\"2026-01-05T09:00:00Z\" msgId=\"M" + n +
             "@example.com\"><from name=\"Dan\" email=\"dan@example.com\"/><text>body " + n + "</text></item>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gwsim>\n"
         "  <user name=\"alice\" password=\"secret\" displayName=\"Alice Anders\" email=\"alice@example.com\">\n"
         "    <folder name=\"Mailbox\" type=\"Mailbox\">\n" + items + "    </folder>\n  </user>\n</gwsim>\n";
}

// Appends each subject it writes to a file (or to `written`); the write of
// `stuckSubject` marks a file and never returns.
class RecordingStore : public store::ExportStore {
 public:
  RecordingStore(std::string logFile, std::string stuckSubject, std::string stuckMark,
                 std::vector<std::string> *written)
      : logFile_(std::move(logFile)), stuck_(std::move(stuckSubject)), mark_(std::move(stuckMark)), written_(written) {}
  int OpenFolder(const std::string &, std::string *) override { return 0; }
  int Write(const HostMessage &record, const std::string &, int64_t *, std::vector<std::string> *,
            std::string *) override {
    const std::string subject = record.subject;
    if (subject == stuck_) {
      WriteFileBytes(mark_, subject);
      for (;;) pause();
    }
    if (written_ != nullptr) written_->push_back(subject);
    if (!logFile_.empty()) WriteFileBytes(logFile_, ReadFileBytes(logFile_) + subject + "\n");
    return store::kStored;
  }
  int Sync(std::string *) override { return 0; }

 private:
  std::string logFile_, stuck_, mark_;
  std::vector<std::string> *written_;
};

size_t ItemRequests(const gwsim::Server &server) {
  size_t n = 0;
  for (const gwsim::RecordedRequest &r : server.Requests()) n += r.requestName == "getItemRequest" ? 1 : 0;
  return n;
}

TEST(ExportKill, AKilledRunWithAFullQueueLosesNoItem) {
  TestHost scratch;
  ASSERT_TRUE(WriteFileBytes(scratch.root() + "/mailbox.xml", MailboxXml()));
  ASSERT_TRUE(WriteFileBytes(scratch.root() + "/pw", "secret\n"));
  HostOptions host;
  host.pluginPath = std::string(MVGWS_BIN_DIR) + "/libMVGWS.so";
  host.outDir = scratch.root() + "/out";
  host.verbosity = 0;
  LogonOptions logon;
  logon.user = "alice";
  logon.passwordFile = scratch.root() + "/pw";
  const std::string childLog = scratch.root() + "/child-written.txt", mark = scratch.root() + "/stuck";

  // The child is forked before the simulator's threads start (a forked
  // copy of a process with threads may only exec); it reads the address
  // from a pipe. Its writer sticks on Mail 5: Mails 6 to 8 fill the queue
  // behind it and the folder's end waits for them.
  int url[2];
  ASSERT_EQ(pipe(url), 0);
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(url[1]);
    char c;
    while (read(url[0], &c, 1) == 1 && c != '\n') logon.server += c;
    ExportOptions options;
    options.makeStore = [&](int, const std::string &) -> std::unique_ptr<store::ExportStore> {
      return std::make_unique<RecordingStore>(childLog, "Mail 5", mark, nullptr);
    };
    RunExport(host, logon, options);
    _exit(0);
  }
  close(url[0]);
  gwsim::Options simOptions;
  simOptions.mailboxFile = scratch.root() + "/mailbox.xml";
  gwsim::Server server(simOptions);
  const bool started = server.Start();
  logon.server = server.url();
  const std::string line = (started ? logon.server : std::string()) + "\n";
  const bool told = write(url[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(url[1]);
  if (!started || !told) kill(child, SIGKILL);
  ASSERT_TRUE(started) << server.LastError();
  ASSERT_TRUE(told);
  // Bounded wait for the child to get there; it never gets further.
  for (int i = 0; i < 6000 && (access(mark.c_str(), F_OK) != 0 || ItemRequests(server) < kMails); ++i) usleep(10000);
  const bool reached = access(mark.c_str(), F_OK) == 0 && ItemRequests(server) == kMails;
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(reached) << "the killed run did not reach the full queue";

  std::vector<std::string> written;
  ExportOptions options;
  options.makeStore = [&](int, const std::string &) -> std::unique_ptr<store::ExportStore> {
    return std::make_unique<RecordingStore>("", "", "", &written);
  };
  ASSERT_EQ(RunExport(host, logon, options), 0);
  server.Stop();

  std::set<std::string> before, after(written.begin(), written.end());
  const std::string text = ReadFileBytes(childLog);
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    before.insert(text.substr(start, end - start));
  }
  EXPECT_EQ(before, (std::set<std::string>{"Mail 1", "Mail 2", "Mail 3", "Mail 4"}));
  for (int i = 1; i <= kMails; ++i) {
    const std::string subject = "Mail " + std::to_string(i);
    SCOPED_TRACE(subject);
    EXPECT_TRUE(before.count(subject) != 0 || after.count(subject) != 0) << "lost";
    if (i >= 5) {
      EXPECT_EQ(after.count(subject), 1u) << "a queued item's record went ahead of its file";
    }
  }
}

}  // namespace
