// mvmigrate export end to end: the real program against the simulator,
// every message read back with GMime and compared with the fixture; a
// second run writes nothing; runs killed at random points resume to the
// same tree; server faults leave every item exported or listed as failed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "maildir/message_readback.h"
#include "support/host_fixture.h"
#include "support/mvmigrate_process.h"

namespace {

using readback::AddressList;
using readback::ListDirectory;
using readback::Message;
using readback::ReadMessageFile;
using testing_support::KillNow;
using testing_support::ReadFileBytes;
using testing_support::RunMvmigrate;
using testing_support::RunResult;
using testing_support::StartMvmigrate;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

class ExportTest : public ::testing::Test {
 protected:
  void StartServer(int generatedItems = 0) {
    gwsim::Options options;
    options.mailboxFile = std::string(MVGWS_TEST_DATA) + "/gwsim/mail_mailbox.xml";
    server_ = std::make_unique<gwsim::Server>(options);
    if (generatedItems > 0) {
      auto lock = server_->mailbox().Lock();
      ASSERT_TRUE(gwsim::GenerateMailbox(&server_->mailbox(), "alice", 2, generatedItems));
    }
    ASSERT_TRUE(server_->Start()) << server_->LastError();
    ASSERT_TRUE(WriteFileBytes(host_.root() + "/pw", "secret\n"));
  }

  // The mail folders only: the fixture's task list has its own format's tests.
  std::string Args(const std::string &out, const std::string &extra = "") const {
    return "-q --out '" + out + "' export --server " + server_->url() + " --user alice --password-file '" +
           host_.root() + "/pw' --folder Mailbox --folder Cabinet " + extra;
  }

  // Every message under out/mail: "Folder/dir/cur/name" -> message.
  std::map<std::string, Message> Tree(const std::string &out) const {
    std::map<std::string, Message> tree;
    AddFolder(out + "/mail", "", &tree);
    return tree;
  }
  // Adds the messages of the Maildir at dir and of every folder below it.
  void AddFolder(const std::string &dir, const std::string &relative, std::map<std::string, Message> *tree) const {
    for (const std::string &name : ListDirectory(dir)) {
      const std::string path = dir + "/" + name;
      if (name == "tmp" || name == "new") {
        EXPECT_TRUE(ListDirectory(path).empty()) << "nothing left in " << path;
      } else if (name == "cur") {
        for (const std::string &file : ListDirectory(path)) (*tree)[relative + "/" + file] = ReadMessageFile(path + "/" + file);
      } else {
        AddFolder(path, relative + "/" + name, tree);
      }
    }
  }

