// Shared pieces of the folder and logon tests.
#include "plugin_test_support.h"

#include <cstring>

#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "gwsim/mailbox.h"
#include "host/mvcom/mvcom_host.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/recurrence_keys.h"
#include "transport/http_transfer.h"

namespace plugin_test {

std::string TestData(const std::string &relativePath) {
  return testing_support::ReadFileBytes(std::string(MVGWS_TEST_DATA) + "/" + relativePath);
}

std::string Answer(const std::string &response, const std::string &inner) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
         "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:gwm=\"http://schemas.novell.com/2005/01/GroupWise/methods\" "
         "xmlns:gwt=\"http://schemas.novell.com/2005/01/GroupWise/types\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body><gwm:" +
         response + ">" + inner + "<gwm:status><gwt:code>0</gwt:code></gwm:status></gwm:" +
         response + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

void ResetPluginState() {
  FreeFolderTable();
  FreeCategoryTable();
  ClearRecurrenceKeys();
  EndTransfer();
  ResetRunSettings();
  memset(&gSession, 0, sizeof gSession);
  gGWTrustedApp[0] = gGWAppKey[0] = gRootFolderId[0] = '\0';
  gHTTPResponse = gGWSError = 0;
}

std::string Rows(bool withCounts) {
  std::string rows;
  for (int i = 0; i < gFolderTable.count; ++i) {
    const FolderRecord *r = gFolderTable.records[i];
    rows += r->path;
    if (withCounts)
      rows += " " + std::to_string(r->folderClass) + " " + std::to_string(r->itemCount);
    rows += "; ";
  }
  return rows;
}

void PluginTest::SetUp() {
  ResetPluginState();
  ASSERT_EQ(0, host_.Init());
  CopyText(gSession.workDir, sizeof gSession.workDir, host_.workDir().c_str());
  CopyText(gSession.dataDir, sizeof gSession.dataDir, host_.dataDir().c_str());
  mvcom_SetExtendedErrorSink(&PluginTest::ErrorSink, this);
}

void PluginTest::TearDown() {
  mvcom_SetExtendedErrorSink(nullptr, nullptr);
  ResetPluginState();
}

void PluginTest::ErrorSink(int code, const char *text, void *user) {
  PluginTest *test = static_cast<PluginTest *>(user);
  if (code == kExtErrorItemFailed) test->itemErrors_.push_back(text);
  if (code == kExtErrorFolder) test->folderErrors_.push_back(text);
  if (code == kExtNoticeAttachmentLost || code == kExtNoticeFolderShortened || code == kExtNoticeItemInDoubt ||
      code == kExtNoticeMemberLeftOut || code == kExtNoticeCategoriesUnknown || code == kExtNoticeMemberMayBeTwice)
    test->notices_.push_back(std::to_string(code) + ": " + text);
}

void PluginTest::StartServer(const std::string &fixture) {
  ASSERT_TRUE(server_.Start()) << server_.LastError();
  std::string error;
  auto lock = server_.mailbox().Lock();
  ASSERT_TRUE(gwsim::LoadMailboxText(fixture, "test", &server_.mailbox(), &error)) << error;
}

void PluginTest::Connect(const std::string &content, const std::vector<std::string> &params) {
  ASSERT_NO_FATAL_FAILURE(StartServer(
      "<gwsim><user name=\"alice\" password=\"secret\" rootId=\"ROOT.alice@16\">" + content +
      "</user></gwsim>"));
  ASSERT_EQ(0, LogOn("alice", "secret", params));
  host_.ClearLog();
}

int PluginTest::LogOn(const std::string &user, const std::string &password,
                      const std::vector<std::string> &params, int mode) {
  EXPECT_EQ(0, host_.Init(params));
  CopyText(user_, sizeof user_, user.c_str());
  CopyText(password_, sizeof password_, password.c_str());
  return Logon(user_, password_, server_.url().c_str(), nullptr, nullptr, nullptr, nullptr,
               nullptr, nullptr, nullptr, nullptr, nullptr, mode, 0, nullptr, nullptr, nullptr);
}

std::string PluginTest::Reshaped(const std::vector<std::string> &chunks,
                                 const std::string &name) {
  std::string path = host_.workDir() + name;
  FilePtr file = OpenFile(path.c_str(), "wb");
  EXPECT_TRUE(file != nullptr) << path;
  if (!file) return path;
  ResponseWriterBegin(file.get());
  for (const std::string &chunk : chunks) ResponseWriterWrite(chunk.data(), chunk.size());
  ResponseWriterEnd();
  return path;
}

int PluginTest::FolderIndex(const std::string &name) const {
  for (int i = 0; i < gFolderTable.count; ++i)
    if (name == gFolderTable.records[i]->name) return i;
  return -1;
}

std::vector<gwsim::RecordedRequest> PluginTest::Sent(const std::string &requestName) const {
  std::vector<gwsim::RecordedRequest> named;
  for (const gwsim::RecordedRequest &request : server_.Requests())
    if (request.requestName == requestName) named.push_back(request);
  return named;
}

std::string PluginTest::SentBody(const std::string &requestName, size_t index) const {
  std::vector<gwsim::RecordedRequest> sent = Sent(requestName);
  if (index >= sent.size()) return "(not sent)";
  const std::string &envelope = sent[index].body;
  size_t start = envelope.find("<soap:Body>\n") + strlen("<soap:Body>\n");
  return envelope.substr(start, envelope.rfind("</soap:Body>\n") - start);
}

static void AddFault(gwsim::Server *server, int status, const std::string &body, int number,
                     const std::string &requestName) {
  gwsim::Fault fault;
  fault.kind = status == 200 ? gwsim::FaultKind::kFixedAnswer : gwsim::FaultKind::kStatus;
  fault.status = status;
  fault.body = body;
  fault.requestNumber = number;
  fault.requestName = requestName;
  fault.times = number == 0 ? 0 : 1;
  server->AddFault(fault);
}

void PluginTest::FaultNext(int offset, int status, const std::string &body) {
  AddFault(&server_, status, body, static_cast<int>(server_.RequestCount()) + offset, "");
}

void PluginTest::FaultEvery(const std::string &requestName, int status, const std::string &body) {
  AddFault(&server_, status, body, 0, requestName);
}

}  // namespace plugin_test
