// The simulator's address-book entries: contacts, groups and organizations
// as getItemRequest shows them, and their createItemRequest.
#include <ctime>
#include <string>
#include <vector>

#include "gwsim/handlers.h"
#include "gwsim/item_filter.h"

namespace gwsim {
namespace {

const char *const kPhoneTypes[] = {"Fax",   "Home",      "Mobile",  "Office",    "Pager",
                                   "CallBack", "Office2", "Radio",  "Car",       "Other",
                                   "Telex", "ISDN",      "Assistant", "Home2",   "FaxOffice",
                                   "FaxHome", "TTYTDD",  "Company"};
const char *const kAddressTypes[] = {"Home", "Office", "Other"};

template <size_t N>
bool OneOf(const std::string &value, const char *const (&list)[N]) {
  for (const char *entry : list) {
    if (value == entry) return true;
  }
  return false;
}

void AppendIfSet(std::string *out, const char *qname, const std::string &text) {
  if (!text.empty()) AppendElement(out, qname, text);
}

// Street lines go out joined by the reference the server uses for a line end.
void AppendPostalAddress(const PostalAddress &a, const char *qname, std::string *out) {
  out->append("<").append(qname).append(" type=\"");
  AppendEscaped(out, a.type);
  out->append("\">");
  if (!a.street.empty()) {
    out->append("<gwt:streetAddress>");
    for (size_t i = 0; i < a.street.size(); ++i) {
      if (i > 0) out->append("&#xA;");
      AppendEscaped(out, a.street[i]);
    }
    out->append("</gwt:streetAddress>");
  }
  AppendIfSet(out, "gwt:city", a.city);
  AppendIfSet(out, "gwt:state", a.state);
  AppendIfSet(out, "gwt:postalCode", a.postalCode);
  AppendIfSet(out, "gwt:country", a.country);
  out->append("</").append(qname).append(">");
}

void AppendContact(const ContactCard &c, std::string *out) {
  if (!c.displayName.empty() || !c.firstName.empty() || !c.lastName.empty()) {
    out->append("<gwt:fullName>");
    AppendIfSet(out, "gwt:displayName", c.displayName);
    AppendIfSet(out, "gwt:firstName", c.firstName);
    AppendIfSet(out, "gwt:lastName", c.lastName);
    out->append("</gwt:fullName>");
  }
  if (!c.emails.empty()) {
    out->append("<gwt:emailList");
    if (!c.primaryEmail.empty()) {
      out->append(" primary=\"");
      AppendEscaped(out, c.primaryEmail);
      out->append("\"");
    }
    out->append(">");
    for (const std::string &email : c.emails) AppendElement(out, "gwt:email", email);
    out->append("</gwt:emailList>");
  }
  if (!c.phones.empty()) {
    out->append("<gwt:phoneList");
    if (!c.defaultPhone.empty()) {
      out->append(" default=\"");
      AppendEscaped(out, c.defaultPhone);
      out->append("\"");
    }
    out->append(">");
    for (const PhoneNumber &phone : c.phones) {
      out->append("<gwt:phone type=\"");
      AppendEscaped(out, phone.type);
      out->append("\">");
      AppendEscaped(out, phone.number);
      out->append("</gwt:phone>");
    }
    out->append("</gwt:phoneList>");
  }
  if (!c.addresses.empty()) {
    out->append("<gwt:addressList>");
    for (const PostalAddress &a : c.addresses) AppendPostalAddress(a, "gwt:address", out);
    out->append("</gwt:addressList>");
  }
  const std::string office = c.organization + c.department + c.title + c.website + c.manager +
                             c.assistant;
  if (!office.empty()) {
    out->append("<gwt:officeInfo>");
    if (!c.organization.empty()) {
      out->append("<gwt:organization");
      if (!c.organizationId.empty()) {
        out->append(" uid=\"");
        AppendEscaped(out, c.organizationId);
        out->append("\"");
      }
      out->append(">");
      AppendEscaped(out, c.organization);
      out->append("</gwt:organization>");
    }
    AppendIfSet(out, "gwt:department", c.department);
    AppendIfSet(out, "gwt:title", c.title);
    AppendIfSet(out, "gwt:website", c.website);
    AppendIfSet(out, "gwt:manager", c.manager);
    AppendIfSet(out, "gwt:assistant", c.assistant);
    out->append("</gwt:officeInfo>");
  }
  if (!(c.birthday + c.spouse + c.children).empty()) {
    out->append("<gwt:personalInfo>");
    AppendIfSet(out, "gwt:birthday", c.birthday);
    AppendIfSet(out, "gwt:spouse", c.spouse);
    AppendIfSet(out, "gwt:children", c.children);
    out->append("</gwt:personalInfo>");
  }
}

// The member's name and address, from the entry it refers to when the
// group does not give them.
GroupMember ResolveMember(Mailbox *mailbox, const GroupMember &member) {
  GroupMember resolved = member;
  const Item *entry = member.id.empty() ? nullptr : mailbox->FindItem(member.id);
  if (entry == nullptr) return resolved;
  if (resolved.name.empty()) resolved.name = entry->subject;
  if (resolved.email.empty()) {
    const ContactCard &c = entry->card;
    resolved.email = !c.primaryEmail.empty() ? c.primaryEmail
                     : !c.emails.empty()     ? c.emails.front()
                                             : c.email;
  }
  if (member.itemType == "Contact" && entry->kind != "Contact") resolved.itemType = entry->kind;
  return resolved;
}

void AppendGroup(Mailbox *mailbox, const ContactCard &c, std::string *out) {
  AppendIfSet(out, "gwt:email", c.email);
  if (c.members.empty()) return;
  out->append("<gwt:members>");
  for (const GroupMember &member : c.members) {
    GroupMember m = ResolveMember(mailbox, member);
    out->append("<gwt:member>");
    AppendIfSet(out, "gwt:id", m.id);
    AppendIfSet(out, "gwt:name", m.name);
    AppendIfSet(out, "gwt:email", m.email);
    AppendIfSet(out, "gwt:distType", m.distType);
    AppendIfSet(out, "gwt:itemType", m.itemType);
    out->append("</gwt:member>");
  }
  out->append("</gwt:members>");
}

void AppendOrganization(const ContactCard &c, std::string *out) {
  AppendIfSet(out, "gwt:phone", c.phone);
  AppendIfSet(out, "gwt:fax", c.fax);
  if (!c.addresses.empty()) AppendPostalAddress(c.addresses.front(), "gwt:address", out);
  AppendIfSet(out, "gwt:website", c.website);
}

// ---- createItemRequest ----

void Refuse(Answer *answer, int code, const std::string &description) {
  answer->code = code;
  answer->description = description;
}

// Element children of parent whose local name is `local`.
std::vector<pugi::xml_node> Children(pugi::xml_node parent, const char *local) {
  std::vector<pugi::xml_node> found;
  for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_element && std::string(LocalName(node.name())) == local)
      found.push_back(node);
  }
  return found;
}

