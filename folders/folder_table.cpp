// The folder table: the parser of the getFolderListResponse, the folder
// paths and item counts, and the two entry points that show the table to the
// host (GetFolderNames, GetTrueFolder).
#include "folders/folder_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "folders/item_enumeration.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"

FolderTable gFolderTable;
char gRootFolderId[kRootFolderIdSize];

namespace {

const int kFolderLineSize = 2400;
const char kFolderTagFormat[] = "%s {MV:%d:FCLASS:%d}";

// What one <gwt:folder> entry of the answer says, collected until its end tag.
struct FolderEntry {
  char name[kFolderTextSize];  // whole, until ShortenFolderName
  char folderType[kFolderValueChars + 1];
  char kind[kFolderValueChars + 1];  // the xsi:type after "gwt:", e.g. SharedFolder
  char id[kFolderValueChars + 1];
  char parentId[kFolderValueChars + 1];
  int itemCount;
  int countGiven;
  int sharedByMe;
};

// Inside <gwt:displaySettings> only the folder type counts; the block's own
// id and name must not be taken for the folder's. Leaves the line that ended
// the block (or "" at the end of the file) in line.
void ScanDisplaySettings(char *line, FILE *file, FolderEntry *entry) {
  TagField folderType = {"<gwt:folderType>", kTagPrefix, entry->folderType,
                         sizeof entry->folderType, kFolderValueChars, nullptr};
  while (ReadResponseLine(line, kFolderLineSize, file)) {
    if (strcmp(line, "</gwt:displaySettings>") == 0) return;
    ScanTagTable(line, kFolderLineSize, &folderType, 1, file);
  }
  line[0] = '\0';
}

// An element closed on its own line ("<gwt:displaySettings/>") holds nothing
// and opens no block; reading on to a closing tag would swallow the folders
// after it.
bool ClosesItself(const char *line) {
  size_t length = strlen(line);
  return length >= 2 && strcmp(line + length - 2, "/>") == 0;
}

// A line opening a folder entry: takes the kind from its type="gwt:...".
// Returns 0 when the line has no such attribute.
int TakeFolderKind(const char *line, FolderEntry *entry) {
  static const char kTypeMark[] = "type=\"gwt:";
  const char *start = strstr(line, kTypeMark);
  if (start == nullptr) return 0;
  start += sizeof kTypeMark - 1;
  const char *end = strchr(start, '"');
  size_t length = end != nullptr ? static_cast<size_t>(end - start) : strlen(start);
  CopyTextN(entry->kind, sizeof entry->kind, start, length);
  return 1;
}

// The /D70 filter: 1 when the entry is to be dropped.
int DroppedBySharing(const FolderEntry &entry) {
  int bits = gRunSettings.d70;
  if (bits == 0) return 0;
  int keepNormal = bits & 1, keepOutgoing = bits & 2, keepIncoming = bits & 4;
  DebugLog("debug: Name=%s, FolderType=%s, sharedByMe=%d, shNormal=%d, shOutgoing=%d, "
           "shIncoming=%d",
           entry.name, entry.kind, entry.sharedByMe, keepNormal, keepOutgoing, keepIncoming);
  if (EqualsNoCase(entry.kind, "SharedFolder")) {
    if (entry.sharedByMe) return keepOutgoing == 0;
    return keepIncoming == 0;
  }
  return keepNormal == 0;
}

// A name longer than kFolderValueChars keeps its start and gets "~" and a
// digest of the whole name, so that two folders whose names differ only
// past the cut stay two folders (and two directories on export). Shorter
// names stay as they are.
void ShortenFolderName(char *name, size_t cap) {
  const size_t length = strnlen(name, cap);
  if (length <= static_cast<size_t>(kFolderValueChars)) return;
  uint32_t digest = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < length; ++i) {
    digest ^= static_cast<unsigned char>(name[i]);
    digest *= 16777619u;
  }
  const std::string whole(name, length);
  size_t cut = kFolderValueChars - 9;  // room for "~" and eight hex digits
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  FormatText(name + cut, cap - cut, "~%08x", digest);
  com_Log("MV Warning: folder name shortened to %s, the whole name: %s", name, whole.c_str());
  // The host lists the names it keeps shortened, with the whole ones.
  char notice[kFolderTextSize + kFolderValueChars + 2];
  FormatText(notice, sizeof notice, "%s\t%s", name, whole.c_str());
  com_SetExtendedError(kExtNoticeFolderShortened, 0, notice);
}

