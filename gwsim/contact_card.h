// What the simulator keeps of an address-book entry beyond its name: the
// fields of a contact, the members of a group, an organization's numbers.
// Plain data held by Item::card; tests may fill it directly.
#pragma once

#include <string>
#include <vector>

namespace gwsim {

class Mailbox;

struct PhoneNumber {
  std::string type;    // "Office", "Home", "Mobile", "Fax", "Pager", "Other"...
  std::string number;
};

struct PostalAddress {
  std::string type;                 // "Office", "Home" or "Other"
  std::vector<std::string> street;  // lines; sent joined by "&#xA;"
  std::string city, state, postalCode, country;
};

// One member of a group: a reference to an entry of the same book. Name and
// e-mail left empty are taken from that entry when the group is read.
struct GroupMember {
  std::string id;
  std::string name;
  std::string email;
  std::string distType = "TO";  // "TO", "CC" or "BC"
  std::string itemType = "Contact";
};

struct ContactCard {
  // Contact: gwt:fullName, gwt:emailList, gwt:phoneList, gwt:addressList.
  std::string displayName, firstName, lastName;
  std::string primaryEmail;         // the emailList's primary attribute
  std::vector<std::string> emails;
  std::string defaultPhone;         // the phoneList's default attribute
  std::vector<PhoneNumber> phones;
  std::vector<PostalAddress> addresses;  // an organization's first is its address
  // gwt:officeInfo (website also of an organization).
  std::string organization, organizationId;  // the id becomes the uid attribute
  std::string department, title, website, manager, assistant;
  // gwt:personalInfo.
  std::string birthday;  // xs:date, "1975-04-09"
  std::string spouse, children;
  // Group: its own address and its members.
  std::string email;
  std::vector<GroupMember> members;
  // Organization: gwt:phone and gwt:fax.
  std::string phone, fax;
};

// Adds `count` contacts to the first personal address book of `owner` that
// is not the frequent-contacts book (one named "Contacts" is made when there
// is none): "Contact N" with names, two e-mail addresses, office and mobile
// phones, an office address of two street lines and a birthday. Returns
// false when the user is unknown.
bool GenerateContacts(Mailbox *mailbox, const std::string &owner, int count);

// Fills the book `bookId` with the demo's contacts: Carol Clark (office
// address of two street lines, several phones and addresses, birthday),
// Dave Dorsey (only a mobile phone), Jürgen Müller-Lüdenscheidt (non-ASCII
// names, a home address) and the group "Project team" of the three.
void AddDemoContacts(Mailbox *mailbox, const std::string &bookId);

}  // namespace gwsim
