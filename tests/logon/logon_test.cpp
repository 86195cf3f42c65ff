// Logon and Logoff against the simulator: the three login kinds, every
// result code, the lists read at logon, and the end of the session.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "../folders/plugin_test_support.h"
#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "gwsim/mailbox.h"
#include "host/mvcom/mvcom_host.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/recurrence_keys.h"

namespace {

using plugin_test::RequestBody;
using plugin_test::RequestsNamed;
using plugin_test::TestData;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

const char kAppKey[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

int MV_CALL IgnoreNotify(int, const char *, int, int *, int *, int *) { return 0; }

gwsim::Folder MakeFolder(const char *id, const char *parent, const char *owner, const char *name,
                         const char *kind, const char *type) {
  gwsim::Folder f;
  f.id = id;
  f.parentId = parent;
  f.owner = owner;
  f.name = name;
  f.kind = kind;
  f.folderType = type;
  return f;
}

class LogonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_test::ResetPluginState();
    programDir_ = host_.root() + "/program/";
    mkdir(programDir_.c_str(), 0755);
    host_.config().programDir = programDir_.c_str();
    ASSERT_TRUE(server_.Start()) << server_.LastError();
    FillStore();
  }
  void TearDown() override { plugin_test::ResetPluginState(); }

  void FillStore() {
    gwsim::Mailbox &mailbox = server_.mailbox();
    auto lock = mailbox.Lock();
    mailbox.Clear();
    gwsim::User alice;
    alice.name = "alice";
    alice.password = "secret";
    alice.displayName = "Alice Example";
    alice.email = "alice@example.com";
    alice.rootFolderId = "ROOT.alice@16";
    alice.proxyFor = {"bob"};
    mailbox.AddUser(alice);
    gwsim::User bob;
    bob.name = "bob";
    bob.password = "bobpw";
    bob.rootFolderId = "ROOT.bob@16";
    mailbox.AddUser(bob);
    gwsim::User carol;
    carol.name = "carol";
    carol.password = "p&ss<w>rd";
    mailbox.AddUser(carol);
    mailbox.AddTrustedApp({"Movaro", kAppKey});

    mailbox.AddFolder(MakeFolder("MBX.alice@1", "ROOT.alice@16", "alice", "Mailbox",
                                 "SystemFolder", "Mailbox"));
    gwsim::Folder sent = MakeFolder("SENT.alice@2", "ROOT.alice@16", "alice", "Sent Items",
                                    "SystemFolder", "SentItems");
    sent.showCount = false;
    mailbox.AddFolder(sent);
    gwsim::Folder calendar = MakeFolder("CAL.alice@3", "ROOT.alice@16", "alice", "Calendar",
                                        "SystemFolder", "Calendar");
    calendar.calendarAttribute = true;
    mailbox.AddFolder(calendar);
    mailbox.AddFolder(MakeFolder("CON.alice@4", "ROOT.alice@16", "alice", "Contacts",
                                 "SystemFolder", "Contacts"));
    mailbox.AddFolder(MakeFolder("MBX.bob@1", "ROOT.bob@16", "bob", "Mailbox", "SystemFolder",
                                 "Mailbox"));
    AddItems("MBX.alice@1", "Mail", 2);
    AddItems("SENT.alice@2", "Mail", 1);
    AddItems("CAL.alice@3", "Appointment", 3);
    mailbox.AddCategory({"alice", "BIZ@7", "Business"});
    gwsim::AddressBook book;
    book.owner = "alice";
    book.id = "AB.alice@9";
    book.name = "Alice contacts";
    book.isPersonal = true;
    mailbox.AddAddressBook(book);
    AddItems("AB.alice@9", "Contact", 1);
  }

  void AddItems(const char *container, const char *kind, int count) {
    for (int i = 0; i < count; ++i) {
      gwsim::Item item;
      item.container = container;
      item.kind = kind;
      item.created = "2026-01-0" + std::to_string(i + 1) + "T10:00:00Z";
      item.subject = std::string(kind) + " " + std::to_string(i);
      server_.mailbox().AddItem(item);
    }
  }

