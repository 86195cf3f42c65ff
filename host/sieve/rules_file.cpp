// Reading the blocks of the mail rules file.
#include "host/sieve/rules_file.h"

namespace sieve {
namespace {

// "1 0 1" into up to three flags.
void ReadFlags(const std::string &value, bool *a, bool *b, bool *c) {
  bool *flags[] = {a, b, c};
  size_t n = 0;
  for (char ch : value) {
    if (ch == ' ') continue;
    if (n < 3 && flags[n] != nullptr) *flags[n] = ch == '1';
    ++n;
  }
}

}  // namespace

std::vector<MailRule> ParseRulesFile(const std::string &text) {
  std::vector<MailRule> rules;
  bool open = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "^") {
      open = false;
      continue;
    }
    if (line.empty()) continue;
    if (!open) {
      rules.emplace_back();
      open = true;
    }
    MailRule &rule = rules.back();
    rule.lines.push_back(line);
    size_t eq = line.find('=');
    std::string key = line.substr(0, eq), value = eq == std::string::npos ? "" : line.substr(eq + 1);
    if (key == "Name") rule.name = value;
    else if (key == "Types") ReadFlags(value, &rule.mail, &rule.appointments, &rule.tasks);
    else if (key == "Source") ReadFlags(value, &rule.received, &rule.sent, nullptr);
    else if (key == "Enabled") rule.enabled = value == "1";
    else if (key == "Action") rule.actions.push_back(value);
    else if (key == "Filter") rule.filters.push_back(value);
  }
  return rules;
}

}  // namespace sieve
