// Keeping what the host writes to its owner, and refusing secrets that
// others can already read.
#pragma once

#include <string>

// Makes every file and directory the process creates from now on
// owner-only (files 0600, directories 0700), whatever umask it was started
// with: the exported mail, the log and the state are the mailbox's content.
void MakeCreatedFilesPrivate();

// Checks that the secret file at path (what: "password file", "trusted key
// file") exists and gives group and others no access, as ssh asks of a key.
// Returns kExitOk, kExitNoInput when it cannot be examined, or kExitConfig
// when it is open to others; *error then names the file.
int CheckSecretFile(const std::string &path, const char *what, std::string *error);
