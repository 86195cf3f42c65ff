// ReadAddressBook and ParseContact: the entries of one address book, each
// fetched with getItemRequest and read into a contact or group record.
#include "reader/address_book_reader.h"

#include <cstdio>
#include <cstring>

#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "folders/item_enumeration.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/address_reading.h"
#include "reader/folder_driver.h"
#include "reader/item_fetch.h"
#include "reader/item_loop.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"

namespace {

// An entry is asked for with no view and named by its position from 0.
const ItemFetchKind kEntryFetch = {
    nullptr,
    {&RunSettings::mailDebug, &RunSettings::conDebug},
    "abook",
    "Abook getItem",
    "abook entry",
    kLabelPosition,
    kLabelPosition,
};
// 500 is a failure too: recording such an entry as migrated would keep a
// later run from fetching it again.
const SaveRule kEntrySave = {1, 0};

enum {
  kIdLineSize = 2400,
  kContactLineSize = 2000,
  kNameChars = 256,
  kEmailChars = 256,
  kPrimaryChars = 250,
  kBookNameSize = 256,
  kDisplayTextSize = 1100,
  kPathSize = kDirSize + 64,
  kReasonSize = 256,
};

// ---- ParseContact ----

// What the scan of one entry keeps beside the record.
struct ContactScan {
  HostMessage *record;
  FILE *file;
  char *line;  // kContactLineSize bytes
  int isGroup;
};

typedef void (*ContactRowFn)(ContactScan *scan);

// A row either copies the value line into a field (field set) or hands the
// line to a function.
struct ContactRow {
  const char *tag;
  TagMatch match;
  size_t fieldOffset;  // of a char array in HostMessage; with fieldSize
  size_t fieldSize;
  int maxChars;
  ContactRowFn handle;
};

char *Field(HostMessage *record, size_t offset) {
  return reinterpret_cast<char *>(record) + offset;
}

void ReadValue(ContactScan *scan) { ReadElementValue(scan->line, kContactLineSize, scan->file); }

void CopyValue(char *field, size_t size, const char *value) {
  CopyText(field, size, value);
  TrimPartialUtf8(field);
}

void AppendCategory(ContactScan *scan) {
  ReadValue(scan);
  char name[kCategoryTextSize];
  LookupCategoryName(scan->line, name);
  AppendCategoryName(scan->record->categories, name);
}

// year-month-day into month/day/year when the date is plausible.
void SetBirthday(ContactScan *scan) {
  ReadValue(scan);
  const char *text = scan->line;
  int year = ParseLeadingInt(text);
  const char *dash1 = strchr(text, '-');
  const char *dash2 = dash1 != nullptr ? strchr(dash1 + 1, '-') : nullptr;
  int month = dash1 != nullptr ? ParseLeadingInt(dash1 + 1) : 0;
  int day = dash2 != nullptr ? ParseLeadingInt(dash2 + 1) : 0;
  if (year < 1901 || year > 2099 || month < 1 || month > 12 || day < 1 || day > 31) return;
  HostMessage *r = scan->record;
  FormatText(r->birthday, sizeof r->birthday, "%02d/%02d/%d", month, day, year);
}

void AddEmail(ContactScan *scan) {
  ReadValue(scan);
  CleanAddress(scan->line);
  HostMessage *r = scan->record;
  if (strcmp(scan->line, r->email) == 0) return;
  char *slots[] = {r->email, r->email2, r->email3};
  const size_t sizes[] = {sizeof r->email, sizeof r->email2, sizeof r->email3};
  for (size_t i = 0; i < 3; ++i) {
    if (slots[i][0] != '\0') continue;
    CopyTextN(slots[i], sizes[i], scan->line, kEmailChars);
    TrimPartialUtf8(slots[i]);
    return;
  }
}

void SetPrimaryEmail(ContactScan *scan) {
  const char *start = strstr(scan->line, "primary=\"");
  if (start == nullptr) return;
  start += 9;
  const char *end = strchr(start, '"');
  size_t length = end != nullptr ? static_cast<size_t>(end - start) : strlen(start);
  if (length > kPrimaryChars) length = kPrimaryChars;
  HostMessage *r = scan->record;
  CopyTextN(r->email, sizeof r->email, start, length);
  TrimPartialUtf8(r->email);
}

// The phone's type is read from its start tag; a later word wins.
void SetPhone(ContactScan *scan) {
  HostMessage *r = scan->record;
  struct PhoneKind {
    const char *word;
    char *field;
    size_t size;
  };
  const PhoneKind kinds[] = {
      {"Home", r->homePhone, sizeof r->homePhone},
      {"Office", r->officePhone, sizeof r->officePhone},
      {"Mobile", r->mobilePhone, sizeof r->mobilePhone},
      {"Fax", r->faxPhone, sizeof r->faxPhone},
      {"Pager", r->pagerPhone, sizeof r->pagerPhone},
  };
  const PhoneKind *kind = nullptr;
  for (const PhoneKind &k : kinds) {
    if (strstr(scan->line, k.word) != nullptr) kind = &k;
  }
  ReadValue(scan);
  if (kind != nullptr) CopyValue(kind->field, kind->size, scan->line);
}

// The first two lines of a street address. The server separates lines with
// the reference "&#xA;": decoded it is a line feed; left undecoded (or sent
// escaped twice) it is the text "#xA;", whose "&" goes too. A carriage
// return before a separator is dropped, and so are a third and later lines.
void SplitStreetLines(const char *value, char *line1, char *line2, size_t cap) {
  char *lines[2] = {line1, line2};
  for (char *line : lines) {
    if (line != nullptr && cap > 0) line[0] = '\0';
  }
  if (value == nullptr) return;
  const char *start = value;
  for (int index = 0; index < 2; ++index) {
    const char *feed = strchr(start, '\n');
    const char *reference = com_FindText(start, "#xA;", 1);
    const char *end = feed;
    size_t skip = 1;
    if (reference != nullptr && (end == nullptr || reference < end)) {
      end = reference;
      skip = 4;
    }
    size_t length = end != nullptr ? static_cast<size_t>(end - start) : strlen(start);
    size_t kept = length;
    if (end == reference && end != nullptr && kept > 0 && start[kept - 1] == '&') --kept;
    if (kept > 0 && start[kept - 1] == '\r') --kept;
    if (lines[index] != nullptr && cap > 0) {
      CopyTextN(lines[index], cap, start, kept);
      TrimPartialUtf8(lines[index]);
    }
    if (end == nullptr) return;
    start = end + skip;
  }
}

// The fields of one postal address; null when the address is not kept.
struct AddressFields {
  char *street, *street2, *city, *state, *postalCode, *country;
};

// Reads up to the address's end tag; fields null reads it past.
void ReadAddressBlock(ContactScan *scan, const AddressFields *fields) {
  const int size = static_cast<int>(sizeof(HostMessage::officeStreet));
  static char street[kContactLineSize];
  int streetSeen = 0;
  const TagField table[] = {
      {"<gwt:streetAddress>", kTagNoCase, street, sizeof street, -1, &streetSeen},
      {"<gwt:city>", kTagNoCase, fields ? fields->city : nullptr, size, -1, nullptr},
      {"<gwt:state>", kTagNoCase, fields ? fields->state : nullptr, size, -1, nullptr},
      {"<gwt:postalCode>", kTagNoCase, fields ? fields->postalCode : nullptr, size, -1, nullptr},
      {"<gwt:country>", kTagNoCase, fields ? fields->country : nullptr, size, -1, nullptr},
  };
  while (ReadResponseLine(scan->line, kContactLineSize, scan->file)) {
    if (StartsWithNoCase(scan->line, "</gwt:address>")) break;
    for (const TagField &field : table) {
      if (ScanTagTable(scan->line, kContactLineSize, &field, 1, scan->file)) break;
    }
  }
  if (streetSeen && fields != nullptr) {
    SplitStreetLines(street, fields->street, fields->street2, static_cast<size_t>(size));
  }
}

void ReadPostalAddress(ContactScan *scan) {
  HostMessage *r = scan->record;
  const AddressFields office = {r->officeStreet, r->officeStreet2, r->officeCity,
                                r->officeState,  r->officePostalCode, r->officeCountry};
  const AddressFields home = {r->homeStreet, r->homeStreet2, r->homeCity,
                              r->homeState,  r->homePostalCode, r->homeCountry};
  const AddressFields *fields = nullptr;
  if (strstr(scan->line, "Office") != nullptr) fields = &office;
  if (strstr(scan->line, "Home") != nullptr) fields = &home;
  ReadAddressBlock(scan, fields);
}

void ReadMember(ContactScan *scan) {
  scan->isGroup = 1;
  char name[kAddressValueMax + 1] = "", address[kAddressValueMax + 1] = "";
  char distType[kAddressValueMax + 1] = "";
  while (ReadResponseLine(scan->line, kContactLineSize, scan->file)) {
    if (StartsWithNoCase(scan->line, "</gwt:member>")) break;
    const TagField fields[] = {
        {"<gwt:name>", kTagNoCase, name, sizeof name, kAddressValueMax, nullptr},
        {"<gwt:email>", kTagNoCase, address, sizeof address, kAddressValueMax, nullptr},
        {"<gwt:distType>", kTagNoCase, distType, sizeof distType, kAddressValueMax, nullptr},
    };
    for (const TagField &field : fields) {
      if (ScanTagTable(scan->line, kContactLineSize, &field, 1, scan->file)) break;
    }
  }
  DebugLog("debug: membername=%s, email=%s", name, address);
  AddMemberRecipient(scan->record, kRecipTo, name, address, 0);
}

#define CONTACT_FIELD(member, chars) \
  offsetof(HostMessage, member), sizeof(HostMessage::member), chars, nullptr
#define CONTACT_ACTION(fn) 0, 0, 0, fn

// The first row that matches a line decides. A member or organization
// element with no attributes is read as well as one with them.
const ContactRow kContactRows[] = {
    {"<gwt:name>", kTagNoCase, CONTACT_FIELD(contactName, kNameChars)},
    {"<gwt:displayName>", kTagNoCase, CONTACT_FIELD(contactName, kNameChars)},
    {"<gwt:firstName>", kTagNoCase, CONTACT_FIELD(firstName, kNameChars)},
    {"<gwt:lastName>", kTagNoCase, CONTACT_FIELD(lastName, kNameChars)},
    {"<gwt:organization ", kTagPrefixNoCase, CONTACT_FIELD(organization, kNameChars)},
    {"<gwt:organization>", kTagNoCase, CONTACT_FIELD(organization, kNameChars)},
    {"<gwt:department>", kTagNoCase, CONTACT_FIELD(department, kNameChars)},
    {"<gwt:title>", kTagNoCase, CONTACT_FIELD(title, kNameChars)},
    {"<gwt:website>", kTagNoCase, CONTACT_FIELD(website, kNameChars)},
    {"<gwt:category>", kTagNoCase, CONTACT_ACTION(AppendCategory)},
    {"<gwt:birthday>", kTagNoCase, CONTACT_ACTION(SetBirthday)},
    {"<gwt:email>", kTagNoCase, CONTACT_ACTION(AddEmail)},
    {"<gwt:emailList ", kTagPrefixNoCase, CONTACT_ACTION(SetPrimaryEmail)},
    {"<gwt:phone ", kTagPrefixNoCase, CONTACT_ACTION(SetPhone)},
    {"<gwt:address ", kTagPrefixNoCase, CONTACT_ACTION(ReadPostalAddress)},
    {"<gwt:member ", kTagPrefixNoCase, CONTACT_ACTION(ReadMember)},
    {"<gwt:member>", kTagNoCase, CONTACT_ACTION(ReadMember)},
};

#undef CONTACT_FIELD
#undef CONTACT_ACTION

void ScanContactLine(ContactScan *scan) {
  for (const ContactRow &row : kContactRows) {
    if (!TagMatches(scan->line, row.tag, row.match)) continue;
    if (row.handle != nullptr) {
      row.handle(scan);
      return;
    }
    const TagField field = {row.tag,
                            row.match,
                            Field(scan->record, row.fieldOffset),
                            static_cast<int>(row.fieldSize),
                            row.maxChars,
                            nullptr};
    ScanTagTable(scan->line, kContactLineSize, &field, 1, scan->file);
    return;
  }
}

// A group is titled by its name; an entry named only by its contact name
// is filed under it.
void FinishContact(HostMessage *r, int isGroup) {
  if (isGroup) {
    r->contactFlag = 1;
    CopyText(r->title, sizeof r->title, r->contactName);
  }
  if (r->email[0] == '\0' && strchr(r->contactName, '@') != nullptr)
    CopyText(r->email, sizeof r->email, r->contactName);
  if (r->firstName[0] == '\0' && r->lastName[0] == '\0' && r->contactName[0] != '\0')
    CopyText(r->lastName, sizeof r->lastName, r->contactName);
}

// ---- ReadAddressBook ----

// Everything one ReadAddressBook call passes around.
struct BookRun {
  ItemHost host;  // the work directory as context
  char bookName[kBookNameSize];
};

void WorkPath(char *out, size_t cap, const char *workDir, const char *name) {
  FormatText(out, cap, "%s%s", workDir, name);
}

// The host's checks and the hand-over of one parsed entry: its status.
int StoreEntry(BookRun *run, const char *id) {
  HostMessage *r = run->host.record;
  char displayText[kDisplayTextSize];
  if (r->contactFlag == 1) CopyText(displayText, sizeof displayText, r->title);
  else FormatText(displayText, sizeof displayText, "%s, %s", r->lastName, r->firstName);
  if (gRunSettings.lsub) com_Log("GroupWise contact name: %s, email=%s", displayText, r->email);
  CopyText(r->categories, sizeof r->categories, run->bookName);
  CopyText(r->bookPath, sizeof r->bookPath, run->bookName);
  r->itemKind = kItemContact;
  com_AddressTranslate(r);
  return HandOverItem(&run->host, kEntrySave, run->bookName, id, r->title);
}

void ConvertEntry(BookRun *run, const char *id, int position, const char *responsePath) {
  ItemHost *host = &run->host;
  HostMessage *r = host->record;
  com_ResetObject(r);
  char reason[kReasonSize];
  if (!gRunSettings.fakeServer &&
      !FetchItemAnswer(kEntryFetch, id, position, responsePath, reason, sizeof reason)) {
    // Nothing of a failed answer is parsed: the entry is neither stored nor
    // recorded, so the next run asks for it again.
    ReportFailedItem(id, "", reason);
    NotifyItem(host, kItemSkipped);
  } else {
    if (gRunSettings.fakeServer) MessageBoxA(responsePath, "replace AB file");
    if (ParseContact(r, responsePath)) {
      NotifyItem(host, StoreEntry(run, id));
    } else {
      CopyText(r->categories, sizeof r->categories, run->bookName);
      NotifyItem(host, kItemSkipped);
      com_Log("Skipping non-contact entry");
    }
  }
  FreeItemLists(host);
}

}  // namespace

