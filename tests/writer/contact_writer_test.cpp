// The contact writer: contact, group and member requests byte for byte
// against the golden files, and failed writes reported to the host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/session_state.h"
#include "writer/contact_writer.h"
#include "writer_test_support.h"

namespace writer_test {
namespace {

class ContactWriterTest : public WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(ConnectMailbox());
    CopyText(gSession.targetContainer, sizeof gSession.targetContainer, "BOOK@14");
  }
  static RecordPtr Contact() {
    RecordPtr record = NewRecord();
    record->itemKind = kItemContact;
    return record;
  }
  static RecordPtr Group(const char *title) {
    RecordPtr record = Contact();
    record->contactFlag = 1;
    CopyText(record->title, sizeof record->title, title);
    return record;
  }
};

#define SET(field, text) CopyText(r->field, sizeof r->field, text)

TEST_F(ContactWriterTest, ContactRequestsMatchTheGoldenFiles) {
  struct Case {
    const char *why;
    const char *golden;
    void (*fill)(HostMessage *r);
  };
  const Case cases[] = {
      {"no names and no organization: No Name, empty name elements, an empty officeInfo",
       "contact_no_name.txt", [](HostMessage *) {}},
      {"only a first name is also the display name; 12/24/1980 is sent as 1980-12-24",
       "contact_first_name_only.txt",
       [](HostMessage *r) {
         SET(firstName, "Ann");
         SET(email, "ann@example.com");
         SET(birthday, "12/24/1980");
       }},
      {"a birthday of 1776 is left out, the spouse alone makes personalInfo; the organization "
       "names a contact without names",
       "contact_old_birthday.txt",
       [](HostMessage *r) {
         SET(organization, "Acme");
         SET(birthday, "7/4/1776");
         SET(spouse, "Sam");
       }},
      {"a birthday without a year is left out and no personalInfo is written",
       "contact_partial_birthday.txt",
       [](HostMessage *r) {
         SET(lastName, "Lee");
         SET(birthday, "7/4");
       }},
      {"only a mobile phone: it is the default and the list is written",
       "contact_mobile_only.txt",
       [](HostMessage *r) {
         SET(firstName, "Dave");
         SET(lastName, "Dorsey");
         SET(mobilePhone, "+1 555 0199");
       }},
      {"every field: escaped names, three addresses, every phone, two office street lines "
       "joined by the line-end reference, a home city without a street writes no home address",
       "contact_full.txt",
       [](HostMessage *r) {
         SET(firstName, "Pat & Co");
         SET(lastName, "O'Neil <Jr>");
         SET(email, "pat@example.com");
         SET(email2, "pat.o@example.org");
         SET(email3, "p&o@example.net");
         SET(officePhone, "+1 555 0100");
         SET(homePhone, "+1 555 0200");
         SET(otherPhone, "+1 555 0300");
         SET(mobilePhone, "+1 555 0400");
         SET(faxPhone, "+1 555 0500");
         SET(pagerPhone, "+1 555 0600");
         SET(officeStreet, "1 Main St & Co");
         SET(officeStreet2, "Floor <2>");
         SET(officeCity, "Provo");
         SET(officeState, "UT");
         SET(officePostalCode, "84606");
         SET(officeCountry, "USA");
         SET(homeCity, "Orem");
         SET(organization, "Größenwahn & Söhne");
         SET(department, "Sales");
         SET(title, "Manager");
         SET(website, "https://example.com/?a=1&b=2");
         SET(manager, "Bo");
         SET(assistant, "Cy");
         SET(birthday, "04/09/1975");
         SET(children, "Kim");
       }},
  };
  size_t sent = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    itemErrors_.clear();
    RecordPtr record = Contact();
    c.fill(record.get());
    AnswerNext({{200, CreateAnswer("C@1")}});
    ASSERT_NO_FATAL_FAILURE(
        ExpectGoldenWrite(record.get(), c.golden, sent++, "soapreq2.tmp", "crcontact.xml"));
  }
}

