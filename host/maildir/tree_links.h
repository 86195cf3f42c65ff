// Whether an import may follow a symbolic link met while walking the tree it
// was given: never out of that tree, never back up into the link's own path.
#pragma once

#include <string>
#include <vector>

namespace maildir {

enum LinkVerdict {
  kNotALink = 0,   // a plain file or directory
  kLinkInside,     // a link to something else inside the tree: followed
  kLinkOutside,    // leads outside the tree: not followed
  kLinkDangling,   // leads nowhere: not followed
  kLinkLoop,       // a directory link back to itself or one of its parents
};

// Judges path (met below root) by lstat and the resolved paths of both.
LinkVerdict JudgeLink(const std::string &root, const std::string &path);

// The text a skipped link is reported with: "PATH: why it was not followed".
std::string SkippedLinkText(const std::string &path, LinkVerdict verdict);

// Whether the walk goes on into or reads path; a link it must not follow is
// added to *skipped (may be null) as SkippedLinkText.
bool FollowEntry(const std::string &root, const std::string &path,
                 std::vector<std::string> *skipped);

}  // namespace maildir
