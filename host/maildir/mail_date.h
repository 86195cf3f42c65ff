// Dates of mail headers as mail programs read them: RFC 5322 dates and the
// forms older programs still write and readers still accept (a 12-hour clock
// with AM/PM, a zone name such as EDT instead of -0400, a two-digit year, the
// asctime order), and the date a Received header was stamped with.
#pragma once

#include <cstdint>
#include <string>

namespace maildir {

// Reads a date-time ("Mon, 6 Jan 2020 3:15:00 PM EDT") into Unix seconds.
// Day names and comments are ignored; a missing zone is UTC, as is an
// unknown one-letter (military) zone. Returns 0, or -1 (and *unixSeconds
// untouched) when no day, month, year and time can be read or one is out
// of range.
int ParseMailDate(const std::string &text, int64_t *unixSeconds);

// The date a Received header value carries after its last ";", in Unix
// seconds. Returns 0, or -1 when it has none that ParseMailDate reads.
int ReceivedDate(const std::string &value, int64_t *unixSeconds);

}  // namespace maildir
