// `mvmigrate import` end to end: a Maildir tree written into a simulated
// mailbox through the plug-in, a second run that creates nothing, a failed
// write that is reported and retried, and a dry run that logs on to nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/import_command.h"
#include "support/host_fixture.h"

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

const std::string kData = std::string(MVGWS_TEST_DATA) + "/maildir/";

class ImportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(scratch_.root());
    // Maildir++ as a mail program leaves it: the root is the INBOX.
    for (const char *dir : {"tree/cur", "tree/new", "tree/tmp", "tree/.Cabinet.Projects/cur",
                            "tree/.Cabinet.Projects/new"})
      fs::create_directories(root_ / dir);
    Copy("utf8_encoded_words.eml", "tree/cur/1583226930.M1.host:2,S");
    Copy("latin1_qp.eml", "tree/new/1577835000.M2.host");
    Copy("alternative_in_mixed.eml", "tree/cur/1593615600.M3.host:2,RS");
    Copy("no_body.eml", "tree/.Cabinet.Projects/cur/1578312000.M4.host:2,");
    host_.pluginPath = std::string(MVGWS_BIN_DIR) + "/libMVGWS.so";
    host_.outDir = (root_ / "out").string();
    host_.verbosity = 0;
    options_.inDir = (root_ / "tree").string();
  }
  void Copy(const char *sample, const char *to) {
    ASSERT_TRUE(WriteFileBytes((root_ / to).string(), ReadFileBytes(kData + sample)));
  }
  int Run(ImportReport *report) {
    return RunImportWithPassword(host_, logon_, options_, password_, report);
  }
  // Bob's mail items by subject: "folder name: subject".
  std::vector<std::string> BobItems() {
    gwsim::Mailbox &box = server_->mailbox();
    auto lock = box.Lock();
    std::vector<std::string> out;
    for (const gwsim::Item &item : box.items) {
      const gwsim::Folder *folder = box.FindFolder(item.container);
      if (folder == nullptr || folder->owner != "bob" || item.kind != "Mail") continue;
      if (item.created.rfind("2026", 0) == 0) continue;  // the demo's own items
      out.push_back(folder->name + ": " + item.subject);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // Imports `folder` with the second createItemRequest answered as `fault`
  // says: that item fails, alone. Returns its reason.
  std::string ImportWithSecondCreateBroken(gwsim::Fault fault, const std::string &folder) {
    fault.requestName = "createItemRequest";
    fault.nameOrdinal = 2;
    server_->AddFault(fault);
    options_.folders = {folder};
    ImportReport report;
    EXPECT_EQ(Run(&report), 75) << FormatImportSummary(report);
    EXPECT_EQ(report.failures.size(), 1u) << FormatImportSummary(report);
    return report.failures.empty() ? "" : report.failures[0].reason;
  }
  void StartServer() {
    server_.reset(new gwsim::Server());
    ASSERT_TRUE(server_->Start()) << server_->LastError();
    logon_.server = server_->url();
    logon_.user = "bob";
    password_ = "hunter2";
  }
  // A bug tracker's two mails under one Message-ID, and a byte-identical
  // copy of the first, in the Mailbox.
  void AddBugTrackerCopies() {
    const std::string first =
        "Message-ID: <bug-7@tracker.example.org>\nFrom: bugs@tracker.example.org\nTo: bob@example.com\n"
        "Subject: [Bug 7] crash on start\nDate: Tue, 7 Jan 2020 10:00:00 +0000\n\nNew bug.\n";
    const std::string second =
        "Message-ID: <bug-7@tracker.example.org>\nFrom: bugs@tracker.example.org\nTo: bob@example.com\n"
        "Subject: [Bug 7] comment #1\nDate: Tue, 7 Jan 2020 10:00:00 +0000\n\nComment.\n";
    ASSERT_TRUE(WriteFileBytes((root_ / "tree/cur/1578391200.M5.host:2,S").string(), first));
    ASSERT_TRUE(WriteFileBytes((root_ / "tree/cur/1578391200.M6.host:2,S").string(), second));
    ASSERT_TRUE(WriteFileBytes((root_ / "tree/cur/1578391200.M7.host:2,S").string(), first));
  }
  // What an earlier version left in the state after importing the first
  // copy: a record under the Message-ID.
  void RecordByMessageIdAsBefore(const std::string &folder, const std::string &messageId) {
    const std::string data = (root_ / "out/data/").string(), work = (root_ / "out/work/").string();
    MvcomConfig config = {};
    config.programDir = "./";
    config.dataDir = data.c_str();
    config.workDir = work.c_str();
    ASSERT_EQ(mvcom_Init(&config), 0) << mvcom_LastError();
    const std::string scope = logon_.server + "|" + logon_.user + "|" + folder;
    EXPECT_EQ(mvcom_RecordImported(scope.c_str(), ("mid:" + messageId).c_str()), 0);
    mvcom_Shutdown();
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }

  testing_support::TestHost scratch_;  // only for its temporary directory
  fs::path root_;
  HostOptions host_;
  LogonOptions logon_;
  ImportOptions options_;
  std::string password_;
  std::unique_ptr<gwsim::Server> server_;
};

TEST_F(ImportCommandTest, DryRunReadsEverythingAndReportsUnreadableMessages) {
  ASSERT_TRUE(WriteFileBytes((root_ / "tree/.Cabinet.Projects/cur/9.M9.host:2,S").string(), ""));
  options_.dryRun = true;
  logon_.server = "http://127.0.0.1:1";  // never asked
  logon_.user = "bob";
  ImportReport report;
  EXPECT_EQ(Run(&report), 75);
  ASSERT_EQ(report.folders.size(), 2u);
  EXPECT_EQ(report.folders[0].path, "Cabinet^Projects");
  EXPECT_EQ(report.folders[0].total, 2);
  EXPECT_EQ(report.folders[0].created, 1);
  EXPECT_EQ(report.folders[0].failed, 1);
  EXPECT_EQ(report.folders[1].path, "Mailbox");
  EXPECT_EQ(report.folders[1].created, 3);
  const std::string json = FormatImportJson(report);
  EXPECT_NE(json.find("{\"folder\": \"Cabinet^Projects\", \"file\": \"9.M9.host:2,S\", \"subject\": \"\", "
                      "\"reason\": \"empty file\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"totals\": {\"total\": 5, \"created\": 4, \"earlier\": 0, \"already_imported\": 0, "
                      "\"skipped\": 0, \"failed\": 1}"),
            std::string::npos)
      << json;
}

TEST_F(ImportCommandTest, UnknownFolderAndMissingTreeAreInputErrors) {
  options_.dryRun = true;
  options_.folders = {"Cabinet^Nope"};
  ImportReport report;
  EXPECT_EQ(Run(&report), 66);
  options_.folders.clear();
  options_.inDir = (root_ / "absent").string();
  EXPECT_EQ(Run(&report), 66);
}

TEST_F(ImportCommandTest, ImportCreatesEachMessageOnceAndRetriesFailedWrites) {
  StartServer();
  // Once Cabinet^Projects is in, the server refuses every mail (over quota).
  gwsim::Fault refuse;
  refuse.kind = gwsim::FaultKind::kCode;
  refuse.status = 58652;
  refuse.requestName = "createItemRequest";
  refuse.times = 0;
  ImportReport first;
  options_.folders = {"Cabinet"};
  ASSERT_EQ(Run(&first), 0) << FormatImportSummary(first);
  server_->AddFault(refuse);
  options_.folders = {"Mailbox"};
  ImportReport failing;
  EXPECT_EQ(Run(&failing), 75);
  ASSERT_EQ(failing.failures.size(), 3u) << FormatImportSummary(failing);
  EXPECT_EQ(failing.failures[0].folder, "Mailbox");
  EXPECT_EQ(failing.failures[0].file, "1577835000.M2.host");  // files in name order
  EXPECT_EQ(failing.failures[0].subject, "Réunion à l'hôtel");
  EXPECT_NE(failing.failures[0].reason.find("58652"), std::string::npos) << failing.failures[0].reason;
  server_->ClearFaults();

  options_.folders.clear();
  ImportReport retry;
  ASSERT_EQ(Run(&retry), 0) << FormatImportSummary(retry);
  EXPECT_EQ(retry.folders[0].alreadyImported, 1);  // Cabinet^Projects
  EXPECT_EQ(retry.folders[1].created, 3);          // the failed ones, now written
  const std::vector<std::string> expected = {
      "Mailbox: Grüße aus Köln – €",
      "Mailbox: Quarterly report",
      "Mailbox: Réunion à l'hôtel",
      "Projects: ",
  };
  EXPECT_EQ(BobItems(), expected);

  // A mail program marks a message read: a new file name, the same message.
  fs::rename(root_ / "tree/new/1577835000.M2.host", root_ / "tree/cur/1577835000.M2.host:2,S");
  ImportReport again;
  ASSERT_EQ(Run(&again), 0);
  EXPECT_EQ(again.folders[1].created, 0);
  EXPECT_EQ(again.folders[1].alreadyImported, 3);
  EXPECT_EQ(BobItems(), expected);
  // Every message passed over is named with its file and subject.
  ASSERT_EQ(again.earlier.size(), 4u);
  EXPECT_EQ(again.earlier[1].folder, "Mailbox");
  EXPECT_EQ(again.earlier[1].item, "1577835000.M2.host:2,S");
  EXPECT_EQ(again.earlier[1].subject, "Réunion à l'hôtel");
  EXPECT_EQ(again.earlier[1].text, "imported by an earlier run");
  EXPECT_NE(FormatImportSummary(again).find("Already imported, not written again (4):\n"), std::string::npos)
      << FormatImportSummary(again);
}

// An HTML page sent with HTTP 200 creates nothing that can be told: the mail
// is listed as failed and written by the next run.
TEST_F(ImportCommandTest, ACreateAnsweredByAnHtmlPageFailsAndIsSentAgain) {
  StartServer();
  gwsim::Fault page;
  page.kind = gwsim::FaultKind::kHtmlPage;
  page.requestName = "createItemRequest";
  server_->AddFault(page);
  options_.folders = {"Mailbox"};
  ImportReport failing;
  EXPECT_EQ(Run(&failing), 75);
  ASSERT_EQ(failing.failures.size(), 1u) << FormatImportSummary(failing);
  EXPECT_EQ(failing.failures[0].reason, "the answer is not a SOAP envelope");
  EXPECT_EQ(BobItems().size(), 2u);
  ImportReport retry;
  ASSERT_EQ(Run(&retry), 0) << FormatImportSummary(retry);
  EXPECT_EQ(retry.folders[0].created, 1);
  EXPECT_EQ(BobItems(), (std::vector<std::string>{"Mailbox: Grüße aus Köln – €",
                                                  "Mailbox: Quarterly report",
                                                  "Mailbox: Réunion à l'hôtel"}));
}

// An answer that breaks off after the create went out: the server may have
// made the item, so the create is not posted again (that made it twice,
// reported as created). The mail fails with that said, and the next run
// asks the server before writing it again: once either way. A read cut the
// same way is read again.
TEST_F(ImportCommandTest, ACreateWhoseAnswerBreaksOffIsNotPostedAgainAndTheNextRunAsks) {
  const std::vector<std::string> all = {"Mailbox: Grüße aus Köln – €", "Mailbox: Quarterly report",
                                        "Mailbox: Réunion à l'hôtel"};
  const struct {
    const char *why;
    gwsim::FaultKind kind;
    bool made;  // the server made the item before the answer broke
  } rows[] = {{"cut after the server made it", gwsim::FaultKind::kCutAt, true},
              {"closed after the status line, nothing made", gwsim::FaultKind::kCloseAfterStatus, false}};
  int n = 0;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    StartServer();
    host_.outDir = (root_ / ("out" + std::to_string(n++))).string();
    gwsim::Fault cut;
    cut.kind = row.kind;
    cut.cutAt = 90;
    gwsim::Fault readCut = cut;
    readCut.requestName = "getFolderListRequest";
    readCut.nameOrdinal = 1;
    server_->AddFault(readCut);
    const std::string reason = ImportWithSecondCreateBroken(cut, "Mailbox");
    EXPECT_NE(reason.find("the server may have acted on it"), std::string::npos) << reason;
    EXPECT_NE(reason.find("the next run asks the server"), std::string::npos);
    size_t creates = 0, folderLists = 0;
    for (const gwsim::RecordedRequest &r : server_->Requests()) {
      creates += r.requestName == "createItemRequest";
      folderLists += r.requestName == "getFolderListRequest";
    }
    EXPECT_EQ(creates, 3u);
    EXPECT_GE(folderLists, 2u) << "the cut folder list is read again";
    EXPECT_EQ(BobItems().size(), row.made ? 3u : 2u);

    // A rerun that cannot read the folder to ask writes nothing: written
    // blindly the mail could be there twice. It fails, and the run after
    // it asks again; the third such run writes it all the same (a folder
    // with an item the server never delivers is never read whole).
    gwsim::Fault unreadable;
    unreadable.requestName = "readCursorRequest";
    unreadable.times = 0;
    server_->AddFault(unreadable);
    for (int blindRun = 1; blindRun <= 2; ++blindRun) {
      SCOPED_TRACE("blind run " + std::to_string(blindRun));
      ImportReport blind;
      ASSERT_EQ(Run(&blind), 75) << FormatImportSummary(blind);
      ASSERT_EQ(blind.failures.size(), 1u) << FormatImportSummary(blind);
      EXPECT_NE(blind.failures[0].reason.find("the server could not be asked"), std::string::npos)
          << blind.failures[0].reason;
      EXPECT_EQ(BobItems().size(), row.made ? 3u : 2u);
    }
    if (!row.made) {
      ImportReport third;
      ASSERT_EQ(Run(&third), 0) << FormatImportSummary(third);
      EXPECT_EQ(BobItems(), all);
      continue;
    }
    server_->ClearFaults();

    ImportReport rerun;
    ASSERT_EQ(Run(&rerun), 0) << FormatImportSummary(rerun);
    ASSERT_EQ(rerun.folders.size(), 1u);
    EXPECT_EQ(rerun.folders[0].created, row.made ? 0 : 1);
    EXPECT_EQ(BobItems(), all);
  }
}