// Decides about one complete entry and adds it. Returns 0 when the table is
// full and reading must stop, else 1.
int EndFolderEntry(FolderEntry *entry) {
  if (EqualsNoCase(entry->folderType, "root")) CopyText(gRootFolderId, sizeof gRootFolderId, entry->id);
  if (entry->parentId[0] == '\0') return 1;
  if (DroppedBySharing(*entry)) return 1;
  ShortenFolderName(entry->name, sizeof entry->name);
  // Address books come from the address-book list.
  if (EqualsNoCase(entry->folderType, "Contacts") || EqualsNoCase(entry->folderType, "UserContacts"))
    return 1;
  if (gFolderTable.count >= kMaxFolders) return 0;

  int folderClass = kFolderClassMail;
  if (strcmp(entry->folderType, "Calendar") == 0) folderClass = kFolderClassCalendar;
  if (strcmp(entry->folderType, "Checklist") == 0) folderClass = kFolderClassTaskList;

  // A resource mailbox offers its Mailbox folder as its calendar.
  if (EqualsNoCase(gSession.userRecipType, "Resource") && gRunSettings.d300) {
    if (folderClass == kFolderClassCalendar) return 1;
    if (strcmp(entry->name, "Mailbox") == 0) {
      folderClass = kFolderClassCalendar;
      CopyText(entry->name, sizeof entry->name, "Calendar");
    }
  }
  AddFolderRecord(entry->itemCount, entry->id, entry->parentId, entry->name, folderClass,
                  entry->countGiven);
  return 1;
}

// Reads the folder entries of the answer into the table, checking each line
// in this order; a check that reads a value line passes that line on to the
// checks after it.
void ScanFolderList(FILE *file) {
  FolderEntry entry;
  memset(&entry, 0, sizeof entry);
  const TagField entryFields[] = {
      {"<gwt:id>", kTagExact, entry.id, sizeof entry.id, kFolderValueChars, nullptr},
      {"<gwt:name>", kTagExact, entry.name, sizeof entry.name, -1, nullptr},
      {"<gwt:folderType>", kTagExact, entry.folderType, sizeof entry.folderType,
       kFolderValueChars, nullptr},
      {"<gwt:parent>", kTagExact, entry.parentId, sizeof entry.parentId, kFolderValueChars,
       nullptr},
  };
  char scratch[16];
  const TagField countField = {"<gwt:count>", kTagExact, scratch, sizeof scratch, -1, nullptr};
  const TagField sharedField = {"<gwt:isSharedByMe>", kTagExact, scratch, sizeof scratch, -1,
                                nullptr};
  char line[kFolderLineSize];

  while (ReadResponseLine(line, sizeof line, file)) {
    if (StartsWithNoCase(line, "<gwt:displaySettings") && !ClosesItself(line))
      ScanDisplaySettings(line, file, &entry);
    ScanTagTable(line, sizeof line, entryFields, 4, file);
    if (strcmp(line, "<gwt:calendarAttribute>") == 0)
      CopyText(entry.folderType, sizeof entry.folderType, "Calendar");
    if (StartsWith(line, "<gwt:folder") && !TakeFolderKind(line, &entry)) continue;
    if (ScanTagTable(line, sizeof line, &countField, 1, file)) {
      entry.itemCount = ParseLeadingInt(line);
      entry.countGiven = 1;
    }
    if (ScanTagTable(line, sizeof line, &sharedField, 1, file)) entry.sharedByMe = line[0] == '1';
    if (strcmp(line, "</gwt:folder>") == 0) {
      int goOn = EndFolderEntry(&entry);
      memset(&entry, 0, sizeof entry);
      if (!goOn) return;
    }
  }
}

// The first record of each id, so that paths of a large table are built in
// linear time.
using FirstRecordById = std::unordered_map<std::string, const FolderRecord *>;

const FolderRecord *FindParent(const FolderRecord *record, const FirstRecordById *byId) {
  if (byId != nullptr) {
    auto found = byId->find(record->parentId);
    return found != byId->end() ? found->second : nullptr;
  }
  for (int i = 0; i < gFolderTable.count; ++i) {
    if (strcmp(gFolderTable.records[i]->id, record->parentId) == 0) return gFolderTable.records[i];
  }
  return nullptr;
}

void PrependAncestors(char *path, size_t cap, int index, const FirstRecordById *byId) {
  if (index < 0 || index >= gFolderTable.count) return;
  const FolderRecord *record = gFolderTable.records[index];
  // A chain longer than the table can only be a loop.
  for (int steps = 0; steps < gFolderTable.count && record->parentId[0] != '\0'; ++steps) {
    const FolderRecord *parent = FindParent(record, byId);
    if (parent == nullptr) return;
    char joined[kFolderTextSize];
    FormatText(joined, sizeof joined, "%s^%s", parent->name, path);
    CopyText(path, cap, joined);
    record = parent;
  }
}

