// The migration state: items by message id, items keyed by their fields and
// mail rules, all found again after a restart.
#include <functional>

#include "mvcom/mvcom_fixture.h"

namespace {

int Dup(const MessagePtr &m, int kind, const char *folder) { return com_MsgIsDuplicate(m.get(), nullptr, kind, folder); }

TEST_F(MvcomTest, MigrationStateKeysItemsAndSurvivesARestart) {
  MessagePtr m = NewMessage(), contact = NewMessage(), other = NewMessage(), rule = NewMessage();
  CopyText(m->messageId, sizeof m->messageId, "4C1B.po.100.1'; DROP TABLE migrated; --");
  EXPECT_EQ(Dup(m, kDupAsk, "O'Brien"), 0);
  EXPECT_EQ(Dup(m, kDupRecord, "O'Brien"), 0);
  EXPECT_NE(Dup(m, kDupAsk, "O'Brien"), 0);
  EXPECT_EQ(Dup(m, kDupAsk, "Sent Items"), 0);  // the folder is part of the key
  // Two folders of one name under different parents: the host's path keys them.
  CopyText(m->hostFolder, sizeof m->hostFolder, "Cabinet^2019^O'Brien");
  EXPECT_EQ(Dup(m, kDupRecord, "O'Brien"), 0);
  CopyText(m->hostFolder, sizeof m->hostFolder, "Cabinet^2020^O'Brien");
  EXPECT_EQ(Dup(m, kDupAsk, "O'Brien"), 0);
  m->hostFolder[0] = '\0';
  CopyText(rule->subject, 512, "Move newsletters");
  EXPECT_EQ(Dup(rule, kDupRule, "MailRules"), 0);  // new: now recorded
  EXPECT_NE(Dup(rule, kDupRule, "MailRules"), 0);
  EXPECT_EQ(Dup(rule, kDupAsk, "MailRules"), 0);  // a rule is no migrated item

  // Without a message id an item is keyed by a hash of its identifying fields.
  contact->itemKind = kItemContact;
  CopyText(contact->firstName, 512, "Ann");
  CopyText(contact->lastName, 512, "Lee");
  EXPECT_EQ(Dup(contact, kDupRecord, "Contacts"), 0);
  memcpy(other.get(), contact.get(), sizeof(HostMessage));
  other->msgSeq = 42;  // not an identifying field
  EXPECT_NE(Dup(other, kDupAsk, "Contacts"), 0);
  const std::function<void(HostMessage *)> differs[] = {
      [](HostMessage *r) { r->itemKind = kItemTask; },
      [](HostMessage *r) { CopyText(r->subject, 512, "x"); },
      [](HostMessage *r) { r->sentTime.dwLowDateTime = 1; },
      [](HostMessage *r) { CopyText(r->email, 768, "ann@example.org"); },
      [](HostMessage *r) { CopyText(r->firstName, 512, "AnnL"); CopyText(r->lastName, 512, "ee"); },
      // Recurring instances without a message id differ only in their start.
      [](HostMessage *r) { r->startTime.dwHighDateTime = 1; },
  };
  for (size_t i = 0; i < sizeof differs / sizeof differs[0]; ++i) {
    memcpy(other.get(), contact.get(), sizeof(HostMessage));
    differs[i](other.get());
    EXPECT_EQ(Dup(other, kDupAsk, "Contacts"), 0) << "differing change " << i;
  }

  mvcom_Shutdown();
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  EXPECT_NE(Dup(m, kDupAsk, "O'Brien"), 0);
  EXPECT_NE(Dup(contact, kDupAsk, "Contacts"), 0);  // the hash is stable across runs
  EXPECT_NE(Dup(rule, kDupRule, "MailRules"), 0);
  CopyText(m->messageId, sizeof m->messageId, "4C1B.po.100.2");
  EXPECT_EQ(Dup(m, kDupAsk, "O'Brien"), 0);
  CopyText(rule->subject, 512, "Out of office");
  EXPECT_EQ(Dup(rule, kDupRule, "MailRules"), 0);
}

// Mail without a message id that shares subject, sender and time (delivery
// notices, fragments) is told apart by its recipients and content; the key
// asked for is the key recorded, whatever the host changes in between.
TEST_F(MvcomTest, ItemsWithoutIdAreKeyedByRecipientsAndContent) {
  // A notice to `to` whose body is `body`, as the plug-in hands it over.
  auto notice = [this](const char *to, const std::string &body) {
    MessagePtr m = NewMessage();
    m->msgSeq = 7;
    CopyText(m->subject, 512, "Delivery Status Notification (Failure)");
    CopyText(m->fromAddress, 1024, "mailer-daemon@example.com");
    EXPECT_NE(com_AllocRecip(m.get()), 0);
    m->recips[0]->kind = kRecipTo;
    CopyText(m->recips[0]->address, 256, to);
    m->recipCount = 1;
    EXPECT_NE(com_AllocPart(m.get()), 0);
    m->parts[0]->kind = kPartTextBody;
    m->parts[0]->size = static_cast<int32_t>(body.size());
    m->partCount = 1;
    EXPECT_TRUE(WriteFileBytes(PartPath(7, 0), body));
    return m;
  };
  MessagePtr first = notice("ann@example.com", "could not deliver to ann");
  ASSERT_EQ(Dup(first, kDupAsk, "Mailbox"), 0);
  // The host maps the address before it records the item.
  CopyText(first->recips[0]->address, 256, "ann@new.example.com");
  ASSERT_EQ(Dup(first, kDupRecord, "Mailbox"), 0);

  const struct {
    const char *why, *to;
    std::string body;
    bool duplicate;
  } cases[] = {
      {"the same notice read again, before its address is mapped", "ann@example.com",
       "could not deliver to ann", true},
      {"a notice about another recipient", "bob@example.com", "could not deliver to ann", false},
      {"a notice with another body of the same size", "ann@example.com", "could not deliver to bob", false},
      {"a notice with a longer body", "ann@example.com", "could not deliver to ann!", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    MessagePtr again = notice(c.to, c.body);
    EXPECT_EQ(c.duplicate, Dup(again, kDupAsk, "Mailbox") != 0);
  }
}

// A folder with no record when first asked about is answered from memory
// for keys never recorded; everything else still comes from the table: keys
// recorded in this run, in folders that had records before it, in a folder
// recorded into before the first question, and keys a failed batch dropped.
TEST_F(MvcomTest, NewFoldersAreAnsweredWithoutLosingARecord) {
  ASSERT_EQ(mvcom_RecordImported("Old", "k-old"), 0);
  mvcom_Shutdown();
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();

  const int kKeys = 20000;
  auto key = [](const char *prefix, int i) { return std::string(prefix) + std::to_string(i); };
  EXPECT_EQ(mvcom_IsImported("New", "k0"), 0);  // the folder is judged empty here
  for (int i = 0; i < kKeys; i += 2) ASSERT_EQ(mvcom_RecordImported("New", key("k", i).c_str()), 0);
  int found = 0, wrong = 0;
  for (int i = 0; i < kKeys; ++i) {
    const int answer = mvcom_IsImported("New", key("k", i).c_str());
    if (answer == 1) ++found;
    if (answer != (i % 2 == 0 ? 1 : 0)) ++wrong;
  }
  EXPECT_EQ(found, kKeys / 2);
  EXPECT_EQ(wrong, 0);
  // The same keys in another folder or of another kind were never recorded.
  EXPECT_EQ(mvcom_IsImported("New2", "k0"), 0);
  MessagePtr m = NewMessage();
  CopyText(m->messageId, sizeof m->messageId, "k0");
  EXPECT_EQ(Dup(m, kDupAsk, "New"), 0);

  EXPECT_EQ(mvcom_IsImported("Old", "k-old"), 1);  // recorded by the run before
  ASSERT_EQ(mvcom_RecordImported("First", "k-first"), 0);
  EXPECT_EQ(mvcom_IsImported("First", "k-first"), 1);  // recorded before the first question

  // A batch whose files cannot be made durable is dropped: its keys are not
  // migrated, though the filter has seen them.
  ASSERT_EQ(mvcom_BeginBatch(100, 60000, [](void *) { return -1; }, nullptr), 0);
  ASSERT_EQ(mvcom_RecordImported("New", "k-dropped"), 0);
  EXPECT_EQ(mvcom_IsImported("New", "k-dropped"), 1);  // still in the open transaction
  EXPECT_NE(mvcom_CommitBatch(), 0);
  EXPECT_EQ(mvcom_IsImported("New", "k-dropped"), 0);
  ASSERT_EQ(mvcom_EndBatch(), 0);
  EXPECT_EQ(mvcom_IsImported("New", "k2"), 1);  // committed before the batch

  // Past the number of keys the filter holds, it starts afresh: what it
  // knew is looked up in the table from then on.
  ASSERT_EQ(mvcom_BeginBatch(1000000, 600000, nullptr, nullptr), 0);
  EXPECT_EQ(mvcom_IsImported("Big", "b0"), 0);
  const int kPastFull = (1 << 21) / 8 + 10;
  for (int i = 1; i <= kPastFull; ++i) ASSERT_EQ(mvcom_RecordImported("Big", key("b", i).c_str()), 0);
  EXPECT_EQ(mvcom_IsImported("Big", "b1"), 1);
  EXPECT_EQ(mvcom_IsImported("Big", key("b", kPastFull).c_str()), 1);
  EXPECT_EQ(mvcom_IsImported("Big", "b0"), 0);
  EXPECT_EQ(mvcom_IsImported("New", "k6"), 1);
  EXPECT_EQ(mvcom_IsImported("New", "k7"), 0);
  EXPECT_EQ(mvcom_IsImported("After", "a1"), 0);  // judged after the new start
  ASSERT_EQ(mvcom_RecordImported("After", "a1"), 0);
  EXPECT_EQ(mvcom_IsImported("After", "a1"), 1);
  ASSERT_EQ(mvcom_EndBatch(), 0);

  mvcom_Shutdown();
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  EXPECT_EQ(mvcom_IsImported("New", "k4"), 1);
  EXPECT_EQ(mvcom_IsImported("New", "k5"), 0);
}

}  // namespace
