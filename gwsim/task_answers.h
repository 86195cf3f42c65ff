// Tasks in the simulator: their part of getItemResponse, their creation
// with createItemRequest, and their <task> element in fixture files.
#pragma once

#include <string>

#include <pugixml.hpp>

#include "gwsim/handlers.h"
#include "gwsim/mailbox.h"

namespace gwsim {

// Appends what a full task carries after its mail content: the checklist
// block with percentComplete, then startDate, dueDate, assignedDate and
// completed, in the schema's order. Cannot fail.
void AppendTaskContent(const Item &item, std::string *out);

// createItemRequest for <item type="Task">: container, subject,
// options/priority, status/completed, the item-level dates (xs:date; the
// checklist's date-times when those are absent), checklist/percentComplete
// (0..100) and message/part text bodies. The logged-on user is the task's
// assigner. Refuses with 59905 (nothing stored) a date that cannot be
// read, a percentage outside 0..100 or a part that is not base64; with
// 59906 an unknown container.
void CreateTaskItem(const HandlerCall &call, pugi::xml_node request, Answer *answer);

// Reads the fixture element <task start=".." due=".." assigned=".."
// completed="0|1" percent="N"/> into item->task. False with the reason in
// *error when an attribute is unknown or a value cannot be read.
bool ReadTaskFixture(pugi::xml_node node, Item *item, std::string *error);

}  // namespace gwsim
