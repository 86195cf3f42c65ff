// The simulator's answers from the demo mailbox: logins, the session check
// and the folder list.
#include <map>

#include "gwsim_client.h"

namespace {

using gwsim_test::StatusCode;
using AnswersTest = gwsim_test::ServerTest;

const char kFolderList[] =
    "<m:getFolderListRequest>\n<t:parent>folders</t:parent>\n<t:view/>\n"
    "<t:recurse>true</t:recurse>\n<t:imap>false</t:imap>\n<t:nntp>false</t:nntp>\n"
    "</m:getFolderListRequest>\n";

std::string Login(const char *type, const char *user, const std::string &fields) {
  return std::string("<m:loginRequest>\n<m:auth type=\"t:") + type + "\">\n<t:username>" + user +
         "</t:username>\n" + fields + "</m:auth>\n<m:version>1.09</m:version>\n"
         "<m:application>Movaro</m:application>\n</m:loginRequest>\n";
}
std::string Plain(const char *user, const char *password, const char *proxy = nullptr) {
  std::string fields = std::string("<t:password>") + password + "</t:password>\n";
  if (proxy == nullptr) return Login("PlainText", user, fields);
  return Login("Proxy", user, fields + "<t:proxy>" + proxy + "</t:proxy>\n");
}
std::string Trusted(const char *user, const char *app, const char *key) {
  return Login("TrustedApplication", user,
               std::string("<t:name>") + app + "</t:name>\n<t:key>" + key + "</t:key>\n");
}

TEST_F(AnswersTest, LoginKindsAndTheirCodes) {
  const char *key = "3F2504E04F8911D39A0C0305E82C3301";
  struct Case {
    std::string login;
    int code;
    const char *mailbox;  // "gwt:name gwt:recipType" of the mailbox opened; " ": none
  } cases[] = {
      // A plain login, a wrong password and an unknown user are also what
      // LogonTest.EachFailureHasItsResultCode meets, with their codes.
      {Plain("ALICE", "secret"), 0, "Alice Anders User"},  // names ignore case
      {Plain("confroom", "room"), 0, "Conference Room 1 Resource"},
      {Plain("alice", "secret", "bob"), 0, "Bob Berger User"},
      {Plain("alice", "secret", "ghost"), 53505, " "},
      {Plain("alice", "wrong", "bob"), 53273, " "},
      {Plain("bob", "hunter2", "alice"), 53507, " "},  // bob has no rights on alice
      {Trusted("bob", "Movaro", key), 0, "Bob Berger User"},
      {Trusted("bob", "Movaro", "0000"), 53273, " "},
      {Trusted("bob", "Other", key), 53273, " "},
      {Trusted("ghost", "Movaro", key), 53505, " "},
      {Login("Kerberos", "alice", ""), 59905, " "},
  };
  for (const Case &c : cases) {
    pugi::xml_node answer = AskAs("", "loginRequest", c.login);
    EXPECT_EQ(c.code, StatusCode(answer)) << c.login;
    const std::string opened = answer.child("gwm:session").text().get();
    pugi::xml_node info = answer.child("gwm:userinfo");
    const std::string name = info.child("gwt:name").text().get();
    EXPECT_EQ(c.mailbox, name + " " + info.child("gwt:recipType").text().get()) << c.login;
    if (c.code != 0) {
      EXPECT_TRUE(opened.empty() && !info) << c.login;
      EXPECT_STRNE("", answer.child("gwm:status").child("gwt:description").text().get());
      continue;
    }
    EXPECT_STREQ("8.0.2", answer.child("gwm:gwVersion").text().get());
    // The session sees the mailbox it opened: its root folder comes first.
    pugi::xml_node root = AskAs(opened, "getFolderListRequest", kFolderList).child("gwm:folders");
    EXPECT_EQ(name, root.child("gwt:folder").child("gwt:name").text().get());
  }
}

TEST_F(AnswersTest, RequestsWithoutAValidSessionGet59910) {
  const std::string bob =
      AskAs("", "loginRequest", Plain("bob", "hunter2")).child("gwm:session").text().get();
  for (const char *name : {"getFolderListRequest", "getCategoryListRequest",
                           "getAddressBookListRequest", "getItemsRequest", "getItemRequest",
                           "createCursorRequest", "readCursorRequest", "destroyCursorRequest",
                           "logoutRequest"}) {
    for (const char *as : {"", "NOSUCHSESSION"}) {
      EXPECT_EQ(59910, StatusCode(AskAs(as, name, std::string("<m:") + name + "/>"))) << name << as;
    }
  }
  const char categories[] = "<m:getCategoryListRequest/>";
  EXPECT_EQ(0, StatusCode(Ask("getCategoryListRequest", categories)));
  EXPECT_EQ(0, StatusCode(Ask("logoutRequest", "<m:logoutRequest/>\n")));
  EXPECT_EQ(59910, StatusCode(Ask("getCategoryListRequest", categories)));
  EXPECT_EQ(0, StatusCode(AskAs(bob, "getCategoryListRequest", categories)));  // not logged out
}

TEST_F(AnswersTest, FolderListShape) {
  {  // a store change seen by the next answer, with texts to escape
    auto lock = server.mailbox().Lock();
    server.mailbox().FindFolderByType("alice", "JunkMail")->name = "Junk <Mail> & \"spam\"";
  }
  pugi::xml_node answer = Ask("getFolderListRequest", kFolderList);
  ASSERT_EQ(0, StatusCode(answer));
  // Each folder as "name|xsi:type|folderType|count|parent name", parents first ("?" if not).
  std::map<std::string, std::string> nameOfId = {{"", "-"}};
  std::vector<std::string> folders;
  for (pugi::xml_node f : answer.child("gwm:folders").children("gwt:folder")) {
    pugi::xml_node count = f.child("gwt:count");
    auto parent = nameOfId.find(f.child("gwt:parent").text().get());
    folders.push_back(std::string(f.child("gwt:name").text().get()) + "|" +
                      f.attribute("xsi:type").value() + "|" +
                      f.child("gwt:folderType").text().get() + "|" +
                      (count ? count.text().get() : "no count") + "|" +
                      (parent == nameOfId.end() ? "?" : parent->second));
    nameOfId[f.child("gwt:id").text().get()] = f.child("gwt:name").text().get();
  }
  EXPECT_EQ((std::vector<std::string>{
                "Alice Anders|gwt:SystemFolder|Root|no count|-",
                "Mailbox|gwt:SystemFolder|Mailbox|8|Alice Anders",
                "Sent Items|gwt:SystemFolder|SentItems|no count|Alice Anders",
                "Calendar|gwt:SystemFolder|Calendar|9|Alice Anders",
                "Contacts|gwt:ContactFolder|Contacts|0|Alice Anders",
                "Checklist|gwt:SystemFolder|Checklist|2|Alice Anders",
                "Work In Progress|gwt:SystemFolder|Draft|0|Alice Anders",
                "Cabinet|gwt:SystemFolder|Cabinet|0|Alice Anders",
                "Projects|gwt:Folder||1|Cabinet",
                "2026|gwt:Folder||2|Projects",
                "Receipts  |gwt:Folder||1|Cabinet",
                "Team Calendar|gwt:Folder||1|Cabinet",
                "Shared Plans|gwt:SharedFolder||1|Alice Anders",
                "Bob's Notes|gwt:SharedFolder||no count|Alice Anders",
                "Junk <Mail> & \"spam\"|gwt:SystemFolder|JunkMail|0|Alice Anders",
                "Trash|gwt:SystemFolder|Trash|1|Alice Anders",
            }),
            folders);
  auto at = [&](const char *path) { return answer.select_node(path).node(); };
  EXPECT_STREQ("1", at("//gwt:folder[gwt:name='Shared Plans']/gwt:isSharedByMe").text().get());
  EXPECT_STREQ("0", at("//gwt:folder[gwt:name=\"Bob's Notes\"]/gwt:isSharedByMe").text().get());
  EXPECT_TRUE(at("//gwt:folder[gwt:name='Calendar']/gwt:calendarAttribute"));
  EXPECT_STREQ("Calendar", at("//gwt:folder[gwt:name='Team Calendar']/gwt:displaySettings/"
                              "gwt:folderType").text().get());
}

}  // namespace
