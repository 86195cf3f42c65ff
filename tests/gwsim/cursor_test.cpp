// Cursor paging and the created-date filter of the simulator, with the
// request bodies the plug-in sends.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "gwsim_client.h"

namespace {

using gwsim_test::Call;
using gwsim_test::Client;
using gwsim_test::StatusCode;

std::string CreateBody(const std::string &container, const std::string &filter) {
  return "<m:createCursorRequest>\n<container>" + container +
         "</container>\n<view>id messageId</view>\n" + filter + "</m:createCursorRequest>\n";
}
std::string ReadBody(const std::string &container, const std::string &cursor) {
  return "<m:readCursorRequest>\n<container>" + container + "</container>\n<cursor>" + cursor +
         "</cursor>\n<forward>true</forward>\n<position>current</position>\n<count>100</count>\n"
         "</m:readCursorRequest>\n";
}
std::string DestroyBody(const std::string &container, const std::string &cursor) {
  return "<m:destroyCursorRequest>\n<container>" + container + "</container>\n<cursor>" +
         cursor + "</cursor>\n</m:destroyCursorRequest>\n";
}
std::string CreatedFilter(const char *after, const char *before, const char *op = "gt") {
  return std::string(
             "<filter>\n<element type=\"FilterGroup\">\n<op>and</op>\n"
             "<element type=\"FilterEntry\">\n<op>") +
         op + "</op>\n<field>created</field>\n<value>" + after +
         "</value>\n</element>\n<element type=\"FilterEntry\">\n<op>lt</op>\n"
         "<field>created</field>\n<value>" +
         before + "</value>\n</element>\n</element>\n</filter>\n";
}

class CursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start()) << server.LastError();
    session = gwsim_test::LoginAlice(&client, server.url());
    ASSERT_FALSE(session.empty());
  }

  // A new folder of alice holding items created on the given dates.
  std::string FolderWith(const std::vector<std::string> &created) {
    gwsim::Mailbox &mailbox = server.mailbox();
    auto lock = mailbox.Lock();
    gwsim::Folder folder;
    folder.owner = "alice";
    folder.parentId = mailbox.FindUser("alice")->rootFolderId;
    folder.name = "Paging";
    std::string id = mailbox.AddFolder(folder);
    for (const std::string &date : created) {
      gwsim::Item item;
      item.container = id;
      item.created = date;
      item.subject = date;
      mailbox.AddItem(item);
    }
    return id;
  }

  pugi::xml_node Ask(const std::string &name, const std::string &body) {
    return Call(&client, server.url(), session, name, body, &doc);
  }

  std::string Create(const std::string &container, const std::string &filter, int *code) {
    pugi::xml_node answer = Ask("createCursorRequest", CreateBody(container, filter));
    *code = StatusCode(answer);
    return answer.child("gwm:cursor").text().get();
  }

  // Reads the cursor to its end; the sizes of the blocks, the last one 0.
  std::vector<size_t> ReadAll(const std::string &container, const std::string &cursor,
                              std::vector<std::string> *subjects) {
    std::vector<size_t> blocks;
    for (int guard = 0; guard < 100; ++guard) {
      pugi::xml_node answer = Ask("readCursorRequest", ReadBody(container, cursor));
      EXPECT_EQ(0, StatusCode(answer));
      EXPECT_TRUE(answer.child("gwm:items"));
      size_t n = 0;
      for (pugi::xml_node item : answer.child("gwm:items").children("gwt:item")) {
        EXPECT_STREQ("gwt:Mail", item.attribute("xsi:type").value());
        EXPECT_STRNE("", item.child("gwt:id").text().get());
        EXPECT_EQ(container, item.child("gwt:container").text().get());
        EXPECT_STRNE("", item.child("gwt:modified").text().get());
        subjects->push_back(item.child("gwt:subject").text().get());
        ++n;
      }
      blocks.push_back(n);
      if (n == 0) break;
    }
    return blocks;
  }

  gwsim::Server server;
  Client client;
  pugi::xml_document doc;
  std::string session;
};

