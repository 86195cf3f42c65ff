// The sample contact and group records of the vCard tests.
#include "vcard/contact_records.h"

#include <cstring>

#include "plugin/mvcom.h"

namespace vcard_test {

void RecordDeleter::operator()(HostMessage *record) const {
  com_Deallocate(record, nullptr);
  delete record;
}

Record NewRecord() {
  Record record(new HostMessage);
  memset(static_cast<void *>(record.get()), 0, sizeof(HostMessage));
  record->itemKind = kItemContact;
  return record;
}

void AddMember(HostMessage *record, const char *name, const char *address, int kind) {
  if (!com_AllocRecip(record)) return;
  HostRecipient *r = record->recips[record->recipCount++];
  CopyText(r->name, sizeof r->name, name);
  CopyText(r->address, sizeof r->address, address);
  r->kind = kind;
}

#define SET(record, field, text) CopyText((record)->field, sizeof (record)->field, text)

Record FullContact() {
  Record r = NewRecord();
  SET(r, contactName, "Ann Lee");
  SET(r, firstName, "Ann");
  SET(r, lastName, "Lee");
  SET(r, organization, "Example, Inc.");
  SET(r, department, "R&D; Labs");
  SET(r, title, "Engineer");
  SET(r, email, "ann@example.com");
  SET(r, email2, "ann.lee@home.example");
  SET(r, officePhone, "+1 555 0100");
  SET(r, homePhone, "+1 555 0101");
  SET(r, mobilePhone, "+1 555 0102");
  SET(r, faxPhone, "+1 555 0103");
  SET(r, pagerPhone, "+1 555 0104");
  SET(r, otherPhone, "+1 555 0105");
  SET(r, officeStreet, "1 Main St");
  SET(r, officeStreet2, "Suite 5");
  SET(r, officeCity, "Springfield");
  SET(r, officeState, "IL");
  SET(r, officePostalCode, "62701");
  SET(r, officeCountry, "USA");
  SET(r, homeStreet, "2 Elm Rd");
  SET(r, homeCity, "Shelbyville");
  SET(r, homePostalCode, "62565");
  SET(r, birthday, "04/09/1975");
  SET(r, website, "https://example.com/ann");
  SET(r, categories, "Alice's Contacts");
  SET(r, bookPath, "Alice's Contacts");
  SET(r, spouse, "Bob Lee");
  SET(r, manager, "Carol Clark");
  return r;
}

Record FoldedContact() {
  Record r = NewRecord();
  SET(r, contactName, "Zoë Ångström-Øster, Jr.");
  SET(r, firstName, "Zoë");
  SET(r, lastName, "Ångström-Øster, Jr.");
  SET(r, organization, "Überregionale Gesellschaft für Straßen- und Brückenbau; Abteilung Süd \\ Nord");
  SET(r, title, "Leiterin der Planungsgruppe für Brücken, Tunnel und Überführungen im Großraum München");
  SET(r, email, "zoe@example.de");
  SET(r, homeStreet, "Schöne Aussicht 12\r\nHinterhaus");
  SET(r, homeCity, "München");
  SET(r, categories, "Kollegen;Privat;");
  SET(r, bookPath, "Kollegen");
  return r;
}

Record ProjectGroup() {
  Record r = NewRecord();
  r->contactFlag = 1;
  SET(r, contactName, "Project Team");
  SET(r, title, "Project Team");
  SET(r, categories, "Alice's Contacts");
  SET(r, bookPath, "Alice's Contacts");
  AddMember(r.get(), "Ann Lee", "ann@example.com");
  AddMember(r.get(), "", "bob@example.com");
  AddMember(r.get(), "Dan \"The Man\" Dorsey", "dan+list@example.com");
  AddMember(r.get(), "No Address", "");
  return r;
}

// The record's non-empty fields, one "name=value" line each, in a fixed
// order; members as "member=name <address>".
std::string Dump(const HostMessage &r) {
  const struct {
    const char *name;
    const char *value;
  } fields[] = {
      {"contactName", r.contactName}, {"firstName", r.firstName}, {"lastName", r.lastName},
      {"organization", r.organization}, {"department", r.department}, {"title", r.title},
      {"email", r.email}, {"email2", r.email2}, {"email3", r.email3},
      {"officePhone", r.officePhone}, {"homePhone", r.homePhone}, {"mobilePhone", r.mobilePhone},
      {"faxPhone", r.faxPhone}, {"pagerPhone", r.pagerPhone}, {"otherPhone", r.otherPhone},
      {"officeStreet", r.officeStreet}, {"officeStreet2", r.officeStreet2}, {"officeCity", r.officeCity},
      {"officeState", r.officeState}, {"officePostalCode", r.officePostalCode},
      {"officeCountry", r.officeCountry}, {"homeStreet", r.homeStreet}, {"homeStreet2", r.homeStreet2},
      {"homeCity", r.homeCity}, {"homeState", r.homeState}, {"homePostalCode", r.homePostalCode},
      {"homeCountry", r.homeCountry}, {"birthday", r.birthday}, {"website", r.website},
      {"categories", r.categories}, {"spouse", r.spouse}, {"children", r.children}, {"manager", r.manager},
      {"assistant", r.assistant},
  };
  std::string out;
  if (r.contactFlag != 0) out += "contactFlag=" + std::to_string(r.contactFlag) + "\n";
  for (const auto &f : fields)
    if (f.value[0] != '\0') out += std::string(f.name) + "=" + f.value + "\n";
  for (int i = 0; i < r.recipCount; ++i)
    out += "member=" + std::string(r.recips[i]->name) + " <" + r.recips[i]->address + "> kind " +
           std::to_string(r.recips[i]->kind) + "\n";
  return out;
}

}  // namespace vcard_test
