// Folder paths as Maildir directories: every level must come back as it
// went in, and no level may leave the tree or collide with cur/new/tmp.
#include <gtest/gtest.h>

#include "host/maildir/maildir_paths.h"

namespace {

struct PathCase {
  const char *path;
  const char *directory;
  const char *why;
};

const PathCase kPaths[] = {
    {"Mailbox", "/m/Mailbox", "a top-level folder is one directory"},
    {"Cabinet^Projects", "/m/Cabinet/Projects", "levels nest"},
    {"Cabinet^a/b", "/m/Cabinet/a%2Fb", "a slash in a level would split it"},
    {"100%^x", "/m/100%25/x", "a percent sign is escaped so decoding is exact"},
    {"Cabinet^..", "/m/Cabinet/%2E.", "a level '..' must not climb out of the tree"},
    {"Cabinet^new", "/m/Cabinet/%6Eew", "'new' would collide with the Maildir subdirectory"},
    {"Cabinet^tmp^cur", "/m/Cabinet/%74mp/%63ur", "so would 'tmp' and 'cur'"},
    {"Über Ordner", "/m/Über Ordner", "UTF-8 and blanks stay as they are"},
};

TEST(MaildirPathsTest, FolderPathsMapToDirectoriesAndBack) {
  for (const PathCase &c : kPaths) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(maildir::FolderDirectory("/m", c.path), c.directory);
    std::string relative = std::string(c.directory).substr(3);
    EXPECT_EQ(maildir::FolderPathOf(relative), c.path);
  }
}

TEST(MaildirPathsTest, EmptyLevelsAreSkippedAndStrayPercentKept) {
  EXPECT_EQ(maildir::FolderDirectory("/m/", "^^Cabinet^^Projects^"), "/m/Cabinet/Projects");
  EXPECT_EQ(maildir::DecodeLevel("50%off"), "50%off");
  EXPECT_EQ(maildir::DecodeLevel("a%2"), "a%2");
  EXPECT_EQ(maildir::DecodeLevel("%2f"), "/");
}

}  // namespace