std::string Trimmed(const std::string &text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

std::vector<std::string> StreetLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

bool ReadPhones(pugi::xml_node list, ContactCard *card, Answer *answer) {
  card->defaultPhone = AttributeValue(list, "default");
  for (pugi::xml_node node : Children(list, "phone")) {
    PhoneNumber phone{AttributeValue(node, "type"), Trimmed(node.text().get())};
    if (!OneOf(phone.type, kPhoneTypes)) {
      Refuse(answer, kCodeBadParameter, "Unknown phone type \"" + phone.type + "\"");
      return false;
    }
    card->phones.push_back(phone);
  }
  return true;
}

bool ReadAddresses(pugi::xml_node list, ContactCard *card, Answer *answer) {
  for (pugi::xml_node node : Children(list, "address")) {
    PostalAddress a;
    a.type = AttributeValue(node, "type");
    if (!OneOf(a.type, kAddressTypes)) {
      Refuse(answer, kCodeBadParameter, "Unknown address type \"" + a.type + "\"");
      return false;
    }
    a.street = StreetLines(Child(node, "streetAddress").text().get());
    a.city = ChildText(node, "city");
    a.state = ChildText(node, "state");
    a.postalCode = ChildText(node, "postalCode");
    a.country = ChildText(node, "country");
    card->addresses.push_back(a);
  }
  return true;
}

// xs:date: four digits, two, two, with their dashes.
bool IsDate(const std::string &text) {
  long long seconds = 0;
  return text.size() == 10 && text[4] == '-' && text[7] == '-' && ParseDateTime(text, &seconds);
}

bool ReadContact(pugi::xml_node request, Item *item, Answer *answer) {
  ContactCard &c = item->card;
  pugi::xml_node fullName = Child(request, "fullName");
  c.displayName = ChildText(fullName, "displayName");
  c.firstName = ChildText(fullName, "firstName");
  c.lastName = ChildText(fullName, "lastName");
  item->subject = c.displayName;
  pugi::xml_node emails = Child(request, "emailList");
  c.primaryEmail = AttributeValue(emails, "primary");
  for (pugi::xml_node node : Children(emails, "email")) c.emails.push_back(Trimmed(node.text().get()));
  if (!ReadPhones(Child(request, "phoneList"), &c, answer) ||
      !ReadAddresses(Child(request, "addressList"), &c, answer)) {
    return false;
  }
  pugi::xml_node office = Child(request, "officeInfo");
  c.organization = ChildText(office, "organization");
  c.organizationId = AttributeValue(Child(office, "organization"), "uid");
  c.department = ChildText(office, "department");
  c.title = ChildText(office, "title");
  c.website = ChildText(office, "website");
  c.manager = ChildText(office, "manager");
  c.assistant = ChildText(office, "assistant");
  pugi::xml_node personal = Child(request, "personalInfo");
  c.birthday = ChildText(personal, "birthday");
  c.spouse = ChildText(personal, "spouse");
  c.children = ChildText(personal, "children");
  if (!c.birthday.empty() && !IsDate(c.birthday)) {
    Refuse(answer, kCodeBadParameter, "Unreadable birthday " + c.birthday);
    return false;
  }
  return true;
}

// Members are named by id and must be entries of the group's own book.
bool ReadGroup(Mailbox *mailbox, pugi::xml_node request, Item *item, Answer *answer) {
  ContactCard &c = item->card;
  item->subject = ChildText(request, "name");
  c.email = ChildText(request, "email");
  for (pugi::xml_node node : Children(Child(request, "members"), "member")) {
    GroupMember member;
    member.id = ChildText(node, "id");
    std::string distType = ChildText(node, "distType");
    if (distType == "BCC") distType = "BC";
    if (!distType.empty()) member.distType = distType;
    if (member.distType != "TO" && member.distType != "CC" && member.distType != "BC") {
      Refuse(answer, kCodeBadParameter, "Unknown distType \"" + distType + "\"");
      return false;
    }
    if (member.id.empty()) {
      Refuse(answer, kCodeBadParameter, "A group member has no id");
      return false;
    }
    const Item *entry = mailbox->FindItem(member.id);
    if (entry == nullptr || entry->container != item->container) {
      Refuse(answer, kCodeNotFound, "The group member " + member.id + " was not found");
      return false;
    }
    c.members.push_back(member);
  }
  return true;
}

}  // namespace

void AppendContactContent(Mailbox *mailbox, const Item &item, std::string *out) {
  if (item.kind == "Group") AppendGroup(mailbox, item.card, out);
  else if (item.kind == "Organization") AppendOrganization(item.card, out);
  else AppendContact(item.card, out);
}

void AnswerCreateContact(const HandlerCall &call, pugi::xml_node request, Answer *answer) {
  Item item;
  item.kind = LocalName(AttributeValue(request, "type").c_str());
  item.container = ChildText(request, "container");
  if (!CheckContainer(call, item.container, answer)) return;
  item.created = FormatDateTime(static_cast<long long>(time(nullptr)));
  bool read = item.kind == "Group" ? ReadGroup(call.state->mailbox, request, &item, answer)
                                   : ReadContact(request, &item, answer);
  if (!read) return;
  AppendElement(&answer->inner, "gwm:id", call.state->mailbox->AddItem(item));
}

}  // namespace gwsim