  // Logon as the host calls it, with the given host parameters.
  int CallLogon(const std::string &user, const std::string &password,
                const std::vector<std::string> &params = {}, int mode = 1, int allBooks = 0) {
    EXPECT_EQ(0, host_.Init(params));
    CopyText(user_, sizeof user_, user.c_str());
    CopyText(password_, sizeof password_, password.c_str());
    return Logon(user_, password_, server_.url().c_str(), nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, nullptr, mode, allBooks, nullptr, nullptr,
                 IgnoreNotify);
  }

  std::string SentBody(const char *requestName, size_t index = 0) const {
    std::vector<gwsim::RecordedRequest> sent = RequestsNamed(server_, requestName);
    return index < sent.size() ? RequestBody(sent[index].body) : std::string("(not sent)");
  }

  void Fail(const char *requestName, int status) {
    gwsim::Fault fault;
    fault.kind = gwsim::FaultKind::kStatus;
    fault.status = status;
    fault.requestName = requestName;
    fault.times = 0;
    server_.AddFault(fault);
  }

  const FolderRecord *FindRecord(const char *id) const {
    for (int i = 0; i < gFolderTable.count; ++i)
      if (std::string(gFolderTable.records[i]->id) == id) return gFolderTable.records[i];
    return nullptr;
  }

  testing_support::TestHost host_;
  gwsim::Server server_;
  std::string programDir_;
  char user_[256];
  char password_[1024];
};

TEST_F(LogonTest, EachLoginKindSendsItsBody) {
  std::string keyFile = host_.root() + "/key.dat";
  WriteFileBytes(keyFile, std::string("Movaro\n") + kAppKey + "\n");
  WriteFileBytes(programDir_ + "gwappkey.dat", std::string("Movaro\r\n") + kAppKey + "\r\n");
  // base64 of "Movaro", CR LF, the key, CR.
  const std::string encoded =
      "TW92YXJvDQowMTIzNDU2Nzg5YWJjZGVmMDEyMzQ1Njc4OWFiY2RlZjAxMjM0"
      "NTY3ODlhYmNkZWYwMTIzNDU2Nzg5YWJjZGVmDQ==";
  struct Case {
    const char *why;
    std::string user, password;
    std::vector<std::string> params;
    const char *golden;
    const char *userAfter;
    const char *mailbox;  // a folder of the mailbox opened
    std::string logLine;
  };
  const std::vector<Case> cases = {
      {"plain", "alice", "secret", {}, "logon/login_plain.golden", "alice", "MBX.alice@1",
       "Logged on to GroupWise version 8.0.2 (8), for user: Alice Example <alice@example.com>, "
       "type=User"},
      {"proxy: alice opens bob's mailbox", "alice for bob  ", "secret", {},
       "logon/login_proxy.golden", "bob", "MBX.bob@1", "Proxy user is alice, Target user is bob"},
      {"trusted from a key file", "alice", "", {"/TRUSTED", "/GWAPPKEY", keyFile},
       "logon/login_trusted.golden", "alice", "MBX.alice@1", "Running as trusted application"},
      {"trusted from the program directory's key file", "alice", "", {"/TRUSTED"},
       "logon/login_trusted.golden", "alice", "MBX.alice@1",
       "Attempting to open trusted mode key file " + programDir_ + "gwappkey.dat"},
      {"trusted from a long password", "alice", encoded, {"/TRUSTED"},
       "logon/login_trusted.golden", "alice", "MBX.alice@1",
       std::string("gGWTrustedApp=Movaro, gGWAppKey=") + kAppKey},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    plugin_test::ResetPluginState();
    server_.ClearRequests();
    host_.ClearLog();
    EXPECT_EQ(0, CallLogon(c.user, c.password, c.params)) << host_.LogText();
    EXPECT_EQ(TestData(c.golden), SentBody("loginRequest"));
    EXPECT_STREQ(c.userAfter, user_);
    EXPECT_NE(nullptr, FindRecord(c.mailbox));
    EXPECT_TRUE(host_.HasLog(c.logLine)) << host_.LogText();
    EXPECT_EQ(1, gSession.loggedOn);
    if (c.password.size() > 80) {
      EXPECT_STREQ("", password_);
    }
    Logoff(0);
  }
}

