// The vCard item stores: address books exported as vdirs below
// OUT/contacts (a directory per book, one .vcf per entry named from its
// UID) and .vcf files below IN/contacts read back for an import.
#pragma once

#include <memory>
#include <string>

#include "host/store/item_store.h"

namespace vcard {

// The export store for address books below outDir ("OUT/" or "OUT"):
// OUT/contacts/<book path levels>/<uuid>.vcf. Each card is written to a
// hidden temporary file in the book's directory, synced and renamed into
// place; an entry whose file is there already is kAlreadyPresent.
std::unique_ptr<store::ExportStore> MakeVcardExportStore(const std::string &outDir);

// The import source for the .vcf files below inDir/contacts: every
// directory holding .vcf files is one address book, its path the
// directory levels below contacts/ ("contacts/Team/Sales" is "Team^Sales";
// files directly in contacts/ are the book "Contacts"). A file may hold
// many cards; each is one item, keyed by its UID (else its digest).
std::unique_ptr<store::ImportSource> MakeVcardImportSource(const std::string &inDir);

// The book directory below contactsRoot for a folder path: its levels
// encoded as the Maildir export encodes them; "" is the root itself.
std::string BookDirectory(const std::string &contactsRoot, const std::string &folderPath);

}  // namespace vcard
