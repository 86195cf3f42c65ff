// Writing items into a Maildir folder: one RFC 5322 message per HostMessage
// record (its part files read from the work directory), written to tmp/ and
// renamed into cur/ under a name that depends only on the folder and the
// item, so that an interrupted run never leaves half a message in cur/ and a
// resumed run never writes an item twice.
//
// Not thread-safe: one writer per Maildir folder at a time (mvmigrate holds
// a lock on its output directory).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "host/maildir/attachment_types.h"

struct HostMessage;

namespace maildir {

// One Maildir folder opened for writing. Plain data; lives as long as the
// caller keeps it, nothing to close.
struct MaildirFolder {
  std::string directory;   // holds cur/, new/, tmp/
  std::string folderPath;  // "^"-joined GroupWise path; part of every name base
  std::unordered_set<std::string> present;  // name bases already in cur/ or new/
  int staleRemoved = 0;    // files an interrupted run left in tmp/, deleted at open
  // False (the default): every message is synced before WriteMaildirMessage
  // returns. True: not synced there; the caller calls SyncMaildirFolder
  // before it records the items as done (group commit).
  bool deferSync = false;
  int unsynced = 0;  // messages written since the last sync (deferSync only)
};

// Results of WriteMaildirMessage.
enum {
  kWriteStored = 0,          // a new message is in cur/
  kWriteAlreadyPresent = 1,  // cur/ or new/ held the item already: nothing written
  kWriteFailed = -1,         // nothing in cur/; *error says why
};

// Creates directory and its cur/, new/ and tmp/ (parents too), deletes what
// an interrupted run left in tmp/, and indexes the name bases found in cur/
// and new/. Returns 0, or -1 with *error set (folder then unusable).
int OpenMaildirFolder(const std::string &directory, const std::string &folderPath,
                      MaildirFolder *folder, std::string *error);

// The item's key: "id:" and its GroupWise message id; when it has none,
// "digest:" and a digest of its subject, sender and date together with the
// fingerprint of its recipients and parts (mvcom_ItemFingerprint over the
// part files in workDir), so that two different items never share a key.
std::string ItemKey(const HostMessage &record, const std::string &workDir);

// The file name base of an item in a folder: "gw-" and 32 hex digits of the
// SHA-256 of the folder path and the item key. Same item, same folder:
// same base, in every run.
std::string MessageFileBase(const std::string &folderPath, const HostMessage &record, const std::string &workDir);

// The Message-ID (without angle brackets) kept for an item: a digest of its
// key at "groupwise.invalid", the same in every export.
std::string StableMessageId(const HostMessage &record, const std::string &workDir);

// The header lines the export adds of its own (Keywords from the
// categories, X-GroupWise-Id), each ended by "\n", as a converted message
// carries them.
std::string ExportHeaderBlock(const HostMessage &record);

// Maildir flags of the item after ":2,": "S" when read, else "".
std::string MessageFlags(const HostMessage &record);

// Builds the message of the record (part files "%sPRT%03d%02d.TMP" in
// workDir, which ends with "/") and writes it as tmp/<base>, syncs it,
// gives it the delivery time as modification time and renames it to
// cur/<base>:2,<flags>, then syncs cur/. When cur/ or new/ already holds the
// base, writes nothing and returns kWriteAlreadyPresent. On failure (a part
// file missing or unreadable, disk full) returns kWriteFailed with *error
// set and leaves nothing behind in tmp/ or cur/. *bytes (may be null) gets
// the size of the message file written.
int WriteMaildirMessage(MaildirFolder *folder, const HostMessage &record,
                        const std::string &workDir, int64_t *bytes, std::string *error);

// Makes every message written into the folder since the last call durable,
// file and name in cur/, with one sync of the folder's filesystem (cheaper
// than syncing each file and directory when many are pending). Returns 0
// (also when nothing is pending), or -1 with *error set (the messages are
// then still counted as unsynced).
int SyncMaildirFolder(MaildirFolder *folder, std::string *error);

// Large attachments are spliced into the message file as it is written,
// past GMime's filters (on unless turned off here). The file is the same
// either way: tests compare the two.
void SetLargePartSplicing(bool on);

}  // namespace maildir
