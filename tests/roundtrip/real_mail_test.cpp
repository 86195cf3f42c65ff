// Real mail both ways: the Python email test corpus (mail other programs
// wrote: multipart, digests, attached messages, several charsets, broken
// structure) imported into an empty simulator mailbox and exported again.
// Every distinct message must come back; per header and part the test
// counts what arrives identical and prints the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "maildir/message_readback.h"
#include "support/host_fixture.h"

namespace {

using readback::ListDirectory;
using readback::Message;
using readback::ReadMessageFile;
using testing_support::ReadFileBytes;
using testing_support::RunResult;
using testing_support::TestHost;
using testing_support::WriteFileBytes;

// Debian's libpython3.11-testsuite (scripts/install-deps.sh installs it).
const char kCorpus[] = "/usr/lib/python3.11/test/test_email/data";

const char kMailbox[] =
    "<gwsim>\n"
    "  <user name=\"bob\" password=\"hunter2\" displayName=\"Bob Brown\" email=\"bob@example.com\">\n"
    "    <folder name=\"Mailbox\" type=\"Mailbox\"/>\n"
    "  </user>\n"
    "</gwsim>\n";

std::string Addresses(const std::vector<readback::Address> &list) {
  std::string out;
  for (const readback::Address &a : list) out += a.name + " <" + a.address + ">;";
  return out;
}

// Line ends as the exported file has them: a text part's CR LF becomes LF.
std::string Lf(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// The headers compared, by name.
std::map<std::string, std::string> Headers(const Message &m) {
  return {{"Subject", m.subject}, {"From", Addresses(m.from)}, {"To", Addresses(m.to)},
          {"Cc", Addresses(m.cc)}, {"Date", std::to_string(m.date)}};
}

// How many fields of `after` are those of `before`: headers, then each
// part of before found with the same bytes in after.
int Likeness(const Message &before, const Message &after) {
  int same = 0;
  std::map<std::string, std::string> a = Headers(before), b = Headers(after);
  for (const auto &h : a) same += b[h.first] == h.second;
  for (const readback::Leaf &leaf : before.leaves)
    for (const readback::Leaf &other : after.leaves)
      if (Lf(other.bytes) == Lf(leaf.bytes)) {
        ++same;
        break;
      }
  return same;
}

// Identical and compared, per header or part property.
struct Tally {
  int same = 0, total = 0;
};

class RealMailRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gwsim::Options options;
    server_ = std::make_unique<gwsim::Server>(options);
    {
      auto lock = server_->mailbox().Lock();
      std::string error;
      ASSERT_TRUE(gwsim::LoadMailboxText(kMailbox, "corpus", &server_->mailbox(), &error)) << error;
    }
    ASSERT_TRUE(server_->Start()) << server_->LastError();
    ASSERT_TRUE(WriteFileBytes(host_.root() + "/bob.pw", "hunter2\n"));
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }
  std::string Logon() const {
    return "--server " + server_->url() + " --user bob --password-file '" + host_.root() + "/bob.pw'";
  }
  static RunResult Run(const std::string &args) {
    return testing_support::RunCommand("'" + std::string(MVMIGRATE_PATH) + "' " + args);
  }

  TestHost host_;
  std::unique_ptr<gwsim::Server> server_;
};

