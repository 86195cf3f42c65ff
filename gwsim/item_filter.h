// Item filters of createCursorRequest and getItemsRequest: a tree of
// FilterGroup (and, or, not) and FilterEntry (a field compared with a
// value) read from the request, and its test against an item.
#pragma once

#include <string>
#include <vector>

#include <pugixml.hpp>

#include "gwsim/mailbox.h"

namespace gwsim {

struct FilterNode {
  bool group = false;
  std::string op;     // "and", "or", "not" for groups; "eq", "gt"... for entries
  std::string field;  // "created", "modified", "subject"
  std::string value;
  long long seconds = 0;  // the value as a date, for date fields
  std::vector<FilterNode> children;
};

// Reads the <filter> element (its one <element> child). Returns false with
// a reason in *error for an element, operator or field the simulator does
// not handle, or a date it cannot read.
bool ParseFilter(pugi::xml_node filter, FilterNode *root, std::string *error);

// True when the item passes the filter.
bool FilterMatches(const FilterNode &node, const Item &item);

// Reads "2026-01-02T10:00:00Z" (the Z and the time optional) as seconds
// since 1970 UTC. Returns false for any other form.
bool ParseDateTime(const std::string &text, long long *seconds);
// Writes seconds since 1970 UTC as "2026-01-02T10:00:00Z". Cannot fail.
std::string FormatDateTime(long long seconds);

}  // namespace gwsim
