// The one interface between mvmigrate's export and import loops and the
// formats items are kept in on disk: Maildir for mail, iCalendar for
// appointments and tasks, vCard for contacts and groups. The loops, the
// migration state, Ctrl-C, the progress display and the report speak only
// this interface; a new format is one library under host/ that implements it.
//
// Terms used below:
//   RECORD   the plug-in's HostMessage, with its part files
//            "PRT%03d%02d.TMP" (msgSeq, part index) in the work directory.
//   FOLDER   a GroupWise folder, named by its "^"-joined path and its class
//            (0 mail, 1 address book, 2 calendar, 3 task list).
//   ITEM     what a format keeps of one record: a message file, an .ics file
//            holding one VEVENT or VTODO, a .vcf file holding one vCard.
//   KEY      a text that names one source item across runs (the import side
//            keeps it in the migration state, so a rerun writes nothing twice).
//
// Lifetimes: a store or source belongs to the loop that made it and is used
// from one thread. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct HostMessage;

namespace store {

// Folder classes, as the plug-in's folder table gives them.
enum FolderClass {
  kClassMail = 0,
  kClassAddressBook = 1,
  kClassCalendar = 2,
  kClassTaskList = 3,
};

// Results of ExportStore::Write.
enum WriteResult {
  kStored = 0,          // a new item is in the folder
  kAlreadyPresent = 1,  // the folder held the item already (an interrupted run wrote it): nothing written
  kFailed = -1,         // nothing written; *error says why
};

// ---- export: records into files ----

// One output format below the export's directory (OUT/mail, OUT/calendars,
// OUT/tasks, OUT/contacts). A store writes each item whole (temporary file,
// then rename), under a name that depends only on the folder and the item,
// so an interrupted run never leaves half an item and a resumed run never
// writes one twice.
class ExportStore {
 public:
  virtual ~ExportStore() = default;

  // Opens (creating it and its parents) the store's directory for the folder
  // with this path, and makes it the one Write writes into. Items written
  // before stay durable only after Sync. Returns 0, or -1 with *error set
  // (the folder is then unusable and Write fails).
  virtual int OpenFolder(const std::string &folderPath, std::string *error) = 0;

  // Writes one record into the open folder. The record is the plug-in's,
  // part files in workDir (ending with "/"). Returns a WriteResult; *bytes
  // (may be null) gets the size written; *warnings (may be null) gets one
  // line for each thing the format could not hold as the record had it (an
  // unknown time zone written in UTC, a rule kept as a comment, ...), which
  // the report lists beside the item. Does not sync (see Sync).
  virtual int Write(const HostMessage &record, const std::string &workDir, int64_t *bytes,
                    std::vector<std::string> *warnings, std::string *error) = 0;

  // Makes every item written since the last call durable, file and name.
  // Called before the migration state records them (group commit). Returns
  // 0 (also when nothing is pending), or -1 with *error set.
  virtual int Sync(std::string *error) = 0;
};

// The store for a folder class below outDir ("OUT/"): Maildir in OUT/mail
// for mail, iCalendar vdirs in OUT/calendars and OUT/tasks, vCard vdirs in
// OUT/contacts. Null for a class no store is built for. Making a store
// touches no file (the export asks for the store of every class it meets,
// also in a dry run); OpenFolder makes the directories.
std::unique_ptr<ExportStore> MakeExportStore(int folderClass, const std::string &outDir);

// What a format library gives the factory: the store of its class below
// outDir. Each format adds one row {class, maker} to the table in
// item_store.cpp.
using ExportStoreMaker = std::unique_ptr<ExportStore> (*)(const std::string &outDir);

// ---- import: files into records ----

// One folder found in an import tree.
struct SourceFolder {
  std::string path;       // GroupWise folder path, levels joined by "^"
  std::string directory;  // where its items lie
  int folderClass = kClassMail;
};

// One item of a folder. A file may hold several items (an .ics with many
// events, a .vcf with many cards): they share `file` and differ in `index`.
struct SourceItem {
  std::string file;   // full path of the file that holds it
  std::string name;   // what the summary and the report show (file name, and the UID for many-item files)
  int index = 0;      // position of the item within the file
  bool seen = true;   // mail: the "S" flag; other formats: true
  std::string key;    // identity across runs; empty when it could not be told (the loop reports `problem`)
  // The key an earlier version recorded the item under, or "". An old record
  // under it stands for one item of the folder only: the first met that is
  // not recorded under `key` (a byte-identical copy aside) takes it over.
  std::string legacyKey;
  std::string problem;  // why key is empty ("cannot read ...: ..."), for the report
  bool keyPending = false;  // Identify left the key to AwaitIdentity
};

// One input format below the import's directory.
class ImportSource {
 public:
  virtual ~ImportSource() = default;

  // Every folder this format finds below the import's directory, sorted by
  // path. Returns 0 (no folders is not an error), or -1 with *error set.
  virtual int ListFolders(std::vector<SourceFolder> *out, std::string *error) = 0;

  // The items of one folder in a stable order, each with its key (or with
  // none yet, when Identify gives it). A file that cannot be read or parsed
  // is listed as one item with an empty key and `problem` saying why, so
  // that the loop reports it. Returns 0, or -1 with *error set.
  virtual int ListItems(const SourceFolder &folder, std::vector<SourceItem> *out, std::string *error) = 0;

  // Gives an item listed without a key its key, legacyKey and, when it
  // cannot, `problem`; called just before the item is converted (on the
  // read-ahead thread), so that reading every file of a folder for its
  // key does not hold up the folder's first write. Keys given by ListItems
  // stay as they are.
  virtual void Identify(SourceItem *item) { (void)item; }

  // Finishes what Identify began when it set keyPending (a large file is
  // hashed while it is converted): called once after Convert, it gives the
  // key as Identify would have, and clears keyPending.
  virtual void AwaitIdentity(SourceItem *item) { item->keyPending = false; }

  // Fills the record (cleared first with com_ResetObject; msgSeq and
  // groupFolder kept) from one item, its part files in the host's work
  // directory; sets itemKind. *subject is set as soon as it is known, for
  // failure reports; *warnings (may be null) gets what the record cannot
  // express (a rule imported only in part, a field dropped), never in
  // silence. Returns 0, or -1 with *reason set (the record's lists freed
  // and its part files deleted).
  virtual int Convert(const SourceItem &item, HostMessage *record, std::string *subject,
                      std::vector<std::string> *warnings, std::string *reason) = 0;

  // The links that ListFolders and ListItems met and did not follow (leading
  // outside the import's tree, or back into their own path), each as "PATH:
  // why", since the last call; the loop lists each as a warning.
  std::vector<std::string> TakeSkippedLinks() {
    std::vector<std::string> taken;
    taken.swap(skippedLinks_);
    return taken;
  }

 protected:
  std::vector<std::string> skippedLinks_;
};

// The sources of an import directory: Maildir below DIR/mail (or DIR itself
// when it is a Maildir tree), iCalendar below DIR/calendars and DIR/tasks
// (and .ics files anywhere else), vCard below DIR/contacts.
std::vector<std::unique_ptr<ImportSource>> MakeImportSources(const std::string &inDir);

// What a format library gives the factory: its source over the import's
// directory. Each format adds one row to the table in item_store.cpp.
using ImportSourceMaker = std::unique_ptr<ImportSource> (*)(const std::string &inDir);

}  // namespace store
