// `mvmigrate import`: the messages of a Maildir tree (as `export` writes it
// under DIR/mail/, or as mail programs leave it) written into a GroupWise
// mailbox through the plug-in's InitWrite/WriteMsg/CloseWrite, incrementally,
// with progress, a closing summary and an optional JSON report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/mvmigrate/commands.h"
#include "host/mvmigrate/host_setup.h"
#include "host/report/import_report.h"

using report::ImportFailure;
using report::ImportFolderSummary;
using report::ImportReport;

struct ImportOptions {
  std::string inDir;                 // DIR: the tree is DIR/mail/ when that exists, else DIR
  std::vector<std::string> folders;  // GroupWise paths; each takes its subfolders too; empty: all
  bool dryRun = false;               // read and convert every message, log on to nothing
  std::string reportPath;            // JSON report; empty: none
};

// Exit code of an import: kExitOk when every message was created or passed
// over on purpose, 75 when any failed, 130 when stopped by Ctrl-C.
int ImportExitCode(const ImportReport &report);

// The tree's mail root: DIR/mail when it is a directory, else DIR.
std::string ImportMailRoot(const std::string &inDir);

// True when path is one of wanted or below one of them ("Cabinet" takes
// "Cabinet^Projects"); every path when wanted is empty.
bool ImportFolderWanted(const std::string &path, const std::vector<std::string> &wanted);

// Reads the tree, logs on (not in a dry run), writes every selected folder's
// new messages, logs off, prints the summary and writes the report. Returns
// ImportExitCode, or the exit code of what stopped the run (66 no tree or an
// unknown --folder, 73 report not writable, logon and set-up codes).
int RunImport(const HostOptions &host, const LogonOptions &logon, const ImportOptions &options);

// The same with the password already known (the demo's).
int RunImportWithPassword(const HostOptions &host, const LogonOptions &logon,
                          const ImportOptions &options, const std::string &password,
                          ImportReport *report);
