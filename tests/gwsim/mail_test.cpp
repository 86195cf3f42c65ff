// Mail items and their data from tests/data/gwsim/mail_mailbox.xml:
// getItemRequest answer shapes and getAttachmentRequest pieces.
#include <string>
#include <vector>

#include "gwsim/base64.h"
#include "gwsim_client.h"

namespace {

using gwsim_test::StatusCode;

const char kView[] = "default recipients message/RTF attachments recipientStatus peek";

gwsim::Options MailOptions() {
  gwsim::Options options;
  options.mailboxFile = std::string(MVGWS_TEST_DATA) + "/gwsim/mail_mailbox.xml";
  return options;
}

class MailTest : public ::testing::Test {
 protected:
  MailTest() : server(MailOptions()) {}
  void SetUp() override {
    ASSERT_TRUE(server.Start()) << server.LastError();
    session = gwsim_test::LoginAlice(&client, server.url());
    ASSERT_FALSE(session.empty());
  }
  pugi::xml_node GetItem(const std::string &id) {
    return gwsim_test::Call(&client, server.url(), session, "getItemRequest",
                            "<m:getItemRequest>\n<id>" + id + "</id>\n<view>" + kView +
                                "</view>\n</m:getItemRequest>\n",
                            &doc);
  }
  // The body the plug-in sends, with <offset>/<length> left out when empty.
  pugi::xml_node GetAttachment(const std::string &id, const std::string &offset,
                               const std::string &length) {
    std::string body = "<m:getAttachmentRequest>\n<id>" + id + "</id>\n<view></view>\n";
    if (!offset.empty()) body += "<offset>" + offset + "</offset>\n";
    if (!length.empty()) body += "<length>" + length + "</length>\n";
    return gwsim_test::Call(&client, server.url(), session, "getAttachmentRequest",
                            body + "</m:getAttachmentRequest>\n", &doc);
  }
  // The id of the attachment named `name` of item `itemId`.
  std::string AttachmentId(const std::string &itemId, const std::string &name) {
    pugi::xml_node item = GetItem(itemId).child("gwm:item");
    std::string path = "gwt:attachments/gwt:attachment[gwt:name='" + name + "']/gwt:id";
    return item.select_node(path.c_str()).node().text().get();
  }

