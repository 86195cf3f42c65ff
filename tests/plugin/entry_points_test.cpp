// The small entry points, and what libMVGWS.so exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "plugin/host_message.h"
#include "plugin/mv_api.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "support/host_fixture.h"

namespace {

using testing_support::TestHost;

struct LogonForm {
  char user[kHostLabelSize], password[kHostLabelSize], server[kHostLabelSize];
  char a7[kHostLabelSize], a8[kHostLabelSize], a13[kHostLabelSize], a15[kHostLabelSize];
  char serverText[kHostServerSize];
  LogonForm() {
    for (char *b : {user, password, server, a7, a8, a13, a15}) memset(b, 'x', kHostLabelSize);
    serverText[0] = '\0';
  }
  int Call(int kind) {
    return GetLogonParameters(kind, nullptr, nullptr, user, password, server, a7, a8, nullptr,
                              nullptr, nullptr, serverText, a13, nullptr, a15);
  }
};

TEST(GetLogonParameters, FillsLabelsAndServerPromptAndMarksKindFour) {
  TestHost host;
  ASSERT_EQ(host.Init({"/DEBUG"}), 0);
  ResetRunSettings();
  LogonForm form;
  EXPECT_EQ(form.Call(0), 0);
  EXPECT_STREQ(form.user, "User Id:");
  EXPECT_STREQ(form.password, "Password:");
  EXPECT_STREQ(form.server, "Server Name:");
  EXPECT_STREQ(form.a7, "");
  EXPECT_STREQ(form.a8, "");
  EXPECT_STREQ(form.a13, "");
  EXPECT_STREQ(form.a15, "");
  EXPECT_EQ(std::string(form.serverText).rfind("https://", 0), 0u);
  EXPECT_NE(std::string(form.serverText).find(":7191"), std::string::npos);
  // The switches apply from the first call on.
  EXPECT_EQ(gRunSettings.debug, 1);

  // A server text the host filled is kept; only kind 4 gets the a8 label.
  LogonForm filled;
  memcpy(filled.serverText, "https://gw.example.com:7191", 28);
  EXPECT_EQ(filled.Call(4), 0);
  EXPECT_STREQ(filled.serverText, "https://gw.example.com:7191");
  EXPECT_STREQ(filled.a8, "Upcoming events only");
  for (int kind : {1, 3, 5, 7}) {
    LogonForm other;
    other.Call(kind);
    EXPECT_STREQ(other.a8, "") << "kind " << kind;
  }
}

TEST(InitRead, StoresItemLimitAndGroupFolder) {
  TestHost host;
  ASSERT_EQ(host.Init({"/GN", "Archive 2012"}), 0);
  ResetRunSettings();
  LogonForm form;
  form.Call(0);  // parses the switches
  auto record = std::make_unique<HostMessage>();
  memset(record.get(), 0, sizeof(HostMessage));
  EXPECT_EQ(InitRead(record.get(), nullptr, nullptr, nullptr, nullptr, 25), 0);
  EXPECT_EQ(gSession.itemLimit, 25);
  EXPECT_STREQ(record->groupFolder, "Archive 2012");
  EXPECT_EQ(CloseRead(0), 0);
  EXPECT_EQ(TestFile(nullptr, nullptr), 0);
}

// The defined dynamic symbols of the library, as nm reports them.
std::set<std::string> ExportedSymbols(const std::string &path) {
  std::set<std::string> names;
  std::string cmd = "nm -D --defined-only '" + path + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(cmd.c_str(), "r"), pclose);
  if (!pipe) return names;
  char line[1024];
  while (fgets(line, sizeof line, pipe.get())) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.insert(name);
  }
  return names;
}

TEST(PluginLibrary, ExportsExactlyTheThirteenEntryPoints) {
  const std::set<std::string> expected = {
      "GetLogonParameters", "Logon", "Logoff", "GetFolderNames", "GetTrueFolder",
      "GetUserList", "InitRead", "ConvertFolder", "CloseRead", "InitWrite",
      "WriteMsg", "CloseWrite", "TestFile"};
  std::set<std::string> actual = ExportedSymbols(MVGWS_PLUGIN_PATH);
  ASSERT_FALSE(actual.empty()) << "nm could not read " << MVGWS_PLUGIN_PATH;
  EXPECT_EQ(expected, actual);
}

}  // namespace
