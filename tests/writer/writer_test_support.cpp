// Shared pieces of the writer tests.
#include "writer_test_support.h"

#include <cstring>
#include <sys/stat.h>

#include "platform/bounded_text.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "writer/write_session.h"

namespace writer_test {

const char kMailboxContent[] =
    "<folder name=\"Mailbox\" type=\"Mailbox\" id=\"MBX@16\"/>"
    "<folder name=\"Sent Items\" type=\"SentItems\" id=\"SENT@16\"/>"
    "<folder name=\"Calendar\" type=\"Calendar\" id=\"CAL@16\"/>"
    "<folder name=\"Cabinet\" type=\"Cabinet\" id=\"CAB@16\"/>"
    "<folder name=\"Checklist\" type=\"Checklist\" id=\"TASKS@16\"/>";

std::string CreateAnswer(const std::string &id, int code) {
  std::string inner = id.empty() ? "" : "<gwm:id>" + id + "</gwm:id>";
  std::string answer = plugin_test::Answer("createItemResponse", inner);
  if (code != 0) {
    std::string zero = "<gwt:code>0</gwt:code>";
    answer.replace(answer.find(zero), zero.size(),
                   "<gwt:code>" + std::to_string(code) + "</gwt:code>");
  }
  return answer;
}

void RecordDeleter::operator()(HostMessage *record) const {
  com_Deallocate(record, nullptr);
  delete record;
}

RecordPtr NewRecord() {
  RecordPtr record(new HostMessage());
  CopyText(record->groupFolder, sizeof record->groupFolder, "root");
  record->msgSeq = 7;
  record->importance = 1;
  return record;
}

void AddRecipient(HostMessage *record, const char *name, const char *address, int kind) {
  ASSERT_NE(0, com_AllocRecip(record));
  HostRecipient *r = record->recips[record->recipCount++];
  CopyText(r->name, sizeof r->name, name);
  CopyText(r->address, sizeof r->address, address);
  r->kind = kind;
}

void AddPart(HostMessage *record, const char *name, int kind, const std::string &directory,
             const char *content) {
  ASSERT_NE(0, com_AllocPart(record));
  int index = record->partCount++;
  HostPart *p = record->parts[index];
  CopyText(p->name, sizeof p->name, name);
  p->kind = kind;
  if (content == nullptr) return;
  char path[1100];
  FormatPartFileName(path, sizeof path, directory.c_str(), record->msgSeq, index);
  // A host that keeps parts in memory hands them over there.
  if (mvcom_PartKeep(path, content, strlen(content))) return;
  ASSERT_TRUE(testing_support::WriteFileBytes(path, content));
}

void WriterTest::SetUp() {
  PluginTest::SetUp();
  ResetWriteCounters();
  mkdir(PartDir().c_str(), 0755);
}

void WriterTest::AnswerNext(const std::vector<Reply> &replies) {
  for (size_t i = 0; i < replies.size(); ++i)
    FaultNext(static_cast<int>(i) + 1, replies[i].status, replies[i].body);
}

void WriterTest::ExpectGoldenWrite(HostMessage *record, const char *golden, size_t index,
                                   const char *requestFile, const char *answerFile) {
  EXPECT_EQ(0, WriteMsg(record, nullptr, PartDir().c_str(), nullptr));
  const std::string expected = plugin_test::TestData(std::string("writer/") + golden);
  ASSERT_FALSE(expected.empty()) << golden;
  EXPECT_EQ(expected, SentBody("createItemRequest", index));
  EXPECT_TRUE(itemErrors_.empty());
  EXPECT_FALSE(testing_support::FileExists(host_.workDir() + requestFile));
  EXPECT_FALSE(testing_support::FileExists(host_.workDir() + answerFile));
}

std::string WriterTest::BodyFile(const HostMessage *record, int index) const {
  char path[1100];
  FormatPartFileName(path, sizeof path, host_.workDir().c_str(), record->msgSeq, index);
  return path;
}

void WriterTest::ConnectMailbox(const std::vector<std::string> &params) {
  ASSERT_NO_FATAL_FAILURE(Connect(kMailboxContent, params));
}

}  // namespace writer_test
