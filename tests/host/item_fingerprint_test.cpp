// The item fingerprint over a large part file asked for again and again:
// the same value while nothing changed, a new one for whatever did (the
// bytes, the length, a field hashed before the file).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/mvcom/mvcom_host.h"
#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "support/host_fixture.h"

namespace {

const size_t kPartBytes = 2u << 20;  // above the size whose hash is kept

class ItemFingerprintTest : public ::testing::Test {
 public:
  void SetUp() override {
    record_.reset(new HostMessage());
    record_->msgSeq = 7;
    ASSERT_EQ(1, com_AllocPart(record_.get()));
    HostPart *part = record_->parts[0];
    CopyText(part->name, sizeof part->name, "big.bin");
    part->kind = 0;
    part->size = static_cast<int32_t>(kPartBytes);
    record_->partCount = 1;
    char path[4096];
    FormatPartFileName(path, sizeof path, host_.workDir().c_str(), record_->msgSeq, 0);
    path_ = path;
  }
  void TearDown() override { com_ResetObject(record_.get()); }

  std::string Fingerprint() {
    char out[40] = "";
    EXPECT_EQ(0, mvcom_ItemFingerprint(record_.get(), host_.workDir().c_str(), out, sizeof out));
    return out;
  }
  // Rewrites bytes at offset in place: the same file, the same length.
  void Overwrite(long offset, const char *bytes) {
    FILE *f = fopen(path_.c_str(), "r+b");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(0, fseek(f, offset, SEEK_SET));
    ASSERT_EQ(strlen(bytes), fwrite(bytes, 1, strlen(bytes), f));
    ASSERT_EQ(0, fclose(f));
  }

  testing_support::TestHost host_;
  std::unique_ptr<HostMessage> record_;
  std::string path_;
};

TEST_F(ItemFingerprintTest, ALargePartIsHashedAgainWheneverWhatPrecedesOrHoldsItChanges) {
  std::string bytes(kPartBytes, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 7);
  ASSERT_TRUE(testing_support::WriteFileBytes(path_, bytes));

  struct Step {
    const char *why;
    void (*change)(ItemFingerprintTest *t);
    const char *expected;
  };
  const Step steps[] = {
      {"the first reading of the file", [](ItemFingerprintTest *) {},
       "7a0ea77c0ff8d6c80efd0850fafbcd65"},
      {"asked again with nothing changed: the same value",
       [](ItemFingerprintTest *) {}, "7a0ea77c0ff8d6c80efd0850fafbcd65"},
      {"another sender hashed before the file: a new value over the same bytes",
       [](ItemFingerprintTest *t) { CopyText(t->record_->fromName, sizeof t->record_->fromName, "B"); },
       "addc21491fad1be800c5bf22290a1097"},
      {"the sender back: the first value again",
       [](ItemFingerprintTest *t) { t->record_->fromName[0] = '\0'; },
       "7a0ea77c0ff8d6c80efd0850fafbcd65"},
      {"one byte more at the end",
       [](ItemFingerprintTest *t) {
         FILE *f = fopen(t->path_.c_str(), "ab");
         ASSERT_NE(nullptr, f);
         fputc('x', f);
         fclose(f);
       },
       "5fc8b21e95580d074a0d36d794fc7978"},
      {"bytes rewritten in place, then another item's part added",
       [](ItemFingerprintTest *t) {
         t->Overwrite(1000, "changed");
         HostMessage *other = new HostMessage();
         EXPECT_EQ(1, com_AllocPart(other));
         com_ResetObject(other);
         delete other;
       },
       "fb9ee80c568830cd4e699dfcee23ea32"},
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.why);
    s.change(this);
    EXPECT_EQ(s.expected, Fingerprint());
  }
}

}  // namespace
