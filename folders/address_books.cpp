// The address-book list: the parser of the getAddressBookListResponse and
// the entry counts of the books it keeps.
#include "folders/address_books.h"

#include <cstdio>
#include <cstring>

#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"

namespace {

const char kGetItemsRequest[] =
    "<m:getItemsRequest>\n<container>%s</container>\n<count>%d</count>\n</m:getItemsRequest>\n";
const int kBookEntryLimit = 500;
const int kListLineSize = 2400;
const int kBookValueChars = 250;

// How a shared book announces itself, and how many bytes are compared.
struct SharedNotice {
  const char *text;
  size_t bytes;
};
const SharedNotice kSharedNotices[] = {
    {"You have been granted shared access", 35},
    {"Ihnen wurde der Zugriff auf mein Adressbuch", 43},
    {"Můžete sdílet můj adresář s názvem", 41},  // UTF-8
};

// What one <gwt:book> entry says.
struct BookEntry {
  char id[256];
  char name[256];
  char description[1024];
  char count[32];
  char personal[8];
  char frequent[8];
};

// Decides about one complete book. Returns 0 when the folder table is full
// and reading must stop.
int EndBook(const BookEntry &book, int allBooks) {
  int count = ParseLeadingInt(book.count);
  int personal = book.personal[0] == '1';
  int frequent = book.frequent[0] == '1';
  DebugLog("debug: address book fname=%s, count=%d, isPersonal=%d, isFrequent=%d, fid=%s",
           book.name, count, personal, frequent, book.id);
  if (gFolderTable.count >= kMaxFolders) return 0;
  if (!allBooks && !personal) return 1;
  if ((gRunSettings.d70 & 1) && IsSharedBookNotice(book.description)) return 1;
  AddFolderRecord(count, book.id, "", book.name, kFolderClassAddressBook, 0);
  if (personal && !frequent && gRunSettings.gwcf[0] == '\0')
    CopyText(gRunSettings.gwcf, sizeof gRunSettings.gwcf, book.name);
  return 1;
}

void ScanBookList(FILE *file, int allBooks) {
  BookEntry book;
  memset(&book, 0, sizeof book);
  const TagField fields[] = {
      {"<gwt:id>", kTagExact, book.id, sizeof book.id, kBookValueChars, nullptr},
      {"<gwt:description>", kTagExact, book.description, sizeof book.description,
       kBookValueChars, nullptr},
      {"<gwt:name>", kTagExact, book.name, sizeof book.name, kBookValueChars, nullptr},
      {"<gwt:count>", kTagExact, book.count, sizeof book.count, -1, nullptr},
      {"<gwt:isPersonal>", kTagExact, book.personal, sizeof book.personal, -1, nullptr},
      {"<gwt:isFrequentContacts>", kTagExact, book.frequent, sizeof book.frequent, -1, nullptr},
  };
  const int fieldCount = sizeof fields / sizeof fields[0];
  char line[kListLineSize];
  while (ReadResponseLine(line, sizeof line, file)) {
    ScanTagTable(line, sizeof line, fields, fieldCount, file);
    if (strcmp(line, "</gwt:book>") != 0) continue;
    int goOn = EndBook(book, allBooks);
    memset(&book, 0, sizeof book);
    if (!goOn) return;
  }
}

// Replaces each book's count by the number of entries the server lists for
// it (at most the first 500).
void CountBookEntries() {
  char responsePath[kDirSize + 32];
  FormatText(responsePath, sizeof responsePath, "%sabdata.xml", gSession.workDir);
  int debugNumber = 0;
  for (int i = 0; i < gFolderTable.count; ++i) {
    FolderRecord *record = gFolderTable.records[i];
    if (record->folderClass != kFolderClassAddressBook) continue;
    char body[kFolderTextSize + 128];
    FormatText(body, sizeof body, kGetItemsRequest, record->id, kBookEntryLimit);
    SoapCall(body, "getItemsRequest", responsePath);
    if (gRunSettings.mailDebug) {
      char name[32], debugPath[kDirSize * 2 + 64];
      FormatText(name, sizeof name, "abdata%d.xml", debugNumber++);
      FormatDebugPath(debugPath, sizeof debugPath, name);
      CopyAnswer(responsePath, debugPath);
      DebugLog("debug: copied AB getItems response to %s", debugPath);
    }
    // A broken or refused answer lists no entry; the book keeps the list's count.
    if (gHTTPResponse == 200 && SoapAnswerUsable() && gGWSError == 0) {
      record->itemCount = CountResponseIds(responsePath);
      ForgetAnswer(responsePath);
    } else {
      com_Log("MV Warning: failed to retrieve ab entries");
    }
  }
}

}  // namespace

int IsSharedBookNotice(const char *description) {
  for (const SharedNotice &notice : kSharedNotices) {
    if (EqualsNoCaseN(description, notice.text, notice.bytes)) return 1;
  }
  return 0;
}

int CountResponseIds(const char *responsePath) {
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return 0;
  char line[kListLineSize];
  int count = 0;
  while (ReadResponseLine(line, sizeof line, file.get())) {
    if (StartsWithNoCase(line, "<gwt:id>")) ++count;
  }
  return count;
}

int ParseGWABList(const char *responsePath, int allBooks) {
  DebugLog("debug: in ParseGWABList");
  {
    FilePtr file = OpenAnswer(responsePath, "r");
    if (!file) {
      com_Log("MV Info: unable to open address book list %s", responsePath);
      return 0;
    }
    ScanBookList(file.get(), allBooks);
  }
  CountBookEntries();
  return 1;
}
