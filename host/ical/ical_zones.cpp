// Time zones for iCalendar files: ICU's Windows zone table and libical's
// built-in zones.
#include "host/ical/ical_zones.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstring>

namespace ical {
namespace {

const int64_t kEpochDifference = 11644473600LL;  // seconds from 1601 to 1970
const int64_t kTicksPerSecond = 10000000LL;

std::string Utf8(const icu::UnicodeString &text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace

int64_t UnixFromFileTime(const FILETIME &ft) {
  return static_cast<int64_t>(FileTimeToU64(ft) / kTicksPerSecond) - kEpochDifference;
}

FILETIME FileTimeFromUnix(int64_t seconds) {
  if (seconds < -kEpochDifference) return U64ToFileTime(0);
  return U64ToFileTime(static_cast<uint64_t>(seconds + kEpochDifference) * kTicksPerSecond);
}

bool IsUtcZone(const std::string &iana) {
  static const char *const kUtcNames[] = {"UTC", "Etc/UTC", "Etc/GMT", "GMT", "Etc/Universal",
                                          "Etc/Zulu", "Etc/UCT", "UCT", "Universal", "Zulu"};
  for (const char *name : kUtcNames)
    if (iana == name) return true;
  return false;
}

icaltimezone *BuiltinZone(const std::string &iana) {
  if (iana.empty()) return nullptr;
  return icaltimezone_get_builtin_timezone(iana.c_str());
}

std::string IanaZoneFor(const std::string &name) {
  if (name.empty()) return "";
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString id;
  icu::TimeZone::getIDForWindowsID(icu::UnicodeString::fromUTF8(name), nullptr, id, status);
  if (U_SUCCESS(status) && id.length() > 0) return Utf8(id);
  if (IsUtcZone(name)) return name;
  // An IANA name as another source (or an earlier import) left it.
  if (name.find('/') != std::string::npos && BuiltinZone(name) != nullptr) return name;
  return "";
}

std::string WindowsZoneFor(const std::string &iana) {
  if (iana.empty()) return "";
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString id;
  icu::TimeZone::getWindowsID(icu::UnicodeString::fromUTF8(iana), id, status);
  return U_SUCCESS(status) ? Utf8(id) : "";
}

icalcomponent *ZoneBlock(icaltimezone *zone, const std::string &tzid, int64_t fromUnix) {
  icalcomponent *block = icalcomponent_new_clone(icaltimezone_get_component(zone));
  icaltimetype from = icaltime_from_timet_with_zone(static_cast<time_t>(fromUnix), 0,
                                                    icaltimezone_get_utc_timezone());
  icaltimezone_truncate_vtimezone(block, from, icaltime_null_time(), 1);
  icalproperty *id = icalcomponent_get_first_property(block, ICAL_TZID_PROPERTY);
  if (id != nullptr) icalproperty_set_tzid(id, tzid.c_str());
  return block;
}

std::string ZoneName(icaltimezone *zone) {
  if (zone == nullptr) return "";
  icalcomponent *block = icaltimezone_get_component(zone);
  if (block != nullptr) {
    for (icalproperty *p = icalcomponent_get_first_property(block, ICAL_X_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(block, ICAL_X_PROPERTY)) {
      const char *name = icalproperty_get_x_name(p);
      const char *value = icalproperty_get_x(p);
      if (name != nullptr && value != nullptr && strcmp(name, "X-LIC-LOCATION") == 0 && *value != '\0')
        return value;
    }
  }
  const char *tzid = icaltimezone_get_tzid(zone);
  if (tzid == nullptr) return "";
  // Programs put a prefix before the IANA name ("/freeassociation.sourceforge.net/Europe/Berlin",
  // "/mozilla.org/20050126_1/America/New_York"): the first tail libical knows is the zone.
  const std::string id = tzid;
  for (size_t slash = id[0] == '/' ? 0 : std::string::npos; slash != std::string::npos;
       slash = id.find('/', slash + 1)) {
    const std::string tail = id.substr(slash + 1);
    if (tail.find('/') != std::string::npos && BuiltinZone(tail) != nullptr) return tail;
  }
  return id;
}

}  // namespace ical
