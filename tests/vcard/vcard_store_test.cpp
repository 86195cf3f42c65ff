// The vCard stores: a vdir per book on export (one file per entry, named
// from its UID, written whole, nothing twice), and .vcf trees listed and
// read back on import, so that what one export writes an import takes back
// field for field.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

#include "host/vcard/vcard_store.h"
#include "host/vcard/vcard_writer.h"
#include "plugin/mvcom.h"
#include "support/host_fixture.h"
#include "vcard/contact_records.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

class VcardStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.Init(), 0); }

  std::string Out() const { return host_.root() + "/out/"; }

  // Exports the records into their books; returns the results of Write.
  std::vector<int> Export(const std::vector<std::pair<std::string, vcard_test::Record (*)()>> &entries) {
    std::unique_ptr<store::ExportStore> store = vcard::MakeVcardExportStore(Out());
    std::vector<int> results;
    std::string error;
    for (const auto &e : entries) {
      EXPECT_EQ(store->OpenFolder(e.first, &error), 0) << error;
      vcard_test::Record record = e.second();
      results.push_back(store->Write(*record, host_.workDir(), nullptr, nullptr, &error));
    }
    EXPECT_EQ(store->Sync(&error), 0) << error;
    return results;
  }

  testing_support::TestHost host_;
};

TEST_F(VcardStoreTest, BooksBecomeDirectoriesOfOneCardPerEntry) {
  EXPECT_EQ(Export({{"Alice's Contacts", vcard_test::FullContact}, {"Alice's Contacts", vcard_test::ProjectGroup},
                    {"Shared^Team/Sales", vcard_test::FoldedContact}}),
            (std::vector<int>{store::kStored, store::kStored, store::kStored}));
  vcard_test::Record ann = vcard_test::FullContact(), team = vcard_test::ProjectGroup(),
                     zoe = vcard_test::FoldedContact();
  const struct {
    std::string path;
    const HostMessage *record;
    const char *why;
  } files[] = {
      {"contacts/Alice's Contacts/" + vcard::CardUid(*ann) + ".vcf", ann.get(), "a contact in its book"},
      {"contacts/Alice's Contacts/" + vcard::CardUid(*team) + ".vcf", team.get(), "a group beside it"},
      {"contacts/Shared/Team%2FSales/" + vcard::CardUid(*zoe) + ".vcf", zoe.get(),
       "path levels nest; a slash in a name is escaped"},
  };
  for (const auto &f : files) {
    SCOPED_TRACE(f.why);
    EXPECT_EQ(ReadFileBytes(Out() + f.path), vcard::CardText(*f.record, nullptr));
  }
}

TEST_F(VcardStoreTest, ARerunWritesNothingAndLeftoversAreCleared) {
  Export({{"Book", vcard_test::FullContact}});
  vcard_test::Record ann = vcard_test::FullContact();
  std::string dir = Out() + "contacts/Book/";
  std::string leftover = dir + "." + vcard::CardUid(*ann) + ".vcf.tmp";
  ASSERT_TRUE(WriteFileBytes(leftover, "BEGIN:VCARD\r\nVERS"));
  ASSERT_TRUE(WriteFileBytes(dir + "notes.txt", "kept"));
  EXPECT_EQ(Export({{"Book", vcard_test::FullContact}, {"Book", vcard_test::ProjectGroup}}),
            (std::vector<int>{store::kAlreadyPresent, store::kStored}));
  EXPECT_FALSE(FileExists(leftover)) << "a half-written card of a killed run is removed";
  EXPECT_TRUE(FileExists(dir + "notes.txt")) << "files that are not ours stay";
}

TEST_F(VcardStoreTest, WhatCannotBeWrittenFails) {
  std::unique_ptr<store::ExportStore> store = vcard::MakeVcardExportStore(Out());
  std::string error;
  vcard_test::Record mail = vcard_test::FullContact();
  mail->itemKind = kItemMail;
  EXPECT_EQ(store->Write(*mail, host_.workDir(), nullptr, nullptr, &error), store::kFailed)
      << "no folder open";
  ASSERT_EQ(store->OpenFolder("Book", &error), 0);
  EXPECT_EQ(store->Write(*mail, host_.workDir(), nullptr, nullptr, &error), store::kFailed);
  EXPECT_EQ(error, "not a contact or group (item kind 0)");
  ASSERT_TRUE(WriteFileBytes(Out() + "contacts/Blocked", "a file where a book would go"));
  EXPECT_EQ(store->OpenFolder("Blocked", &error), -1);
  EXPECT_NE(error.find("cannot create address-book directory"), std::string::npos) << error;
}

