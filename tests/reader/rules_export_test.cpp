// ParseRules on saved getRuleListResponses, file byte for byte: the order of
// actions and filters, recipients, operators, limits, the host's "exported
// before" check; and the export through ConvertFolder against the simulator.
#include <gtest/gtest.h>

#include <string>

#include "convert_support.h"
#include "plugin/run_settings.h"
#include "reader/rules_export.h"

namespace reader_test {
namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;

std::string Rule(const std::string &name, const std::string &inner) {
  return "<gwt:rule xsi:type=\"gwt:Rule\"><gwt:id>R@1</gwt:id><gwt:name>" + name +
         "</gwt:name><gwt:container>ROOT.alice@16</gwt:container>" + inner + "</gwt:rule>";
}

std::string Action(const std::string &type, const std::string &inner = "") {
  return "<gwt:action><gwt:type>" + type + "</gwt:type>" + inner + "</gwt:action>";
}

std::string Forward(const std::string &type, const std::string &recipients) {
  return Action(type, "<gwt:item xsi:type=\"gwt:Mail\"><gwt:distribution><gwt:recipients>" +
                          recipients + "</gwt:recipients></gwt:distribution></gwt:item>");
}

std::string Recipient(const std::string &email, const std::string &distType = "") {
  return "<gwt:recipient><gwt:displayName>Someone</gwt:displayName><gwt:email>" + email +
         "</gwt:email>" + (distType.empty() ? "" : "<gwt:distType>" + distType + "</gwt:distType>") +
         "</gwt:recipient>";
}

std::string Entry(const std::string &field, const std::string &op, const std::string &value) {
  return "<gwt:element xsi:type=\"gwt:FilterEntry\"><gwt:op>" + op + "</gwt:op><gwt:field>" +
         field + "</gwt:field>" + (value.empty() ? "" : "<gwt:value>" + value + "</gwt:value>") +
         "</gwt:element>";
}

std::string Group(const std::string &op, const std::string &elements) {
  return "<gwt:filter><gwt:element xsi:type=\"gwt:FilterGroup\"><gwt:op>" + op + "</gwt:op>" +
         elements + "</gwt:element></gwt:filter>";
}

const char kMailReceived[] =
    "<gwt:enabled>1</gwt:enabled><gwt:types>Mail</gwt:types><gwt:source>received</gwt:source>";
const char kHead[] = "Types=1 0 0\nSource=1 0\nEnabled=1\n";

class RulesExportTest : public ConvertTest {
 protected:
  // The export file ParseRules writes for these rules.
  std::string Export(const std::string &rules) {
    std::string response = Reshaped(
        plugin_test::Answer("getRuleListResponse", "<gwm:rules>" + rules + "</gwm:rules>"),
        "gwrules.xml");
    std::string exportPath = WorkFile("mboxrules.dat");
    ParseRules(response.c_str(), exportPath.c_str());
    EXPECT_FALSE(FileExists(response));
    return ReadFileBytes(exportPath);
  }
};

struct RuleCase {
  const char *why;
  std::string rules;
  std::string file;
};

TEST_F(RulesExportTest, BlocksMatchTheExpectedFile) {
  // The folder table gives the move actions their paths.
  ASSERT_NO_FATAL_FAILURE(Connect(
      "<folder name=\"Cabinet\" type=\"Cabinet\"><folder id=\"PROJ@16\" name=\"Projects\"/>"
      "</folder>"));
  const std::string six = Entry("subject", "contains", "a") + Entry("subject", "contains", "b") +
                          Entry("subject", "contains", "a") + Entry("from", "eq", "c@x.org") +
                          Entry("to", "eq", "d@x.org") + Entry("cc", "eq", "e@x.org") +
                          Entry("bc", "eq", "f@x.org");
  const RuleCase cases[] = {
      {"delete, forward to two, move: forward first, then move, then delete",
       Rule("Sort", kMailReceived + Action("Delete") +
                        Forward("Forward", Recipient("ann@x.org", "TO") + Recipient("bob@x.org", "CC")) +
                        Action("Move", "<gwt:container>PROJ@16</gwt:container>")),
       std::string("Name=Sort\n") + kHead +
           "Action=Forward TO=ann@x.org;CC=bob@x.org;\nAction=Move Cabinet^Projects\n"
           "Action=Delete \n^\n"},
      {"a recipient without @ is dropped, one without distType is TO; MarkRead before move",
       Rule("Fwd", kMailReceived + Action("Move", "<gwt:container>PROJ@16</gwt:container>") +
                       Action("MarkRead") +
                       Forward("SimpleForward", Recipient("Bob Brown", "TO") + Recipient("cy@x.org"))),
       std::string("Name=Fwd\n") + kHead +
           "Action=SimpleForward TO=cy@x.org;\nAction=MarkRead \nAction=Move Cabinet^Projects\n^\n"},
      {"gte is larger, lt smaller, another operator as given; a filter without value dropped",
       Rule("Ops", kMailReceived +
                       Group("and", Entry("size", "gte", "100") + Entry("size", "lt", "900") +
                                        Entry("subject", "begins", "Re") +
                                        Entry("subject", "exists", ""))),
       std::string("Name=Ops\n") + kHead +
           "Filter=size larger 100\nFilter=size smaller 900\nFilter=subject begins Re\n^\n"},
      {"the same condition twice is written once; a sixth filter is ignored",
       Rule("Six", kMailReceived + Group("or", six)),
       std::string("Name=Six\n") + kHead +
           "Filter=subject contains a\nFilter=subject contains b\nFilter=from eq c@x.org\n"
           "Filter=to eq d@x.org\nFilter=cc eq e@x.org\n^\n"},
      {"filters with the marker word come last; a move to an unknown folder keeps its blank",
       Rule("Marker", kMailReceived + Action("Move", "<gwt:container>GONE@16</gwt:container>") +
                          Group("and", Entry("message", "contains", "invoice") +
                                           Entry("subject", "contains", "bill"))),
       std::string("Name=Marker\n") + kHead +
           "Action=Move \nFilter=subject contains bill\nFilter=message contains invoice\n^\n"},
      {"a sixth action is ignored, and nothing inside it counts for the rule; other types "
       "are not written",
       Rule("Many", kMailReceived + Action("Delete") + Action("Reply") + Action("Category") +
                        Action("MarkRead") + Action("Accept") +
                        Action("Move", "<gwt:container>PROJ@16</gwt:container>"
                                       "<gwt:item><gwt:source>sent</gwt:source></gwt:item>")),
       std::string("Name=Many\n") + kHead + "Action=MarkRead \nAction=Delete \n^\n"},
      {"types, sources and a disabled rule; two rules, two blocks",
       Rule("Kinds", "<gwt:enabled>0</gwt:enabled><gwt:types>Appointment Task</gwt:types>"
                     "<gwt:source>received sent</gwt:source>") +
           Rule("Plain", ""),
       "Name=Kinds\nTypes=0 1 1\nSource=1 1\nEnabled=0\n^\n"
       "Name=Plain\nTypes=0 0 0\nSource=0 0\nEnabled=0\n^\n"},
      {"a line break in a name, a filter value or a forward address is a blank: no text of "
       "the answer adds a line of its own",
       Rule("Urgent&#10;Action=Forward TO=x@evil.org;",
            kMailReceived + Forward("Forward", Recipient("ann@x.org&#13;Action=Delete")) +
                Group("and", Entry("subject", "contains", "a&#13;&#10;Filter=size larger 1"))),
       std::string("Name=Urgent Action=Forward TO=x@evil.org;\n") + kHead +
           "Action=Forward TO=ann@x.org Action=Delete;\n"
           "Filter=subject contains a  Filter=size larger 1\n^\n"},
      {"a forward without a recipient list ends with its action; the rule goes on",
       Rule("Bare", Action("Forward") + kMailReceived + Action("Delete")),
       std::string("Name=Bare\n") + kHead + "Action=Forward \nAction=Delete \n^\n"},
  };
  for (const RuleCase &c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.file, Export(c.rules));
  }
}

