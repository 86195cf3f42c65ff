// A test's host: MVCOM set up on a fresh temporary data and work directory,
// with given host parameters, and every log line collected.
#pragma once

#include <string>
#include <vector>

#include "host/mvcom/mvcom_host.h"

namespace testing_support {

class TestHost {
 public:
  // Makes a temporary directory with data/ and work/ below it.
  TestHost();
  ~TestHost();
  TestHost(const TestHost &) = delete;
  TestHost &operator=(const TestHost &) = delete;

  // (Re)initialises MVCOM with these host parameters (and the other config
  // fields as set in config()). Returns mvcom_Init's result.
  int Init(const std::vector<std::string> &params = {});

  MvcomConfig &config() { return config_; }
  const std::string &root() const { return root_; }
  std::string dataDir() const { return root_ + "/data/"; }
  std::string workDir() const { return root_ + "/work/"; }

  const std::vector<std::string> &log() const { return log_; }
  void ClearLog() { log_.clear(); }
  // Number of log lines that contain text.
  int CountLog(const std::string &text) const;
  bool HasLog(const std::string &text) const { return CountLog(text) > 0; }
  std::string LogText() const;  // all lines, newline-separated, for messages

 private:
  static void Sink(const char *line, void *user);
  std::string root_;
  std::vector<std::string> params_;
  std::vector<const char *> paramPtrs_;
  std::string dataDir_, workDir_;
  MvcomConfig config_ = {};
  std::vector<std::string> log_;
};

// Whole file as bytes; "" when it cannot be read.
std::string ReadFileBytes(const std::string &path);
// Writes bytes to path; a file it makes is owner-only (0600).
bool WriteFileBytes(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);

// A program run through the shell with no input: its exit code (-1 when it
// did not exit normally, e.g. killed) and its stdout and stderr together.
struct RunResult {
  int exitCode = -1;
  std::string output;
};
RunResult RunCommand(const std::string &commandLine);

}  // namespace testing_support
