// Cursor paging and the created-date filter, with the request bodies the
// plug-in sends, over folders the generator fills.
#include "gwsim_client.h"

namespace {

using gwsim_test::StatusCode;
using Strings = std::vector<std::string>;

std::string CreatedFilter(const char *op, const std::string &after, const std::string &before) {
  return std::string("<filter>\n<element type=\"FilterGroup\">\n<op>and</op>\n"
                     "<element type=\"FilterEntry\">\n<op>") + op +
         "</op>\n<field>created</field>\n<value>" + after + "</value>\n</element>\n"
         "<element type=\"FilterEntry\">\n<op>lt</op>\n<field>created</field>\n<value>" + before +
         "</value>\n</element>\n</element>\n</filter>\n";
}

class CursorTest : public gwsim_test::ServerTest {
 protected:
  // A new folder of alice with `items` mails created hourly from 2020-01-01T00:00:00Z.
  std::string NewFolder(int items) {
    auto lock = server.mailbox().Lock();
    EXPECT_TRUE(gwsim::GenerateMailbox(&server.mailbox(), "alice", 1, items));
    return server.mailbox().folders.back().id;
  }
  // The status code of a createCursorRequest; the cursor's id in *cursor.
  int Create(const std::string &container, const std::string &filter, std::string *cursor) {
    pugi::xml_node answer =
        Ask("createCursorRequest", "<m:createCursorRequest>\n<container>" + container +
                                       "</container>\n<view>id messageId</view>\n" + filter +
                                       "</m:createCursorRequest>\n");
    *cursor = answer.child("gwm:cursor").text().get();
    return StatusCode(answer);
  }
  pugi::xml_node Read(const std::string &container, const std::string &cursor) {
    return Ask("readCursorRequest",
               "<m:readCursorRequest>\n<container>" + container + "</container>\n<cursor>" +
                   cursor + "</cursor>\n<forward>true</forward>\n<position>current</position>\n"
                   "<count>100</count>\n</m:readCursorRequest>\n");
  }
};

TEST_F(CursorTest, PagesAndFiltersOnTheCreatedDate) {
  auto hour = [](int h) { return "2020-01-01T0" + std::to_string(h) + ":00:00Z"; };
  struct Case {
    int items;
    std::string filter;
    int code;                   // of the createCursorRequest
    std::vector<size_t> reads;  // items per read; an exhausted cursor gives 0
    Strings created;            // of the first items read (at most three)
  } cases[] = {
      // Paging by blocks of 100 and the closed range the plug-in sends are
      // checked through the plug-in by the item enumeration tests.
      {3, "", 0, {3, 0}, {hour(0), hour(1), hour(2)}},
      // gt and lt are strict at both ends
      {6, CreatedFilter("gt", hour(1), hour(4)), 0, {2, 0}, {hour(2), hour(3)}},
      {6, CreatedFilter("gt", "2030-01-01T00:00:00Z", "2031-01-01T00:00:00Z"), 0, {0}, {}},
      {6, CreatedFilter("near", hour(1), hour(4)), 59905, {}, {}},
      {6, CreatedFilter("gt", "yesterday", hour(4)), 59905, {}, {}},
  };
  for (const Case &c : cases) {
    const std::string folder = NewFolder(c.items);
    std::string cursor;
    EXPECT_EQ(c.code, Create(folder, c.filter, &cursor)) << c.filter;
    EXPECT_EQ(c.code != 0, cursor.empty()) << c.filter;
    if (c.code != 0) continue;
    std::vector<size_t> reads;
    Strings created;
    while (reads.size() < 10 && (reads.empty() || reads.back() != 0)) {
      pugi::xml_node answer = Read(folder, cursor), items = answer.child("gwm:items");
      EXPECT_EQ(0, StatusCode(answer));
      EXPECT_TRUE(items);
      reads.push_back(0);
      for (pugi::xml_node item : items.children("gwt:item")) {
        EXPECT_STREQ("gwt:Mail", item.attribute("xsi:type").value());
        EXPECT_STRNE("", item.child("gwt:id").text().get());
        EXPECT_EQ(folder, item.child("gwt:container").text().get());
        EXPECT_STRNE("", item.child("gwt:modified").text().get());
        if (created.size() < 3) created.push_back(item.child("gwt:created").text().get());
        ++reads.back();
      }
    }
    EXPECT_EQ(c.reads, reads) << c.items << c.filter;
    EXPECT_EQ(c.created, created) << c.items << c.filter;
    EXPECT_EQ(0, StatusCode(Ask("destroyCursorRequest",
                                "<m:destroyCursorRequest>\n<container>" + folder +
                                    "</container>\n<cursor>" + cursor +
                                    "</cursor>\n</m:destroyCursorRequest>\n")));
    EXPECT_EQ(59905, StatusCode(Read(folder, cursor))) << "read after destroy";
  }
}

}  // namespace
