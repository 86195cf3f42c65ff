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
  ScriptCounts counts;
  std::vector<std::string> warnings;  // one per rule kept as a comment
};

// Runs after the folders of an export with /MAILRULES. workDir and outDir
// end with "/" or not. Both files are written to a temporary name, synced
// and renamed, so a rerun replaces them whole. No rules file in the work
// directory: nothing is written, *result says so, 0 is returned. Returns
// 0, or -1 with *error set (a file that cannot be read or written).
int ExportRules(const std::string &workDir, const std::string &outDir, RulesExport *result, std::string *error);

}  // namespace sieve