void BuildAllPaths() {
  FirstRecordById byId;
  for (int i = 0; i < gFolderTable.count; ++i)
    byId.emplace(gFolderTable.records[i]->id, gFolderTable.records[i]);
  for (int i = 0; i < gFolderTable.count; ++i) {
    FolderRecord *record = gFolderTable.records[i];
    char path[kFolderTextSize];
    CopyText(path, sizeof path, record->name);
    PrependAncestors(path, sizeof path, i, &byId);
    CopyText(record->path, sizeof record->path, path);
  }
}

// Calendars, task lists and folders without a server count are counted by
// listing their items.
void CountFolderItems() {
  char idFile[kDirSize + 32];
  FormatText(idFile, sizeof idFile, "%smsgids.tmp", gSession.workDir);
  for (int i = 0; i < gFolderTable.count; ++i) {
    FolderRecord *record = gFolderTable.records[i];
    int enumerate = record->folderClass == kFolderClassCalendar ||
                    record->folderClass == kFolderClassTaskList || record->countGiven == 0;
    if (!enumerate) continue;
    int checkContainer = gRunSettings.d332 && record->folderClass != kFolderClassMail;
    record->itemCount = GetItemIds(record->id, idFile, checkContainer);
    DebugLog("debug: Calculated item count for folder %s: %d", record->sortName,
             record->itemCount);
  }
  remove(idFile);
}

bool SortNameBefore(const FolderRecord *a, const FolderRecord *b) {
  return CompareNoCase(a->sortName, b->sortName) < 0;
}

}  // namespace

int AddFolderRecord(int itemCount, const char *id, const char *parentId, const char *name,
                    int folderClass, int countGiven) {
  if (gFolderTable.count >= kMaxFolders) return 0;
  FolderRecord *record = new (std::nothrow) FolderRecord();
  if (record == nullptr) return 0;
  char trimmed[kFolderTextSize];
  CopyText(trimmed, sizeof trimmed, name);
  com_rtrim(trimmed);
  record->itemCount = itemCount;
  CopyText(record->name, sizeof record->name, trimmed);
  CopyText(record->path, sizeof record->path, trimmed);
  CopyText(record->sortName, sizeof record->sortName, trimmed);
  record->folderClass = folderClass;
  record->countGiven = countGiven;
  CopyText(record->id, sizeof record->id, id);
  CopyText(record->parentId, sizeof record->parentId, parentId);
  gFolderTable.records[gFolderTable.count++] = record;
  return 1;
}

void FreeFolderTable() {
  for (int i = 0; i < gFolderTable.count; ++i) {
    delete gFolderTable.records[i];
    gFolderTable.records[i] = nullptr;
  }
  gFolderTable.count = 0;
  gRootFolderId[0] = '\0';  // belongs to the mailbox whose table this was
}

int ParseGWFolders(const char *responsePath) {
  DebugLog("debug: in ParseGWFolders");
  {
    FilePtr file = OpenAnswer(responsePath, "r");
    if (!file) return 0;
    ScanFolderList(file.get());
  }
  BuildAllPaths();
  CountFolderItems();
  DebugLog("debug: end ParseGWFolders");
  return 1;
}

void BuildFolderPath(char *path, size_t cap, int index) {
  PrependAncestors(path, cap, index, nullptr);
}

void SortFolderTable() {
  std::stable_sort(gFolderTable.records, gFolderTable.records + gFolderTable.count,
                   SortNameBefore);
}

extern "C" MV_EXPORT int MV_CALL GetFolderNames(int /*a1*/, FolderCallbackFn callback) {
  SortFolderTable();
  DebugLog("debug: at GetFolderNames");
  for (int i = 0; i < gFolderTable.count; ++i) {
    const FolderRecord *record = gFolderTable.records[i];
    char tag[kFolderTextSize + 64];
    FormatText(tag, sizeof tag, kFolderTagFormat, record->path, record->itemCount,
               record->folderClass);
    if (callback != nullptr) callback(tag);
  }
  DebugLog("debug: end GetFolderNames");
  return 0;
}

extern "C" MV_EXPORT int MV_CALL GetTrueFolder(int folderIndex, char *pathOut) {
  if (pathOut == nullptr) return folderIndex;
  if (folderIndex < 0 || folderIndex >= gFolderTable.count) {
    pathOut[0] = '\0';
    return folderIndex;
  }
  CopyText(pathOut, kHostPathSize, gFolderTable.records[folderIndex]->path);
  return folderIndex;
}
