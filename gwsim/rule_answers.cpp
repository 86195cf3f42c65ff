// The simulator's mail rules: getRuleListRequest built from the store, and
// rules read from fixture files.
#include "gwsim/rule_answers.h"

#include <cstring>

namespace gwsim {
namespace {

const char *const kRuleAttributes[] = {"id", "name", "types", "source", "enabled", nullptr};
const char *const kEntryAttributes[] = {"op", "field", "value", nullptr};
const char *const kGroupAttributes[] = {"op", nullptr};
const char *const kActionAttributes[] = {"type", "folder", nullptr};
const char *const kForwardAttributes[] = {"name", "email", nullptr};
// Forward recipient elements and the distType they send ("" sends none).
const char *const kForwardElements[][2] = {
    {"to", "TO"}, {"cc", "CC"}, {"bc", "BC"}, {"recipient", ""}};

void AppendFilter(const RuleFilter &filter, std::string *out) {
  out->append(filter.IsGroup() ? "<gwt:element xsi:type=\"gwt:FilterGroup\">"
                               : "<gwt:element xsi:type=\"gwt:FilterEntry\">");
  AppendElement(out, "gwt:op", filter.op);
  if (filter.IsGroup()) {
    for (const RuleFilter &child : filter.children) AppendFilter(child, out);
  } else {
    if (!filter.field.empty()) AppendElement(out, "gwt:field", filter.field);
    if (filter.hasValue) AppendElement(out, "gwt:value", filter.value);
  }
  out->append("</gwt:element>");
}

// A forward action carries its recipients in an item of its own.
void AppendAction(const RuleAction &action, std::string *out) {
  out->append("<gwt:action>");
  AppendElement(out, "gwt:type", action.type);
  if (!action.container.empty()) AppendElement(out, "gwt:container", action.container);
  if (!action.recipients.empty()) {
    out->append("<gwt:item xsi:type=\"gwt:Mail\"><gwt:distribution><gwt:recipients>");
    for (const RuleForward &r : action.recipients) {
      out->append("<gwt:recipient>");
      if (!r.displayName.empty()) AppendElement(out, "gwt:displayName", r.displayName);
      AppendElement(out, "gwt:email", r.email);
      if (!r.distType.empty()) AppendElement(out, "gwt:distType", r.distType);
      out->append("</gwt:recipient>");
    }
    out->append("</gwt:recipients></gwt:distribution></gwt:item>");
  }
  out->append("</gwt:action>");
}

void AppendRule(const Rule &rule, int sequence, const std::string &rootId, std::string *out) {
  // The attribute is what a reader finds the start of a rule by.
  out->append("<gwt:rule xsi:type=\"gwt:Rule\">");
  AppendElement(out, "gwt:id", rule.id);
  AppendElement(out, "gwt:name", rule.name);
  AppendElement(out, "gwt:version", "1");
  AppendElement(out, "gwt:container", rootId);
  AppendElement(out, "gwt:sequence", std::to_string(sequence));
  AppendElement(out, "gwt:enabled", rule.enabled ? "1" : "0");
  if (!rule.types.empty()) AppendElement(out, "gwt:types", rule.types);
  if (!rule.source.empty()) AppendElement(out, "gwt:source", rule.source);
  if (rule.hasFilter) {
    out->append("<gwt:filter>");
    AppendFilter(rule.filter, out);
    out->append("</gwt:filter>");
  }
  if (!rule.actions.empty()) {
    out->append("<gwt:actions>");
    for (const RuleAction &action : rule.actions) AppendAction(action, out);
    out->append("</gwt:actions>");
  }
  out->append("</gwt:rule>");
}

// Reading fixture rules: the first fault and where it is.
struct RuleReader {
  std::string *error;
  pugi::xml_node *where;

  bool Fail(pugi::xml_node node, const std::string &message) {
    *error = message;
    *where = node;
    return false;
  }

  bool Check(pugi::xml_node node, const char *const *allowed) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      bool known = false;
      for (const char *const *name = allowed; *name != nullptr; ++name) {
        known = known || strcmp(a.name(), *name) == 0;
      }
      if (!known) {
        return Fail(node, std::string("unknown attribute ") + a.name() + " on <" + node.name() +
                              ">");
      }
    }
    return true;
  }

