// Recognising two exports of one recurring series, one cut at its start.
#include "host/ical/series_copies.h"

#include <string>
#include <vector>

#include "host/ical/ical_writer.h"
#include "platform/bounded_text.h"

namespace ical {
namespace {

// Far more occurrences than lie between two occurrences of one GroupWise
// series (daily for 250 years); a rule that yields more is not followed.
const int kMaxOccurrenceSteps = 100000;

std::vector<std::string> UnfoldedLines(const std::string &text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') continue;
    if (c != '\n') {
      line += c;
      continue;
    }
    if (i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t')) {
      ++i;  // a folded line goes on after the break and its blank
      continue;
    }
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The property name of a content line (before its parameters or value).
std::string PropertyName(const std::string &line) {
  const size_t end = line.find_first_of(";:");
  return line.substr(0, end);
}

// Where the value of a content line begins: after the first colon outside
// a quoted parameter value.
size_t ValueStart(const std::string &line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i + 1;
  }
  return line.size();
}

icaltimetype ZonelessTime(const std::string &value) {
  icaltimetype t = icaltime_from_string(value.c_str());
  t.zone = nullptr;
  return t;
}

}  // namespace

bool ReadSeriesShape(const std::string &text, SeriesShape *shape) {
  std::string kept, startValue, endValue;
  int depth = 0;  // 1 inside the VEVENT, more inside its alarms
  for (const std::string &line : UnfoldedLines(text)) {
    if (depth == 0) {
      if (EqualsNoCase(line.c_str(), "BEGIN:VEVENT")) depth = 1;
      continue;
    }
    if (StartsWithNoCase(line.c_str(), "BEGIN:")) ++depth;
    if (StartsWithNoCase(line.c_str(), "END:") && --depth == 0) break;
    const std::string name = PropertyName(line);
    const size_t valueAt = ValueStart(line);
    if (EqualsNoCase(name.c_str(), "UID") || EqualsNoCase(name.c_str(), "DTSTAMP")) continue;
    if (depth == 1 && (EqualsNoCase(name.c_str(), "DTSTART") || EqualsNoCase(name.c_str(), "DTEND"))) {
      (EqualsNoCase(name.c_str(), "DTSTART") ? startValue : endValue) = line.substr(valueAt);
      kept += line.substr(0, valueAt) + "\n";  // the zone and the value type stay
      continue;
    }
    if (depth == 1 && EqualsNoCase(name.c_str(), "RRULE")) shape->rule = line.substr(valueAt);
    kept += line + "\n";
  }
  if (shape->rule.empty() || startValue.empty()) return false;
  shape->start = ZonelessTime(startValue);
  if (icaltime_is_null_time(shape->start)) return false;
  if (!endValue.empty()) {
    const icaltimetype end = ZonelessTime(endValue);
    kept += "length=" + std::to_string(static_cast<long long>(icaltime_as_timet(end)) -
                                       static_cast<long long>(icaltime_as_timet(shape->start)));
  }
  shape->signature = Sha256Hex(kept);
  return true;
}

bool IsLaterCopy(const SeriesShape &first, const SeriesShape &later) {
  if (first.signature != later.signature || icaltime_compare(later.start, first.start) <= 0) return false;
  // Both copies carry the same range, counted from different starts: follow
  // the pattern alone to see whether the later start is an occurrence.
  icalrecurrencetype rule = icalrecurrencetype_from_string(first.rule.c_str());
  if (rule.freq == ICAL_NO_RECURRENCE) return false;
  rule.count = 0;
  rule.until = icaltime_null_time();
  icalrecur_iterator *it = icalrecur_iterator_new(rule, first.start);
  if (it == nullptr) return false;
  bool found = false;
  for (int i = 0; i < kMaxOccurrenceSteps; ++i) {
    const icaltimetype t = icalrecur_iterator_next(it);
    if (icaltime_is_null_time(t)) break;
    const int order = icaltime_compare(t, later.start);
    if (order >= 0) {
      found = order == 0;
      break;
    }
  }
  icalrecur_iterator_free(it);
  return found;
}

}  // namespace ical
