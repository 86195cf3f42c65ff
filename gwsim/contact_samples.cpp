// Address-book entries made by the simulator itself: the demo mailbox's
// contacts and group, and generated contacts for load tests.
#include <string>

#include "gwsim/item_filter.h"
#include "gwsim/mailbox.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const long long kFirstContactSeconds = 1577836800;  // 2020-01-01T00:00:00Z

Item Entry(const std::string &book, const char *kind, const char *created, const char *name) {
  Item item;
  item.container = book;
  item.kind = kind;
  item.created = created;
  item.subject = name;
  return item;
}

void SetNames(ContactCard *c, const char *display, const char *first, const char *last) {
  c->displayName = display;
  c->firstName = first;
  c->lastName = last;
}

std::string CarolClark(Mailbox *mailbox, const std::string &book) {
  Item item = Entry(book, "Contact", "2025-06-01T10:00:00Z", "Carol Clark");
  ContactCard &c = item.card;
  SetNames(&c, "Carol Clark", "Carol", "Clark");
  c.primaryEmail = "carol@example.com";
  c.emails = {"carol@example.com", "carol.clark@example.org"};
  c.defaultPhone = "+1 801 555 0100";
  c.phones = {{"Office", "+1 801 555 0100"}, {"Mobile", "+1 801 555 0101"},
              {"Fax", "+1 801 555 0102"}};
  c.addresses = {{"Office", {"1800 South Novell Place", "Building B, Room 2"}, "Provo", "UT",
                  "84606", "USA"},
                 {"Home", {"12 Elm Street"}, "Orem", "UT", "84057", "USA"}};
  c.organization = "Example Corp";
  c.organizationId = "ORG.EXAMPLE@14";
  c.department = "Sales";
  c.title = "Account Manager";
  c.website = "https://www.example.com/carol";
  c.birthday = "1975-04-09";
  return mailbox->AddItem(item);
}

std::string DaveDorsey(Mailbox *mailbox, const std::string &book) {
  Item item = Entry(book, "Contact", "2025-06-02T10:00:00Z", "Dave Dorsey");
  SetNames(&item.card, "Dave Dorsey", "Dave", "Dorsey");
  item.card.primaryEmail = "dave@example.com";
  item.card.emails = {"dave@example.com"};
  item.card.defaultPhone = "+1 801 555 0199";
  item.card.phones = {{"Mobile", "+1 801 555 0199"}};
  return mailbox->AddItem(item);
}

std::string JuergenMueller(Mailbox *mailbox, const std::string &book) {
  Item item = Entry(book, "Contact", "2025-06-02T11:00:00Z", "Jürgen Müller-Lüdenscheidt");
  ContactCard &c = item.card;
  SetNames(&c, "Jürgen Müller-Lüdenscheidt", "Jürgen", "Müller-Lüdenscheidt");
  c.primaryEmail = "juergen@example.de";
  c.emails = {"juergen@example.de"};
  c.defaultPhone = "+49 30 5550 1234";
  c.phones = {{"Home", "+49 30 5550 1234"}};
  c.addresses = {{"Home", {"Straße des 17. Juni 1"}, "Berlin", "", "10623", "Deutschland"}};
  c.organization = "Größenwahn & Söhne GmbH";
  c.title = "Geschäftsführer";
  return mailbox->AddItem(item);
}

}  // namespace

void AddDemoContacts(Mailbox *mailbox, const std::string &bookId) {
  std::string carol = CarolClark(mailbox, bookId);
  std::string dave = DaveDorsey(mailbox, bookId);
  std::string juergen = JuergenMueller(mailbox, bookId);
  Item group = Entry(bookId, "Group", "2025-06-03T10:00:00Z", "Project team");
  group.card.email = "project-team@example.com";
  GroupMember to, cc, bc;
  to.id = carol;
  cc.id = dave;
  cc.distType = "CC";
  bc.id = juergen;
  bc.distType = "BC";
  group.card.members = {to, cc, bc};
  mailbox->AddItem(group);
}

bool GenerateContacts(Mailbox *mailbox, const std::string &owner, int count) {
  if (mailbox->FindUser(owner) == nullptr) return false;
  std::string book;
  for (const AddressBook &b : mailbox->books) {
    if (b.owner == owner && b.isPersonal && !b.isFrequentContacts) {
      book = b.id;
      break;
    }
  }
  if (book.empty()) {
    AddressBook contacts;
    contacts.owner = owner;
    contacts.name = "Contacts";
    contacts.isPersonal = true;
    book = mailbox->AddAddressBook(contacts);
  }
  for (int i = 1; i <= count; ++i) {
    char name[64], first[32], last[32], email[64], other[64], phone[32], mobile[32], birthday[16];
    FormatText(name, sizeof name, "Contact %d", i);
    FormatText(first, sizeof first, "Given%d", i);
    FormatText(last, sizeof last, "Family%d", i);
    FormatText(email, sizeof email, "contact%d@example.com", i);
    FormatText(other, sizeof other, "contact%d@example.org", i);
    FormatText(phone, sizeof phone, "+1 555 %07d", i);
    FormatText(mobile, sizeof mobile, "+1 555 9%06d", i % 1000000);
    FormatText(birthday, sizeof birthday, "%d-%02d-%02d", 1950 + i % 50, 1 + i % 12, 1 + i % 28);
    Item item;
    item.container = book;
    item.kind = "Contact";
    item.created = FormatDateTime(kFirstContactSeconds + 60LL * i);
    item.subject = name;
    ContactCard &c = item.card;
    SetNames(&c, name, first, last);
    c.primaryEmail = email;
    c.emails = {email, other};
    c.defaultPhone = phone;
    c.phones = {{"Office", phone}, {"Mobile", mobile}};
    c.addresses = {{"Office", {"1 Generated Way", "Suite " + std::to_string(i)}, "Provo", "UT",
                    "84606", "USA"}};
    c.birthday = birthday;
    mailbox->AddItem(item);
  }
  return true;
}

}  // namespace gwsim
