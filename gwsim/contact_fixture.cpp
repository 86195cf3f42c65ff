// Fixture files: names, addresses, phones, office and personal data of a
// contact, the members of a group and an organization's numbers, read from
// the children of an address-book item.
#include "gwsim/contact_fixture.h"

#include <cstring>

#include "gwsim/item_filter.h"

namespace gwsim {
namespace {

struct ElementRule {
  const char *name;
  const char *const *attributes;  // allowed, null-terminated
};

const char *const kNameAttributes[] = {"display", "first", "last", nullptr};
const char *const kEmailAttributes[] = {"address", "primary", nullptr};
const char *const kPhoneAttributes[] = {"type", "number", "default", nullptr};
const char *const kAddressAttributes[] = {"type", "city", "state", "postalCode", "country",
                                          nullptr};
const char *const kOfficeAttributes[] = {"organization", "organizationId", "department",
                                         "title", "website", "manager", "assistant", nullptr};
const char *const kPersonalAttributes[] = {"birthday", "spouse", "children", nullptr};
const char *const kMemberAttributes[] = {"ref", "name", "email", "distType", "itemType", nullptr};

const ElementRule kElements[] = {
    {"name", kNameAttributes},         {"email", kEmailAttributes},
    {"phone", kPhoneAttributes},       {"address", kAddressAttributes},
    {"office", kOfficeAttributes},     {"personal", kPersonalAttributes},
    {"member", kMemberAttributes},
};

bool IsAddressBookKind(const std::string &kind) {
  return kind == "Contact" || kind == "Group" || kind == "Organization" || kind == "Resource";
}

bool Allowed(const char *name, const char *const *list) {
  for (; *list != nullptr; ++list) {
    if (strcmp(name, *list) == 0) return true;
  }
  return false;
}

int Fault(std::string *error, const std::string &message) {
  *error = message;
  return -1;
}

std::string Text(pugi::xml_node node, const char *attribute) {
  return node.attribute(attribute).value();
}

int LoadAddress(pugi::xml_node node, ContactCard *card, std::string *error) {
  PostalAddress a;
  a.type = Text(node, "type");
  if (a.type != "Office" && a.type != "Home" && a.type != "Other")
    return Fault(error, "an address type is Office, Home or Other");
  for (pugi::xml_node street = node.first_child(); street; street = street.next_sibling()) {
    if (street.type() != pugi::node_element) continue;
    if (strcmp(street.name(), "street") != 0)
      return Fault(error, std::string("unexpected <") + street.name() + "> in <address>");
    a.street.push_back(street.text().get());
  }
  a.city = Text(node, "city");
  a.state = Text(node, "state");
  a.postalCode = Text(node, "postalCode");
  a.country = Text(node, "country");
  card->addresses.push_back(a);
  return 1;
}

int LoadPhone(pugi::xml_node node, const std::string &kind, ContactCard *card,
              std::string *error) {
  PhoneNumber phone{Text(node, "type"), Text(node, "number")};
  if (phone.type.empty()) return Fault(error, "a phone needs a type");
  if (kind == "Organization") {
    (phone.type == "Fax" ? card->fax : card->phone) = phone.number;
    return 1;
  }
  if (node.attribute("default").as_bool(false)) card->defaultPhone = phone.number;
  card->phones.push_back(phone);
  return 1;
}

int LoadMember(pugi::xml_node node, const std::string &kind, ContactCard *card,
               std::string *error) {
  if (kind != "Group") return Fault(error, "only a group has members");
  GroupMember member;
  member.id = Text(node, "ref");
  member.name = Text(node, "name");
  member.email = Text(node, "email");
  member.distType = node.attribute("distType").as_string("TO");
  member.itemType = node.attribute("itemType").as_string("Contact");
  if (member.distType != "TO" && member.distType != "CC" && member.distType != "BC")
    return Fault(error, "a member's distType is TO, CC or BC");
  card->members.push_back(member);
  return 1;
}

int LoadCardElement(pugi::xml_node node, const std::string &kind, ContactCard *card,
                    std::string *error) {
  const std::string name = node.name();
  if (name == "name") {
    card->displayName = Text(node, "display");
    card->firstName = Text(node, "first");
    card->lastName = Text(node, "last");
  } else if (name == "email") {
    const std::string address = Text(node, "address");
    if (kind == "Group") {
      card->email = address;
      return 1;
    }
    card->emails.push_back(address);
    if (node.attribute("primary").as_bool(false)) card->primaryEmail = address;
  } else if (name == "phone") {
    return LoadPhone(node, kind, card, error);
  } else if (name == "address") {
    return LoadAddress(node, card, error);
  } else if (name == "office") {
    card->organization = Text(node, "organization");
    card->organizationId = Text(node, "organizationId");
    card->department = Text(node, "department");
    card->title = Text(node, "title");
    card->website = Text(node, "website");
    card->manager = Text(node, "manager");
    card->assistant = Text(node, "assistant");
  } else if (name == "personal") {
    card->birthday = Text(node, "birthday");
    long long seconds = 0;
    if (!card->birthday.empty() && !ParseDateTime(card->birthday, &seconds))
      return Fault(error, "unreadable birthday \"" + card->birthday + "\"");
    card->spouse = Text(node, "spouse");
    card->children = Text(node, "children");
  } else if (name == "member") {
    return LoadMember(node, kind, card, error);
  }
  return 1;
}

}  // namespace

int LoadContactChild(pugi::xml_node child, Item *item, std::string *error) {
  if (!IsAddressBookKind(item->kind)) return 0;
  const ElementRule *rule = nullptr;
  for (const ElementRule &r : kElements) {
    if (strcmp(child.name(), r.name) == 0) rule = &r;
  }
  if (rule == nullptr) return 0;
  for (pugi::xml_attribute a = child.first_attribute(); a; a = a.next_attribute()) {
    if (!Allowed(a.name(), rule->attributes))
      return Fault(error, std::string("unknown attribute ") + a.name() + " on <" + rule->name + ">");
  }
  return LoadCardElement(child, item->kind, &item->card, error);
}

}  // namespace gwsim
