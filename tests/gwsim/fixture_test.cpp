// Fixture files: the faults the loader reports, and a server started on one.
#include "gwsim_client.h"

namespace {

const std::string kData = std::string(MVGWS_TEST_DATA) + "/gwsim/";

std::string InUser(const char *content) {
  return std::string("<gwsim><user name=\"a\">") + content + "</user></gwsim>";
}

TEST(FixtureTest, FaultsAreReportedWithFileAndLine) {
  struct Case {
    std::string text;
    const char *message;  // expected within the error
  } cases[] = {
      {"<gwsim>\n<user name=\"a\">\n</gwsim>\n", "fixture:3: "},  // XML not well formed
      {"<mailbox/>", "fixture:1: the top element must be <gwsim>"},
      {"<gwsim>\n<user nam=\"a\"/></gwsim>", "fixture:2: unknown attribute nam on <user>"},
      {"<gwsim><user/></gwsim>", "a user needs a name"},
      {"<gwsim><user name=\"a\"/>\n<user name=\"A\"/></gwsim>", "fixture:2: duplicate user A"},
      {"<gwsim><user name=\"a\" proxyFor=\"b\"/></gwsim>", "proxyFor names the unknown user b"},
      {InUser("<folder/>"), "a folder needs a name"},
      {InUser("<folder name=\"f\" kind=\"Box\"/>"), "unknown kind \"Box\""},
      {InUser("<folder name=\"f\" count=\"maybe\"/>"), "count must be shown or hidden"},
      {InUser("<folder name=\"f\" sharedByMe=\"yes\"/>"), "sharedByMe must be 0 or 1"},
      {InUser("<folder name=\"f\">\n\n<item created=\"Jan 5\"/></folder>"),
       "fixture:3: unreadable created \"Jan 5\""},
      {InUser("<folder id=\"X\" name=\"f\"/><folder id=\"X\" name=\"g\"/>"), "duplicate id X"},
      {InUser("<item/>"), "unexpected <item> in <user>"},
      {"<gwsim><book name=\"b\"><folder name=\"f\"/></book></gwsim>",
       "unexpected <folder> in <book>"},
      {"<gwsim><trustedApp name=\"Movaro\"/></gwsim>", "needs a name and a key"},
      {InUser("<folder name=\"f\"><item priority=\"Urgent\"/></folder>"),
       "unknown priority \"Urgent\""},
      {InUser("<folder name=\"f\"><item><to name=\"n\" accepted=\"2026-01-01T00:00:00Z\" "
              "declined=\"2026-01-02T00:00:00Z\"/></item></folder>"),
       "a recipient has one reply state"},
      {InUser("<folder name=\"f\"><item><text encoding=\"base64\">YW!j</text></item></folder>"),
       "bad base64 in <text>"},
      {InUser("<folder name=\"f\"><item><attachment name=\"a\" size=\"-1\"/></item></folder>"),
       "unreadable size \"-1\""},
      {InUser("<folder name=\"f\"><item><attachment name=\"a\" size=\"5\" ref=\"X\"/>"
              "</item></folder>"),
       "one of size, file, ref and <item>"},
      {InUser("<folder name=\"f\"><item><attachment contentType=\"text/plain\"/></item>"
              "</folder>"),
       "an attachment needs a name"},
      {InUser("<folder name=\"f\"><item><attachment name=\"a\" file=\"no_such.bin\"/>"
              "</item></folder>"),
       "cannot open no_such.bin"},
      {InUser("<folder name=\"f\"><item>\n<attachment name=\"a\" ref=\"NOPE@1\"/>"
              "</item></folder>"),
       "fixture:2: ref names the unknown item NOPE@1"},
      {InUser("<folder name=\"f\"><item><body/></item></folder>"), "unexpected <body> in <item>"},
      {InUser("<folder name=\"f\"><item kind=\"Task\"><task due=\"soon\"/></item></folder>"),
       "unreadable date \"soon\" on <task>"},
      {InUser("<folder name=\"f\"><item kind=\"Task\"><task percent=\"101\"/></item></folder>"),
       "percent must be a whole number from 0 to 100"},
      {InUser("<folder name=\"f\"><item kind=\"Task\"><task done=\"1\"/></item></folder>"),
       "unknown attribute done on <task>"},
      {InUser("<rule name=\"r\">\n<filter><entry op=\"and\"/></filter></rule>"),
       "fixture:2: and, or and not are the ops of <group>"},
      {InUser("<rule name=\"r\"><action folder=\"X\"/></rule>"), "an action needs a type"},
      {InUser("<rule name=\"r\"><action type=\"Forward\"><from email=\"a@b\"/></action></rule>"),
       "unexpected <from> in <action>"},
      {InUser("<rule name=\"r\"><filter/></rule>"), "a rule has one filter with one element"},
  };
  for (const Case &c : cases) {
    gwsim::Mailbox mailbox;
    std::string error;
    EXPECT_FALSE(gwsim::LoadMailboxText(c.text, "fixture", &mailbox, &error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.message)) << c.text << "\n -> " << error;
    EXPECT_TRUE(mailbox.users.empty() && mailbox.folders.empty()) << c.text;
  }
}

TEST(FixtureTest, ServerStartsOnlyWithALoadableMailbox) {
  struct Case {
    const char *file;
    const char *error;  // "" when the server starts
  } cases[] = {{"no_such_file.xml", "no_such_file.xml"},
               {"broken_mailbox.xml", "broken_mailbox.xml:4: unknown kind"},
               {"small_mailbox.xml", ""}};
  for (const Case &c : cases) {
    gwsim::Options options;
    options.mailboxFile = kData + c.file;
    gwsim::Server server(options);
    const bool loadable = *c.error == '\0';
    EXPECT_EQ(loadable, server.LastError().empty()) << c.file << ": known before Start";
    EXPECT_EQ(loadable, server.Start()) << c.file;
    EXPECT_NE(std::string::npos, server.LastError().find(c.error)) << server.LastError();
    if (loadable) {  // the file's mailbox instead of the demo one
      auto lock = server.mailbox().Lock();
      EXPECT_TRUE(server.mailbox().FindUser("carol") && !server.mailbox().FindUser("alice"));
    }
  }
}

}  // namespace
