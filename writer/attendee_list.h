// The attendee list that appointments and tasks carry at the end of their
// text body: every recipient with its answer.
#pragma once

#include <string>

struct HostMessage;

// "\n\nAttendees:\n\n", then per recipient in list order "name <address>
// (Organizer)" for the organizer (kind 31) or "name <address> (word)" with
// No Response, Confirmed (1), Declined (2) or Tentative (3), each line ended
// by "\n". "" when the record has no recipients. Cannot fail.
std::string AttendeeListText(const HostMessage *record);

// Appends AttendeeListText to the file at path (text mode). Used on copies
// only: the host's part files stay as the host wrote them, so a retried
// write does not append the list twice. A file that cannot be opened is
// left as it is.
void AppendAttendeeList(const HostMessage *record, const char *path);
