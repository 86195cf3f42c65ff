// The export's rules step: the plug-in's rules file from the work directory
// copied as it is to OUT/rules/mboxrules.dat, and its rules written as the
// Sieve script OUT/rules/rules.sieve beside it.
#pragma once

#include <string>
#include <vector>

#include "host/sieve/sieve_script.h"

namespace sieve {

struct RulesExport {
  bool found = false;  // the work directory held "mboxrules.dat"
  int added = 0;       // rules this run added to OUT/rules/mboxrules.dat
  ScriptCounts counts;  // of every rule in OUT/rules/mboxrules.dat
  std::vector<std::string> warnings;  // one per rule kept as a comment
};

// The rules file of earlier runs with the blocks of this run's file whose
// rule name it does not hold yet appended, each as it stands. *added (may
// be null) gets their number.
std::string MergeRulesFiles(const std::string &earlier, const std::string &current, int *added);

// Runs after the folders of an export with /MAILRULES. workDir and outDir
// end with "/" or not. The plug-in leaves out the rules an earlier run
// exported, so the rules of OUT/rules/mboxrules.dat are kept and this run's
// new ones appended (see MergeRulesFiles); the script is written for all of
// them. Both files are written to a temporary name, synced and renamed. No
// rules file in the work directory: nothing is written, *result says so, 0
// is returned. With wholeRulesOnly (a file a killed run left, which may end
// inside a rule) only the rules up to the last "^" line are taken. Returns
// 0, or -1 with *error set (a file that cannot be read or written).
int ExportRules(const std::string &workDir, const std::string &outDir, RulesExport *result, std::string *error,
                bool wholeRulesOnly = false);

}  // namespace sieve
