// ConvertFolder against the simulator: what the host is handed, told and
// asked, item by item, and the failed-ids list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert_support.h"
#include "folders/folder_table.h"
#include "platform/win_compat.h"
#include "host/mvcom/mvcom_host.h"
#include "plugin/mvcom.h"
#include "reader/folder_driver.h"

namespace reader_test {
namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

// n mails "Mail 1".. created one a day from 2026-01-01, ids M1@1...
std::string Mails(int n, const std::string &prefix = "M") {
  std::string xml;
  for (int i = 1; i <= n; ++i) {
    std::string day = (i < 10 ? "0" : "") + std::to_string(i);
    xml += "<item id=\"" + prefix + std::to_string(i) + "@1\" subject=\"Mail " +
           std::to_string(i) + "\" created=\"2026-01-" + day + "T09:00:00Z\" delivered=\"2026-01-" +
           day + "T09:00:00Z\"><from name=\"Dan\" email=\"dan@example.com\"/><text>Body " +
           std::to_string(i) + "</text></item>";
  }
  return xml;
}

std::string Mailbox(int n) {
  return "<folder name=\"Mailbox\" type=\"Mailbox\">" + Mails(n) +
         "</folder><folder name=\"Cabinet\" type=\"Cabinet\"><folder name=\"Projects\">" +
         Mails(2, "P") + "</folder></folder><folder name=\"Calendar\" type=\"Calendar\"/>";
}

std::vector<std::string> Subjects() {
  std::vector<std::string> subjects;
  for (const StoredItem &item : gHost.stored) subjects.push_back(item.subject);
  return subjects;
}

class FolderDriverTest : public ConvertTest {};

TEST_F(FolderDriverTest, EveryMailIsStoredWithItsTextBody) {
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(3), {"/LOGUUID"}));
  EXPECT_EQ(0, Convert("Mailbox"));
  // /LOGUUID: a start line per item, an end line per stored item and one at the folder's end.
  EXPECT_EQ(3, host_.CountLog("[UUID:START]"));
  EXPECT_EQ(4, host_.CountLog("[UUID:END]"));
  EXPECT_EQ((std::vector<std::string>{"Mail 1", "Mail 2", "Mail 3"}), Subjects());
  EXPECT_EQ((std::vector<int>{0, 0, 0}), gHost.statuses);
  ASSERT_EQ(1u, gHost.stored[1].parts.size());
  EXPECT_EQ("Message.txt", gHost.stored[1].parts[0].name);
  EXPECT_EQ(1, gHost.stored[1].parts[0].kind);
  EXPECT_EQ("Body 2", gHost.stored[1].parts[0].bytes);
  EXPECT_EQ(3, storedCount_);
  EXPECT_GT(dataSize_, 0);
  EXPECT_EQ(3, record_->folderItemCount);
  EXPECT_TRUE(itemErrors_.empty());
  // The host freed each item: no part file is left behind.
  EXPECT_FALSE(FileExists(WorkFile("PRT00700.TMP")));
}

struct LimitCase {
  const char *why;
  int itemLimit;
  std::vector<int> saveCodes;
  int stopAfterStored;
  int storedCount;                // as ConvertFolder reports it
  std::vector<int> statuses;
  size_t itemsFetched;
};

TEST_F(FolderDriverTest, TheLoopEndsWhereTheHostOrTheLimitSays) {
  const LimitCase cases[] = {
      {"item limit 3 of 10", 3, {}, 0, 3, {0, 0, 0}, 3},
      {"1235 on the second item ends the folder", 0, {0, 1235}, 0, 2, {0, 6}, 2},
      {"500 and 1234 fail the item and go on", 4, {500, 1234}, 0, 4, {6, 6, 0, 0}, 4},
      {"stop set in the notification of the first item", 0, {}, 1, 1, {0}, 1},
  };
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(10)));
  for (const LimitCase &c : cases) {
    SCOPED_TRACE(c.why);
    gHost = HostLog();
    gHost.saveCodes = c.saveCodes;
    gHost.stopAfterStored = c.stopAfterStored;
    server_.ClearRequests();
    mvcom_Shutdown();  // a fresh migration state: nothing is a duplicate yet
    remove((host_.dataDir() + "mvmigrate.db").c_str());
    ASSERT_EQ(0, host_.Init());
    EXPECT_EQ(0, Convert("Mailbox", c.itemLimit));
    EXPECT_EQ(c.storedCount, storedCount_);
    EXPECT_EQ(c.statuses, gHost.statuses);
    EXPECT_EQ(c.itemsFetched, Sent("getItemRequest").size());
  }
}

