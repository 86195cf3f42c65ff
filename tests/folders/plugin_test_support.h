// Pieces the plug-in tests share: a fixture with a clean plug-in state on a
// test host, a simulator to talk to, saved answers, and the failures the
// plug-in reported to the host.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "platform/file_guard.h"
#include "support/host_fixture.h"

namespace plugin_test {

// The test data file's text ("" when missing).
std::string TestData(const std::string &relativePath);
// A SOAP answer `response` with the given inner XML and status code 0.
std::string Answer(const std::string &response, const std::string &inner);
// Empties every table, the run settings, the session and the transfer handle.
void ResetPluginState();
// The folder table as "path class count; " per record, or "path; " alone.
std::string Rows(bool withCounts = true);

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;  // clean state; the session uses the host's directories
  void TearDown() override;

  // Starts the simulator with the mailbox of a fixture text.
  void StartServer(const std::string &fixture);
  // Starts it with user alice/secret (root ROOT.alice@16; `content`: the
  // fixture elements of her mailbox) and logs her on; the log is then emptied.
  void Connect(const std::string &content = "", const std::vector<std::string> &params = {});
  // Logon to the simulator as the host calls it, with these host parameters.
  int LogOn(const std::string &user, const std::string &password,
            const std::vector<std::string> &params = {}, int mode = 1);

  // The answer as the response writer stores it, handed over in the given
  // pieces (as libcurl's chunks would arrive), in the work directory; its path.
  std::string Reshaped(const std::vector<std::string> &chunks, const std::string &name);
  std::string Reshaped(const std::string &raw, const std::string &name) {
    return Reshaped(std::vector<std::string>{raw}, name);
  }
  FilePtr OpenReshaped(const std::vector<std::string> &chunks) {
    return OpenFile(Reshaped(chunks, "answer.xml").c_str(), "rb");
  }
  std::string WorkFile(const std::string &name) const { return host_.workDir() + name; }

  // Index of the folder named name in the folder table (-1 when missing).
  int FolderIndex(const std::string &name) const;

  // Recorded requests named requestName, and the body (the element inside
  // soap:Body) of the index-th of them or "(not sent)".
  std::vector<gwsim::RecordedRequest> Sent(const std::string &requestName) const;
  std::string SentBody(const std::string &requestName, size_t index = 0) const;

  // Answers request number RequestCount()+offset (so not after ClearRequests),
  // or every request named so, with HTTP `status` (200: with `body`).
  void FaultNext(int offset, int status, const std::string &body = "");
  void FaultEvery(const std::string &requestName, int status, const std::string &body = "");

  testing_support::TestHost host_;
  gwsim::Server server_;
  char user_[256], password_[1024];  // the host's buffers, as Logon left them
  std::vector<std::string> itemErrors_;    // kExtErrorItemFailed texts
  std::vector<std::string> folderErrors_;  // kExtErrorFolder texts
  std::vector<std::string> notices_;       // "CODE: text" of the notices (codes 130, 131)

 private:
  static void ErrorSink(int code, const char *text, void *user);
};

}  // namespace plugin_test
