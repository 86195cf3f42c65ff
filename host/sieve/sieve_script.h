// GroupWise mail rules as a Sieve script (RFC 5228 with the fileinto,
// imap4flags and nothing else): each rule Sieve can say becomes one "if"
// block; each rule it cannot say (disabled, not for received mail, a
// condition on the message text, a forward without an Internet address...)
// stays in the script as a comment that names why, with its lines.
#pragma once

#include <string>
#include <vector>

#include "host/sieve/rules_file.h"

namespace sieve {

struct ScriptCounts {
  int rules = 0;      // rules in the file
  int converted = 0;  // written as Sieve
  int commented = 0;  // kept as comments (disabled ones among them)
  int disabled = 0;
};

// The script for the rules, UTF-8, lines ended by "\n". *counts (may be
// null) gets what became of them; *warnings (may be null) one line per rule
// kept as a comment ("rule \"X\" kept as a comment: why").
std::string SieveScript(const std::vector<MailRule> &rules, ScriptCounts *counts,
                        std::vector<std::string> *warnings);

// The IMAP mailbox for a GroupWise folder path ("Cabinet^Projects" ->
// "Cabinet/Projects"; the Mailbox folder is INBOX), levels written as the
// Maildir export names their directories.
std::string MailboxName(const std::string &folderPath);

// A Sieve quoted string: "\" and the double quote escaped.
std::string SieveString(const std::string &text);

}  // namespace sieve
