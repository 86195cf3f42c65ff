// A test's transfer: the test host (MVCOM on a temporary directory), the
// session's directories and endpoint, a gwsim server on an ephemeral port,
// the transfer handle, and every log line with the time it was written.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "support/host_fixture.h"
#include "transport/http_transfer.h"
#include "transport/keep_alive.h"

namespace transport_test {

using Clock = std::chrono::steady_clock;

struct LogLine {
  std::string text;
  Clock::time_point at;
};

class TransferTest : public ::testing::Test {
 protected:
  virtual bool UseTls() const { return false; }

  void SetUp() override {
    ASSERT_EQ(host_.Init(), 0);
    mvcom_SetLogSink(&TransferTest::Sink, this);
    ResetRunSettings();
    CopyText(gSession.dataDir, sizeof gSession.dataDir, host_.dataDir().c_str());
    CopyText(gSession.workDir, sizeof gSession.workDir, host_.workDir().c_str());
    gSession.sessionId[0] = '\0';
    gSession.hostNotify = nullptr;
    gwsim::Options options;
    options.tls = UseTls();
    server_.reset(new gwsim::Server(options));
    ASSERT_TRUE(server_->Start()) << server_->LastError();
    CopyText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, (server_->url() + "/soap").c_str());
    ASSERT_EQ(StartTransfer(), 1);
    responsePath_ = host_.workDir() + "logonre.xml";
  }

  void TearDown() override {
    EndTransfer();
    if (server_) server_->Stop();
    gSession.hostNotify = nullptr;
    gSession.sessionId[0] = '\0';
    SetTransferClock(nullptr);
    ResetRunSettings();
  }

  static void Sink(const char *line, void *user) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    static_cast<TransferTest *>(user)->log_.push_back({text, Clock::now()});
  }

  int CountLog(const std::string &prefix) const {
    int n = 0;
    for (const LogLine &l : log_)
      if (l.text.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  }

  // Times at which lines beginning with prefix were logged.
  std::vector<Clock::time_point> LogTimes(const std::string &prefix) const {
    std::vector<Clock::time_point> times;
    for (const LogLine &l : log_)
      if (l.text.compare(0, prefix.size(), prefix) == 0) times.push_back(l.at);
    return times;
  }

  std::string LogText() const {
    std::string all;
    for (const LogLine &l : log_) all += l.text + "\n";
    return all;
  }

  std::string Response() const { return testing_support::ReadFileBytes(responsePath_); }

  testing_support::TestHost host_;
  std::unique_ptr<gwsim::Server> server_;
  std::string responsePath_;
  std::vector<LogLine> log_;
};

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace transport_test

#include <curl/curl.h>

namespace transport_test {

// A bare libcurl POST that keeps the answer exactly as it arrived; "" on a
// transfer error. Used to learn the raw bytes the simulator sends.
inline size_t AppendToString(char *data, size_t size, size_t count, void *user) {
  static_cast<std::string *>(user)->append(data, size * count);
  return size * count;
}

inline std::string RawPost(const std::string &url, const std::string &body, const char *action) {
  std::string answer;
  CURL *curl = curl_easy_init();
  if (curl == nullptr) return answer;
  std::string soapAction = std::string("SOAPAction: \"") + action + "\"";
  struct curl_slist *headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
  headers = curl_slist_append(headers, soapAction.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToString);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  if (curl_easy_perform(curl) != CURLE_OK) answer.clear();
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return answer;
}

}  // namespace transport_test
