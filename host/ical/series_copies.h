// Copies of one recurring series in an exported calendar. The server hands
// a series over as one item per occurrence, and the reader writes the series
// at the first occurrence it reads. When that one could not be read in a
// run, the series went out from a later occurrence, under that occurrence's
// id; the run that reads the first one writes it again under the first
// one's id. The later copy, which is the same series cut at its start, is
// then the one to remove.
#pragma once

#include <libical/ical.h>

#include <string>

namespace ical {

// What tells a series apart from other items.
struct SeriesShape {
  std::string signature;  // digest of the VEVENT without its UID, stamp, and start and end values
  std::string rule;       // the RRULE value
  icaltimetype start{};   // DTSTART as written, its zone left aside (both copies name the same)
};

// Reads the shape of an exported item's iCalendar text. False when the text
// holds no VEVENT with a rule.
bool ReadSeriesShape(const std::string &text, SeriesShape *shape);

// True when `later` is `first` cut at its start: the same in all but the
// start (and the UID and stamp), starting later, on one of first's
// occurrences.
bool IsLaterCopy(const SeriesShape &first, const SeriesShape &later);

}  // namespace ical
