// The failed-ids work file and its reading back under /D328.
#include "reader/failed_ids.h"

#include <cstdio>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"

namespace {

enum {
  kPathSize = kDirSize + 64,
  kListLineSize = 4096,  // a sort name (1024) or an id (1024) and a subject (512) fit
};

FilePtr OpenWorkFile() {
  char path[kPathSize];
  FormatText(path, sizeof path, "%sfailedIds.tmp", gSession.workDir);
  return OpenFile(path, "a");
}

// Reads one line of the list; the rest of a longer line is read past, so it
// is never taken for a line of its own. Returns 0 at the end of the file.
int ReadListLine(char *line, size_t cap, FILE *file) {
  if (fgets(line, static_cast<int>(cap), file) == nullptr) return 0;
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] != '\n') {
    int c;
    while ((c = getc(file)) != EOF && c != '\n') {
    }
  }
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
  return 1;
}

}  // namespace

void CopyOneLine(char *out, size_t cap, const char *text, const char *breaks) {
  if (out == nullptr || cap == 0) return;
  CopyText(out, cap, text != nullptr ? text : "");
  for (char *p = out; *p != '\0'; ++p) {
    if (strchr(breaks, *p) != nullptr) *p = ' ';
  }
}

void RecordFailedFolder(int folderNumber, int folderClass, const char *sortName) {
  if (!gRunSettings.d327) return;
  FilePtr file = OpenWorkFile();
  if (!file) return;
  static char name[kListLineSize];
  CopyOneLine(name, sizeof name, sortName, kRecordBreaks);
  fprintf(file.get(), "FolderNumber=%d, FolderType=%d;%s\n", folderNumber, folderClass, name);
}

void RecordFailedId(const char *id, const char *subject) {
  if (!gRunSettings.d327) return;
  FilePtr file = OpenWorkFile();
  if (!file) return;
  // Each record is one line whatever the item's texts hold: a line break in
  // a subject would start a record of the sender's choosing.
  static char idText[kListLineSize], subjectText[kListLineSize];
  CopyOneLine(idText, sizeof idText, id, kRecordBreaks);
  CopyOneLine(subjectText, sizeof subjectText, subject, kRecordBreaks);
  fprintf(file.get(), "msgid=%s;%s\n", idText, subjectText);
  if (id[0] != '\0') ++gSession.failedCount;
}

void RecordListingFailed() {
  if (!gRunSettings.d327) return;
  FilePtr file = OpenWorkFile();
  if (file) fprintf(file.get(), "%s\n", kListingFailedLine);
}

int ReadFailedIds(const char *sortName, const char *idFilePath) {
  DebugLog("debug: searching for failed messages");
  FilePtr list = OpenFile(gRunSettings.d327Path, "r");
  if (!list) return -1;
  FilePtr ids = OpenFile(idFilePath, "w");
  if (!ids) return -1;
  static char line[kListLineSize], wanted[kListLineSize];
  // The name as RecordFailedFolder wrote it.
  CopyOneLine(wanted, sizeof wanted, sortName, kRecordBreaks);
  int count = 0, listAgain = 0;
  while (ReadListLine(line, sizeof line, list.get())) {
    if (strstr(line, "FolderNumber=") == nullptr) continue;
    const char *name = strchr(line, ';');
    if (name == nullptr || strcmp(name + 1, wanted) != 0) continue;
    while (ReadListLine(line, sizeof line, list.get())) {
      if (StartsWith(line, "msgid=;")) break;
      if (strcmp(line, kListingFailedLine) == 0) listAgain = 1;
      char *separator = strchr(line, ';');
      if (separator == nullptr || !StartsWith(line, "msgid=")) continue;
      *separator = '\0';
      fprintf(ids.get(), "%s\n", line + 6);
      DebugLog("debug: found failed message: %s", separator + 1);
      ++count;
    }
  }
  return listAgain ? kListAgain : count;
}
