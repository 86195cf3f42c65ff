// The import's closing summary and JSON report.
#include "host/report/import_report.h"

#include <sstream>

#include "host/report/export_report.h"
#include "platform/bounded_text.h"

namespace report {
namespace {

void AddTo(ImportFolderSummary *sum, const ImportFolderSummary &f) {
  sum->total += f.total;
  sum->created += f.created;
  sum->alreadyImported += f.alreadyImported;
  sum->skipped += f.skipped;
  sum->failed += f.failed;
}

std::string CountsJson(const ImportFolderSummary &f) {
  std::ostringstream out;
  out << "\"total\": " << f.total << ", \"created\": " << f.created << ", \"earlier\": " << f.alreadyImported
      << ", \"already_imported\": " << f.alreadyImported << ", \"skipped\": " << f.skipped
      << ", \"failed\": " << f.failed;
  return out.str();
}

}  // namespace

std::string FormatImportSummary(const ImportReport &report) {
  std::ostringstream out;
  char line[512];
  FormatText(line, sizeof line, "%-32s %7s %8s %8s %7s %6s\n", "folder", "found",
             report.dryRun ? "to write" : "created", "earlier", "skipped", "failed");
  out << line;
  ImportFolderSummary totals;
  for (const ImportFolderSummary &f : report.folders) {
    FormatText(line, sizeof line, "%-32s %7lld %8lld %8lld %7lld %6lld\n", f.path.c_str(),
               static_cast<long long>(f.total), static_cast<long long>(f.created),
               static_cast<long long>(f.alreadyImported), static_cast<long long>(f.skipped),
               static_cast<long long>(f.failed));
    out << line;
    AddTo(&totals, f);
  }
  FormatText(line, sizeof line, "%-32s %7lld %8lld %8lld %7lld %6lld\n", "total",
             static_cast<long long>(totals.total), static_cast<long long>(totals.created),
             static_cast<long long>(totals.alreadyImported), static_cast<long long>(totals.skipped),
             static_cast<long long>(totals.failed));
  out << line;
  if (AnyKind(report.kinds))
    out << (report.dryRun ? "to write by kind: " : "created by kind: ") << KindsLine(report.kinds) << "\n";
  out << WarningsSummary(report.warnings);
  out << ItemListSummary("Already imported, not written again", report.earlier);
  const size_t shown = LinesShown(report.failures.size());
  for (size_t i = 0; i < shown; ++i) {
    const ImportFailure &f = report.failures[i];
    out << "failed: " << f.folder << "/" << f.file << ": " << f.subject << ": " << f.reason << "\n";
  }
  out << MoreLine(report.failures.size(), shown);
  if (report.interrupted) out << "stopped before the end: run again to go on\n";
  return out.str();
}

std::string FormatImportJson(const ImportReport &report) {
  std::ostringstream out;
  out << "{\"in\": " << JsonText(report.inDir) << ", \"server\": " << JsonText(report.server)
      << ", \"user\": " << JsonText(report.user)
      << ", \"dry_run\": " << (report.dryRun ? "true" : "false")
      << ", \"interrupted\": " << (report.interrupted ? "true" : "false") << ", \"seconds\": ";
  char seconds[32];
  FormatText(seconds, sizeof seconds, "%.1f", report.seconds);
  out << seconds << ",\n \"folders\": [";
  ImportFolderSummary totals;
  for (size_t i = 0; i < report.folders.size(); ++i) {
    const ImportFolderSummary &f = report.folders[i];
    out << (i ? ",\n  " : "\n  ") << "{\"path\": " << JsonText(f.path)
        << ", \"directory\": " << JsonText(f.directory) << ", " << CountsJson(f) << "}";
    AddTo(&totals, f);
  }
  out << "],\n \"totals\": {" << CountsJson(totals) << "},\n";
  if (AnyKind(report.kinds)) out << " \"kinds\": " << KindsJson(report.kinds) << ",\n";
  if (!report.warnings.empty()) out << " \"warnings\": " << WarningsJson(report.warnings, "  ") << ",\n";
  if (!report.earlier.empty()) out << " \"earlier_items\": " << ItemListJson(report.earlier, "  ", "why") << ",\n";
  out << " \"failed_messages\": [";
  for (size_t i = 0; i < report.failures.size(); ++i) {
    const ImportFailure &f = report.failures[i];
    out << (i ? ",\n  " : "\n  ") << "{\"folder\": " << JsonText(f.folder)
        << ", \"file\": " << JsonText(f.file) << ", \"subject\": " << JsonText(f.subject)
        << ", \"reason\": " << JsonText(f.reason) << "}";
  }
  out << "]}\n";
  return out.str();
}

}  // namespace report