  gwsim::Server server;
  gwsim_test::Client client;
  pugi::xml_document doc;
  std::string session;
};

std::string Decoded(const char *base64) {
  std::string bytes;
  EXPECT_TRUE(gwsim::DecodeBase64(base64, &bytes)) << base64;
  return bytes;
}

// Bytes [offset, offset + n) of a generated attachment: byte i is i % 251.
std::string Generated(size_t offset, size_t n) {
  std::string bytes;
  for (size_t i = offset; i < offset + n; ++i) bytes.push_back(static_cast<char>(i % 251));
  return bytes;
}

// The decoder refuses what a created item may not carry; the encoding itself
// is checked end to end by the export and reader tests.
TEST(Base64Test, Refusals) {
  for (const char *bad : {"YWJ", "YW!j", "Y===", "YQ==YWJj", "YW=j"}) {
    std::string decoded;
    EXPECT_FALSE(gwsim::DecodeBase64(bad, &decoded)) << bad;
  }
}

TEST_F(MailTest, MailItemAnswerShapes) {
  struct Case {
    const char *why;
    const char *item;
    const char *path;  // XPath from gwm:item, evaluated as a string
    std::string expected;
  } cases[] = {
      // Subjects, senders, recipients, dates, priorities, categories, read
      // states, body kinds and attachment data of these mails are checked end
      // to end by the export test; here only what it cannot see.
      {"source", "MAIL.PLAIN@1", "gwt:source", "received"},
      {"reply dates", "MAIL.PLAIN@1",
       "concat(//gwt:recipient[1]/gwt:recipientStatus/gwt:replied, '|', "
       "//gwt:recipient[2]/gwt:recipientStatus/gwt:accepted, '|', "
       "//gwt:recipient[3]/gwt:recipientStatus/gwt:declined)",
       "2026-01-05T11:00:00Z|2026-01-05T10:00:00Z|2026-01-06T08:30:00Z"},
      {"no reply, no status", "MAIL.PLAIN@1", "count(//gwt:recipient[4]/gwt:recipientStatus)",
       "0"},
      {"threading", "MAIL.PLAIN@1", "concat(gwt:threading/gwt:id, '<', gwt:threading/gwt:parent)",
       "THREAD.1<THREAD.0"},
      {"body part, type first", "MAIL.PLAIN@1", "name(gwt:message/gwt:part/@*[1])", "contentType"},
      {"body length", "MAIL.PLAIN@1", "gwt:message/gwt:part/@length", "50"},
      {"body parts", "MAIL.RICH@1",
       "concat(gwt:message/gwt:part[1]/@contentType, ' ', gwt:message/gwt:part[2]/@contentType)",
       "text/plain text/rtf"},
      {"HTML body first, hidden", "MAIL.RICH@1",
       "concat(//gwt:attachment[1]/gwt:name, ' ', //gwt:attachment[1]/gwt:contentType, ' ', "
       "//gwt:attachment[1]/gwt:hidden)",
       "text.htm text/html 1"},
      {"Mime.822 last", "MAIL.RICH@1", "//gwt:attachment[6]/gwt:name", "Mime.822"},
      {"has attachments", "MAIL.RICH@1", "gwt:hasAttachment", "1"},
      {"attached items are references", "MAIL.FWD@1",
       "count(//gwt:attachment/gwt:id[@itemReference='1'])", "3"},
      {"reference ids", "MAIL.FWD@1",
       "concat(//gwt:attachment[1]/gwt:id, ' ', //gwt:attachment[3]/gwt:id)",
       "MAIL.INNER@1 TASK.ONE@1"},
      {"view name", "MAIL.FWD@1", "gwt:viewName", "Mail"},
      {"long body: empty part with an id", "MAIL.LONG@1",
       "concat(gwt:message/gwt:part/@length, ' ', string-length(gwt:message/gwt:part), ' ', "
       "string-length(gwt:message/gwt:part/@id) > 0)",
       "40000 0 true"},
      {"no body at all", "MAIL.EMPTY@1", "count(gwt:message)", "0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    pugi::xml_node answer = GetItem(c.item);
    ASSERT_EQ(0, StatusCode(answer));
    pugi::xml_node item = answer.child("gwm:item");
    EXPECT_EQ(c.expected, pugi::xpath_query(c.path).evaluate_string(item)) << c.path;
  }
}

// The export keeps the plain text of a mail that also has RTF: only here is
// the RTF part seen.
TEST_F(MailTest, RtfBodyDecodesToTheFixtureText) {
  pugi::xml_node rich = GetItem("MAIL.RICH@1").child("gwm:item");
  pugi::xml_node rtf = rich.child("gwt:message").child("gwt:part").next_sibling("gwt:part");
  EXPECT_EQ("{\\rtf1\\ansi Gr\\'fc\\'dfe aus K\\'f6ln\\par}", Decoded(rtf.text().get()));
}

TEST_F(MailTest, AttachmentPieces) {
  const std::string zip = AttachmentId("MAIL.RICH@1", "archive.zip");  // 450000 generated bytes
  ASSERT_FALSE(zip.empty());
  gwsim::AnswerOptions capped;
  capped.pieceCap = 16384;
  gwsim::AnswerOptions wrapped;
  wrapped.base64LineLength = 76;
  gwsim::AnswerOptions noPart;
  noPart.noPartPastEnd = true;
  struct Case {
    const char *why;
    std::string id;
    const char *offset;  // "" or nullptr: left out
    const char *length;
    gwsim::AnswerOptions options;
    int code;
    bool part;            // a gwm:part is present
    size_t pieceOffset;   // expected offset attribute, bytes = Generated(pieceOffset, pieceLength)
    size_t pieceLength;
  } cases[] = {
      // Chunks of 200000 bytes, the empty part at the end and short pieces
      // under a cap are read by the reader's attachment tests.
      {"-1 reads the whole", zip, "0", "-1", {}, 0, true, 0, 450000},
      {"no length reads to the end", zip, "449990", "", {}, 0, true, 449990, 10},
      {"no offset starts at 0", zip, "", "7", {}, 0, true, 0, 7},
      {"past the end: empty part", zip, "900000", "200000", {}, 0, true, 900000, 0},
      {"past the end, switch: no part", zip, "450000", "200000", noPart, 0, false, 0, 0},
      {"inside, switch: part as usual", zip, "449999", "5", noPart, 0, true, 449999, 1},
      {"cap above the rest", zip, "440000", "-1", capped, 0, true, 440000, 10000},
      {"broken base64", zip, "0", "1000", wrapped, 0, true, 0, 1000},
      {"negative offset", zip, "-5", "10", {}, 59905, false, 0, 0},
      {"offset not a number", zip, "x", "10", {}, 59905, false, 0, 0},
      {"no id", "", "0", "10", {}, 59905, false, 0, 0},
      {"unknown id", "NO.SUCH@1#att1", "0", "10", {}, 59906, false, 0, 0},
      {"an item that is not attached", "MAIL.PLAIN@1", "0", "10", {}, 59906, false, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    server.SetAnswerOptions(c.options);
    pugi::xml_node answer = GetAttachment(c.id, c.offset, c.length);
    EXPECT_EQ(c.code, StatusCode(answer));
    pugi::xml_node part = answer.child("gwm:part");
    ASSERT_EQ(c.part, static_cast<bool>(part));
    if (!part) continue;
    EXPECT_EQ(c.pieceOffset, part.attribute("offset").as_ullong());
    EXPECT_EQ(c.pieceLength, part.attribute("length").as_ullong());
    std::string text = part.text().get();
    EXPECT_EQ(c.pieceLength == 0, part.first_child().empty());
    if (c.options.base64LineLength > 0) {  // every line but the last is full
      EXPECT_EQ(76u, text.find('\n'));
      EXPECT_EQ(76u * 2 + 1, text.find('\n', 77));
    } else {
      EXPECT_EQ(std::string::npos, text.find('\n'));
    }
    EXPECT_TRUE(Decoded(text.c_str()) == Generated(c.pieceOffset, c.pieceLength));
  }
}

// A 200 MB attachment is served from its size alone: its last bytes are read
// without the store holding them.
TEST(GeneratorTest, HugeAttachmentIsMadeOnDemand) {
  gwsim::Server server;
  ASSERT_TRUE(server.Start());
  const int64_t huge = 200LL * 1024 * 1024;
  {
    auto lock = server.mailbox().Lock();
    gwsim::GeneratedAttachments attachments;
    attachments.perItem = 1;
    attachments.size = huge;
    ASSERT_TRUE(gwsim::GenerateMailbox(&server.mailbox(), "alice", 0, 1, attachments));
    EXPECT_EQ(0u, server.mailbox().items.back().attachments[0].data.size());
  }
  gwsim_test::Client client;
  pugi::xml_document doc;
  const std::string session = gwsim_test::LoginAlice(&client, server.url());
  std::string id;
  {
    auto lock = server.mailbox().Lock();
    id = server.mailbox().items.back().attachments[0].id;
  }
  pugi::xml_node part = gwsim_test::Call(&client, server.url(), session, "getAttachmentRequest",
                                         "<m:getAttachmentRequest><id>" + id + "</id><offset>" +
                                             std::to_string(huge - 5) +
                                             "</offset><length>200000</length>"
                                             "</m:getAttachmentRequest>",
                                         &doc)
                            .child("gwm:part");
  EXPECT_STREQ("5", part.attribute("length").value());
  EXPECT_EQ(Generated(static_cast<size_t>(huge - 5), 5), Decoded(part.text().get()));
}

}  // namespace
