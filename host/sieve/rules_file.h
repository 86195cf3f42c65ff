// The plug-in's mail rules file "mboxrules.dat" read back: one block per
// rule (Name=, Types=, Source=, Enabled=, up to five Action= and Filter=
// lines, "^" ending the block).
#pragma once

#include <string>
#include <vector>

namespace sieve {

struct MailRule {
  std::string name;
  bool mail = false, appointments = false, tasks = false;  // Types=
  bool received = false, sent = false;                     // Source=
  bool enabled = false;
  std::vector<std::string> actions;  // "type argument", in the file's order
  std::vector<std::string> filters;  // "field operator value"
  std::vector<std::string> lines;    // the block as it stands, for comments
};

// The rules of the file's text, in its order. A block cut short by the end
// of the file is kept; lines of unknown keys are kept in `lines` only.
std::vector<MailRule> ParseRulesFile(const std::string &text);

}  // namespace sieve
