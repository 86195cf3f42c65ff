// A contact or group record as a vCard 4.0.
#include "host/vcard/vcard_writer.h"

#include <cstring>

#include "host/vcard/vcard_text.h"
#include "plugin/host_message.h"

namespace vcard {
namespace {

std::string Field(const char *field, size_t cap) { return ToUtf8(std::string(field, strnlen(field, cap))); }
#define FIELD(record, name) Field((record).name, sizeof (record).name)

bool IsGroup(const HostMessage &record) { return record.contactFlag == 1; }

// Reads "month/day/year" (the year may be missing). Returns false when the
// text is not of that form or a part is out of range.
bool ParseBirthday(const std::string &text, int *year, int *month, int *day) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  size_t i = 0;
  while (count < 3) {
    size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 4) value = value * 10 + (text[i++] - '0');
    if (i == start) return false;
    parts[count++] = value;
    if (i == text.size()) break;
    if (text[i] != '/') return false;
    ++i;
  }
  if (i != text.size() || count < 2) return false;
  *month = parts[0];
  *day = parts[1];
  *year = parts[2];
  return *month >= 1 && *month <= 12 && *day >= 1 && *day <= 31;
}

// A mailto: URI for an address: everything but letters, digits and
// "-._~!$'*+@" percent-encoded, so the value needs no vCard escaping.
std::string MailtoUri(const std::string &address) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "mailto:";
  for (unsigned char c : address) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("-._~!$'*+@", c) != nullptr) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Collects the content lines of one card.
struct CardLines {
  std::string text;
  void Add(const std::string &nameAndParams, const std::string &value) { text += FoldLine(nameAndParams + ":" + value); }
  void AddText(const char *name, const std::string &value) {
    if (!value.empty()) Add(name, EscapeText(value));
  }
};

std::string Structured(const std::vector<std::string> &components) {
  std::string out;
  for (size_t i = 0; i < components.size(); ++i) out += (i ? ";" : "") + EscapeText(components[i]);
  return out;
}

void AddEmails(const HostMessage &record, CardLines *card) {
  std::vector<std::string> emails;
  for (const std::string &e : {FIELD(record, email), FIELD(record, email2), FIELD(record, email3)}) {
    bool seen = false;
    for (const std::string &have : emails) seen = seen || have == e;
    if (!e.empty() && !seen) emails.push_back(e);
  }
  // Every address gets its rank, so that programs that order addresses by
  // their labels (khard) still show the primary one first.
  for (size_t i = 0; i < emails.size(); ++i) card->Add("EMAIL;PREF=" + std::to_string(i + 1), EscapeText(emails[i]));
}

// Each phone field with the TEL types it is written with; the reader maps
// the types back to the same fields.
void AddPhones(const HostMessage &record, CardLines *card) {
  const struct {
    std::string value;
    const char *params;
  } kPhones[] = {
      {FIELD(record, officePhone), "TEL;TYPE=work,voice"}, {FIELD(record, homePhone), "TEL;TYPE=home,voice"},
      {FIELD(record, mobilePhone), "TEL;TYPE=cell"},       {FIELD(record, faxPhone), "TEL;TYPE=work,fax"},
      {FIELD(record, pagerPhone), "TEL;TYPE=pager"},       {FIELD(record, otherPhone), "TEL;TYPE=voice"},
  };
  for (const auto &p : kPhones)
    if (!p.value.empty()) card->Add(p.params, EscapeText(p.value));
}

void AddAddress(const char *params, const std::string &street, const std::string &street2, const std::string &city,
                const std::string &state, const std::string &code, const std::string &country, CardLines *card) {
  if (street.empty() && street2.empty() && city.empty() && state.empty() && code.empty() && country.empty()) return;
  std::string streets = street2.empty() ? street : street + "\n" + street2;
  card->Add(params, Structured({"", "", streets, city, state, code, country}));
}

void AddBirthday(const HostMessage &record, CardLines *card, std::vector<std::string> *warnings) {
  std::string text = FIELD(record, birthday);
  if (text.empty()) return;
  int year = 0, month = 0, day = 0;
  if (!ParseBirthday(text, &year, &month, &day)) {
    if (warnings != nullptr) warnings->push_back("birthday \"" + text + "\" not understood; left out");
    return;
  }
  char value[16];
  if (year >= 1 && year <= 9999)
    FormatText(value, sizeof value, "%04d%02d%02d", year, month, day);
  else
    FormatText(value, sizeof value, "--%02d%02d", month, day);
  card->Add("BDAY", value);
}

