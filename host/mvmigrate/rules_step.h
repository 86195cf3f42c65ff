// The export's last step with /MAILRULES: the rules the plug-in wrote into
// the work directory go to OUT/rules/ as the plug-in's file and a Sieve
// script, and into the run's report.
#pragma once

#include <string>

#include "host/report/export_report.h"

// Writes OUT/rules/mboxrules.dat and OUT/rules/rules.sieve from the work
// directory's "mboxrules.dat" (nothing when the plug-in wrote none), fills
// report->rules, adds a warning per rule kept as a comment, and a failure
// when the files cannot be written.
void ExportRulesStep(const std::string &workDir, const std::string &outDir, report::ExportReport *report);
