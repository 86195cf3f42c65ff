// What an import run did, per folder: the closing summary and the JSON
// report with every failed message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/report/item_kinds.h"

namespace report {

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
  KindCounts kinds;                   // items created (in a dry run: that would be), by kind
  std::vector<ItemWarning> warnings;  // items read with something the record cannot hold
  std::vector<EarlierItem> earlier;   // every message counted as earlier: folder, file, subject, why
};

// The closing summary: a line per folder, the totals, the line "created by
// kind: ..." when anything was, the warnings when there are any, then the
// failed messages "folder/file: subject: reason" (at most kSummaryFailuresShown
// lines, as in the export's summary), the messages counted as earlier (as
// many lines). Ends with a newline.
std::string FormatImportSummary(const ImportReport &report);

// The report as one JSON object:
// {"in": ..., "server": ..., "user": ..., "dry_run": false, "interrupted": false, "seconds": 1.5,
//  "folders": [{"path": ..., "directory": ..., "total": 3, "created": 2, "earlier": 0,
//               "already_imported": 0, "skipped": 0, "failed": 1}],
//  "totals": {"total": 3, "created": 2, "earlier": 0, "already_imported": 0, "skipped": 0, "failed": 1},
//  "kinds": {"mail": 2, "appointments": 0, ...},    only when anything was created
//  "warnings": [{"folder": ..., "item": ..., "subject": ..., "warning": ...}],   only when there are any
//  "earlier_items": [{"folder": ..., "item": ..., "subject": ..., "why": ...}],  only when there are any
//  "failed_messages": [{"folder": ..., "file": ..., "subject": ..., "reason": ...}]}
// "earlier" and "already_imported" hold the same count ("earlier" is the
// word of both summaries and reports; the other stays for older readers).
std::string FormatImportJson(const ImportReport &report);

}  // namespace report
