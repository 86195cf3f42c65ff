// The address-book list: which books become folder records, the contact
// folder for writing, and the entry counts asked of the server.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "folders/address_books.h"
#include "folders/folder_table.h"
#include "gwsim/mailbox.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "plugin_test_support.h"
#include "transport/soap_call.h"

namespace {

using plugin_test::Answer;
using plugin_test::RequestsNamed;

struct Book {
  const char *name;
  const char *description;
  const char *personal;  // the <gwt:isPersonal> text
  const char *frequent;  // the <gwt:isFrequentContacts> text
};

std::string BookList(const std::vector<Book> &books) {
  std::string inner = "<gwm:books>";
  int n = 0;
  for (const Book &b : books) {
    inner += "<gwt:book><gwt:id>BOOK." + std::to_string(++n) + "@7</gwt:id><gwt:name>" +
             b.name + "</gwt:name><gwt:version>1</gwt:version><gwt:description>" +
             b.description + "</gwt:description><gwt:isPersonal>" + b.personal +
             "</gwt:isPersonal><gwt:isFrequentContacts>" + b.frequent +
             "</gwt:isFrequentContacts><gwt:count>40</gwt:count></gwt:book>";
  }
  return Answer("getAddressBookListResponse", inner + "</gwm:books>");
}

class AddressBookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_test::ResetPluginState();
    ASSERT_EQ(0, host_.Init());
    plugin_test::UseHostDirectories(host_);
    ASSERT_TRUE(server_.Start()) << server_.LastError();
    {
      gwsim::Mailbox &mailbox = server_.mailbox();
      auto lock = mailbox.Lock();
      mailbox.Clear();
      gwsim::User alice;
      alice.name = "alice";
      alice.password = "secret";
      mailbox.AddUser(alice);
    }
    ASSERT_TRUE(plugin_test::SimulatorLogin(server_, "alice", "secret"));
    listPath_ = host_.workDir() + "ablist.xml";
  }
  void TearDown() override { plugin_test::ResetPluginState(); }

  std::vector<std::string> BookNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < gFolderTable.count; ++i) names.push_back(gFolderTable.records[i]->name);
    return names;
  }

  testing_support::TestHost host_;
  gwsim::Server server_;
  std::string listPath_;
};

TEST_F(AddressBookTest, BooksTakenByPersonalFlagNoticesAndAllBooks) {
  const char *kEnglish = "you have been granted shared access to the book Team";
  const char *kGerman = "IHNEN WURDE DER ZUGRIFF AUF MEIN ADRESSBUCH Team gegeben";
  const char *kCzech = "Můžete sdílet můj adresář s názvem Team";
  struct Case {
    const char *why;
    std::vector<Book> books;
    int allBooks, d70;
    const char *gwcfBefore;
    std::vector<std::string> taken;
    const char *gwcfAfter;
  };
  const std::vector<Case> cases = {
      {"only a leading 1 is personal",
       {{"System", "", "0", "0"}, {"Mine", "", "1", "0"}, {"Worded", "", "true", "0"}},
       0, 0, "", {"Mine"}, "Mine"},
      {"the all-books flag takes every book",
       {{"System", "", "0", "0"}, {"Mine", "", "1", "0"}, {"Worded", "", "true", "0"}},
       1, 0, "", {"System", "Mine", "Worded"}, "Mine"},
      {"odd /D70 skips shared notices in any case and language",
       {{"En", kEnglish, "1", "0"}, {"De", kGerman, "1", "0"}, {"Cz", kCzech, "1", "0"},
        {"Later", "Note: You have been granted shared access", "1", "0"}},
       1, 3, "", {"Later"}, "Later"},
      {"even /D70 keeps them",
       {{"En", kEnglish, "1", "0"}, {"Cz", kCzech, "1", "0"}},
       0, 2, "", {"En", "Cz"}, "En"},
      {"the contact folder is the first personal book that is not the frequent one",
       {{"Frequent Contacts", "", "1", "1"}, {"Friends", "", "1", "0"}, {"Work", "", "1", "0"}},
       0, 0, "", {"Frequent Contacts", "Friends", "Work"}, "Friends"},
      {"a contact folder given stays",
       {{"Friends", "", "1", "0"}}, 0, 0, "Given", {"Friends"}, "Given"},
  };
  gwsim::Fault twoEntries;
  twoEntries.kind = gwsim::FaultKind::kFixedAnswer;
  twoEntries.requestName = "getItemsRequest";
  twoEntries.times = 0;
  twoEntries.body = Answer("getItemsResponse",
                           "<gwm:items><gwt:item><gwt:id>E1</gwt:id></gwt:item>"
                           "<gwt:item><gwt:id>E2</gwt:id></gwt:item></gwm:items>");
  server_.AddFault(twoEntries);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    FreeFolderTable();
    gRunSettings.d70 = c.d70;
    CopyText(gRunSettings.gwcf, sizeof gRunSettings.gwcf, c.gwcfBefore);
    plugin_test::ReshapeToFile(BookList(c.books), listPath_);
    EXPECT_EQ(1, ParseGWABList(listPath_.c_str(), c.allBooks));
    EXPECT_EQ(c.taken, BookNames());
    EXPECT_STREQ(c.gwcfAfter, gRunSettings.gwcf);
    for (int i = 0; i < gFolderTable.count; ++i) {
      const FolderRecord *r = gFolderTable.records[i];
      EXPECT_EQ(kFolderClassAddressBook, r->folderClass);
      EXPECT_EQ(2, r->itemCount) << r->name;  // counted, not the list's 40
      EXPECT_STREQ("", r->parentId);
      EXPECT_EQ(0, r->countGiven);
    }
  }
}

