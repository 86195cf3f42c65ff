// Helpers of the iCalendar tests: records built field by field with their
// part files, times as iCalendar UTC texts, and the property lines of a
// written file as libical reads them back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugin/host_message.h"
#include "plugin/mvcom.h"

namespace ical_test {

struct RecordDeleter {
  void operator()(HostMessage *r) const {
    com_Deallocate(r, nullptr);
    delete r;
  }
};
using Record = std::unique_ptr<HostMessage, RecordDeleter>;

Record NewRecord(int kind);

// "20240108T090000Z" as a FILETIME, and back ("" for a null time).
FILETIME Utc(const char *text);
std::string UtcText(const FILETIME &ft);

void AddRecipient(HostMessage *r, int kind, int status, const char *name, const char *address);
// Appends a part with its file in workDir.
void AddPart(HostMessage *r, const std::string &workDir, int kind, const char *name, const std::string &bytes);
// The bytes of part `index` of the record.
std::string PartBytes(const HostMessage &r, const std::string &workDir, int index);

// The record's calendar fields as "name=value" texts, one per field, for
// comparing with a case's expected values: kind, title, location, start,
// end, allDay, recur (kind/interval/mask/nth/month/monthDay/range/count/until),
// organizer, recips (kind:status:name:address|...), alarm, busy, private,
// priority (importance/taskPriority), categories, zone, task
// (percent/contactFlag), parts (kind:name:bytes|...).
std::vector<std::string> Describe(const HostMessage &r, const std::string &workDir);

// Every property line (unfolded, without its line end) of the file's
// VEVENT or VTODO, as libical prints it after parsing the text; lines of a
// VALARM come as "VALARM/<line>". *zones gets the TZIDs of the file's
// VTIMEZONE blocks. Empty when the text does not parse.
std::vector<std::string> ItemLines(const std::string &text, std::vector<std::string> *zones = nullptr);

}  // namespace ical_test