struct TurnAwayCase {
  const char *why;
  std::vector<std::string> switches;
  const char *excludedSubject;  // the host's subject exclusion, or null
  const char *onlyId;           // the one message id the host's search takes, or null
  int folderCount;              // the folder's count as listed (3 items are there)
  bool stopOnCountNotice;
  std::vector<std::string> subjects;
  std::vector<int> statuses;
};

TEST_F(FolderDriverTest, ItemsTheHostTurnsAwayAreNeitherStoredNorFetchedOnceItStops) {
  const TurnAwayCase cases[] = {
      {"/LSUB: the item whose line the host excludes is skipped with status 6", {"/LSUB"},
       "subject=Mail 2", nullptr, 3, false, {"Mail 1", "Mail 3"}, {0, 6, 0}},
      {"the host's search refusing every item skips each with status 6", {}, nullptr, "none", 3,
       false, {}, {6, 6, 6}},
      {"stop set in the count correction's notice: no item is fetched", {}, nullptr, nullptr, 5,
       true, {}, {}},
  };
  for (const TurnAwayCase &c : cases) {
    SCOPED_TRACE(c.why);
    const char *excluded[] = {c.excludedSubject};
    const char *only[] = {c.onlyId};
    host_.config().excludeSubjects = excluded;
    host_.config().excludeCount = c.excludedSubject != nullptr ? 1 : 0;
    host_.config().onlyMessageIds = only;
    host_.config().onlyCount = c.onlyId != nullptr ? 1 : 0;
    mvcom_Shutdown();  // a fresh migration state: nothing is a duplicate yet
    remove((host_.dataDir() + "mvmigrate.db").c_str());
    ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(3), c.switches));
    gFolderTable.records[FolderIndex("Mailbox")]->itemCount = c.folderCount;
    gHost = HostLog();
    gHost.stopOnCountNotice = c.stopOnCountNotice;
    server_.ClearRequests();
    EXPECT_EQ(0, Convert("Mailbox"));
    EXPECT_EQ(c.subjects, Subjects());
    EXPECT_EQ(c.statuses, gHost.statuses);
    if (c.stopOnCountNotice) {
      EXPECT_TRUE(Sent("getItemRequest").empty());
    }
  }
  host_.config().excludeSubjects = host_.config().onlyMessageIds = nullptr;
  host_.config().excludeCount = host_.config().onlyCount = 0;
}

TEST_F(FolderDriverTest, AnItemMigratedBeforeIsNotStoredAgain) {
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(2)));
  ASSERT_EQ(0, Convert("Mailbox"));
  gHost = HostLog();
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_TRUE(gHost.stored.empty());
  EXPECT_EQ((std::vector<int>{1, 1}), gHost.statuses);
  EXPECT_EQ(0, storedCount_);
}

TEST_F(FolderDriverTest, ItemsLeftOutByTheDateFilterAreNotified) {
  SYSTEMTIME from = {2026, 1, 0, 3, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&from, &host_.config().dateFrom));
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(5)));
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ((std::vector<std::string>{"Mail 3", "Mail 4", "Mail 5"}), Subjects());
  EXPECT_EQ((std::vector<int>{0, 0, 0, 2, 2}), gHost.statuses);
  EXPECT_TRUE(host_.HasLog("Adjusting MailboxMessageCount by -2"));
  ASSERT_EQ(1u, gHost.notes.size());
  EXPECT_EQ("MailboxMessageCount", gHost.notes[0].first);
  EXPECT_EQ(-2, gHost.notes[0].second);
  EXPECT_TRUE(host_.HasLog("Messages skipped due to server-side date filter: 2"));
}

TEST_F(FolderDriverTest, FetchAndStoreFailuresAreListedAndOnlyTheFetchIsReported) {
  const std::string failedIds = host_.dataDir() + "failed.txt";
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(3), {"/D327", failedIds}));
  // Cursor: create, two reads, destroy; then the items: the second fails.
  FaultNext(6, 500);
  gHost.saveCodes = {1234};
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ((std::vector<std::string>{"Mail 1", "Mail 3"}), Subjects());
  EXPECT_EQ((std::vector<int>{6, 6, 0}), gHost.statuses);
  // The host knows its own store failure; the fetch failure is reported to it.
  EXPECT_EQ((std::vector<std::string>{"M2@1\t\tgetItemRequest failed, httpResponse=500"}),
            itemErrors_);
  EXPECT_EQ(2, storedCount_);  // every SaveItem call, as with 500 and 1234 above
  EXPECT_EQ("FolderNumber=" + std::to_string(FolderIndex("Mailbox")) +
                ", FolderType=0;Mailbox\nmsgid=M1@1;Mail 1\nmsgid=M2@1;\nmsgid=;\n",
            ReadFileBytes(WorkFile("failedIds.tmp")));
}

