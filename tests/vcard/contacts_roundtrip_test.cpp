// Address books end to end with the real mvmigrate against the simulator:
// alice's books exported as vdirs, imported into bob's empty book, bob's
// book exported again. Every contact and group comes back as it left; the
// only new cards are the member contacts GroupWise needs for a group.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "support/host_fixture.h"
#include "support/mvmigrate_process.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunResult;
using testing_support::WriteFileBytes;

std::vector<std::string> Entries(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// A card's lines with what names its place left out (UID, PRODID and the
// book in CATEGORIES), unfolded, joined by "|".
std::string Normalized(const std::string &text) {
  std::string unfolded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "\r\n ") == 0) {
      i += 2;
      continue;
    }
    unfolded += text[i];
  }
  std::string out;
  size_t pos = 0;
  while (pos < unfolded.size()) {
    size_t end = unfolded.find("\r\n", pos);
    if (end == std::string::npos) end = unfolded.size();
    std::string line = unfolded.substr(pos, end - pos);
    pos = end + 2;
    if (line.compare(0, 4, "UID:") == 0 || line.compare(0, 7, "PRODID:") == 0 || line.compare(0, 11, "CATEGORIES:") == 0)
      continue;
    out += line + "|";
  }
  return out;
}

// Every card below out/contacts, normalized, sorted.
std::vector<std::string> Cards(const std::string &out) {
  std::vector<std::string> cards;
  for (const std::string &book : Entries(out + "/contacts"))
    for (const std::string &file : Entries(out + "/contacts/" + book))
      cards.push_back(Normalized(ReadFileBytes(out + "/contacts/" + book + "/" + file)));
  std::sort(cards.begin(), cards.end());
  return cards;
}

class ContactsRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<gwsim::Server>(gwsim::Options());
    ASSERT_TRUE(server_->Start()) << server_->LastError();
    ASSERT_TRUE(WriteFileBytes(host_.root() + "/alice.pw", "secret\n"));
    ASSERT_TRUE(WriteFileBytes(host_.root() + "/bob.pw", "hunter2\n"));
  }
  void TearDown() override { server_->Stop(); }

  RunResult Run(const std::string &out, const std::string &command, const std::string &user) {
    return testing_support::RunMvmigrate("-q --out '" + out + "' " + command + " --server " + server_->url() +
                                         " --user " + user + " --password-file '" + host_.root() + "/" + user +
                                         ".pw' 2>&1");
  }

  testing_support::TestHost host_;
  std::unique_ptr<gwsim::Server> server_;
};

TEST_F(ContactsRoundTripTest, ContactsAndGroupsComeBackAsTheyLeft) {
  const std::string first = host_.root() + "/first", second = host_.root() + "/second";
  RunResult r = Run(first, "export --no-rules --folder \"Alice's Contacts\" --folder \"Frequent Contacts\"", "alice");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::vector<std::string> exported = Cards(first);
  ASSERT_EQ(exported.size(), 5u) << "four entries of Alice's Contacts and one of Frequent Contacts";
  r = Run(host_.root() + "/import", "import --in '" + first + "'", "bob");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  r = Run(second, "export --no-rules --folder \"Bob's Contacts\"", "bob");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::vector<std::string> back = Cards(second);

  // The group's members, created as contacts of their own before the group
  // that lists them: a display name and an address.
  std::vector<std::string> expected = exported;
  for (const std::string &card : exported) {
    if (card.find("KIND:group|") == std::string::npos) continue;
    size_t pos = 0;
    while ((pos = card.find("MEMBER;X-CN=\"", pos)) != std::string::npos) {
      size_t nameEnd = card.find('"', pos + 13);
      size_t addressEnd = card.find('|', nameEnd);
      std::string name = card.substr(pos + 13, nameEnd - pos - 13);
      std::string address = card.substr(nameEnd + 9, addressEnd - nameEnd - 9);  // after "\":mailto:"
      expected.push_back("BEGIN:VCARD|VERSION:4.0|FN:" + name + "|N:" + name + ";;;;|EMAIL;PREF=1:" + address +
                         "|END:VCARD|");
      pos = addressEnd;
    }
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected.size(), 8u) << "the demo's group has three members";
  EXPECT_EQ(back, expected);
}

}  // namespace
