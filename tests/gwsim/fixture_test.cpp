// Fixture files and the generator for large mailboxes.
#include <string>

#include <gtest/gtest.h>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "gwsim_client.h"

namespace {

const std::string kSmall = std::string(MVGWS_TEST_DATA) + "/gwsim/small_mailbox.xml";

const gwsim::Folder *Named(gwsim::Mailbox &mailbox, const char *owner, const char *name) {
  for (const gwsim::Folder &folder : mailbox.folders) {
    if (folder.owner == owner && folder.name == name) return &folder;
  }
  return nullptr;
}

TEST(FixtureTest, SmallMailboxIsReadWithItsDefaults) {
  gwsim::Mailbox mailbox;
  std::string error;
  ASSERT_TRUE(gwsim::LoadMailboxFile(kSmall, &mailbox, &error)) << error;
  ASSERT_EQ(2u, mailbox.users.size());
  EXPECT_EQ(std::vector<std::string>{"room1"}, mailbox.users[0].proxyFor);
  EXPECT_EQ("Resource", mailbox.users[1].recipType);
  ASSERT_NE(nullptr, mailbox.FindTrustedApp("Movaro"));
  EXPECT_EQ("K3Y", mailbox.FindTrustedApp("Movaro")->key);

  struct Expect {
    const char *name;
    const char *kind;
    const char *folderType;
    bool showCount;
    bool calendar;
    const char *parent;  // name of the parent folder ("" for a top-level one)
  } expects[] = {
      {"Mailbox", "SystemFolder", "Mailbox", true, false, ""},
      {"Sent Items", "SystemFolder", "SentItems", false, false, ""},
      {"Calendar", "SystemFolder", "Calendar", true, true, ""},
      {"Projects", "Folder", "Normal", true, false, "Cabinet"},
      {"2026", "Folder", "Normal", true, false, "Projects"},
      {"From Dan", "SharedFolder", "Normal", false, false, ""},
  };
  const std::string root = mailbox.FindUser("carol")->rootFolderId;
  for (const Expect &e : expects) {
    const gwsim::Folder *folder = Named(mailbox, "carol", e.name);
    ASSERT_NE(nullptr, folder) << e.name;
    EXPECT_EQ(e.kind, folder->kind) << e.name;
    EXPECT_EQ(e.folderType, folder->folderType) << e.name;
    EXPECT_EQ(e.showCount, folder->showCount) << e.name;
    EXPECT_EQ(e.calendar, folder->calendarAttribute) << e.name;
    std::string parent = *e.parent == '\0' ? root : Named(mailbox, "carol", e.parent)->id;
    EXPECT_EQ(parent, folder->parentId) << e.name;
  }
  EXPECT_EQ("PROJ@16", Named(mailbox, "carol", "Projects")->id);

  const gwsim::Item *withContent = mailbox.FindItem("MAIL.ONE@1");
  ASSERT_NE(nullptr, withContent);
  EXPECT_EQ("2026-01-06T09:00:00Z", withContent->modified);  // defaults to created
  EXPECT_EQ("<gwt:distribution><gwt:from><gwt:displayName>Dan</gwt:displayName></gwt:from>"
            "</gwt:distribution>",
            withContent->contentXml);
  EXPECT_EQ(std::vector<std::string>{"C1@55"},
            mailbox.ItemsIn(Named(mailbox, "carol", "Mailbox")->id)[0]->categories);

  ASSERT_EQ(2u, mailbox.books.size());
  EXPECT_TRUE(mailbox.books[0].isPersonal);  // a user's book is personal unless told
  EXPECT_EQ("carol", mailbox.books[0].owner);
  EXPECT_FALSE(mailbox.books[1].isPersonal);
  EXPECT_EQ("", mailbox.books[1].owner);
  EXPECT_EQ(1u, mailbox.ItemsIn(mailbox.books[1].id).size());
}

TEST(FixtureTest, FaultsAreReportedWithFileAndLine) {
  struct Case {
    const char *text;
    const char *message;  // expected within the error
  } cases[] = {
      {"<gwsim>\n<user name=\"a\">\n</gwsim>\n", "fixture:3: "},  // XML not well formed
      {"<mailbox/>", "fixture:1: the top element must be <gwsim>"},
      {"<gwsim>\n<user nam=\"a\"/></gwsim>", "fixture:2: unknown attribute nam on <user>"},
      {"<gwsim><user/></gwsim>", "a user needs a name"},
      {"<gwsim><user name=\"a\"/>\n<user name=\"A\"/></gwsim>", "fixture:2: duplicate user A"},
      {"<gwsim><user name=\"a\" recipType=\"Robot\"/></gwsim>", "unknown recipType \"Robot\""},
      {"<gwsim><user name=\"a\" proxyFor=\"b\"/></gwsim>", "proxyFor names the unknown user b"},
      {"<gwsim><user name=\"a\"><folder/></user></gwsim>", "a folder needs a name"},
      {"<gwsim><user name=\"a\"><folder name=\"f\" kind=\"Box\"/></user></gwsim>",
       "unknown kind \"Box\""},
      {"<gwsim><user name=\"a\"><folder name=\"f\" type=\"Inbox\"/></user></gwsim>",
       "unknown type \"Inbox\""},
      {"<gwsim><user name=\"a\"><folder name=\"f\" count=\"maybe\"/></user></gwsim>",
       "count must be shown or hidden"},
      {"<gwsim><user name=\"a\"><folder name=\"f\" sharedByMe=\"yes\"/></user></gwsim>",
       "sharedByMe must be 0 or 1"},
      {"<gwsim><user name=\"a\"><folder name=\"f\">\n\n<item created=\"Jan 5\"/>"
       "</folder></user></gwsim>",
       "fixture:3: unreadable created \"Jan 5\""},
      {"<gwsim><user name=\"a\"><folder name=\"f\"><item kind=\"Fax\"/></folder></user></gwsim>",
       "unknown kind \"Fax\""},
      {"<gwsim><user name=\"a\"><folder id=\"X\" name=\"f\"/><folder id=\"X\" name=\"g\"/>"
       "</user></gwsim>",
       "duplicate id X"},
      {"<gwsim><user name=\"a\"><item/></user></gwsim>", "unexpected <item> in <user>"},
      {"<gwsim><book name=\"b\"><folder name=\"f\"/></book></gwsim>",
       "unexpected <folder> in <book>"},
      {"<gwsim><trustedApp name=\"Movaro\"/></gwsim>", "needs a name and a key"},
  };
  for (const Case &c : cases) {
    gwsim::Mailbox mailbox;
    std::string error;
    EXPECT_FALSE(gwsim::LoadMailboxText(c.text, "fixture", &mailbox, &error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.message)) << c.text << "\n -> " << error;
    EXPECT_TRUE(mailbox.users.empty() && mailbox.folders.empty()) << c.text;
  }
}

TEST(FixtureTest, ServerStartsOnlyWithALoadableMailbox) {
  gwsim::Options missing;
  missing.mailboxFile = std::string(MVGWS_TEST_DATA) + "/gwsim/no_such_file.xml";
  gwsim::Server absent(missing);
  EXPECT_FALSE(absent.Start());
  EXPECT_NE(std::string::npos, absent.LastError().find("no_such_file.xml"));

  gwsim::Options broken;
  broken.mailboxFile = std::string(MVGWS_TEST_DATA) + "/gwsim/broken_mailbox.xml";
  gwsim::Server bad(broken);
  EXPECT_NE(std::string::npos, bad.LastError().find("unknown kind"));  // known before Start
  EXPECT_FALSE(bad.Start());
  EXPECT_NE(std::string::npos, bad.LastError().find("broken_mailbox.xml:4: unknown kind"))
      << bad.LastError();

  gwsim::Options good;
  good.mailboxFile = kSmall;
  gwsim::Server server(good);
  ASSERT_TRUE(server.Start()) << server.LastError();
  gwsim_test::Client client;
  pugi::xml_document doc;
  pugi::xml_node answer = gwsim_test::Call(
      &client, server.url(), "", "loginRequest",
      "<m:loginRequest><m:auth type=\"t:PlainText\"><t:username>carol</t:username>"
      "<t:password>pw</t:password></m:auth></m:loginRequest>",
      &doc);
  EXPECT_EQ(0, gwsim_test::StatusCode(answer));
  EXPECT_STREQ("Carol Clark", answer.child("gwm:userinfo").child("gwt:name").text().get());
}

TEST(FixtureTest, GeneratorSpreadsItemsOverNewFolders) {
  gwsim::Mailbox mailbox;
  gwsim::LoadDemoMailbox(&mailbox);
  size_t folders = mailbox.folders.size();
  size_t items = mailbox.items.size();
  ASSERT_TRUE(gwsim::GenerateMailbox(&mailbox, "alice", 40, 1000));
  ASSERT_EQ(folders + 40, mailbox.folders.size());
  ASSERT_EQ(items + 1000, mailbox.items.size());
  const std::string cabinet = mailbox.FindFolderByType("alice", "Cabinet")->id;
  for (size_t i = folders; i < mailbox.folders.size(); ++i) {
    EXPECT_EQ(cabinet, mailbox.folders[i].parentId);
    EXPECT_EQ(25u, mailbox.ItemsIn(mailbox.folders[i].id).size());
  }
  EXPECT_EQ("2020-01-01T00:00:00Z", mailbox.items[items].created);
  EXPECT_EQ("2020-02-11T15:00:00Z", mailbox.items.back().created);  // 999 hours later

  ASSERT_TRUE(gwsim::GenerateMailbox(&mailbox, "bob", 0, 3));  // no folders: into Mailbox
  EXPECT_EQ(5u, mailbox.ItemsIn(mailbox.FindFolderByType("bob", "Mailbox")->id).size());
  EXPECT_FALSE(gwsim::GenerateMailbox(&mailbox, "ghost", 1, 1));
}

}  // namespace