TEST_F(ContactWriterTest, GroupListsTheMembersThatCouldBeCreated) {
  RecordPtr record = Group("Team & Co");
  AddRecipient(record.get(), "Ann Lee", "ann@example.com", kRecipTo);
  AddRecipient(record.get(), "Bo", "bo@example.com", kRecipCc);
  AddRecipient(record.get(), "Cy <Boss>", "", kRecipBcc);
  AddRecipient(record.get(), "Di", "di@example.com", kRecipCc);
  AnswerNext({{200, CreateAnswer("M1@1")},
              {200, CreateAnswer("", 59905)},
              {200, CreateAnswer("", 59905)},  // refused, it is asked for twice more
              {200, CreateAnswer("", 59905)},
              {200, CreateAnswer("M3@1")},
              {200, CreateAnswer("M4@1")},
              {200, CreateAnswer("G@1")}});

  EXPECT_EQ(0, WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr));

  const char *goldens[] = {"member_with_address.txt", "member_failing.txt",         "member_failing.txt",
                           "member_failing.txt",      "member_without_address.txt", "member_cc.txt",
                           "group.txt"};
  ASSERT_EQ(7u, Sent("createItemRequest").size());
  for (size_t i = 0; i < 7; ++i) {
    SCOPED_TRACE(goldens[i]);
    std::string golden = plugin_test::TestData(std::string("writer/") + goldens[i]);
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(golden, SentBody("createItemRequest", i));
  }
  // The group is written, so it is not failed: the member left out is told.
  EXPECT_TRUE(itemErrors_.empty());
  EXPECT_EQ((std::vector<std::string>{"133: Bo\tHTTP response=200, code=59905"}), notices_);
  EXPECT_TRUE(host_.HasLog("MV Warning: member Bo left out of group Team & Co"));
  EXPECT_FALSE(testing_support::FileExists(host_.workDir() + "crcontact.xml"));
}

TEST_F(ContactWriterTest, FailedWritesAreReportedToTheHost) {
  struct Case {
    const char *why;
    bool group;
    std::vector<Reply> replies;
    std::vector<std::string> failures;
    std::vector<std::string> notices;  // members left out: the group is not failed
    const char *log;
    int sent;
    bool filesKept;
    bool memberListed;
  };
  const Case cases[] = {
      {"a status code with HTTP 200 is a failure", false, {{200, CreateAnswer("", 58652)}},
       {"\tAnn Lee\tHTTP response=200, code=58652"}, {},
       "MV Warning: failed to create contact, name=Ann Lee, HTTP response=200", 1, true, false},
      {"an HTTP failure", false, {{404, ""}}, {"\tAnn Lee\tHTTP response=404, code=0"}, {},
       "MV Warning: failed to create contact, name=Ann Lee, HTTP response=404", 1, true, false},
      {"a member answer without an id leaves the member out; the group is still sent", true,
       {{200, CreateAnswer("")}, {200, CreateAnswer("G@1")}},
       {}, {"133: Ann Lee\tthe answer carried no id"},
       "MV Warning: failed to create member, name=Ann Lee, the answer carried no id", 2, false, false},
      {"a member refused once is asked for again and listed", true,
       {{500, ""}, {200, CreateAnswer("M@1")}, {200, CreateAnswer("G@1")}}, {}, {},
       "MV Info: creating member Ann Lee again", 3, false, true},
      {"a member refused with HTTP 500 three times, then the group refused by code", true,
       {{500, ""}, {500, ""}, {500, ""}, {200, CreateAnswer("", 59906)}},
       {"\tTeam\tHTTP response=200, code=59906"}, {"133: Ann Lee\tHTTP response=500, code=0"},
       "MV Warning: failed to create member, name=Ann Lee, HTTP response=500", 4, true, false},
  };
  size_t sent = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    itemErrors_.clear();
    notices_.clear();
    host_.ClearLog();
    remove((host_.workDir() + "soapreq2.tmp").c_str());
    RecordPtr record = Contact();
    CopyText(record->firstName, sizeof record->firstName, "Ann");
    CopyText(record->lastName, sizeof record->lastName, "Lee");
    if (c.group) {
      record->contactFlag = 1;
      CopyText(record->title, sizeof record->title, "Team");
      AddRecipient(record.get(), "Ann Lee", "ann@example.com", kRecipTo);
    }
    AnswerNext(c.replies);
    EXPECT_EQ(0, WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr));
    EXPECT_EQ(c.failures, itemErrors_);
    EXPECT_EQ(c.notices, notices_);
    EXPECT_TRUE(host_.HasLog(c.log)) << host_.LogText();
    sent += static_cast<size_t>(c.sent);
    EXPECT_EQ(sent, Sent("createItemRequest").size());
    EXPECT_EQ(c.filesKept, testing_support::FileExists(host_.workDir() + "soapreq2.tmp"));
    if (c.group) {
      EXPECT_EQ(c.memberListed, SentBody("createItemRequest", sent - 1).find("<member>") != std::string::npos);
    }
  }
}

