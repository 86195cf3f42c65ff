// The built-in demo mailbox: alice with a realistic folder tree, address
// books and categories, bob, the resource mailbox "confroom", and the
// trusted application "Movaro".
#include <string>

#include "gwsim/demo_originals.h"
#include "gwsim/mailbox.h"
#include "gwsim/original_message.h"
#include "gwsim/task_samples.h"

namespace gwsim {

// A received mail to alice with a text body.
Item DemoMail(const std::string &container, const char *created, const char *subject,
              const char *fromName, const char *fromEmail, const char *text) {
  Item mail;
  mail.container = container;
  mail.created = created;
  mail.delivered = created;
  mail.source = "received";
  mail.subject = subject;
  mail.fromName = fromName;
  mail.fromEmail = fromEmail;
  Recipient alice;
  alice.displayName = "Alice Anders";
  alice.email = "alice@example.com";
  mail.recipients.push_back(alice);
  BodyPart body;
  body.contentType = "text/plain";
  body.data = text;
  mail.bodies.push_back(body);
  return mail;
}

Attachment DemoFile(const char *name, const char *contentType, const std::string &data,
                    bool hidden) {
  Attachment file;
  file.name = name;
  file.contentType = contentType;
  file.data = data;
  file.hidden = hidden;
  return file;
}

namespace {

const char kMovaroKey[] = "3F2504E04F8911D39A0C0305E82C3301";

struct DemoBuilder {
  Mailbox *mailbox;
  std::string owner;

  std::string AddFolderBelow(const std::string &parent, const char *name, const char *kind,
                             const char *folderType) {
    Folder folder;
    folder.parentId = parent;
    folder.owner = owner;
    folder.name = name;
    folder.kind = kind;
    folder.folderType = folderType;
    return mailbox->AddFolder(folder);
  }

  std::string AddSystem(const std::string &root, const char *name, const char *folderType) {
    return AddFolderBelow(root, name, "SystemFolder", folderType);
  }

  void AddItem(const std::string &container, const char *kind, const char *created,
               const char *subject) {
    Item item;
    item.container = container;
    item.kind = kind;
    item.created = created;
    item.subject = subject;
    mailbox->AddItem(item);
  }

  std::string AddBook(const char *name, const char *description, bool personal, bool frequent) {
    AddressBook book;
    book.owner = owner;
    book.name = name;
    book.description = description;
    book.isPersonal = personal;
    book.isFrequentContacts = frequent;
    return mailbox->AddAddressBook(book);
  }

