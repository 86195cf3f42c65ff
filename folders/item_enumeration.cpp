// Item enumeration: the cursor requests that list a folder's item ids, and
// the scans of their answers.
#include "folders/item_enumeration.h"

#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"

namespace {

const char kCreateCursorRequest[] =
    "<m:createCursorRequest>\n<container>%s</container>\n<view>id messageId</view>\n"
    "</m:createCursorRequest>\n";
const char kCreateCursorFilteredRequest[] =
    "<m:createCursorRequest>\n<container>%s</container>\n<view>id messageId</view>\n"
    "%s</m:createCursorRequest>\n";
const char kReadCursorRequest[] =
    "<m:readCursorRequest>\n<container>%s</container>\n<cursor>%s</cursor>\n"
    "<forward>true</forward>\n<position>current</position>\n<count>%d</count>\n"
    "</m:readCursorRequest>\n";
const char kDestroyCursorRequest[] =
    "<m:destroyCursorRequest>\n<container>%s</container>\n<cursor>%s</cursor>\n"
    "</m:destroyCursorRequest>\n";
// The range is closed: with "gt" and "lt" an item created at 00:00:00 on
// the first day, or at 23:59:59 on the last, would never be listed.
const char kDateFilter[] =
    "<filter>\n<element type=\"FilterGroup\">\n<op>and</op>\n"
    "<element type=\"FilterEntry\">\n<op>gte</op>\n<field>created</field>\n"
    "<value>%s</value>\n</element>\n"
    "<element type=\"FilterEntry\">\n<op>lte</op>\n<field>created</field>\n"
    "<value>%s</value>\n</element>\n</element>\n</filter>\n";
const char kFakeMessageId[] = "Fake Msg ID Here\n";

const int kItemLineSize = 2400;
const int kRequestSize = 2048 + kSessionTextSize;  // the filter text fits beside the ids
const int kDateTextSize = 256;

// Names the cursor debug copies; never reset.
int gCursorDebugCounter = 0;

// One day of a file time as "%d-%02d-%02d" followed by timeOfDay.
void FormatFilterDay(FILETIME day, const char *timeOfDay, char *out, size_t cap) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&day, &st)) memset(&st, 0, sizeof st);
  FormatText(out, cap, "%d-%02d-%02d%s", st.wYear, st.wMonth, st.wDay, timeOfDay);
}

void CopyCursorResponse(const char *responsePath) {
  if (!gRunSettings.mailDebug && !gRunSettings.calDebug) return;
  char name[32];
  FormatText(name, sizeof name, "cursor%d.xml", gCursorDebugCounter++);
  char debugPath[kDirSize * 2 + 64];
  FormatDebugPath(debugPath, sizeof debugPath, name);
  CopyAnswer(responsePath, debugPath);
  DebugLog("debug: copied cursor response to %s", debugPath);
}

// The item's part of a block: reads up to its end tag. Leaves the id and the
// container value in the given fields ("" when absent).
void ScanItem(FILE *file, const char *sourceContainer, char *id, char *container) {
  char line[kItemLineSize];
  size_t sourceLength = strlen(sourceContainer);
  id[0] = container[0] = '\0';
  while (ReadResponseLine(line, sizeof line, file)) {
    if (EqualsNoCase(line, "</gwt:item>")) return;
    if (EqualsNoCase(line, "<gwt:id>")) {
      if (ReadElementValue(line, sizeof line, file)) CopyText(id, kItemIdSize, line);
    } else if (StartsWithNoCase(line, "<gwt:container")) {
      if (ReadElementValue(line, sizeof line, file)) CopyText(container, kItemIdSize, line);
      // An item may name several containers; the one asked for ends the search.
      if (EqualsNoCaseN(container, sourceContainer, sourceLength)) return;
    }
  }
}

// The cursor's blocks into the id file. Returns the number of ids written.
int ReadCursorBlocks(FILE *idFile, const char *folderId, const char *cursorId,
                     const char *responsePath, const char *sourceContainer, int *matches) {
  char body[kRequestSize];
  int total = 0;
  *matches = 0;
  for (int block = 1;; ++block) {
    FormatText(body, sizeof body, kReadCursorRequest, folderId, cursorId, kCursorBlockSize);
    SoapCall(body, "readCursorRequest", responsePath);
    if (gHTTPResponse != 200) {
      com_Log("MV Warning: failed to retrieve message block %d, httpResponse=%d", block,
              gHTTPResponse);
      gSession.listingFailed = 1;
      break;
    }
    CopyCursorResponse(responsePath);
    // A block that is no whole answer, or a refused one, would end the
    // listing as an empty block does and leave the rest of the folder out.
    if (!SoapAnswerUsable()) {
      com_Log("MV Warning: failed to retrieve message block %d, %s", block, SoapAnswerProblem());
      gSession.listingFailed = 1;
      break;
    }
    if (gGWSError != 0) {
      com_Log("MV Warning: failed to retrieve message block %d, code=%d", block, gGWSError);
      gSession.listingFailed = 1;
      break;
    }
    int blockMatches = 0, itemsSeen = 0;
    total += ExtractMsgIds(idFile, responsePath, sourceContainer, folderId, &blockMatches,
                           &itemsSeen);
    *matches += blockMatches;
    // A block all of whose items were filtered out does not end the folder.
    if (itemsSeen == 0) break;
  }
  return total;
}

}  // namespace

