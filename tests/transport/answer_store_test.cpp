// The answer store: which answers stay in memory and which go to their
// files, that a reader sees the same bytes either way (and keeps its bytes
// when the name is answered again while it reads), debug copies byte for
// byte, and the least recently used answer written out when a new name
// needs its place.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/host_fixture.h"
#include "transport/answer_store.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;

std::string ReadAll(FILE *file) {
  std::string bytes;
  char block[1000];
  size_t n;
  while ((n = fread(block, 1, sizeof block, file)) > 0) bytes.append(block, n);
  return bytes;
}

std::string ReadAnswer(const std::string &path) {
  FilePtr file = OpenAnswer(path.c_str(), "rb");
  return file ? ReadAll(file.get()) : std::string("(cannot be opened)");
}

// Bytes that differ from one offset to the next, so that a misplaced piece shows.
std::string Pattern(size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i % 61);
  return bytes;
}

int Store(const std::string &path, const std::string &bytes, size_t piece) {
  if (!AnswerBegin(path.c_str())) return 0;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const size_t n = bytes.size() - at < piece ? bytes.size() - at : piece;
    if (!AnswerAppend(bytes.data() + at, n)) return 0;
  }
  return AnswerEnd();
}

class AnswerStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ForgetAllAnswers(); }
  void TearDown() override {
    ForgetAllAnswers();
    SetAnswerSpillSize(kAnswerSpillSize);
  }
  std::string Work(const std::string &name) const { return host_.workDir() + name; }

  testing_support::TestHost host_;
};

TEST_F(AnswerStoreTest, SmallAnswersStayInMemoryLargeOnesGoToTheirFile) {
  const struct Case {
    const char *why;
    size_t spillSize;
    size_t size;
    size_t piece;
    bool inFile;
  } cases[] = {
      {"a small answer makes no file", 4096, 1000, 100, false},
      {"an empty answer is read as empty, from memory", 4096, 0, 1, false},
      {"an answer of exactly the spill size still fits", 4096, 4096, 1000, false},
      {"one byte more and the whole answer is in the file", 4096, 4097, 1000, true},
      {"a piece larger than the spill size goes to the file whole", 4096, 10000, 10000, true},
      {"growing past the first buffer keeps every byte in order", 1 << 20, 300000, 777, false},
      {"spill size 0: every answer in its file, an empty one too", 0, 0, 1, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    SetAnswerSpillSize(c.spillSize);
    const std::string path = Work("answer.xml"), copy = Work("copy.xml");
    const std::string bytes = Pattern(c.size, 'a');
    ASSERT_EQ(Store(path, bytes, c.piece), 1);
    EXPECT_EQ(FileExists(path), c.inFile);
    if (c.inFile) {
      EXPECT_EQ(ReadFileBytes(path), bytes);
    }
    EXPECT_EQ(ReadAnswer(path), bytes);
    ASSERT_EQ(CopyAnswer(path.c_str(), copy.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(copy), bytes);
    ForgetAnswer(path.c_str());
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(ReadAnswer(path), "(cannot be opened)");
  }
  // A file under a name from before the store knew it (an earlier run's)
  // never stands for an answer: it goes when the name is first answered,
  // and a forgotten answer reads as none, also once its place went to
  // other names.
  SetAnswerSpillSize(kAnswerSpillSize);
  const std::string stale = Work("stale.xml");
  ASSERT_TRUE(testing_support::WriteFileBytes(stale, "old"));
  ASSERT_EQ(Store(stale, "new", 1), 1);
  EXPECT_FALSE(FileExists(stale));
  ForgetAnswer(stale.c_str());
  EXPECT_EQ(ReadAnswer(stale), "(cannot be opened)");
  ASSERT_EQ(Store(stale, "again", 2), 1);
  EXPECT_EQ(ReadAnswer(stale), "again");
  ForgetAnswer(stale.c_str());
  for (int i = 0; i < 9; ++i) ASSERT_EQ(Store(Work("other" + std::to_string(i)), "x", 1), 1);
  EXPECT_EQ(ReadAnswer(stale), "(cannot be opened)");
  EXPECT_FALSE(FileExists(stale));
  // A name too long to be found again is refused, not kept under a cut name.
  EXPECT_EQ(AnswerBegin((host_.workDir() + std::string(1100, 'n')).c_str()), 0);
}

TEST_F(AnswerStoreTest, ReadersKeepTheirBytesAndNamesOutliveTheirPlaceInMemory) {
  const std::string path = Work("msg.xml");
  const std::string first = Pattern(5000, 'a'), second = Pattern(3000, 'A');
  ASSERT_EQ(Store(path, first, 512), 1);

  // Answered again while a reader is in the middle of the first answer.
  FilePtr reader = OpenAnswer(path.c_str(), "r");
  ASSERT_TRUE(reader);
  char head[100];
  ASSERT_EQ(fread(head, 1, sizeof head, reader.get()), sizeof head);
  ASSERT_EQ(Store(path, second, 512), 1);
  EXPECT_EQ(std::string(head, sizeof head) + ReadAll(reader.get()), first);
  // Positions as a file gives them: the readers go back to a saved place.
  ASSERT_EQ(fseek(reader.get(), 4990, SEEK_SET), 0);
  EXPECT_EQ(ftell(reader.get()), 4990);
  EXPECT_EQ(ReadAll(reader.get()), first.substr(4990));
  EXPECT_NE(fseek(reader.get(), 5001, SEEK_SET), 0);
  reader.reset();
  EXPECT_EQ(ReadAnswer(path), second);

  // An answer kept for a person to read is in its file; the next answer of
  // the name takes the file away again.
  KeepAnswerFile(path.c_str());
  EXPECT_EQ(ReadFileBytes(path), second);
  ASSERT_EQ(Store(path, first, 512), 1);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReadAnswer(path), first);

  // A spilled answer followed by a small one: no stale file left behind.
  SetAnswerSpillSize(1000);
  ASSERT_EQ(Store(path, first, 512), 1);
  EXPECT_TRUE(FileExists(path));
  ASSERT_EQ(Store(path, Pattern(10, 'x'), 512), 1);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReadAnswer(path), Pattern(10, 'x'));
  SetAnswerSpillSize(kAnswerSpillSize);

  // Eight more names: the one used longest ago goes to its file and stays
  // readable.
  for (int i = 0; i < 8; ++i) {
    const std::string name = Work("name" + std::to_string(i) + ".xml");
    ASSERT_EQ(Store(name, Pattern(100 + i, 'a'), 64), 1);
  }
  EXPECT_EQ(ReadFileBytes(path), Pattern(10, 'x'));  // msg.xml was the oldest
  EXPECT_EQ(ReadAnswer(path), Pattern(10, 'x'));
  for (int i = 0; i < 8; ++i) {
    const std::string name = Work("name" + std::to_string(i) + ".xml");
    SCOPED_TRACE(name);
    EXPECT_FALSE(FileExists(name));
    EXPECT_EQ(ReadAnswer(name), Pattern(100 + i, 'a'));
  }
}

}  // namespace

