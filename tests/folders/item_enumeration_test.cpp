// Item enumeration against the simulator: cursor blocks of 100, failures on
// the way, the date filter, and the container check.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "folders/item_enumeration.h"
#include "gwsim/mailbox.h"
#include "platform/bounded_text.h"
#include "platform/win_compat.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "plugin_test_support.h"

namespace {

using plugin_test::Answer;
using plugin_test::FileLines;
using plugin_test::RequestBody;
using plugin_test::RequestsNamed;

const char kRoot[] = "ROOT.alice@16";

FILETIME Day(int year, int month, int day) {
  SYSTEMTIME st = {};
  st.wYear = static_cast<uint16_t>(year);
  st.wMonth = static_cast<uint16_t>(month);
  st.wDay = static_cast<uint16_t>(day);
  st.wHour = 15;  // the filter takes whole days whatever the hour
  FILETIME ft = {0, 0};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

class EnumerationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_test::ResetPluginState();
    ASSERT_EQ(0, host_.Init());
    plugin_test::UseHostDirectories(host_);
    ASSERT_TRUE(server_.Start()) << server_.LastError();
    {
      gwsim::Mailbox &mailbox = server_.mailbox();
      auto lock = mailbox.Lock();
      mailbox.Clear();
      gwsim::User alice;
      alice.name = "alice";
      alice.password = "secret";
      alice.rootFolderId = kRoot;
      mailbox.AddUser(alice);
    }
    ASSERT_TRUE(plugin_test::SimulatorLogin(server_, "alice", "secret"));
    idFile_ = host_.workDir() + "msgids.tmp";
  }
  void TearDown() override { plugin_test::ResetPluginState(); }

  // A folder of alice's with `count` mail items, created one day apart from
  // 2026-01-01. Returns the item ids in store order.
  std::vector<std::string> AddFolder(const std::string &id, int count) {
    gwsim::Mailbox &mailbox = server_.mailbox();
    auto lock = mailbox.Lock();
    gwsim::Folder folder;
    folder.id = id;
    folder.parentId = kRoot;
    folder.owner = "alice";
    folder.name = id;
    mailbox.AddFolder(folder);
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) {
      gwsim::Item item;
      item.container = id;
      char created[32];
      FormatText(created, sizeof created, "2026-%02d-%02dT10:00:00Z", 1 + i / 28, 1 + i % 28);
      item.created = created;
      item.subject = "item " + std::to_string(i);
      ids.push_back(mailbox.AddItem(item));
    }
    return ids;
  }

  // Answers request number `offset` after the ones so far with `body`.
  void AnswerNext(int offset, const std::string &body) {
    gwsim::Fault fault;
    fault.kind = gwsim::FaultKind::kFixedAnswer;
    fault.requestNumber = static_cast<int>(server_.RequestCount()) + offset;
    fault.body = body;
    server_.AddFault(fault);
  }

  std::vector<std::string> RequestNames() const {
    std::vector<std::string> names;
    for (const gwsim::RecordedRequest &r : server_.Requests()) names.push_back(r.requestName);
    return names;
  }

  testing_support::TestHost host_;
  gwsim::Server server_;
  std::string idFile_;
};

TEST_F(EnumerationTest, ReadsBlocksOfHundredUntilAnEmptyBlockThenDestroys) {
  struct Case {
    int items;
    int reads;
  };
  const Case cases[] = {{0, 1}, {1, 2}, {100, 2}, {250, 4}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.items);
    std::vector<std::string> ids = AddFolder("FOLDER." + std::to_string(c.items) + "@5", c.items);
    server_.ClearRequests();
    std::string folderId = "FOLDER." + std::to_string(c.items) + "@5";
    EXPECT_EQ(c.items, GetItemIds(folderId.c_str(), idFile_.c_str(), 0));
    EXPECT_EQ(ids, FileLines(idFile_));
    std::vector<std::string> expected = {"createCursorRequest"};
    expected.insert(expected.end(), c.reads, "readCursorRequest");
    expected.push_back("destroyCursorRequest");
    EXPECT_EQ(expected, RequestNames());
    EXPECT_STREQ("", gSession.dateFilter);
  }
  EXPECT_EQ(0, host_.CountLog("MV "));
}

