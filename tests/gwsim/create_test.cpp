// createItemRequest against the demo mailbox: new folders and mails are seen
// by every later answer as received ones are; refusals change nothing.
#include <string>

#include "gwsim_client.h"

namespace {

using gwsim_test::StatusCode;

// The bodies the plug-in sends to create a mail or a folder.
std::string MailRequest(const std::string &container, const std::string &content) {
  return "<m:createItemRequest>\n<item type=\"Mail\">\n<container>" + container +
         "</container>\n" + content + "</item>\n</m:createItemRequest>\n";
}
std::string TaskRequest(const std::string &container, const std::string &content) {
  return "<m:createItemRequest>\n<m:item type=\"Task\">\n<container>" + container +
         "</container>\n" + content + "</m:item>\n</m:createItemRequest>\n";
}
std::string EntryRequest(const char *type, const std::string &container,
                         const std::string &content) {
  return std::string("<m:createItemRequest>\n<item type=\"") + type + "\">\n<container>" +
         container + "</container>\n" + content + "</item>\n</m:createItemRequest>\n";
}
std::string FolderRequest(const std::string &parent, const std::string &name) {
  return "<m:createItemRequest>\n<item type=\"Folder\">\n<parent>" + parent +
         "</parent>\n<name>" + name + "</name>\n</item>\n</m:createItemRequest>\n";
}

// That created folders and mails read back as received ones is checked end
// to end by the round-trip tests (import, then export of what was created).
class CreateTest : public gwsim_test::ServerTest {
 protected:
  std::string FolderId(const char *owner, const char *type) {
    auto lock = server.mailbox().Lock();
    return server.mailbox().FindFolderByType(owner, type)->id;
  }
  size_t StoreSize() {
    auto lock = server.mailbox().Lock();
    return server.mailbox().items.size() + server.mailbox().folders.size();
  }
};

TEST_F(CreateTest, RefusalsChangeNothing) {
  const std::string inbox = FolderId("alice", "Mailbox");
  const std::string bobs = FolderId("bob", "Mailbox");
  std::string book, otherBook, carol, otherContact;
  {
    auto lock = server.mailbox().Lock();
    for (const gwsim::AddressBook &b : server.mailbox().books) {
      if (b.name == "Alice's Contacts") book = b.id;
      if (b.name == "Frequent Contacts") otherBook = b.id;
    }
    for (const gwsim::Item &item : server.mailbox().items) {
      if (item.subject == "Carol Clark") carol = item.id;
      if (item.subject == "Bob Berger" && item.container == otherBook) otherContact = item.id;
    }
  }
  struct Case {
    const char *why;
    std::string body;
    long httpStatus;
    int code;
  } cases[] = {
      {"no container", MailRequest("", "<subject>s</subject>\n"), 200, 59905},
      {"unknown container", MailRequest("NO.SUCH@16", "<subject>s</subject>\n"), 200, 59906},
      {"another mailbox's folder", MailRequest(bobs, "<subject>s</subject>\n"), 200, 59906},
      {"body not base64",
       MailRequest(inbox, "<message><part contentType=\"text/plain\">ab!c</part></message>"),
       200, 59905},
      {"attachment not base64",
       MailRequest(inbox, "<attachments><attachment><name>a</name><data>YQ=</data>"
                          "</attachment></attachments>"),
       200, 59905},
      {"unreadable date", MailRequest(inbox, "<delivered>yesterday</delivered>"), 200, 59905},
      {"task date not readable", TaskRequest(inbox, "<dueDate>soon</dueDate>"), 200, 59905},
      {"task percentage over 100",
       TaskRequest(inbox, "<checklist><percentComplete>150</percentComplete></checklist>"), 200,
       59905},
      {"task body not base64",
       TaskRequest(inbox, "<message><part contentType=\"text/plain\">ab!c</part></message>"), 200,
       59905},
      {"task in another mailbox's folder", TaskRequest(bobs, "<subject>s</subject>"), 200, 59906},
      {"no parent", FolderRequest("", "New"), 200, 59905},
      {"unknown parent", FolderRequest("NO.SUCH@16", "New"), 200, 59906},
      {"another mailbox's parent", FolderRequest(bobs, "New"), 200, 59906},
      {"no name", FolderRequest(inbox, ""), 200, 59905},
      {"no item", "<m:createItemRequest/>", 200, 59905},
      {"contact in an unknown book", EntryRequest("Contact", "NO.SUCH@14", ""), 200, 59906},
      {"unknown phone type",
       EntryRequest("Contact", book, "<phoneList><phone type=\"Work\">1</phone></phoneList>"),
       200, 59905},
      {"unknown address type",
       EntryRequest("Contact", book, "<addressList><address type=\"Work\"/></addressList>"), 200,
       59905},
      {"birthday not a date",
       EntryRequest("Contact", book, "<personalInfo><birthday>12/24/1980</birthday>"
                                     "</personalInfo>"),
       200, 59905},
      {"group member without id",
       EntryRequest("Group", book, "<members><member><distType>TO</distType></member></members>"),
       200, 59905},
      {"group member of another book",
       EntryRequest("Group", book, "<members><member><id>" + otherContact + "</id></member>"
                                   "</members>"),
       200, 59906},
      {"group member that is no entry",
       EntryRequest("Group", book, "<members><member><id>NO.SUCH@1</id></member></members>"),
       200, 59906},
      {"group member of an unknown distType",
       EntryRequest("Group", book, "<members><member><id>" + carol + "</id><distType>XX"
                                   "</distType></member></members>"),
       200, 59905},
      {"unknown type", "<m:createItemRequest><item type=\"Note\"/></m:createItemRequest>", 200,
       59905},
      {"malformed XML", "<m:createItemRequest><item type=\"Mail\"></m:createItemRequest>", 500,
       -1},
  };
  const size_t before = StoreSize();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    gwsim_test::PostResult result =
        client.Post(server.url(), gwsim_test::Envelope(session, c.body), "createItemRequest");
    EXPECT_EQ(c.httpStatus, result.status);
    pugi::xml_document answer;
    answer.load_string(result.body.c_str());
    pugi::xml_node response =
        answer.child("SOAP-ENV:Envelope").child("SOAP-ENV:Body").child("gwm:createItemResponse");
    EXPECT_EQ(c.code, StatusCode(response));
    EXPECT_FALSE(response.child("gwm:id"));
  }
  EXPECT_EQ(before, StoreSize());
}

