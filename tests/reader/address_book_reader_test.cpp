// The address-book reader: ParseContact over saved answers, ReadAddressBook
// against the simulator (what the host is handed and told per entry), and a
// contact and a group read, written into another book and read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "convert_support.h"
#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/address_book_reader.h"
#include "reader/folder_driver.h"
#include "writer/contact_writer.h"

namespace reader_test {
namespace {

using plugin_test::Answer;

// The record's non-empty contact fields in record order, "field=value|",
// then the members as "name <address> kind/status;".
std::string Summary(const HostMessage &r) {
  const struct {
    const char *name;
    const char *value;
  } fields[] = {
      {"firstName", r.firstName},         {"lastName", r.lastName},
      {"title", r.title},                 {"department", r.department},
      {"officePhone", r.officePhone},     {"homePhone", r.homePhone},
      {"faxPhone", r.faxPhone},           {"mobilePhone", r.mobilePhone},
      {"organization", r.organization},   {"officeStreet", r.officeStreet},
      {"officeStreet2", r.officeStreet2}, {"officeCity", r.officeCity},
      {"officeState", r.officeState},     {"officePostalCode", r.officePostalCode},
      {"officeCountry", r.officeCountry}, {"email", r.email},
      {"email2", r.email2},               {"email3", r.email3},
      {"pagerPhone", r.pagerPhone},       {"website", r.website},
      {"birthday", r.birthday},           {"homeStreet", r.homeStreet},
      {"homeStreet2", r.homeStreet2},     {"homeCity", r.homeCity},
      {"homeState", r.homeState},         {"homePostalCode", r.homePostalCode},
      {"homeCountry", r.homeCountry},     {"categories", r.categories},
      {"contactName", r.contactName},
  };
  std::string out;
  if (r.contactFlag != 0) out += "contactFlag=" + std::to_string(r.contactFlag) + "|";
  for (const auto &f : fields) {
    if (f.value[0] != '\0') out += std::string(f.name) + "=" + f.value + "|";
  }
  for (int i = 0; i < r.recipCount; ++i) {
    const HostRecipient *m = r.recips[i];
    out += std::string(m->name) + " <" + m->address + "> " + std::to_string(m->kind) + "/" +
           std::to_string(m->status) + ";";
  }
  return out;
}

std::string Entry(const char *type, const std::string &inner) {
  return Answer("getItemResponse", std::string("<gwm:item xsi:type=\"gwt:") + type +
                                       "\"><gwt:id>E1@1</gwt:id>" + inner + "</gwm:item>");
}

std::string Names(const char *name, const char *first, const char *last) {
  std::string xml = std::string("<gwt:name>") + name + "</gwt:name><gwt:fullName>";
  if (*first) xml += std::string("<gwt:firstName>") + first + "</gwt:firstName>";
  if (*last) xml += std::string("<gwt:lastName>") + last + "</gwt:lastName>";
  return xml + "</gwt:fullName>";
}

std::string Street(const char *type, const char *street, const char *extra = "") {
  return std::string("<gwt:addressList><gwt:address type=\"") + type +
         "\"><gwt:streetAddress>" + street + "</gwt:streetAddress>" + extra +
         "</gwt:address></gwt:addressList>";
}

using ParseContactTest = plugin_test::PluginTest;

TEST_F(ParseContactTest, SavedAnswersFillTheRecord) {
  struct Case {
    const char *why;
    std::string answer;
    int result;
    const char *summary;
  };
  const Case cases[] = {
      {"a person: names, organization with its uid, office data, the primary address first",
       Entry("Contact",
             Names("Ann Lee", "Ann", "Lee") +
                 "<gwt:emailList primary=\"ann@example.com\"><gwt:email>ann@example.com"
                 "</gwt:email><gwt:email>ann.lee@example.org</gwt:email></gwt:emailList>"
                 "<gwt:officeInfo><gwt:organization uid=\"ORG@1\">Acme &amp; Co</gwt:organization>"
                 "<gwt:department>Sales</gwt:department><gwt:title>Manager</gwt:title>"
                 "<gwt:website>https://acme.example</gwt:website></gwt:officeInfo>"),
       1,
       "firstName=Ann|lastName=Lee|title=Manager|department=Sales|organization=Acme & Co|"
       "email=ann@example.com|email2=ann.lee@example.org|website=https://acme.example|"
       "contactName=Ann Lee|"},
      {"an organization element without a uid is read as well",
       Entry("Contact", Names("Bo", "Bo", "") +
                            "<gwt:officeInfo><gwt:organization>Plain Org</gwt:organization>"
                            "</gwt:officeInfo>"),
       1, "firstName=Bo|organization=Plain Org|contactName=Bo|"},
      {"only a contact name: it becomes the last name",
       Entry("Contact", "<gwt:name>Zed</gwt:name>"), 1, "lastName=Zed|contactName=Zed|"},
      {"a contact name with @ and no address becomes the address too",
       Entry("Contact", "<gwt:name>zed@example.com</gwt:name>"), 1,
       "lastName=zed@example.com|email=zed@example.com|contactName=zed@example.com|"},
      {"the display name replaces the item's name; a fourth distinct address is dropped",
       Entry("Contact",
             "<gwt:name>Item name</gwt:name><gwt:fullName><gwt:displayName>Shown Name"
             "</gwt:displayName></gwt:fullName><gwt:emailList><gwt:email>a@x.org</gwt:email>"
             "<gwt:email>\"A, B\" &lt;b@x.org&gt;</gwt:email><gwt:email>c@x.org</gwt:email>"
             "<gwt:email>d@x.org</gwt:email></gwt:emailList>"),
       1,
       "lastName=Shown Name|email=a@x.org|email2=b@x.org|email3=c@x.org|"
       "contactName=Shown Name|"},
      {"birthday 1975-04-09 becomes 04/09/1975",
       Entry("Contact", Names("B", "B", "") +
                            "<gwt:personalInfo><gwt:birthday>1975-04-09</gwt:birthday>"
                            "</gwt:personalInfo>"),
       1, "firstName=B|birthday=04/09/1975|contactName=B|"},
      {"birthday 1899-04-09 is before 1901",
       Entry("Contact", Names("B", "B", "") + "<gwt:personalInfo><gwt:birthday>1899-04-09"
                                              "</gwt:birthday></gwt:personalInfo>"),
       1, "firstName=B|contactName=B|"},
      {"birthday 1975-13-09 has no month 13",
       Entry("Contact", Names("B", "B", "") + "<gwt:personalInfo><gwt:birthday>1975-13-09"
                                              "</gwt:birthday></gwt:personalInfo>"),
       1, "firstName=B|contactName=B|"},
      {"phones by type: a later word of the type wins, Other and Car are dropped",
       Entry("Contact",
             Names("P", "P", "") +
                 "<gwt:phoneList default=\"1\"><gwt:phone type=\"Mobile\">1</gwt:phone>"
                 "<gwt:phone type=\"Other\">2</gwt:phone><gwt:phone type=\"FaxOffice\">3"
                 "</gwt:phone><gwt:phone type=\"Home2\">4</gwt:phone><gwt:phone type=\"Pager\">5"
                 "</gwt:phone><gwt:phone type=\"Office\">6</gwt:phone><gwt:phone type=\"Car\">7"
                 "</gwt:phone></gwt:phoneList>"),
       1,
       "firstName=P|officePhone=6|homePhone=4|faxPhone=3|mobilePhone=1|pagerPhone=5|"
       "contactName=P|"},
      {"two street lines as the server sends them; a third line is dropped",
       Entry("Contact", Names("S", "S", "") +
                            Street("Office", "1 Main St&#xA;Floor 2&#xA;Desk 9",
                                   "<gwt:city>Provo</gwt:city><gwt:state>UT</gwt:state>"
                                   "<gwt:postalCode>84606</gwt:postalCode>"
                                   "<gwt:country>USA</gwt:country>")),
       1,
       "firstName=S|officeStreet=1 Main St|officeStreet2=Floor 2|officeCity=Provo|"
       "officeState=UT|officePostalCode=84606|officeCountry=USA|contactName=S|"},
      {"a line end escaped twice arrives as the text #xA;: split there, no & left",
       Entry("Contact", Names("S", "S", "") + Street("Home", "Elm 12&amp;#xA;Rear")), 1,
       "firstName=S|homeStreet=Elm 12|homeStreet2=Rear|contactName=S|"},
      {"CR LF between the lines leaves no carriage return",
       Entry("Contact", Names("S", "S", "") + Street("Home", "Elm 12&#xD;&#xA;Rear")), 1,
       "firstName=S|homeStreet=Elm 12|homeStreet2=Rear|contactName=S|"},
      {"lines broken by a raw CR LF (not escaped) come as one value and split the same",
       Entry("Contact", Names("S", "S", "") + Street("Home", "Elm 12\r\nRear")), 1,
       "firstName=S|homeStreet=Elm 12|homeStreet2=Rear|contactName=S|"},
      {"one street line leaves the second empty; a Home type on an Office line is home",
       Entry("Contact", Names("S", "S", "") + Street("Office Home", "Only line")), 1,
       "firstName=S|homeStreet=Only line|contactName=S|"},
      {"an address of type Other is read past, not kept",
       Entry("Contact", Names("S", "S", "") + Street("Other", "Hidden", "<gwt:city>X</gwt:city>")),
       1, "firstName=S|contactName=S|"},
      {"a group of three members: kind 3, status 0, titled by its name",
       Entry("Group",
             "<gwt:name>Team</gwt:name><gwt:email>team@example.com</gwt:email><gwt:members>"
             "<gwt:member><gwt:id>M1</gwt:id><gwt:name>Ann Lee</gwt:name>"
             "<gwt:email>ann@example.com</gwt:email><gwt:distType>TO</gwt:distType></gwt:member>"
             "<gwt:member><gwt:id>M2</gwt:id><gwt:name>Bo</gwt:name><gwt:distType>CC"
             "</gwt:distType></gwt:member>"
             "<gwt:member xsi:type=\"gwt:GroupMember\"><gwt:name>Cy</gwt:name>"
             "<gwt:email>cy@example.com</gwt:email><gwt:distType>BC</gwt:distType></gwt:member>"
             "</gwt:members>"),
       1,
       "contactFlag=1|lastName=Team|title=Team|email=team@example.com|contactName=Team|"
       "Ann Lee <ann@example.com> 3/0;Bo <> 3/0;Cy <cy@example.com> 3/0;"},
      {"an entry with none of the names, title or address is no contact",
       Entry("Contact", "<gwt:phoneList><gwt:phone type=\"Office\">1</gwt:phone></gwt:phoneList>"),
       0, "officePhone=1|"},
      {"an empty answer is no contact", Answer("getItemResponse", ""), 0, ""},
  };
  Connect();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    HostMessage *record = new HostMessage();
    EXPECT_EQ(c.result != 0, ParseContact(record, Reshaped(c.answer, "abookdata.tmp").c_str()) != 0);
    EXPECT_EQ(c.summary, Summary(*record));
    EXPECT_EQ(1, record->unread);
    com_Deallocate(record, nullptr);
    delete record;
  }
  HostMessage missing = {};
  EXPECT_EQ(0, ParseContact(&missing, WorkFile("no_such.xml").c_str()));
}

// ---- ReadAddressBook through the simulator ----

// What the host kept of each entry handed to SaveItem.
struct BookHost {
  std::vector<std::string> stored;  // Summary() plus itemKind and bookPath
  std::vector<HostMessage *> copies;  // whole records, members included
  std::vector<int> statuses;
  std::vector<int> saveCodes;  // answers in turn, then 0
  bool keepCopies = false;
} gBook;

int MV_CALL SaveEntry(HostMessage *record, const char *, void *, int) {
  gBook.stored.push_back(Summary(*record) + "kind=" + std::to_string(record->itemKind) +
                         "|bookPath=" + record->bookPath);
  if (gBook.keepCopies) {
    HostMessage *copy = new HostMessage(*record);
    // The lists are the reader's, freed after this call: the copy gets its own.
    memset(copy->recips, 0, sizeof copy->recips);
    memset(copy->parts, 0, sizeof copy->parts);
    copy->recipCount = 0;
    copy->partCount = 0;
    for (int i = 0; i < record->recipCount; ++i) {
      const HostRecipient *m = record->recips[i];
      AddMemberRecipient(copy, m->kind, m->name, m->address, m->status);
    }
    gBook.copies.push_back(copy);
  }
  size_t call = gBook.stored.size() - 1;
  return call < gBook.saveCodes.size() ? gBook.saveCodes[call] : 0;
}

int MV_CALL NotifyEntry(HostMessage *, const char *, int status, int *, int *, int *) {
  gBook.statuses.push_back(status);
  return 0;
}

const char kBook[] =
    "<book name=\"People\" id=\"BOOK.P@14\">"
    "<item kind=\"Contact\" id=\"ANN@1\" subject=\"Ann Lee\"><name display=\"Ann Lee\" "
    "first=\"Ann\" last=\"Lee\"/><email address=\"ann@example.com\" primary=\"1\"/>"
    "<phone type=\"Mobile\" number=\"+1 555 0101\" default=\"1\"/>"
    "<address type=\"Office\" city=\"Provo\"><street>1 Main St</street><street>Floor 2</street>"
    "</address><personal birthday=\"1980-12-24\"/></item>"
    "<item kind=\"Contact\" id=\"NONE@1\"/>"
    "<item kind=\"Contact\" id=\"JUE@1\" subject=\"Jürgen Müller\"><name first=\"Jürgen\" "
    "last=\"Müller\"/><email address=\"j@example.de\" primary=\"1\"/></item>"
    "<item kind=\"Group\" id=\"TEAM@1\" subject=\"Team\"><member ref=\"ANN@1\"/>"
    "<member ref=\"JUE@1\" distType=\"CC\"/></item>"
    "</book><book name=\"Copy\" id=\"BOOK.C@14\"/>";

const char kAnn[] =
    "firstName=Ann|lastName=Lee|mobilePhone=+1 555 0101|officeStreet=1 Main St|"
    "officeStreet2=Floor 2|officeCity=Provo|email=ann@example.com|birthday=12/24/1980|"
    "categories=People|contactName=Ann Lee|kind=1|bookPath=People";
const char kJuergen[] =
    "firstName=Jürgen|lastName=Müller|email=j@example.de|categories=People|"
    "contactName=Jürgen Müller|kind=1|bookPath=People";
const char kTeam[] =
    "contactFlag=1|lastName=Team|title=Team|categories=People|contactName=Team|"
    "Ann Lee <ann@example.com> 3/0;Jürgen Müller <j@example.de> 3/0;kind=1|bookPath=People";

class AddressBookReaderTest : public ConvertTest {
 protected:
  void SetUp() override {
    ConvertTest::SetUp();
    FreeCopies();
  }
  void TearDown() override {
    FreeCopies();
    ConvertTest::TearDown();
  }
  static void FreeCopies() {
    for (HostMessage *copy : gBook.copies) {
      com_Deallocate(copy, nullptr);
      delete copy;
    }
    gBook = BookHost();
  }
  int ReadBook(const std::string &name, int itemLimit = 0) {
    InitRead(record_, nullptr, nullptr, nullptr, nullptr, itemLimit);
    return ConvertFolder(record_, &SaveEntry, FolderIndex(name), "", nullptr, nullptr, nullptr, 0,
                         nullptr, nullptr, nullptr, &storedCount_, &dataSize_, &NotifyEntry);
  }
};

TEST_F(AddressBookReaderTest, EntriesReachTheHostAsTheServerAnswers) {
  struct Case {
    const char *why;
    int32_t RunSettings::*flag;  // a switch set for the case, or null
    int itemLimit;
    int faultedEntry;  // 1-based getItemRequest answered with `fault`; 0: none
    gwsim::FaultKind fault;
    int faultStatus;
    std::vector<int> saveCodes;
    std::vector<std::string> stored;
    std::vector<int> statuses;
    int storedCount;
    std::vector<std::string> itemErrors;
    std::vector<std::string> logs;  // lines the log must hold
  };
  const Case cases[] = {
      {"every entry in order; the one without names is skipped",
       &RunSettings::lsub, 0, 0, gwsim::FaultKind::kStatus, 0, {}, {kAnn, kJuergen, kTeam},
       {0, 6, 0, 0}, 3, {},
       {"GroupWise contact name: Lee, Ann, email=ann@example.com",
        "GroupWise contact name: Team, email="}},
      {"an HTTP failure: reported, status 6, nothing handed over, the others go on",
       nullptr, 0, 3, gwsim::FaultKind::kStatus, 500, {}, {kAnn, kTeam}, {0, 6, 6, 0}, 2,
       {"JUE@1\t\tgetItemRequest failed, httpResponse=500"},
       {"MV Warning: failed to retrieve abook entry 2, httpResponse=500"}},
      {"SaveItem 500 and 1234 are failures, 1235 does not end the book", nullptr, 0, 0,
       gwsim::FaultKind::kStatus, 0, {500, 1235, 1234}, {kAnn, kJuergen, kTeam}, {6, 6, 6, 6}, 0,
       {}, {}},
      {"the item limit ends the book once that many are stored", nullptr, 2, 0,
       gwsim::FaultKind::kStatus, 0, {}, {kAnn, kJuergen}, {0, 6, 0}, 2, {}, {}},
      {"/D114 lists the entries and reads none", &RunSettings::d114, 0, 0, gwsim::FaultKind::kStatus, 0, {},
       {}, {}, 0, {}, {"MV Warning: messages will not be converted, only folder structure"}},
  };
  ASSERT_NO_FATAL_FAILURE(Connect(kBook));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    server_.ClearFaults();
    host_.ClearLog();
    gBook = BookHost();
    gBook.saveCodes = c.saveCodes;
    itemErrors_.clear();
    if (c.flag != nullptr) gRunSettings.*c.flag = 1;
    // Each case reads the book as if for the first time.
    CopyText(record_->hostFolder, sizeof record_->hostFolder, c.why);
    if (c.faultedEntry > 0) {
      gwsim::Fault fault;
      fault.kind = c.fault;
      fault.status = c.faultStatus;
      fault.requestName = "getItemRequest";
      fault.nameOrdinal = static_cast<int>(Sent("getItemRequest").size()) + c.faultedEntry;
      server_.AddFault(fault);
    }
    const int firstCopy = gItemCopyCounter;
    EXPECT_EQ(0, ReadBook("People", c.itemLimit));
    if (c.flag != nullptr) gRunSettings.*c.flag = 0;
    EXPECT_EQ(c.stored, gBook.stored);
    EXPECT_EQ(c.statuses, gBook.statuses);
    EXPECT_EQ(c.storedCount, storedCount_);
    EXPECT_EQ(c.itemErrors, itemErrors_);
    for (const std::string &line : c.logs) EXPECT_TRUE(host_.HasLog(line)) << line;
    EXPECT_EQ(4, record_->folderItemCount);
    EXPECT_EQ(firstCopy, gItemCopyCounter);  // no debug copies without the switch
  }
  // Entries are asked for by id alone, without a view.
  EXPECT_EQ("<m:getItemRequest>\n<id>ANN@1</id>\n</m:getItemRequest>\n",
            SentBody("getItemRequest"));
}

