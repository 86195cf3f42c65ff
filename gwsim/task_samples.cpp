// The demo mailbox's tasks and rules, and generated task lists.
#include "gwsim/task_samples.h"

#include "gwsim/item_filter.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const long long kFirstTaskSeconds = 1577836800;  // 2020-01-01T00:00:00Z
const long long kDaySeconds = 86400;

BodyPart TextBody(const std::string &text) {
  BodyPart body;
  body.contentType = "text/plain";
  body.data = text;
  return body;
}

}  // namespace

void AddDemoTasks(Mailbox *mailbox, const std::string &checklist) {
  Item expenses;
  expenses.container = checklist;
  expenses.kind = "Task";
  expenses.created = "2026-01-08T07:30:00Z";
  expenses.subject = "Send the travel expenses";
  expenses.priority = "High";
  expenses.fromName = "Bob Berger";
  expenses.fromEmail = "bob@example.com";
  expenses.bodies.push_back(TextBody("Receipts from the Berlin trip, please.\n"));
  expenses.task.startDate = "2026-01-08";
  expenses.task.assignedDate = "2026-01-08";
  expenses.task.dueDate = "2026-01-15";
  expenses.task.completed = true;
  expenses.task.percentComplete = 100;
  mailbox->AddItem(expenses);

  Item room;
  room.container = checklist;
  room.kind = "Task";
  room.created = "2026-02-14T11:00:00Z";
  room.subject = "Book the meeting room";
  room.priority = "Standard";
  room.fromName = "Alice Anders";
  room.fromEmail = "alice@example.com";
  Attachment html;
  html.name = "text.htm";
  html.contentType = "text/html";
  html.hidden = true;
  html.data = "<html><body><p>Room 2 for the <b>project review</b>, with a projector.</p>"
              "</body></html>";
  room.attachments.push_back(html);
  room.task.startDate = "2026-02-14";
  room.task.dueDate = "2026-03-19";
  room.task.percentComplete = 40;
  mailbox->AddItem(room);
}

void AddDemoRules(Mailbox *mailbox, const std::string &owner) {
  Rule urgent;
  urgent.owner = owner;
  urgent.id = "RULE.1@1";
  urgent.name = "Urgent mail from Carol to my phone";
  urgent.types = "Mail";
  urgent.source = "received";
  urgent.hasFilter = true;
  urgent.filter.op = "and";
  urgent.filter.children.resize(2);
  urgent.filter.children[0].op = "eq";
  urgent.filter.children[0].field = "from";
  urgent.filter.children[0].value = "carol@example.com";
  urgent.filter.children[1].op = "contains";
  urgent.filter.children[1].field = "subject";
  urgent.filter.children[1].value = "urgent";
  RuleAction forward;
  forward.type = "Forward";
  forward.recipients.push_back(RuleForward{"Alice (phone)", "alice.phone@example.net", "TO"});
  RuleAction markRead;
  markRead.type = "MarkRead";
  urgent.actions.push_back(forward);
  urgent.actions.push_back(markRead);
  mailbox->rules.push_back(urgent);

  Rule newsletters;
  newsletters.owner = owner;
  newsletters.id = "RULE.2@1";
  newsletters.name = "Newsletters out of the way";
  newsletters.types = "Mail";
  newsletters.source = "received";
  newsletters.hasFilter = true;
  newsletters.filter.op = "contains";
  newsletters.filter.field = "subject";
  newsletters.filter.value = "newsletter";
  RuleAction move;
  move.type = "Move";
  const Folder *junk = mailbox->FindFolderByType(owner, "JunkMail");
  if (junk != nullptr) move.container = junk->id;
  newsletters.actions.push_back(move);
  mailbox->rules.push_back(newsletters);
}

bool GenerateTasks(Mailbox *mailbox, const std::string &owner, int count) {
  const User *user = mailbox->FindUser(owner);
  if (user == nullptr) return false;
  const std::string root = user->rootFolderId;
  Folder *found = mailbox->FindFolderByType(owner, "Checklist");
  std::string checklist;
  if (found != nullptr) {
    checklist = found->id;
  } else {
    Folder folder;
    folder.parentId = root;
    folder.owner = owner;
    folder.name = "Checklist";
    folder.kind = "SystemFolder";
    folder.folderType = "Checklist";
    checklist = mailbox->AddFolder(folder);
  }
  for (int i = 0; i < count; ++i) {
    char subject[64];
    FormatText(subject, sizeof subject, "Generated task %d", i + 1);
    const long long start = kFirstTaskSeconds + kDaySeconds * i;
    Item item;
    item.container = checklist;
    item.kind = "Task";
    item.created = FormatDateTime(start);
    item.subject = subject;
    item.priority = i % 3 == 0 ? "High" : "Standard";
    item.fromName = "Generator";
    item.fromEmail = "generator@example.com";
    item.bodies.push_back(TextBody(std::string(subject) + "\n"));
    item.task.startDate = FormatDateTime(start).substr(0, 10);
    item.task.assignedDate = item.task.startDate;
    item.task.dueDate = FormatDateTime(start + 7 * kDaySeconds).substr(0, 10);
    item.task.completed = i % 10 == 9;
    item.task.percentComplete = item.task.completed ? 100 : (i * 10) % 100;
    mailbox->AddItem(item);
  }
  return true;
}

}  // namespace gwsim
