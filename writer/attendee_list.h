// The attendee list that appointments and tasks carry at the end of their
// text body: every recipient with its answer.
#pragma once

#include <string>

struct HostMessage;

// Two line ends, "Attendees:", two line ends, then per recipient in list
// order "name <address> (Organizer)" for the organizer (kind 31) or "name
// <address> (word)" with No Response, Confirmed (1), Declined (2) or
// Tentative (3), each line ended; lines end with "\n", on Windows with
// "\r\n" as in a text-mode file. "" when the record has no recipients.
// Cannot fail.
std::string AttendeeListText(const HostMessage *record);

// Appends AttendeeListText to the file at path. Used on copies
// only: the host's part files stay as the host wrote them, so a retried
// write does not append the list twice. A file that cannot be opened is
// left as it is.
void AppendAttendeeList(const HostMessage *record, const char *path);