TEST_F(VcardStoreTest, ImportListsBooksAndCardsInAStableOrder) {
  std::string in = host_.root() + "/in/";
  std::string data = std::string(MVGWS_TEST_DATA) + "/vcard/import/";
  ASSERT_EQ(mkdir((in).c_str(), 0700), 0);
  ASSERT_EQ(mkdir((in + "contacts").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((in + "contacts/Team%2FSales").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((in + "contacts/empty").c_str(), 0700), 0);
  ASSERT_TRUE(WriteFileBytes(in + "contacts/b.vcf", ReadFileBytes(data + "evolution.vcf")));
  ASSERT_TRUE(WriteFileBytes(in + "contacts/a.VCF", ReadFileBytes(data + "thunderbird.vcf")));
  ASSERT_TRUE(WriteFileBytes(in + "contacts/c.vcf", "no cards in here\n"));
  ASSERT_TRUE(WriteFileBytes(in + "contacts/Team%2FSales/apple.vcf", ReadFileBytes(data + "apple.vcf")));
  std::unique_ptr<store::ImportSource> source = vcard::MakeVcardImportSource(in);
  std::vector<store::SourceFolder> folders;
  std::string error;
  ASSERT_EQ(source->ListFolders(&folders, &error), 0);
  ASSERT_EQ(folders.size(), 2u) << "a directory without cards is no book";
  EXPECT_EQ(folders[0].path, "Contacts") << "cards directly in contacts/";
  EXPECT_EQ(folders[1].path, "Team/Sales") << "a level name decoded";
  EXPECT_EQ(folders[1].folderClass, store::kClassAddressBook);

  std::vector<store::SourceItem> items;
  ASSERT_EQ(source->ListItems(folders[0], &items, &error), 0);
  const struct {
    const char *name;
    int index;
    const char *key;
  } expected[] = {
      {"a.VCF", 0, "uid:5d7b2c1e-8f4a-4b6e-9c1d-2a3b4c5d6e7f"},
      {"b.vcf #1 Carol Clark", 0, "uid:pas-id-5F3A1B2C00000001"},
      {"b.vcf #2 Book Club", 1, "uid:pas-id-5F3A1B2C00000002"},
      {"c.vcf", 0, ""},  // the loop reports a file that holds no card
  };
  ASSERT_EQ(items.size(), 4u);
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(items[i].name, expected[i].name);
    EXPECT_EQ(items[i].index, expected[i].index);
    EXPECT_EQ(items[i].key, expected[i].key);
  }
  vcard_test::Record record = vcard_test::NewRecord();
  record->msgSeq = 7;
  std::string subject, reason;
  std::vector<std::string> warnings;
  ASSERT_EQ(source->Convert(items[2], record.get(), &subject, &warnings, &reason), 0) << reason;
  EXPECT_EQ(subject, "Book Club");
  EXPECT_EQ(record->msgSeq, 7) << "the host's running number survives the reset";
  EXPECT_EQ(record->contactFlag, 1);
  EXPECT_EQ(record->recipCount, 3);
  EXPECT_EQ(source->Convert(items[3], record.get(), &subject, &warnings, &reason), -1);
  EXPECT_EQ(reason, in + "contacts/c.vcf holds no vCard");
}

// What the export writes, the import reads back field for field: the
// GroupWise writer gets the same contact and the same group again.
TEST_F(VcardStoreTest, ExportedCardsImportAsTheSameRecords) {
  Export({{"Alice's Contacts", vcard_test::FullContact}, {"Alice's Contacts", vcard_test::ProjectGroup},
          {"Kollegen", vcard_test::FoldedContact}});
  std::unique_ptr<store::ImportSource> source = vcard::MakeVcardImportSource(Out());
  std::vector<store::SourceFolder> folders;
  std::string error;
  ASSERT_EQ(source->ListFolders(&folders, &error), 0);
  ASSERT_EQ(folders.size(), 2u);
  std::vector<std::string> dumps;
  for (const store::SourceFolder &folder : folders) {
    std::vector<store::SourceItem> items;
    ASSERT_EQ(source->ListItems(folder, &items, &error), 0);
    for (const store::SourceItem &item : items) {
      vcard_test::Record record = vcard_test::NewRecord();
      std::string subject, reason;
      std::vector<std::string> warnings;
      ASSERT_EQ(source->Convert(item, record.get(), &subject, &warnings, &reason), 0) << reason;
      EXPECT_EQ(warnings, std::vector<std::string>{}) << item.name;
      dumps.push_back(folder.path + "\n" + vcard_test::Dump(*record));
    }
  }
  std::sort(dumps.begin(), dumps.end());
  // What the record held but a vCard does not carry back: the book path
  // (the import's folder says it) and the group member without an address;
  // categories come back each ended by ";", and a street holding a line
  // break as two street lines.
  vcard_test::Record ann = vcard_test::FullContact(), team = vcard_test::ProjectGroup(),
                     zoe = vcard_test::FoldedContact();
  for (HostMessage *r : {ann.get(), team.get(), zoe.get()}) r->bookPath[0] = '\0';
  CopyText(ann->categories, sizeof ann->categories, "Alice's Contacts;");
  CopyText(team->categories, sizeof team->categories, "Alice's Contacts;");
  CopyText(zoe->homeStreet, sizeof zoe->homeStreet, "Schöne Aussicht 12");
  CopyText(zoe->homeStreet2, sizeof zoe->homeStreet2, "Hinterhaus");
  team->recipCount = 3;
  std::vector<std::string> expected = {"Alice's Contacts\n" + vcard_test::Dump(*ann),
                                       "Alice's Contacts\n" + vcard_test::Dump(*team),
                                       "Kollegen\n" + vcard_test::Dump(*zoe)};
  team->recipCount = 4;  // the fourth member is freed with the record
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dumps, expected);
}

}  // namespace
