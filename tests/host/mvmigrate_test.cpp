// The host program as a user runs it: loading the plug-in, exit codes,
// the user list conversion and the folder listing against the simulator.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "gwsim/gwsim.h"
#include "host/mvmigrate/plugin_loader.h"
#include "support/host_fixture.h"
#include "support/mvmigrate_process.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunMvmigrate;
using testing_support::RunResult;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

TEST(PluginLoader, NamesEveryMissingEntryPoint) {
  PluginApi api;
  std::string error;
  // The host library is a real shared object without any entry point.
  EXPECT_EQ(LoadPlugin(MVCOM_PATH, {"Logon", "GetFolderNames"}, &api, &error), -1);
  EXPECT_NE(error.find("Logon"), std::string::npos) << error;
  EXPECT_NE(error.find("GetFolderNames"), std::string::npos) << error;
  EXPECT_EQ(api.handle, nullptr);
  EXPECT_EQ(LoadPlugin("/nonexistent/libMVGWS.so", {}, &api, &error), -1);
  EXPECT_NE(error.find("/nonexistent/libMVGWS.so"), std::string::npos) << error;
}

TEST(PluginLoader, ResolvesTheBuiltPlugin) {
  PluginApi api;
  std::string error;
  std::string path = DefaultPluginPath();
  // The test runs from the build's bin directory, beside libMVGWS.so.
  ASSERT_EQ(LoadPlugin(path, {"GetLogonParameters", "GetUserList", "InitRead", "CloseRead", "TestFile"},
                       &api, &error), 0)
      << error;
  EXPECT_NE(api.GetUserList, nullptr);
  UnloadPlugin(&api);
  EXPECT_EQ(api.handle, nullptr);
}

