// ParseMailItem on saved getItemResponses: which element lands where, the
// order of the tests, and the text placeholder.
#include <gtest/gtest.h>

#include <string>

#include "convert_support.h"
#include "folders/category_table.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "reader/mail_parser.h"

namespace reader_test {
namespace {

using testing_support::ReadFileBytes;

std::string ItemAnswer(const std::string &inner) {
  return plugin_test::Answer("getItemResponse",
                             "<gwm:item xsi:type=\"gwt:Mail\">" + inner + "</gwm:item>");
}

struct FieldCase {
  const char *why;
  std::string inner;
  std::string subject;
  int unread;
  int importance;
  std::string categories;
  std::string messageId;
  std::string fromName;
};

class MailParserTest : public ConvertTest {
 protected:
  int Parse(const std::string &inner) {
    std::string path = Reshaped(ItemAnswer(inner), "msg.xml");
    com_ResetObject(record_);
    return ParseMailItem(record_, path.c_str());
  }
  void TearDown() override {
    com_Deallocate_All(record_, nullptr);
    ConvertTest::TearDown();
  }
};

TEST_F(MailParserTest, ElementsLandInTheirFields) {
  std::string categories = plugin_test::Answer(
      "getCategoryListResponse",
      "<gwm:categories><gwt:category><gwt:id>C1@55</gwt:id><gwt:name>Business</gwt:name>"
      "</gwt:category><gwt:category><gwt:id>C2@55</gwt:id><gwt:name>Travel</gwt:name>"
      "</gwt:category></gwm:categories>");
  ASSERT_EQ(1, ParseCategoryList(Reshaped(categories, "categories.xml").c_str()));
  const std::string longId(200, 'i');
  const FieldCase cases[] = {
      {"read 1 marks the item read; priority case is ignored",
       "<gwt:subject>Hi</gwt:subject><gwt:status><gwt:read>1</gwt:read></gwt:status>"
       "<gwt:options><gwt:priority>high</gwt:priority></gwt:options>",
       "Hi", 0, 2, "", "", ""},
      {"read 0 and read true leave the item unread; an unknown priority leaves it standard",
       "<gwt:status><gwt:read>0</gwt:read></gwt:status><gwt:status><gwt:read>true</gwt:read>"
       "</gwt:status><gwt:options><gwt:priority>Urgent</gwt:priority></gwt:options>",
       "", 1, 1, "", "", ""},
      {"an empty subject element is an empty subject, not its end tag",
       "<gwt:subject></gwt:subject><gwt:status><gwt:read>1</gwt:read></gwt:status>",
       "", 0, 1, "", "", ""},
      {"a second subject later in the item overwrites the first",
       "<gwt:subject>First</gwt:subject><gwt:options><gwt:priority>Low</gwt:priority>"
       "</gwt:options><gwt:subject>Second</gwt:subject>",
       "Second", 1, 0, "", "", ""},
      {"nothing inside a threading block is kept, and its end passes on",
       "<gwt:threading><gwt:subject>In thread</gwt:subject><gwt:id>T1</gwt:id></gwt:threading>"
       "<gwt:categories><gwt:category>C1@55</gwt:category><gwt:category>C2@7</gwt:category>"
       "</gwt:categories>",
       "", 1, 1, "Business;Travel;", "", ""},
      {"a category id directly after the threading block is still read",
       "<gwt:threading><gwt:id>T1</gwt:id></gwt:threading><gwt:category>C2@55</gwt:category>"
       "<gwt:priority>Standard</gwt:priority>",
       "", 1, 1, "Travel;", "", ""},
      {"the message id keeps 125 characters in both fields",
       "<gwt:msgId>" + longId + "</gwt:msgId>", "", 1, 1, "", std::string(125, 'i'), ""},
      {"the sender's name is tidied once more after its quotes go: no trailing blank",
       "<gwt:from><gwt:displayName>&quot;ann@x.org &quot;</gwt:displayName></gwt:from>", "", 1,
       1, "", "", "ann@x.org"},
  };
  for (const FieldCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(kMailStore, Parse(c.inner));
    EXPECT_EQ(c.subject, record_->subject);
    EXPECT_EQ(c.unread, record_->unread);
    EXPECT_EQ(c.importance, record_->importance);
    EXPECT_EQ(c.categories, record_->categories);
    EXPECT_EQ(c.messageId, record_->messageId);
    EXPECT_EQ(c.messageId, record_->messageIdCopy);
    EXPECT_EQ(c.fromName, record_->fromName);
    com_Deallocate_All(record_, nullptr);
  }
}

// What a sender writes into an item's texts stays in its element: a line
// break or an over-long value never lets the rest be read as markup.
TEST_F(MailParserTest, ItemTextsNeverReadAsMarkup) {
  const std::string tail =
      "<gwt:from><gwt:displayName>Ann</gwt:displayName><gwt:email>ann@x.org</gwt:email>"
      "</gwt:from><gwt:distribution><gwt:recipients><gwt:recipient><gwt:email>bob@x.org"
      "</gwt:email></gwt:recipient></gwt:recipients></gwt:distribution>"
      "<gwt:status><gwt:read>1</gwt:read></gwt:status><gwt:message><gwt:part "
      "contentType=\"text/plain\">SGVsbG8N\r\nCndvcmxk\r\n</gwt:part></gwt:message>";
  const std::string longA(1999, 'A');
  const struct {
    const char *why;
    std::string head;  // before the sender, recipient, read state and body
    std::string subject;
  } cases[] = {
      {"a line break then the threading tag's text",
       "<gwt:subject>Hi\r\n&lt;gwt:threading&gt;</gwt:subject>", "Hi\r\n<gwt:threading>"},
      {"1999 x A then the threading tag's text: one value, cut",
       "<gwt:subject>" + longA + "&lt;gwt:threading&gt;</gwt:subject>", std::string(256, 'A')},
      {"the threading tag's text alone in an element the parser does not read",
       "<gwt:subject>x</gwt:subject><gwt:distribution><gwt:to>&lt;gwt:threading&gt;</gwt:to>"
       "</gwt:distribution>",
       "x"},
      {"a recipient and an attachment of another id written as text",
       "<gwt:subject>x\n&lt;gwt:recipient&gt;\n&lt;gwt:email&gt;\nevil@x.org\n"
       "&lt;/gwt:recipient&gt;"
       "\n&lt;gwt:attachment&gt;\n&lt;gwt:id&gt;\nOTHER@1\n&lt;/gwt:attachment&gt;</gwt:subject>",
       "x\n<gwt:recipient>\n<gwt:email>\nevil@x.org\n</gwt:recipient>\n<gwt:attachment>\n<gwt:id>\n"
       "OTHER@1\n</gwt:attachment>"},
      {"an over-long name then a recipient's text",
       "<gwt:subject>s</gwt:subject><gwt:viewName>" + longA +
           "&lt;gwt:recipient&gt;</gwt:viewName><gwt:distribution>"
           "<gwt:to>&lt;gwt:email&gt;</gwt:to>"
           "</gwt:distribution>",
       "s"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    // No server: an attachment download would fail the item.
    EXPECT_EQ(kMailStore, Parse(c.head + tail));
    EXPECT_EQ(c.subject, record_->subject);
    EXPECT_STREQ("Ann", record_->fromName);
    EXPECT_STREQ("ann@x.org", record_->fromAddress);
    EXPECT_EQ(1, record_->recipCount);
    if (record_->recipCount == 1) {
      EXPECT_STREQ("bob@x.org", record_->recips[0]->address);
    }
    EXPECT_EQ(0, record_->unread);
    EXPECT_EQ(1, record_->partCount) << "the body and nothing else";
    if (record_->partCount == 1) {
      EXPECT_EQ(1, record_->parts[0]->kind);
    }
    EXPECT_EQ("Hello\r\nworld", ReadFileBytes(WorkFile("PRT00700.TMP")));
    com_Deallocate_All(record_, nullptr);
  }
}

struct PlaceholderCase {
  const char *why;
  std::string inner;
  std::string text;
};

TEST_F(MailParserTest, AnItemGetsItsTextOrThePlaceholder) {
  const PlaceholderCase cases[] = {
      {"with a view name", "<gwt:viewName>Phone Message</gwt:viewName>",
       "This message, of type \"Phone Message\", does not have any text.\n"},
      {"without one the quotes stay empty", "<gwt:subject>x</gwt:subject>",
       "This message, of type \"\", does not have any text.\n"},
      {"an element whose name only starts like part is no body",
       "<gwt:partner contentType=\"text/plain\">aGk=</gwt:partner>",
       "This message, of type \"\", does not have any text.\n"},
      {"an RTF body is the text, as HTML: no placeholder",
       "<gwt:message><gwt:part contentType=\"text/rtf\">e1xydGYxIEhlbGxvXHBhcn0=</gwt:part></gwt:message>",
       "<html>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
       "<head>\n</head>\n<body>\nHello<br>\n</body>\n</html>\n"},
  };
  for (const PlaceholderCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(kMailStore, Parse(c.inner));
    ASSERT_EQ(1, record_->partCount);
    EXPECT_STREQ("Message.txt", record_->parts[0]->name);
    EXPECT_EQ(1, record_->parts[0]->kind);
    EXPECT_EQ(ReadFileBytes(WorkFile("PRT00700.TMP")), c.text);
    EXPECT_EQ(static_cast<int>(c.text.size()), record_->parts[0]->size);
    com_Deallocate_All(record_, nullptr);
  }
}

TEST_F(MailParserTest, ABodyThatCannotBeFetchedFailsTheItem) {
  // The body sent as an empty part is fetched by its id, which the server
  // does not know.
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_EQ(kMailFailed, Parse("<gwt:message><gwt:part contentType=\"text/plain\" "
                               "length=\"40000\" id=\"BODY.1\"/></gwt:message>"));
  EXPECT_EQ(0, record_->partCount);
  EXPECT_FALSE(testing_support::FileExists(WorkFile("PRT00700.TMP")));
}

struct ExclusionCase {
  const char *why;
  bool lsub;
  int result;
  int logged;
};

TEST_F(MailParserTest, TheSubjectExclusionIsAskedOnlyWithLsub) {
  const char *excluded[] = {"subject=Secret"};
  host_.config().excludeSubjects = excluded;
  host_.config().excludeCount = 1;
  ASSERT_EQ(0, host_.Init());
  const ExclusionCase cases[] = {
      {"/LSUB off: never asked, stored", false, kMailStore, 0},
      {"/LSUB on: logged and skipped", true, kMailSkip, 1},
  };
  for (const ExclusionCase &c : cases) {
    SCOPED_TRACE(c.why);
    host_.ClearLog();
    gRunSettings.lsub = c.lsub ? 1 : 0;
    EXPECT_EQ(c.result, Parse("<gwt:subject>Secret plan</gwt:subject><gwt:message>"
                              "</gwt:message>"));
    EXPECT_EQ(c.logged, host_.CountLog("GWS subject=Secret plan, sender= <>"));
    com_Deallocate_All(record_, nullptr);
  }
}

}  // namespace
}  // namespace reader_test
