// `mvmigrate import`: the items every import source finds below DIR (mail
// as `export` writes it under DIR/mail/ or as mail programs leave it, and
// the other formats beside it) written into a GroupWise mailbox through the
// plug-in's InitWrite/WriteMsg/CloseWrite, incrementally, with progress, a
// closing summary and an optional JSON report.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/store/item_store.h"

#include "host/mvmigrate/commands.h"
#include "host/mvmigrate/host_setup.h"
#include "host/report/import_report.h"

using report::ImportFailure;
using report::ImportFolderSummary;
using report::ImportReport;

struct ImportOptions {
  std::string inDir;                 // DIR: read by every source of store::MakeImportSources
  std::vector<std::string> folders;  // GroupWise paths; each takes its subfolders too; empty: all
  bool dryRun = false;               // read and convert every message, log on to nothing
  std::string reportPath;            // JSON report; empty: none
  // The next item is converted while the plug-in writes one (off with
  // --no-read-ahead: each is converted when its turn comes).
  bool readAhead = true;
  // The sources that read DIR. Empty: store::MakeImportSources. Tests put
  // sources of their own here.
  std::function<std::vector<std::unique_ptr<store::ImportSource>>(const std::string &inDir)> makeSources;
};

// Exit code of an import: kExitOk when every message was created or passed
// over on purpose, 75 when any failed, 130 when stopped by Ctrl-C.
int ImportExitCode(const ImportReport &report);

// True when path is one of wanted or below one of them ("Cabinet" takes
// "Cabinet^Projects"); every path when wanted is empty.
bool ImportFolderWanted(const std::string &path, const std::vector<std::string> &wanted);

// Lists every source's folders, logs on (not in a dry run), writes every
// selected folder's new items with InitWrite for the folder's class, logs
// off, prints the summary and writes the report. Returns ImportExitCode, or
// the exit code of what stopped the run (66 a source that cannot list DIR
// or an unknown --folder, 73 report not writable, logon and set-up codes).
int RunImport(const HostOptions &host, const LogonOptions &logon, const ImportOptions &options);

// The same with the password already known (the demo's).
int RunImportWithPassword(const HostOptions &host, const LogonOptions &logon,
                          const ImportOptions &options, const std::string &password,
                          ImportReport *report);
