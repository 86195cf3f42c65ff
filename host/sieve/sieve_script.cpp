// Mail rules into Sieve: conditions into tests, actions into commands.
#include "host/sieve/sieve_script.h"

#include <glib.h>

#include <cctype>
#include <cstring>
#include <set>

#include "host/maildir/maildir_paths.h"
#include "platform/bounded_text.h"

namespace sieve {
namespace {

// Text from the rules file as UTF-8 (a name the plug-in cut inside a
// character, or a stray byte, would make the script unreadable).
std::string Utf8(const std::string &text) {
  gchar *valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}

// One rule while it is translated: the tests and commands said so far, and
// why it cannot be said when it cannot.
struct Translation {
  std::vector<std::string> tests;
  std::vector<std::string> commands;
  std::vector<std::string> notes;  // comments inside the block
  std::string why;                 // non-empty: the rule stays a comment
  std::set<std::string> needs;
  void CannotSay(const std::string &reason) {
    if (why.empty()) why = reason;
  }
};

// GroupWise filter fields and the headers they test.
struct FieldHeader {
  const char *field;
  const char *headers;  // a Sieve string list
};
const FieldHeader kFieldHeaders[] = {
    {"subject", "\"subject\""}, {"from", "\"from\""}, {"to", "\"to\""}, {"cc", "\"cc\""},
    {"bcc", "\"bcc\""},         {"toCC", "[\"to\", \"cc\"]"}, {"recipient", "[\"to\", \"cc\"]"},
};

// A value for :matches: the wildcards * and ? taken literally.
std::string MatchLiteral(const std::string &value) {
  std::string out;
  for (char c : value) {
    if (c == '*' || c == '?' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

bool IsNumber(const std::string &text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return text.size() < 10;
}

// One "field operator value" filter as a Sieve test.
void SayFilter(const std::string &filter, Translation *t) {
  size_t b1 = filter.find(' ');
  size_t b2 = b1 == std::string::npos ? std::string::npos : filter.find(' ', b1 + 1);
  std::string field = filter.substr(0, b1);
  std::string op = b1 == std::string::npos ? "" : filter.substr(b1 + 1, b2 == std::string::npos ? std::string::npos : b2 - b1 - 1);
  std::string value = b2 == std::string::npos ? "" : filter.substr(b2 + 1);
  if (EqualsNoCase(field.c_str(), "size")) {
    if ((op != "larger" && op != "smaller") || !IsNumber(value))
      return t->CannotSay("the size condition \"" + filter + "\" has no Sieve test");
    // GroupWise gives sizes in bytes, as Sieve counts them.
    t->tests.push_back(std::string("size ") + (op == "larger" ? ":over " : ":under ") + value);
    return;
  }
  if (EqualsNoCase(field.c_str(), "message"))
    return t->CannotSay("the condition \"" + filter + "\" tests the message text, which needs the Sieve body extension");
  const char *headers = nullptr;
  for (const FieldHeader &f : kFieldHeaders)
    if (EqualsNoCase(field.c_str(), f.field)) headers = f.headers;
  if (headers == nullptr) return t->CannotSay("the field \"" + field + "\" in \"" + filter + "\" has no Sieve test");
  // An address given whole is compared as an address, anything else as header text.
  const std::string test = value.find('@') != std::string::npos && (op == "eq" || op == "ne") ? "address" : "header";
  const std::string quoted = SieveString(value);
  const struct {
    const char *op;
    std::string test;
  } kOps[] = {
      {"contains", test + " :contains " + headers + " " + quoted},
      {"containsWord", test + " :contains " + headers + " " + quoted},
      {"notContains", "not " + test + " :contains " + headers + " " + quoted},
      {"eq", test + " :is " + headers + " " + quoted},
      {"ne", "not " + test + " :is " + headers + " " + quoted},
      {"begins", test + " :matches " + headers + " " + SieveString(MatchLiteral(value) + "*")},
      {"exists", std::string("exists ") + headers},
      {"notExist", std::string("not exists ") + headers},
  };
  for (const auto &o : kOps) {
    if (!EqualsNoCase(op.c_str(), o.op)) continue;
    if (EqualsNoCase(op.c_str(), "containsWord"))
      t->notes.push_back("\"" + filter + "\": containsWord tested as contains");
    t->tests.push_back(o.test);
    return;
  }
  t->CannotSay("the operator \"" + op + "\" in \"" + filter + "\" has no Sieve test");
}

// Whether Sieve can redirect to the address: an ASCII local part of atext
// and dots, one "@", a domain of letters, digits, "-" and dots. sievec
// refuses a script that redirects to anything else, so such a rule must
// not reach the script.
bool IsRedirectAddress(const std::string &address) {
  size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 >= address.size() || address.find('@', at + 1) != std::string::npos)
    return false;
  for (size_t i = 0; i < at; ++i) {
    unsigned char c = static_cast<unsigned char>(address[i]);
    if (!(isalnum(c) || strchr("!#$%&'*+/=?^_`{|}~.-", c) != nullptr) || c >= 0x80) return false;
  }
  const std::string domain = address.substr(at + 1);
  if (domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string::npos) return false;
  for (unsigned char c : domain)
    if (!(isalnum(c) || c == '-' || c == '.') || c >= 0x80) return false;
  return true;
}

bool TypeIs(const std::string &action, const char *type) {
  size_t blank = action.find(' ');
  return EqualsNoCase(action.substr(0, blank).c_str(), type);
}

std::string Argument(const std::string &action) {
  size_t blank = action.find(' ');
  return blank == std::string::npos ? "" : action.substr(blank + 1);
}

// The actions in the file's order (forwards, mark read, move, delete).
void SayActions(const MailRule &rule, Translation *t) {
  bool files = false, deletes = false, redirects = false;
  for (const std::string &a : rule.actions) deletes = deletes || TypeIs(a, "Delete");
  for (const std::string &a : rule.actions) {
    const std::string arg = Argument(a);
    if (TypeIs(a, "Forward") || TypeIs(a, "SimpleForward")) {
      // "TO=a@x;CC=b@y;": Sieve redirects to each, without To/CC/BC.
      size_t start = 0;
      int said = 0;
      while (start < arg.size()) {
        size_t semi = arg.find(';', start);
        if (semi == std::string::npos) semi = arg.size();
        std::string recipient = arg.substr(start, semi - start);
        size_t eq = recipient.find('=');
        std::string address = eq == std::string::npos ? recipient : recipient.substr(eq + 1);
        if (!address.empty() && !IsRedirectAddress(address)) {
          t->CannotSay("its forward address \"" + address + "\" is not one Sieve can redirect to");
        } else if (!address.empty()) {
          t->commands.push_back("redirect " + SieveString(address) + ";");
          ++said;
        }
        start = semi + 1;
      }
      if (said == 0) t->CannotSay("its forward names no Internet address (GroupWise users only)");
      redirects = redirects || said > 0;
    } else if (TypeIs(a, "MarkRead")) {
      t->commands.push_back("addflag \"\\\\Seen\";");
      t->needs.insert("imap4flags");
    } else if (TypeIs(a, "Move")) {
      if (arg.empty()) {
        t->CannotSay("it moves to a folder the mailbox no longer has");
      } else if (deletes) {
        t->notes.push_back("the move to \"" + arg + "\" is left out: the rule deletes the item too");
      } else {
        t->commands.push_back("fileinto " + SieveString(MailboxName(arg)) + ";");
        t->needs.insert("fileinto");
        files = true;
      }
    } else if (TypeIs(a, "Delete")) {
      // GroupWise's delete moves the item into the Trash, where it can be had back.
      t->commands.push_back("fileinto \"Trash\";");
      t->needs.insert("fileinto");
      files = true;
    } else {
      t->CannotSay("the action \"" + a + "\" has no Sieve command");
    }
  }
  if (t->commands.empty()) t->CannotSay("it has no action");
  // A redirect cancels the implicit keep; GroupWise's forward keeps the item.
  if (redirects && !files) t->commands.push_back("keep;");
}

Translation Translate(const MailRule &rule) {
  Translation t;
  if (!rule.enabled) t.CannotSay("it is disabled in GroupWise");
  if (!rule.mail) t.CannotSay("it applies to appointments or tasks only, which Sieve does not see");
  if (!rule.received) t.CannotSay("it applies to sent items only, which Sieve does not see");
  if (!t.why.empty()) return t;
  if (rule.appointments || rule.tasks) t.notes.push_back("in GroupWise also for appointments or tasks; here for mail only");
  for (const std::string &f : rule.filters) SayFilter(f, &t);
  SayActions(rule, &t);
  return t;
}

std::string Comment(const std::string &text) { return "# " + Utf8(text) + "\n"; }

}  // namespace

std::string SieveString(const std::string &text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string MailboxName(const std::string &folderPath) {
  std::string out;
  std::vector<std::string> levels = maildir::SplitFolderPath(folderPath);
  for (size_t i = 0; i < levels.size(); ++i) {
    std::string level = i == 0 && levels[i] == "Mailbox" ? "INBOX" : maildir::EncodeLevel(levels[i]);
    out += (i ? "/" : "") + level;
  }
  return out;
}

std::string SieveScript(const std::vector<MailRule> &rules, ScriptCounts *counts,
                        std::vector<std::string> *warnings) {
  ScriptCounts n;
  std::set<std::string> needs;
  std::string body;
  for (const MailRule &rule : rules) {
    ++n.rules;
    Translation t = Translate(rule);
    body += "\n";
    if (!t.why.empty()) {
      ++n.commented;
      if (!rule.enabled) ++n.disabled;
      body += Comment("Rule \"" + rule.name + "\" is kept as a comment: " + t.why + ".");
      for (const std::string &line : rule.lines) body += Comment("  " + line);
      if (warnings != nullptr) warnings->push_back("rule \"" + Utf8(rule.name) + "\" kept as a comment: " + t.why);
      continue;
    }
    ++n.converted;
    needs.insert(t.needs.begin(), t.needs.end());
    body += Comment("Rule \"" + rule.name + "\"");
    for (const std::string &note : t.notes) body += Comment(note);
    std::string condition = t.tests.empty() ? "true" : t.tests.size() == 1 ? t.tests[0] : "allof (";
    if (t.tests.size() > 1) {
      for (size_t i = 0; i < t.tests.size(); ++i) condition += (i ? ",\n          " : "") + t.tests[i];
      condition += ")";
    }
    body += "if " + condition + " {\n";
    for (const std::string &c : t.commands) body += "  " + c + "\n";
    body += "}\n";
  }
  std::string script =
      "# The mailbox's GroupWise mail rules, one block per rule in their order.\n"
      "# A rule's conditions must all hold (allof): the rules file keeps no\n"
      "# and/or grouping. Rules Sieve cannot say are kept as comments.\n";
  if (!needs.empty()) {
    script += "require [";
    bool first = true;
    for (const std::string &r : needs) {
      script += (first ? "\"" : ", \"") + r + "\"";
      first = false;
    }
    script += "];\n";
  }
  if (counts != nullptr) *counts = n;
  return script + body;
}

}  // namespace sieve