TEST_F(AddressBookTest, EntriesAreCountedPerBookWithDebugCopies) {
  {
    gwsim::Mailbox &mailbox = server_.mailbox();
    auto lock = mailbox.Lock();
    for (const char *id : {"AB.1@1", "AB.2@1"}) {
      gwsim::AddressBook book;
      book.owner = "alice";
      book.id = id;
      book.name = std::string("Book ") + id;
      book.isPersonal = true;
      mailbox.AddAddressBook(book);
    }
    for (int i = 0; i < 3; ++i) {
      gwsim::Item contact;
      contact.kind = "Contact";
      contact.container = "AB.1@1";
      contact.subject = "Contact " + std::to_string(i);
      mailbox.AddItem(contact);
    }
  }
  gRunSettings.mailDebug = 1;
  gRunSettings.debug = 1;
  mkdir((host_.dataDir() + "debug").c_str(), 0755);
  mkdir((host_.dataDir() + "debug/tester").c_str(), 0755);
  SoapCall("<m:getAddressBookListRequest />\n", "getAddressBookListRequest", listPath_.c_str());
  ASSERT_EQ(200, gHTTPResponse);
  ASSERT_EQ(1, ParseGWABList(listPath_.c_str(), 0));
  ASSERT_EQ(2, gFolderTable.count);
  EXPECT_EQ(3, gFolderTable.records[0]->itemCount);
  EXPECT_EQ(0, gFolderTable.records[1]->itemCount);
  std::vector<gwsim::RecordedRequest> gets = RequestsNamed(server_, "getItemsRequest");
  ASSERT_EQ(2u, gets.size());
  EXPECT_EQ(plugin_test::TestData("logon/get_items.golden"), plugin_test::RequestBody(gets[0].body));
  EXPECT_TRUE(testing_support::FileExists(host_.dataDir() + "debug/tester/abdata0.xml"));
  EXPECT_TRUE(testing_support::FileExists(host_.dataDir() + "debug/tester/abdata1.xml"));
  EXPECT_FALSE(testing_support::FileExists(host_.dataDir() + "debug/tester/abdata2.xml"));
  EXPECT_EQ(2, host_.CountLog("debug: copied AB getItems response to"));
  EXPECT_FALSE(testing_support::FileExists(host_.workDir() + "abdata.xml"));
}

TEST_F(AddressBookTest, FailedCountKeepsTheListCount) {
  gwsim::Fault fault;
  fault.kind = gwsim::FaultKind::kStatus;
  fault.status = 500;
  fault.requestNumber = static_cast<int>(server_.RequestCount()) + 2;  // the second book
  server_.AddFault(fault);
  gwsim::Fault empty;
  empty.kind = gwsim::FaultKind::kFixedAnswer;
  empty.requestNumber = static_cast<int>(server_.RequestCount()) + 1;
  empty.body = Answer("getItemsResponse", "<gwm:items/>");
  server_.AddFault(empty);
  plugin_test::ReshapeToFile(BookList({{"One", "", "1", "0"}, {"Two", "", "1", "0"}}), listPath_);
  ASSERT_EQ(1, ParseGWABList(listPath_.c_str(), 0));
  ASSERT_EQ(2, gFolderTable.count);
  EXPECT_EQ(0, gFolderTable.records[0]->itemCount);
  EXPECT_EQ(40, gFolderTable.records[1]->itemCount);
  EXPECT_EQ(1, host_.CountLog("MV Warning: failed to retrieve ab entries"));
}

TEST_F(AddressBookTest, MissingListIsReportedAndCountsCountOnlyIdLines) {
  std::string missing = host_.workDir() + "absent.xml";
  EXPECT_EQ(0, ParseGWABList(missing.c_str(), 1));
  EXPECT_TRUE(host_.HasLog("MV Info: unable to open address book list " + missing));
  EXPECT_EQ(0, CountResponseIds(missing.c_str()));

  std::string ids = host_.workDir() + "ids.xml";
  testing_support::WriteFileBytes(ids, "<gwt:id>\r\nA\r\n<GWT:ID>\r\nB\r\n<gwt:idx>\r\n"
                                       "x<gwt:id>\r\n<gwt:item>\r\n");
  EXPECT_EQ(2, CountResponseIds(ids.c_str()));  // case ignored; only lines that begin with it
}

}  // namespace
