// OpenSpillingStream: a request body stays in memory up to its limit and
// moves whole into its file past it; it reads back and seeks the same in
// both places, and a file that cannot be made fails the write.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file_guard.h"
#include "platform/memory_stream.h"

namespace {

class SpillingStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/spilling-stream-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
  }
  void TearDown() override {
    std::string cleanup = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cleanup.c_str()), 0);
  }
  static std::string ReadAll(FILE *f) {
    std::string text;
    char buf[1000];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
  }
  static bool Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  std::string dir_;
};

std::string Pattern(size_t length) {
  std::string text(length, '\0');
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return text;
}

TEST_F(SpillingStreamTest, SmallStaysInMemoryLargeMovesIntoItsFile) {
  struct Row {
    const char *why;
    size_t limit;
    std::vector<size_t> writes;  // sizes written one after another
    bool inFile;
  } rows[] = {
      {"a body under the limit makes no file", 100000, {10, 5000, 1}, false},
      {"exactly the limit stays in memory", 4096, {4096}, false},
      {"one byte past the limit moves everything written before", 4096, {4000, 97}, true},
      {"one write larger than the limit", 1000, {250000}, true},
      {"writes after the move go on in the file", 1000, {900, 900, 70000, 3}, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.why);
    const std::string path = dir_ + "/soapreq5.tmp";
    // A request file an earlier run left is replaced, never appended to.
    FilePtr stale = OpenFile(path.c_str(), "wb");
    ASSERT_TRUE(stale);
    fputs("stale bytes of an old request", stale.get());
    stale.reset();
    int spilled = 0;
    FilePtr f(OpenSpillingStream(path.c_str(), row.limit, &spilled));
    ASSERT_TRUE(f);
    std::string expected;
    for (size_t size : row.writes) {
      const std::string piece = Pattern(expected.size() + size).substr(expected.size());
      ASSERT_EQ(fwrite(piece.data(), 1, piece.size(), f.get()), piece.size());
      expected += piece;
    }
    ASSERT_EQ(fflush(f.get()), 0);
    EXPECT_EQ(ftello(f.get()), static_cast<off_t>(expected.size()));
    EXPECT_EQ(spilled, row.inFile ? 1 : 0);
    ASSERT_EQ(fseek(f.get(), 0, SEEK_SET), 0);
    EXPECT_EQ(ReadAll(f.get()), expected) << "read back from the start";
    ASSERT_EQ(fseek(f.get(), -3, SEEK_END), 0);
    EXPECT_EQ(ReadAll(f.get()), expected.substr(expected.size() - 3)) << "and from near the end";
    ASSERT_EQ(fseek(f.get(), 0, SEEK_SET), 0);
    EXPECT_EQ(ReadAll(f.get()), expected) << "and again, as a second attempt reads it";
    f.reset();
    if (row.inFile) {
      FilePtr file = OpenFile(path.c_str(), "rb");
      ASSERT_TRUE(file);
      EXPECT_EQ(ReadAll(file.get()), expected) << "the file holds the whole body";
    } else {
      FilePtr file = OpenFile(path.c_str(), "rb");
      ASSERT_TRUE(file);
      EXPECT_EQ(ReadAll(file.get()), "stale bytes of an old request") << "the stream never touched the file";
    }
    remove(path.c_str());
  }
}

TEST_F(SpillingStreamTest, AFileThatCannotBeMadeFailsTheWrite) {
  int spilled = 0;
  FilePtr f(OpenSpillingStream((dir_ + "/missing/soapreq5.tmp").c_str(), 100, &spilled));
  ASSERT_TRUE(f);
  const std::string body = Pattern(5000);
  fwrite(body.data(), 1, body.size(), f.get());
  EXPECT_TRUE(fflush(f.get()) != 0 || ferror(f.get())) << "the writer learns that the body is not whole";
  EXPECT_EQ(spilled, 0);
  EXPECT_FALSE(Exists(dir_ + "/missing"));
}

}  // namespace
