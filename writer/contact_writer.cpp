// CreateContact, WriteGroup, AddGroupMember and WriteXmlElement: the
// createItemRequest of a contact or a group and of each group member.
#include "transport/answer_store.h"
#include "writer/contact_writer.h"

#include <cstring>
#include <string>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "transport/http_transfer.h"
#include "transport/response_scanner.h"
#include "writer/write_session.h"
#include "writer/xml_text.h"

namespace {

enum {
  kWorkingTextSize = 256,   // names, primary e-mail, default phone
  kElementValueChars = 2000,
  kBirthdayTextSize = 64,
  kMemberIdSize = 1024,
  kMemberLineSize = 2001,  // answers are read 2000 characters a line
  // A member has no later run to be written in: the group that lists it is
  // written now. So it is asked for more often than an item.
  kMemberAttempts = 3,
};

const char kCreateItem[] = "createItemRequest";
const char kItemStart[] = "<m:%s>\n<item type=\"%s\">\n<container>%s</container>\n";
const char kItemEnd[] = "</item>\n</m:%s>\n";
const char kFullName[] =
    "<fullName>\n<displayName>%s</displayName>\n<firstName>%s</firstName>\n"
    "<lastName>%s</lastName>\n</fullName>\n";
const char kMemberFullName[] = "<fullName>\n<displayName>%s</displayName>\n</fullName>\n";
const char kEmailListStart[] = "<emailList primary=\"%s\">\n";
const char kEmailListEnd[] = "</emailList>\n";
const char kPhoneListStart[] = "<phoneList default=\"%s\">\n";
const char kPhoneListEnd[] = "</phoneList>\n";
const char kAddressStart[] = "<address type=\"%s\">\n";
const char kStreetAddress[] = "<streetAddress>%s</streetAddress>\n";
const char kStreetSeparator[] = "&#xA;";
const char kNoName[] = "No Name";

// A field's text cut to a working text, never inside a UTF-8 sequence.
std::string Working(const char *text, size_t fieldSize) {
  char buffer[kWorkingTextSize];
  size_t length = strnlen(text, fieldSize);
  CopyTextN(buffer, sizeof buffer, text, length);
  TrimPartialUtf8(buffer);
  return buffer;
}

std::string Escaped(const std::string &text) { return EscapeXml(text.c_str(), text.size() + 1); }

// "First Last", or the one name there is, or the organization, or "No Name".
std::string DisplayName(const HostMessage *r) {
  std::string first = Working(r->firstName, sizeof r->firstName);
  std::string last = Working(r->lastName, sizeof r->lastName);
  if (!first.empty() && !last.empty()) return Working((first + " " + last).c_str(), 2 * kWorkingTextSize);
  if (!last.empty()) return last;
  if (!first.empty()) return first;
  std::string organization = Working(r->organization, sizeof r->organization);
  return organization.empty() ? kNoName : organization;
}

void WriteEmailList(const HostMessage *r, FILE *request) {
  std::string primary = Escaped(Working(r->email, sizeof r->email));
  if (primary.empty()) return;
  fprintf(request, kEmailListStart, primary.c_str());
  WriteXmlElement(request, "email", r->email, "");
  WriteXmlElement(request, "email", r->email2, "");
  WriteXmlElement(request, "email", r->email3, "");
  fputs(kEmailListEnd, request);
}

// The default phone is the office, home or other number; a contact with
// none of those takes its mobile, fax or pager number instead, so that
// these are not left out.
void WritePhoneList(const HostMessage *r, FILE *request) {
  const char *candidates[] = {r->officePhone, r->homePhone,  r->otherPhone,
                              r->mobilePhone, r->faxPhone, r->pagerPhone};
  const char *defaultPhone = nullptr;
  for (const char *phone : candidates) {
    if (phone[0] != '\0') {
      defaultPhone = phone;
      break;
    }
  }
  if (defaultPhone == nullptr) return;
  fprintf(request, kPhoneListStart, Escaped(Working(defaultPhone, sizeof r->officePhone)).c_str());
  WriteXmlElement(request, "phone", r->officePhone, "Office");
  WriteXmlElement(request, "phone", r->homePhone, "Home");
  WriteXmlElement(request, "phone", r->mobilePhone, "Mobile");
  WriteXmlElement(request, "phone", r->faxPhone, "Fax");
  WriteXmlElement(request, "phone", r->pagerPhone, "Pager");
  WriteXmlElement(request, "phone", r->otherPhone, "Other");
  fputs(kPhoneListEnd, request);
}

struct AddressOut {
  const char *type;
  const char *street, *street2, *city, *state, *postalCode, *country;
};

void WriteAddress(const AddressOut &a, FILE *request) {
  if (a.street[0] == '\0') return;
  const size_t size = sizeof(HostMessage::officeStreet);
  fprintf(request, kAddressStart, a.type);
  std::string street = EscapeXml(a.street, size);
  if (a.street2[0] != '\0') street += kStreetSeparator + EscapeXml(a.street2, size);
  fprintf(request, kStreetAddress, street.c_str());
  WriteXmlElement(request, "city", a.city, "");
  WriteXmlElement(request, "state", a.state, "");
  WriteXmlElement(request, "postalCode", a.postalCode, "");
  WriteXmlElement(request, "country", a.country, "");
  fputs("</address>\n", request);
}

void WriteAddressList(const HostMessage *r, FILE *request) {
  if (r->officeStreet[0] == '\0' && r->homeStreet[0] == '\0') return;
  fputs("<addressList>\n", request);
  WriteAddress({"Office", r->officeStreet, r->officeStreet2, r->officeCity, r->officeState,
                r->officePostalCode, r->officeCountry},
               request);
  WriteAddress({"Home", r->homeStreet, r->homeStreet2, r->homeCity, r->homeState,
                r->homePostalCode, r->homeCountry},
               request);
  fputs("</addressList>\n", request);
}

void WriteOfficeInfo(const HostMessage *r, FILE *request) {
  fputs("<officeInfo>\n", request);
  WriteXmlElement(request, "organization", r->organization, "");
  WriteXmlElement(request, "department", r->department, "");
  WriteXmlElement(request, "title", r->title, "");
  WriteXmlElement(request, "website", r->website, "");
  WriteXmlElement(request, "manager", r->manager, "");
  WriteXmlElement(request, "assistant", r->assistant, "");
  fputs("</officeInfo>\n", request);
}

// month/day/year as year-month-day; "" when a part is missing or implausible.
void BirthdayText(const char *birthday, char *out, size_t cap) {
  out[0] = '\0';
  if (birthday[0] == '\0') return;
  const char *slash1 = strchr(birthday, '/');
  const char *slash2 = slash1 != nullptr ? strchr(slash1 + 1, '/') : nullptr;
  int month = ParseLeadingInt(birthday);
  int day = slash1 != nullptr ? ParseLeadingInt(slash1 + 1) : 0;
  int year = slash2 != nullptr ? ParseLeadingInt(slash2 + 1) : 0;
  if (year < 1901 || year > 2049 || month < 1 || month > 12 || day < 1 || day > 31) return;
  FormatText(out, cap, "%d-%02d-%02d", year, month, day);
}

void WritePersonalInfo(const HostMessage *r, FILE *request) {
  char birthday[kBirthdayTextSize];
  BirthdayText(r->birthday, birthday, sizeof birthday);
  if (birthday[0] == '\0' && r->spouse[0] == '\0' && r->children[0] == '\0') return;
  fputs("<personalInfo>\n", request);
  WriteXmlElement(request, "birthday", birthday, "");
  WriteXmlElement(request, "spouse", r->spouse, "");
  WriteXmlElement(request, "children", r->children, "");
  fputs("</personalInfo>\n", request);
}

struct ContactRequest {
  const HostMessage *record;
  std::string displayName;  // escaped
};

int WriteContactBody(FILE *request, void *context) {
  const ContactRequest *c = static_cast<const ContactRequest *>(context);
  const HostMessage *r = c->record;
  const bool group = r->contactFlag == 1;
  fprintf(request, kItemStart, kCreateItem, group ? "Group" : "Contact", gSession.targetContainer);
  if (group) {
    WriteGroup(r, request);
  } else {
    fprintf(request, kFullName, c->displayName.c_str(),
            Escaped(Working(r->firstName, sizeof r->firstName)).c_str(),
            Escaped(Working(r->lastName, sizeof r->lastName)).c_str());
    WriteEmailList(r, request);
    WritePhoneList(r, request);
    WriteAddressList(r, request);
    WriteOfficeInfo(r, request);
    WritePersonalInfo(r, request);
  }
  fprintf(request, kItemEnd, kCreateItem);
  return 1;
}

struct MemberRequest {
  std::string name;     // escaped
  std::string address;  // as given, cut to a working text
};

int WriteMemberBody(FILE *request, void *context) {
  const MemberRequest *m = static_cast<const MemberRequest *>(context);
  fprintf(request, kItemStart, kCreateItem, "Contact", gSession.targetContainer);
  fprintf(request, kMemberFullName, m->name.c_str());
  if (!m->address.empty()) {
    fprintf(request, kEmailListStart, Escaped(m->address).c_str());
    WriteXmlElement(request, "email", m->address.c_str(), "");
    fputs(kEmailListEnd, request);
  }
  fprintf(request, kItemEnd, kCreateItem);
  return 1;
}

// The first <gwm:id> of a create answer into id; "" when there is none.
void ReadMemberId(const std::string &path, char *id, size_t cap) {
  id[0] = '\0';
  FilePtr file = OpenAnswer(path.c_str(), "r");
  if (!file) return;
  static char line[kMemberLineSize];
  int seen = 0;
  const TagField field = {"<gwm:id>", kTagNoCase, id, static_cast<int>(cap), -1, &seen};
  while (!seen && ReadResponseLine(line, sizeof line, file.get())) {
    ScanTagTable(line, sizeof line, &field, 1, file.get());
  }
}

const char *DistType(int kind) {
  if (kind == kRecipTo) return "TO";
  if (kind == kRecipCc) return "CC";
  return "BCC";
}

}  // namespace

