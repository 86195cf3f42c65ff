// The address-book list: which books become folder records, the contact
// folder for writing, and the entry counts asked of the server.
#include <string>
#include <vector>

#include "folders/address_books.h"
#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "plugin_test_support.h"

namespace {

using plugin_test::Answer;

struct Book {
  const char *name, *description;
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

using AddressBookTest = plugin_test::PluginTest;

TEST_F(AddressBookTest, BooksTakenByPersonalFlagNoticesAndAllBooks) {
  const char *kEnglish = "you have been granted shared access to the book Team";
  const char *kGerman = "IHNEN WURDE DER ZUGRIFF AUF MEIN ADRESSBUCH Team gegeben";
  const char *kCzech = "Můžete sdílet můj adresář s názvem Team";
  const std::vector<Book> flags = {
      {"System", "", "0", "0"}, {"Mine", "", "1", "0"}, {"Worded", "", "true", "0"}};
  const struct {
    const char *why;
    std::vector<Book> books;
    int allBooks, d70;
    const char *gwcfBefore;
    const char *taken;  // the records: name, class 1, the entries counted (not the list's 40)
    const char *gwcfAfter;
  } cases[] = {
      {"only a leading 1 is personal", flags, 0, 0, "", "Mine 1 2; ", "Mine"},
      {"the all-books flag takes every book", flags, 1, 0, "",
       "System 1 2; Mine 1 2; Worded 1 2; ", "Mine"},
      {"odd /D70 skips shared notices in any case and language",
       {{"En", kEnglish, "1", "0"}, {"De", kGerman, "1", "0"}, {"Cz", kCzech, "1", "0"},
        {"Later", "Note: You have been granted shared access", "1", "0"}},
       1, 3, "", "Later 1 2; ", "Later"},
      {"even /D70 keeps them", {{"En", kEnglish, "1", "0"}, {"Cz", kCzech, "1", "0"}}, 0, 2, "",
       "En 1 2; Cz 1 2; ", "En"},
      {"the contact folder is the first personal book that is not the frequent one",
       {{"Frequent Contacts", "", "1", "1"}, {"Friends", "", "1", "0"}, {"Work", "", "1", "0"}},
       0, 0, "", "Frequent Contacts 1 2; Friends 1 2; Work 1 2; ", "Friends"},
      {"a contact folder given stays", {{"Friends", "", "1", "0"}}, 0, 0, "Given",
       "Friends 1 2; ", "Given"},
  };
  Connect();
  FaultEvery("getItemsRequest", 200,
             Answer("getItemsResponse", "<gwm:items><gwt:item><gwt:id>E1</gwt:id></gwt:item>"
                                        "<gwt:item><gwt:id>E2</gwt:id></gwt:item></gwm:items>"));
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    FreeFolderTable();
    gRunSettings.d70 = c.d70;
    CopyText(gRunSettings.gwcf, sizeof gRunSettings.gwcf, c.gwcfBefore);
    EXPECT_EQ(1, ParseGWABList(Reshaped(BookList(c.books), "ablist.xml").c_str(), c.allBooks));
    EXPECT_EQ(c.taken, plugin_test::Rows());
    EXPECT_STREQ(c.gwcfAfter, gRunSettings.gwcf);
  }
}

TEST_F(AddressBookTest, EntriesAreCountedPerBookWithDebugCopies) {
  Connect(R"(<book id="AB.1@1" name="One"><item kind="Contact"/><item kind="Contact"/>
             <item kind="Contact"/></book><book id="AB.2@1" name="Two"/>)",
          {"/MAILDEBUG"});
  EXPECT_EQ("One 1 3; Two 1 0; ", plugin_test::Rows());
  ASSERT_EQ(2u, Sent("getItemsRequest").size());
  EXPECT_EQ(plugin_test::TestData("logon/get_items.golden"), SentBody("getItemsRequest"));
  std::string debug = host_.dataDir() + "debug/alice/";
  for (const char *copy : {"abdata0.xml", "abdata1.xml"})
    EXPECT_TRUE(testing_support::FileExists(debug + copy)) << copy;
  EXPECT_FALSE(testing_support::FileExists(debug + "abdata2.xml"));
  EXPECT_FALSE(testing_support::FileExists(host_.workDir() + "abdata.xml"));
}

}  // namespace