// A contact whose create broke off is asked about on the next run by its
// names and address: contacts have no subject, sender or date, and told
// apart by those, the other contact passed for it and it was never made.
TEST_F(ImportCommandTest, AContactInDoubtIsAskedAboutByItsNames) {
  StartServer();
  fs::create_directories(root_ / "tree/contacts");
  ASSERT_TRUE(WriteFileBytes((root_ / "tree/contacts/ann.vcf").string(),
                             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann-1\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\n"
                             "EMAIL:ann@example.com\r\nEND:VCARD\r\n"));
  ASSERT_TRUE(WriteFileBytes((root_ / "tree/contacts/bo.vcf").string(),
                             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bo-2\r\nN:Berg;Bo;;;\r\nFN:Bo Berg\r\n"
                             "EMAIL:bo@example.com\r\nEND:VCARD\r\n"));
  auto contacts = [this] {
    gwsim::Mailbox &box = server_->mailbox();
    auto lock = box.Lock();
    int n = 0;
    for (const gwsim::Item &item : box.items) n += item.kind == "Contact";
    return n;
  };
  const int before = contacts();
  gwsim::Fault closed;  // the status line, then nothing: nothing is made
  closed.kind = gwsim::FaultKind::kCloseAfterStatus;
  ImportWithSecondCreateBroken(closed, "Contacts");
  EXPECT_EQ(contacts(), before + 1);
  ImportReport rerun;
  ASSERT_EQ(Run(&rerun), 0) << FormatImportSummary(rerun);
  EXPECT_EQ(contacts(), before + 2) << "the contact in doubt was not made again";
}