TEST_F(RealMailRoundTripTest, EveryDistinctMessageComesBack) {
  std::vector<std::string> names;
  for (const std::string &name : ListDirectory(kCorpus))
    if (name.compare(0, 4, "msg_") == 0) names.push_back(name);
  ASSERT_GE(names.size(), 40u) << "the Python email test corpus is missing: run scripts/install-deps.sh";

  // The corpus as a Maildir folder, each distinct message once.
  const std::string tree = host_.root() + "/tree", cur = tree + "/mail/Mailbox/cur";
  for (const char *sub : {"cur", "new", "tmp"}) std::filesystem::create_directories(tree + "/mail/Mailbox/" + sub);
  std::set<std::string> seen;
  std::map<std::string, Message> before;  // by corpus file name
  int n = 0;
  for (const std::string &name : names) {
    const std::string bytes = ReadFileBytes(std::string(kCorpus) + "/" + name);
    if (!seen.insert(bytes).second) continue;
    const std::string file = cur + "/1600000" + std::to_string(100 + n++) + ".M1P1.corpus:2,S";
    ASSERT_TRUE(WriteFileBytes(file, bytes));
    before[name] = ReadMessageFile(file);
  }
  RunResult r = Run("-q --out '" + host_.root() + "/imported' import --in '" + tree + "' " + Logon());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string second = host_.root() + "/second";
  r = Run("-q --out '" + second + "' export " + Logon());
  ASSERT_EQ(r.exitCode, 0) << r.output;

  std::vector<Message> after;
  for (const std::string &name : ListDirectory(second + "/mail/Mailbox/cur"))
    after.push_back(ReadMessageFile(second + "/mail/Mailbox/cur/" + name));

  // Pairs are taken most alike first, so that a message that did not come
  // back is the one left over, not one whose twin was taken early.
  struct Pair {
    int likeness;
    std::string name;
    size_t exported;
  };
  std::vector<Pair> pairs;
  for (const auto &entry : before)
    for (size_t i = 0; i < after.size(); ++i) pairs.push_back({Likeness(entry.second, after[i]), entry.first, i});
  std::stable_sort(pairs.begin(), pairs.end(), [](const Pair &x, const Pair &y) { return x.likeness > y.likeness; });
  std::map<std::string, size_t> matched;
  std::vector<bool> taken(after.size(), false);
  for (const Pair &p : pairs) {
    if (taken[p.exported] || matched.count(p.name) != 0) continue;
    taken[p.exported] = true;
    matched[p.name] = p.exported;
  }
  std::map<std::string, Tally> tallies;
  std::vector<std::string> missing;
  for (const auto &entry : before) {
    const Message &m = entry.second;
    if (matched.count(entry.first) == 0) {
      missing.push_back(entry.first + " \"" + m.subject + "\"");
      continue;
    }
    const size_t best = matched[entry.first];
    const Message &e = after[best];
    std::map<std::string, std::string> a = Headers(m), b = Headers(e);
    for (const auto &h : a) {
      Tally &t = tallies["header " + h.first];
      ++t.total;
      t.same += b[h.first] == h.second;
    }
    // Parts: found by their bytes; the first text part is the body.
    for (size_t i = 0; i < m.leaves.size(); ++i) {
      const readback::Leaf &leaf = m.leaves[i];
      const bool body = i == 0 && leaf.filename.empty() && leaf.type.compare(0, 5, "text/") == 0;
      const std::string kind = body ? "body" : "part";
      const readback::Leaf *match = nullptr;
      for (const readback::Leaf &other : e.leaves)
        if (Lf(other.bytes) == Lf(leaf.bytes)) match = &other;
      Tally &bytes = tallies[kind + " bytes"];
      ++bytes.total;
      bytes.same += match != nullptr;
      if (body) continue;
      Tally &type = tallies["part type"];
      ++type.total;
      type.same += match != nullptr && match->type == leaf.type;
      Tally &fileName = tallies["part file name"];
      ++fileName.total;
      fileName.same += match != nullptr && match->filename == leaf.filename;
    }
  }
  std::cout << "Real mail round trip: " << before.size() << " distinct messages, " << after.size()
            << " exported\n";
  for (const auto &t : tallies)
    std::cout << "  " << t.first << ": " << t.second.same << " of " << t.second.total << " identical\n";

  EXPECT_TRUE(missing.empty()) << "messages that did not come back: " << ::testing::PrintToString(missing);
  EXPECT_EQ(after.size(), before.size()) << "one exported message per distinct message";
}

}  // namespace
