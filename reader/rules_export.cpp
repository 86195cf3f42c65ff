// ParseRules and its helpers: each rule of the getRuleListResponse becomes a
// block of the rules file, its actions and filters in the host's order.
#include "reader/rules_export.h"

#include <cstdio>
#include <cstring>

#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"

const char kRuleFilterMarker[] = "message";

namespace {

enum {
  kValueSize = kRuleValueChars + 1,
  kPathSize = kDirSize + 64,
};

// The host's duplicate store knows exported rules under this folder text.
const char kRulesDupFolder[] = "MailRules";

struct RuleBlock {
  char name[kValueSize];
  int mail, appointment, task;
  int received, sent;
  int enabled;
  char actions[kMaxRuleActions][kRuleTextSize];
  int actionCount;
  char filters[kMaxRuleFilters][kRuleTextSize];
  int filterCount;
};

// The written order of actions: each group's word begins the type.
const char *const kActionOrder[] = {"Forward", "SimpleForward", "MarkRead", "move", "delete"};
// Indices into kActionOrder that form one group (the two forwards are one).
const int kActionGroupStart[] = {0, 2, 3, 4};
const int kActionGroupEnd[] = {2, 3, 4, 5};

int IsForwardType(const char *type) {
  return EqualsNoCase(type, "Forward") || EqualsNoCase(type, "SimpleForward");
}

// A line test: the line begins with the tag, case ignored.
int Begins(const char *line, const char *tag) { return StartsWithNoCase(line, tag); }

// Reads the next line as an element value of at most kRuleValueChars.
void ReadRuleValue(FILE *input, char *line, char *value) {
  ReadElementValue(line, kRuleLineSize, input);
  CopyTextN(value, kValueSize, line, kRuleValueChars);
}

// The path of the folder table's record with this id (the last one when
// several have it); "" when there is none.
void FolderPathOf(const char *id, char *path) {
  path[0] = '\0';
  for (int i = 0; i < gFolderTable.count; ++i) {
    const FolderRecord *folder = gFolderTable.records[i];
    if (folder != nullptr && strcmp(folder->id, id) == 0) {
      CopyTextN(path, kValueSize, folder->path, kRuleValueChars);
    }
  }
}

const char *MapOperator(const char *op) {
  if (EqualsNoCase(op, "gt") || EqualsNoCase(op, "gte")) return "larger";
  if (EqualsNoCase(op, "lt") || EqualsNoCase(op, "lte")) return "smaller";
  return op;
}

// Skips an element up to its end tag (an action the block has no room for),
// so that nothing inside it is taken for the rule's own elements.
void SkipTo(FILE *input, const char *endTag) {
  static char line[kRuleLineSize];
  while (ReadResponseLine(line, sizeof line, input)) {
    if (Begins(line, endTag)) return;
  }
}

int ActionInGroup(const char *action, int group) {
  for (int k = kActionGroupStart[group]; k < kActionGroupEnd[group]; ++k) {
    if (EqualsNoCaseN(action, kActionOrder[k], strlen(kActionOrder[k]))) return 1;
  }
  return 0;
}

// The first group an action belongs to, -1 when it is not written.
int ActionGroup(const char *action) {
  for (int g = 0; g < 4; ++g) {
    if (ActionInGroup(action, g)) return g;
  }
  return -1;
}

// One "Key=text" line. A line break in a text of the answer (a rule named
// "a&#10;Action=Forward ...") is written as a blank: it would otherwise end
// the line, and the next one would be read back as an action or filter the
// rule never had.
void WriteRuleLine(FILE *out, const char *key, const char *text) {
  fputs(key, out);
  for (const char *p = text; *p != '\0'; ++p) fputc(*p == '\r' || *p == '\n' ? ' ' : *p, out);
  fputc('\n', out);
}

void WriteBlock(const RuleBlock &rule, FILE *out) {
  WriteRuleLine(out, "Name=", rule.name);
  fprintf(out, "Types=%d %d %d\n", rule.mail, rule.appointment, rule.task);
  fprintf(out, "Source=%d %d\n", rule.received, rule.sent);
  fprintf(out, "Enabled=%d\n", rule.enabled);
  for (int g = 0; g < 4; ++g) {
    for (int i = 0; i < rule.actionCount; ++i) {
      if (ActionGroup(rule.actions[i]) == g) WriteRuleLine(out, "Action=", rule.actions[i]);
    }
  }
  for (int marked = 0; marked < 2; ++marked) {
    for (int i = 0; i < rule.filterCount; ++i) {
      int hasMarker = strstr(rule.filters[i], kRuleFilterMarker) != nullptr;
      if (hasMarker == marked) WriteRuleLine(out, "Filter=", rule.filters[i]);
    }
  }
  fputs("^\n", out);
}

int ExportedBefore(const char *name) {
  static HostMessage probe;
  memset(&probe, 0, sizeof probe);
  CopyText(probe.subject, sizeof probe.subject, name);
  return com_MsgIsDuplicate(&probe, gSession.workDir, kDupRule, kRulesDupFolder);
}

void KeepFilter(RuleBlock *rule, FILE *input) {
  char text[kRuleTextSize];
  ParseFilterEntry(input, text);
  if (text[0] == '\0') return;
  for (int i = 0; i < rule->filterCount; ++i) {
    if (strcmp(rule->filters[i], text) == 0) return;
  }
  CopyText(rule->filters[rule->filterCount++], kRuleTextSize, text);
}

}  // namespace

