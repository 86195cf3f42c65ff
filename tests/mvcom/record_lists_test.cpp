// The HostMessage lists: limits and reuse, part files deleted with the item,
// and attachments dropped by size with their files kept in step.
#include <gmock/gmock.h>

#include "mvcom/mvcom_fixture.h"

TEST_F(MvcomTest, ListsStopAtExactlyTheirLimits) {
  MessagePtr m = NewMessage();
  while (com_AllocRecip(m.get()) && m->recipCount <= kMaxRecipients) m->recipCount++;
  EXPECT_EQ(m->recipCount, 5000);
  while (com_AllocPart(m.get()) && m->partCount <= kMaxParts) m->partCount++;
  EXPECT_EQ(m->partCount, 500);
  EXPECT_NE(m->parts[499], nullptr);
  m->partCount = -1;  // a broken count must not index before the list
  EXPECT_EQ(com_AllocPart(m.get()), 0);
  com_Deallocate(m.get(), nullptr);

  // An entry the caller did not count is zeroed and reused, not leaked.
  ASSERT_NE(com_AllocPart(m.get()), 0);
  HostPart *first = m->parts[0];
  first->size = 12;
  ASSERT_NE(com_AllocPart(m.get()), 0);
  EXPECT_EQ(m->parts[0], first);
  EXPECT_EQ(m->parts[0]->size, 0);
}

static void AddPart(HostMessage *m, const std::string &path, const char *name, int kind, const std::string &bytes) {
  ASSERT_NE(com_AllocPart(m), 0);
  HostPart *p = m->parts[m->partCount++];
  CopyText(p->name, sizeof p->name, name);
  p->kind = kind;
  ASSERT_TRUE(WriteFileBytes(path, bytes));
}

TEST_F(MvcomTest, DeallocateAllDeletesOnlyThisItemsPartFiles) {
  MessagePtr m = NewMessage();
  m->msgSeq = 7;
  for (int i = 0; i < 3; ++i) AddPart(m.get(), PartPath(7, i), "a.bin", kPartFile, "data");
  ASSERT_TRUE(WriteFileBytes(PartPath(8, 0), "another item"));
  com_Deallocate_All(m.get(), nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(FileExists(PartPath(7, i))) << i;
  EXPECT_TRUE(FileExists(PartPath(8, 0)));
  EXPECT_EQ(m->partCount, 0);
  EXPECT_EQ(m->parts[0], nullptr);

  // Resetting for the next item clears the record and its lists but keeps
  // the host's running number, which names the part files, and the group folder.
  AddPart(m.get(), PartPath(7, 0), "b.bin", kPartFile, "data");
  ASSERT_NE(com_AllocRecip(m.get()), 0);
  m->recipCount++;
  CopyText(m->subject, sizeof m->subject, "old item");
  CopyText(m->groupFolder, sizeof m->groupFolder, "Archive");
  m->folderItemCount = 5;
  com_ResetObject(m.get());
  EXPECT_EQ(m->msgSeq, 7);
  EXPECT_STREQ(m->groupFolder, "Archive");
  EXPECT_STREQ(m->subject, "");
  EXPECT_EQ(m->folderItemCount, 0);
  EXPECT_EQ(m->partCount + m->recipCount, 0);
  EXPECT_EQ(m->parts[0], nullptr);
  EXPECT_EQ(m->recips[0], nullptr);
}

TEST_F(MvcomTest, AttachSizeDropsLargeFilesAndKeepsFilesInStep) {
  MessagePtr m = NewMessage();
  m->msgSeq = 3;
  const std::string big(1001, 'B'), limit(1000, 'L');
  AddPart(m.get(), PartPath(3, 0), "small.txt", kPartFile, "small");
  AddPart(m.get(), PartPath(3, 1), "big1.bin", kPartFile, big);
  AddPart(m.get(), PartPath(3, 2), "Message.txt", kPartTextBody, big);  // bodies stay
  AddPart(m.get(), PartPath(3, 3), "big2.bin", kPartFile, big);
  AddPart(m.get(), PartPath(3, 4), "exact.bin", kPartFile, limit);  // at the limit: kept
  AddPart(m.get(), PartPath(3, 5), "last.txt", kPartFile, "last");

  EXPECT_EQ(com_AttachSize(m.get(), nullptr, 0, 1), 2);
  ASSERT_EQ(m->partCount, 4);
  const char *names[] = {"small.txt", "Message.txt", "exact.bin", "last.txt"};
  const std::string contents[] = {"small", big, limit, "last"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(m->parts[i]->name, names[i]);
    EXPECT_EQ(ReadFileBytes(PartPath(3, i)), contents[i]) << "file of part " << i;
  }
  EXPECT_FALSE(FileExists(PartPath(3, 4)));
  EXPECT_FALSE(FileExists(PartPath(3, 5)));
  ASSERT_EQ(host_.log().size(), 2u);
  EXPECT_THAT(host_.log()[0], ::testing::HasSubstr("big1.bin (1001 bytes) dropped"));
}
