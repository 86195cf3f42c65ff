// The simulator's answers from the demo mailbox: logins, the session
// check, the folder tree, categories, address books and getItems.
#include <map>
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

const char kFolderList[] =
    "<m:getFolderListRequest>\n<t:parent>folders</t:parent>\n<t:view/>\n"
    "<t:recurse>true</t:recurse>\n<t:imap>false</t:imap>\n<t:nntp>false</t:nntp>\n"
    "</m:getFolderListRequest>\n";

std::string PlainAuth(const char *user, const char *password) {
  return std::string("<m:auth type=\"t:PlainText\">\n<t:username>") + user +
         "</t:username>\n<t:password>" + password + "</t:password>\n</m:auth>\n";
}
std::string ProxyAuth(const char *user, const char *password, const char *target) {
  return std::string("<m:auth type=\"t:Proxy\">\n<t:username>") + user +
         "</t:username>\n<t:password>" + password + "</t:password>\n<t:proxy>" + target +
         "</t:proxy>\n</m:auth>\n";
}
std::string TrustedAuth(const char *user, const char *app, const char *key) {
  return std::string("<m:auth type=\"t:TrustedApplication\">\n<t:username>") + user +
         "</t:username>\n<t:name>" + app + "</t:name>\n<t:key>" + key + "</t:key>\n</m:auth>\n";
}
std::string LoginBody(const std::string &auth) {
  return "<m:loginRequest>\n" + auth +
         "<m:version>1.09</m:version>\n<m:application>Movaro</m:application>\n</m:loginRequest>\n";
}

class AnswersTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.Start()) << server.LastError(); }

  pugi::xml_node Ask(const std::string &session, const std::string &name, const std::string &body) {
    return Call(&client, server.url(), session, name, body, &doc);
  }

  std::string Login(const std::string &auth) {
    return Ask("", "loginRequest", LoginBody(auth)).child("gwm:session").text().get();
  }

  std::string IdOf(const char *owner, const char *folderType) {
    auto lock = server.mailbox().Lock();
    return server.mailbox().FindFolderByType(owner, folderType)->id;
  }

  gwsim::Server server;
  Client client;
  pugi::xml_document doc;
};

TEST_F(AnswersTest, LoginKindsAndTheirCodes) {
  const char *key = "3F2504E04F8911D39A0C0305E82C3301";
  struct Case {
    std::string auth;
    int code;
    const char *name;  // gwt:name of the mailbox opened
    const char *recipType;
  } cases[] = {
      {PlainAuth("alice", "secret"), 0, "Alice Anders", "User"},
      {PlainAuth("ALICE", "secret"), 0, "Alice Anders", "User"},  // names ignore case
      {PlainAuth("confroom", "room"), 0, "Conference Room 1", "Resource"},
      {PlainAuth("alice", "wrong"), 53273, "", ""},
      {PlainAuth("nobody", "secret"), 53505, "", ""},
      {ProxyAuth("alice", "secret", "bob"), 0, "Bob Berger", "User"},
      {ProxyAuth("alice", "secret", "ghost"), 53505, "", ""},
      {ProxyAuth("alice", "wrong", "bob"), 53273, "", ""},
      {ProxyAuth("bob", "hunter2", "alice"), 53507, "", ""},  // bob has no rights on alice
      {TrustedAuth("bob", "Movaro", key), 0, "Bob Berger", "User"},
      {TrustedAuth("bob", "Movaro", "0000"), 53273, "", ""},
      {TrustedAuth("bob", "Other", key), 53273, "", ""},
      {TrustedAuth("ghost", "Movaro", key), 53505, "", ""},
      {"<m:auth type=\"t:Kerberos\"><t:username>alice</t:username></m:auth>", 59905, "", ""},
  };
  for (const Case &c : cases) {
    pugi::xml_node answer = Ask("", "loginRequest", LoginBody(c.auth));
    ASSERT_TRUE(answer) << c.auth;
    EXPECT_EQ(c.code, StatusCode(answer)) << c.auth;
    std::string session = answer.child("gwm:session").text().get();
    pugi::xml_node info = answer.child("gwm:userinfo");
    if (c.code == 0) {
      EXPECT_FALSE(session.empty()) << c.auth;
      EXPECT_STREQ(c.name, info.child("gwt:name").text().get()) << c.auth;
      EXPECT_STREQ(c.recipType, info.child("gwt:recipType").text().get()) << c.auth;
      EXPECT_STREQ("8.0.2", answer.child("gwm:gwVersion").text().get());
    } else {
      EXPECT_TRUE(session.empty()) << c.auth;
      EXPECT_FALSE(info) << c.auth;
      EXPECT_STRNE("", answer.child("gwm:status").child("gwt:description").text().get());
    }
  }
}

