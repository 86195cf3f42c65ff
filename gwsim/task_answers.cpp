// The simulator's tasks: their dates, progress and completion in
// getItemResponse, createItemRequest of type Task, and the fixture element.
#include "gwsim/task_answers.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "gwsim/base64.h"
#include "gwsim/item_filter.h"

namespace gwsim {
namespace {

const char *const kTaskFixtureAttributes[] = {"start", "due", "assigned", "completed",
                                              "percent", nullptr};

bool IsTrue(const std::string &text) { return text == "1" || text == "true"; }

// "2026-01-05" from a date or date-time text.
std::string DayOf(const std::string &text) { return text.substr(0, text.find('T')); }

bool ReadableDate(const std::string &text) {
  long long seconds = 0;
  return text.empty() || ParseDateTime(text, &seconds);
}

// -1 when text is not a whole number from 0 to 100.
int Percentage(const std::string &text) {
  if (text.empty()) return -1;
  char *end = nullptr;
  long value = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < 0 || value > 100) return -1;
  return static_cast<int>(value);
}

std::string NowText() {
  time_t now = time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

void Refuse(Answer *answer, int code, const std::string &description) {
  answer->code = code;
  answer->description = description;
}

// The text parts of the request's message; false when one is not base64.
bool ReadTaskBodies(pugi::xml_node message, Item *item) {
  for (pugi::xml_node part = message.first_child(); part; part = part.next_sibling()) {
    if (part.type() != pugi::node_element || strcmp(LocalName(part.name()), "part") != 0) {
      continue;
    }
    BodyPart body;
    body.contentType = AttributeValue(part, "contentType");
    if (body.contentType.empty()) body.contentType = "text/plain";
    if (!DecodeBase64(part.text().get(), &body.data)) return false;
    item->bodies.push_back(body);
  }
  return true;
}

// The item-level date, else the checklist's date-time cut to its day.
std::string TaskDate(pugi::xml_node request, pugi::xml_node checklist, const char *name) {
  std::string date = ChildText(request, name);
  return date.empty() ? DayOf(ChildText(checklist, name)) : date;
}

}  // namespace

void AppendTaskContent(const Item &item, std::string *out) {
  const TaskData &task = item.task;
  if (task.percentComplete >= 0) {
    out->append("<gwt:checklist>");
    AppendElement(out, "gwt:percentComplete", std::to_string(task.percentComplete));
    out->append("</gwt:checklist>");
  }
  if (!task.startDate.empty()) AppendElement(out, "gwt:startDate", task.startDate);
  if (!task.dueDate.empty()) AppendElement(out, "gwt:dueDate", task.dueDate);
  if (!task.assignedDate.empty()) AppendElement(out, "gwt:assignedDate", task.assignedDate);
  AppendElement(out, "gwt:completed", task.completed ? "1" : "0");
}

void CreateTaskItem(const HandlerCall &call, pugi::xml_node request, Answer *answer) {
  Item item;
  item.kind = "Task";
  item.container = ChildText(request, "container");
  if (!CheckContainer(call, item.container, answer)) return;
  item.subject = ChildText(request, "subject");
  pugi::xml_node checklist = Child(request, "checklist");
  TaskData &task = item.task;
  task.startDate = TaskDate(request, checklist, "startDate");
  task.dueDate = TaskDate(request, checklist, "dueDate");
  task.assignedDate = TaskDate(request, checklist, "assignedDate");
  for (const std::string *date : {&task.startDate, &task.dueDate, &task.assignedDate}) {
    if (!ReadableDate(*date)) return Refuse(answer, kCodeBadParameter, "Unreadable date " + *date);
  }
  std::string percent = ChildText(checklist, "percentComplete");
  if (!percent.empty()) {
    task.percentComplete = Percentage(percent);
    if (task.percentComplete < 0) {
      return Refuse(answer, kCodeBadParameter, "Bad percentComplete " + percent);
    }
  }
  task.completed = IsTrue(ChildText(Child(request, "status"), "completed"));
  item.priority = ChildText(Child(request, "options"), "priority");
  if (!ReadTaskBodies(Child(request, "message"), &item)) {
    return Refuse(answer, kCodeBadParameter, "The message part is not base64");
  }
  // The one who creates a task assigns it.
  const User *user = call.state->mailbox->FindUser(call.session->mailbox);
  if (user != nullptr) {
    item.fromName = user->displayName;
    item.fromEmail = user->email;
  }
  item.created = NowText();
  AppendElement(&answer->inner, "gwm:id", call.state->mailbox->AddItem(item));
}

bool ReadTaskFixture(pugi::xml_node node, Item *item, std::string *error) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    bool known = false;
    for (const char *const *name = kTaskFixtureAttributes; *name != nullptr; ++name) {
      known = known || strcmp(a.name(), *name) == 0;
    }
    if (!known) {
      *error = std::string("unknown attribute ") + a.name() + " on <task>";
      return false;
    }
  }
  TaskData &task = item->task;
  task.startDate = node.attribute("start").value();
  task.dueDate = node.attribute("due").value();
  task.assignedDate = node.attribute("assigned").value();
  for (const std::string *date : {&task.startDate, &task.dueDate, &task.assignedDate}) {
    if (!ReadableDate(*date)) {
      *error = "unreadable date \"" + *date + "\" on <task>";
      return false;
    }
  }
  std::string completed = node.attribute("completed").as_string("0");
  if (completed != "0" && completed != "1") {
    *error = "completed must be 0 or 1";
    return false;
  }
  task.completed = completed == "1";
  if (node.attribute("percent")) {
    task.percentComplete = Percentage(node.attribute("percent").value());
    if (task.percentComplete < 0) {
      *error = "percent must be a whole number from 0 to 100";
      return false;
    }
  }
  return true;
}

}  // namespace gwsim
