// Exported address books as other programs read them: every card of a
// vdir written by the export store must list and show in khard without a
// warning (names, e-mail addresses with the primary one first, phones,
// groups) and parse in Python's vobject with the values we meant.
#include <gtest/gtest.h>

#include <dirent.h>

#include <memory>

#include "host/vcard/vcard_store.h"
#include "host/vcard/vcard_writer.h"
#include "support/host_fixture.h"
#include "vcard/contact_records.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::WriteFileBytes;

// The text as one shell word (the book "Alice's Contacts" has a quote).
std::string Quote(const std::string &text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct ToolCase {
  vcard_test::Record (*make)();
  const char *book;            // address book the card is exported in
  const char *khardList;       // khard's list line, blanks collapsed
  const char *khardShow;       // a stretch of `khard show --format yaml`
  const char *vobject;         // what vobject reads of the card
  const char *why;
};

const ToolCase kCases[] = {
    {vcard_test::FullContact, "Alice's Contacts",
     "Ann Lee cell: +1 555 0102 pref=1: ann@example.com individual",
     "First name: Ann\nAdditional:\nLast name: Lee\n",
     "FN: Ann Lee\nN: Lee|Ann\nORG: Example, Inc. / R&D; Labs\nTITLE: Engineer\n"
     "EMAIL;PREF=1: ann@example.com\nEMAIL;PREF=2: ann.lee@home.example\n"
     "TEL;TYPE=work,voice: +1 555 0100\nTEL;TYPE=home,voice: +1 555 0101\nTEL;TYPE=cell: +1 555 0102\n"
     "TEL;TYPE=work,fax: +1 555 0103\nTEL;TYPE=pager: +1 555 0104\nTEL;TYPE=voice: +1 555 0105\n"
     "ADR;TYPE=work: 1 Main St/Suite 5|Springfield|IL|62701|USA\nADR;TYPE=home: 2 Elm Rd|Shelbyville||62565|\n"
     "BDAY: 19750409\nURL: https://example.com/ann\nCATEGORIES: Alice's Contacts\n"
     "RELATED;TYPE=spouse;VALUE=text: Bob Lee\nX-MANAGER: Carol Clark\n",
     "a contact with every field"},
    {vcard_test::FullContact, "Alice's Contacts", nullptr,
     "Email:\n    pref=1: ann@example.com\n    pref=2: ann.lee@home.example\n", nullptr,
     "the primary address first"},
    {vcard_test::FullContact, "Alice's Contacts", nullptr,
     "Phone:\n    cell: +1 555 0102\n    home, voice: +1 555 0101\n    pager: +1 555 0104\n    voice: +1 555 0105\n"
     "    work, fax: +1 555 0103\n    work, voice: +1 555 0100\n",
     nullptr, "every phone with its type"},
    {vcard_test::FoldedContact, "Kollegen",
     "Zoë Ångström-Øster, Jr. pref=1: zoe@example.de individual",
     "First name: Zoë\nAdditional:\nLast name: Ångström-Øster, Jr.\n",
     "FN: Zoë Ångström-Øster, Jr.\nN: Ångström-Øster, Jr.|Zoë\n"
     "ORG: Überregionale Gesellschaft für Straßen- und Brückenbau; Abteilung Süd \\ Nord\n"
     "TITLE: Leiterin der Planungsgruppe für Brücken, Tunnel und Überführungen im Großraum München\n"
     "EMAIL;PREF=1: zoe@example.de\nADR;TYPE=home: Schöne Aussicht 12/Hinterhaus|München|||\n"
     "CATEGORIES: Kollegen / Privat\n",
     "folded lines and escaped characters come back whole"},
    {vcard_test::ProjectGroup, "Alice's Contacts", "Project Team group", "Kind: group\n",
     "KIND: group\nFN: Project Team\nCATEGORIES: Alice's Contacts\nMEMBER;X-CN=Ann Lee: mailto:ann@example.com\n"
     "MEMBER: mailto:bob@example.com\nMEMBER;X-CN=Dan ^'The Man^' Dorsey: mailto:dan+list@example.com\n",
     "a group with its members"},
};

class VcardToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = host_.root() + "/out/";
    std::unique_ptr<store::ExportStore> store = vcard::MakeVcardExportStore(out_);
    for (const ToolCase &c : kCases) {
      vcard_test::Record record = c.make();
      std::string error;
      ASSERT_EQ(store->OpenFolder(c.book, &error), 0) << error;
      int result = store->Write(*record, host_.workDir(), nullptr, nullptr, &error);
      ASSERT_TRUE(result == store::kStored || result == store::kAlreadyPresent) << error;
      ASSERT_EQ(store->Sync(&error), 0) << error;
    }
    // One khard address book per exported book directory.
    std::string config = "[addressbooks]\n";
    for (const char *book : {"Alice's Contacts", "Kollegen"})
      config += std::string("[[") + (book[0] == 'A' ? "alice" : "kollegen") + "]]\npath = " +
                vcard::BookDirectory(out_ + "contacts", book) + "/\n";
    config += "[general]\ndebug = no\ndefault_action = list\neditor = /bin/true\nmerge_editor = /bin/true\n";
    config_ = host_.root() + "/khard.conf";
    ASSERT_TRUE(WriteFileBytes(config_, config));
  }

  // Runs khard with our configuration; stderr goes to a file of its own.
  std::string Khard(const std::string &arguments, std::string *errors) {
    std::string errFile = host_.root() + "/khard.err";
    testing_support::RunResult r = RunCommand("khard -c " + Quote(config_) + " " + arguments + " 2>" + Quote(errFile));
    *errors = ReadFileBytes(errFile);
    EXPECT_EQ(r.exitCode, 0) << arguments << "\n" << r.output << *errors;
    return r.output;
  }

  std::string CardPath(const ToolCase &c) {
    vcard_test::Record record = c.make();
    return vcard::BookDirectory(out_ + "contacts", c.book) + "/" + vcard::CardUid(*record) + ".vcf";
  }

  testing_support::TestHost host_;
  std::string out_, config_;
};

