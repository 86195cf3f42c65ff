// Fuzz target: an .ics file as the import reads it: the input (after the
// control byte) is the file, laid in a calendar vdir (control byte bit 3
// clear) or a task vdir; the iCalendar source lists its events and tasks and
// converts each into a record.
#include <string>

#include <libical/ical.h>

#include "fuzz/fuzz_support.h"
#include "host/ical/ical_store.h"
#include "host/store/item_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  fuzz::Input input;
  input.control = data[0];
  fuzz::BeginRun(input, 0, 0);
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  fuzz::WriteImportFile(
      (input.control & 0x08) ? "tasks/Checklist/fuzz.ics" : "calendars/Calendar/fuzz.ics", text);
  const std::string &dir = fuzz::ImportDir();
  std::unique_ptr<store::ImportSource> source =
      ical::MakeIcalImportSource(dir.substr(0, dir.size() - 1));
  fuzz::ImportAll(source.get());
  // libical keeps its temporary strings in a ring that frees the oldest only
  // when it wraps: most runs would end with more allocations than frees,
  // and libFuzzer then scans the whole heap for leaks after each (half the
  // target's time). The time zones it has loaded stay: loading and
  // expanding them again each run costs as much.
  icalmemory_free_ring();
  fuzz::EndRun();
  return 0;
}
