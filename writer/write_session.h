// The write session: InitWrite settles the target container of the items
// that follow, and SubmitCreateItem sends any item writer's createItemRequest
// through its own request file, response file, debug copies and success test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The item writers; each has a row of its own in the submission table.
enum CreateWriterKind {
  kWriterMail,
  kWriterAppointment,
  kWriterContact,  // contact or group
  kWriterMember,   // group member
  kWriterTask,
  kWriterCount,
};

// Results of SubmitCreateItem.
enum {
  kCreateDone = 0,     // the server created the item; request and response files deleted
  kCreateNotSent = 1,  // the request file could not be written or read back: nothing sent
  kCreateFailed = 2,   // sent, but the answer failed the writer's success test
};

// Writes one createItemRequest body into the open request file. Returns 1,
// 0 when the body could not be formed, or kBodyPartUnreadable when a part file
// the item lists could not be read (nothing is sent in either case: a mail
// without its body or an attachment must not be reported as created).
enum { kBodyPartUnreadable = -1 };
typedef int (*CreateBodyFn)(FILE *request, void *context);

struct CreateOutcome {
  int httpStatus;  // gHTTPResponse of the post (0 when nothing was sent)
  int code;        // the status code the writer's success test looked at
};

// Writes the body with writeBody into the writer's request file in the work
// directory and posts it (streamed) as "createItemRequest"; keeps debug copies
// when the writer's debug switch is set, numbered by the writer's own counter.
// On success deletes both files (the member writer keeps them). On failure
// logs the writer's warning with itemName, reports the item through
// com_SetExtendedError(kExtErrorItemFailed) and keeps both files. outcome may
// be null.
int SubmitCreateItem(CreateWriterKind writer, CreateBodyFn writeBody, void *context,
                     const char *itemName, CreateOutcome *outcome);

// Leaves a hole in the request being written, at its current end, for the
// base64 text of the part file at path followed by appendix (null: none),
// totalBytes bytes in all. The text is made from the file as the request is
// sent, so that a large attachment is neither held nor written to disk a
// second time. Returns 0 when request takes no holes (a request written as
// a text file, as on Windows or with /CALTEST): the caller then writes the
// text itself.
int AddRequestHole(FILE *request, const char *path, const char *appendix, int64_t totalBytes);

// Path of the writer's response file (work directory + its name).
std::string CreateResponsePath(CreateWriterKind writer);

// Reads a createItemResponse: the last <gwm:id> into id (emptied first, cut
// to idCap - 1) and returns the last status code (0 when the file has none or
// cannot be opened).
int ReadCreateResponse(const char *responsePath, char *id, size_t idCap);

// Tells the host that an item it handed over was not written: logs nothing,
// records "\t<itemName>\t<reason>" with com_SetExtendedError(kExtErrorItemFailed).
void ReportWriteFailure(const char *itemName, const char *reason);
// Set by the contact writer while it writes a group member: a failure is
// then kept in gMemberFailure, not told as the item's, since the member is
// asked for again or left out of the group (kExtNoticeMemberLeftOut).
extern int gWritingMember;
extern std::string gMemberFailure;

// Debug counters back to 0, as at load (tests).
void ResetWriteCounters();
