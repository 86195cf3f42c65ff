// The iCalendar item stores: calendars and task lists exported as vdirs
// (OUT/calendars/<folder levels>/ and OUT/tasks/..., one .ics file per item
// or series, named from its UID), and imported from those vdirs and from
// .ics files as calendar programs export them (many events in one file).
#pragma once

#include <memory>
#include <string>

#include "host/store/item_store.h"

namespace ical {

// The store for folder class 2 (calendars, below OUT/calendars) or 3 (task
// lists, below OUT/tasks) under outDir; null for any other class.
std::unique_ptr<store::ExportStore> MakeIcalExportStore(int folderClass, const std::string &outDir);
// The same, as the export factory's rows take them.
std::unique_ptr<store::ExportStore> MakeIcalCalendarStore(const std::string &outDir);
std::unique_ptr<store::ExportStore> MakeIcalTaskStore(const std::string &outDir);

// The source of the iCalendar items below inDir: the vdirs below
// inDir/calendars and inDir/tasks (each directory with .ics files is a
// folder, its path from the directory levels), and every other .ics file
// (outside inDir/mail and inDir/contacts), which is a folder of its own
// named by its path without ".ics". A folder is listed once for its events
// (class 2) and once for its tasks (class 3) when it holds both.
std::unique_ptr<store::ImportSource> MakeIcalImportSource(const std::string &inDir);

}  // namespace ical
