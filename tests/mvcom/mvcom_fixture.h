// The host library tests' helpers: a TestHost initialised per test,
// HostMessage records freed with their lists, and a guarded text buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/host_message.h"
#include "support/host_fixture.h"

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

// A zeroed record, freed with its lists.
using MessagePtr = std::unique_ptr<HostMessage, void (*)(HostMessage *)>;
inline MessagePtr NewMessage() {
  return MessagePtr(static_cast<HostMessage *>(calloc(1, sizeof(HostMessage))), [](HostMessage *m) {
    com_Deallocate(m, nullptr);
    free(m);
  });
}

class MvcomTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host_.Init(), 0) << mvcom_LastError(); }
  int Reinit(const std::vector<std::string> &params = {}) { return host_.Init(params); }
  std::string PartPath(int msgSeq, int index) const {
    char path[512];
    FormatPartFileName(path, sizeof path, host_.workDir().c_str(), msgSeq, index);
    return path;
  }
  testing_support::TestHost host_;
};

// Runs fill(buffer, capacity) on text in a buffer whose bytes past capacity
// must stay untouched; returns the text left there and fill's result in *rc.
template <typename Fill>
std::string InBuffer(const std::string &text, size_t capacity, Fill fill, int *rc = nullptr) {
  std::vector<char> buf(std::max(capacity, text.size() + 1) + 8, 'Z');
  memcpy(buf.data(), text.c_str(), text.size() + 1);
  const std::vector<char> before = buf;
  int result = fill(buf.data(), capacity);
  if (rc != nullptr) *rc = result;
  for (size_t i = capacity; i < buf.size(); ++i) EXPECT_EQ(buf[i], before[i]) << "overrun at " << i;
  size_t len = strnlen(buf.data(), capacity);
  EXPECT_LT(len, capacity) << "not terminated within capacity";
  return std::string(buf.data(), len);
}
