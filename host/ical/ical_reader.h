// Reading iCalendar objects into records: each VEVENT becomes an appointment
// (kind 2), each VTODO a task (kind 3), with times in UTC through their zone,
// the rule in the record's recurrence fields, attendees as recipients and the
// description and attachments as part files.
#pragma once

#include <libical/ical.h>

#include <string>
#include <vector>

struct HostMessage;

namespace ical {

// The identity by which an imported item is remembered: "ical:" and its UID,
// with "|" and the RECURRENCE-ID (as UTC text) for a changed occurrence; an
// item without a UID is "ical-sha256:" and a digest of its text.
std::string ComponentKey(icalcomponent *item);

// The zone a file's floating times are read in: the calendar's
// X-WR-TIMEZONE when libical knows it, else null (the host's local time).
icaltimezone *FloatingZone(icalcomponent *calendar);

// Fills the record (already cleared; msgSeq set) from one VEVENT or VTODO of
// a parsed file, part files written into workDir (ending with "/") as
// "PRT%03d%02d.TMP". The component must belong to its VCALENDAR (its TZIDs
// are resolved there). Whatever the record cannot hold adds a line to
// *warnings. Returns 0, or -1 with *reason set (not an event or a task, no
// start, a part file that cannot be written); the caller frees the lists and
// part files then.
int ConvertComponent(icalcomponent *item, icaltimezone *floatingZone, const std::string &workDir,
                     HostMessage *record, std::vector<std::string> *warnings, std::string *reason);

}  // namespace ical
