// Pieces the folder and logon tests share: a fixture with a clean plug-in
// state on a test host and a simulator to talk to, and saved answers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gwsim/gwsim.h"
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
  void TearDown() override { ResetPluginState(); }

  // Starts the simulator with the mailbox of a fixture text.
  void StartServer(const std::string &fixture);
  // Starts it with user alice/secret (root ROOT.alice@16; `content`: the
  // fixture elements of her mailbox) and logs her on; the log is then emptied.
  void Connect(const std::string &content = "", const std::vector<std::string> &params = {});
  // Logon to the simulator as the host calls it, with these host parameters.
  int LogOn(const std::string &user, const std::string &password,
            const std::vector<std::string> &params = {}, int mode = 1);

  // raw as the response writer reshapes it, in the work directory; its path.
  std::string Reshaped(const std::string &raw, const std::string &name);

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
};

}  // namespace plugin_test
