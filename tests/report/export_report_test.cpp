// The export report: status counting, the closing summary and the JSON
// document with every failed item.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/report/export_report.h"
#include "host/report/import_report.h"
#include "support/host_fixture.h"

namespace {

using report::ExportReport;
using report::FolderSummary;

// Every status CountItem tells apart, each in a folder the summary and the
// JSON document then write out whole.
ExportReport Sample() {
  ExportReport r;
  r.server = "http://127.0.0.1:7191";
  r.user = "alice";
  r.outDir = "/tmp/out";
  r.seconds = 1.5;
  FolderSummary inbox;
  inbox.path = "Mailbox";
  inbox.total = 4;
  for (int status : {0, 0, 1, 6}) report::CountItem(&inbox, status, status == 6);
  inbox.bytes = 2048;
  FolderSummary cabinet;
  cabinet.path = "Cabinet^Projects";
  cabinet.total = 3;
  for (int status : {2, 6, 9}) report::CountItem(&cabinet, status, false);
  r.folders = {inbox, cabinet};
  r.failures.push_back({"Mailbox", "ID.1@1", "Quote \"this\"\ttab", "HTTP 500 on getItemRequest"});
  return r;
}

TEST(ExportReportTest, SummaryHasARowPerFolderTotalsAndFailures) {
  std::string text = report::FormatSummary(Sample());
  EXPECT_EQ(text,
            "folder              items   stored    earlier  by date  skipped   failed\n"
            "Mailbox                 4        2          1        0        0        1\n"
            "Cabinet^Projects        3        0          0        1        2        0\n"
            "total                   7        2          1        1        2        1\n"
            "\n"
            "Failed items (1):\n"
            "  Mailbox  id=ID.1@1  subject=\"Quote \"this\"\ttab\"  HTTP 500 on getItemRequest\n");
}

TEST(ExportReportTest, SummaryListsTheFirstFailuresAndCountsTheRest) {
  const struct {
    size_t failures, listed;
    const char *moreLine;  // the closing line, or "" when every failure is listed
    const char *why;
  } cases[] = {
      {20, 20, "", "twenty are listed whole"},
      {21, 19, "  ... and 2 more (--report FILE.json lists every one)\n", "one more: a line saying so replaces the 20th"},
      {1595, 19, "  ... and 1576 more (--report FILE.json lists every one)\n", "a server gone mid-run"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    ExportReport r;
    for (size_t i = 0; i < c.failures; ++i) r.failures.push_back({"Mailbox", "ID." + std::to_string(i), "", "gone"});
    std::string text = report::FormatSummary(r);
    size_t listed = 0;
    for (size_t p = text.find("  Mailbox  id=ID."); p != std::string::npos; p = text.find("  Mailbox  id=ID.", p + 1))
      ++listed;
    EXPECT_EQ(listed, c.listed);
    EXPECT_NE(text.find("Failed items (" + std::to_string(c.failures) + "):\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("  Mailbox  id=ID." + std::to_string(c.listed) + " "), std::string::npos) << text;
    const std::string tail = "  Mailbox  id=ID." + std::to_string(c.listed - 1) + "  subject=\"\"  gone\n" + c.moreLine;
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

    // The import's summary lists its failed messages by the same rule.
    report::ImportReport imported;
    for (size_t i = 0; i < c.failures; ++i)
      imported.failures.push_back({"Mailbox", "m" + std::to_string(i), "", "refused"});
    text = report::FormatImportSummary(imported);
    listed = 0;
    for (size_t p = text.find("failed: Mailbox/m"); p != std::string::npos; p = text.find("failed: Mailbox/m", p + 1))
      ++listed;
    EXPECT_EQ(listed, c.listed);
    const std::string more = c.moreLine[0] != '\0' ? std::string(c.moreLine).substr(2) : "";
    const std::string importTail = "failed: Mailbox/m" + std::to_string(c.listed - 1) + ": : refused\n" + more;
    EXPECT_EQ(text.substr(text.size() - importTail.size()), importTail);
  }
}

TEST(ExportReportTest, JsonDocument) {
  ExportReport r = Sample();
  r.interrupted = true;
  EXPECT_EQ(report::FormatReportJson(r),
            "{\n"
            "  \"server\": \"http://127.0.0.1:7191\",\n"
            "  \"user\": \"alice\",\n"
            "  \"out\": \"/tmp/out\",\n"
            "  \"dry_run\": false,\n"
            "  \"retry_failed\": false,\n"
            "  \"interrupted\": true,\n"
            "  \"seconds\": 1.500,\n"
            "  \"folders\": [\n"
            "    {\"path\": \"Mailbox\", \"total\": 4, \"stored\": 2, \"already_present\": 0, \"earlier\": 1, \"duplicates\": 1, "
            "\"date_filtered\": 0, \"skipped\": 0, \"failed\": 1, \"bytes\": 2048},\n"
            "    {\"path\": \"Cabinet^Projects\", \"total\": 3, \"stored\": 0, \"already_present\": 0, \"earlier\": 0, \"duplicates\": 0, "
            "\"date_filtered\": 1, \"skipped\": 2, \"failed\": 0, \"bytes\": 0}\n"
            "  ],\n"
            "  \"totals\": {\"total\": 7, \"stored\": 2, \"already_present\": 0, \"earlier\": 1, \"duplicates\": 1, "
            "\"date_filtered\": 1, \"skipped\": 2, \"failed\": 1, \"bytes\": 2048},\n"
            "  \"failed_items\": [\n"
            "    {\"folder\": \"Mailbox\", \"id\": \"ID.1@1\", \"subject\": \"Quote \\\"this\\\"\\ttab\", "
            "\"reason\": \"HTTP 500 on getItemRequest\"}\n"
            "  ]\n"
            "}\n");
  ExportReport empty;
  EXPECT_NE(report::FormatReportJson(empty).find("\"folders\": [],\n"), std::string::npos);
  EXPECT_NE(report::FormatReportJson(empty).find("\"failed_items\": []\n}"), std::string::npos);
}

TEST(ExportReportTest, RecordsAreCountedByKind) {
  const struct {
    int itemKind, contactFlag, kind;
    const char *why;
  } cases[] = {
      {0, 0, report::kKindMail, "mail"},
      {1, 0, report::kKindContact, "a contact"},
      {1, 1, report::kKindGroup, "an address-book entry flagged as a group"},
      {2, 0, report::kKindAppointment, "an appointment"},
      {3, 0, report::kKindTask, "a task"},
      {2, 1, report::kKindAppointment, "the group flag means nothing outside the address book"},
      {7, 0, -1, "a record the writer passes over is no kind"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(report::KindOfRecord(c.itemKind, c.contactFlag), c.kind);
    report::KindCounts counts;
    report::CountKind(&counts, c.itemKind, c.contactFlag);
    EXPECT_EQ(report::AnyKind(counts), c.kind >= 0);
  }
}

TEST(ExportReportTest, KindsNotExportedFoldersWarningsLostAttachmentsShortenedNamesAndEarlierItemsFollowTheTotals) {
  ExportReport r = Sample();
  r.failures.clear();
  r.kinds.count[report::kKindMail] = 2;
  r.kinds.count[report::kKindAppointment] = 1;
  r.kinds.count[report::kKindTask] = 3;
  r.notExported.push_back({"Contacts", "contacts", 1});
  r.warnings.push_back({"Calendar", "APPT.1@1", "Standup", "zone \"Mars Standard Time\" unknown: written in UTC"});
  r.earlier.push_back({"Mailbox", "", "Delivery Status Notification", "exported by an earlier run"});
  r.lostAttachments.push_back({"Mailbox", "M.1@1", "Scan", "The attachment scan.pdf could not be read from the server: "
                               "attachment data at offset 0 not received, httpResponse=500"});
  const std::string whole = std::string(251, 'a') + "/b";
  r.shortenedFolders.push_back({"Cabinet^" + std::string(241, 'a') + "~0f3e2a11", whole,
                                std::string(241, 'a') + "~0f3e2a11"});
  EXPECT_EQ(report::FormatSummary(r),
            "folder              items   stored    earlier  by date  skipped   failed\n"
            "Mailbox                 4        2          1        0        0        1\n"
            "Cabinet^Projects        3        0          0        1        2        0\n"
            "total                   7        2          1        1        2        1\n"
            "stored by kind: 2 mail, 1 appointment, 3 tasks\n"
            "\n"
            "Not exported (no format for their class):\n"
            "  Contacts  contacts, 1 item\n"
            "\n"
            "Warnings (1):\n"
            "  Calendar  APPT.1@1  subject=\"Standup\"  zone \"Mars Standard Time\" unknown: written in UTC\n"
            "\n"
            "Stored with a lost attachment (1):\n"
            "  Mailbox  M.1@1  subject=\"Scan\"  The attachment scan.pdf could not be read from the server: "
            "attachment data at offset 0 not received, httpResponse=500\n"
            "\n"
            "Folder names shortened (1):\n"
            "  Cabinet^" + std::string(241, 'a') + "~0f3e2a11  directory " + std::string(241, 'a') +
            "~0f3e2a11  whole name: " + whole + "\n"
            "\n"
            "Already exported, not written again (1):\n"
            "  Mailbox  (unknown)  subject=\"Delivery Status Notification\"  exported by an earlier run\n");
  const std::string json = report::FormatReportJson(r);
  EXPECT_NE(json.find("\"bytes\": 2048},\n"
                      "  \"kinds\": {\"mail\": 2, \"appointments\": 1, \"tasks\": 3, \"contacts\": 0, \"groups\": 0},\n"
                      "  \"not_exported\": [\n"
                      "    {\"path\": \"Contacts\", \"class\": \"contacts\", \"total\": 1}\n"
                      "  ],\n"
                      "  \"warnings\": [\n"
                      "    {\"folder\": \"Calendar\", \"item\": \"APPT.1@1\", \"subject\": \"Standup\", "
                      "\"warning\": \"zone \\\"Mars Standard Time\\\" unknown: written in UTC\"}],\n"
                      "  \"lost_attachments\": [\n"
                      "    {\"folder\": \"Mailbox\", \"item\": \"M.1@1\", \"subject\": \"Scan\", \"lost\": \"The attachment "
                      "scan.pdf could not be read from the server: attachment data at offset 0 not received, "
                      "httpResponse=500\"}],\n"
                      "  \"shortened_folders\": [\n"
                      "    {\"path\": \"Cabinet^" + std::string(241, 'a') + "~0f3e2a11\", \"name\": \"" + whole +
                      "\", \"on_disk\": \"" + std::string(241, 'a') + "~0f3e2a11\"}\n"
                      "  ],\n"
                      "  \"earlier_items\": [\n"
                      "    {\"folder\": \"Mailbox\", \"item\": \"\", \"subject\": \"Delivery Status Notification\", "
                      "\"why\": \"exported by an earlier run\"}],\n"
                      "  \"failed_items\": []\n"),
            std::string::npos)
      << json;
}

TEST(ExportReportTest, MailRulesAreCountedAfterTheKinds) {
  ExportReport r = Sample();
  r.failures.clear();
  r.kinds.count[report::kKindContact] = 4;
  r.kinds.count[report::kKindGroup] = 1;
  r.rules = {true, 7, 2, 5, 2};
  const std::string summary = report::FormatSummary(r);
  EXPECT_NE(summary.find("stored by kind: 4 contacts, 1 group\n"
                         "mail rules: 7 in rules/mboxrules.dat (2 new), 5 as Sieve and 2 kept as comments in "
                         "rules/rules.sieve\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(report::FormatReportJson(r).find("  \"rules\": {\"total\": 7, \"new\": 2, \"sieve\": 5, \"comments\": 2},\n"),
            std::string::npos);
  r.rules = report::RulesSummary();
  EXPECT_EQ(report::FormatSummary(r).find("mail rules"), std::string::npos) << "no rules exported, no line";
  EXPECT_EQ(report::FormatReportJson(r).find("\"rules\""), std::string::npos);
}

TEST(ExportReportTest, MailFormsAreCountedWhenOriginalsWereAskedFor) {
  const struct {
    report::MailForms forms;
    const char *line;  // in the summary, "" when none
    const char *json;  // in the report, "" when none
    const char *why;
  } cases[] = {
      {{true, 3, 2, 1}, "mail: 3 as received, 2 converted (1 with its original above the size limit)\n",
       "  \"mail_forms\": {\"as_received\": 3, \"converted\": 2, \"original_too_large\": 1},\n",
       "originals met, one of them too large"},
      {{true, 0, 4, 0}, "", "  \"mail_forms\": {\"as_received\": 0, \"converted\": 4, \"original_too_large\": 0},\n",
       "no mail had an original: the summary reads as before, the report counts"},
      {{false, 0, 4, 0}, "", "", "not asked for (--no-originals): as before"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    ExportReport r = Sample();
    r.forms = c.forms;
    const std::string summary = report::FormatSummary(r), json = report::FormatReportJson(r);
    if (c.line[0] != '\0') {
      EXPECT_NE(summary.find(std::string("total                   7        2          1        1        2        1\n") +
                             c.line),
                std::string::npos)
          << summary;
    } else {
      EXPECT_EQ(summary.find("mail:"), std::string::npos) << summary;
    }
    if (c.json[0] != '\0') {
      EXPECT_NE(json.find(c.json), std::string::npos) << json;
    } else {
      EXPECT_EQ(json.find("mail_forms"), std::string::npos) << json;
    }
  }
}

TEST(ExportReportTest, JsonTextsAreValidUtf8) {
  const struct {
    const char *in, *out, *why;
  } cases[] = {
      {"Grüße €", "\"Grüße €\"", "valid UTF-8 passes"},
      {"a\\b\x01", "\"a\\\\b\\u0001\"", "backslash and control characters escaped"},
      {"Caf\xE9!", "\"Caf\\ufffd!\"", "a Latin-1 byte is replaced"},
      {"Stra\xC3", "\"Stra\\ufffd\"", "a sequence cut at the end is replaced"},
      {"\xC0\xAF", "\"\\ufffd\\ufffd\"", "an overlong form is invalid"},
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\"", "a surrogate is invalid"},
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\"", "four-byte sequences pass"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(report::JsonText(c.in), c.out);
  }
}

// Where a report may go: a new or regular file is replaced whole and made
// owner-only, a FIFO (as a device would be) is written in place and stays a
// FIFO, "-" is standard output; the umask is the usual 022 throughout.
TEST(ExportReportTest, ReportTargetsKeepTheirKind) {
  testing_support::TestHost host;
  const mode_t savedUmask = umask(022);
  enum Target { kNew, kRegular, kFifo, kStdout, kNoDirectory, kDirectory };
  const struct {
    Target target;
    int rc;
    const char *why;
  } cases[] = {
      {kNew, 0, "a new name gets an owner-only regular file"},
      {kRegular, 0, "a regular file readable by all is replaced and made owner-only"},
      {kFifo, 0, "a FIFO takes the text in place and is not replaced (as /dev/null must not be)"},
      {kStdout, 0, "\"-\" is standard output"},
      {kNoDirectory, -1, "a missing directory is an error naming the path"},
      {kDirectory, -1, "a directory is an error and stays a directory"},
  };
  const std::string text = report::FormatReportJson(Sample());
  int n = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    std::string path = host.root() + "/r" + std::to_string(++n) + ".json";
    int fifoReader = -1;
    switch (c.target) {
      case kRegular:
        ASSERT_TRUE(testing_support::WriteFileBytes(path, "older report, longer than the new one" + text));
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
        break;
      case kFifo:
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        // Opened for reading first, without waiting, so that the writer's
        // open finds a reader and nothing here can block.
        fifoReader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fifoReader, 0);
        break;
      case kStdout: path = "-"; break;
      case kNoDirectory: path = host.root() + "/no/dir/r.json"; break;
      case kDirectory: ASSERT_EQ(mkdir(path.c_str(), 0700), 0); break;
      case kNew: break;
    }
    std::string error;
    if (c.target == kStdout) testing::internal::CaptureStdout();
    const int rc = report::WriteReportFile(path, Sample(), &error);
    const std::string printed = c.target == kStdout ? testing::internal::GetCapturedStdout() : "";
    EXPECT_EQ(rc, c.rc) << error;
    struct stat st = {};
    const bool exists = stat(path.c_str(), &st) == 0;
    switch (c.target) {
      case kNew:
      case kRegular:
        EXPECT_EQ(testing_support::ReadFileBytes(path), text);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        break;
      case kFifo: {
        std::string got;
        char buf[4096];
        ssize_t r;
        while ((r = read(fifoReader, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(r));
        close(fifoReader);
        EXPECT_EQ(got, text);
        EXPECT_TRUE(exists && S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
        break;
      }
      case kStdout:
        EXPECT_EQ(printed, text);
        EXPECT_FALSE(testing_support::FileExists("-"));
        break;
      case kNoDirectory:
      case kDirectory:
        EXPECT_NE(error.find(path), std::string::npos) << error;
        if (c.target == kDirectory) {
          EXPECT_TRUE(exists && S_ISDIR(st.st_mode));
        }
        break;
    }
    if (c.target != kStdout) {
      EXPECT_FALSE(testing_support::FileExists(path + ".tmp"));
    }
  }
  umask(savedUmask);
}

}  // namespace
