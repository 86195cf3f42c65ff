// vCard files as address-book programs export them, read into contact and
// group records: every field the GroupWise writer takes, and a warning for
// each thing the record cannot hold or that is not understood.
#include <gtest/gtest.h>

#include <cstring>

#include "host/vcard/vcard_reader.h"
#include "support/host_fixture.h"
#include "vcard/contact_records.h"

namespace {

struct ImportCase {
  const char *file;
  int index;  // card within the file
  const char *key;
  const char *record;
  std::vector<std::string> warnings;
  const char *why;
};

const ImportCase kCases[] = {
    {"thunderbird_old.vcf", 0, nullptr,
     "contactName=Ann Lee\nfirstName=Ann\nlastName=Lee\norganization=Example Inc.\ndepartment=Research\n"
     "title=Engineer\nemail=ann@example.com\nofficePhone=+1 555 0100\nmobilePhone=+1 555 0102\n"
     "faxPhone=+1 555 0103\nofficeStreet=1 Main St\nofficeStreet2=Suite 5\nofficeCity=Springfield\n"
     "officeState=IL\nofficePostalCode=62701\nofficeCountry=USA\nwebsite=https://example.com/ann\n",
     {"not imported (no such field in GroupWise): NOTE"},
     "old Thunderbird: lower-case names, version last, an untyped address as the office one"},
    {"thunderbird.vcf", 0, "uid:5d7b2c1e-8f4a-4b6e-9c1d-2a3b4c5d6e7f",
     "contactName=Jana Nováková\nfirstName=Jana\nlastName=Nováková\nemail=jana@example.org\n"
     "email2=jana.home@example.net\nofficePhone=+420 123 456 789\nmobilePhone=+420 777 888 999\n"
     "homeStreet=Dlouhá 5\nhomeStreet2=Byt 3\nhomeCity=Praha\nhomePostalCode=110 00\n"
     "homeCountry=Česká republika\nbirthday=02/29/1980\n",
     {"not imported (no such field in GroupWise): NOTE"},
     "Thunderbird 4.0: the extended address is the second street line; a leap-day birthday"},
    {"evolution.vcf", 0, "uid:pas-id-5F3A1B2C00000001",
     "contactName=Carol Clark\nfirstName=Carol\nlastName=Clark\norganization=Clark & Partners Ltd\n"
     "department=Consulting\ntitle=Senior Consultant, Europe\nemail=carol@example.com\n"
     "email2=carol.clark@home.example\nofficePhone=+44 20 7946 0000\nhomePhone=+44 20 7946 0001\n"
     "mobilePhone=+44 7700 900000\npagerPhone=+44 7700 900001\nofficeStreet=221B Baker Street\n"
     "officeCity=London\nofficePostalCode=NW1 6XE\nofficeCountry=United Kingdom\nbirthday=12/24/1980\n"
     "categories=Work;Friends;\nspouse=Frank Clark\nmanager=Dan Dorsey\nassistant=Eve Evans\n",
     {"not imported (no such field in GroupWise): NOTE, PHOTO"},
     "Evolution 3.0: its manager, assistant and spouse; a folded note and photo pass whole"},
    {"evolution.vcf", 1, "uid:pas-id-5F3A1B2C00000002",
     "contactFlag=1\ncontactName=Book Club\ntitle=Book Club\n"
     "member=Carol Clark <carol@example.com> kind 3\nmember=Grace Hopper <grace@example.org> kind 3\n"
     "member= <henry@example.net> kind 3\n",
     {}, "an Evolution list is a group, its e-mail lines the members"},
    {"google.vcf", 0, nullptr,
     "contactName=Hans Müller\nfirstName=Hans Peter\nlastName=Müller\norganization=Firma GmbH\n"
     "title=Entwickler\nemail=hans@example.de\nemail2=h.mueller@firma.example\nemail3=hpm@example.com\n"
     "homePhone=+49 89 1111111\nmobilePhone=+49 151 00000000\notherPhone=+49 89 0000000\n"
     "homeStreet=Hauptstraße 1\nhomeCity=Berlin\nhomePostalCode=10115\nhomeCountry=Deutschland\n"
     "website=https://example.de/hans\ncategories=myContacts;Starred in Android;\n",
     {"N: name prefix and suffix left out", "TEL: no free phone field for +49 89 2222222; left out",
      "TEL: no free phone field for +49 89 3333333; left out",
      "BDAY --05-12 has no year, which GroupWise needs; left out",
      "EMAIL: more than three addresses; hans.peter@example.org left out",
      "not imported (no such field in GroupWise): PHOTO"},
     "Google: a middle name joins the first; a fourth address, a third home phone and a yearless birthday are reported"},
    {"apple.vcf", 0, nullptr,
     "contactName=田中 雪\nfirstName=雪\nlastName=田中\norganization=株式会社例\nemail=yuki@example.jp\n"
     "email2=yuki@home.example.jp\nofficePhone=+81 3 0000 0000\nmobilePhone=+81 90 0000 0000\n"
     "faxPhone=+81 3 0000 0001\nofficeStreet=千代田1-1\nofficeCity=千代田区\nofficeState=東京都\n"
     "officePostalCode=100-0001\nofficeCountry=日本\n",
     {"BDAY 1604-03-15 has no year, which GroupWise needs; left out",
      "not imported (no such field in GroupWise): PHOTO, X-ABADR"},
     "Apple: type=pref makes the work address primary; the stand-in year 1604 is no year"},
    {"apple.vcf", 1, "uid:C0FFEE00-0000-0000-0000-000000000002", "contactFlag=1\ncontactName=Family\ntitle=Family\n",
     {"not imported (no such field in GroupWise): X-ADDRESSBOOKSERVER-MEMBER"},
     "an Apple group names its members by card, which a group record cannot hold"},
    {"phone_21_qp.vcf", 0, nullptr,
     "contactName=Jürgen Müller\nfirstName=Jürgen\nlastName=Müller\norganization=Beispiel AG\n"
     "department=Vertrieb\ntitle=Geschäftsführer =ZZ Süd\nemail=juergen@example.de\nemail2=jm@example.com\n"
     "officePhone=+49 30 1234567\nhomePhone=+49 30 7654321\nmobilePhone=+49 170 1234567\n"
     "faxPhone=+49 30 1234568\nofficeStreet=Straße 1\nofficeStreet2=Hinterhof\nofficeCity=München\n"
     "officePostalCode=80331\nofficeCountry=Deutschland\nbirthday=10/03/1966\n",
     {"TITLE: quoted-printable not understood; kept as it stands",
      "not imported (no such field in GroupWise): PHOTO"},
     "2.1: quoted-printable in Latin-1 and UTF-8, a soft break inside a character, a base64 photo to a blank line"},
};

class VcardReaderTest : public ::testing::Test {
 protected:
  std::vector<vcard::Card> Cards(const char *file) {
    std::string text = testing_support::ReadFileBytes(std::string(MVGWS_TEST_DATA) + "/vcard/import/" + file);
    EXPECT_FALSE(text.empty()) << file;
    return vcard::ParseCards(text);
  }
};

TEST_F(VcardReaderTest, ExportsOfAddressBookProgramsBecomeRecords) {
  for (const ImportCase &c : kCases) {
    SCOPED_TRACE(c.why);
    std::vector<vcard::Card> cards = Cards(c.file);
    ASSERT_LT(static_cast<size_t>(c.index), cards.size());
    vcard_test::Record record = vcard_test::NewRecord();
    record->itemKind = 0;
    std::vector<std::string> warnings;
    std::string reason;
    ASSERT_EQ(vcard::CardToRecord(cards[c.index], record.get(), &warnings, &reason), 0) << reason;
    EXPECT_EQ(record->itemKind, kItemContact);
    EXPECT_EQ(vcard_test::Dump(*record), c.record);
    EXPECT_EQ(warnings, c.warnings);
    if (c.key != nullptr) {
      EXPECT_EQ(vcard::CardKey(cards[c.index]), c.key);
    }
  }
}

TEST_F(VcardReaderTest, CardsWithoutUidAreKeyedByTheirText) {
  std::vector<vcard::Card> a = Cards("google.vcf"), b = Cards("google.vcf");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(vcard::CardKey(a[0]).substr(0, 7), "sha256:");
  EXPECT_EQ(vcard::CardKey(a[0]), vcard::CardKey(b[0])) << "the same card, the same key in every run";
  std::vector<vcard::Card> other = vcard::ParseCards("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Other\r\nEND:VCARD\r\n");
  EXPECT_NE(vcard::CardKey(a[0]), vcard::CardKey(other[0]));
}

struct RejectCase {
  const char *text;
  size_t cards;
  const char *reason;  // "" when the card is taken
  const char *why;
};

TEST_F(VcardReaderTest, BrokenFilesAreReportedNotGuessedAt) {
  const RejectCase cases[] = {
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cut Short\r\nEMAIL:c@example.com\r\n", 1,
       "the card has no END:VCARD line (file cut short?)", "a file that ends inside a card"},
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:only a note\r\nEND:VCARD\r\n", 1,
       "the card has no name, organization or e-mail address", "a card that names nobody"},
      {"some text\r\nthat is no vCard\r\n", 0, "", "a file without cards holds no items"},
      {"BEGIN:VCARD\rVERSION:3.0\rFN:Old Mac\rEND:VCARD\r", 1, "", "lone CR line ends"},
      {"BEGIN:VCARD\nVERSION:2.1\nFN:Outer\nAGENT:\nBEGIN:VCARD\nVERSION:2.1\nFN:Inner\nEND:VCARD\n"
       "EMAIL:outer@example.com\nEND:VCARD\n",
       1, "", "a card nested in another (2.1 AGENT) does not end its parent"},
  };
  for (const RejectCase &c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<vcard::Card> cards = vcard::ParseCards(c.text);
    ASSERT_EQ(cards.size(), c.cards);
    if (cards.empty()) continue;
    vcard_test::Record record = vcard_test::NewRecord();
    std::string reason;
    int result = vcard::CardToRecord(cards[0], record.get(), nullptr, &reason);
    EXPECT_EQ(result, c.reason[0] == '\0' ? 0 : -1);
    EXPECT_EQ(reason, c.reason);
  }
  std::vector<vcard::Card> nested = vcard::ParseCards(cases[4].text);
  vcard_test::Record record = vcard_test::NewRecord();
  std::string reason;
  ASSERT_EQ(vcard::CardToRecord(nested[0], record.get(), nullptr, &reason), 0);
  EXPECT_STREQ(record->contactName, "Outer");
  EXPECT_STREQ(record->email, "outer@example.com");
}

}  // namespace