TEST_F(EnumerationTest, FailedBlockKeepsEarlierIdsAndStillDestroysTheCursor) {
  std::vector<std::string> ids = AddFolder("F@1", 150);
  gwsim::Fault fault;
  fault.kind = gwsim::FaultKind::kStatus;
  fault.status = 500;
  fault.requestNumber = static_cast<int>(server_.RequestCount()) + 3;  // the second read
  server_.AddFault(fault);
  EXPECT_EQ(100, GetItemIds("F@1", idFile_.c_str(), 0));
  EXPECT_EQ(std::vector<std::string>(ids.begin(), ids.begin() + 100), FileLines(idFile_));
  EXPECT_TRUE(host_.HasLog("MV Warning: failed to retrieve message block 2, httpResponse=500"));
  EXPECT_EQ("destroyCursorRequest", RequestNames().back());
  EXPECT_EQ(1u, RequestsNamed(server_, "destroyCursorRequest").size());
}

TEST_F(EnumerationTest, FailedCreateSendsNothingMore) {
  AddFolder("F@1", 3);
  server_.ClearRequests();
  gwsim::Fault fault;
  fault.kind = gwsim::FaultKind::kStatus;
  fault.status = 503;
  fault.requestName = "createCursorRequest";
  fault.times = 0;
  server_.AddFault(fault);
  EXPECT_EQ(0, GetItemIds("F@1", idFile_.c_str(), 0));
  EXPECT_TRUE(host_.HasLog("MV Error: failed to create cursor, httpResponse=503"));
  EXPECT_TRUE(RequestsNamed(server_, "readCursorRequest").empty());
  EXPECT_TRUE(RequestsNamed(server_, "destroyCursorRequest").empty());
  EXPECT_FALSE(testing_support::FileExists(idFile_));
}

TEST_F(EnumerationTest, DateRangeBecomesAServerFilterOnlyWithAStart) {
  std::vector<std::string> ids = AddFolder("F@1", 60);  // 2026-01-01 .. 2026-03-04
  struct Case {
    const char *why;
    FILETIME from, to;
    const char *start, *end;  // filter values; null: no filter
    size_t first, count;      // the ids expected
  };
  const FILETIME none = {0, 0};
  const Case cases[] = {
      {"both bounds", Day(2026, 1, 10), Day(2026, 1, 20), "2026-01-10T00:00:00Z",
       "2026-01-20T23:59:59Z", 9, 11},
      {"start only: open end", Day(2026, 3, 2), none, "2026-03-02T00:00:00Z",
       "9999-12-31T23:59:59Z", 57, 3},
      {"end only: no filter", none, Day(2026, 1, 2), nullptr, nullptr, 0, 60},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    host_.config().dateFrom = c.from;
    host_.config().dateTo = c.to;
    ASSERT_EQ(0, host_.Init());
    server_.ClearRequests();
    EXPECT_EQ(static_cast<int>(c.count), GetItemIds("F@1", idFile_.c_str(), 0));
    EXPECT_EQ(std::vector<std::string>(ids.begin() + c.first, ids.begin() + c.first + c.count),
              FileLines(idFile_));
    std::vector<gwsim::RecordedRequest> creates = RequestsNamed(server_, "createCursorRequest");
    ASSERT_EQ(1u, creates.size());
    std::string body = RequestBody(creates[0].body);
    if (c.start == nullptr) {
      EXPECT_EQ(std::string::npos, body.find("<filter>"));
      EXPECT_STREQ("", gSession.dateFilter);
    } else {
      EXPECT_NE(std::string::npos, body.find(std::string("<value>") + c.start + "</value>"));
      EXPECT_NE(std::string::npos, body.find(std::string("<value>") + c.end + "</value>"));
      EXPECT_NE(std::string::npos, body.find(gSession.dateFilter));
    }
  }
}

