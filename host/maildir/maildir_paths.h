// Where a GroupWise folder lives in a Maildir tree: the levels of a folder
// path ("Cabinet^Projects") as nested directories under DIR/mail/, each
// level's name made safe for a directory name, and back.
#pragma once

#include <string>
#include <vector>

namespace maildir {

// One path level as a directory name: "%" and "/" become "%25" and "%2F",
// control characters "%XX"; a level that is "." or ".." or one of the
// Maildir subdirectories "cur", "new", "tmp" (which would collide with the
// folder's own) gets its first character written as "%XX". "" stays ""
// (callers skip empty levels).
std::string EncodeLevel(const std::string &level);

// The inverse of EncodeLevel: every "%XX" (two hex digits) becomes its byte;
// a "%" not followed by two hex digits stays as it is.
std::string DecodeLevel(const std::string &name);

// The directory of folder `path` ("^"-joined levels) below `mailRoot`
// (DIR/mail): "mailRoot/Cabinet/Projects". Empty levels are skipped.
std::string FolderDirectory(const std::string &mailRoot, const std::string &path);

// The "^"-joined folder path of a directory relative to the mail root
// ("Cabinet/Projects" -> "Cabinet^Projects"), levels decoded.
std::string FolderPathOf(const std::string &relativeDirectory);

// Splits a "^"-joined path into its non-empty levels.
std::vector<std::string> SplitFolderPath(const std::string &path);

}  // namespace maildir
