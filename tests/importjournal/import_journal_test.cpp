// The import's pending-message journal: what is written reads back field
// for field, a file cut short is never taken for a journal, an emptied one
// is none, and removing it takes an older version's leftover .new file too.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "host/mvmigrate/import_journal.h"
#include "support/host_fixture.h"

namespace {

using testing_support::TestHost;
using testing_support::WriteFileBytes;

bool AppendBytes(const std::string &path, const std::string &bytes) {
  FILE *f = fopen(path.c_str(), "ab");
  if (f == nullptr) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

bool Exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class ImportJournalTest : public ::testing::Test {
 protected:
  std::string Path() const { return ImportJournalPath(host_.dataDir()); }
  TestHost host_;
};

TEST_F(ImportJournalTest, LivesInTheDataDirectory) {
  EXPECT_EQ(ImportJournalPath("/d/data/"), "/d/data/import-pending.txt");
  EXPECT_EQ(ImportJournalPath("/d/data"), "/d/data/import-pending.txt");
}

TEST_F(ImportJournalTest, WhatIsWrittenReadsBack) {
  const struct {
    ImportJournal journal;
    const char *why;
  } rows[] = {
      {{"<a1@example.com>", "Cabinet^Projects", "Quarterly report", "alice@example.com",
        132539328000000000ULL, 133500000001234567ULL},
       "plain fields"},
      {{"sha1:0f3a", "Mailbox", "line one\nline two\r\\end\\n", "", 0, 1},
       "line ends and backslashes in the subject, no sender, the zero date"},
      {{"k=v", "Sent Items", "=starts with the separator", "x=y@example.com", 18446744073709551615ULL,
        18446744073709551615ULL},
       "separators inside values, the largest time"},
      {{"key", "Grüße^Köln", "Grüße & <Angebote>", "juergen.weiss@example.de", 1, 2}, "UTF-8 text"},
      {{"uid:a", "Work^Team Calendar", "Standup", "", 3, 4, 2}, "a calendar's item: its class comes back"},
      {{"k", "Mailbox", "s", "", 3, 4, 0, 2}, "a doubt file's count of runs that could not ask"},
  };
  JournalFile file;
  std::string error;
  ASSERT_EQ(OpenImportJournal(Path(), &file, &error), 0) << error;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    ASSERT_EQ(WriteImportJournal(&file, row.journal, &error), 0) << error;
    ImportJournal read;
    ASSERT_EQ(ReadImportJournal(Path(), &read), 1);
    EXPECT_EQ(read.key, row.journal.key);
    EXPECT_EQ(read.folder, row.journal.folder);
    EXPECT_EQ(read.subject, row.journal.subject);
    EXPECT_EQ(read.sender, row.journal.sender);
    EXPECT_EQ(read.sentTime, row.journal.sentTime);
    EXPECT_EQ(read.writeStarted, row.journal.writeStarted);
    EXPECT_EQ(read.folderClass, row.journal.folderClass);
    EXPECT_EQ(read.unsureChecks, row.journal.unsureChecks);
  }
  CloseImportJournal(&file);
}

TEST_F(ImportJournalTest, OnlyAWholeJournalIsRead) {
  const std::string whole =
      "key=k1\nfolder=Mailbox\nsubject=Hello\nsender=a@example.com\nsent=132539328000000000\nstarted=5\n";
  const struct {
    std::string text;
    int expected;
    const char *why;
  } rows[] = {
      {whole, 1, "every field"},
      {whole + "class=3\n", 1, "with the folder class"},
      {whole + "class=4\n", -1, "a class no folder has"},
      {whole + "class=\n", -1, "an empty class"},
      {whole + "unsure=x\n", -1, "a count of runs that is no number"},
      {"started=5\nsent=132539328000000000\nsender=a@example.com\nsubject=Hello\nfolder=Mailbox\nkey=k1\n", 1,
       "any order"},
      {whole.substr(0, whole.size() - 1), -1, "the last line without its end: cut short"},
      {whole.substr(0, whole.find("sent=")), -1, "the times missing"},
      {"key=k1\nfolder=Mailbox\nsubject=Hello\nsender=\nsent=12x\nstarted=5\n", -1, "a time that is no number"},
      {"key=k1\nfolder=Mailbox\nsubject=Hello\nsender=\nsent=\nstarted=5\n", -1, "an empty time"},
      {"key=k1\nfolder=Mailbox\nsubject=Hello\nsender=\nsent=184467440737095516160\nstarted=5\n", -1,
       "a time past 64 bits"},
      {"key=\nfolder=Mailbox\nsubject=Hello\nsender=\nsent=1\nstarted=5\n", -1, "no key"},
      {"key=k1\nfolder=Mailbox\nsubject Hello\nsender=\nsent=1\nstarted=5\n", -1, "a line without ="},
      {"", 0, "an empty file: no message was being written"},
      {"\n", 0, "a blank first line: emptied between messages"},
      {"\n" + whole, 0, "emptied, with the last message's journal after the blank line"},
      {whole + "\nkey=k2\nfolder=Old\n", 1, "a blank line ends it: an older, longer journal's tail"},
      {"key=k1\nfolder=Mailbox\n\n" + whole.substr(whole.find("subject=")), -1,
       "a blank line before every field is there"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    ASSERT_TRUE(WriteFileBytes(Path(), row.text));
    ImportJournal read;
    EXPECT_EQ(ReadImportJournal(Path(), &read), row.expected);
  }
  // A journal written before the class line was kept is a mail folder's.
  ASSERT_TRUE(WriteFileBytes(Path(), whole));
  ImportJournal read;
  read.folderClass = 2;
  ASSERT_EQ(ReadImportJournal(Path(), &read), 1);
  EXPECT_EQ(read.folderClass, 0);
}

TEST_F(ImportJournalTest, WrittenInPlaceAndEmptiedBetweenMessages) {
  ImportJournal read;
  EXPECT_EQ(ReadImportJournal(Path(), &read), 0) << "none yet";
  // An older version wrote the journal to a .new file first: a run killed
  // then left only that, which is no journal.
  ASSERT_TRUE(WriteFileBytes(Path() + ".new", "key=k1\nfolder=Mailbox\nsubj"));
  EXPECT_EQ(ReadImportJournal(Path(), &read), 0);
  EXPECT_EQ(RemoveImportJournal(Path()), 0);
  EXPECT_FALSE(Exists(Path() + ".new"));

  // A shorter journal over a longer one reads as the new one alone.
  JournalFile file;
  std::string error;
  ASSERT_EQ(OpenImportJournal(Path(), &file, &error), 0) << error;
  ASSERT_EQ(WriteImportJournal(&file, {"an old and long key", "Cabinet^Projects^2026", "Old", "", 1, 1}, &error), 0)
      << error;
  ASSERT_EQ(WriteImportJournal(&file, {"new", "Mailbox", "New", "", 2, 2}, &error), 0) << error;
  ASSERT_EQ(ReadImportJournal(Path(), &read), 1);
  EXPECT_EQ(read.key, "new");
  EXPECT_EQ(read.folder, "Mailbox");
  EXPECT_EQ(read.subject, "New");
  EXPECT_EQ(read.sentTime, 2u);

  ASSERT_EQ(ClearImportJournal(&file), 0);
  EXPECT_EQ(ReadImportJournal(Path(), &read), 0) << "emptied between messages";
  ASSERT_EQ(WriteImportJournal(&file, {"next", "Mailbox", "Next", "", 3, 3}, &error), 0) << error;
  ASSERT_EQ(ReadImportJournal(Path(), &read), 1);
  EXPECT_EQ(read.key, "next");
  CloseImportJournal(&file);
  EXPECT_TRUE(Exists(Path())) << "a journal holding a message stays for the next run";

  // A journal kept from a killed run is written over, whole.
  ASSERT_EQ(OpenImportJournal(Path(), &file, &error), 0) << error;
  ASSERT_EQ(WriteImportJournal(&file, {"k", "S", "s", "", 4, 4}, &error), 0) << error;
  ASSERT_EQ(ReadImportJournal(Path(), &read), 1);
  EXPECT_EQ(read.key, "k");
  ASSERT_EQ(ClearImportJournal(&file), 0);
  CloseImportJournal(&file);
  EXPECT_FALSE(Exists(Path())) << "an empty journal goes at the run's end";
  EXPECT_EQ(RemoveImportJournal(Path()), 0) << "nothing to remove is no failure";
  struct stat st;
  ASSERT_EQ(OpenImportJournal(Path(), &file, &error), 0) << error;
  ASSERT_EQ(stat(Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "owner-only";
  CloseImportJournal(&file);
}

// Member records read back as written, tabs and line ends in a name
// included; a line cut short by a kill, or one missing a field, is no record.
TEST_F(ImportJournalTest, GroupMemberRecordsReadBackWhole) {
  const std::string path = GroupMembersPath(host_.dataDir());
  const GroupMemberRecord records[] = {{"srv|bob|Contacts", "uid:team-1", 0, "Ann\tLee\nJr", "ann@example.com", "C1@2"},
                                       {"srv|bob|Contacts", "uid:team-1", 1, "Bo", "", "C2@2"}};
  std::string error;
  for (const GroupMemberRecord &r : records) ASSERT_EQ(AppendGroupMember(path, r, &error), 0) << error;
  ASSERT_TRUE(AppendBytes(path, std::string("") + "srv|bob|Contacts\tuid:x\t2\tCy\tcy@example.com\n" +
                                       "srv|bob|Contacts\tuid:x\t3\tDi\tdi@example.com\tC4"));
  const std::vector<GroupMemberRecord> read = ReadGroupMembers(path);
  ASSERT_EQ(read.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(read[i].scope, records[i].scope);
    EXPECT_EQ(read[i].key, records[i].key);
    EXPECT_EQ(read[i].index, records[i].index);
    EXPECT_EQ(read[i].name, records[i].name);
    EXPECT_EQ(read[i].address, records[i].address);
    EXPECT_EQ(read[i].id, records[i].id);
  }
  ASSERT_EQ(RewriteGroupMembers(path, {read[1]}, &error), 0) << error;
  ASSERT_EQ(ReadGroupMembers(path).size(), 1u);
  EXPECT_EQ(ReadGroupMembers(path)[0].id, "C2@2");
  ASSERT_EQ(RewriteGroupMembers(path, {}, &error), 0) << error;
  EXPECT_FALSE(Exists(path));
}

TEST_F(ImportJournalTest, AnUnwritableDirectoryIsReported) {
  JournalFile file;
  std::string error;
  EXPECT_EQ(OpenImportJournal(host_.root() + "/missing/import-pending.txt", &file, &error), -1);
  EXPECT_NE(error.find("missing/import-pending.txt"), std::string::npos) << error;
  EXPECT_EQ(WriteImportJournal(&file, {"k", "Mailbox", "S", "", 1, 1}, &error), -1)
      << "no message is written without its journal";
}

TEST_F(ImportJournalTest, NowIsAFileTime) {
  // 2024-01-01 and 2100-01-01 in FILETIME ticks.
  const uint64_t now = ImportJournalNow();
  EXPECT_GT(now, 133485408000000000ULL);
  EXPECT_LT(now, 157469184000000000ULL);
}

}  // namespace
