// A received mail written as it arrived: the plug-in hands the original
// message as the part "Mime.822", and the Maildir file is that message byte
// for byte with only the export's own header lines in front of it.
#pragma once

#include <cstdint>
#include <string>

struct HostMessage;

namespace maildir {

// Index of the record's original message (a file part named "Mime.822"),
// or -1 when the record has none.
int FindOriginalPart(const HostMessage &record);

// Writes all of data to fd, going on after short writes and interrupted
// calls. Returns 0, or -1 with errno set.
int WriteAll(int fd, const void *data, size_t size);

// Writes headers (lines ended by "\n"; each line end becomes the original's
// own, CR LF or LF, as its first line has it) and then the bytes of the file
// at originalPath into a new file at path, synced when sync is set. Returns
// the size written, or -1 with *error set (nothing left at path).
int64_t WriteOriginalFile(const std::string &headers, const std::string &originalPath, const std::string &path,
                          bool sync, std::string *error);

}  // namespace maildir