void WriteXmlElement(FILE *request, const char *name, const char *value, const char *type) {
  if (value == nullptr || value[0] == '\0') return;
  char cut[kElementValueChars + 1];
  CopyTextN(cut, sizeof cut, value, kElementValueChars);
  TrimPartialUtf8(cut);
  std::string text = EscapeXml(cut, sizeof cut);
  if (type != nullptr && type[0] != '\0') {
    fprintf(request, "<%s type=\"%s\">\n%s\n</%s>\n", name, type, text.c_str(), name);
  } else {
    fprintf(request, "<%s>%s</%s>\n", name, text.c_str(), name);
  }
}

// The member stays out of the group, which is still written: told as a
// notice, not as a failure of the group.
static void TellMemberLeftOut(const std::string &name, const std::string &reason) {
  const std::string text = name + "\t" + reason;
  com_SetExtendedError(kExtNoticeMemberLeftOut, 0, text.c_str());
}

static void TellMemberMayBeTwice(const std::string &name, const std::string &reason) {
  const std::string text = name + "\t" + reason;
  com_SetExtendedError(kExtNoticeMemberMayBeTwice, 0, text.c_str());
}

int AddGroupMember(const char *name, const char *address, std::string *memberId) {
  memberId->clear();
  if (name == nullptr) name = "";
  if (address == nullptr) address = "";
  DebugLog("debug: at AddGroupMember, name=%s, email=%s", name, address);
  MemberRequest member = {Escaped(Working(name, sizeof(HostRecipient::name))),
                          Working(address, sizeof(HostRecipient::address))};
  CreateOutcome outcome = {0, 0};
  // A member that could not be created is asked for twice more before it is
  // left out of the group. That includes one whose create broke off after
  // it went out: unlike an item, a member cannot be asked about on the next
  // run, since the group is written (and recorded) now, and left out it
  // would be missing from the group for good. The server may then hold its
  // contact twice, which is told.
  int result = kCreateFailed;
  bool mayHaveActed = false;  // an earlier create may have made the contact
  std::string doubt;          // why
  for (int attempt = 1; attempt <= kMemberAttempts; ++attempt) {
    gWritingMember = 1;
    gMemberFailure.clear();
    result = SubmitCreateItem(kWriterMember, WriteMemberBody, &member, member.name.c_str(), &outcome);
    gWritingMember = 0;
    if (result == kCreateDone || attempt == kMemberAttempts) break;
    if (PostMayHaveActed()) {
      mayHaveActed = true;
      doubt = gMemberFailure;
      com_Log("MV Warning: the create of member %s broke off after it went out; creating it again",
              member.name.c_str());
    } else {
      com_Log("MV Info: creating member %s again", member.name.c_str());
    }
  }
  if (result == kCreateDone && mayHaveActed) TellMemberMayBeTwice(member.name, doubt);
  if (result != kCreateDone) {
    TellMemberLeftOut(member.name, gMemberFailure);
    return result;
  }
  char id[kMemberIdSize];
  ReadMemberId(CreateResponsePath(kWriterMember).c_str(), id, sizeof id);
  if (id[0] == '\0') {
    com_Log("MV Warning: failed to create member, name=%s, the answer carried no id",
            member.name.c_str());
    TellMemberLeftOut(member.name, "the answer carried no id");
    return kCreateFailed;
  }
  *memberId = id;
  return kCreateDone;
}

