// Shared scaffolding of the host library tests: a scratch directory per test,
// a configured library and a heap-held HostMessage.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host/mvcom/mvcom_host.h"
#include "plugin/host_message.h"

struct MessageFree {
  void operator()(HostMessage *m) const {
    com_Deallocate(m, nullptr);
    free(m);
  }
};
using MessagePtr = std::unique_ptr<HostMessage, MessageFree>;

inline MessagePtr NewMessage() {
  return MessagePtr(static_cast<HostMessage *>(calloc(1, sizeof(HostMessage))));
}

// Collects the lines handed to the log sink.
struct LogCapture {
  std::vector<std::string> lines;
  static void Sink(const char *line, void *user) {
    static_cast<LogCapture *>(user)->lines.emplace_back(line);
  }
};

// Each test gets a fresh directory holding "data/" and "work/", and the
// library initialised on them with the log sink installed.
class MvcomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mvcom_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    dataDir_ = root_ + "/data";
    workDir_ = root_ + "/work";
    config_ = MvcomConfig{};
    config_.programDir = root_.c_str();
    config_.dataDir = dataDir_.c_str();
    config_.workDir = workDir_.c_str();
    mvcom_SetLogSink(&LogCapture::Sink, &log_);
    ASSERT_EQ(mvcom_Init(&config_), 0) << mvcom_LastError();
  }
  void TearDown() override {
    mvcom_Shutdown();
    mvcom_SetLogSink(nullptr, nullptr);
    std::filesystem::remove_all(root_);
  }
  // Re-runs mvcom_Init with the current config_.
  int Reinit() { return mvcom_Init(&config_); }
  std::string WorkPath(const char *name) const { return workDir_ + "/" + name; }
  std::string PartPath(int msgSeq, int index) const {
    char path[512];
    FormatPartFileName(path, sizeof path, (workDir_ + "/").c_str(), msgSeq, index);
    return path;
  }

  std::string root_, dataDir_, workDir_;
  MvcomConfig config_;
  LogCapture log_;
};

// Writes bytes into path (binary); returns false on failure.
inline bool WriteFileBytes(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

// The whole content of path, or "" when it cannot be read.
inline std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
