// The journal of the one message an import is writing: kept in
// DATA/import-pending.txt from before WriteMsg until the outcome is
// recorded, so that a run started after a kill can ask the server whether
// that message was created before it writes it again.
#pragma once

#include <cstdint>
#include <string>

struct ImportJournal {
  std::string key;       // the message's key in the import state
  std::string folder;    // GroupWise path written to
  std::string subject;
  std::string sender;    // the From address written
  uint64_t sentTime = 0;      // FILETIME ticks, written as the item's created and delivered
  uint64_t writeStarted = 0;  // FILETIME ticks (UTC) when the write began
  int folderClass = 0;   // 0 mail (the folder above), 1-3: a folder of that class
};

// DATA/import-pending.txt for the data directory (with or without a
// trailing "/").
std::string ImportJournalPath(const std::string &dataDir);

// Writes the journal to path + ".new", flushes it to disk, renames it over
// path and syncs the directory. Returns 0, or -1 with *error set (a
// half-written .new file may then remain; ReadImportJournal never reads it).
int WriteImportJournal(const std::string &path, const ImportJournal &journal, std::string *error);

// Reads the journal at path. Returns 1 when read, 0 when there is none,
// -1 when it exists but is not a whole journal (every field present, the
// times digits only). A journal without a class line (written before
// there was one) is of class 0.
int ReadImportJournal(const std::string &path, ImportJournal *journal);

// Removes the journal and any leftover .new file. Returns 0 (also when
// there was none), -1 when the journal exists and cannot be removed.
int RemoveImportJournal(const std::string &path);

// FILETIME ticks of the current time (UTC).
uint64_t ImportJournalNow();