TEST_F(EnumerationTest, CursorRequestsMatchTheirTemplates) {
  host_.config().dateFrom = Day(2026, 2, 3);
  host_.config().dateTo = Day(2026, 11, 30);
  ASSERT_EQ(0, host_.Init());
  AnswerNext(1, Answer("createCursorResponse", "<gwm:cursor>42</gwm:cursor>"));
  AnswerNext(2, Answer("readCursorResponse", "<gwm:items/>"));
  AnswerNext(3, Answer("destroyCursorResponse", ""));
  EXPECT_EQ(0, GetItemIds("FOLDER.X@5", idFile_.c_str(), 0));
  const char *golden[][2] = {{"createCursorRequest", "logon/create_cursor_filter.golden"},
                             {"readCursorRequest", "logon/read_cursor.golden"},
                             {"destroyCursorRequest", "logon/destroy_cursor.golden"}};
  for (const auto &g : golden) {
    std::vector<gwsim::RecordedRequest> sent = RequestsNamed(server_, g[0]);
    ASSERT_EQ(1u, sent.size()) << g[0];
    EXPECT_EQ(plugin_test::TestData(g[1]), RequestBody(sent[0].body)) << g[0];
  }
}

TEST_F(EnumerationTest, ContainerCheckSkipsForeignItemsAndIdlessOnes) {
  std::string response = host_.workDir() + "block.xml";
  plugin_test::ReshapeToFile(plugin_test::TestData("folders/cursor_block.xml"), response);
  struct Case {
    const char *source;
    std::vector<std::string> ids;
    int matches;
  };
  const Case cases[] = {
      // Every container line ends an item's scan; matches are exact.
      {"", {"ITEM.1@1", "ITEM.2@1", "ITEM.3@1", "ITEM.4@1", "ITEM.5@1"}, 2},
      // Only items in the folder (case ignored), found among several containers.
      {"FOLDER@5", {"ITEM.1@1", "ITEM.4@1", "ITEM.5@1"}, 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.source);
    FILE *ids = fopen(idFile_.c_str(), "w");
    ASSERT_NE(nullptr, ids);
    int matches = -1, seen = -1;
    int written = ExtractMsgIds(ids, response.c_str(), c.source, "FOLDER@5", &matches, &seen);
    fclose(ids);
    EXPECT_EQ(static_cast<int>(c.ids.size()), written);
    EXPECT_EQ(c.ids, FileLines(idFile_));
    EXPECT_EQ(c.matches, matches);
    EXPECT_EQ(6, seen);
  }
}

TEST_F(EnumerationTest, BlockWithOnlyForeignItemsDoesNotEndTheListing) {
  const std::string foreign =
      "<gwm:items><gwt:item xsi:type=\"gwt:Mail\"><gwt:id>A@1</gwt:id>"
      "<gwt:container>OTHER@9</gwt:container></gwt:item></gwm:items>";
  const std::string own =
      "<gwm:items><gwt:item xsi:type=\"gwt:Mail\"><gwt:id>B@1</gwt:id>"
      "<gwt:container>F@1</gwt:container></gwt:item></gwm:items>";
  AnswerNext(1, Answer("createCursorResponse", "<gwm:cursor>7</gwm:cursor>"));
  AnswerNext(2, Answer("readCursorResponse", foreign));
  AnswerNext(3, Answer("readCursorResponse", own));
  AnswerNext(4, Answer("readCursorResponse", "<gwm:items/>"));
  AnswerNext(5, Answer("destroyCursorResponse", ""));
  EXPECT_EQ(1, GetItemIds("F@1", idFile_.c_str(), 1));
  EXPECT_EQ(std::vector<std::string>{"B@1"}, FileLines(idFile_));
  EXPECT_EQ(3u, RequestsNamed(server_, "readCursorRequest").size());
}

TEST_F(EnumerationTest, FakeServerWritesOneFakeIdWithoutTraffic) {
  gRunSettings.fakeServer = 1;
  server_.ClearRequests();
  EXPECT_EQ(0, GetItemIds("F@1", idFile_.c_str(), 0));
  EXPECT_EQ(std::vector<std::string>{"Fake Msg ID Here"}, FileLines(idFile_));
  EXPECT_EQ(0u, server_.RequestCount());
}

TEST(DateFilterTest, FormsWholeDaysAndAnOpenEnd) {
  char filter[kSessionTextSize];
  BuildDateFilter(Day(2026, 3, 5), Day(2027, 12, 31), filter, sizeof filter);
  EXPECT_EQ(plugin_test::TestData("folders/date_filter.txt"), std::string(filter));
  BuildDateFilter(FILETIME{0, 0}, Day(2027, 12, 31), filter, sizeof filter);
  EXPECT_STREQ("", filter);
}

}  // namespace
