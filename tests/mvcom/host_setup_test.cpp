// Setting the host library up: the log, bounded parameters and globals,
// excluded subjects, the address map and file copies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mvcom/mvcom_fixture.h"

namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

TEST_F(MvcomTest, LogLinesReachFileAndSinkWithStderrByLevel) {
  const std::vector<std::string> all = {"MV Error: x", "MV Info: 3", "debug: r", "curl debug: h",
                                        "GroupWise folder: Inbox"};
  const char *expected[] = {"MV Error: x\n", "MV Error: x\nMV Info: 3\nGroupWise folder: Inbox\n",
                            "MV Error: x\nMV Info: 3\ndebug: r\ncurl debug: h\nGroupWise folder: Inbox\n"};
  for (int level = 0; level <= 2; ++level) {
    config_.stderrLevel = level;
    ASSERT_EQ(Reinit(), 0);
    log_.clear();
    testing::internal::CaptureStderr();
    com_Log("MV Error: %s", "x");
    com_Log("MV Info: %d", 3);
    com_Log("debug: r");
    com_Log("curl debug: h");
    com_Log("GroupWise folder: %s\n", "Inbox");  // ends with its own line end
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected[level]);
    EXPECT_THAT(log_, ElementsAreArray(all));
  }
  std::ifstream in(dataDir_ + "/mvmigrate.log");
  size_t n = 0;
  for (std::string line; std::getline(in, line); ++n) {
    EXPECT_THAT(line, MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} .*"));
    EXPECT_EQ(line.substr(20), all[n % 5]);
  }
  EXPECT_EQ(n, 15u);  // three runs appended, one line each, no blank lines

  mvcom_Shutdown();  // closed: the sink still hears, the file does not
  std::string longText(40000, 'x');
  com_Log("%s", longText.c_str());
  EXPECT_EQ(log_.back(), longText);
  EXPECT_EQ(ReadFileBytes(dataDir_ + "/mvmigrate.log").find("xxx"), std::string::npos);
}

TEST_F(MvcomTest, ParametersAndGlobalsAreCopiedBounded) {
  std::string longParm(2000, 'p');
  const char *params[] = {"/DEBUG", longParm.c_str()};
  config_.params = params;
  config_.paramCount = 2;
  std::string deeper = dataDir_ + "/a/b";  // made with its parents, given its "/"
  config_.dataDir = deeper.c_str();
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  char buf[1024 + 16];
  memset(buf, 'Z', sizeof buf);
  ASSERT_NE(com_GetParm(1, buf), 0);
  EXPECT_EQ(strlen(buf), 1023u);
  EXPECT_EQ(buf[1024], 'Z');
  ASSERT_NE(com_GetParm(0, buf), 0);
  EXPECT_STREQ(buf, "/DEBUG");
  EXPECT_EQ(com_GetParm(2, buf), 0);
  EXPECT_EQ(com_GetParm(-1, buf), 0);
  ASSERT_NE(com_GetGlobal(kGlobalDataDir, buf), 0);
  EXPECT_EQ(std::string(buf), deeper + "/");
  EXPECT_TRUE(std::filesystem::is_directory(deeper));
  std::string tooLong = root_ + "/" + std::string(300, 'd');  // cannot fit 256 bytes
  config_.workDir = tooLong.c_str();
  EXPECT_EQ(Reinit(), -1);
}

TEST_F(MvcomTest, ExcludedSubjectsAreCaseInsensitiveRegexes) {
  const char *patterns[] = {"^GWS subject=re: *spam", "newsletter [0-9]+"};
  config_.excludeSubjects = patterns;
  config_.excludeCount = 2;
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  EXPECT_NE(com_ExcludeSubject("GWS subject=RE:SPAM offer, sender=x"), 0);
  EXPECT_EQ(com_ExcludeSubject("GWS subject=Fwd: re: spam"), 0);  // anchored
  EXPECT_NE(com_ExcludeSubject("GroupWise calendar entry: NEWSLETTER 12"), 0);
  EXPECT_EQ(com_ExcludeSubject("newsletter without number"), 0);

  const char *broken[] = {"fine", "unclosed (group"};
  config_.excludeSubjects = broken;
  EXPECT_EQ(Reinit(), -1);
  EXPECT_THAT(mvcom_LastError(), HasSubstr("unclosed (group"));
  EXPECT_EQ(com_ExcludeSubject("fine"), 0);  // nothing half-compiled stays active
}

TEST_F(MvcomTest, AddressMapRewritesSenderAndRecipients) {
  std::string map = std::string(MVGWS_TEST_DATA) + "/mvcom/address_map.csv";
  config_.addressMapPath = map.c_str();
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  MessagePtr m = NewMessage();
  CopyText(m->fromAddress, sizeof m->fromAddress, "JIM.SMITH@old.example");
  for (const char *r : {"ann@OLD.example", "nobody@old.example", "toolong@old.example"}) {
    ASSERT_NE(com_AllocRecip(m.get()), 0);
    CopyText(m->recips[m->recipCount++]->address, 256, r);
  }
  EXPECT_EQ(com_AddressTranslate(m.get()), 2);
  EXPECT_STREQ(m->fromAddress, "jim.smith@new.example");
  EXPECT_STREQ(m->recips[0]->address, "ann.lee@new.example");
  EXPECT_STREQ(m->recips[1]->address, "nobody@old.example");
  EXPECT_STREQ(m->recips[2]->address, "toolong@old.example");  // not cut to 255 bytes
  ASSERT_FALSE(log_.empty());
  EXPECT_THAT(log_.back(), HasSubstr("MV Warning:"));

  std::string bad = std::string(MVGWS_TEST_DATA) + "/mvcom/address_map_bad.csv";
  config_.addressMapPath = bad.c_str();
  EXPECT_EQ(Reinit(), -1);
  EXPECT_THAT(mvcom_LastError(), HasSubstr("line 2"));
}

TEST_F(MvcomTest, FileCopyKeepsBytesAndNeverEmptiesItsSource) {
  std::string bytes("bin\0ary\r\n", 9), src = workDir_ + "/src", dst = workDir_ + "/dst";
  ASSERT_TRUE(WriteFileBytes(src, bytes));
  EXPECT_EQ(com_fcopy(src.c_str(), dst.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(dst), bytes);
  EXPECT_EQ(com_fcopy(src.c_str(), src.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(src), bytes);
  std::string missing = workDir_ + "/missing";
  EXPECT_EQ(com_fcopy(missing.c_str(), dst.c_str()), -1);
  int64_t size = -1;
  EXPECT_EQ(com_GetFileSize(dst.c_str(), &size), 0);
  EXPECT_EQ(size, 9);
}

}  // namespace
