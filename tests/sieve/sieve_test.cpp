// Mail rules into Sieve: the script for a rules file of every kind of rule
// (golden file), compiled by Pigeonhole's sievec; and the export step that
// copies the rules file out of the work directory beside its script.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "host/sieve/rules_export.h"
#include "host/sieve/rules_file.h"
#include "host/sieve/sieve_script.h"
#include "support/host_fixture.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

std::string Data(const char *name) { return std::string(MVGWS_TEST_DATA) + "/sieve/" + name; }

TEST(SieveTest, RulesBecomeTheGoldenScript) {
  std::vector<sieve::MailRule> rules = sieve::ParseRulesFile(ReadFileBytes(Data("mboxrules.dat")));
  sieve::ScriptCounts counts;
  std::vector<std::string> warnings;
  EXPECT_EQ(sieve::SieveScript(rules, &counts, &warnings), ReadFileBytes(Data("rules.sieve")));
  EXPECT_EQ(counts.rules, 13);
  EXPECT_EQ(counts.converted, 5);
  EXPECT_EQ(counts.commented, 8);
  EXPECT_EQ(counts.disabled, 1);
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          "rule \"Spam\" kept as a comment: it is disabled in GroupWise",
                          "rule \"Invoices\" kept as a comment: the condition \"message contains invoice\" tests "
                          "the message text, which needs the Sieve body extension",
                          "rule \"Meetings\" kept as a comment: it applies to appointments or tasks only, which "
                          "Sieve does not see",
                          "rule \"Internal forward\" kept as a comment: its forward names no Internet address "
                          "(GroupWise users only)",
                          "rule \"Lost folder\" kept as a comment: it moves to a folder the mailbox no longer has",
                          "rule \"Sent copies\" kept as a comment: it applies to sent items only, which Sieve "
                          "does not see",
                          "rule \"Old mail\" kept as a comment: the field \"delivered\" in \"delivered smaller "
                          "2020-01-01\" has no Sieve test",
                          "rule \"Odd address\" kept as a comment: its forward address \"Bob Lee@x.org\" is not "
                          "one Sieve can redirect to",
                      }));
}

struct RuleCase {
  const char *block;   // one rule of the rules file
  const char *script;  // the script's part after its three heading comment lines
  const char *why;
};

TEST(SieveTest, EachRuleSaysWhatItCan) {
  const RuleCase cases[] = {
      {"Name=All\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n",
       "require [\"imap4flags\"];\n\n# Rule \"All\"\nif true {\n  addflag \"\\\\Seen\";\n}\n",
       "no condition: every received mail"},
      {"Name=F\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=Forward TO=a@x.org;\nFilter=subject eq Hi\n^\n",
       "\n# Rule \"F\"\nif header :is \"subject\" \"Hi\" {\n  redirect \"a@x.org\";\n  keep;\n}\n",
       "a forward keeps the mail, as GroupWise does"},
      {"Name=D\nTypes=1 0 0\nSource=1 1\nEnabled=1\nAction=Move Cabinet^A\nAction=Delete \n^\n",
       "require [\"fileinto\"];\n\n# Rule \"D\"\n# the move to \"Cabinet^A\" is left out: the rule deletes the item too\n"
       "if true {\n  fileinto \"Trash\";\n}\n",
       "a delete goes to the Trash and outweighs a move"},
      {"Name=Cut\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=Delete \nFilter=subject contains x\n",
       "require [\"fileinto\"];\n\n# Rule \"Cut\"\nif header :contains \"subject\" \"x\" {\n  fileinto \"Trash\";\n}\n",
       "a block without its closing line is still a rule"},
      {"Name=Odd\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=Delete \nFilter=subject fieldEqual x\n^\n",
       "\n# Rule \"Odd\" is kept as a comment: the operator \"fieldEqual\" in \"subject fieldEqual x\" has no "
       "Sieve test.\n#   Name=Odd\n#   Types=1 0 0\n#   Source=1 0\n#   Enabled=1\n#   Action=Delete \n"
       "#   Filter=subject fieldEqual x\n",
       "a condition Sieve cannot test keeps the whole rule out: without it the rule would take too much"},
      {"Name=Odd address\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=Forward TO=ann@x.org;CC=Bob Lee@x.org;\n^\n",
       "\n# Rule \"Odd address\" is kept as a comment: its forward address \"Bob Lee@x.org\" is not one Sieve can "
       "redirect to.\n#   Name=Odd address\n#   Types=1 0 0\n#   Source=1 0\n#   Enabled=1\n"
       "#   Action=Forward TO=ann@x.org;CC=Bob Lee@x.org;\n",
       "sievec refuses a redirect to an address with a blank: the rule must not break the script"},
      {"Name=Bad \xFF name\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n",
       "require [\"imap4flags\"];\n\n# Rule \"Bad \xEF\xBF\xBD name\"\nif true {\n  addflag \"\\\\Seen\";\n}\n",
       "a byte that is not UTF-8 cannot break the script"},
  };
  for (const RuleCase &c : cases) {
    SCOPED_TRACE(c.why);
    std::string script = sieve::SieveScript(sieve::ParseRulesFile(c.block), nullptr, nullptr);
    size_t body = 0;
    for (int i = 0; i < 3; ++i) body = script.find('\n', body) + 1;
    EXPECT_EQ(script.substr(body), c.script);
  }
}

struct MailboxCase {
  const char *path, *mailbox, *why;
};

