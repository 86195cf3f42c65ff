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

struct ImportOptions {
  std::string inDir;                 // DIR: the tree is DIR/mail/ when that exists, else DIR
  std::vector<std::string> folders;  // GroupWise paths; each takes its subfolders too; empty: all
  bool dryRun = false;               // read and convert every message, log on to nothing
  std::string reportPath;            // JSON report; empty: none
};

// What happened to the messages of one folder.
struct ImportFolderSummary {
  std::string path;       // GroupWise path written to
  std::string directory;  // the Maildir folder read
  int64_t total = 0;      // message files found
  int64_t created = 0;    // written now (in a dry run: would be)
  int64_t alreadyImported = 0;  // written by an earlier run, or a second copy in this run
  int64_t skipped = 0;    // excluded subject
  int64_t failed = 0;
};

struct ImportFailure {
  std::string folder, file, subject, reason;
};

struct ImportReport {
  std::string inDir, server, user;
  bool dryRun = false;
  bool interrupted = false;
  double seconds = 0;
  std::vector<ImportFolderSummary> folders;
  std::vector<ImportFailure> failures;
};

// Exit code of an import: kExitOk when every message was created or passed
// over on purpose, 75 when any failed, 130 when stopped by Ctrl-C.
int ImportExitCode(const ImportReport &report);

// The tree's mail root: DIR/mail when it is a directory, else DIR.
std::string ImportMailRoot(const std::string &inDir);

// True when path is one of wanted or below one of them ("Cabinet" takes
// "Cabinet^Projects"); every path when wanted is empty.
bool ImportFolderWanted(const std::string &path, const std::vector<std::string> &wanted);

// The closing summary: a line per folder, the totals, then every failed
// message "folder/file: subject: reason". Ends with a newline.
std::string FormatImportSummary(const ImportReport &report);

// The report as one JSON object:
// {"in": ..., "server": ..., "user": ..., "dry_run": false, "interrupted": false, "seconds": 1.5,
//  "folders": [{"path": ..., "directory": ..., "total": 3, "created": 2, "already_imported": 0,
//               "skipped": 0, "failed": 1}],
//  "totals": {"total": 3, "created": 2, "already_imported": 0, "skipped": 0, "failed": 1},
//  "failed_messages": [{"folder": ..., "file": ..., "subject": ..., "reason": ...}]}
std::string FormatImportJson(const ImportReport &report);

// Reads the tree, logs on (not in a dry run), writes every selected folder's
// new messages, logs off, prints the summary and writes the report. Returns
// ImportExitCode, or the exit code of what stopped the run (66 no tree or an
// unknown --folder, 73 report not writable, logon and set-up codes).
int RunImport(const HostOptions &host, const LogonOptions &logon, const ImportOptions &options);

// The same with the password already known (the demo's).
int RunImportWithPassword(const HostOptions &host, const LogonOptions &logon,
                          const ImportOptions &options, const std::string &password,
                          ImportReport *report);
