// CreateFileFresh: a work file is replaced by a new one holding only the new
// bytes, and a path that is no regular file is never removed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/file_guard.h"

namespace {

class CreateFileFreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/file-guard-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
  }
  void TearDown() override {
    std::string cleanup = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cleanup.c_str()), 0);
  }
  static std::string Contents(const std::string &path) {
    FilePtr f = OpenFile(path.c_str(), "rb");
    std::string text;
    char buf[256];
    size_t n;
    while (f && (n = fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
    return text;
  }
  std::string dir_;
};

TEST_F(CreateFileFreshTest, ReplacesRegularFilesAndCreatesMissingOnes) {
  struct Row {
    const char *why;
    const char *before;  // null: no file there
    const char *mode;
    const char *written;
  };
  const Row rows[] = {
      {"a longer old response leaves nothing behind", "<old answer that is longer than the new/>", "wb", "<new/>"},
      {"an empty old file", "", "w", "request"},
      {"no file yet", nullptr, "wb", "first"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.why);
    const std::string path = dir_ + "/msg.xml";
    remove(path.c_str());
    if (row.before != nullptr) {
      FilePtr old = OpenFile(path.c_str(), "wb");
      ASSERT_TRUE(old);
      fputs(row.before, old.get());
    }
    FilePtr f = CreateFileFresh(path.c_str(), row.mode);
    ASSERT_TRUE(f);
    fputs(row.written, f.get());
    f.reset();
    EXPECT_EQ(Contents(path), row.written);
  }
}

TEST_F(CreateFileFreshTest, LeavesWhatIsNoRegularFileInPlace) {
  const std::string sub = dir_ + "/sub";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  // A directory cannot be opened for writing, and must survive the attempt.
  EXPECT_FALSE(CreateFileFresh(sub.c_str(), "wb"));
  struct stat st;
  ASSERT_EQ(stat(sub.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_FALSE(CreateFileFresh((dir_ + "/missing/x.xml").c_str(), "wb"));
}

}  // namespace
