// The folder table: every GroupWise folder and address book offered to the
// host, built at logon from the getFolderListResponse and addressed by index
// by the readers and writers.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
  kMaxFolders = 15000,
  kFolderTextSize = 1024,
  kFolderValueChars = 250,  // longest name, id or parent id taken from an answer
  kRootFolderIdSize = 512,
};

// Folder classes, shown to the host in the folder tag.
enum {
  kFolderClassMail = 0,
  kFolderClassAddressBook = 1,
  kFolderClassCalendar = 2,
  kFolderClassTaskList = 3,
};

struct FolderRecord {
  int32_t itemCount;  // the server's count, or the count found by enumeration
  char name[kFolderTextSize];      // the folder's own name, trailing blanks removed
  char path[kFolderTextSize];      // names from the top-level folder down, joined by "^"
  char sortName[kFolderTextSize];  // the name again; the table is sorted by it
  int32_t folderClass;             // kFolderClass*
  int32_t countGiven;              // 1 when the server's entry carried a count
  char id[kFolderTextSize];        // GroupWise folder id: the container of requests
  char parentId[kFolderTextSize];  // empty for address books
};

struct FolderTable {
  FolderRecord *records[kMaxFolders];  // heap blocks owned by the table
  int32_t count;
};

extern FolderTable gFolderTable;
// Id of the folder whose folder type is "root"; the parent of new top-level folders.
extern char gRootFolderId[kRootFolderIdSize];

// Appends a record; the name is right-trimmed and stored as name, path and
// sort name. Texts longer than a field are cut. Returns 1 when added, 0 when
// the table already holds kMaxFolders records or memory is out (table unchanged).
int AddFolderRecord(int itemCount, const char *id, const char *parentId, const char *name,
                    int folderClass, int countGiven);

// Frees every record; the count becomes 0 and the root folder id empty.
// Cannot fail.
void FreeFolderTable();

// Reads a saved getFolderListResponse into the table, builds the paths and
// sets the item counts (enumerating calendars, task lists and folders the
// server gave no count for). Returns 1 when the file was read, 0 when it
// cannot be opened (the table is then unchanged).
int ParseGWFolders(const char *responsePath);

// Prepends the names of the ancestors of record `index` to path (capacity
// cap), joined by "^". Stops at a parent that is not in the table, and after
// as many steps as there are records, so a parent chain that loops ends.
// An index out of range leaves path unchanged.
void BuildFolderPath(char *path, size_t cap, int index);

// Sorts the table by sort name ignoring case. Equal names keep their order,
// so sorting again never reorders the table.
void SortFolderTable();