TEST_F(CursorTest, PagesInBlocksOfTheCountAskedFor) {
  struct Case {
    int items;
    std::vector<size_t> blocks;
  } cases[] = {
      {0, {0}},
      {100, {100, 0}},  // exactly one block: the second read is empty
      {250, {100, 100, 50, 0}},
  };
  for (const Case &c : cases) {
    std::vector<std::string> dates(static_cast<size_t>(c.items), "2026-01-01T00:00:00Z");
    std::string folder = FolderWith(dates);
    int code = -1;
    std::string cursor = Create(folder, "", &code);
    ASSERT_EQ(0, code);
    std::vector<std::string> subjects;
    EXPECT_EQ(c.blocks, ReadAll(folder, cursor, &subjects)) << c.items;
    EXPECT_EQ(static_cast<size_t>(c.items), subjects.size());
    EXPECT_EQ(0, StatusCode(Ask("destroyCursorRequest", DestroyBody(folder, cursor))));
    EXPECT_EQ(59905, StatusCode(Ask("readCursorRequest", ReadBody(folder, cursor))))
        << "read after destroy";
  }
}

TEST_F(CursorTest, CreatedDateFilterKeepsTheRangeOnly) {
  std::string folder = FolderWith({"2025-12-31T23:59:59Z", "2026-01-01T00:00:00Z",
                                   "2026-01-01T00:00:01Z", "2026-01-15T12:00:00Z",
                                   "2026-01-31T23:59:59Z", "2026-02-01T00:00:00Z"});
  struct Case {
    std::string filter;
    std::vector<std::string> subjects;
  } cases[] = {
      {"", {"2025-12-31T23:59:59Z", "2026-01-01T00:00:00Z", "2026-01-01T00:00:01Z",
            "2026-01-15T12:00:00Z", "2026-01-31T23:59:59Z", "2026-02-01T00:00:00Z"}},
      // gt and lt are strict at both ends
      {CreatedFilter("2026-01-01T00:00:00Z", "2026-01-31T23:59:59Z"),
       {"2026-01-01T00:00:01Z", "2026-01-15T12:00:00Z"}},
      {CreatedFilter("2026-01-01T00:00:00Z", "2026-01-31T23:59:59Z", "gte"),
       {"2026-01-01T00:00:00Z", "2026-01-01T00:00:01Z", "2026-01-15T12:00:00Z"}},
      {CreatedFilter("2030-01-01T00:00:00Z", "2031-01-01T00:00:00Z"), {}},
  };
  for (const Case &c : cases) {
    int code = -1;
    std::string cursor = Create(folder, c.filter, &code);
    ASSERT_EQ(0, code) << c.filter;
    std::vector<std::string> subjects;
    ReadAll(folder, cursor, &subjects);
    EXPECT_EQ(c.subjects, subjects) << c.filter;
  }
}

TEST_F(CursorTest, RefusedCursorRequests) {
  std::string folder = FolderWith({"2026-01-01T00:00:00Z"});
  std::string bobs;
  {
    auto lock = server.mailbox().Lock();
    bobs = server.mailbox().FindFolderByType("bob", "Mailbox")->id;
  }
  struct Case {
    const char *why;
    std::string container;
    std::string filter;
    int code;
  } cases[] = {
      {"no container", "", "", 59905},
      {"unknown container", "no.such.folder@16", "", 59906},
      {"another user's folder", bobs, "", 59906},
      {"unknown operator", folder, CreatedFilter("2026-01-01T00:00:00Z", "x", "near"), 59905},
      {"unreadable date", folder, CreatedFilter("yesterday", "2026-01-01T00:00:00Z"), 59905},
      {"unknown field",
       folder,
       "<filter><element type=\"FilterEntry\"><op>eq</op><field>colour</field>"
       "<value>red</value></element></filter>",
       59905},
  };
  for (const Case &c : cases) {
    int code = -1;
    std::string cursor = Create(c.container, c.filter, &code);
    EXPECT_EQ(c.code, code) << c.why;
    EXPECT_EQ("", cursor) << c.why;
  }

  // A cursor is read only through its own container and session.
  int code = -1;
  std::string cursor = Create(folder, "", &code);
  ASSERT_EQ(0, code);
  EXPECT_EQ(59905, StatusCode(Ask("readCursorRequest", ReadBody(bobs, cursor))));
  Client other;
  pugi::xml_document otherDoc;
  std::string otherSession = gwsim_test::LoginAlice(&other, server.url());
  EXPECT_EQ(59905, StatusCode(Call(&other, server.url(), otherSession, "readCursorRequest",
                                   ReadBody(folder, cursor), &otherDoc)));
  EXPECT_EQ(0, StatusCode(Ask("readCursorRequest", ReadBody(folder, cursor))));
}

}  // namespace
