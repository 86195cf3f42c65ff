// What an export run did: per folder the items stored, the duplicates
// passed over, the items left out by the date filter, the skipped and the
// failed ones, and every failed item with its id, subject and reason; shown
// as the closing summary and written as a JSON report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/report/item_kinds.h"

namespace report {

// Item status values the plug-in reports for each item.
enum {
  kStatusStored = 0,
  kStatusDuplicate = 1,
  kStatusDateFilter = 2,
  kStatusSkippedOrFailed = 6,
};

struct FolderSummary {
  std::string path;       // "^"-joined GroupWise path
  int64_t total = 0;      // items the folder holds (as the listing found them)
  int64_t stored = 0;     // written to the Maildir now
  int64_t alreadyPresent = 0;  // of those, already in the Maildir from an interrupted run
  int64_t duplicates = 0; // "earlier": exported by an earlier run, not written again
  int64_t dateFiltered = 0;
  int64_t skipped = 0;    // excluded subject or not asked for
  int64_t failed = 0;
  int64_t bytes = 0;      // size of the message files written
};

struct FailedItem {
  std::string folder;
  std::string id;       // GroupWise item id (or message id; empty when unknown)
  std::string subject;
  std::string reason;
};

// A folder of a class that no format is built for: listed, not read.
struct NotExportedFolder {
  std::string path;
  std::string what;   // its class in words: "contacts", "calendar", "tasks", ...
  int64_t total = 0;  // items it holds
};

// The mail rules an export wrote beside the folders (OUT/rules/).
struct RulesSummary {
  bool exported = false;  // the plug-in gave a rules file and it was written out
  int rules = 0;          // rules in OUT/rules/mboxrules.dat
  int added = 0;          // of them, new in this run
  int converted = 0;      // said in Sieve in OUT/rules/rules.sieve
  int commented = 0;      // kept there as comments
};

// A folder name too long to keep whole: the plug-in keeps its start and a
// digest of the whole name, and the folder's directory takes that name.
struct ShortenedFolder {
  std::string path;    // "^"-joined path up to the shortened level, as exported
  std::string name;    // the level's whole name, as the server gave it
  std::string onDisk;  // the level's directory name
};

// How the mail written was made, when the export asked for originals.
struct MailForms {
  bool asked = false;       // the plug-in was asked for received mail as it arrived
  int64_t asReceived = 0;   // written as the original message
  int64_t converted = 0;    // built from GroupWise's record (no original, or too large)
  int64_t tooLarge = 0;     // of the converted, those whose original is above the size limit
};

// "mail: 3 as received, 2 converted (1 with its original above the size
// limit)\n": the summary's line; "" when originals were not asked for or
// none was met.
std::string MailFormsLine(const MailForms &forms);

struct ExportReport {
  std::string server, user, outDir;
  bool dryRun = false;
  bool retryFailed = false;
  bool interrupted = false;  // stopped by the user before the end
  double seconds = 0;
  std::vector<FolderSummary> folders;
  std::vector<FailedItem> failures;
  // Every item counted as earlier, and every one found already in the
  // Maildir folder (counted as stored): folder, id, subject and why.
  std::vector<EarlierItem> earlier;
  KindCounts kinds;                    // items stored (now or by an interrupted run), by kind
  std::vector<ItemWarning> warnings;   // items stored with something changed or left out
  // Items stored with a text part in place of an attachment the server
  // would not deliver (a retry of failed items): text is the part's sentence.
  std::vector<ItemWarning> lostAttachments;
  std::vector<ShortenedFolder> shortenedFolders;
  std::vector<NotExportedFolder> notExported;
  RulesSummary rules;
  MailForms forms;
};

// Counts one item of status (see above) into folder; failed tells a status
// 6 item that failed from one that was skipped on purpose. Unknown
// statuses count as skipped.
void CountItem(FolderSummary *folder, int status, bool failed);

// The sums over all folders (path "total").
FolderSummary Totals(const ExportReport &report);

// Failed items the summary lists one by one; past this many it lists one
// less and says how many more there are.
const size_t kSummaryFailuresShown = 20;

// The closing summary: a table with a line per folder and the totals; when
// there are any, the line "stored by kind: ...", the folders not exported,
// the warnings, the items stored with a lost attachment, the folder names
// shortened and the items already exported ("earlier"); then the failed
// items, one per line (at most kSummaryFailuresShown lines). Plain text
// ending with a newline.
std::string FormatSummary(const ExportReport &report);

// "mail rules: 3 in rules/mboxrules.dat (1 new), 2 as Sieve and 1 kept as
// comments in rules/rules.sieve\n": the summary's rules line.
std::string RulesLine(const RulesSummary &rules);

// The report as one JSON object:
// {"server": ..., "user": ..., "out": ..., "dry_run": false, "retry_failed": false,
//  "interrupted": false, "seconds": 1.5,
//  "folders": [{"path": ..., "total": 3, "stored": 2, "already_present": 0, "earlier": 0,
//               "duplicates": 0, "date_filtered": 0, "skipped": 0, "failed": 1, "bytes": 5120}],
//  "totals": {same fields but path},
//  "kinds": {"mail": 2, "appointments": 0, ...},           only when something was stored
//  "mail_forms": {"as_received": 3, "converted": 2, "original_too_large": 1},   only when asked for
//  "rules": {"total": 3, "new": 1, "sieve": 2, "comments": 1},   only when rules were exported
//  "not_exported": [{"path": ..., "class": "contacts", "total": 3}],   only when there are any
//  "warnings": [{"folder": ..., "item": ..., "subject": ..., "warning": ...}],   only when there are any
//  "lost_attachments": [{"folder": ..., "item": ..., "subject": ..., "lost": ...}],  only when there are any
//  "shortened_folders": [{"path": ..., "name": ..., "on_disk": ...}],  only when there are any
//  "earlier_items": [{"folder": ..., "item": ..., "subject": ..., "why": ...}],  only when there are any
//  "failed_items": [{"folder": ..., "id": ..., "subject": ..., "reason": ...}]}
// "earlier" and "duplicates" hold the same count: "earlier" is the word of
// both summaries and reports; "duplicates" stays for readers of older reports.
// Texts that are not valid UTF-8 have the offending bytes replaced by U+FFFD.
std::string FormatReportJson(const ExportReport &report);

// JSON string literal of text (quotes included).
std::string JsonText(const std::string &text);

// Writes the JSON report to path as WriteOutputFile does ("-" standard
// output, a device or FIFO in place, else a temporary file renamed over
// path, owner-only). Returns 0, or -1 with *error set (path then unchanged).
int WriteReportFile(const std::string &path, const ExportReport &report, std::string *error);

// Writes text to path the same way. Returns 0, or -1 with *error set.
int WriteTextFile(const std::string &path, const std::string &text, std::string *error);

}  // namespace report
