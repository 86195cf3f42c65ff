// Writing a contact or group record (HostMessage of kind 1) as one vCard 4.0
// (RFC 6350): names, organization, e-mail addresses with the primary one
// preferred, phones by type, office and home addresses, birthday, web page,
// categories; a group as KIND:group with one MEMBER per member.
#pragma once

#include <string>
#include <vector>

struct HostMessage;

namespace vcard {

// The card's UID without its "urn:uuid:" prefix: the record's GroupWise id
// when it has one, else a digest of the fields that tell one entry of a
// book from another (book, kind, names, organization, e-mail addresses,
// members). The same entry gives the same UID in every export.
std::string CardUid(const HostMessage &record);

// The display name of the card (FN): the contact name GroupWise shows, else
// first and last name, last name, first name, organization, the primary
// e-mail address; a group's name (title). "No Name" when all are empty.
std::string CardDisplayName(const HostMessage &record);

// The whole vCard of the record, lines folded and ended by CR LF, UTF-8.
// *warnings (may be null) gets a line for each thing of the record the card
// does not carry (a birthday it cannot read, a member without an address).
std::string CardText(const HostMessage &record, std::vector<std::string> *warnings);

}  // namespace vcard
