// Item enumeration against the simulator: cursor blocks of 100, failures on
// the way, the date filter, and the container check.
#include <cstring>
#include <string>
#include <vector>

#include "folders/item_enumeration.h"
#include "platform/bounded_text.h"
#include "platform/win_compat.h"
#include "plugin/session_state.h"
#include "plugin_test_support.h"

namespace {

using plugin_test::Answer;
using testing_support::ReadFileBytes;
using Ids = std::vector<std::string>;

// The given day of 2026 at 15:00 UTC (the filter takes whole days).
FILETIME Day(uint16_t month, uint16_t day) {
  SYSTEMTIME st = {2026, month, 0, day, 15, 0, 0, 0};
  FILETIME ft = {0, 0};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

// Alice's folder `id` with `count` mails "<id>:<n>", created one day apart
// from 2026-01-01 (28-day months).
std::string Folder(const std::string &id, int count) {
  std::string xml = "<folder id=\"" + id + "\" name=\"" + id + "\">";
  for (int i = 0; i < count; ++i) {
    char created[32];
    FormatText(created, sizeof created, "2026-%02d-%02dT10:00:00Z", 1 + i / 28, 1 + i % 28);
    xml += "<item id=\"" + id + ":" + std::to_string(i) + "\" created=\"" + created + "\"/>";
  }
  return xml + "</folder>";
}

// The id file listing items from .. to-1 of folder id.
std::string IdLines(const std::string &id, int from, int to) {
  std::string lines;
  for (int i = from; i < to; ++i) lines += id + ":" + std::to_string(i) + "\n";
  return lines;
}

class EnumerationTest : public plugin_test::PluginTest {
 protected:
  std::string idFile_ = host_.workDir() + "msgids.tmp";
};

TEST_F(EnumerationTest, ReadsBlocksOfHundredUntilAnEmptyBlockThenDestroys) {
  const int sizes[] = {0, 1, 100, 250};
  std::string folders;
  for (int items : sizes) folders += Folder("F@" + std::to_string(items), items);
  Connect(folders);
  for (int items : sizes) {
    SCOPED_TRACE(items);
    std::string folderId = "F@" + std::to_string(items);
    server_.ClearRequests();
    EXPECT_EQ(items, GetItemIds(folderId.c_str(), idFile_.c_str(), 0));
    EXPECT_EQ(IdLines(folderId, 0, items), ReadFileBytes(idFile_));
    Ids expected = {"createCursorRequest"};
    expected.insert(expected.end(), (items + 99) / 100 + 1, "readCursorRequest");
    expected.push_back("destroyCursorRequest");
    Ids names;
    for (const gwsim::RecordedRequest &r : server_.Requests()) names.push_back(r.requestName);
    EXPECT_EQ(expected, names);
    EXPECT_STREQ("", gSession.dateFilter);
  }
  EXPECT_EQ(0, host_.CountLog("MV "));
}

TEST_F(EnumerationTest, FailedSecondBlockKeepsTheFirstAndDestroysTheCursor) {
  Connect(Folder("F@1", 150));
  FaultNext(3, 500);  // the second read
  EXPECT_EQ(100, GetItemIds("F@1", idFile_.c_str(), 0));
  EXPECT_EQ(IdLines("F@1", 0, 100), ReadFileBytes(idFile_));
  EXPECT_TRUE(host_.HasLog("MV Warning: failed to retrieve message block 2, httpResponse=500"));
  EXPECT_EQ("destroyCursorRequest", server_.Requests().back().requestName);
  EXPECT_EQ(1, gSession.listingFailed);

  // A refused cursor leaves an empty id file, not the last folder's ids.
  FaultNext(1, 500);
  EXPECT_EQ(0, GetItemIds("F@1", idFile_.c_str(), 0));
  EXPECT_EQ("", ReadFileBytes(idFile_));
  EXPECT_EQ(1, gSession.listingFailed);
  EXPECT_EQ(150, GetItemIds("F@1", idFile_.c_str(), 0));
  EXPECT_EQ(0, gSession.listingFailed);
}

TEST_F(EnumerationTest, DateFilterIsSentOnlyWithAStart) {
  std::string folder = Folder("F@1", 60);  // 2026-01-01 .. 2026-03-04, each at 10:00
  // An item created at the very start of the first day is inside the range.
  folder.insert(folder.size() - strlen("</folder>"),
                "<item id=\"F@1:midnight\" created=\"2026-03-02T00:00:00Z\"/>");
  Connect(folder);
  host_.config().dateFrom = Day(3, 2);  // no end: the filter is open-ended
  ASSERT_EQ(0, host_.Init());
  EXPECT_EQ(4, GetItemIds("F@1", idFile_.c_str(), 0));
  std::string filter = gSession.dateFilter;  // the filter sent
  EXPECT_NE(std::string::npos, filter.find("<value>2026-03-02T00:00:00Z</value>"));
  EXPECT_NE(std::string::npos, filter.find("<value>9999-12-31T23:59:59Z</value>"));
  EXPECT_NE(std::string::npos, SentBody("createCursorRequest").find(filter));

  host_.config().dateFrom = FILETIME{0, 0};  // an end alone gives no filter
  host_.config().dateTo = Day(1, 2);
  ASSERT_EQ(0, host_.Init());
  server_.ClearRequests();
  EXPECT_EQ(61, GetItemIds("F@1", idFile_.c_str(), 0));
  EXPECT_EQ(std::string::npos, SentBody("createCursorRequest").find("<filter>"));
  EXPECT_STREQ("", gSession.dateFilter);
}

// Fixed answers: a block of foreign items only, the saved block (moved to this
// folder), the end. The container check keeps the folder's items (case ignored,
// among several containers; none without an id); the foreign block ends nothing.
TEST_F(EnumerationTest, ContainerCheckAndRequestsMatchingTheirTemplates) {
  host_.config().dateFrom = Day(2, 3);
  host_.config().dateTo = Day(11, 30);
  Connect();
  std::string saved = plugin_test::TestData("folders/cursor_block.xml");
  for (const char *from : {"FOLDER@5", "folder@5"})
    for (size_t at; (at = saved.find(from)) != std::string::npos;)
      saved.replace(at, strlen(from), std::string(from, 6) + ".X@5");
  FaultNext(1, 200, Answer("createCursorResponse", "<gwm:cursor>42</gwm:cursor>"));
  FaultNext(2, 200, Answer("readCursorResponse",
                           "<gwm:items><gwt:item xsi:type=\"gwt:Mail\"><gwt:id>A@1</gwt:id>"
                           "<gwt:container>OTHER@9</gwt:container></gwt:item></gwm:items>"));
  FaultNext(3, 200, saved);
  FaultNext(4, 200, Answer("readCursorResponse", "<gwm:items/>"));
  FaultNext(5, 200, Answer("destroyCursorResponse", ""));
  EXPECT_EQ(3, GetItemIds("FOLDER.X@5", idFile_.c_str(), 1));
  EXPECT_EQ("ITEM.1@1\nITEM.4@1\nITEM.5@1\n", ReadFileBytes(idFile_));
  EXPECT_EQ(3u, Sent("readCursorRequest").size());
  const char *goldens[][2] = {{"createCursorRequest", "create_cursor_filter"},
                              {"readCursorRequest", "read_cursor"},
                              {"destroyCursorRequest", "destroy_cursor"}};
  for (const auto &g : goldens)
    EXPECT_EQ(plugin_test::TestData(std::string("logon/") + g[1] + ".golden"), SentBody(g[0]));
}

struct BlockCase {
  const char *why;
  std::string items;
  std::string idLines;
  int written;
};

TEST_F(EnumerationTest, EachListedItemIsOneLineOfTheIdFile) {
  const BlockCase cases[] = {
      {"a line break in an id is a blank: one item stays one line",
       "<gwt:item><gwt:id>A&#10;B@1</gwt:id></gwt:item><gwt:item><gwt:id>C&#13;@1</gwt:id>"
       "</gwt:item>",
       "A B@1\nC @1\n", 2},
      {"an item without an id is counted as seen but not written",
       "<gwt:item><gwt:container>F@1</gwt:container></gwt:item><gwt:item><gwt:id>D@1</gwt:id>"
       "</gwt:item>",
       "D@1\n", 1},
  };
  for (const BlockCase &c : cases) {
    SCOPED_TRACE(c.why);
    std::string block = Reshaped(
        Answer("readCursorResponse", "<gwm:items>" + c.items + "</gwm:items>"), "block.xml");
    FilePtr ids = OpenFile(idFile_.c_str(), "wb");
    ASSERT_TRUE(ids != nullptr);
    int matches = -1, seen = -1;
    EXPECT_EQ(c.written, ExtractMsgIds(ids.get(), block.c_str(), "", "F@1", &matches, &seen));
    ids.reset();
    EXPECT_EQ(c.idLines, ReadFileBytes(idFile_));
    EXPECT_EQ(2, seen);
  }
}

}  // namespace
