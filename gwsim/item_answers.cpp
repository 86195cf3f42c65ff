// The simulator's item answers: getItemsRequest, getItemRequest and the
// cursor requests (create, read in blocks, destroy).
#include <string>
#include <vector>

#include "gwsim/handlers.h"
#include "gwsim/item_filter.h"
#include "gwsim/task_answers.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

bool IsAddressBookKind(const std::string &kind) {
  return kind == "Contact" || kind == "Group" || kind == "Organization" || kind == "Resource";
}

// Reads the optional <filter> of a request; false (with 59905 in *answer)
// when it cannot be used.
bool ReadFilter(pugi::xml_node request, bool *present, FilterNode *filter, Answer *answer) {
  pugi::xml_node element = Child(request, "filter");
  *present = static_cast<bool>(element);
  if (!*present) return true;
  std::string error;
  if (ParseFilter(element, filter, &error)) return true;
  answer->code = kCodeBadParameter;
  answer->description = "Bad filter: " + error;
  return false;
}

std::vector<const Item *> SelectItems(const Mailbox &mailbox, const std::string &container,
                                      bool filtered, const FilterNode &filter) {
  std::vector<const Item *> selected;
  for (const Item *item : mailbox.ItemsIn(container)) {
    if (!filtered || FilterMatches(filter, *item)) selected.push_back(item);
  }
  return selected;
}

Cursor *FindCursor(const HandlerCall &call, Answer *answer) {
  std::string text = ChildText(call.request, "cursor");
  auto found = call.state->cursors.find(ParseLeadingInt(text.c_str()));
  if (text.empty() || found == call.state->cursors.end() ||
      found->second.session != *call.sessionId) {
    answer->code = kCodeBadParameter;
    answer->description = "Unknown cursor";
    return nullptr;
  }
  if (found->second.container != ChildText(call.request, "container")) {
    answer->code = kCodeBadParameter;
    answer->description = "The cursor belongs to another container";
    return nullptr;
  }
  return &found->second;
}

}  // namespace

void AppendItem(Mailbox *mailbox, const AnswerOptions &options, const Item &item, bool full,
                const char *element, std::string *out) {
  out->append("<");
  out->append(element);
  out->append(" xsi:type=\"gwt:");
  AppendEscaped(out, item.kind);
  out->append("\">");
  AppendElement(out, "gwt:id", item.id);
  if (IsAddressBookKind(item.kind)) AppendElement(out, "gwt:name", item.subject);
  AppendElement(out, "gwt:version", "1");
  if (!item.modified.empty()) AppendElement(out, "gwt:modified", item.modified);
  AppendElement(out, "gwt:container", item.container);
  if (full && !item.categories.empty()) {
    out->append("<gwt:categories>");
    for (const std::string &id : item.categories) AppendElement(out, "gwt:category", id);
    out->append("</gwt:categories>");
  }
  if (!item.created.empty()) AppendElement(out, "gwt:created", item.created);
  if (full) AppendBoxEntry(item, out);
  if (!IsAddressBookKind(item.kind)) AppendElement(out, "gwt:subject", item.subject);
  if (full) {
    AppendMailContent(mailbox, item, options, out);
    if (item.kind == "Appointment") AppendAppointmentContent(item, out);
    if (item.kind == "Task") AppendTaskContent(item, out);
    out->append(item.contentXml);
  }
  out->append("</");
  out->append(element);
  out->append(">");
}


void AnswerGetItems(const HandlerCall &call, Answer *answer) {
  std::string container = ChildText(call.request, "container");
  if (!CheckContainer(call, container, answer)) return;
  bool filtered = false;
  FilterNode filter;
  if (!ReadFilter(call.request, &filtered, &filter, answer)) return;
  std::string countText = ChildText(call.request, "count");
  int count = countText.empty() ? -1 : ParseLeadingInt(countText.c_str());
  std::vector<const Item *> selected = SelectItems(*call.state->mailbox, container, filtered,
                                                   filter);
  answer->inner = "<gwm:items>";
  for (size_t i = 0; i < selected.size() && (count < 0 || i < static_cast<size_t>(count)); ++i) {
    AppendItem(call.state->mailbox, call.state->answers, *selected[i], false, "gwt:item",
               &answer->inner);
  }
  answer->inner += "</gwm:items>";
}

void AnswerGetItem(const HandlerCall &call, Answer *answer) {
  std::string id = ChildText(call.request, "id");
  const Item *item = call.state->mailbox->FindItem(id);
  if (id.empty()) {
    answer->code = kCodeBadParameter;
    answer->description = "The item id is missing";
    return;
  }
  Answer containerCheck;
  if (item == nullptr || !CheckContainer(call, item->container, &containerCheck)) {
    answer->code = kCodeNotFound;
    answer->description = "The item was not found";
    return;
  }
  AppendItem(call.state->mailbox, call.state->answers, *item, true, "gwm:item", &answer->inner);
}

void AnswerCreateCursor(const HandlerCall &call, Answer *answer) {
  std::string container = ChildText(call.request, "container");
  if (!CheckContainer(call, container, answer)) return;
  bool filtered = false;
  FilterNode filter;
  if (!ReadFilter(call.request, &filtered, &filter, answer)) return;
  Cursor cursor;
  cursor.session = *call.sessionId;
  cursor.container = container;
  for (const Item *item : SelectItems(*call.state->mailbox, container, filtered, filter)) {
    cursor.itemIds.push_back(item->id);
  }
  int id = call.state->nextCursor++;
  call.state->cursors[id] = cursor;
  AppendElement(&answer->inner, "gwm:cursor", std::to_string(id));
}

void AnswerReadCursor(const HandlerCall &call, Answer *answer) {
  Cursor *cursor = FindCursor(call, answer);
  if (cursor == nullptr) return;
  std::string forward = ChildText(call.request, "forward");
  std::string position = ChildText(call.request, "position");
  if (forward == "false" || forward == "0" || position == "end") {
    answer->code = kCodeBadParameter;
    answer->description = "The simulator reads cursors forward only";
    return;
  }
  if (position == "start") cursor->position = 0;
  std::string countText = ChildText(call.request, "count");
  int count = ParseLeadingInt(countText.c_str());
  std::string list;
  int given = 0;
  while (cursor->position < cursor->itemIds.size() && (count <= 0 || given < count)) {
    const Item *item = call.state->mailbox->FindItem(cursor->itemIds[cursor->position++]);
    if (item == nullptr) continue;  // deleted since the cursor was made
    AppendItem(call.state->mailbox, call.state->answers, *item, false, "gwt:item", &list);
    ++given;
  }
  answer->inner = list.empty() ? "<gwm:items/>" : "<gwm:items>" + list + "</gwm:items>";
}

void AnswerDestroyCursor(const HandlerCall &call, Answer *answer) {
  Cursor *cursor = FindCursor(call, answer);
  if (cursor == nullptr) return;
  call.state->cursors.erase(ParseLeadingInt(ChildText(call.request, "cursor").c_str()));
}

}  // namespace gwsim
