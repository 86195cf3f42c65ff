// Time zones and times for iCalendar files: the Windows zone names GroupWise
// keeps (ICU's Windows-to-IANA table), libical's built-in zones with their
// VTIMEZONE blocks, and FILETIME values as Unix seconds and back.
#pragma once

#include <libical/ical.h>

#include <cstdint>
#include <string>

#include "platform/win_compat.h"

namespace ical {

// Unix seconds of a FILETIME (100 ns ticks since 1601, UTC), and back.
int64_t UnixFromFileTime(const FILETIME &ft);
FILETIME FileTimeFromUnix(int64_t seconds);

// The IANA zone for a record's zone name: a Windows zone id ("W. Europe
// Standard Time") through ICU's table, or a name that already is an IANA
// zone libical knows. "" when the name is empty or maps to nothing.
std::string IanaZoneFor(const std::string &name);

// The Windows zone id of an IANA zone ("Europe/Berlin" -> "W. Europe
// Standard Time"), "" when ICU knows none.
std::string WindowsZoneFor(const std::string &iana);

// True for the IANA names of UTC itself (Etc/UTC, Etc/GMT, UTC, ...): times
// in them are written as UTC, without a zone block.
bool IsUtcZone(const std::string &iana);

// libical's built-in zone for an IANA name; null when unknown. The zone
// belongs to libical and lives as long as the process.
icaltimezone *BuiltinZone(const std::string &iana);

// A new VTIMEZONE block for the zone with TZID set to `tzid`, cut to the
// observances in force from `fromUnix` on (earlier history is dropped so
// the file stays small). The caller owns the result.
icalcomponent *ZoneBlock(icaltimezone *zone, const std::string &tzid, int64_t fromUnix);

// The IANA (or, failing that, the file's own) name of a zone that libical
// resolved from a file: the X-LIC-LOCATION, else the TZID without libical's
// prefix.
std::string ZoneName(icaltimezone *zone);

}  // namespace ical