TEST_F(RulesExportTest, ForwardRecipientsStopBeforeTheOneThatDoesNotFit) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  // 40 recipients of 24 characters ("TO=" + 19 + ";" with a two-digit number) pass 1024.
  std::string recipients;
  std::string expected;
  for (int i = 10; i < 50; ++i) {
    std::string address = "person" + std::to_string(i) + "@example.org";
    recipients += Recipient(address, "TO");
    if (expected.size() + address.size() + 4 <= 1024 - 1 - 8) expected += "TO=" + address + ";";
  }
  std::string file = Export(Rule("Long", kMailReceived + Forward("Forward", recipients)));
  EXPECT_EQ(std::string("Name=Long\n") + kHead + "Action=Forward " + expected + "\n^\n", file);
}

TEST_F(RulesExportTest, ARuleExportedBeforeIsLeftOut) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const std::string rules = Rule("Once", kMailReceived) + Rule("Twice", kMailReceived);
  EXPECT_EQ(std::string("Name=Once\n") + kHead + "^\nName=Twice\n" + kHead + "^\n",
            Export(rules));
  EXPECT_EQ("", Export(rules));
  EXPECT_EQ(std::string("Name=New\n") + kHead + "^\n", Export(rules + Rule("New", kMailReceived)));
}

TEST_F(RulesExportTest, MailRulesFromTheServerReachTheExportFile) {
  ASSERT_NO_FATAL_FAILURE(Connect(
      "<folder name=\"Mailbox\" type=\"Mailbox\"><item subject=\"Hi\" "
      "created=\"2026-01-05T09:00:00Z\"/></folder>"
      "<folder id=\"JUNK@16\" name=\"Junk Mail\" type=\"JunkMail\"/>"
      "<rule name=\"Boss to phone\" types=\"Mail Appointment\">"
      "<filter><group op=\"and\"><entry op=\"eq\" field=\"from\" value=\"boss@example.com\"/>"
      "<entry op=\"gt\" field=\"size\" value=\"10\"/></group></filter>"
      "<action type=\"MarkRead\"/><action type=\"Forward\"><to email=\"me@phone.example\"/>"
      "<recipient email=\"pager@example.com\"/></action></rule>"
      "<rule name=\"Spam\" enabled=\"0\" source=\"received sent\"><filter>"
      "<entry op=\"contains\" field=\"subject\" value=\"lottery\"/></filter>"
      "<action type=\"Move\" folder=\"JUNK@16\"/></rule>",
      {"/MAILRULES"}));
  EXPECT_EQ(0, Convert("Mailbox"));
  EXPECT_EQ("Name=Boss to phone\nTypes=1 1 0\nSource=1 0\nEnabled=1\n"
            "Action=Forward TO=me@phone.example;TO=pager@example.com;\nAction=MarkRead \n"
            "Filter=from eq boss@example.com\nFilter=size larger 10\n^\n"
            "Name=Spam\nTypes=1 0 0\nSource=1 1\nEnabled=0\nAction=Move Junk Mail\n"
            "Filter=subject contains lottery\n^\n",
            ReadFileBytes(WorkFile("mboxrules.dat")));
  EXPECT_TRUE(FileExists(host_.dataDir() + "gwrules.xml"));
}

