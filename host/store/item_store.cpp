// The item-store factories: the one table that says which format keeps the
// items of each folder class, and which formats an import reads. A format
// library plugs in by adding its row here and its library to CMakeLists.txt.
#include "host/store/item_store.h"

#include "host/ical/ical_store.h"
#include "host/maildir/maildir_store.h"
#include "host/vcard/vcard_store.h"

namespace store {

namespace {

struct ExportStoreRow {
  int folderClass;
  ExportStoreMaker make;
};

// One row per folder class that has a format. A class without a row is not
// exported (the summary lists its folders as such).
const ExportStoreRow kExportStores[] = {
    {kClassMail, &maildir::MakeMaildirExportStore},
    {kClassAddressBook, &vcard::MakeVcardExportStore},
    {kClassCalendar, &ical::MakeIcalCalendarStore},
    {kClassTaskList, &ical::MakeIcalTaskStore},
    // Formats of the other classes add their rows here.
};

// Every format an import reads; each one finds its own folders below the
// import's directory.
const ImportSourceMaker kImportSources[] = {
    &maildir::MakeMaildirImportSource,
    &vcard::MakeVcardImportSource,
    &ical::MakeIcalImportSource,
    // Formats of the other classes add their rows here.
};

}  // namespace

std::unique_ptr<ExportStore> MakeExportStore(int folderClass, const std::string &outDir) {
  for (const ExportStoreRow &row : kExportStores)
    if (row.folderClass == folderClass) return row.make(outDir);
  return nullptr;
}

std::vector<std::unique_ptr<ImportSource>> MakeImportSources(const std::string &inDir) {
  std::vector<std::unique_ptr<ImportSource>> sources;
  for (ImportSourceMaker make : kImportSources) sources.push_back(make(inDir));
  return sources;
}

}  // namespace store
