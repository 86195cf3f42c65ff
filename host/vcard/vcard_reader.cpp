// vCard 2.1, 3.0 and 4.0 files into contact and group records.
#include "host/vcard/vcard_reader.h"

#include <algorithm>
#include <cstring>

#include "host/vcard/vcard_text.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"

namespace vcard {
namespace {

std::string Upper(std::string text) {
  for (char &c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The position of the ":" that ends the name and parameters, quotes honoured.
size_t ValueColon(const std::string &line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return std::string::npos;
}

bool IsQuotedPrintableLine(const std::string &line) {
  size_t colon = ValueColon(line);
  return colon != std::string::npos && Upper(line.substr(0, colon)).find("QUOTED-PRINTABLE") != std::string::npos;
}

// The physical lines of the text joined into content lines.
std::vector<std::string> UnfoldLines(const std::string &text) {
  std::vector<std::string> lines;
  std::string current;
  bool have = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end;
    if (pos < text.size() && text[pos] == '\r') {
      ++pos;
      if (pos < text.size() && text[pos] == '\n') ++pos;
    } else if (pos < text.size()) {
      ++pos;
    }
    if (have && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      current += line.substr(1);
    } else if (have && !current.empty() && current.back() == '=' && IsQuotedPrintableLine(current)) {
      current += "\n" + line;  // a soft line break: the decoder joins the halves
    } else {
      if (have && !current.empty()) lines.push_back(current);
      current = line;
      have = true;
    }
  }
  if (have && !current.empty()) lines.push_back(current);
  return lines;
}

// Splits "a;b=\"x;y\";c" at the semicolons outside quotes.
std::vector<std::string> SplitParams(const std::string &head) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : head) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

std::string Unquote(const std::string &value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
  return value;
}

bool ParseProperty(const std::string &line, Property *prop) {
  size_t colon = ValueColon(line);
  if (colon == std::string::npos) return false;
  std::vector<std::string> head = SplitParams(line.substr(0, colon));
  std::string name = Upper(head[0]);
  size_t dot = name.rfind('.');
  prop->name = dot == std::string::npos ? name : name.substr(dot + 1);
  prop->params.clear();
  for (size_t i = 1; i < head.size(); ++i) {
    size_t eq = head[i].find('=');
    Parameter p;
    if (eq == std::string::npos) {
      // vCard 2.1 names only the value: "TEL;WORK;VOICE", "N;QUOTED-PRINTABLE".
      std::string bare = Upper(head[i]);
      bool encoding = bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" || bare == "7BIT";
      p.name = encoding ? "ENCODING" : "TYPE";
      p.value = head[i];
    } else {
      p.name = Upper(head[i].substr(0, eq));
      p.value = DecodeParameter(Unquote(head[i].substr(eq + 1)));
    }
    prop->params.push_back(p);
  }
  prop->value = line.substr(colon + 1);
  return !prop->name.empty();
}

std::string ParamValue(const Property &prop, const char *name) {
  for (const Parameter &p : prop.params)
    if (p.name == name) return p.value;
  return "";
}

// Whether one of the property's TYPE values (comma lists included) is type.
bool HasType(const Property &prop, const char *type) {
  for (const Parameter &p : prop.params) {
    if (p.name != "TYPE") continue;
    for (const std::string &t : SplitEscaped(p.value, ','))
      if (EqualsNoCase(t.c_str(), type)) return true;
  }
  return false;
}

// Where a card's warnings go, with the property they are about.
struct Notes {
  std::vector<std::string> *warnings;
  std::vector<std::string> leftOut;  // names of properties the record cannot hold
  void Warn(const std::string &text) {
    if (warnings != nullptr && std::find(warnings->begin(), warnings->end(), text) == warnings->end())
      warnings->push_back(text);
  }
  void LeaveOut(const std::string &name) {
    if (std::find(leftOut.begin(), leftOut.end(), name) == leftOut.end()) leftOut.push_back(name);
  }
};

// Line ends inside a value (quoted-printable "=0D=0A") as line feeds.
std::string LineFeeds(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

// The property's value decoded (quoted-printable, base64) and made UTF-8
// (from its CHARSET, else UTF-8 when valid, else Windows-1252); still
// escaped.
std::string DecodedValue(const Property &prop, Notes *notes) {
  std::string encoding = Upper(ParamValue(prop, "ENCODING"));
  std::string bytes = prop.value;
  if (encoding == "QUOTED-PRINTABLE") {
    int malformed = 0;
    bytes = DecodeQuotedPrintable(prop.value, &malformed);
    if (malformed > 0) notes->Warn(prop.name + ": quoted-printable not understood; kept as it stands");
  } else if (encoding == "B" || encoding == "BASE64") {
    if (!DecodeBase64(prop.value, &bytes)) {
      notes->Warn(prop.name + ": base64 value not understood; left out");
      return "";
    }
  } else if (!encoding.empty() && encoding != "8BIT" && encoding != "7BIT") {
    notes->Warn(prop.name + ": encoding " + encoding + " not understood; value taken as it stands");
  }
  std::string charset = ParamValue(prop, "CHARSET");
  if (!charset.empty() && !EqualsNoCase(charset.c_str(), "UTF-8")) {
    std::string converted;
    if (ConvertCharset(bytes, charset, &converted)) return converted;
    notes->Warn(prop.name + ": charset " + charset + " not understood");
  }
  bool wasNotUtf8 = false;
  std::string text = ToUtf8(bytes, &wasNotUtf8);
  if (wasNotUtf8) notes->Warn(prop.name + ": not UTF-8; read as Windows-1252");
  return LineFeeds(text);
}

// Copies into a record field; a value that does not fit is cut and noted.
void Put(char *field, size_t cap, const std::string &value, const char *what, Notes *notes) {
  if (!CopyField(field, cap, value))
    notes->Warn(std::string(what) + " cut to " + std::to_string(cap - 1) + " bytes");
}
#define PUT(record, name, value, notes) Put((record)->name, sizeof (record)->name, value, #name, notes)

bool Empty(const char *field) { return field[0] == '\0'; }

std::string Trim(const std::string &text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = text.find_last_not_of(" \t");
  return text.substr(b, e - b + 1);
}

// The decoded, unescaped components of a structured value.
std::vector<std::string> Components(const Property &prop, Notes *notes, size_t count) {
  std::vector<std::string> parts;
  for (const std::string &p : SplitEscaped(DecodedValue(prop, notes), ';')) parts.push_back(UnescapeText(p));
  parts.resize(std::max(parts.size(), count));
  return parts;
}

std::string TextValue(const Property &prop, Notes *notes) { return UnescapeText(DecodedValue(prop, notes)); }

// ---- names ----

void TakeName(const Property &prop, HostMessage *record, Notes *notes) {
  std::vector<std::string> n = Components(prop, notes, 5);
  std::string given = Trim(n[1]), additional = Trim(n[2]);
  if (!additional.empty()) given += (given.empty() ? "" : " ") + additional;
  PUT(record, lastName, Trim(n[0]), notes);
  PUT(record, firstName, given, notes);
  if (!Trim(n[3]).empty() || !Trim(n[4]).empty()) notes->Warn("N: name prefix and suffix left out");
}

void TakeOrganization(const Property &prop, HostMessage *record, Notes *notes) {
  std::vector<std::string> org = Components(prop, notes, 1);
  PUT(record, organization, Trim(org[0]), notes);
  std::string units;
  for (size_t i = 1; i < org.size(); ++i)
    if (!Trim(org[i]).empty()) units += (units.empty() ? "" : ", ") + Trim(org[i]);
  PUT(record, department, units, notes);
}

// ---- e-mail addresses ----

struct Email {
  std::string address;
  int rank;  // lower first: PREF=n, a vCard 2.1/3.0 "pref" type as 1, none as 101
  size_t order;
};

void CollectEmail(const Property &prop, std::vector<Email> *emails, Notes *notes) {
  std::string address = Trim(TextValue(prop, notes));
  if (address.empty()) return;
  std::string pref = ParamValue(prop, "PREF");
  int rank = !pref.empty() ? ParseLeadingInt(pref.c_str()) : HasType(prop, "pref") ? 1 : 101;
  for (const Email &e : *emails)
    if (e.address == address) return;
  emails->push_back({address, rank, emails->size()});
}

void TakeEmails(std::vector<Email> emails, HostMessage *record, Notes *notes) {
  std::stable_sort(emails.begin(), emails.end(), [](const Email &a, const Email &b) { return a.rank < b.rank; });
  char *fields[] = {record->email, record->email2, record->email3};
  size_t caps[] = {sizeof record->email, sizeof record->email2, sizeof record->email3};
  for (size_t i = 0; i < emails.size(); ++i) {
    if (i >= 3) {
      notes->Warn("EMAIL: more than three addresses; " + emails[i].address + " left out");
      continue;
    }
    Put(fields[i], caps[i], emails[i].address, "email", notes);
  }
}

// ---- phones ----

// The record field for a TEL, by its types: fax and pager before cell,
// cell before work and home; a number with none of them is "other".
char *PhoneField(const Property &prop, HostMessage *record) {
  if (HasType(prop, "fax")) return record->faxPhone;
  if (HasType(prop, "pager")) return record->pagerPhone;
  if (HasType(prop, "cell") || HasType(prop, "mobile") || HasType(prop, "iphone")) return record->mobilePhone;
  if (HasType(prop, "work")) return record->officePhone;
  if (HasType(prop, "home")) return record->homePhone;
  return record->otherPhone;
}

void TakePhone(const Property &prop, HostMessage *record, Notes *notes) {
  std::string number = Trim(TextValue(prop, notes));
  if (StartsWithNoCase(number.c_str(), "tel:")) number = number.substr(4);
  if (number.empty()) return;
  char *field = PhoneField(prop, record);
  if (!Empty(field) && Empty(record->otherPhone)) field = record->otherPhone;  // a second of a kind
  if (!Empty(field)) {
    notes->Warn("TEL: no free phone field for " + number + "; left out");
    return;
  }
  Put(field, 512, number, "phone", notes);  // every phone field is 512 bytes
}

// ---- postal addresses ----

struct AddressFields {
  char *street, *street2, *city, *state, *code, *country;
};

void TakeAddress(const Property &prop, HostMessage *record, Notes *notes) {
  AddressFields office = {record->officeStreet, record->officeStreet2, record->officeCity,
                          record->officeState, record->officePostalCode, record->officeCountry};
  AddressFields home = {record->homeStreet, record->homeStreet2, record->homeCity,
                        record->homeState, record->homePostalCode, record->homeCountry};
  auto used = [](const AddressFields &a) {
    return !Empty(a.street) || !Empty(a.street2) || !Empty(a.city) || !Empty(a.state) || !Empty(a.code) ||
           !Empty(a.country);
  };
  const AddressFields *target = nullptr;
  if (HasType(prop, "work"))
    target = &office;
  else if (HasType(prop, "home"))
    target = &home;
  if (target == nullptr || used(*target)) target = !used(office) ? &office : !used(home) ? &home : nullptr;
  if (target == nullptr) {
    notes->Warn("ADR: only an office and a home address are kept; a further address left out");
    return;
  }
  std::vector<std::string> adr = Components(prop, notes, 7);
  // Street lines: the street component's lines, then the extended address
  // (where Thunderbird keeps its second address line).
  std::vector<std::string> lines;
  size_t start = 0;
  std::string streets = adr[2];
  while (start <= streets.size()) {
    size_t nl = streets.find('\n', start);
    if (nl == std::string::npos) nl = streets.size();
    std::string line = Trim(streets.substr(start, nl - start));
    if (!line.empty()) lines.push_back(line);
    start = nl + 1;
  }
  if (!Trim(adr[1]).empty()) lines.push_back(Trim(adr[1]));
  if (!Trim(adr[0]).empty()) lines.push_back(Trim(adr[0]));  // post office box
  std::string second;
  for (size_t i = 1; i < lines.size(); ++i) second += (second.empty() ? "" : ", ") + lines[i];
  Put(target->street, 512, lines.empty() ? "" : lines[0], "street", notes);
  Put(target->street2, 512, second, "street", notes);
  Put(target->city, 512, Trim(adr[3]), "city", notes);
  Put(target->state, 512, Trim(adr[4]), "state", notes);
  Put(target->code, 512, Trim(adr[5]), "postal code", notes);
  Put(target->country, 512, Trim(adr[6]), "country", notes);
}

// ---- birthday ----

// Reads the leading digits (at most max) of text at *pos.
int Digits(const std::string &text, size_t *pos, size_t max, int *value) {
  size_t start = *pos;
  *value = 0;
  while (*pos < text.size() && *pos - start < max && text[*pos] >= '0' && text[*pos] <= '9')
    *value = *value * 10 + (text[(*pos)++] - '0');
  return static_cast<int>(*pos - start);
}

void TakeBirthday(const Property &prop, HostMessage *record, Notes *notes) {
  std::string text = Trim(TextValue(prop, notes));
  int year = 0, month = 0, day = 0;
  size_t pos = 0;
  bool noYear = text.compare(0, 2, "--") == 0;
  bool ok;
  if (noYear) {
    pos = 2;
    ok = Digits(text, &pos, 2, &month) == 2;
    if (pos < text.size() && text[pos] == '-') ++pos;
    ok = ok && Digits(text, &pos, 2, &day) == 2;
  } else {
    ok = Digits(text, &pos, 4, &year) == 4;
    if (pos < text.size() && text[pos] == '-') ++pos;
    ok = ok && Digits(text, &pos, 2, &month) == 2;
    if (pos < text.size() && text[pos] == '-') ++pos;
    ok = ok && Digits(text, &pos, 2, &day) == 2;
  }
  ok = ok && (pos == text.size() || text[pos] == 'T') && month >= 1 && month <= 12 && day >= 1 && day <= 31;
  if (!ok) return notes->Warn("BDAY \"" + text + "\" not understood; left out");
  // Apple writes a birthday without a year with a stand-in year.
  if (noYear || !ParamValue(prop, "X-APPLE-OMIT-YEAR").empty())
    return notes->Warn("BDAY " + text + " has no year, which GroupWise needs; left out");
  if (year < 1901 || year > 2049)
    return notes->Warn("BDAY " + text + ": GroupWise takes years 1901 to 2049 only; left out");
  FormatText(record->birthday, sizeof record->birthday, "%02d/%02d/%04d", month, day, year);
}

// ---- groups ----

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecode(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int hi = text[i] == '%' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
    int lo = hi >= 0 ? HexDigit(text[i + 2]) : -1;
    if (lo >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "Name <address>" or a bare address, as Evolution's list entries hold them.
void SplitNamedAddress(const std::string &text, std::string *name, std::string *address) {
  size_t lt = text.rfind('<'), gt = text.rfind('>');
  if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
    *address = Trim(text.substr(lt + 1, gt - lt - 1));
    *name = Trim(text.substr(0, lt));
    if (name->size() >= 2 && name->front() == '"' && name->back() == '"') *name = name->substr(1, name->size() - 2);
  } else {
    *address = Trim(text);
    name->clear();
  }
}

void AddMember(HostMessage *record, const std::string &name, const std::string &address, Notes *notes) {
  if (record->recipCount >= kMaxRecipients || !com_AllocRecip(record)) {
    notes->Warn("group member " + address + " left out: the group is full");
    return;
  }
  HostRecipient *r = record->recips[record->recipCount];
  Put(r->name, sizeof r->name, name, "member name", notes);
  Put(r->address, sizeof r->address, address, "member address", notes);
  r->kind = kRecipTo;
  r->status = 0;
  ++record->recipCount;
}

void TakeMember(const Property &prop, HostMessage *record, Notes *notes) {
  std::string uri = Trim(TextValue(prop, notes));
  if (!StartsWithNoCase(uri.c_str(), "mailto:")) {
    notes->Warn("MEMBER " + uri + " is not an e-mail address; left out");
    return;
  }
  std::string address = PercentDecode(uri.substr(7, uri.find('?') == std::string::npos ? std::string::npos : uri.find('?') - 7));
  std::string name = ParamValue(prop, "X-CN");
  if (name.empty()) name = ParamValue(prop, "CN");
  AddMember(record, name, address, notes);
}

// ---- the card ----

bool IsGroupCard(const Card &card) {
  for (const Property &p : card.properties) {
    if ((p.name == "KIND" || p.name == "X-ADDRESSBOOKSERVER-KIND") && EqualsNoCase(Trim(p.value).c_str(), "group"))
      return true;
    if (p.name == "X-EVOLUTION-LIST" && EqualsNoCase(Trim(p.value).c_str(), "TRUE")) return true;
  }
  return false;
}

// Properties the record has no room for but which carry nothing of the
// entry (bookkeeping of the programs that wrote the card).
bool IsBookkeeping(const std::string &name) {
  static const char *const kNames[] = {"BEGIN", "END", "VERSION", "PRODID", "REV", "UID", "KIND",
                                       "X-ADDRESSBOOKSERVER-KIND", "X-EVOLUTION-LIST", "X-ABLABEL", "X-ABUID",
                                       "X-ABSHOWAS", "X-MOZILLA-HTML", "X-EVOLUTION-FILE-AS", "X-EVOLUTION-LIST-SHOW-ADDRESSES",
                                       "LABEL", "CLIENTPIDMAP", "SORT-STRING", "X-EVOLUTION-BLOG-URL"};
  for (const char *k : kNames)
    if (name == k) return true;
  return false;
}

void TakeRelated(const Property &prop, HostMessage *record, Notes *notes) {
  std::string value = Trim(TextValue(prop, notes));
  if (HasType(prop, "spouse") && Empty(record->spouse))
    PUT(record, spouse, value, notes);
  else if (HasType(prop, "child") && Empty(record->children))
    PUT(record, children, value, notes);
  else
    notes->LeaveOut(prop.name);
}

}  // namespace

std::vector<Card> ParseCards(const std::string &text) {
  std::vector<Card> cards;
  int depth = 0;
  for (const std::string &line : UnfoldLines(text)) {
    Property prop;
    if (!ParseProperty(line, &prop)) {
      if (depth == 1) cards.back().text += line + "\n";
      continue;
    }
    std::string value = Upper(Trim(prop.value));
    if (prop.name == "BEGIN" && value == "VCARD") {
      if (++depth == 1) cards.emplace_back();
    }
    if (depth == 1) {
      Card &card = cards.back();
      card.text += line + "\n";
      card.properties.push_back(prop);
      if (prop.name == "VERSION") card.version = Trim(prop.value);
    }
    if (prop.name == "END" && value == "VCARD" && depth > 0) {
      if (depth == 1) cards.back().ended = true;
      --depth;
    }
  }
  return cards;
}

std::string CardKey(const Card &card) {
  for (const Property &p : card.properties)
    if (p.name == "UID" && !Trim(p.value).empty()) return "uid:" + Trim(p.value);
  return "sha256:" + Sha256Hex(card.text);
}

std::string CardName(const Card &card) {
  Notes notes{nullptr, {}};
  for (const Property &p : card.properties)
    if (p.name == "FN" && !Trim(TextValue(p, &notes)).empty()) return Trim(TextValue(p, &notes));
  for (const Property &p : card.properties) {
    if (p.name != "N") continue;
    std::vector<std::string> n = Components(p, &notes, 5);
    std::string name = Trim(Trim(n[1]) + " " + Trim(n[0]));
    if (!name.empty()) return name;
  }
  return "";
}

int CardToRecord(const Card &card, HostMessage *record, std::vector<std::string> *warnings, std::string *reason) {
  Notes notes{warnings, {}};
  if (!card.ended) {
    *reason = "the card has no END:VCARD line (file cut short?)";
    return -1;
  }
  if (card.version != "2.1" && card.version != "3.0" && card.version != "4.0")
    notes.Warn("VERSION " + card.version + " is not 2.1, 3.0 or 4.0; read as 3.0");
  record->itemKind = kItemContact;
  const bool group = IsGroupCard(card);
  std::vector<Email> emails;
  for (const Property &p : card.properties) {
    const std::string &n = p.name;
    if (IsBookkeeping(n)) continue;
    if (n == "FN") {
      PUT(record, contactName, Trim(TextValue(p, &notes)), &notes);
    } else if (n == "N") {
      if (!group) TakeName(p, record, &notes);  // a group's N only repeats its name
    } else if (n == "ORG" && !group) {
      TakeOrganization(p, record, &notes);
    } else if (n == "TITLE" && !group) {
      PUT(record, title, Trim(TextValue(p, &notes)), &notes);
    } else if (n == "EMAIL" && group) {
      // Evolution keeps a list's members as its e-mail lines.
      std::string name, address;
      SplitNamedAddress(TextValue(p, &notes), &name, &address);
      std::string destName = ParamValue(p, "X-EVOLUTION-DEST-NAME");
      if (!address.empty()) AddMember(record, destName.empty() ? name : destName, address, &notes);
    } else if (n == "EMAIL" && !group) {
      CollectEmail(p, &emails, &notes);
    } else if (n == "TEL" && !group) {
      TakePhone(p, record, &notes);
    } else if (n == "ADR" && !group) {
      TakeAddress(p, record, &notes);
    } else if (n == "BDAY" && !group) {
      TakeBirthday(p, record, &notes);
    } else if (n == "URL" && !group && Empty(record->website)) {
      PUT(record, website, Trim(TextValue(p, &notes)), &notes);
    } else if (n == "CATEGORIES") {
      for (const std::string &c : SplitEscaped(DecodedValue(p, &notes), ',')) {
        std::string name = Trim(UnescapeText(c));
        if (!name.empty()) AppendFormat(record->categories, sizeof record->categories, "%s;", name.c_str());
      }
    } else if (n == "MEMBER" && group) {
      TakeMember(p, record, &notes);
    } else if (n == "RELATED") {
      TakeRelated(p, record, &notes);
    } else if ((n == "X-SPOUSE" || n == "X-EVOLUTION-SPOUSE") && Empty(record->spouse)) {
      PUT(record, spouse, Trim(TextValue(p, &notes)), &notes);
    } else if ((n == "X-MANAGER" || n == "X-EVOLUTION-MANAGER") && Empty(record->manager)) {
      PUT(record, manager, Trim(TextValue(p, &notes)), &notes);
    } else if ((n == "X-ASSISTANT" || n == "X-EVOLUTION-ASSISTANT") && Empty(record->assistant)) {
      PUT(record, assistant, Trim(TextValue(p, &notes)), &notes);
    } else {
      notes.LeaveOut(n);
    }
  }
  TakeEmails(emails, record, &notes);
  if (group) {
    record->contactFlag = 1;
    CopyText(record->title, sizeof record->title, record->contactName);
  } else if (Empty(record->firstName) && Empty(record->lastName) && Empty(record->organization)) {
    // A card known only by its display name keeps it as the last name.
    CopyText(record->lastName, sizeof record->lastName, record->contactName);
  }
  if (!notes.leftOut.empty()) {
    std::sort(notes.leftOut.begin(), notes.leftOut.end());
    std::string list;
    for (const std::string &n : notes.leftOut) list += (list.empty() ? "" : ", ") + n;
    notes.Warn("not imported (no such field in GroupWise): " + list);
  }
  if (Empty(record->contactName) && Empty(record->firstName) && Empty(record->lastName) &&
      Empty(record->organization) && Empty(record->email) && record->recipCount == 0) {
    *reason = "the card has no name, organization or e-mail address";
    return -1;
  }
  return 0;
}

}  // namespace vcard