TEST_F(RulesExportTest, ARefusedRuleListWritesNoExportFile) {
  struct Case {
    const char *why;
    int status;
    std::string body;
    const char *warning;
  };
  std::string refused = plugin_test::Answer("getRuleListResponse", "");
  refused.replace(refused.find("<gwt:code>0</gwt:code>"), 22, "<gwt:code>59905</gwt:code>");
  const Case cases[] = {
      {"HTTP 500", 500, "", "MV Warning: unable to retrieve mailbox rules, response 500"},
      {"HTTP 200 with a non-zero code", 200, refused,
       "MV Warning: unable to retrieve mailbox rules, code=59905"},
      {"HTTP 200 with an HTML page: no list, not an empty one", 200,
       "<html><body>Bad Gateway</body></html>",
       "MV Warning: unable to retrieve mailbox rules, the answer is not a SOAP envelope"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    ASSERT_NO_FATAL_FAILURE(Connect("<folder name=\"Mailbox\" type=\"Mailbox\"/>"));
    gRunSettings.mailRules = 1;  // once per process: set again for each row
    gwsim::Fault fault;  // this row's answer only: faults outlive the server's restart
    fault.kind = c.status == 200 ? gwsim::FaultKind::kFixedAnswer : gwsim::FaultKind::kStatus;
    fault.status = c.status;
    fault.body = c.body;
    fault.requestName = "getRuleListRequest";
    server_.AddFault(fault);
    EXPECT_EQ(0, Convert("Mailbox"));
    EXPECT_TRUE(host_.HasLog(c.warning)) << host_.LogText();
    EXPECT_FALSE(FileExists(WorkFile("mboxrules.dat")));
    server_.Stop();
  }
}

}  // namespace
}  // namespace reader_test
