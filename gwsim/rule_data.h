// The mail rules of a mailbox in the simulator (getRuleListRequest): each
// rule's kinds, sources, filter tree and actions.
#pragma once

#include <string>
#include <vector>

namespace gwsim {

// A filter element: a group (op and, or, not; children) or an entry (op,
// field, value; no children). An entry with an empty value sends no value.
struct RuleFilter {
  std::string op;
  std::string field;
  std::string value;
  bool hasValue = true;
  std::vector<RuleFilter> children;
  bool IsGroup() const { return op == "and" || op == "or" || op == "not"; }
};

struct RuleForward {
  std::string displayName;
  std::string email;
  std::string distType;  // "TO", "CC", "BC"; empty: not sent
};

struct RuleAction {
  std::string type;       // RuleActionType: "Forward", "Move", "MarkRead", "Delete"...
  std::string container;  // folder id (Move, Link...); empty: not sent
  std::vector<RuleForward> recipients;  // Forward, SimpleForward...
};

struct Rule {
  std::string owner;  // User::name of the mailbox
  std::string id;
  std::string name;
  bool enabled = true;
  std::string types;   // gwt:types, e.g. "Mail Appointment"
  std::string source;  // gwt:source, e.g. "received sent"
  bool hasFilter = false;
  RuleFilter filter;   // the top element of gwt:filter
  std::vector<RuleAction> actions;
};

}  // namespace gwsim
