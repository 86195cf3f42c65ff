// Address elements of an answer: the element's lines read through one tag
// table, the reply state, and the tidying of names and addresses.
#include "reader/address_reading.h"

#include <cstring>

#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "transport/response_scanner.h"

namespace {

enum {
  kAddressLineSize = 10000,  // one line of the answer
  kDistTypeSize = 256,
  kEndTagSize = 300,
};

// Attendees of an appointment that the user organised have not answered
// yet; everyone else counts as having accepted. An organizer that is not
// known (empty) is not the user.
int OrganizerIsUser() {
  return gSession.lastOrganizer[0] != '\0' &&
         EqualsNoCase(gSession.lastOrganizer, gSession.userEmail);
}

// An empty element's value line is its own end tag: nothing of it is kept.
void CutAtEndTag(char *text) {
  if (text == nullptr) return;
  char *end = strstr(text, "</gwt");
  if (end != nullptr) *end = '\0';
}

// Recipient kinds by distribution type; any other type (To, none) is To.
struct DistTypeKind {
  const char *distType;
  int kind;
};
const DistTypeKind kDistTypeKinds[] = {
    {"CC", kRecipCc},
    {"BCC", kRecipBcc},
    {"BC", kRecipBcc},
};

int RecipientKind(const char *distType) {
  for (const DistTypeKind &entry : kDistTypeKinds)
    if (EqualsNoCase(distType, entry.distType)) return entry.kind;
  return kRecipTo;
}

}  // namespace

void ParseAddress(FILE *file, char *name, char *address, const char *elementName,
                  char *distType, int *status) {
  char ownDistType[kAddressValueMax + 1];
  char *dist = distType != nullptr ? distType : ownDistType;
  dist[0] = '\0';
  int state = OrganizerIsUser() ? kReplyNone : kReplyAccepted;

  char endTag[kEndTagSize];
  FormatText(endTag, sizeof endTag, "</gwt:%s>", elementName != nullptr ? elementName : "");

  int sawName = 0, sawAddress = 0, sawDist = 0;
  int sawAccepted = 0, sawDeclined = 0, sawReplied = 0;
  // Order matters: a matched tag's value line replaces the line, and the
  // later entries are tested on it, as a reply element passes on its value.
  const TagField fields[] = {
      {"<gwt:displayName>", kTagNoCase, name, kAddressValueMax + 1, kAddressValueMax, &sawName},
      {"<gwt:email>", kTagNoCase, address, kAddressValueMax + 1, kAddressValueMax, &sawAddress},
      {"<gwt:distType>", kTagNoCase, dist, kAddressValueMax + 1, kAddressValueMax, &sawDist},
      {"<gwt:accepted", kTagPrefixNoCase, nullptr, 0, 0, &sawAccepted},
      {"<gwt:declined", kTagPrefixNoCase, nullptr, 0, 0, &sawDeclined},
      {"<gwt:replied", kTagPrefixNoCase, nullptr, 0, 0, &sawReplied},
  };
  const int fieldCount = static_cast<int>(sizeof fields / sizeof fields[0]);

  char line[kAddressLineSize];
  while (ReadResponseLine(line, sizeof line, file) && !EqualsNoCase(line, endTag)) {
    sawName = sawAddress = sawDist = sawAccepted = sawDeclined = sawReplied = 0;
    if (ScanTagTable(line, sizeof line, fields, fieldCount, file) == 0) continue;
    if (sawName) {
      CutAtEndTag(name);
      CleanName(name);
      com_Remove_Quotes(name);
    }
    if (sawAddress) {
      CutAtEndTag(address);
      CleanAddress(address);
    }
    if (sawDist) CutAtEndTag(dist);
    if (sawAccepted) state = kReplyAccepted;
    if (sawDeclined) state = kReplyDeclined;
    if (sawReplied) state = kReplyReplied;
  }
  if (status != nullptr) *status = state;
}

void AddRecipient(FILE *file, HostMessage *record) {
  if (record == nullptr || record->recipCount >= kMaxRecipients) return;
  if (!com_AllocRecip(record)) return;
  HostRecipient *entry = record->recips[record->recipCount];
  char distType[kDistTypeSize];
  int status = kReplyAccepted;
  ParseAddress(file, entry->name, entry->address, "recipient", distType, &status);
  entry->kind = RecipientKind(distType);
  entry->status = status;
  ++record->recipCount;
}

void CleanAddress(char *text) {
  if (text == nullptr) return;
  // A comma or semicolon outside quotes ends the first address; an "@"
  // inside quotes shows the quote was the address's own, not a name's.
  int quoted = 0;
  for (char *p = text; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (!quoted && (*p == ',' || *p == ';')) {
      *p = '\0';
      break;
    } else if (quoted && *p == '@') {
      quoted = 0;
    }
  }
  const char *open = strchr(text, '<');
  if (open != nullptr) {
    char inner[kAddressValueMax + 1];
    CopyText(inner, sizeof inner, open + 1);
    char *close = strchr(inner, '>');
    if (close != nullptr) *close = '\0';
    // inner is shorter than text, so it fits where text stood.
    CopyText(text, strlen(text) + 1, inner);
  }
  com_rtrim(text);
  size_t length = strlen(text);
  if (length > 0 && (text[length - 1] == '.' || text[length - 1] == ',')) text[length - 1] = '\0';
}

void CleanName(char *text) {
  if (text == nullptr || strchr(text, '@') == nullptr) return;
  char *open = strchr(text, '<');
  if (open != nullptr) *open = '\0';
  com_rtrim(text);
}