TEST_F(FolderDriverTest, FailedIdsOfAnEarlierRunAreConvertedInFileOrder) {
  const std::string failedIds = host_.dataDir() + "failed.txt";
  ASSERT_TRUE(WriteFileBytes(failedIds,
                             "FolderNumber=4, FolderType=0;Mailbox\nmsgid=M3@1;Mail 3\nmsgid=;\n"
                             "FolderNumber=5, FolderType=0;Projects\nmsgid=P1@1;Mail 1\nmsgid=;\n"
                             "FolderNumber=4, FolderType=0;Mailbox\nmsgid=M1@1;Mail; 1\n"
                             "msgid=GONE@1;Deleted since\nmsgid=;\n"));
  // The list replaces the listing, so the date range (which Mail 1 lies before)
  // neither leaves ids out nor calls the two items not on the list date-filtered.
  SYSTEMTIME from = {2026, 1, 0, 2, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&from, &host_.config().dateFrom));
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(5), {"/D328", "/D327", failedIds}));
  server_.ClearRequests();
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ((std::vector<std::string>{"Mail 3", "Mail 1"}), Subjects());
  EXPECT_TRUE(Sent("createCursorRequest").empty());
  // The item that is no longer there answers with a code: failed, not stored.
  EXPECT_EQ((std::vector<int>{0, 0, 6}), gHost.statuses);
  ASSERT_EQ(1u, itemErrors_.size());
  EXPECT_EQ(0u, itemErrors_[0].find("GONE@1\t\tgetItemRequest failed, code=59906"));
  // The list of this run holds only that one.
  EXPECT_NE(std::string::npos,
            ReadFileBytes(WorkFile("failedIds.tmp")).find("msgid=GONE@1;\nmsgid=;\n"))
      << ReadFileBytes(WorkFile("failedIds.tmp"));
}

// A subject is the sender's text: its line breaks must not add records to
// the list, neither an id of the sender's choosing nor the end of a block.
TEST_F(FolderDriverTest, SubjectsCannotWriteRecordsIntoTheFailedIdsList) {
  auto item = [](const char *id, const char *subject) {
    return std::string("<item id=\"") + id + "\" subject=\"" + subject +
           "\" created=\"2026-01-01T09:00:00Z\" delivered=\"2026-01-01T09:00:00Z\">"
           "<from name=\"Dan\" email=\"dan@example.com\"/><text>Body</text></item>";
  };
  const std::string mailbox = "<folder name=\"Mailbox\" type=\"Mailbox\">" +
                              item("M1@1", "Re: a&#10;msgid=EVIL@1;x") +
                              item("M2@1", "&#13;&#10;msgid=;") + item("M3@1", "Mail 3") +
                              item("EVIL@1", "Private") + "</folder>";
  const std::string failedIds = host_.dataDir() + "failed.txt";
  ASSERT_NO_FATAL_FAILURE(Connect(mailbox, {"/D327", failedIds}));
  gHost.saveCodes = {1234, 1234, 1234, 0};
  EXPECT_EQ(0, Convert("Mailbox"));
  const std::string list = ReadFileBytes(WorkFile("failedIds.tmp"));
  EXPECT_EQ("FolderNumber=" + std::to_string(FolderIndex("Mailbox")) +
                ", FolderType=0;Mailbox\nmsgid=M1@1;Re: a msgid=EVIL@1;x\nmsgid=M2@1;  msgid=;\n"
                "msgid=M3@1;Mail 3\nmsgid=;\n",
            list);

  // The next run takes exactly the three that failed, M3 included.
  ASSERT_TRUE(WriteFileBytes(failedIds, list));
  ASSERT_NO_FATAL_FAILURE(Connect(mailbox, {"/D328", "/D327", failedIds}));
  gHost = HostLog();
  server_.ClearRequests();
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ((std::vector<std::string>{"Re: a\nmsgid=EVIL@1;x", "\r\nmsgid=;", "Mail 3"}),
            Subjects());
  std::string asked;
  for (const gwsim::RecordedRequest &r : Sent("getItemRequest")) {
    for (const char *id : {"M1@1", "M2@1", "M3@1", "EVIL@1"}) {
      if (r.body.find(std::string(">") + id + "<") != std::string::npos) {
        asked += std::string(id) + " ";
      }
    }
  }
  EXPECT_EQ("M1@1 M2@1 M3@1 ", asked);

  // The host splits the failed item's text at its tabs: id, subject, reason.
  itemErrors_.clear();
  ReportFailedItem("M1@1", "a\tb\r\nc", "refused\nagain");
  EXPECT_EQ((std::vector<std::string>{"M1@1\ta b  c\trefused again"}), itemErrors_);
}

