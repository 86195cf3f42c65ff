// The failed-ids list (/D327): the items of this session that could not be
// read or stored, one folder block at a time, and (/D328) the ids that an
// earlier run's list holds for a folder.
#pragma once

// Appends "FolderNumber=%d, FolderType=%d;%s\n" for the folder about to be
// converted to the work file "failedIds.tmp". Without /D327, or when the file
// cannot be opened, nothing happens.
void RecordFailedFolder(int folderNumber, int folderClass, const char *sortName);

// Appends "msgid=%s;%s\n" (id, subject) and counts a non-empty id in the
// session's failure count; RecordFailedId("", "") ends the folder's block.
// Without /D327 nothing happens; a file that cannot be opened is passed over.
void RecordFailedId(const char *id, const char *subject);

// Writes into idFilePath the ids that the /D327 file lists under every
// block of the folder named sortName (case counts), in file order, and
// returns how many. Returns -1 when either file cannot be opened.
int ReadFailedIds(const char *sortName, const char *idFilePath);
