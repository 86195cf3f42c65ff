// CreateTask: one task of the host's (kind 3) created in the target
// container with a createItemRequest.
#pragma once

struct HostMessage;

// Writes record as a task assigned to the logged-on user: subject, priority,
// the dates both as date-times in the checklist block and as dates on the
// item, completed when contactFlag is 2 or percentComplete 100, and the text
// body with the attendee list after it (the host's part file is not
// changed). A failed write is logged and reported to the host
// (kExtErrorItemFailed); a non-zero status code in the answer is a failure.
// The second argument and the part directory are not read. Returns 0.
int CreateTask(HostMessage *record, void *unused, const char *partDirectory);