void BuildDateFilter(FILETIME from, FILETIME to, char *out, size_t cap) {
  if (cap > 0) out[0] = '\0';
  if (com_DateIsNull(from)) return;
  char start[kDateTextSize], end[kDateTextSize];
  FormatFilterDay(from, "T00:00:00Z", start, sizeof start);
  if (com_DateIsNull(to))
    CopyText(end, sizeof end, "9999-12-31T23:59:59Z");
  else
    FormatFilterDay(to, "T23:59:59Z", end, sizeof end);
  FormatText(out, cap, kDateFilter, start, end);
}

void GetCursorId(const char *responsePath, char *cursorId, size_t cap) {
  if (cap > 0) cursorId[0] = '\0';
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return;
  char line[kCursorIdSize];
  while (ReadResponseLine(line, sizeof line, file.get())) {
    if (!EqualsNoCase(line, "<gwm:cursor>")) continue;
    if (ReadElementValue(line, sizeof line, file.get())) CopyText(cursorId, cap, line);
    return;
  }
}

int ExtractMsgIds(FILE *idFile, const char *responsePath, const char *sourceContainer,
                  const char *origId, int *containerMatches, int *itemsSeen) {
  *containerMatches = 0;
  if (itemsSeen != nullptr) *itemsSeen = 0;
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return 0;
  DebugLog("debug: at ExtractMsgIds, SourceContainer=%s, OrigId=%s", sourceContainer, origId);
  char line[kItemLineSize];
  char id[kItemIdSize], container[kItemIdSize];
  int written = 0, matches = 0, seen = 0;
  while (ReadResponseLine(line, sizeof line, file.get())) {
    if (!StartsWithNoCase(line, "<gwt:item")) continue;
    ScanItem(file.get(), sourceContainer, id, container);
    ++seen;
    if (strcmp(container, origId) == 0) ++matches;
    if (sourceContainer[0] != '\0' && !EqualsNoCase(sourceContainer, container)) continue;
    if (id[0] == '\0') continue;  // an empty line would name no item
    // One line per item: a line break in an id (decoded from "&#10;") would
    // make it two ids, neither of them the item's. As a blank, the item's
    // fetch fails visibly under the id the server gave.
    for (char *p = id; *p != '\0'; ++p) {
      if (*p == '\r' || *p == '\n') *p = ' ';
    }
    fprintf(idFile, "%s\n", id);
    ++written;
  }
  DebugLog("debug: found %d MsgIds, %d container matches", written, matches);
  *containerMatches = matches;
  if (itemsSeen != nullptr) *itemsSeen = seen;
  return written;
}

int GetItemIds(const char *folderId, const char *idFilePath, int checkContainer) {
  DebugLog("debug: at GetItemIds, Id=%s, CheckContainer=%d", folderId, checkContainer);
  if (gRunSettings.fakeServer) {
    FilePtr fake = OpenFile(idFilePath, "w");
    if (fake) fputs(kFakeMessageId, fake.get());
    return 0;
  }

  FILETIME from = {0, 0}, to = {0, 0};
  com_GetDateRange(0, &from, &to);
  BuildDateFilter(from, to, gSession.dateFilter, sizeof gSession.dateFilter);

  // The id file is emptied before anything is asked: a listing that fails
  // must not leave another folder's ids behind for the caller to convert.
  gSession.listingFailed = 1;
  {
    FilePtr empty = OpenFile(idFilePath, "w");
    if (!empty) {
      com_Log("MV Error: cannot create the id file %s", idFilePath);
      return 0;
    }
  }

  char responsePath[kDirSize + 32];
  FormatText(responsePath, sizeof responsePath, "%scursor.tmp", gSession.workDir);
  char body[kRequestSize];
  if (gSession.dateFilter[0] != '\0')
    FormatText(body, sizeof body, kCreateCursorFilteredRequest, folderId, gSession.dateFilter);
  else
    FormatText(body, sizeof body, kCreateCursorRequest, folderId);
  SoapCall(body, "createCursorRequest", responsePath);
  if (gHTTPResponse != 200) {
    com_Log("MV Error: failed to create cursor, httpResponse=%d", gHTTPResponse);
    return 0;
  }
  if (!SoapAnswerUsable()) {
    com_Log("MV Error: failed to create cursor, %s", SoapAnswerProblem());
    return 0;
  }
  if (gGWSError != 0) {
    com_Log("MV Error: failed to create cursor, code=%d", gGWSError);
    return 0;
  }

  char cursorId[kCursorIdSize];
  GetCursorId(responsePath, cursorId, sizeof cursorId);
  if (cursorId[0] == '\0') return 0;

  int total = 0, matches = 0;
  FilePtr idFile = OpenFile(idFilePath, "w");
  if (idFile) {
    gSession.listingFailed = 0;  // until a block fails
    const char *sourceContainer = checkContainer ? folderId : "";
    total = ReadCursorBlocks(idFile.get(), folderId, cursorId, responsePath, sourceContainer,
                             &matches);
    idFile.reset();
  }

  // Once the server holds a cursor it is given back, whatever happened since.
  FormatText(body, sizeof body, kDestroyCursorRequest, folderId, cursorId);
  SoapCall(body, "destroyCursorRequest", responsePath);
  if (gHTTPResponse != 200)
    com_Log("MV Info: failed to destroy cursor, httpResponse=%d", gHTTPResponse);
  DebugLog("debug: found %d MsgIds, %d container matches", total, matches);
  return total;
}
