// Logon and Logoff against the simulator: the three login kinds, every
// result code, the lists read at logon, and the end of the session.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../folders/plugin_test_support.h"
#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "host/mvcom/mvcom_host.h"
#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/session_state.h"

namespace {

using plugin_test::TestData;
using testing_support::FileExists;
using testing_support::WriteFileBytes;

const char kAppKey[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

class LogonTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    mkdir(programDir_.c_str(), 0755);
    host_.config().programDir = programDir_.c_str();
    StartServer(TestData("logon/mailbox.xml"));
  }

  void Restart() {
    plugin_test::ResetPluginState();
    server_.ClearFaults();
    server_.ClearRequests();
    host_.ClearLog();
  }

  std::string programDir_ = host_.root() + "/program/";
};

TEST_F(LogonTest, EachLoginKindSendsItsBody) {
  std::string keyFile = host_.root() + "/key.dat", oneLine = host_.root() + "/oneline.dat",
              missing = host_.root() + "/missing.dat";
  WriteFileBytes(keyFile, std::string("Movaro\n") + kAppKey + "\n");
  WriteFileBytes(oneLine, "Movaro\n");
  WriteFileBytes(programDir_ + "gwappkey.dat", std::string("Movaro\r\n") + kAppKey + "\r\n");
  const std::string encoded =  // base64 of "Movaro", CR LF, the key, CR
      "TW92YXJvDQowMTIzNDU2Nzg5YWJjZGVmMDEyMzQ1Njc4OWFiY2RlZjAxMjM0"
      "NTY3ODlhYmNkZWYwMTIzNDU2Nzg5YWJjZGVmDQ==";
  const struct {
    const char *why;
    std::string user, password;
    std::vector<std::string> params;
    const char *golden;     // null: no request at all
    const char *userAfter;  // the host's user buffer afterwards
    std::string logLine;
  } cases[] = {
      {"plain", "alice", "secret", {}, "plain", "alice",
       "Logged on to GroupWise version 8.0.2 (8), for user: Alice Example <alice@example.com>, "
       "type=User"},
      {"proxy: alice opens bob's mailbox", "alice for bob  ", "secret", {}, "proxy", "bob",
       "Proxy user is alice, Target user is bob"},
      {"markup in the password is escaped", "carol", "p&ss<w>rd", {}, "escaped", "carol",
       "user=carol/"},
      {"fake server: no traffic", "alice", "secret", {"/FAKESERVER"}, nullptr, "alice",
       "Fake login to GW server"},
      {"trusted from a key file", "alice", "", {"/TRUSTED", "/GWAPPKEY", keyFile}, "trusted",
       "alice", "Running as trusted application"},
      {"trusted from the program directory", "alice", "", {"/TRUSTED"}, "trusted", "alice",
       "Attempting to open trusted mode key file " + programDir_ + "gwappkey.dat"},
      {"trusted from a long password", "alice", encoded, {"/TRUSTED"}, "trusted", "alice",
       std::string("gGWTrustedApp=Movaro, gGWAppKey=") + kAppKey},
      {"missing key file: plain", "alice", "secret", {"/TRUSTED", "/GWAPPKEY", missing}, "plain",
       "alice", "MV Error: Cannot open trusted app key file " + missing + ", error=2"},
      {"one-line key file: plain", "alice", "secret", {"/TRUSTED", "/GWAPPKEY", oneLine}, "plain",
       "alice", "MV Error: trusted app key file " + oneLine +
                    " must hold the application name and the key on two lines"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    Restart();
    EXPECT_EQ(0, LogOn(c.user, c.password, c.params)) << host_.LogText();
    EXPECT_EQ(c.golden ? TestData(std::string("logon/login_") + c.golden + ".golden")
                       : "(not sent)",
              SentBody("loginRequest"));
    EXPECT_STREQ(c.userAfter, user_);
    EXPECT_TRUE(host_.HasLog(c.logLine)) << host_.LogText();
    EXPECT_TRUE(c.password.empty() || !host_.HasLog(c.password));  // shown scrambled
    if (c.password.size() > 80) {
      EXPECT_STREQ("", password_);  // the credentials are not left in the host's buffer
    }
    Logoff(0);
    EXPECT_EQ(c.golden == nullptr, server_.RequestCount() == 0);
  }
}

TEST_F(LogonTest, EachFailureHasItsResultCode) {
  const struct {
    const char *why, *user, *password;
    int mode, status;     // status: the answer to `failing` (200: one without a session id)
    const char *failing;  // null: the server answers as usual
    int result, loggedOn, categories;
    const char *logLine;    // null: no request and an empty log
    const char *recipType;  // the user's type afterwards: from this answer when one was read
    const char *body = nullptr;  // the 200 answer; null: a login answer without a session id
  } cases[] = {
      {"mode 0 does nothing", "alice", "secret", 0, 0, nullptr, 1, 0, 0, nullptr, "Resource"},
      {"unknown user", "nobody", "secret", 1, 0, nullptr, 1, 0, 0,
       "MV Error: login error 53505, description: The user was not found", ""},
      {"bad password", "alice", "wrong", 1, 0, nullptr, 2, 0, 0,
       "MV Error: login error 53273, description: Invalid password", ""},
      {"login not answered with 200", "alice", "secret", 1, 500, "loginRequest", 3, 0, 0,
       "MV Warning: LoginRequest failed with httpResponse 500", "Resource"},
      {"answer without a session id", "alice", "secret", 1, 200, "loginRequest", 4, 1, 0,
       "MV Error: unable to obtain GW session ID", ""},
      {"login answered by an HTML page with HTTP 200: no answer, not a refusal", "alice",
       "secret", 1, 200, "loginRequest", 4, 0, 0,
       "MV Warning: LoginRequest failed, the answer is not a SOAP envelope", "Resource",
       "<html><body>Bad Gateway</body></html>"},
      {"failed folder list", "alice", "secret", 1, 500, "getFolderListRequest", 4, 1, 0,
       "MV Warning: getFolderListRequest failed with httpResponse 500", "User"},
      {"failed category list still logs on", "alice", "secret", 1, 500, "getCategoryListRequest",
       0, 1, 0, "MV Warning: getCategoryListRequest failed with httpResponse 500", "User"},
      {"failed address-book list", "alice", "secret", 1, 500, "getAddressBookListRequest", 4, 1,
       1, "MV Warning: getAddressBookListRequest failed with httpResponse 500", "User"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    Restart();
    // An earlier session's id and user type must not pass for this login's.
    CopyText(gSession.sessionId, sizeof gSession.sessionId, "STALE.SESSION");
    CopyText(gSession.userRecipType, sizeof gSession.userRecipType, "Resource");
    if (c.failing != nullptr)
      FaultEvery(c.failing, c.status,
                 c.body != nullptr ? c.body
                                   : plugin_test::Answer("loginResponse",
                                                         "<gwm:gwVersion>8.0.2</gwm:gwVersion>"));
    EXPECT_EQ(c.result, LogOn(c.user, c.password, {}, c.mode));
    EXPECT_EQ(c.loggedOn, gSession.loggedOn);
    EXPECT_EQ(c.categories, gCategoryTable.count);
    EXPECT_STREQ(c.recipType, gSession.userRecipType);
    if (c.logLine == nullptr) {
      EXPECT_TRUE(host_.log().empty()) << host_.LogText();
      EXPECT_EQ(0u, server_.RequestCount());
    } else {
      EXPECT_TRUE(host_.HasLog(c.logLine)) << host_.LogText();
      bool listsAsked = c.failing != nullptr && std::string(c.failing) != "loginRequest";
      EXPECT_EQ(listsAsked ? 1u : 0u, Sent("getFolderListRequest").size());
    }
    Logoff(0);  // a session still logged on is given back
    EXPECT_EQ(static_cast<size_t>(c.loggedOn), Sent("logoutRequest").size());
  }
}

// Without the category list every item read loses its categories for good:
// a broken answer is asked for once more, and the host hears of a second.
TEST_F(LogonTest, ABrokenCategoryListIsAskedForOnceMore) {
  const struct {
    const char *why;
    int times;  // broken answers in a row
    int categories;
    std::vector<std::string> notices;
  } cases[] = {
      {"broken once: read the second time", 1, 1, {}},
      {"broken twice: the logon goes on without it, and says so", 2, 0,
       {"134: the category list could not be read: items are read without their categories"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    Restart();
    notices_.clear();
    gwsim::Fault fault;
    fault.kind = gwsim::FaultKind::kStatus;
    fault.status = 200;
    fault.body = "<html><body>Bad Gateway</body></html>";
    fault.requestName = "getCategoryListRequest";
    fault.times = c.times;
    server_.AddFault(fault);
    EXPECT_EQ(0, LogOn("alice", "secret", {}));
    EXPECT_EQ(2u, Sent("getCategoryListRequest").size());
    EXPECT_TRUE(host_.HasLog("MV Info: asking for the category list again")) << host_.LogText();
    EXPECT_EQ(c.categories, gCategoryTable.count);
    EXPECT_EQ(c.notices, notices_);
    Logoff(0);
  }
}

TEST_F(LogonTest, LogonReadsTheListsAndLogoffHandsOverTheFailedIds) {
  std::string handover = host_.root() + "/failed.txt", work = host_.workDir() + "failedIds.tmp";
  WriteFileBytes(handover, "from an earlier run\n");
  WriteFileBytes(work, "stale list\n");
  EXPECT_EQ(0, LogOn("alice", "secret", {"/D327", handover}));
  EXPECT_FALSE(FileExists(work));  // a new list starts with the logon
  // Counts: the server's for the Mailbox, enumerated for the calendar and for
  // Sent Items (no count given), counted entries for the address book.
  const std::vector<std::string> expected = {
      "GroupWise folder: Mailbox, count=2", "GroupWise folder: Sent Items, count=1",
      "GroupWise calendar: Calendar, count=3", "GroupWise contacts: Alice contacts, count=1"};
  std::vector<std::string> tableLines;
  for (const std::string &line : host_.log())
    if (line.rfind("GroupWise ", 0) == 0) tableLines.push_back(line);
  EXPECT_EQ(expected, tableLines);
  const char *goldens[][2] = {{"getFolderListRequest", "get_folder_list"},
                              {"getCategoryListRequest", "get_category_list"},
                              {"getAddressBookListRequest", "get_address_book_list"}};
  for (const auto &g : goldens)
    EXPECT_EQ(TestData(std::string("logon/") + g[1] + ".golden"), SentBody(g[0])) << g[0];
  const std::string calendar = TestData("logon/create_cursor.golden");  // either enumeration
  EXPECT_TRUE(SentBody("createCursorRequest", 0) == calendar ||
              SentBody("createCursorRequest", 1) == calendar);

  WriteFileBytes(work, "ID.1@1\nID.2@1\n");
  gSession.failedCount = 2;
  server_.ClearRequests();
  EXPECT_EQ(0, Logoff(0));
  EXPECT_EQ(0, Logoff(0));  // nothing more to end
  ASSERT_EQ(1u, server_.RequestCount());
  EXPECT_EQ(TestData("logon/logout.golden"), SentBody("logoutRequest"));
  EXPECT_EQ(nullptr, gSession.curl);
  EXPECT_EQ(0, gFolderTable.count + gCategoryTable.count);
  EXPECT_EQ("ID.1@1\nID.2@1\n", testing_support::ReadFileBytes(handover));
  EXPECT_FALSE(FileExists(work));
  EXPECT_EQ(2, mvcom_GetFailedCount());

  // The same process logs on again, as the host does, with nothing wiped in
  // between: first bob with a failing folder list, then bob for real.
  auto logOnAgain = [this](const char *user, const char *password) {
    CopyText(user_, sizeof user_, user);
    CopyText(password_, sizeof password_, password);
    return Logon(user_, password_, server_.url().c_str(), nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, nullptr, 1, 0, nullptr, nullptr, nullptr);
  };
  FaultEvery("getFolderListRequest", 500);
  EXPECT_EQ(4, logOnAgain("bob", "bobpw"));
  EXPECT_EQ(1, gSession.loggedOn);
  EXPECT_EQ(0, Logoff(0));
  EXPECT_EQ(0, mvcom_GetFailedCount());  // alice's two failures are not bob's
  EXPECT_EQ("", testing_support::ReadFileBytes(handover));
  server_.ClearFaults();
  EXPECT_EQ(0, logOnAgain("bob", "bobpw"));
  EXPECT_EQ("Mailbox 0 0; ", plugin_test::Rows());
  EXPECT_STREQ("ROOT.bob@16", gRootFolderId);
  EXPECT_STREQ("bob", gSession.userDisplayName);
  EXPECT_STREQ("bob", gSession.debugSubfolder);
  EXPECT_EQ(0, Logoff(0));
  EXPECT_EQ(0, mvcom_GetFailedCount());
  EXPECT_STREQ("", gRootFolderId);  // the table and its root went with the session
}

}  // namespace
