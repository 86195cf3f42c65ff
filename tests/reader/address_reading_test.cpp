// Address elements: recipients read from answers shaped like the server's,
// their kinds and reply states, the tidying of names and addresses, and the
// recipient limit.
#include <cstring>
#include <memory>
#include <string>

#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "reader/address_reading.h"
#include "folders/plugin_test_support.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/response_scanner.h"

namespace {

class AddressReadingTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    record_.reset(new HostMessage());
    memset(record_.get(), 0, sizeof(HostMessage));
  }
  void TearDown() override {
    com_Deallocate(record_.get(), nullptr);
    PluginTest::TearDown();
  }

  // Opens an answer holding one recipient element with `inner` and then a
  // marker element, and reads the element's opening line.
  FilePtr OpenRecipient(const std::string &inner) {
    FilePtr file = OpenReshaped(
        {"<gwt:recipients><gwt:recipient>" + inner + "</gwt:recipient><gwt:next>x</gwt:next>"});
    EXPECT_TRUE(file != nullptr);
    char line[1000];
    ReadResponseLine(line, sizeof line, file.get());  // <gwt:recipients>
    ReadResponseLine(line, sizeof line, file.get());  // <gwt:recipient>
    EXPECT_STREQ("<gwt:recipient>", line);
    return file;
  }

  static std::string NextLine(FILE *file) {
    char line[1000];
    if (!ReadResponseLine(line, sizeof line, file)) return "(end of file)";
    return line;
  }

  std::unique_ptr<HostMessage> record_;
};