  TestHost host_;
  std::unique_ptr<gwsim::Server> server_;
};

const Message *BySubject(const std::map<std::string, Message> &tree, const std::string &subject) {
  for (const auto &entry : tree)
    if (entry.second.subject == subject) return &entry.second;
  return nullptr;
}

const readback::Leaf *Attachment(const Message &m, const std::string &name) {
  for (const readback::Leaf &leaf : m.leaves)
    if (leaf.filename == name) return &leaf;
  return nullptr;
}

TEST_F(ExportTest, FixtureMailboxComesBackFieldByField) {
  StartServer();
  const std::string out = host_.root() + "/out";
  // Converted from the record, as before originals were asked for: the
  // rich mail's original is left on the server.
  RunResult r = RunMvmigrate(Args(out, "--no-originals --report '" + host_.root() + "/report.json'"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::map<std::string, Message> tree = Tree(out);
  ASSERT_EQ(tree.size(), 5u) << r.output;
  for (const auto &entry : tree) EXPECT_TRUE(entry.second.parsed) << entry.first;

  const struct {
    const char *subject, *from, *to, *cc, *bcc;
    int64_t date;
    const char *importance, *keywords, *groupwiseId, *structure;
    bool read;
  } cases[] = {
      {"Quarterly report", "Dan Dorsey <dan@example.com>;",
       "Alice Anders <alice@example.com>;Carol Clark <carol@example.com>;", "Erin Evans <erin@example.com>;",
       "Frank Fischer <frank@example.com>;", 1767603605 /* 2026-01-05T09:00:05Z, the delivery time */, "high",
       "Business, Follow up", "4A5B6C7D.DOM.PO.200.1.1.1@example.com", "text/plain", true},
      {"Grüße & <Angebote>", "Jürgen Weiß <juergen.weiss@example.de>;", "Alice Anders <alice@example.com>;", "", "",
       1767690000, "low", "", "",
       "multipart/mixed(multipart/alternative(text/plain,text/html),text/html,text/plain,image/png,text/csv,"
       "application/zip)",
       false},
      // GroupWise leaves out the priority of a standard mail: no Importance header.
      {"Fwd: Plans", "Carol Clark <carol@example.com>;", "Alice Anders <alice@example.com>;", "", "", 1767776400,
       "", "", "", "multipart/mixed(text/plain,text/html,text/plain,text/plain)", false},
      {"Long minutes", "Dan Dorsey <dan@example.com>;", "", "", "", 1767862800, "", "", "", "text/plain", false},
      // An empty subject element and no body: no value comes out of either.
      {"", "", "", "", "", 1767949200, "", "", "", "text/plain", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.subject);
    const Message *m = BySubject(tree, c.subject);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(AddressList(m->from), c.from);
    EXPECT_EQ(AddressList(m->to), c.to);
    EXPECT_EQ(AddressList(m->cc), c.cc);
    EXPECT_EQ(AddressList(m->bcc), c.bcc);
    EXPECT_EQ(m->date, c.date);
    EXPECT_EQ(m->importance, c.importance);
    EXPECT_EQ(m->keywords, c.keywords);
    EXPECT_EQ(m->groupwiseId, c.groupwiseId);
    EXPECT_EQ(m->structure, c.structure);
    bool read = false;
    for (const auto &entry : tree)
      if (&entry.second == m) read = entry.first.substr(entry.first.size() - 4) == ":2,S";
    EXPECT_EQ(read, c.read) << "the S flag follows the read state";
  }

  const Message *fwd = BySubject(tree, "Fwd: Plans");
  ASSERT_NE(fwd, nullptr);
  const readback::Leaf *plans = Attachment(*fwd, "Plans.html");
  ASSERT_NE(plans, nullptr) << "the attached HTML mail is summarised into an HTML attachment";
  EXPECT_NE(plans->bytes.find("Subject: Plans"), std::string::npos) << plans->bytes;
  EXPECT_NE(plans->bytes.find("as promised"), std::string::npos);
  EXPECT_NE(Attachment(*fwd, "Kick-off"), nullptr);
  EXPECT_NE(Attachment(*fwd, "Task information.txt"), nullptr);

  std::string json = ReadFileBytes(host_.root() + "/report.json");
  EXPECT_NE(json.find("\"totals\": {\"total\": 5, \"stored\": 5, \"already_present\": 0, \"earlier\": 0, \"duplicates\": 0"),
            std::string::npos)
      << json;
}

TEST_F(ExportTest, SecondRunWritesNothing) {
  StartServer();
  const std::string out = host_.root() + "/out";
  ASSERT_EQ(RunMvmigrate(Args(out)).exitCode, 0);
  std::vector<std::string> before = ListDirectory(out + "/mail/Mailbox/cur");
  ASSERT_EQ(before.size(), 5u);
  struct stat st;
  ASSERT_EQ(stat((out + "/mail/Mailbox/cur/" + before[0]).c_str(), &st), 0);
  server_->ClearRequests();
  RunResult again = RunMvmigrate(Args(out));
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(ListDirectory(out + "/mail/Mailbox/cur"), before);
  struct stat st2;
  ASSERT_EQ(stat((out + "/mail/Mailbox/cur/" + before[0]).c_str(), &st2), 0);
  EXPECT_EQ(st2.st_ino, st.st_ino) << "the file was not written again";
  EXPECT_NE(again.output.find("Mailbox        5        0          5        0        0        0\n"), std::string::npos)
      << "all five are earlier now: " << again.output;
  // Each one is named, so that the user can check what was passed over.
  EXPECT_NE(again.output.find("Already exported, not written again (5):\n"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("  Mailbox  4A5B6C7D.DOM.PO.200.1.1.1@example.com  subject=\"Quarterly report\"  "
                              "exported by an earlier run\n"),
            std::string::npos)
      << again.output;
}

TEST_F(ExportTest, KilledRunsResumeToTheSameTree) {
  StartServer(40);
  gwsim::Fault slow;
  slow.kind = gwsim::FaultKind::kDelay;
  slow.delayMs = 15;
  slow.requestName = "getItemRequest";
  slow.times = 0;
  server_->AddFault(slow);
  const std::string whole = host_.root() + "/whole", killed = host_.root() + "/killed";
  ASSERT_EQ(RunMvmigrate(Args(whole)).exitCode, 0);

  std::mt19937 random(20260105);
  std::uniform_int_distribution<int> delayMs(50, 700);
  for (int round = 0; round < 5; ++round) {
    pid_t child = StartMvmigrate(Args(killed));
    ASSERT_GE(child, 0);
    usleep(static_cast<useconds_t>(delayMs(random)) * 1000);
    KillNow(child);
  }
  RunResult last = RunMvmigrate(Args(killed));
  ASSERT_EQ(last.exitCode, 0) << last.output;

  std::map<std::string, Message> a = Tree(whole), b = Tree(killed);
  ASSERT_EQ(a.size(), 45u);
  ASSERT_EQ(b.size(), a.size());
  for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
    SCOPED_TRACE(ia->first);
    EXPECT_EQ(ia->first, ib->first) << "same names: nothing doubled, nothing lost";
    EXPECT_EQ(ia->second.subject, ib->second.subject);
    EXPECT_EQ(ia->second.structure, ib->second.structure);
    ASSERT_EQ(ia->second.leaves.size(), ib->second.leaves.size());
    for (size_t i = 0; i < ia->second.leaves.size(); ++i) EXPECT_EQ(ia->second.leaves[i].bytes, ib->second.leaves[i].bytes);
  }
}

// A run killed after the migration state recorded the mail rules as
// exported but before their file reached OUT/rules/ leaves them in the
// work directory; the plug-in leaves them out of the next run's file, so
// the next run takes them from there. A folder that fails does not keep
// the rules from going out either.
TEST_F(ExportTest, RulesRecordedByAKilledRunStillReachTheRulesFiles) {
  server_ = std::make_unique<gwsim::Server>(gwsim::Options());  // the demo mailbox has alice's rules
  ASSERT_TRUE(server_->Start()) << server_->LastError();
  ASSERT_TRUE(WriteFileBytes(host_.root() + "/pw", "secret\n"));
  const std::string out = host_.root() + "/out";
  ASSERT_EQ(RunMvmigrate(Args(out)).exitCode, 0);
  const std::string rules = ReadFileBytes(out + "/rules/mboxrules.dat"),
                    sieve = ReadFileBytes(out + "/rules/rules.sieve");
  ASSERT_NE(rules.find("Name="), std::string::npos) << rules;
  ASSERT_NE(sieve.find("# Rule "), std::string::npos) << sieve;
  EXPECT_FALSE(testing_support::FileExists(out + "/work/mboxrules.dat")) << "deleted once it went out";

  // The killed run's state: rules recorded, their file still in work/.
  ASSERT_EQ(rename((out + "/rules/mboxrules.dat").c_str(), (out + "/work/mboxrules.dat").c_str()), 0);
  ASSERT_EQ(unlink((out + "/rules/rules.sieve").c_str()), 0);
  RunResult again = RunMvmigrate(Args(out));
  ASSERT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(ReadFileBytes(out + "/rules/mboxrules.dat"), rules);
  EXPECT_EQ(ReadFileBytes(out + "/rules/rules.sieve"), sieve);
  EXPECT_FALSE(testing_support::FileExists(out + "/work/mboxrules.dat"));
  EXPECT_NE(ReadFileBytes(out + "/data/mvmigrate.log").find("recovered from the rules file of an interrupted run"),
            std::string::npos);

  // A dry run writes nothing and leaves such a file for the next real run.
  ASSERT_EQ(rename((out + "/rules/mboxrules.dat").c_str(), (out + "/work/mboxrules.dat").c_str()), 0);
  ASSERT_EQ(RunMvmigrate(Args(out, "--dry-run")).exitCode, 0);
  EXPECT_FALSE(testing_support::FileExists(out + "/rules/mboxrules.dat"));
  EXPECT_EQ(ReadFileBytes(out + "/work/mboxrules.dat"), rules);

  // A folder whose Maildir cannot be made fails the run (exit 73). The
  // plug-in wrote and recorded the rules in an earlier folder (Cabinet's
  // subfolders come first): they still go out.
  const std::string fresh = host_.root() + "/fresh";
  ASSERT_EQ(mkdir(fresh.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((fresh + "/mail").c_str(), 0700), 0);
  ASSERT_TRUE(WriteFileBytes(fresh + "/mail/Mailbox", "a file where the folder's directory goes"));
  RunResult failed = RunMvmigrate(Args(fresh));
  EXPECT_EQ(failed.exitCode, 73) << failed.output;
  EXPECT_EQ(ReadFileBytes(fresh + "/rules/mboxrules.dat"), rules);
}

struct FaultCase {
  gwsim::FaultKind kind;
  int status;
  const char *requestName;
  int times;
  size_t cutAt;
  size_t failed;  // items the run lists as failed
  // "": the fault is gone for the retry; else it hits only this attachment
  // of MAIL.RICH@1, on every request, and stays for the retry.
  const char *attachment;
  const char *why;
};

// The id gwsim gave the attachment `name` of item `itemId`.
std::string AttachmentId(gwsim::Server *server, const std::string &itemId, const std::string &name) {
  auto lock = server->mailbox().Lock();
  const gwsim::Item *item = server->mailbox().FindItem(itemId);
  if (item == nullptr) return "";
  for (const gwsim::Attachment &a : item->attachments)
    if (a.name == name) return a.id;
  return "";
}

TEST_F(ExportTest, FaultsLeaveEveryItemExportedOrListedAsFailed) {
  const FaultCase cases[] = {
      {gwsim::FaultKind::kBusy503, 503, "getItemRequest", 3, 0, 1, "", "a 503 storm longer than the retries fails one item"},
      {gwsim::FaultKind::kBusyFault500, 500, "getItemRequest", 2, 0, 0, "", "busy faults are retried"},
      {gwsim::FaultKind::kStatus, 500, "getItemRequest", 1, 0, 1, "", "HTTP 500 on one item"},
      {gwsim::FaultKind::kCutAt, 200, "getAttachmentRequest", 1, 100, 0, "", "a cut attachment piece is asked for again"},
      {gwsim::FaultKind::kStatus, 500, "getAttachmentRequest", 0, 0, 1, "archive.zip",
       "an attachment that fails on every request fails its item; the retry stores the item with a text part in "
       "its place and lists it"},
      {gwsim::FaultKind::kStatus, 500, "getAttachmentRequest", 0, 0, 1, "Mime.822",
       "an original that fails on every request fails its item; the retry converts the item from its record and "
       "lists the original as lost"},
      {gwsim::FaultKind::kHtmlPage, 200, "getItemRequest", 1, 0, 1, "", "an HTML page with HTTP 200 is no mail"},
      {gwsim::FaultKind::kCutMidElement, 200, "getItemRequest", 1, 0, 1, "", "an answer cut after its status is no mail"},
  };
  int n = 0;
  for (const FaultCase &c : cases) {
    SCOPED_TRACE(c.why);
    StartServer();
    gwsim::Fault fault;
    fault.kind = c.kind;
    fault.status = c.status;
    fault.requestName = c.requestName;
    fault.times = c.times;
    fault.cutAt = c.cutAt;
    fault.requestId = AttachmentId(server_.get(), "MAIL.RICH@1", c.attachment);
    ASSERT_EQ(fault.requestId.empty(), c.attachment[0] == '\0');
    server_->AddFault(fault);
    const std::string out = host_.root() + "/fault" + std::to_string(n++);
    const std::string reportPath = out + "-report.json";
    // An attachment apart from the original is fetched only for a converted export.
    const bool original = strcmp(c.attachment, "Mime.822") == 0;
    const std::string form = c.attachment[0] != '\0' && !original ? " --no-originals" : "";
    RunResult r = RunMvmigrate(Args(out, "--report '" + reportPath + "'" + form));
    size_t exported = ListDirectory(out + "/mail/Mailbox/cur").size();
    std::string json = ReadFileBytes(reportPath);
    size_t failed = 0;
    for (size_t p = json.find("{\"folder\": "); p != std::string::npos; p = json.find("{\"folder\": ", p + 1)) ++failed;
    EXPECT_EQ(failed, c.failed) << json;
    EXPECT_EQ(exported + failed, 5u) << r.output;
    EXPECT_EQ(r.exitCode, failed == 0 ? 0 : 75) << r.output;
    if (failed == 0) continue;
    EXPECT_NE(json.find("\"id\": \"MAIL."), std::string::npos) << "the failed item's GroupWise id: " << json;
    // The failed ones are fetched again, and only they.
    if (c.attachment[0] == '\0') server_->ClearFaults();
    server_->ClearRequests();
    RunResult retry = RunMvmigrate(Args(out, "--retry-failed --report '" + reportPath + "'" + form));
    EXPECT_EQ(retry.exitCode, 0) << retry.output;
    EXPECT_EQ(ListDirectory(out + "/mail/Mailbox/cur").size(), 5u);
    size_t fetched = 0;
    for (const gwsim::RecordedRequest &q : server_->Requests()) fetched += q.requestName == "getItemRequest";
    EXPECT_GE(fetched, failed);
    EXPECT_LT(fetched, 5u) << "the items exported before are not fetched again";
    if (c.attachment[0] == '\0') continue;
    json = ReadFileBytes(reportPath);
    const std::string sentence = std::string("The attachment ") + c.attachment +
                                 " could not be read from the server: attachment data at offset 0 not received, "
                                 "httpResponse=500";
    const std::map<std::string, Message> tree = Tree(out);
    const Message *rich = BySubject(tree, "Grüße & <Angebote>");
    ASSERT_NE(rich, nullptr);
    const readback::Leaf *lost = Attachment(*rich, std::string(c.attachment) + " (not read).txt");
    if (original) {
      EXPECT_EQ(lost, nullptr) << "no text part stands in for the original: " << rich->structure;
      EXPECT_NE(Attachment(*rich, "archive.zip"), nullptr) << "converted whole: " << rich->structure;
    } else {
      ASSERT_NE(lost, nullptr) << rich->structure;
      EXPECT_EQ(lost->bytes, sentence + "\r\n");
    }
    // The item is named as every list names it: by its message id, which this one has none of.
    EXPECT_NE(json.find("  \"lost_attachments\": [\n    {\"folder\": \"Mailbox\", \"item\": \"\", "
                        "\"subject\": \"Grüße & <Angebote>\", \"lost\": \"" +
                        sentence + "\"}],\n"),
              std::string::npos)
        << json;
  }
}

// A folder name past 250 characters is kept short on disk; the summary and
// the report name it with its whole name and its directory.
TEST_F(ExportTest, ShortenedFolderNamesAreListedWithTheirWholeNames) {
  StartServer();
  const std::string whole = std::string(260, 'a') + "1";
  {
    auto lock = server_->mailbox().Lock();
    gwsim::Folder *cabinet = server_->mailbox().FindFolderByType("alice", "Cabinet");
    ASSERT_NE(cabinet, nullptr);
    gwsim::Folder folder;
    folder.parentId = cabinet->id;
    folder.owner = "alice";
    folder.name = whole;
    ASSERT_FALSE(server_->mailbox().AddFolder(folder).empty());
  }
  const std::string out = host_.root() + "/long";
  RunResult r = RunMvmigrate(Args(out, "--report '" + out + "-report.json'"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::string kept = std::string(241, 'a') + "~ec083c18";
  struct stat st;
  EXPECT_EQ(stat((out + "/mail/Cabinet/" + kept + "/cur").c_str(), &st), 0);
  EXPECT_NE(ReadFileBytes(out + "-report.json")
                .find("\"shortened_folders\": [\n    {\"path\": \"Cabinet^" + kept + "\", \"name\": \"" + whole +
                      "\", \"on_disk\": \"" + kept + "\"}\n  ],\n"),
            std::string::npos);
}

// A folder list that is no answer must not read as an empty mailbox.
TEST_F(ExportTest, ABrokenFolderListFailsTheRunAndTheNextRunExportsEverything) {
  const struct {
    const char *why;
    gwsim::FaultKind kind;
  } cases[] = {
      {"an HTML page with HTTP 200", gwsim::FaultKind::kHtmlPage},
      {"a Fault with HTTP 200", gwsim::FaultKind::kSoapFault200},
  };
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    StartServer();
    gwsim::Fault fault;
    fault.kind = c.kind;
    fault.requestName = "getFolderListRequest";
    server_->AddFault(fault);
    const std::string out = host_.root() + "/list" + std::to_string(n++);
    RunResult first = RunMvmigrate(Args(out));
    EXPECT_EQ(first.exitCode, 76) << first.output;
    EXPECT_NE(first.output.find("logon to"), std::string::npos) << first.output;
    EXPECT_TRUE(ListDirectory(out + "/mail/Mailbox/cur").empty());
    RunResult second = RunMvmigrate(Args(out));
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_EQ(ListDirectory(out + "/mail/Mailbox/cur").size(), 5u);
  }
}

// A category list the server will not give (asked twice) leaves the items
// without their categories: the run goes on, and its summary says so.
TEST_F(ExportTest, AnUnreadableCategoryListIsAWarningOfTheRun) {
  StartServer();
  gwsim::Fault fault;
  fault.status = 500;
  fault.requestName = "getCategoryListRequest";
  fault.times = 0;
  server_->AddFault(fault);
  const std::string out = host_.root() + "/nocategories";
  RunResult r = RunMvmigrate(Args(out, "--report '" + out + ".json'"));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const char warning[] = "the category list could not be read: items are read without their categories";
  EXPECT_NE(r.output.find(std::string("(all folders)  (logon)  subject=\"\"  ") + warning), std::string::npos)
      << r.output;
  EXPECT_NE(testing_support::ReadFileBytes(out + ".json").find(warning), std::string::npos);
}

// A folder whose listing the server refuses must not be filled with the
// items of the folder listed before it (the plug-in's id list of that one is
// still in the work directory), neither in this run nor in a rerun; a rerun
// of the failed items alone lists that folder again.
TEST_F(ExportTest, RefusedListingTakesNoOtherFoldersItems) {
  for (const char *rerun : {"", "--retry-failed"}) {
    SCOPED_TRACE(std::string("rerun: export ") + rerun);
    StartServer(4);
    gwsim::Fault fault;
    fault.kind = gwsim::FaultKind::kCode;
    fault.status = 59905;
    fault.requestName = "createCursorRequest";
    fault.nameOrdinal = 4;  // the second generated folder's, listed right after the first with its items
    server_->AddFault(fault);
    const std::string out = host_.root() + "/refused" + (rerun[0] != '\0' ? "-retry" : "");
    RunResult first = RunMvmigrate(Args(out));
    // The folder's items are not lost in silence: the run fails and says why.
    EXPECT_EQ(first.exitCode, 75) << first.output;
    EXPECT_NE(first.output.find("the item list could not be read"), std::string::npos) << first.output;
    server_->ClearFaults();
    RunResult second = RunMvmigrate(Args(out, rerun));
    EXPECT_EQ(second.exitCode, 0) << second.output;
    std::map<std::string, int> copies;
    size_t messages = 0;
    for (const auto &entry : Tree(out)) ++copies[entry.second.subject], ++messages;
    EXPECT_EQ(messages, 9u) << "5 in the Mailbox, 4 generated\n" << first.output << second.output;
    for (const auto &c : copies) EXPECT_EQ(c.second, 1) << "\"" << c.first << "\" exported into two folders";
    for (const char *name : {"msgids.tmp", "cursor.tmp", "msg.xml", "logout.xml"})
      EXPECT_FALSE(testing_support::FileExists(out + "/work/" + std::string(name))) << name << " left in the work directory";
    server_->Stop();
  }
}

}  // namespace