// A reader asks whether an answer may hold an element before it reads the
// answer through for it: a "no" must be sure, from the bytes in memory.
TEST_F(AnswerStoreTest, MayHoldIsNoOnlyForAnAnswerInMemoryWithoutTheText) {
  const std::string tag = "<gwt:attachment";
  const struct Case {
    const char *why;
    std::string bytes;
    int mayHold;
  } cases[] = {
      {"no such element", "<gwt:item>\n<gwt:subject>\nattachment\n<gwt:attach>\n", 0},
      {"the element, in another case", "<gwt:item>\n<GWT:Attachment>\n<gwt:id>\n", 1},
      {"a near miss before the element", "<gwt:attachmen\n<gwt:attachment>\n", 1},
      {"the text as the answer's last bytes", "<gwt:item>\n<gwt:attachment", 1},
      {"the text cut by the answer's end", "<gwt:item>\n<gwt:attachmen", 0},
      {"an empty answer", "", 0},
      {"bytes with a zero among them", std::string("<gwt:\0<gwt:attachment>", 23), 1},
  };
  const std::string path = Work("item.xml");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_EQ(Store(path, c.bytes, 5), 1);
    EXPECT_EQ(AnswerMayHold(path.c_str(), tag.c_str()), c.mayHold);
  }
  // Unsure: an answer in its file, a name the store does not know.
  SetAnswerSpillSize(0);
  ASSERT_EQ(Store(path, "<gwt:item>\n", 5), 1);
  EXPECT_EQ(AnswerMayHold(path.c_str(), tag.c_str()), 1);
  EXPECT_EQ(AnswerMayHold(Work("unknown.xml").c_str(), tag.c_str()), 1);
}