TEST_F(CreateTest, FaultHitsOnlyTheNthCreate) {
  gwsim::Fault fault;
  fault.kind = gwsim::FaultKind::kCode;
  fault.status = 58652;  // over quota
  fault.requestName = "createItemRequest";
  fault.nameOrdinal = 2;
  server.AddFault(fault);
  const std::string inbox = FolderId("alice", "Mailbox");
  std::vector<int> codes;
  for (const char *subject : {"first", "second", "third"}) {
    // other requests do not count towards the ordinal
    Ask("getItemRequest", "<m:getItemRequest><id>NO.SUCH@1</id></m:getItemRequest>");
    const std::string content = std::string("<subject>") + subject + "</subject>\n";
    codes.push_back(StatusCode(Ask("createItemRequest", MailRequest(inbox, content))));
  }
  EXPECT_EQ((std::vector<int>{0, 58652, 0}), codes);
  auto lock = server.mailbox().Lock();
  std::vector<std::string> stored;
  for (const gwsim::Item *item : server.mailbox().ItemsIn(inbox)) stored.push_back(item->subject);
  EXPECT_EQ("third", stored.back());
  EXPECT_EQ("first", stored[stored.size() - 2]);
}

TEST_F(CreateTest, EveryCreatedMailHasAMessageId) {
  const std::string inbox = FolderId("alice", "Mailbox");
  const struct {
    const char *why, *content, *msgId;  // msgId null: one the server made
  } cases[] = {
      {"a mail without msgId gets one", "<subject>notice</subject>\n", nullptr},
      {"a second one, alike in every field, gets another", "<subject>notice</subject>\n", nullptr},
      {"a given msgId is kept", "<subject>notice</subject>\n<msgId>4A5B@example.com</msgId>\n",
       "4A5B@example.com"},
  };
  std::vector<std::string> seen;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    pugi::xml_node response = Ask("createItemRequest", MailRequest(inbox, c.content));
    ASSERT_EQ(0, StatusCode(response));
    const std::string id = response.child("gwm:id").text().get();
    auto lock = server.mailbox().Lock();
    const gwsim::Item *item = server.mailbox().FindItem(id);
    ASSERT_NE(nullptr, item);
    if (c.msgId != nullptr) {
      EXPECT_EQ(c.msgId, item->msgId);
    }
    EXPECT_FALSE(item->msgId.empty());
    for (const std::string &other : seen) EXPECT_NE(other, item->msgId);
    seen.push_back(item->msgId);
  }
}

}  // namespace