void ParseForwardRecipient(FILE *input, char *recipient) {
  static char line[kRuleLineSize];
  char distType[kValueSize] = "TO";
  char address[kValueSize] = "";
  recipient[0] = '\0';
  while (ReadResponseLine(line, sizeof line, input)) {
    if (Begins(line, "</gwt:recipient>")) break;
    if (Begins(line, "<gwt:email>")) ReadRuleValue(input, line, address);
    else if (Begins(line, "<gwt:distType>")) ReadRuleValue(input, line, distType);
  }
  if (strchr(address, '@') != nullptr)
    FormatText(recipient, kRuleTextSize, "%s=%s;", distType, address);
}

int ParseForwardRecipients(FILE *input, char *recipients, size_t cap) {
  static char line[kRuleLineSize];
  recipients[0] = '\0';
  size_t limit = cap > 0 ? cap - 1 : 0;
  if (limit > kForwardListChars) limit = kForwardListChars;
  while (ReadResponseLine(line, sizeof line, input)) {
    if (Begins(line, "</gwt:recipients>")) return 0;
    // A forward action without a recipient list ends with the action.
    if (Begins(line, "</gwt:action>")) return 1;
    if (!Begins(line, "<gwt:recipient>")) continue;
    char one[kRuleTextSize];
    ParseForwardRecipient(input, one);
    if (one[0] == '\0') continue;
    // Only whole recipients: a cut address would send mail to someone else.
    if (strlen(recipients) + strlen(one) > limit) return 0;
    AppendText(recipients, cap, one);
  }
  return 0;
}

void ParseRuleAction(FILE *input, char *actionText) {
  static char line[kRuleLineSize];
  char type[kValueSize] = "";
  char argument[kRuleTextSize] = "";
  int ended = 0;
  while (!ended && ReadResponseLine(line, sizeof line, input)) {
    if (Begins(line, "</gwt:action>")) break;
    if (Begins(line, "<gwt:type>")) {
      ReadRuleValue(input, line, type);
      if (IsForwardType(type)) {
        // Room for the type, the blank and the terminator.
        ended = ParseForwardRecipients(input, argument, kRuleTextSize - strlen(type) - 1);
      }
    } else if (Begins(line, "<gwt:container>")) {
      char id[kValueSize];
      ReadRuleValue(input, line, id);
      FolderPathOf(id, argument);
    }
  }
  FormatText(actionText, kRuleTextSize, "%s %s", type, argument);
}

void ParseFilterEntry(FILE *input, char *filterText) {
  static char line[kRuleLineSize];
  char op[kValueSize] = "", field[kValueSize] = "", value[kValueSize] = "";
  int haveOp = 0, haveField = 0, haveValue = 0;
  filterText[0] = '\0';
  while (ReadResponseLine(line, sizeof line, input)) {
    if (Begins(line, "</gwt:element>")) break;
    if (Begins(line, "<gwt:op>")) {
      ReadRuleValue(input, line, op);
      haveOp = 1;
    } else if (Begins(line, "<gwt:field>")) {
      ReadRuleValue(input, line, field);
      haveField = 1;
    } else if (Begins(line, "<gwt:value>")) {
      ReadRuleValue(input, line, value);
      haveValue = 1;
    }
  }
  if (haveOp && haveField && haveValue)
    FormatText(filterText, kRuleTextSize, "%s %s %s", field, MapOperator(op), value);
}

void ParseRule(FILE *input, FILE *exportFile) {
  static RuleBlock rule;
  static char line[kRuleLineSize];
  memset(&rule, 0, sizeof rule);
  char value[kValueSize];
  while (ReadResponseLine(line, sizeof line, input)) {
    if (Begins(line, "</gwt:rule>")) break;
    if (Begins(line, "<gwt:name>")) {
      ReadRuleValue(input, line, rule.name);
    } else if (Begins(line, "<gwt:action>")) {
      if (rule.actionCount < kMaxRuleActions) {
        ParseRuleAction(input, rule.actions[rule.actionCount++]);
      } else {
        SkipTo(input, "</gwt:action>");
      }
    } else if (Begins(line, "<gwt:types>")) {
      ReadRuleValue(input, line, value);
      rule.mail |= strstr(value, "Mail") != nullptr;
      rule.appointment |= strstr(value, "Appointment") != nullptr;
      rule.task |= strstr(value, "Task") != nullptr;
    } else if (strstr(line, "gwt:FilterEntry") != nullptr) {
      if (rule.filterCount < kMaxRuleFilters) KeepFilter(&rule, input);
    } else if (Begins(line, "<gwt:source>")) {
      ReadRuleValue(input, line, value);
      rule.received |= strstr(value, "received") != nullptr;
      rule.sent |= strstr(value, "sent") != nullptr;
    } else if (Begins(line, "<gwt:enabled>")) {
      ReadRuleValue(input, line, value);
      rule.enabled = value[0] == '1';
    }
  }
  if (ExportedBefore(rule.name)) return;
  WriteBlock(rule, exportFile);
}

void ParseRules(const char *responsePath, const char *exportPath) {
  DebugLog("debug: in ParseRules");
  FilePtr input = OpenAnswer(responsePath, "r");
  if (!input) {
    com_Log("MV Warning: unable to open %s", responsePath);
    return;
  }
  FilePtr exportFile = OpenFile(exportPath, "wb");
  if (!exportFile) {
    com_Log("MV Warning: unable to open %s", exportPath);
    return;
  }
  static char line[kRuleLineSize];
  while (ReadResponseLine(line, sizeof line, input.get())) {
    if (Begins(line, "<gwt:rule ")) ParseRule(input.get(), exportFile.get());
  }
  input.reset();
  exportFile.reset();
  ForgetAnswer(responsePath);
  if (gRunSettings.mailDebug) {
    char copy[kPathSize + kDirSize];
    FormatDebugPath(copy, sizeof copy, "mboxrules.dat");
    com_fcopy(exportPath, copy);
  }
}
