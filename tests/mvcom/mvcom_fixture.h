// Shared scaffolding of the host library tests: a scratch directory per test
// with the library initialised on it, the log sink captured, and helpers.
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
inline MessagePtr NewMessage() { return MessagePtr(static_cast<HostMessage *>(calloc(1, sizeof(HostMessage)))); }

inline bool WriteFileBytes(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}
inline std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class MvcomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mvcom_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    dataDir_ = root_ + "/data";
    workDir_ = root_ + "/work";
    config_.programDir = root_.c_str();
    config_.dataDir = dataDir_.c_str();
    config_.workDir = workDir_.c_str();
    mvcom_SetLogSink(&Sink, &log_);
    ASSERT_EQ(Reinit(), 0) << mvcom_LastError();
  }
  void TearDown() override {
    mvcom_Shutdown();
    mvcom_SetLogSink(nullptr, nullptr);
    std::filesystem::remove_all(root_);
  }
  static void Sink(const char *line, void *user) {
    static_cast<std::vector<std::string> *>(user)->emplace_back(line);
  }
  int Reinit() { return mvcom_Init(&config_); }
  std::string PartPath(int msgSeq, int index) const {
    char path[512];
    FormatPartFileName(path, sizeof path, (workDir_ + "/").c_str(), msgSeq, index);
    return path;
  }

  std::string root_, dataDir_, workDir_;
  MvcomConfig config_ = {};
  std::vector<std::string> log_;  // lines handed to the log sink
};
