// The failed-ids list (/D327): the items of this session that could not be
// read or stored, one folder block at a time, and (/D328) the ids that an
// earlier run's list holds for a folder.
#pragma once

#include <cstddef>

// The characters that end a line of the list (CR, LF) and, with the tab,
// the fields of a failed item's report text.
constexpr const char kRecordBreaks[] = "\r\n";
constexpr const char kReportBreaks[] = "\r\n\t";

// Copies text into out (cap bytes) with each character of breaks written as
// a blank, so that an item's own text cannot add lines or fields to a record.
void CopyOneLine(char *out, size_t cap, const char *text, const char *breaks);

// Appends "FolderNumber=%d, FolderType=%d;%s\n" (line breaks in the name
// as blanks) for the folder about to be converted to the work file
// "failedIds.tmp". Without /D327, or when the file cannot be opened, nothing
// happens.
void RecordFailedFolder(int folderNumber, int folderClass, const char *sortName);

// Appends "msgid=%s;%s\n" (id, subject; line breaks in them as blanks,
// so that every record stays one line) and counts a non-empty id in the
// session's failure count; RecordFailedId("", "") ends the folder's block.
// Without /D327 nothing happens; a file that cannot be opened is passed over.
void RecordFailedId(const char *id, const char *subject);

// Appends kListingFailedLine to the folder's block: its item list could not
// be read whole, so the ids the block holds are not all that is missing.
// Without /D327 nothing happens.
void RecordListingFailed();

// The line that says so. It holds no ";", so a reader of id lines passes
// over it.
constexpr const char kListingFailedLine[] = "listing=failed";

// Writes into idFilePath the ids that the /D327 file lists under every
// block of the folder named sortName (case counts), in file order, and
// returns how many. Returns -1 when either file cannot be opened, and
// kListAgain when a block of the folder says that its listing failed (the
// folder is then listed as in a normal run).
enum { kListAgain = -2 };
int ReadFailedIds(const char *sortName, const char *idFilePath);