  bool ReadFilter(pugi::xml_node node, RuleFilter *filter) {
    const bool group = strcmp(node.name(), "group") == 0;
    if (!group && strcmp(node.name(), "entry") != 0) {
      return Fail(node, std::string("unexpected <") + node.name() + "> in a rule filter");
    }
    if (!Check(node, group ? kGroupAttributes : kEntryAttributes)) return false;
    filter->op = node.attribute("op").value();
    if (filter->op.empty()) return Fail(node, "a filter element needs an op");
    if (filter->IsGroup() != group) {
      return Fail(node, "and, or and not are the ops of <group>, the others of <entry>");
    }
    if (!group) {
      filter->field = node.attribute("field").value();
      filter->hasValue = static_cast<bool>(node.attribute("value"));
      filter->value = node.attribute("value").value();
      return true;
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) continue;
      filter->children.emplace_back();
      if (!ReadFilter(child, &filter->children.back())) return false;
    }
    return true;
  }

  bool ReadAction(pugi::xml_node node, RuleAction *action) {
    if (!Check(node, kActionAttributes)) return false;
    action->type = node.attribute("type").value();
    if (action->type.empty()) return Fail(node, "an action needs a type");
    action->container = node.attribute("folder").value();
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) continue;
      const char *distType = nullptr;
      for (const auto &element : kForwardElements) {
        if (strcmp(child.name(), element[0]) == 0) distType = element[1];
      }
      if (distType == nullptr) {
        return Fail(child, std::string("unexpected <") + child.name() + "> in <action>");
      }
      if (!Check(child, kForwardAttributes)) return false;
      action->recipients.push_back(
          RuleForward{child.attribute("name").value(), child.attribute("email").value(), distType});
    }
    return true;
  }
};

}  // namespace

void AnswerRuleList(const HandlerCall &call, Answer *answer) {
  Mailbox *mailbox = call.state->mailbox;
  const User *user = mailbox->FindUser(call.session->mailbox);
  const std::string rootId = user != nullptr ? user->rootFolderId : "";
  std::string list;
  int sequence = 0;
  for (const Rule &rule : mailbox->rules) {
    if (rule.owner == call.session->mailbox) AppendRule(rule, sequence++, rootId, &list);
  }
  if (!list.empty()) answer->inner = "<gwm:rules>" + list + "</gwm:rules>";
}

bool LoadRuleFixture(pugi::xml_node node, const std::string &owner, Mailbox *mailbox,
                     std::string *error, pugi::xml_node *where) {
  RuleReader reader{error, where};
  if (!reader.Check(node, kRuleAttributes)) return false;
  Rule rule;
  rule.owner = owner;
  rule.id = node.attribute("id").value();
  if (rule.id.empty()) rule.id = "RULE." + std::to_string(mailbox->rules.size() + 1) + "@1";
  rule.name = node.attribute("name").value();
  rule.types = node.attribute("types").as_string("Mail");
  rule.source = node.attribute("source").as_string("received");
  std::string enabled = node.attribute("enabled").as_string("1");
  if (enabled != "0" && enabled != "1") return reader.Fail(node, "enabled must be 0 or 1");
  rule.enabled = enabled == "1";
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (strcmp(child.name(), "filter") == 0) {
      pugi::xml_node top = child.first_child();
      while (top && top.type() != pugi::node_element) top = top.next_sibling();
      if (rule.hasFilter || !top) return reader.Fail(child, "a rule has one filter with one element");
      rule.hasFilter = true;
      if (!reader.ReadFilter(top, &rule.filter)) return false;
    } else if (strcmp(child.name(), "action") == 0) {
      rule.actions.emplace_back();
      if (!reader.ReadAction(child, &rule.actions.back())) return false;
    } else {
      return reader.Fail(child, std::string("unexpected <") + child.name() + "> in <rule>");
    }
  }
  mailbox->rules.push_back(rule);
  return true;
}

}  // namespace gwsim
