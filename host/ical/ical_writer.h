// Writing one record as an iCalendar object: an appointment (kind 2) as a
// VCALENDAR with one VEVENT, a task (kind 3) with one VTODO, each with a UID
// that is the same in every export of the item.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HostMessage;

namespace ical {

// 64 lowercase hex digits of the SHA-256 of text.
std::string Sha256Hex(const std::string &text);

// The item's key: "id:" and its GroupWise message id, or, when it has none,
// "digest:" and a digest of the fields that tell one item from another.
std::string ItemKey(const HostMessage &record);

// The UID written for the item: 32 hex digits of the key's SHA-256 at
// "groupwise.invalid". The file of the item is named from it.
std::string ItemUid(const HostMessage &record);

// The iCalendar text (CRLF lines, folded) of the record, its part files
// ("%sPRT%03d%02d.TMP") in workDir (ending with "/"); stampUnix is written as
// DTSTAMP. Appointments: times in the record's zone when its Windows or IANA
// name is known, else in UTC; all-day ones as dates. Each thing the file
// cannot hold as the record has it adds a line to *warnings. Returns 0, or
// -1 with *error set (a kind that is neither 2 nor 3, a part file that
// cannot be read).
int BuildItemCalendar(const HostMessage &record, const std::string &workDir, int64_t stampUnix,
                      std::string *text, std::vector<std::string> *warnings, std::string *error);

}  // namespace ical