TEST(SieveTest, FoldersBecomeMailboxNames) {
  const MailboxCase cases[] = {
      {"Mailbox", "INBOX", "the GroupWise Mailbox is the INBOX"},
      {"Mailbox^News", "INBOX/News", "and its subfolders under it"},
      {"Cabinet^Projects", "Cabinet/Projects", "levels joined by the hierarchy separator"},
      {"Cabinet^a/b", "Cabinet/a%2Fb", "a slash in a name is escaped as in the Maildir export"},
  };
  for (const MailboxCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(sieve::MailboxName(c.path), c.mailbox);
  }
}

class RulesExportTest : public ::testing::Test {
 protected:
  std::string Work() const { return host_.workDir(); }
  std::string Out() const { return host_.root() + "/out/"; }
  void SetUp() override { ASSERT_EQ(mkdir(Out().c_str(), 0700), 0); }
  testing_support::TestHost host_;
};

TEST_F(RulesExportTest, TheScriptCompilesInSievec) {
  ASSERT_TRUE(WriteFileBytes(Work() + "mboxrules.dat", ReadFileBytes(Data("mboxrules.dat"))));
  sieve::RulesExport result;
  std::string error;
  ASSERT_EQ(sieve::ExportRules(Work(), Out(), &result, &error), 0) << error;
  EXPECT_TRUE(result.found);
  EXPECT_EQ(result.counts.converted, 5);
  EXPECT_EQ(ReadFileBytes(Out() + "rules/mboxrules.dat"), ReadFileBytes(Data("mboxrules.dat")))
      << "the plug-in's file as it is";
  // sievec compiles a copy: it writes its binary beside the script.
  std::string copy = host_.root() + "/check.sieve";
  ASSERT_TRUE(WriteFileBytes(copy, ReadFileBytes(Out() + "rules/rules.sieve")));
  testing_support::RunResult r =
      testing_support::RunCommand("sievec '" + copy + "' '" + host_.root() + "/check.svbin' 2>&1");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(FileExists(host_.root() + "/check.svbin"));
}

TEST_F(RulesExportTest, NoRulesFileWritesNothing) {
  sieve::RulesExport result;
  std::string error;
  ASSERT_EQ(sieve::ExportRules(Work(), Out(), &result, &error), 0) << error;
  EXPECT_FALSE(result.found);
  EXPECT_FALSE(FileExists(Out() + "rules")) << "no rules, no directory";
  ASSERT_TRUE(WriteFileBytes(Out() + "blocked", "x"));
  ASSERT_TRUE(WriteFileBytes(Work() + "mboxrules.dat", ""));
  EXPECT_EQ(sieve::ExportRules(Work(), Out() + "blocked/", &result, &error), -1);
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

// The plug-in leaves out of its file every rule an earlier run exported: a
// rerun must not lose them.
struct RerunCase {
  const char *work;      // the plug-in's file of this run
  const char *expected;  // OUT/rules/mboxrules.dat afterwards
  int added, rules;
  const char *why;
  bool leftByKilledRun = false;  // may end inside a rule
};

TEST_F(RulesExportTest, ARerunKeepsEarlierRulesAndAddsNewOnes) {
  const char *a = "Name=A\nTypes=1 0 0\nSource=1 0\nEnabled=0\n^\n";
  const char *b = "Name=B\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n";
  const RerunCase cases[] = {
      {a, a, 1, 1, "the first run: the file as it is"},
      {b, "Name=A\nTypes=1 0 0\nSource=1 0\nEnabled=0\n^\nName=B\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n",
       1, 2, "a new rule is added after the earlier ones"},
      {"", "Name=A\nTypes=1 0 0\nSource=1 0\nEnabled=0\n^\nName=B\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n",
       0, 2, "every rule exported before: the file stays"},
      {"Name=B\nTypes=1 0 0\nSource=1 0\nEnabled=0\n^\n",
       "Name=A\nTypes=1 0 0\nSource=1 0\nEnabled=0\n^\nName=B\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n",
       0, 2, "a rule of a name held already is not added twice"},
      {"Name=C\nTypes=1 0 0\nSource=1 0\nEnabled=1\n^\nName=D\nTypes=1 0 0\nSource=1 0\nEna",
       "Name=A\nTypes=1 0 0\nSource=1 0\nEnabled=0\n^\nName=B\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n"
       "Name=C\nTypes=1 0 0\nSource=1 0\nEnabled=1\n^\n",
       1, 3, "a file a killed run left: the rule it was writing is left to the next run", true},
      {"Name=E\nTypes=1 0 0\n^",
       "Name=A\nTypes=1 0 0\nSource=1 0\nEnabled=0\n^\nName=B\nTypes=1 0 0\nSource=1 0\nEnabled=1\nAction=MarkRead \n^\n"
       "Name=C\nTypes=1 0 0\nSource=1 0\nEnabled=1\n^\n",
       0, 3, "a killed run's file cut inside its end line", true},
  };
  for (const RerunCase &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_TRUE(WriteFileBytes(Work() + "mboxrules.dat", c.work));
    sieve::RulesExport result;
    std::string error;
    ASSERT_EQ(sieve::ExportRules(Work(), Out(), &result, &error, c.leftByKilledRun), 0) << error;
    EXPECT_EQ(ReadFileBytes(Out() + "rules/mboxrules.dat"), c.expected);
    EXPECT_EQ(result.added, c.added);
    EXPECT_EQ(result.counts.rules, c.rules);
    EXPECT_EQ(ReadFileBytes(Out() + "rules/rules.sieve"),
              sieve::SieveScript(sieve::ParseRulesFile(c.expected), nullptr, nullptr))
        << "the script covers every rule of the file";
    EXPECT_FALSE(FileExists(Out() + "rules/rules.sieve.tmp"));
  }
}

}  // namespace
