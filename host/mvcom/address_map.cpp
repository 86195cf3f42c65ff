// The host's address map: a CSV file of "old,new" lines loaded in mvcom_Init
// and applied to the sender and recipient addresses of each item.
#include <cctype>
#include <cstring>
#include <string>

#include "host/mvcom/mvcom_state.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"

static std::string Lower(const std::string &text) {
  std::string out = text;
  for (char &c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return out;
}

// The field between begin and end without blanks and one pair of quotes.
static std::string Field(const char *begin, const char *end) {
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (end - begin >= 2 && *begin == '"' && end[-1] == '"') {
    ++begin;
    --end;
  }
  return std::string(begin, end);
}

int LoadAddressMap(const char *path) {
  gMvcom.addressMap.clear();
  if (path == nullptr || path[0] == '\0') return 0;
  FilePtr f = OpenFile(path, "r");
  if (!f) {
    SetInitError("cannot open address map %s", path);
    return -1;
  }
  char line[2048];
  for (int number = 1; ReadTextLine(line, sizeof line, f.get()); ++number) {
    const char *comma = strchr(line, ',');
    std::string first = Field(line, comma != nullptr ? comma : line + strlen(line));
    if (first.empty() || first[0] == '#') continue;  // blank line or comment
    std::string second = comma != nullptr ? Field(comma + 1, line + strlen(line)) : "";
    if (second.empty()) {
      SetInitError("address map %s line %d: expected \"old,new\"", path, number);
      gMvcom.addressMap.clear();
      return -1;
    }
    gMvcom.addressMap[Lower(first)] = second;
  }
  return 0;
}

// Replaces address (a buffer of cap bytes) through the map. Returns 1 when
// it changed; a replacement that does not fit is not made and is logged.
static int TranslateOne(char *address, size_t cap) {
  std::string current(address, strnlen(address, cap));
  if (current.empty()) return 0;
  auto found = gMvcom.addressMap.find(Lower(current));
  if (found == gMvcom.addressMap.end() || found->second == current) return 0;
  if (found->second.size() >= cap) {
    com_Log("MV Warning: mapped address for %s is too long (%zu characters), kept as it is",
            current.c_str(), found->second.size());
    return 0;
  }
  CopyText(address, cap, found->second.c_str());
  return 1;
}

int com_AddressTranslate(HostMessage *record) {
  if (record == nullptr || gMvcom.addressMap.empty()) return 0;
  int changed = TranslateOne(record->fromAddress, sizeof record->fromAddress);
  for (int i = 0; i < record->recipCount && i < kMaxRecipients; ++i)
    if (record->recips[i] != nullptr)
      changed += TranslateOne(record->recips[i]->address, sizeof record->recips[i]->address);
  return changed;
}