// A group is created after its members, each a contact of its own. When
// the group fails (here the server refuses it), the next run writes it
// again with the contacts the first made, not with new ones.
TEST_F(ImportCommandTest, AGroupWrittenAgainTakesTheMembersMadeBefore) {
  StartServer();
  fs::create_directories(root_ / "tree/contacts");
  ASSERT_TRUE(WriteFileBytes((root_ / "tree/contacts/team.vcf").string(),
                             "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:team-1\r\nKIND:group\r\nFN:Team\r\n"
                             "MEMBER;X-CN=Ann Lee:mailto:ann@example.com\r\n"
                             "MEMBER;X-CN=Bo Berg:mailto:bo@example.com\r\nEND:VCARD\r\n"));
  auto named = [this](const std::string &kind, const std::string &name) {
    gwsim::Mailbox &box = server_->mailbox();
    auto lock = box.Lock();
    std::vector<gwsim::Item> found;
    for (const gwsim::Item &item : box.items)
      if (item.kind == kind && item.subject == name) found.push_back(item);
    return found;
  };
  gwsim::Fault refused;
  refused.kind = gwsim::FaultKind::kCode;
  refused.status = 59905;
  refused.requestName = "createItemRequest";
  refused.nameOrdinal = 3;  // Ann, Bo, then the group
  server_->AddFault(refused);
  options_.folders = {"Contacts"};
  ImportReport first;
  ASSERT_EQ(Run(&first), 75) << FormatImportSummary(first);
  ASSERT_EQ(named("Contact", "Ann Lee").size(), 1u);
  ASSERT_EQ(named("Contact", "Bo Berg").size(), 1u);
  EXPECT_TRUE(named("Group", "Team").empty());
  const std::string ann = named("Contact", "Ann Lee")[0].id, bo = named("Contact", "Bo Berg")[0].id;

  ImportReport second;
  ASSERT_EQ(Run(&second), 0) << FormatImportSummary(second);
  EXPECT_EQ(named("Contact", "Ann Lee").size(), 1u) << "a member made twice";
  EXPECT_EQ(named("Contact", "Bo Berg").size(), 1u) << "a member made twice";
  const std::vector<gwsim::Item> groups = named("Group", "Team");
  ASSERT_EQ(groups.size(), 1u);
  std::vector<std::string> ids;
  for (const gwsim::GroupMember &m : groups[0].card.members) ids.push_back(m.id);
  EXPECT_EQ(ids, (std::vector<std::string>{ann, bo}));
  EXPECT_FALSE(fs::exists(root_ / "out/data/import-members.txt")) << "the records go once the group is imported";
}

