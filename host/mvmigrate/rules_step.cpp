// The rules step of an export, between the plug-in's file and the report.
#include "host/mvmigrate/rules_step.h"

#include "host/mvcom/mvcom_host.h"
#include "host/sieve/rules_export.h"

void ExportRulesStep(const std::string &workDir, const std::string &outDir, report::ExportReport *report) {
  sieve::RulesExport result;
  std::string error;
  if (sieve::ExportRules(workDir, outDir, &result, &error) != 0) {
    com_Log("MV Error: %s", error.c_str());
    report::FailedItem failure;
    failure.folder = "rules";
    failure.reason = error;
    report->failures.push_back(failure);
    return;
  }
  if (!result.found) return;
  report->rules.exported = true;
  report->rules.rules = result.counts.rules;
  report->rules.added = result.added;
  report->rules.converted = result.counts.converted;
  report->rules.commented = result.counts.commented;
  for (const std::string &w : result.warnings) {
    report::ItemWarning warning;
    warning.folder = "rules";
    warning.item = "rules.sieve";
    warning.text = w;
    report->warnings.push_back(warning);
  }
  com_Log("Mail rules: %d in %srules/mboxrules.dat (%d new), %d as Sieve, %d kept as comments", result.counts.rules,
          outDir.c_str(), result.added, result.counts.converted, result.counts.commented);
}