TEST_F(AnswersTest, RequestsWithoutAValidSessionGet59910) {
  std::string session = Login(PlainAuth("alice", "secret"));
  ASSERT_FALSE(session.empty());
  std::string other = Login(PlainAuth("bob", "hunter2"));
  const char *requests[][2] = {
      {"getFolderListRequest", kFolderList},
      {"getCategoryListRequest", "<m:getCategoryListRequest/>"},
      {"getAddressBookListRequest", "<m:getAddressBookListRequest />\n"},
      {"getItemsRequest", "<m:getItemsRequest><container>x</container></m:getItemsRequest>"},
      {"createCursorRequest", "<m:createCursorRequest><container>x</container></m:createCursorRequest>"},
      {"logoutRequest", "<m:logoutRequest/>\n"},
  };
  for (const auto &request : requests) {
    EXPECT_EQ(59910, StatusCode(Ask("", request[0], request[1]))) << request[0];
    EXPECT_EQ(59910, StatusCode(Ask("NOSUCHSESSION", request[0], request[1]))) << request[0];
  }
  EXPECT_EQ(0, StatusCode(Ask(session, "getCategoryListRequest", "<m:getCategoryListRequest/>")));
  EXPECT_EQ(0, StatusCode(Ask(session, "logoutRequest", "<m:logoutRequest/>\n")));
  EXPECT_EQ(59910, StatusCode(Ask(session, "getCategoryListRequest", "<m:getCategoryListRequest/>")));
  // Another session is not touched by the logout.
  EXPECT_EQ(0, StatusCode(Ask(other, "getCategoryListRequest", "<m:getCategoryListRequest/>")));
}

TEST_F(AnswersTest, FolderListShape) {
  std::string session = Login(PlainAuth("alice", "secret"));
  pugi::xml_node answer = Ask(session, "getFolderListRequest", kFolderList);
  ASSERT_EQ(0, StatusCode(answer));
  std::map<std::string, pugi::xml_node> byName;
  std::map<std::string, std::string> nameOfId;
  std::vector<std::string> order;
  for (pugi::xml_node folder : answer.child("gwm:folders").children("gwt:folder")) {
    std::string name = folder.child("gwt:name").text().get();
    EXPECT_STRNE("", folder.attribute("xsi:type").value()) << name;
    std::string parent = folder.child("gwt:parent").text().get();
    EXPECT_TRUE(parent.empty() || nameOfId.count(parent) == 1) << name << ": parent after child";
    byName[name] = folder;
    nameOfId[folder.child("gwt:id").text().get()] = name;
    order.push_back(name);
  }
  ASSERT_FALSE(order.empty());
  EXPECT_EQ("Alice Anders", order.front());  // the root comes first and has no parent
  EXPECT_STREQ("Root", byName["Alice Anders"].child("gwt:folderType").text().get());
  EXPECT_FALSE(byName["Alice Anders"].child("gwt:parent"));

  struct Expect {
    const char *name;
    const char *xsiType;
    const char *folderType;  // "" when the folder carries none
    int count;               // -1: no gwt:count
  } expects[] = {
      {"Mailbox", "gwt:SystemFolder", "Mailbox", 4},
      {"Sent Items", "gwt:SystemFolder", "SentItems", -1},
      {"Calendar", "gwt:SystemFolder", "Calendar", 3},
      {"Contacts", "gwt:ContactFolder", "Contacts", 0},
      {"Checklist", "gwt:SystemFolder", "Checklist", 2},
      {"Projects", "gwt:Folder", "", 1},
      {"Receipts  ", "gwt:Folder", "", 1},
      {"Shared Plans", "gwt:SharedFolder", "", 1},
      {"Bob's Notes", "gwt:SharedFolder", "", -1},
      {"Trash", "gwt:SystemFolder", "Trash", 1},
  };
  for (const Expect &e : expects) {
    pugi::xml_node folder = byName[e.name];
    ASSERT_TRUE(folder) << e.name;
    EXPECT_STREQ(e.xsiType, folder.attribute("xsi:type").value()) << e.name;
    EXPECT_STREQ(e.folderType, folder.child("gwt:folderType").text().get()) << e.name;
    pugi::xml_node count = folder.child("gwt:count");
    EXPECT_EQ(e.count, count ? count.text().as_int() : -1) << e.name;
  }
  EXPECT_STREQ("1", byName["Shared Plans"].child("gwt:isSharedByMe").text().get());
  EXPECT_STREQ("0", byName["Bob's Notes"].child("gwt:isSharedByMe").text().get());
  EXPECT_TRUE(byName["Calendar"].child("gwt:calendarAttribute"));
  EXPECT_STREQ("Calendar", byName["Team Calendar"]
                               .child("gwt:displaySettings")
                               .child("gwt:folderType")
                               .text()
                               .get());
  // Cabinet^Projects^2026 through the parent ids.
  std::string chain = "2026";
  for (std::string id = byName["2026"].child("gwt:parent").text().get();
       nameOfId[id] != "Alice Anders"; id = byName[nameOfId[id]].child("gwt:parent").text().get()) {
    chain = nameOfId[id] + "^" + chain;
  }
  EXPECT_EQ("Cabinet^Projects^2026", chain);
}

