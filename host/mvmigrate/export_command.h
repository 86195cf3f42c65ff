// `mvmigrate export`: every folder of a GroupWise mailbox whose class has a
// format (mail as Maildirs under OUT/mail/, ...) written through its item
// store, incrementally, with progress, a closing summary and an optional
// JSON report; and the export demo against the built-in simulator.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/store/item_store.h"

#include "host/mvmigrate/commands.h"
#include "host/mvmigrate/host_setup.h"
#include "host/report/export_report.h"

struct ExportOptions {
  std::vector<std::string> folders;  // "^"-joined paths; each takes its subfolders too; empty: all
  bool dryRun = false;       // list folders and counts, convert nothing
  bool retryFailed = false;  // convert only the items the last run listed as failed
  int maxAttachKB = 0;       // attachments above this many thousand bytes are left out; 0: no limit
  std::string reportPath;    // JSON report; empty: none
  bool jsonSummary = false;  // print the JSON report on stdout instead of the table
  bool originals = true;     // /MIME822: received mail as it arrived (--no-originals: converted, as before)
  bool rules = true;         // /MAILRULES: the mail rules into OUT/rules/ (--no-rules turns it off)
  bool writerThread = true;  // items written by a second thread while the next is fetched (--no-writer-thread: off)
  // The store of a folder class below OUT/ (null: that class is not
  // exported). Empty: store::MakeExportStore. Tests put stores of their own here.
  std::function<std::unique_ptr<store::ExportStore>(int folderClass, const std::string &outDir)> makeStore;
};

// Exit codes of an export besides those of host_setup.h.
enum {
  kExitItemsFailed = 75,  // EX_TEMPFAIL: some items failed; --retry-failed takes them again
  kExitInterrupted = 130, // stopped by Ctrl-C after the current item; run again to go on
};

// Logs on, exports the selected folders of every class that has a store
// (the others are listed as not exported), logs off, prints the summary.
// Returns kExitOk when every item was stored or passed over on purpose,
// kExitItemsFailed when any failed, kExitInterrupted after Ctrl-C, or the
// exit code of what stopped the run.
int RunExport(const HostOptions &host, const LogonOptions &logon, const ExportOptions &options);

// Starts the built-in simulator with its demo mailbox, exports alice's
// mailbox into OUT/mail/, imports that tree into bob's mailbox, prints both
// summaries and tells where the messages are. Returns the export's exit code
// when it did not succeed, else the import's.
int RunExportDemo(const HostOptions &host, bool tls, bool json);

// The closing line on standard error after items failed: which command
// takes them again (--retry-failed for the items the plug-in listed, a
// plain export for those whose write failed after they were stored).
std::string FailedItemsLine(const report::ExportReport &report);

// The failed-ids list after a run that converted only some folders: the
// blocks ("FolderNumber=..;NAME" up to "msgid=;") of `previous` whose folder
// name has no block in `current` are appended to `current`, so that a run
// limited to some folders keeps the failures of the others. Returns the
// merged text.
std::string MergeFailedIds(const std::string &previous, const std::string &current);
