// The mvmigrate commands: userlist, folders and the demo.
#include "host/mvmigrate/commands.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/folder_report.h"
#include "host/mvmigrate/plugin_loader.h"
#include "host/mvmigrate/private_files.h"
#include "platform/bounded_text.h"

namespace {

std::vector<FolderEntry> *gCollectedFolders = nullptr;

int MV_CALL CollectFolder(const char *tag) {
  FolderEntry entry;
  if (gCollectedFolders != nullptr && ParseFolderTag(tag, &entry) == 0)
    gCollectedFolders->push_back(entry);
  return 0;
}

int MV_CALL NotifyHost(int, const char *key, int value, int *, int *, int *) {
  if (key != nullptr && strcmp(key, "MailboxMessageCount") == 0)
    com_Log("Host: folder item count corrected by %d", value);
  return 0;
}

int LoadOrReport(const HostOptions &host, const std::vector<std::string> &needed,
                 PluginApi *api) {
  std::string error;
  std::string path = host.pluginPath.empty() ? DefaultPluginPath() : host.pluginPath;
  if (LoadPlugin(path, needed, api, &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    return kExitSoftware;
  }
  return kExitOk;
}

// Exit code for a Logon result.
int LogonExitCode(int result) {
  switch (result) {
    case 0: return kExitOk;
    case 1:
    case 2: return kExitNoPerm;
    case 3: return kExitUnavailable;
    default: return kExitProtocol;
  }
}

const char *LogonFailureText(int result) {
  switch (result) {
    case 1: return "the server does not know this user";
    case 2: return "the server refused the password";
    case 3: return "the server could not be reached or did not answer the login (see the log)";
    default: return "the logon failed (see the log)";
  }
}

int ReadPasswordFromTerminal(std::string *password) {
  if (!isatty(STDIN_FILENO)) return -1;
  fprintf(stderr, "Password: ");
  fflush(stderr);
  struct termios old, quiet;
  tcgetattr(STDIN_FILENO, &old);
  quiet = old;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  std::string line;
  bool ok = static_cast<bool>(std::getline(std::cin, line));
  tcsetattr(STDIN_FILENO, TCSANOW, &old);
  fprintf(stderr, "\n");
  if (!ok) return -1;
  *password = line;
  return 0;
}

// Logs on with the loaded plug-in, collects the folders, logs off.
int ListFolders(const PluginApi &api, const LogonOptions &logon, const std::string &password,
                std::vector<FolderEntry> *folders) {
  // Host buffers: Logon may rewrite the user (proxy) and the password.
  char user[1024];
  char pass[4096];
  CopyText(user, sizeof user, logon.user.c_str());
  CopyText(pass, sizeof pass, password.c_str());
  AskLogonForm(api);
  int result = api.Logon(user, pass, logon.server.c_str(), nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                         logon.allAddressBooks ? 1 : 0, nullptr, nullptr, &NotifyHost);
  memset(pass, 0, sizeof pass);
  if (result != 0) {
    std::cerr << "mvmigrate: logon to " << logon.server << " as " << logon.user
              << " failed: " << LogonFailureText(result) << "\n";
    api.Logoff(0);
    return LogonExitCode(result);
  }
  gCollectedFolders = folders;
  api.GetFolderNames(0, &CollectFolder);
  gCollectedFolders = nullptr;
  // The table holds the exact paths; the tags only carry them for display.
  for (size_t i = 0; i < folders->size(); ++i) {
    char path[kHostPathSize] = "";
    api.GetTrueFolder(static_cast<int>(i), path);
    (*folders)[i].path = path;
  }
  api.Logoff(0);
  return kExitOk;
}

}  // namespace

std::vector<std::string> LogonSwitches(const LogonOptions &logon) {
  std::vector<std::string> extra;
  if (!logon.trustedKey.empty()) extra = {"/TRUSTED", "/GWAPPKEY", logon.trustedKey};
  if (logon.tlsVerify) extra.push_back("/TLSVERIFY");
  if (!logon.tlsCaFile.empty()) {
    extra.push_back("/TLSCAFILE");
    extra.push_back(logon.tlsCaFile);
  }
  return extra;
}

namespace {

int FoldersWithPassword(const HostOptions &host, const LogonOptions &logon,
                        const std::string &password, bool json) {
  std::vector<std::string> extra = LogonSwitches(logon);
  int rc = SetUpHost(host, extra);
  if (rc != kExitOk) return rc;
  PluginApi api;
  rc = LoadOrReport(host, {"GetLogonParameters", "Logon", "Logoff", "GetFolderNames",
                           "GetTrueFolder"},
                    &api);
  if (rc != kExitOk) return rc;
  std::vector<FolderEntry> folders;
  rc = ListFolders(api, logon, password, &folders);
  UnloadPlugin(&api);
  mvcom_Shutdown();
  if (rc != kExitOk) return rc;
  std::cout << (json ? FolderJson(folders) : FolderTree(folders));
  return kExitOk;
}

}  // namespace

int ReadPassword(const LogonOptions &logon, std::string *password, std::string *error) {
  if (!logon.trustedKey.empty()) {
    // The key stands in for the password: none is read or asked for.
    password->clear();
    return CheckSecretFile(logon.trustedKey, "trusted key file", error);
  }
  if (!logon.passwordFile.empty()) {
    if (int rc = CheckSecretFile(logon.passwordFile, "password file", error); rc != kExitOk) return rc;
    std::ifstream in(logon.passwordFile);
    if (!in) {
      *error = "cannot open password file " + logon.passwordFile;
      return kExitNoInput;
    }
    std::getline(in, *password);
    while (!password->empty() && (password->back() == '\r' || password->back() == '\n'))
      password->pop_back();
    return kExitOk;
  }
  if (const char *env = getenv("MVMIGRATE_PASSWORD")) {
    *password = env;
    return kExitOk;
  }
  if (ReadPasswordFromTerminal(password) == 0) return kExitOk;
  *error = "no password: give --password-file, set MVMIGRATE_PASSWORD, or run on a terminal";
  return kExitUsage;
}

int RunUserList(const HostOptions &host, const std::string &in, const std::string &out) {
  if (FILE *f = fopen(in.c_str(), "rb")) {
    fclose(f);
  } else {
    std::cerr << "mvmigrate: cannot open user list " << in << "\n";
    return kExitNoInput;
  }
  // The conversion keeps no log or state: it makes no output directory.
  int rc = SetUpHost(host, {}, false);
  if (rc != kExitOk) return rc;
  PluginApi api;
  rc = LoadOrReport(host, {"GetUserList"}, &api);
  if (rc != kExitOk) return rc;
  int done = api.GetUserList(in.c_str(), out.c_str());
  UnloadPlugin(&api);
  mvcom_Shutdown();
  if (!done) {
    std::cerr << "mvmigrate: cannot create " << out << "\n";
    return kExitCantCreate;
  }
  return kExitOk;
}

int RunFolders(const HostOptions &host, const LogonOptions &logon, bool json) {
  std::string password, error;
  if (int rc = ReadPassword(logon, &password, &error); rc != kExitOk) {
    std::cerr << "mvmigrate: " << error << "\n";
    return rc;
  }
  return FoldersWithPassword(host, logon, password, json);
}