TEST_F(ImportCommandTest, ImportedMailCarriesTheRecordsFields) {
  StartServer();
  options_.folders = {"Mailbox"};
  ImportReport report;
  ASSERT_EQ(Run(&report), 0) << FormatImportSummary(report);
  gwsim::Mailbox &box = server_->mailbox();
  auto lock = box.Lock();
  std::map<std::string, const gwsim::Item *> bySubject;
  for (const gwsim::Item &item : box.items) bySubject[item.subject] = &item;
  ASSERT_TRUE(bySubject.count("Grüße aus Köln – €"));
  const gwsim::Item *utf8 = bySubject["Grüße aus Köln – €"];
  EXPECT_EQ(utf8->fromName, "Jörg Müller");
  EXPECT_EQ(utf8->fromEmail, "joerg@example.de");
  EXPECT_EQ(utf8->delivered, "2020-03-03T09:15:30Z");
  EXPECT_TRUE(utf8->read);
  EXPECT_EQ(utf8->priority, "High");
  ASSERT_TRUE(bySubject.count("Réunion à l'hôtel"));
  EXPECT_FALSE(bySubject["Réunion à l'hôtel"]->read);
  EXPECT_EQ(bySubject["Réunion à l'hôtel"]->priority, "Low");
  ASSERT_TRUE(bySubject.count("Quarterly report"));
  const gwsim::Item *mixed = bySubject["Quarterly report"];
  std::vector<std::string> names;
  for (const gwsim::Attachment &a : mixed->attachments) names.push_back(a.name);
  EXPECT_EQ(names, (std::vector<std::string>{"text.htm", "Bericht Q2 €.pdf", "Original note.eml",
                                             "attachment-4.txt"}));
}

