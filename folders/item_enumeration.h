// Item enumeration: lists the ids of a folder's items into an id file with a
// GroupWise cursor, optionally limited to the user's date range.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/win_compat.h"

enum {
  kCursorBlockSize = 100,  // items asked for per readCursorRequest
  kItemIdSize = 1024,
  kCursorIdSize = 2000,
};

// Lists the ids of folder `folderId` into idFilePath (rewritten; one id and
// "\n" per line, in cursor order) and returns how many were written.
// checkContainer non-zero keeps only items whose container is the folder
// itself. Fills gSession.dateFilter with the filter sent (empty when none).
// Returns 0 when the cursor cannot be created, carries no id, or the id file
// cannot be opened; a failed block (not HTTP 200, an answer that is not a
// whole SOAP envelope, or a status code other than 0) ends the listing with
// the ids found so far and sets gSession.listingFailed. Once a cursor exists
// it is always destroyed. With /FAKESERVER writes the single line "Fake Msg
// ID Here" and returns 0 without a request.
int GetItemIds(const char *folderId, const char *idFilePath, int checkContainer);

// Appends the ids of one saved readCursorResponse to idFile and returns how
// many it wrote. With a non-empty sourceContainer only items whose container
// equals it (case ignored) are written; items without an id are never
// written. *containerMatches receives the number of items whose container is
// exactly origId; *itemsSeen (may be null) the number of items in the block,
// written or not. A response that cannot be opened gives 0 and zero counts.
int ExtractMsgIds(FILE *idFile, const char *responsePath, const char *sourceContainer,
                  const char *origId, int *containerMatches, int *itemsSeen);

// Copies the value of the first <gwm:cursor> of a saved createCursorResponse
// into cursorId (capacity cap); "" when there is none or the file cannot be
// opened.
void GetCursorId(const char *responsePath, char *cursorId, size_t cap);

// The server-side filter on the creation date from `from` to `to` (whole
// days, UTC). A null `to` means no end: the filter then ends on 9999-12-31.
// Writes "" when `from` is null.
void BuildDateFilter(FILETIME from, FILETIME to, char *out, size_t cap);
