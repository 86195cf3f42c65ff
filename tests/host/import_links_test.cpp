// Links placed in a tree handed to the import, through every format's
// source: nothing from outside the tree is listed, each link passed over is
// named once, and links within the tree are read as they stand.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/store/item_store.h"
#include "support/host_fixture.h"

namespace fs = std::filesystem;

namespace {

const char kMail[] = "Subject: m\n\nm\n";
const char kEvent[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e1\r\nDTSTART:20240101T100000Z\r\n"
    "SUMMARY:E\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
const char kCard[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\nUID:c1\r\nEND:VCARD\r\n";

class ImportLinksTest : public ::testing::Test {
 protected:
  void Put(const fs::path &file, const char *bytes) {
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(testing_support::WriteFileBytes(file.string(), bytes));
  }
  // One tree of every format, and a directory outside it with items of each.
  void Build() {
    fs::remove_all(In());
    fs::remove_all(Out());
    for (const char *sub : {"cur", "new", "tmp"}) {
      fs::create_directories(In() / "mail/Mailbox" / sub);
      fs::create_directories(Out() / "maildir" / sub);
    }
    Put(In() / "mail/Mailbox/cur/1:2,S", kMail);
    Put(In() / "calendars/Calendar/a.ics", kEvent);
    Put(In() / "contacts/Contacts/a.vcf", kCard);
    Put(Out() / "maildir/cur/9:2,S", kMail);
    Put(Out() / "secret.ics", kEvent);
    Put(Out() / "secret.vcf", kCard);
    Put(Out() / "cal/x.ics", kEvent);
  }
  fs::path In() const { return fs::path(host_.root()) / "in"; }
  fs::path Out() const { return fs::path(host_.root()) / "out"; }
  testing_support::TestHost host_;
};

TEST_F(ImportLinksTest, EveryFormatKeepsToTheTreeAndNamesEachLinkPassedOver) {
  struct Case {
    const char *why;
    const char *link;    // below the tree
    const char *target;  // "out/..." outside the tree, "in/..." inside it
    std::vector<std::string> items;    // "folder|file" for every item listed
    std::vector<std::string> skipped;  // link below the tree, "|", the reason
  };
  const char kOut[] = "a link leading outside the imported tree, not followed";
  const std::vector<std::string> plain = {"Calendar|a.ics", "Contacts|a.vcf", "Mailbox|1:2,S"};
  const Case cases[] = {
      {"a message file to a file outside", "mail/Mailbox/cur/2:2,S", "out/secret.ics", plain,
       {"mail/Mailbox/cur/2:2,S|" + std::string(kOut)}},
      {"a Maildir folder to a Maildir outside", "mail/Stolen", "out/maildir", plain,
       {"mail/Stolen|" + std::string(kOut)}},
      {"the whole mail tree to a Maildir outside", "mail", "out/maildir",
       {"Calendar|a.ics", "Contacts|a.vcf"}, {"mail|" + std::string(kOut)}},
      {"a calendar file to a file outside", "calendars/Calendar/b.ics", "out/secret.ics", plain,
       {"calendars/Calendar/b.ics|" + std::string(kOut)}},
      {"a calendar directory to one outside", "calendars/Team", "out/cal", plain,
       {"calendars/Team|" + std::string(kOut)}},
      {"a loose calendar file to a file outside", "exports/x.ics", "out/secret.ics", plain,
       {"exports/x.ics|" + std::string(kOut)}},
      {"a card file to a file outside", "contacts/Contacts/b.vcf", "out/secret.vcf", plain,
       {"contacts/Contacts/b.vcf|" + std::string(kOut)}},
      {"an address book directory to one outside", "contacts/Team", "out", plain,
       {"contacts/Team|" + std::string(kOut)}},
      {"a calendar file to one inside the tree is read", "calendars/Calendar/b.ics",
       "in/calendars/Calendar/a.ics",
       {"Calendar|a.ics", "Calendar|b.ics", "Contacts|a.vcf", "Mailbox|1:2,S"}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_NO_FATAL_FAILURE(Build());
    const std::string target = c.target;
    const fs::path to = (target.compare(0, 3, "in/") == 0 ? In() : Out()) / target.substr(target.find('/') + 1);
    fs::create_directories((In() / c.link).parent_path());
    fs::remove_all(In() / c.link);  // the whole mail tree is replaced by a link
    fs::create_symlink(target == "out" ? Out() : to, In() / c.link);

    std::vector<std::string> items, skipped;
    for (const auto &source : store::MakeImportSources(In().string())) {
      std::vector<store::SourceFolder> folders;
      std::string error;
      ASSERT_EQ(source->ListFolders(&folders, &error), 0) << error;
      for (const store::SourceFolder &f : folders) {
        std::vector<store::SourceItem> listed;
        ASSERT_EQ(source->ListItems(f, &listed, &error), 0) << error;
        for (const store::SourceItem &item : listed) items.push_back(f.path + "|" + item.name);
      }
      for (const std::string &text : source->TakeSkippedLinks()) {
        const std::string prefix = In().string() + "/";
        ASSERT_EQ(0u, text.find(prefix)) << text;
        const size_t colon = text.find(": ");
        skipped.push_back(text.substr(prefix.size(), colon - prefix.size()) + "|" + text.substr(colon + 2));
      }
    }
    std::sort(items.begin(), items.end());
    EXPECT_EQ(c.items, items);
    EXPECT_EQ(c.skipped, skipped);
  }
}

}  // namespace