std::string CollapseBlanks(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ' || out.back() == '\n')) continue;
    if (c == '\n' && !out.empty() && out.back() == ' ') out.pop_back();
    out += c;
  }
  return out;
}

TEST_F(VcardToolsTest, KhardListsEveryCardWithoutAWarning) {
  std::string errors;
  std::string list = CollapseBlanks(Khard("list", &errors));
  EXPECT_EQ(errors, "");
  for (const ToolCase &c : kCases) {
    if (c.khardList == nullptr) continue;
    SCOPED_TRACE(c.why);
    EXPECT_NE(list.find(c.khardList), std::string::npos) << list;
  }
}

TEST_F(VcardToolsTest, KhardShowsNamesAddressesPhonesAndGroups) {
  for (const ToolCase &c : kCases) {
    SCOPED_TRACE(c.why);
    vcard_test::Record record = c.make();
    std::string errors;
    bool yaml = std::string(c.khardShow).find("Kind:") == std::string::npos;
    std::string shown = Khard(std::string("show ") + (yaml ? "--format yaml " : "") + "uid:urn:uuid:" +
                                  vcard::CardUid(*record),
                              &errors);
    EXPECT_EQ(errors, "");
    EXPECT_NE(shown.find(c.khardShow), std::string::npos) << shown;
  }
}

TEST_F(VcardToolsTest, VobjectReadsWhatWeMeant) {
  for (const ToolCase &c : kCases) {
    if (c.vobject == nullptr) continue;
    SCOPED_TRACE(c.why);
    std::string script = std::string(MVGWS_SOURCE_DIR) + "/tests/vcard/read_vcards.py";
    testing_support::RunResult r = RunCommand("/usr/bin/python3 " + Quote(script) + " " + Quote(CardPath(c)) + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, c.vobject);
  }
}

}  // namespace