TEST_F(ImportCommandTest, MessagesSharingAMessageIdAreEachWrittenAndCopiesOnce) {
  StartServer();
  AddBugTrackerCopies();
  options_.folders = {"Mailbox"};
  ImportReport report;
  ASSERT_EQ(Run(&report), 0) << FormatImportSummary(report);
  ASSERT_EQ(report.folders.size(), 1u);
  EXPECT_EQ(report.folders[0].created, 5);
  EXPECT_EQ(report.folders[0].alreadyImported, 1);  // the byte-identical copy
  const std::vector<std::string> expected = {
      "Mailbox: Grüße aus Köln – €", "Mailbox: Quarterly report", "Mailbox: Réunion à l'hôtel",
      "Mailbox: [Bug 7] comment #1", "Mailbox: [Bug 7] crash on start",
  };
  EXPECT_EQ(BobItems(), expected);
  ImportReport again;
  ASSERT_EQ(Run(&again), 0);
  EXPECT_EQ(again.folders[0].created, 0);
  EXPECT_EQ(again.folders[0].alreadyImported, 6);
  EXPECT_EQ(BobItems(), expected);
}

TEST_F(ImportCommandTest, AnOldRecordByMessageIdStandsForOneMessageOnly) {
  StartServer();
  AddBugTrackerCopies();
  RecordByMessageIdAsBefore("Mailbox", "bug-7@tracker.example.org");
  options_.folders = {"Mailbox"};
  ImportReport report;
  ASSERT_EQ(Run(&report), 0) << FormatImportSummary(report);
  EXPECT_EQ(report.folders[0].created, 4);          // the three others and the comment
  EXPECT_EQ(report.folders[0].alreadyImported, 2);  // the first bug mail (by its old record) and its copy
  const std::vector<std::string> expected = {
      "Mailbox: Grüße aus Köln – €", "Mailbox: Quarterly report", "Mailbox: Réunion à l'hôtel",
      "Mailbox: [Bug 7] comment #1",
  };
  EXPECT_EQ(BobItems(), expected);
  // The old record was taken over for good: a rerun writes nothing.
  ImportReport again;
  ASSERT_EQ(Run(&again), 0);
  EXPECT_EQ(again.folders[0].created, 0);
  EXPECT_EQ(again.folders[0].alreadyImported, 6);
  EXPECT_EQ(BobItems(), expected);
}

}  // namespace
