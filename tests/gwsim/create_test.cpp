// createItemRequest against the demo mailbox: new folders and mails are seen
// by every later answer as received ones are; refusals change nothing.
#include <string>

#include "gwsim/base64.h"
#include "gwsim_client.h"

namespace {

using gwsim_test::StatusCode;

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
  pugi::xml_node CreateFolder(const std::string &parent, const std::string &name) {
    return Ask("createItemRequest", "<m:createItemRequest>\n<item type=\"Folder\">\n<parent>" +
                                        parent + "</parent>\n<name>" + name +
                                        "</name>\n</item>\n</m:createItemRequest>\n");
  }
  pugi::xml_node CreateMail(const std::string &container, const std::string &content) {
    return Ask("createItemRequest", "<m:createItemRequest>\n<item type=\"Mail\">\n<container>" +
                                        container + "</container>\n" + content +
                                        "</item>\n</m:createItemRequest>\n");
  }
  pugi::xml_node GetItem(const std::string &id) {
    return Ask("getItemRequest", "<m:getItemRequest>\n<id>" + id +
                                     "</id>\n<view>default</view>\n</m:getItemRequest>\n");
  }
};

std::string Base64(const std::string &bytes) {
  std::string text;
  gwsim::AppendBase64(bytes.data(), bytes.size(), 0, &text);
  return text;
}

// A mail as the plug-in writes it, with a text body, a hidden HTML body and
// a binary attachment holding every byte value.
std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  return bytes + bytes;
}
const std::string kMailContent =
    "<delivered>2026-04-01T10:20:30Z</delivered>\n<source>received</source>\n"
    "<created>2026-04-01T10:20:30Z</created>\n<subject>R\xc3\xa9sum\xc3\xa9 &amp; plans</subject>\n"
    "<status>\n<read>1</read>\n</status>\n"
    "<distribution>\n<from>\n<displayName>Zo\xc3\xab Zimmer</displayName>\n"
    "<email>zoe@example.com</email>\n</from>\n<to>Alice Anders</to>\n<recipients>\n"
    "<recipient>\n<displayName>Alice Anders</displayName>\n<email>alice@example.com</email>\n"
    "<distType>TO</distType>\n</recipient>\n"
    "<recipient>\n<displayName>Bob Berger</displayName>\n<email>bob@example.com</email>\n"
    "<distType>CC</distType>\n</recipient>\n</recipients>\n</distribution>\n"
    "<message>\n<part contentType=\"text/plain\" length=\"8\">\n" + Base64("Body\r\n") +
    "\n</part>\n</message>\n<attachments>\n"
    "<attachment>\n<name>text.htm</name>\n<contentType>text/html</contentType>\n"
    "<hidden>1</hidden>\n<size>40</size>\n<data>\n" + Base64("<html><b>Body</b></html>") +
    "\n</data>\n</attachment>\n"
    "<attachment>\n<name>bytes.bin</name>\n<contentType>application/octet-stream</contentType>\n"
    "<size>684</size>\n<data>\n" + Base64(AllBytes()) + "\n</data>\n</attachment>\n"
    "</attachments>\n<options>\n<priority>High</priority>\n</options>\n";

TEST_F(CreateTest, CreatedFolderIsListedAndTakesMail) {
  pugi::xml_node created = CreateFolder(FolderId("alice", "Cabinet"), "Imported &amp; kept");
  ASSERT_EQ(0, StatusCode(created));
  const std::string id = created.child("gwm:id").text().get();
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(0, StatusCode(CreateMail(id, "<subject>one</subject>\n")));
  EXPECT_EQ(0, StatusCode(CreateMail(id, "<subject>two</subject>\n")));
  pugi::xml_node list = Ask("getFolderListRequest",
                            "<m:getFolderListRequest><parent>folders</parent>"
                            "<recurse>true</recurse></m:getFolderListRequest>");
  std::string path = "gwm:folders/gwt:folder[gwt:id='" + id + "']";
  pugi::xml_node folder = list.select_node(path.c_str()).node();
  EXPECT_STREQ("Imported & kept", folder.child("gwt:name").text().get());
  EXPECT_EQ(FolderId("alice", "Cabinet"), folder.child("gwt:parent").text().get());
  EXPECT_STREQ("2", folder.child("gwt:count").text().get());
  // A cursor on the new folder lists both mails in order.
  pugi::xml_node cursor = Ask("createCursorRequest", "<m:createCursorRequest><container>" + id +
                                                         "</container></m:createCursorRequest>");
  pugi::xml_node items = Ask("readCursorRequest",
                             "<m:readCursorRequest><container>" + id + "</container><cursor>" +
                                 cursor.child("gwm:cursor").text().get() +
                                 "</cursor><forward>true</forward><position>start</position>"
                                 "<count>10</count></m:readCursorRequest>");
  EXPECT_EQ("one two", pugi::xpath_query("concat(gwm:items/gwt:item[1]/gwt:subject, ' ', "
                                         "gwm:items/gwt:item[2]/gwt:subject)")
                           .evaluate_string(items));
}