TEST_F(AnswersTest, FolderListBelowOneFolder) {
  std::string session = Login(PlainAuth("alice", "secret"));
  std::string cabinet = IdOf("alice", "Cabinet");
  struct Case {
    std::string parent;
    const char *recurse;
    int code;
    std::vector<std::string> names;
  } cases[] = {
      {cabinet, "false", 0, {"Projects", "Receipts  ", "Team Calendar"}},
      {cabinet, "true", 0, {"Projects", "2026", "Receipts  ", "Team Calendar"}},
      {IdOf("bob", "Cabinet"), "true", 59906, {}},  // another user's folder
      {"no.such.folder@16", "true", 59906, {}},
  };
  for (const Case &c : cases) {
    pugi::xml_node answer =
        Ask(session, "getFolderListRequest",
            "<m:getFolderListRequest><t:parent>" + c.parent + "</t:parent><t:recurse>" +
                c.recurse + "</t:recurse></m:getFolderListRequest>");
    EXPECT_EQ(c.code, StatusCode(answer)) << c.parent;
    std::vector<std::string> names;
    for (pugi::xml_node folder : answer.child("gwm:folders").children("gwt:folder")) {
      names.push_back(folder.child("gwt:name").text().get());
    }
    EXPECT_EQ(c.names, names) << c.parent << " " << c.recurse;
  }
}

TEST_F(AnswersTest, ProxySessionSeesTheTargetMailbox) {
  std::string session = Login(ProxyAuth("alice", "secret", "bob"));
  pugi::xml_node folders = Ask(session, "getFolderListRequest", kFolderList);
  EXPECT_STREQ("Bob Berger",
               folders.child("gwm:folders").child("gwt:folder").child("gwt:name").text().get());
  pugi::xml_node categories =
      Ask(session, "getCategoryListRequest", "<m:getCategoryListRequest/>");
  std::vector<std::string> names;
  for (pugi::xml_node c : categories.child("gwm:categories").children("gwt:category")) {
    names.push_back(c.child("gwt:name").text().get());
  }
  EXPECT_EQ(std::vector<std::string>{"Urgent"}, names);
}

