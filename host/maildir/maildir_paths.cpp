// Folder paths as Maildir directories and back.
#include "host/maildir/maildir_paths.h"

namespace maildir {
namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string &out, unsigned char c) {
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Names that must not stand as a level's directory as they are: they would
// leave the tree or collide with the folder's own Maildir subdirectories.
bool IsReservedName(const std::string &level) {
  return level == "." || level == ".." || level == "cur" || level == "new" || level == "tmp";
}

}  // namespace

std::string EncodeLevel(const std::string &level) {
  std::string out;
  out.reserve(level.size() + 8);
  for (size_t i = 0; i < level.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(level[i]);
    bool escape = c == '%' || c == '/' || c < 0x20 || c == 0x7F ||
                  (i == 0 && IsReservedName(level));
    if (escape)
      AppendEscaped(out, c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

std::string DecodeLevel(const std::string &name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '%' && i + 2 < name.size() && HexValue(name[i + 1]) >= 0 &&
        HexValue(name[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(name[i + 1]) * 16 + HexValue(name[i + 2]));
      i += 2;
    } else {
      out += name[i];
    }
  }
  return out;
}

std::vector<std::string> SplitFolderPath(const std::string &path) {
  std::vector<std::string> levels;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('^', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) levels.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return levels;
}

std::string FolderDirectory(const std::string &mailRoot, const std::string &path) {
  std::string dir = mailRoot;
  for (const std::string &level : SplitFolderPath(path)) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    dir += EncodeLevel(level);
  }
  return dir;
}

std::string FolderPathOf(const std::string &relativeDirectory) {
  std::string path;
  size_t start = 0;
  while (start <= relativeDirectory.size()) {
    size_t end = relativeDirectory.find('/', start);
    if (end == std::string::npos) end = relativeDirectory.size();
    if (end > start) {
      if (!path.empty()) path += '^';
      path += DecodeLevel(relativeDirectory.substr(start, end - start));
    }
    start = end + 1;
  }
  return path;
}

}  // namespace maildir