TEST_F(AddressReadingTest, RecipientElementsGiveNameAddressKindAndStatus) {
  const std::string longName(300, 'n');
  const std::string email = "<gwt:email>a@x.org</gwt:email>";
  const struct {
    const char *why;
    std::string inner;
    std::string name;
    const char *address;
    int kind, status;
  } cases[] = {
      {"bc is a blind copy", email + "<gwt:distType>bc</gwt:distType>", "", "a@x.org", 12, 1},
      {"BCC is a blind copy", email + "<gwt:distType>BCC</gwt:distType>", "", "a@x.org", 12, 1},
      {"CC is a copy, in any case", email + "<gwt:distType>cc</gwt:distType>", "", "a@x.org", 11, 1},
      {"To is To", email + "<gwt:distType>To</gwt:distType>", "", "a@x.org", 3, 1},
      {"an empty type is To", email + "<gwt:distType></gwt:distType>", "", "a@x.org", 3, 1},
      {"no type is To", email, "", "a@x.org", 3, 1},
      {"the address is cleaned after its entities are decoded",
       "<gwt:email>&quot;Smith, John&quot; &lt;john@x.org&gt;,</gwt:email>", "", "john@x.org", 3, 1},
      {"a display name loses its address and quotes",
       "<gwt:displayName>&quot;Doe, Jane&quot; &lt;jane@x.org&gt;</gwt:displayName>", "Doe, Jane",
       "", 3, 1},
      {"an empty display name is not its own end tag",
       "<gwt:displayName></gwt:displayName>" + email, "", "a@x.org", 3, 1},
      {"a display name is cut to 250 characters",
       "<gwt:displayName>" + std::string(300, 'n') + "</gwt:displayName>", std::string(250, 'n'),
       "", 3, 1},
      {"declined, after other states",
       email + "<gwt:recipientStatus><gwt:delivered>2019-05-02T10:00:00Z</gwt:delivered>"
               "<gwt:declined comment=\"busy\">2019-05-02T11:00:00Z</gwt:declined>"
               "</gwt:recipientStatus>",
       "", "a@x.org", 3, 2},
      {"accepted", "<gwt:accepted>2019-05-02T11:00:00Z</gwt:accepted>", "", "", 3, 1},
      {"replied", "<gwt:replied>2019-05-02T11:00:00Z</gwt:replied>", "", "", 3, 3},
      // A name's text never reads as markup: not after a line break, not past
      // the line's bound (10000).
      {"a line break then another address and a blind-copy type in the name (cleaned away as an "
       "address in a name is)",
       "<gwt:displayName>Eve\n&lt;gwt:email&gt;\nevil@x.org\n&lt;gwt:distType&gt;\nBC"
       "</gwt:displayName>" + email,
       "Eve", "a@x.org", 3, 1},
      {"9999 x n then a reply's tag in the name: the reply state stays",
       "<gwt:displayName>" + std::string(9999, 'n') + "&lt;gwt:declined&gt;</gwt:displayName>"
       "<gwt:distType>BC</gwt:distType>" + email,
       std::string(250, 'n'), "a@x.org", 12, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    com_Deallocate(record_.get(), nullptr);
    FilePtr file = OpenRecipient(c.inner);
    ASSERT_TRUE(file != nullptr);
    AddRecipient(file.get(), record_.get());
    ASSERT_EQ(1, record_->recipCount);
    const HostRecipient *r = record_->recips[0];
    EXPECT_EQ(c.name, r->name);
    EXPECT_STREQ(c.address, r->address);
    EXPECT_EQ(c.kind, r->kind);
    EXPECT_EQ(c.status, r->status);
    EXPECT_EQ("<gwt:next>", NextLine(file.get())) << "the element is read up to its end tag";
  }
}

TEST_F(AddressReadingTest, OrganizerRuleChoosesTheDefaultReplyState) {
  const struct {
    const char *why;
    const char *organizer, *userEmail, *reply;
    int status;
  } cases[] = {
      {"the user organised it: attendees have not answered", "Alice@Example.com",
       "alice@example.com", "", 0},
      {"the user organised it, but the attendee declined", "alice@example.com", "alice@example.com",
       "<gwt:declined>2019-05-02T11:00:00Z</gwt:declined>", 2},
      {"someone else organised it", "bob@example.com", "alice@example.com", "", 1},
      {"no organizer known is not the user, even when the user's address is unknown", "", "", "",
       1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    CopyText(gSession.lastOrganizer, sizeof gSession.lastOrganizer, c.organizer);
    CopyText(gSession.userEmail, sizeof gSession.userEmail, c.userEmail);
    FilePtr file = OpenReshaped({std::string("<gwt:attendee><gwt:email>x@example.com</gwt:email>") +
                                 c.reply + "</gwt:attendee><gwt:next/>"});
    ASSERT_TRUE(file != nullptr);
    NextLine(file.get());
    char name[251] = "", address[251] = "", distType[251] = "left over";
    int status = -1;
    ParseAddress(file.get(), name, address, "attendee", distType, &status);
    EXPECT_EQ(c.status, status);
    EXPECT_STREQ("x@example.com", address);
    EXPECT_STREQ("", distType);
    EXPECT_EQ("<gwt:next/>", NextLine(file.get()));
  }
}

TEST_F(AddressReadingTest, RecipientListStopsAt5000) {
  const std::string element =
      "<gwt:recipient><gwt:email>r@example.com</gwt:email></gwt:recipient>";
  for (int i = 0; i < 4999; ++i) {
    ASSERT_NE(0, com_AllocRecip(record_.get()));
    ++record_->recipCount;
  }
  FilePtr file = OpenReshaped({element + element});
  ASSERT_TRUE(file != nullptr);
  NextLine(file.get());
  AddRecipient(file.get(), record_.get());
  ASSERT_EQ(5000, record_->recipCount);
  EXPECT_STREQ("r@example.com", record_->recips[4999]->address);

  EXPECT_EQ("<gwt:recipient>", NextLine(file.get()));
  AddRecipient(file.get(), record_.get());
  EXPECT_EQ(5000, record_->recipCount);
  EXPECT_EQ("<gwt:email>", NextLine(file.get())) << "the surplus element is left to the caller";
}

TEST(CleanTextTest, NamesAndAddressesAreTidiedInPlace) {
  const struct {
    const char *why;
    bool isAddress;
    const char *text, *expected;
  } cases[] = {
      {"address: a semicolon outside quotes ends it", true, "ann@x.org; ben@x.org", "ann@x.org"},
      {"address: text after the closing angle bracket goes", true, "<ann@x.org> (work)", "ann@x.org"},
      {"address: an unclosed angle bracket keeps the rest", true, "Ann <ann@x.org", "ann@x.org"},
      {"address: trailing blanks go, then the full stop", true, "ann@x.org. ", "ann@x.org"},
      {"address: only one trailing full stop goes", true, "ann@x.org..", "ann@x.org."},
      {"address: empty stays empty", true, "", ""},
      {"address: a lone comma becomes empty", true, ",", ""},
      {"address: a comma the open quote kept inside the angle brackets goes", true, "\"<ann,>", "ann"},
      {"address: an @ inside an open quote closes it, so the comma after still ends it", true,
       "\"ann@x.org, ben@x.org", "\"ann@x.org"},
      {"name: the address part and the blanks before it go", false, "Ann Lee  <ann@x.org>", "Ann Lee"},
      {"name: an address alone loses trailing blanks", false, "ann@x.org  ", "ann@x.org"},
      {"name: without @ nothing changes", false, "Ann Lee <sales> ", "Ann Lee <sales> "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    char text[251];
    CopyText(text, sizeof text, c.text);
    if (c.isAddress)
      CleanAddress(text);
    else
      CleanName(text);
    EXPECT_STREQ(c.expected, text);
  }
}

}  // namespace