TEST_F(LogonTest, EachFailureHasItsResultCode) {
  gwsim::Fault noSession;
  noSession.kind = gwsim::FaultKind::kFixedAnswer;
  noSession.body = plugin_test::Answer("loginResponse", "<gwm:gwVersion>8.0.2</gwm:gwVersion>");
  noSession.requestName = "loginRequest";
  struct Case {
    const char *why;
    std::string user, password;
    int mode;
    int status;          // a kStatus fault on loginRequest, or 0
    bool fixedAnswer;    // the answer above instead
    int result;
    int loggedOn;
    const char *logLine;  // null: the log stays empty
  };
  const std::vector<Case> cases = {
      {"mode 0 does nothing", "alice", "secret", 0, 0, false, 1, 0, nullptr},
      {"unknown user", "nobody", "secret", 1, 0, false, 1, 0,
       "MV Error: login error 53505, description: The user was not found"},
      {"bad password", "alice", "wrong", 1, 0, false, 2, 0,
       "MV Error: login error 53273, description: Invalid password"},
      {"login not answered with 200", "alice", "secret", 1, 500, false, 3, 0,
       "MV Warning: LoginRequest failed with httpResponse 500"},
      {"answer without a session id", "alice", "secret", 1, 0, true, 4, 1,
       "MV Error: unable to obtain GW session ID"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    plugin_test::ResetPluginState();
    server_.ClearFaults();
    server_.ClearRequests();
    host_.ClearLog();
    if (c.status != 0) Fail("loginRequest", c.status);
    if (c.fixedAnswer) server_.AddFault(noSession);
    EXPECT_EQ(c.result, CallLogon(c.user, c.password, {}, c.mode));
    EXPECT_EQ(c.loggedOn, gSession.loggedOn);
    if (c.logLine == nullptr) {
      EXPECT_TRUE(host_.log().empty()) << host_.LogText();
      EXPECT_EQ(0u, server_.RequestCount());
    } else {
      EXPECT_TRUE(host_.HasLog(c.logLine)) << host_.LogText();
      EXPECT_TRUE(RequestsNamed(server_, "getFolderListRequest").empty());
    }
  }
}

TEST_F(LogonTest, TrustedModeWithoutUsableKeyFileSendsThePlainLogin) {
  std::string oneLine = host_.root() + "/oneline.dat";
  WriteFileBytes(oneLine, "Movaro\n");
  std::string missing = host_.root() + "/missing.dat";
  struct Case {
    std::string path;
    std::string errorLine;
  };
  const Case cases[] = {
      {missing, "MV Error: Cannot open trusted app key file " + missing + ", error=2"},
      {oneLine, "MV Error: trusted app key file " + oneLine +
                    " must hold the application name and the key on two lines"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    plugin_test::ResetPluginState();
    server_.ClearRequests();
    host_.ClearLog();
    EXPECT_EQ(0, CallLogon("alice", "secret", {"/TRUSTED", "/GWAPPKEY", c.path}));
    EXPECT_TRUE(host_.HasLog(c.errorLine)) << host_.LogText();
    EXPECT_FALSE(host_.HasLog("Running as trusted application"));
    EXPECT_EQ(0, gRunSettings.trusted);
    EXPECT_STREQ("", gGWTrustedApp);
    EXPECT_EQ(TestData("logon/login_plain.golden"), SentBody("loginRequest"));
    Logoff(0);
  }
}

TEST_F(LogonTest, FakeServerMakesFourDebugFoldersWithoutTraffic) {
  AddRecurrenceKey(77);
  EXPECT_EQ(0, CallLogon("alice", "secret", {"/FAKESERVER"}));
  EXPECT_EQ(0u, server_.RequestCount());
  EXPECT_TRUE(host_.HasLog("Fake login to GW server"));
  EXPECT_EQ(0, ContainsRecurrenceKey(77));
  const int classes[] = {kFolderClassCalendar, kFolderClassAddressBook, kFolderClassMail,
                         kFolderClassTaskList};
  ASSERT_EQ(4, gFolderTable.count);
  for (int i = 0; i < 4; ++i) {
    const FolderRecord *r = gFolderTable.records[i];
    EXPECT_STREQ("Debug", r->path);
    EXPECT_STREQ("FAKEFID", r->id);
    EXPECT_STREQ("FAKEPARENT", r->parentId);
    EXPECT_EQ(classes[i], r->folderClass);
    EXPECT_EQ(1, r->itemCount);
    EXPECT_EQ(1, r->countGiven);
  }
  EXPECT_EQ(0, Logoff(0));
  EXPECT_EQ(0u, server_.RequestCount());
  EXPECT_EQ(0, gFolderTable.count);
}

TEST_F(LogonTest, LogonReadsTheListsAndLogsTheTableByClass) {
  // /HPW hides the password only when an earlier parse (GetLogonParameters) set it.
  ASSERT_EQ(0, host_.Init({"/HPW"}));
  ParseOptions();
  EXPECT_EQ(0, CallLogon("alice", "secret", {"/HPW"}));
  EXPECT_EQ(mvcom_GetLineBuffer(), gSession.lineBuffer);
  EXPECT_TRUE(host_.HasLog("Logon for GroupWise Web Services, database=" + server_.url() +
                           ", user=alice/*****"));
  EXPECT_EQ(server_.url() + "/soap", gSession.soapEndpoint);

  // Counts: the server's for the Mailbox, enumerated for the calendar and for
  // Sent Items (no count given), counted entries for the address book.
  const std::vector<std::string> expected = {
      "GroupWise folder: Mailbox, count=2", "GroupWise folder: Sent Items, count=1",
      "GroupWise calendar: Calendar, count=3", "GroupWise contacts: Alice contacts, count=1"};
  std::vector<std::string> tableLines;
  for (const std::string &line : host_.log())
    if (line.rfind("GroupWise ", 0) == 0) tableLines.push_back(line);
  EXPECT_EQ(expected, tableLines);
  EXPECT_EQ(nullptr, FindRecord("CON.alice@4"));
  ASSERT_EQ(1, gCategoryTable.count);
  EXPECT_STREQ("BIZ", gCategoryTable.entries[0]->id);
  EXPECT_STREQ("Alice contacts", gRunSettings.gwcf);
  EXPECT_STREQ("ROOT.alice@16", gRootFolderId);

  const char *golden[][2] = {
      {"getFolderListRequest", "logon/get_folder_list.golden"},
      {"getCategoryListRequest", "logon/get_category_list.golden"},
      {"getAddressBookListRequest", "logon/get_address_book_list.golden"},
  };
  for (const auto &g : golden) EXPECT_EQ(TestData(g[1]), SentBody(g[0])) << g[0];
  std::vector<gwsim::RecordedRequest> creates = RequestsNamed(server_, "createCursorRequest");
  ASSERT_EQ(2u, creates.size());
  std::string calendarCreate = RequestBody(creates[0].body).find("CAL.alice@3") != std::string::npos
                                   ? RequestBody(creates[0].body)
                                   : RequestBody(creates[1].body);
  EXPECT_EQ(TestData("logon/create_cursor.golden"), calendarCreate);
  EXPECT_FALSE(FileExists(host_.workDir() + "logonre.xml"));
  EXPECT_FALSE(FileExists(host_.workDir() + "msgids.tmp"));

  server_.ClearRequests();
  EXPECT_EQ(0, Logoff(0));
  ASSERT_EQ(1u, server_.RequestCount());
  EXPECT_EQ(TestData("logon/logout.golden"), SentBody("logoutRequest"));
  EXPECT_EQ(0, gSession.loggedOn);
  EXPECT_EQ(nullptr, gSession.curl);
  EXPECT_EQ(0, gFolderTable.count);
  EXPECT_EQ(0, gCategoryTable.count);
  EXPECT_EQ(0, Logoff(0));  // nothing more to end
  EXPECT_EQ(1u, server_.RequestCount());
}

TEST_F(LogonTest, FailedListsDecideTheResult) {
  struct Case {
    const char *request;
    int result;
    int categories;
    const char *logLine;
  };
  const Case cases[] = {
      {"getCategoryListRequest", 0, 0,
       "MV Warning: getCategoryListRequest failed with httpResponse 500"},
      {"getFolderListRequest", 4, 0,
       "MV Warning: getFolderListRequest failed with httpResponse 500"},
      {"getAddressBookListRequest", 4, 1,
       "MV Warning: getAddressBookListRequest failed with httpResponse 500"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.request);
    plugin_test::ResetPluginState();
    server_.ClearFaults();
    server_.ClearRequests();
    host_.ClearLog();
    Fail(c.request, 500);
    EXPECT_EQ(c.result, CallLogon("alice", "secret"));
    EXPECT_TRUE(host_.HasLog(c.logLine)) << host_.LogText();
    EXPECT_EQ(c.categories, gCategoryTable.count);
    // Still logged on: the session is given back at logoff.
    EXPECT_EQ(1, gSession.loggedOn);
    Logoff(0);
    EXPECT_EQ(1u, RequestsNamed(server_, "logoutRequest").size());
  }
}

TEST_F(LogonTest, LogoffHandsOverTheFailedIds) {
  std::string handover = host_.root() + "/failed.txt";
  std::string work = host_.workDir() + "failedIds.tmp";
  WriteFileBytes(handover, "from an earlier run\n");
  WriteFileBytes(work, "stale list\n");
  EXPECT_EQ(0, CallLogon("alice", "secret", {"/D327", handover}));
  EXPECT_TRUE(host_.HasLog("Failed Ids to be stored in " + handover));
  EXPECT_FALSE(FileExists(work));  // a new list starts with the logon
  WriteFileBytes(work, "ID.1@1\nID.2@1\n");
  gSession.failedCount = 2;
  EXPECT_EQ(0, Logoff(0));
  EXPECT_EQ("ID.1@1\nID.2@1\n", ReadFileBytes(handover));
  EXPECT_FALSE(FileExists(work));
  EXPECT_EQ(2, mvcom_GetFailedCount());
  EXPECT_EQ(0, gRunSettings.d327);
}

TEST_F(LogonTest, PasswordWithMarkupIsEscaped) {
  EXPECT_EQ(0, CallLogon("carol", "p&ss<w>rd"));
  EXPECT_NE(std::string::npos,
            SentBody("loginRequest").find("<t:password>p&amp;ss&lt;w&gt;rd</t:password>"));
  EXPECT_FALSE(host_.HasLog("p&ss<w>rd"));  // the log shows it scrambled
}

TEST_F(LogonTest, DebugSwitchesKeepCopiesOfTheAnswers) {
  struct Case {
    std::vector<std::string> params;
    const char *subfolder;
  };
  const Case cases[] = {
      {{"/MAILDEBUG"}, "alice"},
      {{"/DATADEBUG", "run 1"}, "run 1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.subfolder);
    plugin_test::ResetPluginState();
    EXPECT_EQ(0, CallLogon("alice", "secret", c.params));
    Logoff(0);
    std::string dir = host_.dataDir() + "debug/" + c.subfolder + "/";
    for (const char *name : {"logonre.xml", "folderre.xml", "categorylist.xml", "ablistre.xml",
                             "logoffre.xml", "abdata0.xml"}) {
      EXPECT_TRUE(FileExists(dir + name)) << dir + name;
    }
    EXPECT_NE(std::string::npos, ReadFileBytes(dir + "logonre.xml").find("<gwm:session>"));
  }
}

TEST(RecurrenceKeysTest, ListHoldsTwentyThousandKeysUntilCleared) {
  ClearRecurrenceKeys();
  for (int32_t key = 0; key < kMaxRecurrenceKeys; ++key) ASSERT_EQ(1, AddRecurrenceKey(key * 3));
  EXPECT_EQ(0, AddRecurrenceKey(-1));
  EXPECT_EQ(1, ContainsRecurrenceKey(3 * (kMaxRecurrenceKeys - 1)));
  EXPECT_EQ(0, ContainsRecurrenceKey(-1));
  EXPECT_EQ(0, ContainsRecurrenceKey(1));
  ClearRecurrenceKeys();
  EXPECT_EQ(0, ContainsRecurrenceKey(0));
  EXPECT_EQ(1, AddRecurrenceKey(-1));
  EXPECT_EQ(1, ContainsRecurrenceKey(-1));
  ClearRecurrenceKeys();
}

}  // namespace