  void AddCategory(const char *id, const char *name) {
    Category category;
    category.owner = owner;
    category.id = id;
    category.name = name;
    mailbox->AddCategory(category);
  }
};

std::string RootOf(Mailbox *mailbox, const char *user) {
  return mailbox->FindUser(user)->rootFolderId;
}

// alice's inbox: a plain mail, an HTML mail with an attachment, a mail with
// non-ASCII names and texts, and a forward holding an attached mail.
void AddAliceInbox(DemoBuilder *b, const std::string &inbox) {
  Item welcome = DemoMail(inbox, "2026-01-05T09:12:00Z", "Welcome to the new project",
                          "Bob Berger", "bob@example.com",
                          "Hi Alice,\n\nwelcome aboard! The kick-off is on Monday at 10.\n\n"
                          "Bob\n");
  Recipient carol;
  carol.displayName = "Carol Clark";
  carol.email = "carol@example.com";
  carol.distType = "CC";
  welcome.recipients.push_back(carol);
  welcome.read = true;
  welcome.msgId = "65A1B2C3.DOM.PO.100.1.1.1@example.com";
  b->mailbox->AddItem(welcome);

  Item budget = DemoMail(inbox, "2026-02-10T14:30:00Z", "Budget figures for Q1", "Carol Clark",
                         "carol@example.com", "The Q1 budget is attached.\n");
  budget.priority = "High";
  budget.attachments.push_back(DemoFile(
      "text.htm", "text/html",
      "<html><body><p>The <b>Q1 budget</b> is attached.</p></body></html>", true));
  budget.attachments.push_back(DemoFile("budget-q1.csv", "text/csv",
                                        "item;amount\nhardware;12000\ntravel;3500\n"));
  b->mailbox->AddItem(budget);

  // From the Internet: GroupWise keeps the message as it arrived beside it.
  Item lunch = DemoMail(inbox, "2026-03-02T08:05:00Z",
                        "Lunch on Friday? Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln",
                        "J\xc3\xbcrgen Wei\xc3\x9f", "juergen.weiss@example.de",
                        "Hallo Alice,\n\nh\xc3\xa4ttest du Freitag Zeit f\xc3\xbcr "
                        "ein Mittagessen?\n\nJ\xc3\xbcrgen\n");
  lunch.msgId = "mittag-0302.88a1@example.de";
  lunch.attachments.push_back(OriginalAttachment(lunch, ""));
  b->mailbox->AddItem(lunch);

  Item inner = DemoMail(inbox, "2026-03-14T11:00:00Z", "Contract draft", "Dave Dorsey",
                        "dave@example.com", "Here is the first draft of the contract.\n");
  inner.embedded = true;
  inner.attachments.push_back(DemoFile("contract-draft.txt", "text/plain",
                                       "CONTRACT\n\n1. Parties\n2. Scope\n3. Terms\n"));
  const std::string innerId = b->mailbox->AddItem(inner);
  Item tagged = DemoMail(inbox, "2026-03-15T16:45:00Z", "Contract draft & notes", "Bob Berger",
                         "bob@example.com", "Forwarding Dave's draft, my notes follow.\n");
  tagged.categories = {"1A2@55", "1A4@55"};
  Attachment attached;
  attached.id = innerId;
  attached.name = "Contract draft";
  attached.contentType = "Mail";
  attached.itemReference = true;
  tagged.attachments.push_back(attached);
  b->mailbox->AddItem(tagged);
}

void AddAliceFolders(DemoBuilder *b) {
  std::string root = RootOf(b->mailbox, "alice");
  std::string inbox = b->AddSystem(root, "Mailbox", "Mailbox");
  AddAliceInbox(b, inbox);
  AddDemoOriginals(b->mailbox, inbox);

  std::string sent = b->AddSystem(root, "Sent Items", "SentItems");
  b->mailbox->FindFolder(sent)->showCount = false;
  b->AddItem(sent, "Mail", "2026-01-06T10:00:00Z", "Re: Welcome to the new project");
  b->AddItem(sent, "Mail", "2026-02-11T09:20:00Z", "Re: Budget figures for Q1");

  std::string calendar = b->AddSystem(root, "Calendar", "Calendar");
  b->mailbox->FindFolder(calendar)->calendarAttribute = true;
  AddDemoCalendar(b->mailbox, calendar);

  b->AddFolderBelow(root, "Contacts", "ContactFolder", "Contacts");
  std::string checklist = b->AddSystem(root, "Checklist", "Checklist");
  AddDemoTasks(b->mailbox, checklist);
  b->AddSystem(root, "Work In Progress", "Draft");

  std::string cabinet = b->AddSystem(root, "Cabinet", "Cabinet");
  std::string projects = b->AddFolderBelow(cabinet, "Projects", "Folder", "Normal");
  b->AddItem(projects, "Mail", "2025-11-20T13:00:00Z", "Project charter");
  std::string year = b->AddFolderBelow(projects, "2026", "Folder", "Normal");
  b->AddItem(year, "Mail", "2026-01-12T09:00:00Z", "Kick-off minutes");
  b->AddItem(year, "Mail", "2026-02-03T17:10:00Z", "Milestone plan");
  std::string receipts = b->AddFolderBelow(cabinet, "Receipts  ", "Folder", "Normal");
  b->AddItem(receipts, "Mail", "2025-12-24T18:00:00Z", "Your order has shipped");
  std::string teamCalendar = b->AddFolderBelow(cabinet, "Team Calendar", "Folder", "Normal");
  Folder *team = b->mailbox->FindFolder(teamCalendar);
  team->calendarAttribute = true;
  team->displayFolderType = "Calendar";
  b->AddItem(teamCalendar, "Appointment", "2026-03-03T09:00:00Z", "Team offsite");

  std::string byMe = b->AddFolderBelow(root, "Shared Plans", "SharedFolder", "Normal");
  b->mailbox->FindFolder(byMe)->isSharedByMe = true;
  b->AddItem(byMe, "Mail", "2026-02-20T10:00:00Z", "Plan for the spring release");
  std::string toMe = b->AddFolderBelow(root, "Bob's Notes", "SharedFolder", "Normal");
  b->mailbox->FindFolder(toMe)->showCount = false;
  b->AddItem(toMe, "Mail", "2026-02-21T10:00:00Z", "Notes from the supplier call");

  b->AddSystem(root, "Junk Mail", "JunkMail");
  AddDemoRules(b->mailbox, b->owner);
  std::string trash = b->AddSystem(root, "Trash", "Trash");
  b->AddItem(trash, "Mail", "2025-10-01T08:00:00Z", "Old newsletter");
}

void AddAliceBooks(DemoBuilder *b) {
  std::string personal = b->AddBook("Alice's Contacts", "", true, false);
  AddDemoContacts(b->mailbox, personal);
  std::string frequent = b->AddBook("Frequent Contacts", "", true, true);
  b->AddItem(frequent, "Contact", "2025-07-01T10:00:00Z", "Bob Berger");
  std::string shared = b->AddBook(
      "Team Directory",
      "You have been granted shared access to the address book Team Directory.", true, false);
  b->AddItem(shared, "Contact", "2025-08-01T10:00:00Z", "Erin Evans");
  b->AddCategory("1A2@55", "Business");
  b->AddCategory("1A3@55", "Personal");
  b->AddCategory("1A4@55", "Follow up");
}

void AddPlainMailbox(DemoBuilder *b, const char *user) {
  std::string root = RootOf(b->mailbox, user);
  std::string inbox = b->AddSystem(root, "Mailbox", "Mailbox");
  std::string sent = b->AddSystem(root, "Sent Items", "SentItems");
  b->mailbox->FindFolder(sent)->showCount = false;
  std::string calendar = b->AddSystem(root, "Calendar", "Calendar");
  b->mailbox->FindFolder(calendar)->calendarAttribute = true;
  b->AddFolderBelow(root, "Contacts", "ContactFolder", "Contacts");
  b->AddSystem(root, "Checklist", "Checklist");
  b->AddSystem(root, "Cabinet", "Cabinet");
  b->AddSystem(root, "Trash", "Trash");
  if (b->owner == "confroom") {
    b->AddItem(calendar, "Appointment", "2026-01-15T09:00:00Z", "Board meeting");
    b->AddItem(calendar, "Appointment", "2026-01-16T13:00:00Z", "Customer workshop");
  } else {
    b->AddItem(inbox, "Mail", "2026-01-09T08:00:00Z", "Status report");
    b->AddItem(inbox, "Mail", "2026-01-10T08:00:00Z", "Holiday schedule");
    b->AddItem(calendar, "Appointment", "2026-01-11T10:00:00Z", "One-on-one");
    b->AddBook("Bob's Contacts", "", true, false);
    b->AddCategory("2B1@55", "Urgent");
  }
}

void AddUsers(Mailbox *mailbox) {
  User alice;
  alice.name = "alice";
  alice.password = "secret";
  alice.displayName = "Alice Anders";
  alice.email = "alice@example.com";
  alice.proxyFor = {"bob", "confroom"};
  mailbox->AddUser(alice);
  User bob;
  bob.name = "bob";
  bob.password = "hunter2";
  bob.displayName = "Bob Berger";
  bob.email = "bob@example.com";
  mailbox->AddUser(bob);
  User room;
  room.name = "confroom";
  room.password = "room";
  room.displayName = "Conference Room 1";
  room.email = "confroom@example.com";
  room.recipType = "Resource";
  mailbox->AddUser(room);
  mailbox->AddTrustedApp(TrustedApp{"Movaro", kMovaroKey});
}

void AddSystemBook(Mailbox *mailbox) {
  DemoBuilder system{mailbox, ""};
  std::string book = system.AddBook("GroupWise Address Book", "", false, false);
  system.AddItem(book, "Contact", "2024-01-01T00:00:00Z", "Alice Anders");
  system.AddItem(book, "Contact", "2024-01-01T00:00:00Z", "Bob Berger");
  system.AddItem(book, "Resource", "2024-01-01T00:00:00Z", "Conference Room 1");
}

}  // namespace

void LoadDemoMailbox(Mailbox *mailbox) {
  mailbox->Clear();
  AddUsers(mailbox);
  DemoBuilder alice{mailbox, "alice"};
  AddAliceFolders(&alice);
  AddAliceBooks(&alice);
  DemoBuilder bob{mailbox, "bob"};
  AddPlainMailbox(&bob, "bob");
  DemoBuilder room{mailbox, "confroom"};
  AddPlainMailbox(&room, "confroom");
  AddSystemBook(mailbox);
}

}  // namespace gwsim
