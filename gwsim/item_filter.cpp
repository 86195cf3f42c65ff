// Item filters: reading the filter tree of a request and testing items.
#include "gwsim/item_filter.h"

#include <cctype>
#include <cstring>

#include "gwsim/soap_xml.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const int kMaxFilterDepth = 32;

bool IsDateField(const std::string &field) { return field == "created" || field == "modified"; }

bool ReadDigits(const std::string &text, size_t at, size_t count, int *value) {
  if (at + count > text.size()) return false;
  int result = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!isdigit(static_cast<unsigned char>(text[i]))) return false;
    result = result * 10 + (text[i] - '0');
  }
  *value = result;
  return true;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool ParseNode(pugi::xml_node element, int depth, FilterNode *node, std::string *error);

bool ParseGroup(pugi::xml_node element, int depth, FilterNode *node, std::string *error) {
  node->group = true;
  if (node->op != "and" && node->op != "or" && node->op != "not") {
    *error = "unsupported group operator " + node->op;
    return false;
  }
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || strcmp(LocalName(child.name()), "element") != 0) {
      continue;
    }
    node->children.emplace_back();
    if (!ParseNode(child, depth + 1, &node->children.back(), error)) return false;
  }
  if (node->children.empty()) {
    *error = "a filter group without elements";
    return false;
  }
  return true;
}

bool ParseEntry(pugi::xml_node element, FilterNode *node, std::string *error) {
  node->field = ChildText(element, "field");
  node->value = ChildText(element, "value");
  static const char *const kOps[] = {"eq", "ne", "gt", "lt", "gte", "lte", "contains", "begins"};
  bool known = false;
  for (const char *op : kOps) known = known || node->op == op;
  if (!known) {
    *error = "unsupported filter operator " + node->op;
    return false;
  }
  if (IsDateField(node->field)) {
    if (!ParseDateTime(node->value, &node->seconds)) {
      *error = "unreadable date " + node->value;
      return false;
    }
    return true;
  }
  if (node->field != "subject") {
    *error = "unsupported filter field " + node->field;
    return false;
  }
  return true;
}

bool ParseNode(pugi::xml_node element, int depth, FilterNode *node, std::string *error) {
  if (depth > kMaxFilterDepth) {
    *error = "filter nested too deeply";
    return false;
  }
  node->op = ChildText(element, "op");
  std::string type = LocalName(AttributeValue(element, "type").c_str());
  if (type == "FilterGroup" || (type.empty() && Child(element, "element"))) {
    return ParseGroup(element, depth, node, error);
  }
  return ParseEntry(element, node, error);
}

template <typename T>
bool Compare(const std::string &op, const T &left, const T &right) {
  if (op == "eq") return left == right;
  if (op == "ne") return !(left == right);
  if (op == "gt") return right < left;
  if (op == "lt") return left < right;
  if (op == "gte") return !(left < right);
  if (op == "lte") return !(right < left);
  return false;
}

bool EntryMatches(const FilterNode &node, const Item &item) {
  if (IsDateField(node.field)) {
    long long when = 0;
    const std::string &text = node.field == "created" ? item.created : item.modified;
    if (!ParseDateTime(text, &when)) return false;  // an item without the date never passes
    return Compare(node.op, when, node.seconds);
  }
  if (node.op == "contains") return item.subject.find(node.value) != std::string::npos;
  if (node.op == "begins") return item.subject.compare(0, node.value.size(), node.value) == 0;
  return Compare(node.op, item.subject, node.value);
}

}  // namespace

bool ParseDateTime(const std::string &text, long long *seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
      !ReadDigits(text, 5, 2, &month) || !ReadDigits(text, 8, 2, &day)) {
    return false;
  }
  size_t end = 10;
  if (text.size() > 10) {
    if (text.size() < 19 || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
        !ReadDigits(text, 11, 2, &hour) || !ReadDigits(text, 14, 2, &minute) ||
        !ReadDigits(text, 17, 2, &second)) {
      return false;
    }
    end = 19;
    if (end < text.size() && text[end] == 'Z') ++end;
  }
  if (end != text.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  *seconds = DaysFromCivil(year, month, day) * 86400LL + hour * 3600LL + minute * 60LL + second;
  return true;
}

std::string FormatDateTime(long long seconds) {
  long long days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  long long rest = seconds - days * 86400;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long doe = days - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[64];
  FormatText(text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day,
             rest / 3600, rest / 60 % 60, rest % 60);
  return text;
}

bool ParseFilter(pugi::xml_node filter, FilterNode *root, std::string *error) {
  pugi::xml_node element = Child(filter, "element");
  if (!element) {
    *error = "a filter without an element";
    return false;
  }
  *root = FilterNode();
  return ParseNode(element, 0, root, error);
}

bool FilterMatches(const FilterNode &node, const Item &item) {
  if (!node.group) return EntryMatches(node, item);
  if (node.op == "not") return !FilterMatches(node.children.front(), item);
  bool any = false;
  bool all = true;
  for (const FilterNode &child : node.children) {
    bool passes = FilterMatches(child, item);
    any = any || passes;
    all = all && passes;
  }
  return node.op == "and" ? all : any;
}

}  // namespace gwsim