TEST_F(FolderDriverTest, MailRulesAreFetchedOnceOverTwoFolders) {
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(1), {"/MAILRULES"}));
  FaultEvery("getRuleListRequest", 200,
             plugin_test::Answer("getRuleListResponse", "<gwm:rules/>"));
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ(0, Convert("Projects"));
  EXPECT_EQ(1u, Sent("getRuleListRequest").size());
  EXPECT_EQ("<m:getRuleListRequest/>", SentBody("getRuleListRequest"));
  EXPECT_TRUE(FileExists(host_.dataDir() + "gwrules.xml"));
  EXPECT_EQ(1, host_.CountLog("Attempting to export GW mail rules"));
  // No rules: an empty export file, and the answer is gone from the work directory.
  EXPECT_EQ("", ReadFileBytes(WorkFile("mboxrules.dat")));
  EXPECT_FALSE(FileExists(WorkFile("gwrules.xml")));
  EXPECT_EQ(3u, gHost.stored.size());
}

TEST_F(FolderDriverTest, FolderStructureOnlyStillCorrectsTheCount) {
  const struct {
    const char *why;
    int itemCount;
    std::vector<int> notes;
  } cases[] = {
      {"a count of 5 for 3 listed items is corrected by -2", 5, {-2}},
      {"a negative count (-2147483649 reads as the lowest int) is unknown: no correction",
       INT32_MIN, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(3), {"/D114"}));
    gFolderTable.records[FolderIndex("Mailbox")]->itemCount = c.itemCount;
    gHost = HostLog();
    EXPECT_EQ(0, Convert("Mailbox"));
    EXPECT_TRUE(Sent("getItemRequest").empty());
    std::vector<int> notes;
    for (const auto &note : gHost.notes) notes.push_back(note.second);
    EXPECT_EQ(c.notes, notes);
    EXPECT_TRUE(gHost.statuses.empty());
    EXPECT_EQ(0, storedCount_);
  }
}

TEST_F(FolderDriverTest, AFolderTheServerWillNotListIsReportedNotFilledFromAnother) {
  // With a date range the items the listing missed are still no date-filter skips.
  SYSTEMTIME from = {2026, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&from, &host_.config().dateFrom));
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(2)));
  ASSERT_EQ(0, Convert("Mailbox"));  // leaves Mailbox's ids in the id file
  gHost = HostLog();
  FaultNext(1, 500);  // the cursor of Projects
  EXPECT_EQ(0, Convert("Projects"));
  EXPECT_TRUE(gHost.stored.empty());
  EXPECT_TRUE(gHost.statuses.empty());  // no item, and no date-filter notices
  EXPECT_EQ((std::vector<std::string>{
                "Projects\tthe item list could not be read (0 of 2 items listed)"}),
            folderErrors_);
}

// The items a broken listing never reached are in no list: the folder's
// block says so, and a retry of the failed items lists that folder again
// while the other folders still take their ids from the list.
TEST_F(FolderDriverTest, ARetryListsAgainAFolderWhoseListingBroke) {
  const std::string failedIds = host_.dataDir() + "failed.txt";
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(3), {"/D327", failedIds}));
  gHost.saveCodes = {0, 1234, 0};
  ASSERT_EQ(0, Convert("Mailbox"));
  FaultNext(1, 500);  // the cursor of Projects
  ASSERT_EQ(0, Convert("Projects"));
  const std::string list = ReadFileBytes(WorkFile("failedIds.tmp"));
  EXPECT_EQ("FolderNumber=" + std::to_string(FolderIndex("Mailbox")) +
                ", FolderType=0;Mailbox\nmsgid=M2@1;Mail 2\nmsgid=;\n"
                "FolderNumber=" + std::to_string(FolderIndex("Projects")) +
                ", FolderType=0;Projects\nlisting=failed\nmsgid=;\n",
            list);

  ASSERT_TRUE(WriteFileBytes(failedIds, list));
  ASSERT_NO_FATAL_FAILURE(Connect(Mailbox(3), {"/D328", "/D327", failedIds}));
  gHost = HostLog();
  server_.ClearRequests();
  ASSERT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ((std::vector<std::string>{"Mail 2"}), Subjects());
  EXPECT_TRUE(Sent("createCursorRequest").empty());
  ASSERT_EQ(0, Convert("Projects"));
  EXPECT_EQ((std::vector<std::string>{"Mail 2", "Mail 1", "Mail 2"}), Subjects());
  EXPECT_EQ(1u, Sent("createCursorRequest").size());
  EXPECT_TRUE(host_.HasLog("MV Info: folder Projects was not listed whole by the earlier run, listing it again"));
  EXPECT_EQ(std::string::npos, ReadFileBytes(WorkFile("failedIds.tmp")).find("listing=failed"))
      << "listed whole this time";
}

}  // namespace
}  // namespace reader_test