void AddCategories(const HostMessage &record, CardLines *card) {
  std::string list;
  for (const std::string &c : SplitEscaped(FIELD(record, categories), ';')) {
    if (c.empty()) continue;
    list += (list.empty() ? "" : ",") + EscapeText(c);
  }
  if (!list.empty()) card->Add("CATEGORIES", list);
}

void AddMembers(const HostMessage &record, CardLines *card, std::vector<std::string> *warnings) {
  for (int i = 0; i < record.recipCount && i < kMaxRecipients; ++i) {
    const HostRecipient *r = record.recips[i];
    if (r == nullptr) continue;
    std::string name = FIELD(*r, name), address = FIELD(*r, address);
    if (address.empty()) {
      if (warnings != nullptr) warnings->push_back("group member \"" + name + "\" has no e-mail address; left out");
      continue;
    }
    // The member's name rides along as a parameter: a mailto: URI has no room for it.
    std::string params = name.empty() || name == address ? "MEMBER" : "MEMBER;X-CN=" + QuoteParameter(name);
    card->Add(params, MailtoUri(address));
  }
}

}  // namespace

std::string CardUid(const HostMessage &record) {
  std::string id = FIELD(record, messageId);
  if (!id.empty()) return UuidFromText("gwid\n" + id);
  std::string key = "contact\n" + FIELD(record, bookPath) + "\n" + std::to_string(record.contactFlag) + "\n" +
                    FIELD(record, contactName) + "\n" + FIELD(record, firstName) + "\n" + FIELD(record, lastName) +
                    "\n" + FIELD(record, organization) + "\n" + FIELD(record, title) + "\n" + FIELD(record, email) +
                    "\n" + FIELD(record, email2) + "\n" + FIELD(record, email3);
  for (int i = 0; i < record.recipCount && i < kMaxRecipients; ++i)
    if (record.recips[i] != nullptr) key += "\n" + FIELD(*record.recips[i], address);
  return UuidFromText(key);
}

std::string CardDisplayName(const HostMessage &record) {
  if (IsGroup(record)) {
    std::string title = FIELD(record, title);
    if (!title.empty()) return title;
  }
  std::string first = FIELD(record, firstName), last = FIELD(record, lastName);
  for (const std::string &candidate :
       {FIELD(record, contactName), first.empty() || last.empty() ? std::string() : first + " " + last, last, first,
        FIELD(record, organization), FIELD(record, email)}) {
    if (!candidate.empty()) return candidate;
  }
  return "No Name";
}

std::string CardText(const HostMessage &record, std::vector<std::string> *warnings) {
  CardLines card;
  card.Add("BEGIN", "VCARD");
  card.Add("VERSION", "4.0");
  card.Add("PRODID", "-//MVGWS//mvmigrate//EN");
  card.Add("UID", "urn:uuid:" + CardUid(record));
  if (IsGroup(record)) card.Add("KIND", "group");
  card.AddText("FN", CardDisplayName(record));
  if (IsGroup(record)) {
    AddCategories(record, &card);
    AddMembers(record, &card, warnings);
    card.Add("END", "VCARD");
    return card.text;
  }
  card.Add("N", Structured({FIELD(record, lastName), FIELD(record, firstName), "", "", ""}));
  std::string org = FIELD(record, organization), department = FIELD(record, department);
  if (!org.empty() || !department.empty())
    card.Add("ORG", department.empty() ? EscapeText(org) : Structured({org, department}));
  card.AddText("TITLE", FIELD(record, title));
  AddEmails(record, &card);
  AddPhones(record, &card);
  AddAddress("ADR;TYPE=work", FIELD(record, officeStreet), FIELD(record, officeStreet2), FIELD(record, officeCity),
             FIELD(record, officeState), FIELD(record, officePostalCode), FIELD(record, officeCountry), &card);
  AddAddress("ADR;TYPE=home", FIELD(record, homeStreet), FIELD(record, homeStreet2), FIELD(record, homeCity),
             FIELD(record, homeState), FIELD(record, homePostalCode), FIELD(record, homeCountry), &card);
  AddBirthday(record, &card, warnings);
  card.AddText("URL", FIELD(record, website));
  AddCategories(record, &card);
  std::string spouse = FIELD(record, spouse), children = FIELD(record, children);
  if (!spouse.empty()) card.Add("RELATED;TYPE=spouse;VALUE=text", EscapeText(spouse));
  if (!children.empty()) card.Add("RELATED;TYPE=child;VALUE=text", EscapeText(children));
  card.AddText("X-MANAGER", FIELD(record, manager));
  card.AddText("X-ASSISTANT", FIELD(record, assistant));
  card.Add("END", "VCARD");
  return card.text;
}

}  // namespace vcard
