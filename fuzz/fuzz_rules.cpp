// Fuzz target: the mail rules as the rules export takes them: the first
// answer is the getRuleListResponse, read into the rules file, which the
// host then reads back and writes as a Sieve script. Every line of the rules
// file must be one of the kinds the host knows, and the script must hold
// every rule: converted or kept as a comment.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/sieve/rules_file.h"
#include "host/sieve/sieve_script.h"
#include "platform/file_guard.h"
#include "plugin/session_state.h"
#include "reader/rules_export.h"
#include "transport/soap_call.h"

namespace {

std::string ReadWhole(const std::string &path) {
  std::string text;
  ReadWholeFile(path.c_str(), &text);
  return text;
}

// Each block of the rules file, line by line: Name=, Types=, Source=,
// Enabled=, at most five Action= and five Filter= lines, then "^". A text
// of the answer that breaks a line (a name holding a line feed) would add a
// line of its own choosing: the order shows it.
void CheckRulesFile(const std::string &text) {
  static const char *const kFixed[] = {"Name=", "Types=", "Source=", "Enabled="};
  int fixed = 0, actions = 0, filters = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) abort();  // every line is ended
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.find('\r') != std::string::npos) abort();
    if (fixed < 4) {
      if (line.compare(0, strlen(kFixed[fixed]), kFixed[fixed]) != 0) abort();
      ++fixed;
    } else if (line.compare(0, 7, "Action=") == 0) {
      if (filters > 0 || ++actions > 5) abort();
    } else if (line.compare(0, 7, "Filter=") == 0) {
      if (++filters > 5) abort();
    } else if (line == "^") {
      fixed = actions = filters = 0;
    } else {
      abort();
    }
  }
  if (fixed != 0) abort();  // the last block is ended
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 1);
  const std::string responsePath = fuzz::WorkDir() + "gwrules.xml";
  const std::string exportPath = fuzz::WorkDir() + "mboxrules.dat";
  SoapCall("<m:getRuleListRequest/>", "getRuleListRequest", responsePath.c_str());
  if (gHTTPResponse == 200 && gGWSError == 0) {
    ParseRules(responsePath.c_str(), exportPath.c_str());
    const std::string text = ReadWhole(exportPath);
    CheckRulesFile(text);
    std::vector<sieve::MailRule> rules = sieve::ParseRulesFile(text);
    sieve::ScriptCounts counts;
    std::vector<std::string> warnings;
    sieve::SieveScript(rules, &counts, &warnings);
    if (counts.rules != static_cast<int>(rules.size()) ||
        counts.converted + counts.commented != counts.rules)
      abort();
  }
  fuzz::EndRun();
  return 0;
}