TEST(Mvmigrate, HelpVersionAndUsageErrors) {
  RunResult help = RunMvmigrate("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("userlist"), std::string::npos);
  EXPECT_NE(help.output.find("--switch"), std::string::npos);
  EXPECT_NE(help.output.find("77"), std::string::npos) << "exit codes listed";
  RunResult version = RunMvmigrate("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.output.find("mvmigrate"), std::string::npos);
  EXPECT_EQ(RunMvmigrate("").exitCode, 64);
  EXPECT_EQ(RunMvmigrate("nosuchcommand").exitCode, 64);
  EXPECT_EQ(RunMvmigrate("folders --user alice").exitCode, 64) << "missing --server";
  // Checked before any logon: the server named here would answer 69.
  const std::string exportTo = " export --server http://127.0.0.1:1 --user alice";
  TestHost host;
  const std::string out = " --out '" + host.root() + "/out'";
  RunResult reversed = RunMvmigrate(out + " --from 2020-01-05 --to 2020-01-04" + exportTo, "MVMIGRATE_PASSWORD=pw");
  EXPECT_EQ(reversed.exitCode, 64) << reversed.output;
  EXPECT_NE(reversed.output.find("--from 2020-01-05 is after --to 2020-01-04"), std::string::npos) << reversed.output;
  RunResult oneDay = RunMvmigrate(out + " --from 2020-01-05 --to 2020-01-05" + exportTo, "MVMIGRATE_PASSWORD=pw");
  EXPECT_EQ(oneDay.exitCode, 69) << "a single day is a range: " << oneDay.output;
}

TEST(Mvmigrate, UnreadableInputAndUncreatableOutputHaveTheirExitCodes) {
  TestHost host;
  ASSERT_TRUE(WriteFileBytes(host.root() + "/pw", "pw\n"));
  ASSERT_TRUE(WriteFileBytes(host.root() + "/file", "a file, not a directory\n"));
  const std::string openPw = host.root() + "/open-pw", openKey = host.root() + "/open-key";
  const std::string key = host.root() + "/key";
  ASSERT_TRUE(WriteFileBytes(openPw, "pw\n") && WriteFileBytes(openKey, "Movaro\nK\n") &&
              WriteFileBytes(key, "Movaro\nK\n"));
  ASSERT_EQ(chmod(openPw.c_str(), 0644), 0);
  ASSERT_EQ(chmod(openKey.c_str(), 0640), 0);
  const std::string server = " --server http://127.0.0.1:1 --user alice";
  const std::string out = " --out '" + host.root() + "/out'";
  const struct {
    std::string args;
    int exitCode;
    std::string message;
    const char *why;
  } cases[] = {
      {out + " export" + server + " --password-file '" + host.root() + "/none'", 66,
       "cannot open password file", "export: the password file is missing"},
      {out + " import --in '" + host.root() + "'" + server + " --password-file '" + host.root() + "/none'", 66,
       "cannot open password file", "import: the password file is missing"},
      {out + " folders" + server + " --password-file '" + host.root() + "/none'", 66, "cannot open password file",
       "folders: the password file is missing"},
      {" --out '" + host.root() + "/file/out' export" + server + " --password-file '" + host.root() + "/pw'", 73,
       "cannot create directory", "the output directory lies below a file"},
      {out + " --data-dir '" + host.root() + "/file/data' export" + server + " --password-file '" + host.root() +
           "/pw'",
       73, "cannot create directory", "the data directory lies below a file"},
      {out + " export" + server + " --password-file '" + openPw + "'", 78,
       "permissions 0644 for password file " + openPw + " are too open",
       "a password file others can read is refused, named"},
      {out + " folders" + server + " --trusted-key '" + openKey + "'", 78,
       "permissions 0640 for trusted key file " + openKey + " are too open",
       "a key file its group can read is refused, named"},
      {out + " folders" + server + " --trusted-key '" + key + "'", 69, "could not be reached",
       "a trusted logon asks for no password: no terminal, no MVMIGRATE_PASSWORD, yet it goes on to the server"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    RunResult r = RunMvmigrate(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
}

TEST(Mvmigrate, MissingPluginIsReportedClearly) {
  TestHost host;
  std::string in = host.root() + "/in.txt";
  ASSERT_TRUE(WriteFileBytes(in, std::string("D\0", 2)));
  RunResult r = RunMvmigrate("--plugin '" + std::string(MVCOM_PATH) + "' --out '" + host.root() +
                    "' userlist '" + in + "' '" + host.root() + "/o.csv'");
  EXPECT_EQ(r.exitCode, 70);
  EXPECT_NE(r.output.find("GetUserList"), std::string::npos) << r.output;
}

TEST(Mvmigrate, UserListConvertsUtf16File) {
  TestHost host;
  // "\xFF\xFE" + "DisplayName : Zoë\nPrimarySmtpAddress : z@x\n" in UTF-16LE.
  std::string text = "DisplayName : Zo\xEB\nPrimarySmtpAddress : z@x\n";
  std::string utf16 = "\xFF\xFE";
  for (unsigned char c : text) {
    utf16.push_back(static_cast<char>(c));
    utf16.push_back('\0');
  }
  std::string in = host.root() + "/in.txt", out = host.root() + "/out.csv";
  ASSERT_TRUE(WriteFileBytes(in, utf16));
  RunResult r = RunMvmigrate("--out '" + host.root() + "/unused' userlist '" + in + "' '" + out + "'", "umask 022;");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(ReadFileBytes(out), "z@x;z@x;Zo\xC3\xAB\n");
  EXPECT_FALSE(testing_support::FileExists(host.root() + "/unused")) << "the conversion needs no output directory";
  struct stat st = {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "owner-only under umask 022";
  EXPECT_EQ(RunMvmigrate("--out '" + host.root() + "' userlist '" + host.root() + "/missing' '" + out + "'")
                .exitCode,
            66);
  EXPECT_EQ(RunMvmigrate("--out '" + host.root() + "' userlist '" + in + "' '" + host.root() +
                "/no/dir/out.csv'")
                .exitCode,
            73);
}

TEST(Mvmigrate, FoldersAsJsonFromTheSimulator) {
  gwsim::Server server;
  ASSERT_TRUE(server.Start()) << server.LastError();
  TestHost host;
  std::string pw = host.root() + "/pw";
  ASSERT_TRUE(WriteFileBytes(pw, "secret\n"));
  RunResult r = RunMvmigrate("-q --out '" + host.root() + "' folders --json --server " + server.url() +
                    " --user alice --password-file '" + pw + "'");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output.rfind("[", 0), 0u) << r.output;
  EXPECT_NE(r.output.find("{\"path\": \"Mailbox\", \"class\": 0, \"count\": "), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("\"class\": 2"), std::string::npos) << "a calendar";
  // The password is not in the log, not even scrambled unless asked for.
  const std::string log = ReadFileBytes(host.root() + "/data/mvmigrate.log");
  EXPECT_EQ(log.find("secret"), std::string::npos);
  EXPECT_NE(log.find("user=alice/*****\n"), std::string::npos) << log;
  r = RunMvmigrate("-q --out '" + host.root() + "/scrambled' --log-scrambled-password folders --server " +
                   server.url() + " --user alice --password-file '" + pw + "'");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::string scrambledLog = ReadFileBytes(host.root() + "/scrambled/data/mvmigrate.log");
  const size_t at = scrambledLog.find("user=alice/");
  ASSERT_NE(at, std::string::npos) << scrambledLog;
  const std::string shown = scrambledLog.substr(at + 11, scrambledLog.find('\n', at) - at - 11);
  EXPECT_EQ(shown.size(), 6u) << "the scramble keeps the length: " << shown;
  EXPECT_NE(shown, "secret");
  EXPECT_NE(shown, "*****");
}

// A whole run under the usual umask 022: every directory the host makes is
// 0700 and every file 0600 (mail, calendars, tasks, contacts, rules, state,
// log, failed-ids), and the log has no password.
TEST(Mvmigrate, EverythingARunWritesIsOwnerOnly) {
  TestHost host;
  const std::string out = host.root() + "/out";
  RunResult r = RunMvmigrate("-q --out '" + out + "' demo", "umask 022;");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  int files = 0, dirs = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(out, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    ASSERT_FALSE(ec) << ec.message();
    struct stat st = {};
    ASSERT_EQ(lstat(it->path().c_str(), &st), 0) << it->path();
    SCOPED_TRACE(it->path().string());
    if (S_ISDIR(st.st_mode)) {
      ++dirs;
      EXPECT_EQ(st.st_mode & 07777, 0700u);
    } else {
      ++files;
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
  }
  EXPECT_GE(files, 10) << "mail, calendar, tasks, contacts, rules, log and state";
  EXPECT_GE(dirs, 10);
  for (const char *name : {"/data/mvmigrate.log", "/data/mvmigrate.db", "/rules/rules.sieve"})
    EXPECT_TRUE(testing_support::FileExists(out + name)) << name;
  const std::string log = ReadFileBytes(out + "/data/mvmigrate.log");
  EXPECT_NE(log.find("/*****\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("hunter2"), std::string::npos);
}

TEST(Mvmigrate, RefusedLogonAndUnreachableServerHaveTheirExitCodes) {
  gwsim::Server server;
  ASSERT_TRUE(server.Start()) << server.LastError();
  TestHost host;
  std::string base = "-q --out '" + host.root() + "' folders --user alice --server ";
  EXPECT_EQ(RunMvmigrate(base + server.url(), "MVMIGRATE_PASSWORD=wrong").exitCode, 77);
  EXPECT_EQ(RunMvmigrate("-q --out '" + host.root() + "' folders --user nobody --server " + server.url(),
                "MVMIGRATE_PASSWORD=x")
                .exitCode,
            77);
  server.Stop();
  EXPECT_EQ(RunMvmigrate(base + "http://127.0.0.1:1", "MVMIGRATE_PASSWORD=secret").exitCode, 69);
}

}  // namespace
