// Reading a Maildir tree for import: which folders it holds (nested
// directories as `mvmigrate export` writes them and as Dovecot's fs layout
// leaves them, or Maildir++ ".A.B" names beside an INBOX root), the
// GroupWise folder path each one goes to, and the message files of a folder.
#pragma once

#include <string>
#include <vector>

namespace maildir {

// One Maildir folder found in a tree.
struct FolderSource {
  std::string path;       // GroupWise folder path, levels joined by "^"
  std::string directory;  // the directory that holds cur/ and new/
};

// One message file of a folder.
struct MessageFile {
  std::string path;  // full path of the file
  std::string name;  // file name (changes when a mail program sets flags)
  bool seen;         // the "S" flag is set
};

// The GroupWise name of a top-level Maildir folder: "INBOX" (any case) is the
// Mailbox; "Sent", "Sent Mail" and "Sent Messages" (any case) are Sent Items;
// every other name stays as it is.
std::string MapTopLevel(const std::string &level);

// Decodes an IMAP modified UTF-7 name ("Entw&APw-rfe" -> "Entwürfe", "&-" ->
// "&") as Maildir++ folders are named by Dovecot and Courier. A "&" sequence
// that is not valid modified UTF-7 is kept as it stands.
std::string DecodeModifiedUtf7(const std::string &name);

// True when the flags of a Maildir file name (the letters after ":2," or,
// as written on Windows, "!2,") include "S" (seen).
bool HasSeenFlag(const std::string &fileName);

// Every Maildir folder below mailRoot (a directory is a folder when it has a
// cur/ or new/ subdirectory), sorted by GroupWise path. When mailRoot is a
// Maildir itself it is the INBOX of a Maildir++ tree and its ".A.B"
// subdirectories are the folders A^B (names decoded from modified UTF-7);
// otherwise directories nest, each level decoded as maildir_paths.h encodes
// it. The top level is mapped by MapTopLevel. Two directories that map to one
// path both appear. Returns 0, or -1 with *error set when mailRoot is not a
// readable directory (directories below it that cannot be read are skipped).
// A directory link leading outside mailRoot or back up into its own path is
// not followed; each such link goes to *skipped (may be null).
int ListFolders(const std::string &mailRoot, std::vector<FolderSource> *out, std::string *error,
                std::vector<std::string> *skipped = nullptr);

// The message files in cur/ and new/ of a folder directory (dot files and
// subdirectories skipped), sorted by file name; files in new/ are unseen.
// Returns 0, or -1 with *error set when neither cur/ nor new/ can be read.
// A link (file, or cur/ or new/ itself) leading outside treeRoot (the folder
// directory when empty) is not read; each goes to *skipped (may be null).
int ListMessages(const std::string &folderDirectory, std::vector<MessageFile> *out,
                 std::string *error, const std::string &treeRoot = std::string(),
                 std::vector<std::string> *skipped = nullptr);

}  // namespace maildir
