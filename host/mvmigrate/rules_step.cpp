// The rules steps of an export, between the plug-in's file and the report.
#include "host/mvmigrate/rules_step.h"

#include <cstdio>

#include "host/mvcom/mvcom_host.h"
#include "host/sieve/rules_export.h"

namespace {

void NoteRules(const sieve::RulesExport &result, bool warnings, report::ExportReport *report) {
  report->rules.exported = true;
  report->rules.rules = result.counts.rules;
  report->rules.added += result.added;
  report->rules.converted = result.counts.converted;
  report->rules.commented = result.counts.commented;
  if (!warnings) return;
  for (const std::string &w : result.warnings) {
    report::ItemWarning warning;
    warning.folder = "rules";
    warning.item = "rules.sieve";
    warning.text = w;
    report->warnings.push_back(warning);
  }
}

}  // namespace

std::string WorkRulesFile(const std::string &workDir) {
  return workDir + (workDir.empty() || workDir.back() == '/' ? "" : "/") + "mboxrules.dat";
}

int ExportRulesStep(const std::string &workDir, const std::string &outDir, report::ExportReport *report) {
  sieve::RulesExport result;
  std::string error;
  if (sieve::ExportRules(workDir, outDir, &result, &error) != 0) {
    com_Log("MV Error: %s", error.c_str());
    report::FailedItem failure;
    failure.folder = "rules";
    failure.reason = error;
    report->failures.push_back(failure);
    return -1;
  }
  if (!result.found) return 0;
  NoteRules(result, true, report);
  com_Log("Mail rules: %d in %srules/mboxrules.dat (%d new), %d as Sieve, %d kept as comments", result.counts.rules,
          outDir.c_str(), result.added, result.counts.converted, result.counts.commented);
  return 0;
}

int RecoverRulesStep(const std::string &workDir, const std::string &outDir, report::ExportReport *report,
                     std::string *error) {
  sieve::RulesExport result;
  if (sieve::ExportRules(workDir, outDir, &result, error, true) != 0) return -1;
  if (!result.found) return 0;
  if (result.added > 0) {
    // The warnings come with this run's own rules step.
    NoteRules(result, false, report);
    com_Log("Mail rules: %d recovered from the rules file of an interrupted run into %srules/mboxrules.dat",
            result.added, outDir.c_str());
  }
  remove(WorkRulesFile(workDir).c_str());
  return 0;
}
