// Turning the plug-in's folder tags into what `mvmigrate folders` prints: a
// readable tree or one JSON array.
#pragma once

#include <string>
#include <vector>

struct FolderEntry {
  std::string path;  // "^"-joined, as the plug-in's folder table holds it
  int count = 0;
  int folderClass = 0;  // 0 mail, 1 address book, 2 calendar, 3 task list
};

// Splits a tag "path {MV:count:FCLASS:class}" into *entry. Returns 0 on
// success, -1 when the tag does not end in that form (entry unchanged).
int ParseFolderTag(const std::string &tag, FolderEntry *entry);

// "mail", "contacts", "calendar", "tasks", or "class N".
std::string FolderClassWord(int folderClass);

// One JSON array, an object per folder in the given order:
// [{"path": "Cabinet^Projects", "class": 0, "count": 12}, ...] and a newline.
std::string FolderJson(const std::vector<FolderEntry> &folders);

// An indented tree, parents before children and siblings in name order
// (case ignored); a level that is not itself a folder is shown without
// class and count.
std::string FolderTree(const std::vector<FolderEntry> &folders);

// JSON string literal for text (quotes, backslash and control characters
// escaped; other bytes passed through as UTF-8).
std::string JsonString(const std::string &text);