TEST_F(CreateTest, CreatedMailReadsBackAsReceived) {
  pugi::xml_node created = CreateMail(FolderId("alice", "Mailbox"), kMailContent);
  ASSERT_EQ(0, StatusCode(created));
  const std::string id = created.child("gwm:id").text().get();
  pugi::xml_node item = GetItem(id).child("gwm:item");
  struct Case {
    const char *path;
    std::string expected;
  } cases[] = {
      {"gwt:subject", "R\xc3\xa9sum\xc3\xa9 & plans"},
      {"gwt:delivered", "2026-04-01T10:20:30Z"},
      {"gwt:status/gwt:read", "1"},
      {"gwt:options/gwt:priority", "High"},
      {"gwt:distribution/gwt:from/gwt:displayName", "Zo\xc3\xab Zimmer"},
      {"concat(//gwt:recipient[1]/gwt:email, ' ', //gwt:recipient[2]/gwt:distType)",
       "alice@example.com CC"},
      {"gwt:message/gwt:part/@length", "6"},
      {"concat(//gwt:attachment[1]/gwt:name, ' ', //gwt:attachment[1]/gwt:hidden, ' ', "
       "//gwt:attachment[1]/gwt:size)",
       "text.htm 1 24"},
      {"concat(//gwt:attachment[2]/gwt:name, ' ', //gwt:attachment[2]/gwt:size)", "bytes.bin 512"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.expected, pugi::xpath_query(c.path).evaluate_string(item)) << c.path;
  }
  std::string body;
  EXPECT_TRUE(gwsim::DecodeBase64(item.child("gwt:message").child("gwt:part").text().get(), &body));
  EXPECT_EQ("Body\r\n", body);
  // Attachment data comes back byte for byte, also in pieces.
  const std::string attachment =
      item.select_node("//gwt:attachment[gwt:name='bytes.bin']/gwt:id").node().text().get();
  std::string joined;
  for (const char *offset : {"0", "300"}) {
    pugi::xml_node part = Ask("getAttachmentRequest",
                              "<m:getAttachmentRequest>\n<id>" + attachment + "</id>\n<offset>" +
                                  offset + "</offset>\n<length>300</length>\n"
                                  "</m:getAttachmentRequest>\n")
                              .child("gwm:part");
    std::string piece;
    EXPECT_TRUE(gwsim::DecodeBase64(part.text().get(), &piece));
    joined += piece;
  }
  EXPECT_TRUE(joined == AllBytes());
}

TEST_F(CreateTest, RefusalsChangeNothing) {
  const std::string inbox = FolderId("alice", "Mailbox");
  const std::string bobs = FolderId("bob", "Mailbox");
  auto mail = [&](const std::string &container, const std::string &content) {
    return "<m:createItemRequest>\n<item type=\"Mail\">\n<container>" + container +
           "</container>\n" + content + "</item>\n</m:createItemRequest>\n";
  };
  auto folder = [](const std::string &parent, const std::string &name) {
    return "<m:createItemRequest>\n<item type=\"Folder\">\n<parent>" + parent +
           "</parent>\n<name>" + name + "</name>\n</item>\n</m:createItemRequest>\n";
  };
  struct Case {
    const char *why;
    std::string body;
    long httpStatus;
    int code;
  } cases[] = {
      {"no container", mail("", "<subject>s</subject>\n"), 200, 59905},
      {"unknown container", mail("NO.SUCH@16", "<subject>s</subject>\n"), 200, 59906},
      {"another mailbox's folder", mail(bobs, "<subject>s</subject>\n"), 200, 59906},
      {"body not base64", mail(inbox, "<message><part contentType=\"text/plain\">ab!c</part>"
                                      "</message>"),
       200, 59905},
      {"attachment not base64",
       mail(inbox, "<attachments><attachment><name>a</name><data>YQ=</data></attachment>"
                   "</attachments>"),
       200, 59905},
      {"unreadable date", mail(inbox, "<delivered>yesterday</delivered>"), 200, 59905},
      {"no parent", folder("", "New"), 200, 59905},
      {"unknown parent", folder("NO.SUCH@16", "New"), 200, 59906},
      {"another mailbox's parent", folder(bobs, "New"), 200, 59906},
      {"no name", folder(inbox, ""), 200, 59905},
      {"no item", "<m:createItemRequest/>", 200, 59905},
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
    GetItem("NO.SUCH@1");  // other requests do not count towards the ordinal
    codes.push_back(StatusCode(CreateMail(inbox, std::string("<subject>") + subject +
                                                     "</subject>\n")));
  }
  EXPECT_EQ((std::vector<int>{0, 58652, 0}), codes);
  auto lock = server.mailbox().Lock();
  std::vector<std::string> stored;
  for (const gwsim::Item *item : server.mailbox().ItemsIn(inbox)) stored.push_back(item->subject);
  EXPECT_EQ("third", stored.back());
  EXPECT_EQ("first", stored[stored.size() - 2]);
}

}  // namespace
