// The closing summary and the JSON report of an export run.
#include "host/report/export_report.h"

#include <cstdio>

#include "host/report/output_file.h"
#include "platform/bounded_text.h"

namespace report {

void CountItem(FolderSummary *folder, int status, bool failed) {
  switch (status) {
    case kStatusStored: ++folder->stored; break;
    case kStatusDuplicate: ++folder->duplicates; break;
    case kStatusDateFilter: ++folder->dateFiltered; break;
    default:
      if (failed)
        ++folder->failed;
      else
        ++folder->skipped;
  }
}

FolderSummary Totals(const ExportReport &report) {
  FolderSummary t;
  t.path = "total";
  for (const FolderSummary &f : report.folders) {
    t.total += f.total;
    t.stored += f.stored;
    t.alreadyPresent += f.alreadyPresent;
    t.duplicates += f.duplicates;
    t.dateFiltered += f.dateFiltered;
    t.skipped += f.skipped;
    t.failed += f.failed;
    t.bytes += f.bytes;
  }
  return t;
}

namespace {

std::string SummaryRow(const FolderSummary &f, size_t pathWidth) {
  char row[256];
  FormatText(row, sizeof row, " %8lld %8lld %10lld %8lld %8lld %8lld\n", static_cast<long long>(f.total),
             static_cast<long long>(f.stored), static_cast<long long>(f.duplicates),
             static_cast<long long>(f.dateFiltered), static_cast<long long>(f.skipped),
             static_cast<long long>(f.failed));
  std::string path = f.path;
  if (path.size() < pathWidth) path.append(pathWidth - path.size(), ' ');
  return path + row;
}

// Appends the JSON escape of one code point below 0x80 or the UTF-8 bytes
// of a valid sequence; returns the bytes consumed (an invalid byte: 1,
// written as U+FFFD).
size_t AppendJsonChar(const std::string &text, size_t i, std::string *out) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) {
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          FormatText(buf, sizeof buf, "\\u%04x", c);
          *out += buf;
        } else {
          *out += static_cast<char>(c);
        }
    }
    return 1;
  }
  size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (c >= 0xF5) len = 0;
  bool valid = len > 0 && i + len <= text.size();
  uint32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; valid && k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(text[i + k]);
    if ((cc & 0xC0) != 0x80) valid = false;
    cp = (cp << 6) | (cc & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are invalid.
  if (valid && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
    valid = false;
  if (!valid) {
    *out += "\\ufffd";
    return 1;
  }
  out->append(text, i, len);
  return len;
}

std::string CountsJson(const FolderSummary &f, bool withPath) {
  std::string out = "{";
  if (withPath) out += "\"path\": " + JsonText(f.path) + ", ";
  out += "\"total\": " + std::to_string(f.total) + ", \"stored\": " + std::to_string(f.stored) +
         ", \"already_present\": " + std::to_string(f.alreadyPresent) +
         ", \"earlier\": " + std::to_string(f.duplicates) + ", \"duplicates\": " + std::to_string(f.duplicates) +
         ", \"date_filtered\": " + std::to_string(f.dateFiltered) +
         ", \"skipped\": " + std::to_string(f.skipped) + ", \"failed\": " + std::to_string(f.failed) +
         ", \"bytes\": " + std::to_string(f.bytes) + "}";
  return out;
}

const char *Bool(bool b) { return b ? "true" : "false"; }

// "Folder names shortened (N):" and a line per name: its path, its
// directory and the whole name. "" when there is none.
std::string ShortenedFoldersSummary(const std::vector<ShortenedFolder> &folders) {
  if (folders.empty()) return "";
  std::string out = "\nFolder names shortened (" + std::to_string(folders.size()) + "):\n";
  for (const ShortenedFolder &f : folders)
    out += "  " + f.path + "  directory " + f.onDisk + "  whole name: " + f.name + "\n";
  return out;
}

std::string ShortenedFoldersJson(const std::vector<ShortenedFolder> &folders) {
  std::string out = "[";
  for (size_t i = 0; i < folders.size(); ++i)
    out += std::string(i == 0 ? "\n    " : ",\n    ") + "{\"path\": " + JsonText(folders[i].path) +
           ", \"name\": " + JsonText(folders[i].name) + ", \"on_disk\": " + JsonText(folders[i].onDisk) + "}";
  return out + "\n  ]";
}

}  // namespace

std::string JsonText(const std::string &text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) i += AppendJsonChar(text, i, &out);
  return out + "\"";
}

std::string RulesLine(const RulesSummary &rules) {
  return "mail rules: " + std::to_string(rules.rules) + " in rules/mboxrules.dat (" + std::to_string(rules.added) +
         " new), " + std::to_string(rules.converted) + " as Sieve and " + std::to_string(rules.commented) +
         " kept as comments in rules/rules.sieve\n";
}

std::string MailFormsLine(const MailForms &forms) {
  // A mailbox without any original mail reads as before.
  if (!forms.asked || forms.asReceived + forms.tooLarge == 0) return "";
  std::string line = "mail: " + std::to_string(forms.asReceived) + " as received, " + std::to_string(forms.converted) +
                     " converted";
  if (forms.tooLarge > 0) line += " (" + std::to_string(forms.tooLarge) + " with its original above the size limit)";
  return line + "\n";
}