void AddMemberRecipient(HostMessage *record, int kind, const char *name, const char *address,
                        int status) {
  if (record == nullptr || record->recipCount >= kMaxRecipients) return;
  if (!com_AllocRecip(record)) return;
  HostRecipient *r = record->recips[record->recipCount];
  CopyTextN(r->name, sizeof r->name, name != nullptr ? name : "", kAddressValueMax);
  TrimPartialUtf8(r->name);
  CopyTextN(r->address, sizeof r->address, address != nullptr ? address : "", kAddressValueMax);
  TrimPartialUtf8(r->address);
  r->kind = kind;
  r->status = status;
  ++record->recipCount;
}

int ParseContact(HostMessage *record, const char *responsePath) {
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file || record == nullptr) return 0;
  record->unread = 1;
  static char line[kContactLineSize];
  ContactScan scan = {record, file.get(), line, 0};
  while (ReadResponseLine(line, sizeof line, file.get())) ScanContactLine(&scan);
  file.reset();
  FinishContact(record, scan.isGroup);
  return record->title[0] != '\0' || record->email[0] != '\0' || record->firstName[0] != '\0' ||
         record->lastName[0] != '\0' || record->contactName[0] != '\0';
}

int ReadAddressBook(HostMessage *record, SaveItemFn saveItem, void *, const char *workDir,
                    int *storedCount, ItemNotifyFn itemNotify, int folderIndex, const char *) {
  if (storedCount != nullptr) *storedCount = 0;
  if (record == nullptr || folderIndex < 0 || folderIndex >= gFolderTable.count) return 0;
  const FolderRecord *book = gFolderTable.records[folderIndex];
  static BookRun run;
  memset(&run, 0, sizeof run);
  const char *dir = workDir != nullptr ? workDir : gSession.workDir;
  run.host = ItemHost{record, saveItem, itemNotify, const_cast<char *>(dir), 0, 0, 0, 0};
  CopyText(run.bookName, sizeof run.bookName, book->sortName);
  com_Log("Converting address book %s", run.bookName);
  char idPath[kPathSize], responsePath[kPathSize];
  WorkPath(idPath, sizeof idPath, dir, "msgids.tmp");
  WorkPath(responsePath, sizeof responsePath, dir, "abookdata.tmp");
  // A listing the server breaks off is reported, as for the other folders.
  ListFolderIds(*book, run.bookName, idPath, 0);
  FilePtr ids = OpenListedIds(idPath);
  if (!ids) return 0;
  static char id[kIdLineSize];
  int position = 0;
  while (!run.host.stop && ReadResponseLine(id, sizeof id, ids.get())) {
    ConvertEntry(&run, id, position++, responsePath);
    // A limit of 0 is no limit, as for mail folders.
    if (ItemLimitReached(run.host)) run.host.stop = 1;
  }
  if (storedCount != nullptr) *storedCount = run.host.stored;
  return 0;
}