TEST_F(AddressBookReaderTest, ABookTheServerWillNotListIsReportedAsAFailedFolder) {
  ASSERT_NO_FATAL_FAILURE(Connect(kBook));
  FaultNext(1, 500);  // the book's cursor
  EXPECT_EQ(0, Convert("People"));
  EXPECT_TRUE(gBook.statuses.empty());
  EXPECT_EQ((std::vector<std::string>{"People\tthe item list could not be read (0 of 4 items listed)"}),
            folderErrors_);
}

TEST_F(AddressBookReaderTest, ContactAndGroupSurviveAWriteAndASecondRead) {
  ASSERT_NO_FATAL_FAILURE(Connect(kBook, {"/GWCF", "Copy"}));
  gBook.keepCopies = true;
  ASSERT_EQ(0, ReadBook("People"));
  ASSERT_EQ(3u, gBook.copies.size());
  const std::vector<std::string> first = gBook.stored;

  EXPECT_EQ(0, InitWrite(record_, "Contacts", nullptr, kFolderClassAddressBook));
  EXPECT_STREQ("BOOK.C@14", gSession.targetContainer);
  for (HostMessage *copy : gBook.copies) {
    EXPECT_EQ(0, WriteMsg(copy, nullptr, host_.workDir().c_str(), nullptr));
  }
  EXPECT_TRUE(itemErrors_.empty()) << itemErrors_.front();

  gBook.stored.clear();
  gBook.statuses.clear();
  gBook.keepCopies = false;
  ASSERT_EQ(0, ReadBook("Copy"));
  // The copy holds the three entries and a contact of each group member.
  std::vector<std::string> expected;
  for (const std::string &s : first) {
    std::string copied = s;
    for (const char *from : {"categories=People", "bookPath=People"}) {
      std::string to = std::string(from).replace(std::string(from).find("People"), 6, "Copy");
      copied.replace(copied.find(from), strlen(from), to);
    }
    expected.push_back(copied);
  }
  expected.push_back(
      "lastName=Ann Lee|email=ann@example.com|categories=Copy|contactName=Ann Lee|kind=1|"
      "bookPath=Copy");
  expected.push_back(
      "lastName=Jürgen Müller|email=j@example.de|categories=Copy|contactName=Jürgen Müller|"
      "kind=1|bookPath=Copy");
  std::vector<std::string> got = gBook.stored;
  std::sort(got.begin(), got.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, got);
}

}  // namespace
}  // namespace reader_test