TEST_F(AnswersTest, AddressBookListAndTheirItems) {
  std::string session = Login(PlainAuth("alice", "secret"));
  pugi::xml_node answer =
      Ask(session, "getAddressBookListRequest", "<m:getAddressBookListRequest />\n");
  ASSERT_EQ(0, StatusCode(answer));
  struct Book {
    std::string name, personal, frequent, description;
    int count;
  };
  std::vector<Book> books;
  std::map<std::string, std::string> idOf;
  for (pugi::xml_node b : answer.child("gwm:books").children("gwt:book")) {
    books.push_back(Book{b.child("gwt:name").text().get(), b.child("gwt:isPersonal").text().get(),
                         b.child("gwt:isFrequentContacts").text().get(),
                         b.child("gwt:description").text().get(),
                         b.child("gwt:count").text().as_int(-1)});
    idOf[books.back().name] = b.child("gwt:id").text().get();
  }
  ASSERT_EQ(4u, books.size());
  EXPECT_EQ("Alice's Contacts", books[0].name);
  EXPECT_EQ("1", books[0].personal);
  EXPECT_EQ(3, books[0].count);
  EXPECT_EQ("Frequent Contacts", books[1].name);
  EXPECT_EQ("1", books[1].frequent);
  EXPECT_EQ(0u, books[2].description.find("You have been granted shared access"));
  EXPECT_EQ("GroupWise Address Book", books[3].name);
  EXPECT_EQ("0", books[3].personal);

  // getItems as the plug-in counts a book: one gwt:id per item, at most count.
  struct Case {
    std::string container;
    const char *count;
    int code;
    size_t items;
  } cases[] = {
      {idOf["Alice's Contacts"], "500", 0, 3},
      {idOf["Alice's Contacts"], "2", 0, 2},
      {idOf["GroupWise Address Book"], "500", 0, 3},
      {"", "500", 59905, 0},
      {"no.such.book@14", "500", 59906, 0},
      {IdOf("bob", "Mailbox"), "500", 59906, 0},
  };
  for (const Case &c : cases) {
    pugi::xml_node items =
        Ask(session, "getItemsRequest",
            "<m:getItemsRequest>\n<container>" + c.container + "</container>\n<count>" + c.count +
                "</count>\n</m:getItemsRequest>\n");
    EXPECT_EQ(c.code, StatusCode(items)) << c.container;
    size_t found = 0;
    for (pugi::xml_node item : items.child("gwm:items").children("gwt:item")) {
      EXPECT_EQ(1u, static_cast<size_t>(std::distance(item.children("gwt:id").begin(),
                                                       item.children("gwt:id").end())));
      ++found;
    }
    EXPECT_EQ(c.items, found) << c.container << " " << c.count;
  }
}

TEST_F(AnswersTest, TextsAreEscapedAndStoreChangesAreSeen) {
  std::string session = Login(PlainAuth("alice", "secret"));
  std::string inbox = IdOf("alice", "Mailbox");
  {
    auto lock = server.mailbox().Lock();
    gwsim::Item item;
    item.container = inbox;
    item.created = "2026-04-01T00:00:00Z";
    item.subject = "a < b & \"c\"";
    server.mailbox().AddItem(item);
  }
  pugi::xml_node answer =
      Ask(session, "getItemsRequest",
          "<m:getItemsRequest><container>" + inbox + "</container></m:getItemsRequest>");
  std::vector<std::string> subjects;
  for (pugi::xml_node item : answer.child("gwm:items").children("gwt:item")) {
    subjects.push_back(item.child("gwt:subject").text().get());
  }
  ASSERT_EQ(5u, subjects.size());
  EXPECT_EQ("Contract draft & notes", subjects[3]);
  EXPECT_EQ("a < b & \"c\"", subjects[4]);
}

}  // namespace

namespace {

TEST_F(AnswersTest, GetItemGivesTheFullItem) {
  std::string session = Login(PlainAuth("alice", "secret"));
  std::string tagged, bobs;
  {
    gwsim::Mailbox &mailbox = server.mailbox();
    auto lock = mailbox.Lock();
    for (const gwsim::Item &item : mailbox.items) {
      if (item.subject == "Contract draft & notes") tagged = item.id;
    }
    mailbox.FindItem(tagged)->contentXml = "<gwt:size>42</gwt:size>";
    bobs = mailbox.ItemsIn(mailbox.FindFolderByType("bob", "Mailbox")->id)[0]->id;
  }
  pugi::xml_node answer =
      Ask(session, "getItemRequest", "<m:getItemRequest><id>" + tagged + "</id></m:getItemRequest>");
  ASSERT_EQ(0, StatusCode(answer));
  pugi::xml_node item = answer.child("gwm:item");
  EXPECT_STREQ("gwt:Mail", item.attribute("xsi:type").value());
  EXPECT_EQ(tagged, item.child("gwt:id").text().get());
  std::vector<std::string> categories;
  for (pugi::xml_node c : item.child("gwt:categories").children("gwt:category")) {
    categories.push_back(c.text().get());
  }
  EXPECT_EQ((std::vector<std::string>{"1A2@55", "1A4@55"}), categories);
  EXPECT_EQ(42, item.child("gwt:size").text().as_int());

  struct Case {
    std::string id;
    int code;
  } refused[] = {{"", 59905}, {"no.such.item@1", 59906}, {bobs, 59906}};
  for (const Case &c : refused) {
    EXPECT_EQ(c.code, StatusCode(Ask(session, "getItemRequest",
                                     "<m:getItemRequest><id>" + c.id + "</id></m:getItemRequest>")))
        << c.id;
  }
}

}  // namespace
