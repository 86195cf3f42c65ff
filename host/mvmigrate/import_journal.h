// The journal of an import: the one message being written, kept in
// DATA/import-pending.txt from before WriteMsg until the outcome is
// recorded, so that a run started after a kill can ask the server whether
// that message was created before it writes it again; and the messages the
// server acknowledged since the migration state's last group commit, in
// DATA/import-created.txt, which a run started after a kill records
// without asking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ImportJournal {
  std::string key;       // the message's key in the import state
  std::string folder;    // GroupWise path written to
  std::string subject;
  std::string sender;    // the From address written
  uint64_t sentTime = 0;      // FILETIME ticks, written as the item's created and delivered
  uint64_t writeStarted = 0;  // FILETIME ticks (UTC) when the write began
  int folderClass = 0;   // 0 mail (the folder above), 1-3: a folder of that class
  // Runs that could not read the folder whole to ask the server about it
  // (a doubt file's count; written only when not 0).
  int unsureChecks = 0;
};

// DATA/import-pending.txt for the data directory (with or without a
// trailing "/").
std::string ImportJournalPath(const std::string &dataDir);

// The journal file, open through a run. It holds the journal of the
// message being written, and nothing between messages: writing it in place
// creates and deletes no file per message.
struct JournalFile {
  std::string path;
  int fd = -1;
  size_t length = 0;  // bytes it holds
};

// Opens (creating, owner-only) the journal file at path for a run; an
// existing journal is settled first (ReadImportJournal). Returns 0, or -1
// with *error set (file->fd is then -1 and every write fails).
int OpenImportJournal(const std::string &path, JournalFile *file, std::string *error);

// Writes the journal in place with one write from its start, ended by a
// blank line, so that what an older, longer one left after it is not read.
// The journal is a few hundred bytes, a few kilobytes at most: a killed
// process leaves it whole, or, at worst, cut short, which ReadImportJournal
// takes for no whole journal (-1), as it took a half-written one before. It
// is not synced to disk: a killed process loses nothing the kernel holds
// (see the import loop on why that is all the journal must survive).
// Returns 0, or -1 with *error set.
int WriteImportJournal(JournalFile *file, const ImportJournal &journal, std::string *error);

// Empties the journal (a blank first line): no message is being written.
// Returns 0, or -1.
int ClearImportJournal(JournalFile *file);

// Closes the journal file, removing it when it holds no journal.
void CloseImportJournal(JournalFile *file);

// Reads the journal at path. Returns 1 when read, 0 when there is none
// (no file, an empty one, or one that starts with a blank line), -1 when it
// holds something that is not a whole journal (every field present, the
// times digits only). A journal without a class line (written before
// there was one) is of class 0; one without the closing blank line (written
// before there was one) ends at the file's end.
int ReadImportJournal(const std::string &path, ImportJournal *journal);

// Removes the journal and any .new file an older version left. Returns 0 (also when
// there was none), -1 when the journal exists and cannot be removed.
int RemoveImportJournal(const std::string &path);

// A message whose create broke off after the server may have carried it
// out is kept in a journal file of its own, DATA/import-doubt-<hash>.txt
// (one per scope and key), until a later run has asked the server whether
// it holds it, as for the pending message of a killed run.
std::string ImportDoubtPath(const std::string &dataDir, const std::string &scope, const std::string &key);
// The doubt files in the data directory, sorted.
std::vector<std::string> ImportDoubtPaths(const std::string &dataDir);
// Writes journal into the doubt file at path. Returns 0, or -1 with *error set
// (no file is left then).
int KeepImportDoubt(const std::string &path, const ImportJournal &journal, std::string *error);

// A contact the server made for a member of a group being imported, kept
// in DATA/import-members.txt until the group is imported, so that a group
// written again (it failed, or the run was killed) reuses it. One line
// each: scope, key, index, name, address and id, separated by tabs, each
// escaped as the journal's values.
struct GroupMemberRecord {
  std::string scope;
  std::string key;  // the group's
  int index = 0;    // the member's place in the group
  std::string name;
  std::string address;
  std::string id;   // the contact's GroupWise id
};

// DATA/import-members.txt for the data directory.
std::string GroupMembersPath(const std::string &dataDir);
// Appends record (creating the file, owner-only). Returns 0, or -1 with
// *error set.
int AppendGroupMember(const std::string &path, const GroupMemberRecord &record, std::string *error);
// The records of the file: whole lines with every field only.
std::vector<GroupMemberRecord> ReadGroupMembers(const std::string &path);
// Replaces the file's records with keep; removes the file when keep is
// empty. Returns 0, or -1 with *error set (the file is then as it was).
int RewriteGroupMembers(const std::string &path, const std::vector<GroupMemberRecord> &keep, std::string *error);

// A message the server has created: its state scope and key.
struct CreatedMessage {
  std::string scope;
  std::string key;
};

// DATA/import-created.txt for the data directory.
std::string ImportCreatedPath(const std::string &dataDir);

// The list of created messages, open for appending (fd -1 when closed).
struct CreatedList {
  std::string path;
  int fd = -1;
};

// Opens (creating, owner-only) the list at path for appending. Returns 0,
// or -1 with *error set.
int OpenCreatedList(const std::string &path, CreatedList *list, std::string *error);

// Appends one line for the message in one write, so that it reaches the
// kernel before the call returns. Returns 0, or -1 (a torn line may remain;
// ReadCreatedList passes over it).
int NoteCreated(CreatedList *list, const CreatedMessage &message);

// Empties the list (after the records of its messages were committed).
// Returns 0 or -1.
int ClearCreatedList(CreatedList *list);

// Closes the list; when remove is set, removes its file too.
void CloseCreatedList(CreatedList *list, bool remove);

// Reads the whole lines of the list at path into *messages: a last line
// without its end (a write cut short by a kill) and a line that is no
// entry are passed over. Returns the entries read (0 also when there is no
// file).
size_t ReadCreatedList(const std::string &path, std::vector<CreatedMessage> *messages);

// FILETIME ticks of the current time (UTC).
uint64_t ImportJournalNow();
