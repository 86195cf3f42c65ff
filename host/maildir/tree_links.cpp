// Judging symbolic links met while an import walks its tree: whoever can
// place a link in a tree handed to the import must not get files from
// elsewhere sent to the server (the import often runs as root).
#include "host/maildir/tree_links.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

namespace maildir {
namespace {

// The path with every link resolved, or "" when it leads nowhere.
std::string Resolved(const std::string &path) {
  char *real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string text(real);
  free(real);
  return text;
}

// Whether inner is outer or lies below it.
bool Within(const std::string &inner, const std::string &outer) {
  if (inner.compare(0, outer.size(), outer) != 0) return false;
  return inner.size() == outer.size() || outer == "/" || inner[outer.size()] == '/';
}

std::string ParentOf(const std::string &path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

LinkVerdict JudgeLink(const std::string &root, const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return kNotALink;
  const std::string tree = Resolved(root);
  const std::string target = Resolved(path);
  if (target.empty()) return kLinkDangling;
  if (tree.empty() || !Within(target, tree)) return kLinkOutside;
  // A directory link to a directory that holds it would be walked forever.
  if (Within(Resolved(ParentOf(path)), target)) return kLinkLoop;
  return kLinkInside;
}

std::string SkippedLinkText(const std::string &path, LinkVerdict verdict) {
  if (verdict == kLinkLoop) return path + ": a link back to a folder that holds it, not followed";
  if (verdict == kLinkDangling) return path + ": a link leading nowhere, not followed";
  return path + ": a link leading outside the imported tree, not followed";
}

bool FollowEntry(const std::string &root, const std::string &path,
                 std::vector<std::string> *skipped) {
  const LinkVerdict verdict = JudgeLink(root, path);
  if (verdict == kNotALink || verdict == kLinkInside) return true;
  if (skipped != nullptr) skipped->push_back(SkippedLinkText(path, verdict));
  return false;
}

}  // namespace maildir
