// Mail behind the item-store interface: the export store that writes each
// mail folder as a Maildir under OUT/mail/, and the import source that
// reads a Maildir tree (DIR/mail/, or DIR itself as mail programs leave it).
#pragma once

#include <memory>
#include <string>

#include "host/store/item_store.h"

namespace maildir {

// The store for mail folders below outDir ("OUT/"): OUT/mail/<levels>/,
// names and files exactly as WriteMaildirMessage writes them. Items are
// synced only by Sync (group commit).
std::unique_ptr<store::ExportStore> MakeMaildirExportStore(const std::string &outDir);

// The Maildir tree an import reads: DIR/mail when it is a directory, else DIR.
std::string ImportMailRoot(const std::string &inDir);

// The source over ImportMailRoot(inDir): folders as ListFolders finds them
// (class mail), items the files of cur/ and new/ keyed by MessageIdentity,
// converted by ConvertMessageFile. ListFolders fails when the tree's root
// is not a readable directory.
std::unique_ptr<store::ImportSource> MakeMaildirImportSource(const std::string &inDir);

}  // namespace maildir
