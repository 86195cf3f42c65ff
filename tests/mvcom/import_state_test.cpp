// The import state: messages written into GroupWise are found again after a
// restart, per target folder, and apart from the records of reading runs.
#include "mvcom/mvcom_fixture.h"

namespace {

TEST_F(MvcomTest, ImportedMessagesAreKeptPerFolderAcrossARestart) {
  EXPECT_EQ(mvcom_IsImported("bob|Mailbox", "mid:a@x"), 0);
  EXPECT_EQ(mvcom_RecordImported("bob|Mailbox", "mid:a@x"), 0);
  EXPECT_EQ(mvcom_RecordImported("bob|Mailbox", "mid:a@x"), 1);  // already there
  EXPECT_EQ(mvcom_IsImported("bob|Mailbox", "mid:a@x"), 1);
  EXPECT_EQ(mvcom_IsImported("bob|Sent Items", "mid:a@x"), 0);  // another folder
  EXPECT_EQ(mvcom_IsImported("carol|Mailbox", "mid:a@x"), 0);   // another mailbox
  EXPECT_EQ(mvcom_RecordImported("O'Brien'; DROP TABLE migrated; --", "sha256:00"), 0);

  // A reading run's record under the same folder and key text is another
  // thing: neither side sees the other's.
  MessagePtr m = NewMessage();
  CopyText(m->messageId, sizeof m->messageId, "a@x");
  EXPECT_EQ(mvcom_RecordImported("bob|Mailbox", "id:a@x"), 0);
  EXPECT_EQ(com_MsgIsDuplicate(m.get(), nullptr, kDupAsk, "bob|Mailbox"), 0);
  CopyText(m->messageId, sizeof m->messageId, "d@x");
  EXPECT_EQ(com_MsgIsDuplicate(m.get(), nullptr, kDupRecord, "bob|Mailbox"), 0);
  EXPECT_EQ(mvcom_IsImported("bob|Mailbox", "id:d@x"), 0);

  mvcom_Shutdown();
  EXPECT_EQ(mvcom_IsImported("bob|Mailbox", "mid:a@x"), -1);  // no state open
  EXPECT_EQ(mvcom_RecordImported("bob|Mailbox", "mid:c@x"), -1);
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  EXPECT_EQ(mvcom_IsImported("bob|Mailbox", "mid:a@x"), 1);
  EXPECT_EQ(mvcom_IsImported("O'Brien'; DROP TABLE migrated; --", "sha256:00"), 1);
  EXPECT_EQ(mvcom_IsImported("bob|Mailbox", "mid:c@x"), 0);
}

}  // namespace