// A member whose create broke off after it went out cannot be asked about
// on a later run: the group is written now. Left out, the member was lost
// for good; so it is created again, and the host told that its contact may
// now be there twice. The group item itself is not in doubt.
TEST_F(ContactWriterTest, AMemberWhoseCreateBrokeOffIsCreatedAgainAndListed) {
  RecordPtr record = Group("Team");
  AddRecipient(record.get(), "Ann Lee", "ann@example.com", kRecipTo);
  AddRecipient(record.get(), "Bo", "bo@example.com", kRecipCc);
  gwsim::Fault closed;  // the status line, then nothing
  closed.kind = gwsim::FaultKind::kCloseAfterStatus;
  closed.requestNumber = static_cast<int>(server_.RequestCount()) + 2;
  closed.times = 1;
  server_.AddFault(closed);
  FaultNext(1, 200, CreateAnswer("M1@1"));
  FaultNext(3, 200, CreateAnswer("M2@1"));
  FaultNext(4, 200, CreateAnswer("G@1"));

  EXPECT_EQ(0, WriteMsg(record.get(), nullptr, PartDir().c_str(), nullptr));

  const std::vector<gwsim::RecordedRequest> creates = Sent("createItemRequest");
  ASSERT_EQ(4u, creates.size());
  EXPECT_EQ(SentBody("createItemRequest", 1), SentBody("createItemRequest", 2)) << "Bo asked for again";
  const std::string group = SentBody("createItemRequest", 3);
  EXPECT_NE(group.find("<id>M1@1</id>"), std::string::npos) << group;
  EXPECT_NE(group.find("<id>M2@1</id>\n<distType>CC</distType>"), std::string::npos) << group;
  EXPECT_TRUE(itemErrors_.empty());
  ASSERT_EQ(1u, notices_.size());
  EXPECT_EQ(0u, notices_[0].find("135: Bo\t")) << notices_[0];
  EXPECT_NE(notices_[0].find("may have acted on it"), std::string::npos) << notices_[0];
  EXPECT_TRUE(host_.HasLog("MV Warning: the create of member Bo broke off after it went out; creating it again"))
      << host_.LogText();
}

TEST(WriteXmlElementTest, OneElementWhenThereIsAValue) {
  const struct {
    const char *why;
    const char *value;
    const char *type;
    const char *written;
  } cases[] = {
      {"an empty value writes nothing", "", "Office", ""},
      {"with a type the value stands on its own line", "+1 555", "Office",
       "<phone type=\"Office\">\n+1 555\n</phone>\n"},
      {"without a type on one line, escaped", "a<b & \"c\"", "",
       "<phone>a&lt;b &amp; &quot;c&quot;</phone>\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    char *buffer = nullptr;
    size_t size = 0;
    FILE *memory = open_memstream(&buffer, &size);
    ASSERT_NE(nullptr, memory);
    WriteXmlElement(memory, "phone", c.value, c.type);
    fclose(memory);
    EXPECT_EQ(std::string(c.written), std::string(buffer, size));
    free(buffer);
  }
  // At most 2000 bytes of a value, never cut inside a character.
  std::string longValue = "x";
  for (int i = 0; i < 1000; ++i) longValue += "\xC3\xBC";  // ü: 2001 bytes in all
  char *buffer = nullptr;
  size_t size = 0;
  FILE *memory = open_memstream(&buffer, &size);
  WriteXmlElement(memory, "n", longValue.c_str(), "");
  fclose(memory);
  EXPECT_EQ("<n>" + longValue.substr(0, 1999) + "</n>\n", std::string(buffer, size));
  free(buffer);
}

#undef SET

}  // namespace
}  // namespace writer_test
