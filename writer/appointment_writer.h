// The appointment writer: one GroupWise appointment created from a host
// record of kind 2, with its attendees (as recipients with their status and
// as a readable list at the end of the body) and its recurrence rule.
#pragma once

#include <string>

struct HostMessage;

// Creates the appointment in the target container. Failures are logged and
// reported to the host. Returns 0.
int CreateAppointment(HostMessage *record, void *unused, const char *partDirectory);

// The attendee list that ends an appointment's body texts: "\n\nAttendees:\n\n"
// and one line per recipient ("Name <address> (Organizer)" or with the
// status word). The host's part files are never changed: the list goes
// into the request after a body's bytes.
std::string AppendAttendeeList(const HostMessage *record);
