// The test host: MVCOM on a temporary directory, with the log collected.
#include "support/host_fixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testing_support {

TestHost::TestHost() {
  char templ[] = "/tmp/mvgws-test-XXXXXX";
  char *dir = mkdtemp(templ);
  root_ = dir ? dir : "/tmp";
  mkdir((root_ + "/data").c_str(), 0755);
  mkdir((root_ + "/work").c_str(), 0755);
  dataDir_ = dataDir();
  workDir_ = workDir();
  config_.programDir = "/nonexistent-program-dir/";
  config_.dataDir = dataDir_.c_str();
  config_.workDir = workDir_.c_str();
  config_.stderrLevel = 0;
}

TestHost::~TestHost() {
  mvcom_SetLogSink(nullptr, nullptr);
  mvcom_Shutdown();
  if (root_.rfind("/tmp/mvgws-test-", 0) == 0) {
    std::string cmd = "rm -rf '" + root_ + "'";
    if (system(cmd.c_str()) != 0) {
      // Leaving a temporary directory behind is harmless.
    }
  }
}

int TestHost::Init(const std::vector<std::string> &params) {
  params_ = params;
  paramPtrs_.clear();
  for (const std::string &p : params_) paramPtrs_.push_back(p.c_str());
  config_.params = paramPtrs_.data();
  config_.paramCount = static_cast<int>(paramPtrs_.size());
  int rc = mvcom_Init(&config_);
  mvcom_SetLogSink(&TestHost::Sink, this);
  return rc;
}

void TestHost::Sink(const char *line, void *user) {
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  static_cast<TestHost *>(user)->log_.push_back(text);
}

int TestHost::CountLog(const std::string &text) const {
  int n = 0;
  for (const std::string &line : log_)
    if (line.find(text) != std::string::npos) ++n;
  return n;
}

std::string TestHost::LogText() const {
  std::string all;
  for (const std::string &line : log_) all += line + "\n";
  return all;
}

std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFileBytes(const std::string &path, const std::string &bytes) {
  const bool existed = FileExists(path);
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  out.close();
  // New files are owner-only, as mvmigrate wants of a password or key file.
  if (!existed && out && chmod(path.c_str(), 0600) != 0) return false;
  return static_cast<bool>(out);
}

bool FileExists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

RunResult RunCommand(const std::string &commandLine) {
  RunResult r;
  const std::string cmd = commandLine + " 2>&1 </dev/null";
  FILE *pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  int status = pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace testing_support
