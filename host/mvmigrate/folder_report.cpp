// Formatting of the folder list for `mvmigrate folders`.
#include "host/mvmigrate/folder_report.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "platform/bounded_text.h"

int ParseFolderTag(const std::string &tag, FolderEntry *entry) {
  size_t open = tag.rfind(" {MV:");
  if (open == std::string::npos || tag.empty() || tag.back() != '}') return -1;
  std::string inner = tag.substr(open + 5, tag.size() - open - 6);  // "count:FCLASS:class"
  size_t colon = inner.find(":FCLASS:");
  if (colon == std::string::npos || colon == 0 || colon + 8 >= inner.size()) return -1;
  std::string count = inner.substr(0, colon);
  std::string cls = inner.substr(colon + 8);
  auto isNumber = [](const std::string &s) {
    size_t i = (s[0] == '-') ? 1 : 0;
    return i < s.size() && s.find_first_not_of("0123456789", i) == std::string::npos;
  };
  if (!isNumber(count) || !isNumber(cls)) return -1;
  entry->path = tag.substr(0, open);
  entry->count = ParseLeadingInt(count.c_str());
  entry->folderClass = ParseLeadingInt(cls.c_str());
  return 0;
}

std::string FolderClassWord(int folderClass) {
  switch (folderClass) {
    case 0: return "mail";
    case 1: return "contacts";
    case 2: return "calendar";
    case 3: return "tasks";
    default: return "class " + std::to_string(folderClass);
  }
}

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          FormatText(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string FolderJson(const std::vector<FolderEntry> &folders) {
  std::string out = "[";
  for (size_t i = 0; i < folders.size(); ++i) {
    const FolderEntry &f = folders[i];
    out += i == 0 ? "\n  " : ",\n  ";
    out += "{\"path\": " + JsonString(f.path) + ", \"class\": " + std::to_string(f.folderClass) +
           ", \"count\": " + std::to_string(f.count) + "}";
  }
  out += folders.empty() ? "]\n" : "\n]\n";
  return out;
}

namespace {

struct NoCaseLess {
  bool operator()(const std::string &a, const std::string &b) const {
    int c = strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
  }
};

struct TreeNode {
  std::vector<const FolderEntry *> folders;  // two folders may share a path
  std::map<std::string, std::unique_ptr<TreeNode>, NoCaseLess> children;
};

void PrintNode(const TreeNode &node, int depth, std::string *out) {
  for (const auto &child : node.children) {
    const std::vector<const FolderEntry *> &here = child.second->folders;
    size_t lines = here.empty() ? 1 : here.size();
    for (size_t i = 0; i < lines; ++i) {
      out->append(static_cast<size_t>(depth) * 2, ' ');
      out->append(child.first);
      if (!here.empty()) {
        const FolderEntry *f = here[i];
        out->append("  (" + FolderClassWord(f->folderClass) + ", " + std::to_string(f->count) +
                    (f->count == 1 ? " item)" : " items)"));
      }
      out->append("\n");
    }
    PrintNode(*child.second, depth + 1, out);
  }
}

}  // namespace

std::string FolderTree(const std::vector<FolderEntry> &folders) {
  TreeNode root;
  for (const FolderEntry &f : folders) {
    TreeNode *node = &root;
    size_t start = 0;
    while (true) {
      size_t caret = f.path.find('^', start);
      std::string name = f.path.substr(start, caret == std::string::npos ? std::string::npos
                                                                          : caret - start);
      std::unique_ptr<TreeNode> &slot = node->children[name];
      if (!slot) slot = std::make_unique<TreeNode>();
      node = slot.get();
      if (caret == std::string::npos) break;
      start = caret + 1;
    }
    node->folders.push_back(&f);
  }
  std::string out;
  PrintNode(root, 0, &out);
  return out;
}