void WriteGroup(const HostMessage *record, FILE *request) {
  int count = record->recipCount;
  if (count < 0) count = 0;
  if (count > kMaxRecipients) count = kMaxRecipients;
  DebugLog("debug: at GW WriteGroup for %s, member count=%d", record->title, count);
  WriteXmlElement(request, "name", record->title, "");
  fputs("<members>\n", request);
  std::string memberId;
  for (int i = 0; i < count; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r == nullptr) continue;
    // A group written again takes the contacts an earlier try made.
    char known[kMemberIdSize];
    if (mvcom_KnownGroupMember(i, r->name, r->address, known, sizeof known)) {
      memberId = known;
      com_Log("MV Info: member %s of group %s was created before; not creating it again", r->name, record->title);
    } else if (AddGroupMember(r->name, r->address, &memberId) != kCreateDone) {
      // Without its own contact the member has no id to be listed by.
      com_Log("MV Warning: member %s left out of group %s", r->name, record->title);
      continue;
    } else {
      mvcom_NoteGroupMember(i, r->name, r->address, memberId.c_str());
    }
    fputs("<member>\n", request);
    fprintf(request, "<id>%s</id>\n", Escaped(memberId).c_str());
    WriteXmlElement(request, "distType", DistType(r->kind), "");
    fputs("</member>\n", request);
  }
  fputs("</members>\n", request);
}

int CreateContact(HostMessage *record, void *, const char *) {
  if (record == nullptr) return 0;
  ContactRequest contact = {record, Escaped(DisplayName(record))};
  // A group has no names of its own: it is named by its title.
  std::string itemName = record->contactFlag == 1
                             ? Escaped(Working(record->title, sizeof record->title))
                             : contact.displayName;
  SubmitCreateItem(kWriterContact, WriteContactBody, &contact, itemName.c_str(), nullptr);
  return 0;
}
