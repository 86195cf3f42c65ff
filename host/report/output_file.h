// Writing a finished output file of the host (report, failed-ids list, rules)
// without ever replacing a device or FIFO the user named as its target.
#pragma once

#include <string>

namespace report {

// Writes text to path, owner-only. "-" is standard output; an existing
// device, FIFO or other non-regular file is written in place, never
// replaced; a regular file or a new name is written whole through
// "path.tmp" (synced first when sync is set) and renamed over path.
// Returns 0, or -1 with *error set.
int WriteOutputFile(const std::string &path, const std::string &text, bool sync, std::string *error);

}  // namespace report