std::string FormatSummary(const ExportReport &report) {
  size_t width = 6;
  for (const FolderSummary &f : report.folders)
    if (f.path.size() > width) width = f.path.size();
  std::string header = "folder";
  header.append(width - header.size(), ' ');
  // "earlier": items a run before this one exported (the plug-in calls them
  // duplicates), as in the import summary.
  std::string out = header + "    items   stored    earlier  by date  skipped   failed\n";
  for (const FolderSummary &f : report.folders) out += SummaryRow(f, width);
  out += SummaryRow(Totals(report), width);
  if (AnyKind(report.kinds)) out += "stored by kind: " + KindsLine(report.kinds) + "\n";
  out += MailFormsLine(report.forms);
  if (report.rules.exported) out += RulesLine(report.rules);
  if (!report.notExported.empty()) {
    out += "\nNot exported (no format for their class):\n";
    for (const NotExportedFolder &f : report.notExported)
      out += "  " + f.path + "  " + f.what + ", " + std::to_string(f.total) + (f.total == 1 ? " item\n" : " items\n");
  }
  if (!report.warnings.empty()) out += "\n" + WarningsSummary(report.warnings);
  if (!report.lostAttachments.empty())
    out += "\n" + ItemListSummary("Stored with a lost attachment", report.lostAttachments);
  out += ShortenedFoldersSummary(report.shortenedFolders);
  if (!report.earlier.empty()) out += "\n" + ItemListSummary("Already exported, not written again", report.earlier);
  if (!report.failures.empty()) {
    out += "\nFailed items (" + std::to_string(report.failures.size()) + "):\n";
    // A server gone mid-run fails thousands of items: the first ones tell
    // what happened, the JSON report lists every one.
    const size_t shown = LinesShown(report.failures.size());
    for (size_t i = 0; i < shown; ++i) {
      const FailedItem &f = report.failures[i];
      out += "  " + f.folder + "  id=" + (f.id.empty() ? "(unknown)" : f.id) + "  subject=\"" + f.subject +
             "\"  " + f.reason + "\n";
    }
    const std::string more = MoreLine(report.failures.size(), shown);
    if (!more.empty()) out += "  " + more;
  }
  if (report.interrupted) out += "\nInterrupted: run the same command again to go on.\n";
  return out;
}

std::string FormatReportJson(const ExportReport &report) {
  char seconds[64];
  FormatText(seconds, sizeof seconds, "%.3f", report.seconds);
  std::string out = "{\n  \"server\": " + JsonText(report.server) + ",\n  \"user\": " + JsonText(report.user) +
                    ",\n  \"out\": " + JsonText(report.outDir) + ",\n  \"dry_run\": " + Bool(report.dryRun) +
                    ",\n  \"retry_failed\": " + Bool(report.retryFailed) +
                    ",\n  \"interrupted\": " + Bool(report.interrupted) + ",\n  \"seconds\": " + seconds +
                    ",\n  \"folders\": [";
  for (size_t i = 0; i < report.folders.size(); ++i)
    out += (i == 0 ? "\n    " : ",\n    ") + CountsJson(report.folders[i], true);
  out += report.folders.empty() ? "],\n" : "\n  ],\n";
  out += "  \"totals\": " + CountsJson(Totals(report), false) + ",\n";
  if (AnyKind(report.kinds)) out += "  \"kinds\": " + KindsJson(report.kinds) + ",\n";
  if (report.forms.asked)
    out += "  \"mail_forms\": {\"as_received\": " + std::to_string(report.forms.asReceived) + ", \"converted\": " +
           std::to_string(report.forms.converted) + ", \"original_too_large\": " +
           std::to_string(report.forms.tooLarge) + "},\n";
  if (report.rules.exported)
    out += "  \"rules\": {\"total\": " + std::to_string(report.rules.rules) + ", \"new\": " +
           std::to_string(report.rules.added) + ", \"sieve\": " + std::to_string(report.rules.converted) +
           ", \"comments\": " + std::to_string(report.rules.commented) + "},\n";
  if (!report.notExported.empty()) {
    out += "  \"not_exported\": [";
    for (size_t i = 0; i < report.notExported.size(); ++i) {
      const NotExportedFolder &f = report.notExported[i];
      out += std::string(i == 0 ? "\n    " : ",\n    ") + "{\"path\": " + JsonText(f.path) +
             ", \"class\": " + JsonText(f.what) + ", \"total\": " + std::to_string(f.total) + "}";
    }
    out += "\n  ],\n";
  }
  if (!report.warnings.empty()) out += "  \"warnings\": " + WarningsJson(report.warnings, "    ") + ",\n";
  if (!report.lostAttachments.empty())
    out += "  \"lost_attachments\": " + ItemListJson(report.lostAttachments, "    ", "lost") + ",\n";
  if (!report.shortenedFolders.empty())
    out += "  \"shortened_folders\": " + ShortenedFoldersJson(report.shortenedFolders) + ",\n";
  if (!report.earlier.empty()) out += "  \"earlier_items\": " + ItemListJson(report.earlier, "    ", "why") + ",\n";
  out += "  \"failed_items\": [";
  for (size_t i = 0; i < report.failures.size(); ++i) {
    const FailedItem &f = report.failures[i];
    out += (i == 0 ? "\n    " : ",\n    ");
    out += "{\"folder\": " + JsonText(f.folder) + ", \"id\": " + JsonText(f.id) +
           ", \"subject\": " + JsonText(f.subject) + ", \"reason\": " + JsonText(f.reason) + "}";
  }
  out += report.failures.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

int WriteReportFile(const std::string &path, const ExportReport &report, std::string *error) {
  return WriteTextFile(path, FormatReportJson(report), error);
}

int WriteTextFile(const std::string &path, const std::string &text, std::string *error) {
  return WriteOutputFile(path, text, false, error);
}

}  // namespace report
