// The option parser: switches from the host parameters into RunSettings.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "plugin/run_settings.h"
#include "support/host_fixture.h"

namespace {

using testing_support::TestHost;

struct ParserCase {
  const char *name;
  std::vector<std::string> params;
  std::function<void(const RunSettings &)> check;
  const char *logLine;  // expected in the log, or null for "no such line"
};

TEST(OptionParser, SwitchTable) {
  const ParserCase cases[] = {
      {"NoParametersKeepsDefaults", {},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.maxAttachSize, 4294900);
         EXPECT_STREQ(rs.gn, "root");
         EXPECT_EQ(rs.debug, 0);
         EXPECT_EQ(rs.d70, 0);
         EXPECT_STREQ(rs.gwcf, "");
       },
       nullptr},
      {"FailedIdsWithoutPathIsCleared", {"/DEBUG", "/D327"},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.d327, 0);
         EXPECT_EQ(rs.debug, 1);
       },
       nullptr},
      {"FailedIdsWithPathIsLogged", {"/D327", "/tmp/failed.txt"},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.d327, 1);
         EXPECT_STREQ(rs.d327Path, "/tmp/failed.txt");
       },
       "Failed Ids to be stored in /tmp/failed.txt"},
      {"DataDebugFollowedBySwitchTakesNoName", {"/DATADEBUG", "/DEBUG"},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.mailDebug, 1);
         EXPECT_EQ(rs.calDebug, 1);
         EXPECT_EQ(rs.conDebug, 1);
         EXPECT_EQ(rs.debug, 1);
         EXPECT_STREQ(rs.dataDebugName, "");
       },
       nullptr},
      {"DataDebugTakesAName", {"/DATADEBUG", "run7"},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.dataDebug, 1);
         EXPECT_STREQ(rs.dataDebugName, "run7");
       },
       nullptr},
      {"NumberWithoutDigitsIsZero", {"/MAXATTACHSIZE", "lots"},
       [](const RunSettings &rs) { EXPECT_EQ(rs.maxAttachSize, 0); }, nullptr},
      {"NumberReadFromLeadingDigits", {"/D70", "6kb", "/D340", "-30"},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.d70, 6);
         EXPECT_EQ(rs.d340, -30);
       },
       nullptr},
      {"LowerCaseSwitchIsNotRecognised", {"/debug", "/gn", "Archive"},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.debug, 0);
         EXPECT_STREQ(rs.gn, "root");
       },
       nullptr},
      {"ValueThatIsASwitchAlsoActsAsOne", {"/GN", "/DEBUG"},
       [](const RunSettings &rs) {
         EXPECT_STREQ(rs.gn, "/DEBUG");
         EXPECT_EQ(rs.debug, 1);
       },
       nullptr},
      {"LaterValueReplacesEarlier", {"/GWCF", "Friends", "/GWCF", "Work"},
       [](const RunSettings &rs) { EXPECT_STREQ(rs.gwcf, "Work"); }, nullptr},
      {"ValueSwitchLastLeavesSettingUnchanged", {"/GN"},
       [](const RunSettings &rs) { EXPECT_STREQ(rs.gn, "root"); }, nullptr},
      {"EmptyValueIsNotApplied", {"/GN", "", "/MAXATTACHSIZE", ""},
       [](const RunSettings &rs) {
         EXPECT_STREQ(rs.gn, "root");
         EXPECT_EQ(rs.maxAttachSize, 4294900);
       },
       nullptr},
      {"UnknownSwitchesAreIgnored", {"/NOSUCH", "/HPW", "/D300", "/D332", "/TRUSTED"},
       [](const RunSettings &rs) {
         EXPECT_EQ(rs.hpw, 1);
         EXPECT_EQ(rs.d300, 1);
         EXPECT_EQ(rs.d332, 1);
         EXPECT_EQ(rs.trusted, 1);
       },
       nullptr},
  };
  for (const ParserCase &c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    ASSERT_EQ(host.Init(c.params), 0);
    ResetRunSettings();
    ParseOptions();
    c.check(gRunSettings);
    if (c.logLine != nullptr)
      EXPECT_TRUE(host.HasLog(c.logLine)) << host.LogText();
    else
      EXPECT_FALSE(host.HasLog("Failed Ids")) << host.LogText();
  }
}

TEST(OptionParser, FlagsSurviveALaterParseWithoutThem) {
  TestHost host;
  ASSERT_EQ(host.Init({"/DEBUG", "/D327", "/tmp/f.txt", "/GN", "Archive"}), 0);
  ResetRunSettings();
  ParseOptions();
  ASSERT_EQ(host.Init({"/LSUB"}), 0);
  ParseOptions();
  EXPECT_EQ(gRunSettings.debug, 1);
  EXPECT_EQ(gRunSettings.lsub, 1);
  EXPECT_EQ(gRunSettings.d327, 1);
  EXPECT_STREQ(gRunSettings.d327Path, "/tmp/f.txt");
  EXPECT_STREQ(gRunSettings.gn, "Archive");
  // A second /D327 without a path keeps the path given before.
  ASSERT_EQ(host.Init({"/D327"}), 0);
  ParseOptions();
  EXPECT_EQ(gRunSettings.d327, 1);
}

TEST(OptionParser, OverlongTextValueIsCutNotOverrun) {
  TestHost host;
  std::string longName(1000, 'n');
  ASSERT_EQ(host.Init({"/GN", longName, "/D159", longName}), 0);
  ResetRunSettings();
  ParseOptions();
  EXPECT_EQ(std::string(gRunSettings.gn), longName.substr(0, kSettingTextSize - 1));
  EXPECT_EQ(std::string(gRunSettings.d159), longName.substr(0, kSettingTextSize - 1));
  EXPECT_EQ(gRunSettings.gwcf[0], '\0');  // the field after it is untouched
}

}  // namespace
