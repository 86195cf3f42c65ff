// A fixture for the reader's file-level tests: a test host whose work
// directory the session uses, clean run settings and session texts, and
// answers laid out in files the way the response writer shapes them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "support/host_fixture.h"
#include "transport/http_transfer.h"

namespace reader_test {

class ReaderFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunSettings();
    memset(&gSession, 0, sizeof gSession);
    ASSERT_EQ(0, host_.Init());
    CopyText(gSession.workDir, sizeof gSession.workDir, host_.workDir().c_str());
    CopyText(gSession.dataDir, sizeof gSession.dataDir, host_.dataDir().c_str());
  }
  void TearDown() override {
    ResetRunSettings();
    memset(&gSession, 0, sizeof gSession);
  }

  std::string WorkPath(const std::string &name) const { return host_.workDir() + name; }

  // The answer text as the response writer stores it, handed over in the
  // given pieces (as libcurl's chunks would arrive); the file's path.
  std::string Reshaped(const std::vector<std::string> &chunks, const std::string &name) {
    std::string path = WorkPath(name);
    FilePtr file = OpenFile(path.c_str(), "wb");
    EXPECT_TRUE(file != nullptr) << path;
    if (!file) return path;
    ResponseWriterBegin(file.get());
    for (const std::string &chunk : chunks) ResponseWriterWrite(chunk.data(), chunk.size());
    ResponseWriterEnd();
    return path;
  }

  // The reshaped answer opened for reading.
  FilePtr OpenReshaped(const std::vector<std::string> &chunks) {
    return OpenFile(Reshaped(chunks, "answer.xml").c_str(), "rb");
  }

  testing_support::TestHost host_;
};

}  // namespace reader_test
