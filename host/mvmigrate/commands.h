// The mvmigrate commands. Each returns an exit code (host_setup.h).
#pragma once

#include <string>
#include <vector>

#include "host/mvmigrate/host_setup.h"

struct LogonOptions {
  std::string server;        // base address, e.g. https://gw.example.com:7191
  std::string user;
  std::string passwordFile;  // else MVMIGRATE_PASSWORD, else a prompt
  std::string trustedKey;    // key file: log on as a trusted application
  bool allAddressBooks = false;
  bool tlsVerify = false;    // check the server's certificate (system authorities)
  std::string tlsCaFile;     // ... against the certificates in this PEM file
};

// The plug-in switches the logon options ask for: the trusted application's
// key, the checks of the server's certificate.
std::vector<std::string> LogonSwitches(const LogonOptions &logon);

int RunUserList(const HostOptions &host, const std::string &in, const std::string &out);

// Logs on, prints the folder tree (or JSON), logs off.
int RunFolders(const HostOptions &host, const LogonOptions &logon, bool json);

// Reads the password as the options say; a trusted-application logon
// (--trusted-key) needs none and leaves it empty. The password file and the
// key file must be owner-only. Returns kExitOk, or with *error set
// kExitNoInput (the file cannot be opened), kExitConfig (the file is open to
// group or others) or kExitUsage (no password given and no terminal to ask on).
int ReadPassword(const LogonOptions &logon, std::string *password, std::string *error);
