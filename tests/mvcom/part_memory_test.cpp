// Part files kept in memory: every chore of the host library sees a kept
// part as it would see the same bytes in a file, and an item's fingerprint
// does not depend on where its parts were.
#include <gmock/gmock.h>

#include "mvcom/mvcom_fixture.h"

namespace {

class PartMemoryTest : public MvcomTest {
 protected:
  void TearDown() override { mvcom_SetPartMemory(0); }
  // A part entry; its bytes kept when keep is set, else written to its file.
  void AddPart(HostMessage *m, int kind, const char *name, const std::string &bytes, bool keep) {
    ASSERT_NE(com_AllocPart(m), 0);
    HostPart *p = m->parts[m->partCount];
    CopyText(p->name, sizeof p->name, name);
    p->kind = kind;
    p->size = static_cast<int32_t>(bytes.size());
    const std::string path = PartPath(m->msgSeq, m->partCount);
    if (keep)
      ASSERT_EQ(mvcom_PartKeep(path.c_str(), bytes.data(), bytes.size()), 1) << name;
    else
      ASSERT_TRUE(WriteFileBytes(path, bytes));
    ++m->partCount;
  }
  std::string Kept(int msgSeq, int index) {
    std::string bytes;
    return ReadKeptPart(PartPath(msgSeq, index).c_str(), &bytes) ? bytes : "(not kept)";
  }
  std::string Fingerprint(const HostMessage *m) {
    char out[128] = "";
    EXPECT_EQ(mvcom_ItemFingerprint(m, host_.workDir().c_str(), out, sizeof out), 0);
    return out;
  }
};

TEST_F(PartMemoryTest, KeptPartsReadAsTheirFilesWould) {
  const std::string body = "Hello,\r\nthe body.\r\n", big(1001, 'B'), tail = "tail";
  MessagePtr inFiles = NewMessage();
  inFiles->msgSeq = 4;
  CopyText(inFiles->subject, sizeof inFiles->subject, "same item");
  AddPart(inFiles.get(), kPartTextBody, "Message.txt", body, false);
  AddPart(inFiles.get(), kPartFile, "big.bin", big, false);
  AddPart(inFiles.get(), kPartFile, "tail.txt", tail, false);
  const std::string fromFiles = Fingerprint(inFiles.get());
  com_Deallocate_All(inFiles.get(), nullptr);

  mvcom_SetPartMemory(64);
  MessagePtr m = NewMessage();
  m->msgSeq = 4;
  CopyText(m->subject, sizeof m->subject, "same item");
  // A stale file under a kept name is removed, never read for the new part.
  ASSERT_TRUE(WriteFileBytes(PartPath(4, 0), "an earlier item's body"));
  AddPart(m.get(), kPartTextBody, "Message.txt", body, true);
  EXPECT_FALSE(FileExists(PartPath(4, 0)));
  EXPECT_EQ(mvcom_PartKeep(PartPath(4, 1).c_str(), big.data(), big.size()), 0) << "above the limit";
  AddPart(m.get(), kPartFile, "big.bin", big, false);
  AddPart(m.get(), kPartFile, "tail.txt", tail, true);
  EXPECT_EQ(Fingerprint(m.get()), fromFiles) << "a rerun must know the item whichever way its parts came";

  int64_t size = -1;
  EXPECT_EQ(com_GetFileSize(PartPath(4, 0).c_str(), &size), 0);
  EXPECT_EQ(size, static_cast<int64_t>(body.size()));
  const std::string copy = host_.workDir() + "copy.txt";
  EXPECT_EQ(com_fcopy(PartPath(4, 0).c_str(), copy.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(copy), body);

  // Dropping the large attachment moves the kept part after it down one
  // place, as it moves a file.
  EXPECT_EQ(com_AttachSize(m.get(), nullptr, 0, 1), 1);
  ASSERT_EQ(m->partCount, 2);
  EXPECT_STREQ(m->parts[1]->name, "tail.txt");
  EXPECT_EQ(Kept(4, 1), tail);
  EXPECT_FALSE(FileExists(PartPath(4, 1)));
  EXPECT_EQ(Kept(4, 2), "(not kept)");
  EXPECT_FALSE(FileExists(PartPath(4, 2)));

  // Renamed into another name (the export's queue) and removed there.
  const std::string queued = host_.workDir() + "queued.TMP";
  EXPECT_EQ(mvcom_PartRename(PartPath(4, 0).c_str(), queued.c_str()), 0);
  EXPECT_EQ(Kept(4, 0), "(not kept)");
  std::string moved;
  EXPECT_TRUE(ReadKeptPart(queued.c_str(), &moved));
  EXPECT_EQ(moved, body);
  mvcom_PartRemove(queued.c_str());
  EXPECT_FALSE(ReadKeptPart(queued.c_str(), &moved));
  EXPECT_EQ(mvcom_PartRename(queued.c_str(), PartPath(4, 0).c_str()), -1) << "nothing left to move";

  // The item's end drops what is kept, as it deletes the files.
  com_Deallocate_All(m.get(), nullptr);
  EXPECT_EQ(Kept(4, 0), "(not kept)");
  EXPECT_EQ(Kept(4, 1), "(not kept)");
}

// A part kept for an item that was given up (its lists freed, its parts not
// deleted) must not stand for the file a later item writes under that name:
// the record's next item drops the parts its last one counted, and only
// those (a fresh record of the same number, as the plug-in makes for an
// attached mail, drops nothing).
TEST_F(PartMemoryTest, ARecordsNextItemDropsWhatItsLastOneKept) {
  mvcom_SetPartMemory(64);
  MessagePtr m = NewMessage();
  m->msgSeq = 12;
  AddPart(m.get(), kPartTextBody, "Message.txt", "given up", true);
  AddPart(m.get(), kPartFile, "a.txt", "also given up", true);
  const std::string other = PartPath(120, 0), queued = host_.workDir() + "queue/" + "PRT01200.TMP";
  ASSERT_EQ(mvcom_PartKeep(other.c_str(), "item 120", 8), 1);
  ASSERT_EQ(mvcom_PartKeep(queued.c_str(), "queued", 6), 1);
  MessagePtr fresh = NewMessage();
  fresh->msgSeq = 12;
  com_ResetObject(fresh.get());
  EXPECT_EQ(Kept(12, 0), "given up");
  com_ResetObject(m.get());
  EXPECT_EQ(Kept(12, 0), "(not kept)");
  EXPECT_EQ(Kept(12, 1), "(not kept)");
  ASSERT_TRUE(WriteFileBytes(PartPath(12, 0), "the next item's attachment"));
  int64_t size = 0;
  EXPECT_EQ(com_GetFileSize(PartPath(12, 0).c_str(), &size), 0);
  EXPECT_EQ(size, 26) << "the file, not the bytes the last item kept";
  EXPECT_EQ(Kept(120, 0), "item 120") << "another item's part";
  std::string bytes;
  EXPECT_TRUE(ReadKeptPart(queued.c_str(), &bytes));
  mvcom_PartRemove(other.c_str());
  mvcom_PartRemove(queued.c_str());
}

}  // namespace
