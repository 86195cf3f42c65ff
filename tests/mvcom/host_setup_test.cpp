// Setting the host library up: the log, bounded parameters and globals,
// excluded subjects and the address map.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "mvcom/mvcom_fixture.h"

namespace {

using ::testing::HasSubstr;

// Keeps the lines exactly as the library hands them over, line ends included.
void RawSink(const char *line, void *user) { static_cast<std::vector<std::string> *>(user)->emplace_back(line); }

TEST_F(MvcomTest, LogLinesReachFileAndSinkWithStderrByLevel) {
  const std::vector<std::string> all = {"MV Error: x", "MV Info: 3", "debug: r", "curl debug: h",
                                        "GroupWise folder: Inbox", "MV Warning: w"};
  const char *expected[] = {
      "MV Error: x\n", "MV Error: x\nMV Warning: w\n",
      "MV Error: x\nMV Info: 3\nGroupWise folder: Inbox\nMV Warning: w\n",
      "MV Error: x\nMV Info: 3\ndebug: r\ncurl debug: h\nGroupWise folder: Inbox\nMV Warning: w\n"};
  std::vector<std::string> lines;
  for (int level = 0; level <= 3; ++level) {
    host_.config().stderrLevel = level;
    ASSERT_EQ(Reinit(), 0);
    lines.clear();
    mvcom_SetLogSink(&RawSink, &lines);
    testing::internal::CaptureStderr();
    com_Log("MV Error: %s", "x");
    com_Log("MV Info: %d", 3);
    com_Log("debug: r");
    com_Log("curl debug: h");
    com_Log("GroupWise folder: %s\n", "Inbox");  // ends with its own line end
    com_Log("MV Warning: w");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected[level]);
    EXPECT_THAT(lines, ::testing::ElementsAreArray(all));
  }
  std::ifstream in(host_.dataDir() + "mvmigrate.log");
  size_t n = 0;
  for (std::string line; std::getline(in, line); ++n) {
    EXPECT_THAT(line, ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} .*"));
    EXPECT_EQ(line.substr(20), all[n % 6]);
  }
  EXPECT_EQ(n, 24u);  // four runs appended, one line each, no blank lines

  mvcom_Shutdown();  // closed: the sink still hears, the file does not
  std::string longText(40000, 'x');
  com_Log("%s", longText.c_str());
  EXPECT_EQ(lines.back(), longText);
  EXPECT_EQ(ReadFileBytes(host_.dataDir() + "mvmigrate.log").find("xxx"), std::string::npos);
}

TEST_F(MvcomTest, ParametersAndGlobalsAreCopiedBounded) {
  std::string deeper = host_.dataDir() + "a/b";  // made with its parents, given its "/"
  host_.config().dataDir = deeper.c_str();
  ASSERT_EQ(Reinit({"/DEBUG", std::string(2000, 'p')}), 0) << mvcom_LastError();
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
  std::string tooLong = host_.root() + "/" + std::string(300, 'd');  // cannot fit 256 bytes
  host_.config().workDir = tooLong.c_str();
  EXPECT_EQ(Reinit(), -1);
}

// The log and the state hold the mailbox's content: owner-only under the
// usual umask 022, also when an older run left the log readable by all.
TEST_F(MvcomTest, LogStateAndDirectoriesAreOwnerOnly) {
  const std::string data = host_.root() + "/private/data/";
  ASSERT_EQ(mkdir((host_.root() + "/private").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(data.c_str(), 0700), 0);
  ASSERT_TRUE(WriteFileBytes(data + "mvmigrate.log", "an older run's line\n"));
  ASSERT_EQ(chmod((data + "mvmigrate.log").c_str(), 0644), 0);
  const std::string work = host_.root() + "/private/work/a";
  host_.config().dataDir = data.c_str();
  host_.config().workDir = work.c_str();
  const mode_t savedUmask = umask(022);
  const int rc = Reinit();
  umask(savedUmask);
  ASSERT_EQ(rc, 0) << mvcom_LastError();
  const struct {
    std::string path;
    unsigned mode;
    const char *why;
  } cases[] = {
      {data + "mvmigrate.log", 0600, "the log an older run left readable by all"},
      {data + "mvmigrate.db", 0600, "the migration state"},
      {data + "mvmigrate.db-wal", 0600, "its write-ahead log takes the database's mode"},
      {data + "mvmigrate.db-shm", 0600, "its shared memory index too"},
      {host_.root() + "/private/work", 0700, "a work directory made with its parents"},
      {work, 0700, "the work directory itself"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    struct stat st = {};
    ASSERT_EQ(stat(c.path.c_str(), &st), 0) << c.path;
    EXPECT_EQ(st.st_mode & 07777, c.mode) << c.path;
  }
}

TEST_F(MvcomTest, ExcludedSubjectsAreCaseInsensitiveRegexes) {
  const char *patterns[] = {"^GWS subject=re: *spam", "newsletter [0-9]+"};
  host_.config().excludeSubjects = patterns;
  host_.config().excludeCount = 2;
  ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  EXPECT_NE(com_ExcludeSubject("GWS subject=RE:SPAM offer, sender=x"), 0);
  EXPECT_EQ(com_ExcludeSubject("GWS subject=Fwd: re: spam"), 0);  // anchored
  EXPECT_NE(com_ExcludeSubject("GroupWise calendar entry: NEWSLETTER 12"), 0);
  EXPECT_EQ(com_ExcludeSubject("newsletter without number"), 0);

  const char *broken[] = {"fine", "unclosed (group"};
  host_.config().excludeSubjects = broken;
  EXPECT_EQ(Reinit(), -1);
  EXPECT_THAT(mvcom_LastError(), HasSubstr("unclosed (group"));
  EXPECT_EQ(com_ExcludeSubject("fine"), 0);  // nothing half-compiled stays active
}

TEST_F(MvcomTest, AddressMapRewritesSenderAndRecipients) {
  std::string map = std::string(MVGWS_TEST_DATA) + "/mvcom/address_map.csv";
  host_.config().addressMapPath = map.c_str();
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
  ASSERT_FALSE(host_.log().empty());
  EXPECT_THAT(host_.log().back(), HasSubstr("MV Warning:"));

  std::string bad = std::string(MVGWS_TEST_DATA) + "/mvcom/address_map_bad.csv";
  host_.config().addressMapPath = bad.c_str();
  EXPECT_EQ(Reinit(), -1);
  EXPECT_THAT(mvcom_LastError(), HasSubstr("line 2"));
}

}  // namespace
