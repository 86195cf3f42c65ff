// Reading a Maildir tree: folders, their GroupWise paths and message files.
#include "host/maildir/maildir_reader.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/maildir/maildir_paths.h"
#include "host/maildir/tree_links.h"
#include "platform/bounded_text.h"

namespace fs = std::filesystem;

namespace maildir {
namespace {

bool IsDirectory(const fs::path &p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

bool IsMaildir(const fs::path &dir) { return IsDirectory(dir / "cur") || IsDirectory(dir / "new"); }

bool IsMaildirSubdirectory(const std::string &name) {
  return name == "cur" || name == "new" || name == "tmp";
}

// How a walk stays inside the tree it was given.
struct TreeWalk {
  std::string root;
  std::vector<std::string> *skipped;  // links not followed; may be null
};

// The directory's subdirectory names, sorted; unreadable directories give none.
std::vector<std::string> Subdirectories(const fs::path &dir, const TreeWalk &walk) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_directory(typeError)) continue;
    // cur/, new/ and tmp/ are never folders; ListMessages judges them.
    if (IsMaildirSubdirectory(it->path().filename().string())) continue;
    if (!FollowEntry(walk.root, it->path().string(), walk.skipped)) continue;
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string JoinLevels(std::vector<std::string> levels) {
  std::string path;
  if (levels.empty()) return path;
  levels[0] = MapTopLevel(levels[0]);
  for (const std::string &level : levels) {
    if (level.empty()) continue;
    if (!path.empty()) path += '^';
    path += level;
  }
  return path;
}

// Nested layout: every directory below dir, with the levels that lead to it.
void CollectNested(const fs::path &dir, const TreeWalk &walk, std::vector<std::string> *levels,
                   std::vector<FolderSource> *out) {
  for (const std::string &name : Subdirectories(dir, walk)) {
    if (IsMaildirSubdirectory(name)) continue;
    levels->push_back(DecodeLevel(name));
    fs::path child = dir / name;
    if (IsMaildir(child)) out->push_back({JoinLevels(*levels), child.string()});
    CollectNested(child, walk, levels, out);
    levels->pop_back();
  }
}

// Maildir++ layout: the root is INBOX and ".A.B" is folder A^B.
void CollectMaildirPlusPlus(const fs::path &root, const TreeWalk &walk,
                            std::vector<FolderSource> *out) {
  out->push_back({MapTopLevel("INBOX"), root.string()});
  for (const std::string &name : Subdirectories(root, walk)) {
    if (name.size() < 2 || name[0] != '.' || name == "..") continue;
    fs::path child = root / name;
    if (!IsMaildir(child)) continue;
    std::vector<std::string> levels;
    size_t start = 1;
    while (start <= name.size()) {
      size_t end = name.find('.', start);
      if (end == std::string::npos) end = name.size();
      levels.push_back(DecodeModifiedUtf7(name.substr(start, end - start)));
      start = end + 1;
    }
    std::string path = JoinLevels(levels);
    if (!path.empty()) out->push_back({path, child.string()});
  }
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == ',') return 63;  // modified UTF-7 uses "," where base64 has "/"
  return -1;
}

void AppendUtf8(std::string *out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the base64 run between "&" and "-" as UTF-16BE into out.
// Returns false when the run is not valid modified UTF-7.
bool DecodeUtf16Run(const std::string &run, std::string *out) {
  uint32_t bits = 0;
  int bitCount = 0;
  std::vector<uint16_t> units;
  for (char c : run) {
    int v = Base64Value(c);
    if (v < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    bitCount += 6;
    if (bitCount >= 16) {
      bitCount -= 16;
      units.push_back(static_cast<uint16_t>((bits >> bitCount) & 0xFFFF));
    }
  }
  if (bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0 || units.empty()) return false;
  std::string text;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
    AppendUtf8(&text, u);
  }
  *out += text;
  return true;
}

}  // namespace

std::string MapTopLevel(const std::string &level) {
  if (EqualsNoCase(level.c_str(), "INBOX")) return "Mailbox";
  if (EqualsNoCase(level.c_str(), "Sent") || EqualsNoCase(level.c_str(), "Sent Mail") ||
      EqualsNoCase(level.c_str(), "Sent Messages"))
    return "Sent Items";
  return level;
}

std::string DecodeModifiedUtf7(const std::string &name) {
  std::string out;
  size_t i = 0;
  while (i < name.size()) {
    if (name[i] != '&') {
      out += name[i++];
      continue;
    }
    size_t end = name.find('-', i + 1);
    if (end == std::string::npos) {
      out += name.substr(i);
      break;
    }
    if (end == i + 1) {
      out += '&';
    } else if (!DecodeUtf16Run(name.substr(i + 1, end - i - 1), &out)) {
      out += name.substr(i, end - i + 1);
    }
    i = end + 1;
  }
  return out;
}

bool HasSeenFlag(const std::string &fileName) {
  size_t info = fileName.rfind(":2,");
  if (info == std::string::npos) info = fileName.rfind("!2,");
  if (info == std::string::npos) return false;
  // Flags are upper-case letters; lower-case ones are a mail program's keywords.
  return fileName.find('S', info + 3) != std::string::npos;
}

int ListFolders(const std::string &mailRoot, std::vector<FolderSource> *out, std::string *error,
                std::vector<std::string> *skipped) {
  out->clear();
  fs::path root(mailRoot);
  if (!IsDirectory(root)) {
    *error = "no Maildir tree at " + mailRoot;
    return -1;
  }
  const TreeWalk walk = {mailRoot, skipped};
  if (IsMaildir(root)) {
    CollectMaildirPlusPlus(root, walk, out);
  } else {
    std::vector<std::string> levels;
    CollectNested(root, walk, &levels, out);
  }
  std::stable_sort(out->begin(), out->end(),
                   [](const FolderSource &a, const FolderSource &b) { return a.path < b.path; });
  return 0;
}

int ListMessages(const std::string &folderDirectory, std::vector<MessageFile> *out,
                 std::string *error, const std::string &treeRoot,
                 std::vector<std::string> *skipped) {
  out->clear();
  const std::string &root = treeRoot.empty() ? folderDirectory : treeRoot;
  int readable = 0;
  for (const char *sub : {"cur", "new"}) {
    fs::path dir = fs::path(folderDirectory) / sub;
    if (!FollowEntry(root, dir.string(), skipped)) continue;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    if (ec) continue;
    ++readable;
    const bool inNew = sub[0] == 'n';
    for (; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      // The type the listing gave tells a plain file without a system
      // call; a link, or an entry whose type the listing did not give, is
      // looked at.
      std::error_code typeError;
      if (it->is_symlink(typeError) || !it->is_regular_file(typeError)) {
        if (!FollowEntry(root, it->path().string(), skipped)) continue;
        if (!it->is_regular_file(typeError)) continue;
      }
      out->push_back({it->path().string(), name, !inNew && HasSeenFlag(name)});
    }
  }
  if (readable == 0) {
    *error = "cannot read cur/ or new/ in " + folderDirectory;
    return -1;
  }
  std::sort(out->begin(), out->end(),
            [](const MessageFile &a, const MessageFile &b) { return a.name < b.name; });
  return 0;
}

}  // namespace maildir
