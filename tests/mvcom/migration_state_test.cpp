// The migration state: duplicates found across a restart, the hash key of
// items without a message id, mail rules and the only-these-ids filter.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "mvcom/mvcom_fixture.h"

namespace {

int Dup(HostMessage *m, int kind, const char *folder) { return com_MsgIsDuplicate(m, nullptr, kind, folder); }

TEST_F(MvcomTest, MigratedItemsSurviveARestart) {
  MessagePtr m = NewMessage();
  CopyText(m->messageId, sizeof m->messageId, "4C1B.po.100.1'; DROP TABLE migrated; --");
  EXPECT_EQ(Dup(m.get(), kDupAsk, "O'Brien"), 0);
  EXPECT_EQ(Dup(m.get(), kDupRecord, "O'Brien"), 0);
  EXPECT_NE(Dup(m.get(), kDupAsk, "O'Brien"), 0);
  EXPECT_EQ(Dup(m.get(), kDupAsk, "Sent Items"), 0);  // the folder is part of the key
  mvcom_Shutdown();
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  EXPECT_NE(Dup(m.get(), kDupAsk, "O'Brien"), 0);
  CopyText(m->messageId, sizeof m->messageId, "4C1B.po.100.2");
  EXPECT_EQ(Dup(m.get(), kDupAsk, "O'Brien"), 0);
}

TEST_F(MvcomTest, ItemsWithoutMessageIdAreKeyedByTheirFields) {
  MessagePtr contact = NewMessage(), other = NewMessage();
  contact->itemKind = kItemContact;
  CopyText(contact->firstName, 512, "Ann");
  CopyText(contact->lastName, 512, "Lee");
  Dup(contact.get(), kDupRecord, "Contacts");
  memcpy(other.get(), contact.get(), sizeof(HostMessage));
  other->msgSeq = 42;  // not an identifying field
  EXPECT_NE(Dup(other.get(), kDupAsk, "Contacts"), 0);
  const std::function<void(HostMessage *)> differs[] = {
      [](HostMessage *r) { r->itemKind = kItemTask; },
      [](HostMessage *r) { CopyText(r->subject, 512, "x"); },
      [](HostMessage *r) { r->sentTime.dwLowDateTime = 1; },
      [](HostMessage *r) { CopyText(r->email, 768, "ann@example.org"); },
      [](HostMessage *r) { CopyText(r->firstName, 512, "AnnL"); CopyText(r->lastName, 512, "ee"); },
  };
  for (size_t i = 0; i < 5; ++i) {
    memcpy(other.get(), contact.get(), sizeof(HostMessage));
    differs[i](other.get());
    EXPECT_EQ(Dup(other.get(), kDupAsk, "Contacts"), 0) << "differing change " << i;
  }
  ASSERT_EQ(Reinit(), 0);
  EXPECT_NE(Dup(contact.get(), kDupAsk, "Contacts"), 0);  // the hash is stable across runs
}

TEST_F(MvcomTest, MailRulesAreAskedAndRecordedByName) {
  MessagePtr rule = NewMessage();
  CopyText(rule->subject, 512, "Move newsletters");
  EXPECT_EQ(Dup(rule.get(), kDupRule, "MailRules"), 0);  // new: now recorded
  EXPECT_NE(Dup(rule.get(), kDupRule, "MailRules"), 0);
  EXPECT_EQ(Dup(rule.get(), kDupAsk, "MailRules"), 0);  // a rule is no migrated item
  CopyText(rule->subject, 512, "Out of office");
  EXPECT_EQ(Dup(rule.get(), kDupRule, "MailRules"), 0);
  ASSERT_EQ(Reinit(), 0);
  EXPECT_NE(Dup(rule.get(), kDupRule, "MailRules"), 0);
}

TEST_F(MvcomTest, SearchMsgTakesOnlyTheListedIds) {
  MessagePtr m = NewMessage();
  CopyText(m->messageId, sizeof m->messageId, "C");
  EXPECT_NE(com_SearchMsg(m.get(), nullptr, nullptr, nullptr, nullptr), 0);  // no list: all
  const char *only[] = {"A", "B"};
  config_.onlyMessageIds = only;
  config_.onlyCount = 2;
  ASSERT_EQ(Reinit(), 0);
  EXPECT_EQ(com_SearchMsg(m.get(), nullptr, nullptr, nullptr, nullptr), 0);
  CopyText(m->messageId, sizeof m->messageId, "B");
  EXPECT_NE(com_SearchMsg(m.get(), nullptr, nullptr, nullptr, nullptr), 0);
}

}  // namespace
