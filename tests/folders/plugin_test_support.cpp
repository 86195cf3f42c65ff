// Shared pieces of the folder and logon tests.
#include "plugin_test_support.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/recurrence_keys.h"
#include "transport/http_transfer.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"

namespace plugin_test {

std::string TestData(const std::string &relativePath) {
  return testing_support::ReadFileBytes(std::string(MVGWS_TEST_DATA) + "/" + relativePath);
}

void ReshapeToFile(const std::string &rawXml, const std::string &path) {
  FilePtr file = OpenFile(path.c_str(), "wb");
  if (!file) return;
  ResponseWriterBegin(file.get());
  ResponseWriterWrite(rawXml.data(), rawXml.size());
  ResponseWriterEnd();
}

std::vector<std::string> FileLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string RequestBody(const std::string &envelope) {
  static const std::string kOpen = "<soap:Body>\n", kClose = "</soap:Body>\n";
  size_t start = envelope.find(kOpen);
  size_t end = envelope.rfind(kClose);
  if (start == std::string::npos || end == std::string::npos || end < start) return "";
  start += kOpen.size();
  return envelope.substr(start, end - start);
}

std::vector<gwsim::RecordedRequest> RequestsNamed(const gwsim::Server &server,
                                                  const std::string &requestName) {
  std::vector<gwsim::RecordedRequest> named;
  for (const gwsim::RecordedRequest &request : server.Requests())
    if (request.requestName == requestName) named.push_back(request);
  return named;
}

void ResetPluginState() {
  FreeFolderTable();
  FreeCategoryTable();
  ClearRecurrenceKeys();
  EndTransfer();
  ResetRunSettings();
  memset(&gSession, 0, sizeof gSession);
  gGWTrustedApp[0] = gGWAppKey[0] = '\0';
  gRootFolderId[0] = '\0';
  gHTTPResponse = gGWSError = 0;
}

void UseHostDirectories(const testing_support::TestHost &host) {
  CopyText(gSession.workDir, sizeof gSession.workDir, host.workDir().c_str());
  CopyText(gSession.dataDir, sizeof gSession.dataDir, host.dataDir().c_str());
  CopyText(gSession.debugSubfolder, sizeof gSession.debugSubfolder, "tester");
}

bool SimulatorLogin(const gwsim::Server &server, const std::string &user,
                    const std::string &password) {
  FormatText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, "%s/soap",
             server.url().c_str());
  if (gSession.curl == nullptr && !StartTransfer()) return false;
  std::string body = "<m:loginRequest>\n<m:auth type=\"t:PlainText\">\n<t:username>" + user +
                     "</t:username>\n<t:password>" + password +
                     "</t:password>\n</m:auth>\n<m:version>1.09</m:version>\n"
                     "<m:application>Movaro</m:application>\n</m:loginRequest>\n";
  std::string responsePath = std::string(gSession.workDir) + "login.xml";
  if (!SoapCall(body.c_str(), "loginRequest", responsePath.c_str())) return false;
  FilePtr file = OpenFile(responsePath.c_str(), "r");
  if (!file) return false;
  char line[1024];
  const TagField session = {"<gwm:session>", kTagNoCase, gSession.sessionId,
                            sizeof gSession.sessionId, -1, nullptr};
  while (ReadResponseLine(line, sizeof line, file.get()))
    ScanTagTable(line, sizeof line, &session, 1, file.get());
  return gSession.sessionId[0] != '\0';
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

}  // namespace plugin_test
