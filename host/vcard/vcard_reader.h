// Reading vCard files as address-book programs export them (vCard 2.1, 3.0
// and 4.0: Thunderbird, Evolution, Google, Apple and our own writer) into
// contact and group records (HostMessage of kind 1).
#pragma once

#include <string>
#include <vector>

struct HostMessage;

namespace vcard {

struct Parameter {
  std::string name;   // upper case; a vCard 2.1 bare type ("WORK") comes as TYPE
  std::string value;  // quotes removed, caret encoding decoded
};

// One content line, unfolded (a quoted-printable value keeps its soft line
// breaks until the value is decoded).
struct Property {
  std::string name;  // upper case, without its group ("item1.EMAIL" -> "EMAIL")
  std::vector<Parameter> params;
  std::string value;  // as on the line: still escaped and encoded
};

struct Card {
  std::string version;  // "2.1", "3.0", "4.0" or what the card says
  std::vector<Property> properties;
  std::string text;  // the card's unfolded lines, joined by LF (for its digest)
  bool ended = false;  // END:VCARD was found
};

// Splits the text of a .vcf file into its cards (CR LF, LF or CR line ends;
// folded lines and quoted-printable soft breaks joined). Lines outside
// BEGIN:VCARD ... END:VCARD are passed over; a card nested in another (a
// vCard 2.1 AGENT) is passed over with its parent's other lines kept.
std::vector<Card> ParseCards(const std::string &text);

// The identity of a card across runs: "uid:" and its UID, or "sha256:" and
// the digest of its text when it has none.
std::string CardKey(const Card &card);

// The name a person would know the card by: FN, else the name parts.
std::string CardName(const Card &card);

// Fills the record (which the caller has cleared) from the card: itemKind 1;
// names, organization, department, title, up to three e-mail addresses with
// the preferred one first, phones by type, office and home addresses (two
// street lines), birthday as month/day/year, web page, categories; a group
// (KIND:group, Apple's and Evolution's list cards) with contactFlag 1, its
// name in title and one To recipient per member. *warnings gets one line for
// each thing the record cannot hold or that is not understood (a property
// left out, a value cut, quoted-printable or a charset that is not
// understood), never in silence. Returns 0, or -1 with *reason set when the
// card cannot be taken at all (not ended, no name and no address at all).
int CardToRecord(const Card &card, HostMessage *record, std::vector<std::string> *warnings, std::string *reason);

}  // namespace vcard
