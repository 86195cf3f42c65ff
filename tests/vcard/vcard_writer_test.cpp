// The vCard writer against golden cards, and the rules that decide a card's
// display name, birthday and UID.
#include <gtest/gtest.h>

#include <cstdlib>

#include "host/vcard/vcard_text.h"
#include "host/vcard/vcard_writer.h"
#include "support/host_fixture.h"
#include "vcard/contact_records.h"

namespace {

using testing_support::ReadFileBytes;
using vcard_test::Record;

std::string Golden(const char *name) { return std::string(MVGWS_TEST_DATA) + "/vcard/writer/" + name; }

struct GoldenCase {
  Record (*make)();
  const char *golden;
  std::vector<std::string> warnings;
  const char *why;
};

TEST(VcardWriterTest, CardsMatchTheirGoldenFiles) {
  const GoldenCase cases[] = {
      {vcard_test::FullContact, "full_contact.vcf", {}, "every field the address-book reader fills"},
      {vcard_test::FoldedContact, "folded_contact.vcf", {},
       "lines over 75 octets fold between UTF-8 sequences; , ; \\ and line ends are escaped"},
      {vcard_test::ProjectGroup, "group.vcf",
       {"group member \"No Address\" has no e-mail address; left out"},
       "a group: KIND:group, one MEMBER:mailto: per member with an address, names as X-CN"},
  };
  for (const GoldenCase &c : cases) {
    SCOPED_TRACE(c.why);
    Record record = c.make();
    std::vector<std::string> warnings;
    std::string text = vcard::CardText(*record, &warnings);
    EXPECT_EQ(text, ReadFileBytes(Golden(c.golden))) << c.golden;
    EXPECT_EQ(warnings, c.warnings);
  }
}

struct NameCase {
  const char *contactName, *first, *last, *organization, *email;
  int group;
  const char *title;
  const char *expected;
  const char *why;
};

TEST(VcardWriterTest, DisplayNameFollowsTheFirstFieldThatIsSet) {
  const NameCase cases[] = {
      {"Lee, Ann", "Ann", "Lee", "", "", 0, "", "Lee, Ann", "the name GroupWise shows wins"},
      {"", "Ann", "Lee", "Org", "", 0, "", "Ann Lee", "first and last name joined"},
      {"", "", "Lee", "Org", "", 0, "", "Lee", "only a last name"},
      {"", "Ann", "", "Org", "", 0, "", "Ann", "only a first name"},
      {"", "", "", "Example Inc.", "x@example.com", 0, "", "Example Inc.", "an organization's card"},
      {"", "", "", "", "x@example.com", 0, "", "x@example.com", "only an address"},
      {"", "", "", "", "", 0, "", "No Name", "nothing at all"},
      {"Team", "", "", "", "", 1, "Project Team", "Project Team", "a group by its name"},
      {"Team", "", "", "", "", 1, "", "Team", "a group without a name falls back to its contact name"},
  };
  for (const NameCase &c : cases) {
    SCOPED_TRACE(c.why);
    Record r = vcard_test::NewRecord();
    CopyText(r->contactName, sizeof r->contactName, c.contactName);
    CopyText(r->firstName, sizeof r->firstName, c.first);
    CopyText(r->lastName, sizeof r->lastName, c.last);
    CopyText(r->organization, sizeof r->organization, c.organization);
    CopyText(r->email, sizeof r->email, c.email);
    CopyText(r->title, sizeof r->title, c.title);
    r->contactFlag = c.group;
    EXPECT_EQ(vcard::CardDisplayName(*r), c.expected);
  }
}

struct BirthdayCase {
  const char *birthday;
  const char *line;  // expected BDAY line, "" for none
  size_t warnings;
  const char *why;
};

TEST(VcardWriterTest, BirthdaysBecomeDatesOrWarnings) {
  const BirthdayCase cases[] = {
      {"04/09/1975", "BDAY:19750409\r\n", 0, "the reader's month/day/year"},
      {"4/9/1975", "BDAY:19750409\r\n", 0, "single digits padded"},
      {"12/24", "BDAY:--1224\r\n", 0, "no year: the vCard form without one"},
      {"13/01/1980", "", 1, "month 13 is no date"},
      {"1975-04-09", "", 1, "another form is not guessed at"},
      {"", "", 0, "no birthday, no line and nothing to warn of"},
  };
  for (const BirthdayCase &c : cases) {
    SCOPED_TRACE(c.why);
    Record r = vcard_test::NewRecord();
    CopyText(r->lastName, sizeof r->lastName, "Lee");
    CopyText(r->birthday, sizeof r->birthday, c.birthday);
    std::vector<std::string> warnings;
    std::string text = vcard::CardText(*r, &warnings);
    size_t at = text.find("BDAY");
    EXPECT_EQ(at == std::string::npos ? "" : text.substr(at, text.find("\r\n", at) + 2 - at), c.line);
    EXPECT_EQ(warnings.size(), c.warnings);
  }
}

TEST(VcardWriterTest, UidIsStableAndTellsEntriesApart) {
  Record a = vcard_test::FullContact(), b = vcard_test::FullContact();
  EXPECT_EQ(vcard::CardUid(*a), vcard::CardUid(*b)) << "same entry, same UID in every run";
  EXPECT_EQ(vcard::CardUid(*a), "67ac68b7-5bdd-8c79-89b7-8d7df983eb01") << "the UID may not change between versions";
  CopyText(b->homePhone, sizeof b->homePhone, "+1 555 9999");
  EXPECT_EQ(vcard::CardUid(*a), vcard::CardUid(*b)) << "a changed phone is the same entry";
  CopyText(b->bookPath, sizeof b->bookPath, "Frequent Contacts");
  EXPECT_NE(vcard::CardUid(*a), vcard::CardUid(*b)) << "the same person in another book is another entry";
  Record g1 = vcard_test::ProjectGroup(), g2 = vcard_test::ProjectGroup();
  vcard_test::AddMember(g2.get(), "Eve", "eve@example.com");
  EXPECT_NE(vcard::CardUid(*g1), vcard::CardUid(*g2)) << "groups with other members are other entries";
  CopyText(a->messageId, sizeof a->messageId, "4A1B2C3D.DOM.PO.100.1.1.1@54");
  CopyText(b->messageId, sizeof b->messageId, "4A1B2C3D.DOM.PO.100.1.1.1@54");
  EXPECT_EQ(vcard::CardUid(*a), vcard::CardUid(*b)) << "a GroupWise id decides alone";
}

}  // namespace
