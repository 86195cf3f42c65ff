// The rules steps of an export, between the plug-in's file and the report:
// the rules the plug-in wrote into the work directory go to OUT/rules/ as
// the plug-in's file and a Sieve script, and into the run's report.
#pragma once

#include <string>

#include "host/report/export_report.h"

// The work directory's rules file: the plug-in writes it while it reads the
// first mail folder; the host deletes it once OUT/rules/ holds its rules.
std::string WorkRulesFile(const std::string &workDir);

// The export's last step with /MAILRULES: writes OUT/rules/mboxrules.dat and
// OUT/rules/rules.sieve from the work directory's "mboxrules.dat" (nothing
// when the plug-in wrote none), fills report->rules (adding to the rules
// counted new), adds a warning per rule kept as a comment, and a failure
// when the files cannot be written. Returns 0, or -1 on that failure.
int ExportRulesStep(const std::string &workDir, const std::string &outDir, report::ExportReport *report);

// The export's first step: the migration state may already hold the
// records of the rules in a rules file a killed run left in the work
// directory, so the plug-in would not write those rules again. Merges that
// file into OUT/rules/ as ExportRulesStep does, says so in the log when it
// added rules, and deletes it. Returns 0 (also when there is no such file),
// or -1 with *error set when OUT/rules/ cannot be written; the file is then
// kept for the next run.
int RecoverRulesStep(const std::string &workDir, const std::string &outDir, report::ExportReport *report,
                     std::string *error);
