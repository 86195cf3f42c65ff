// SoapCall and DoPost against the simulator: the envelope and headers on
// the wire, busy-server retries and their waits, the status code, redirects,
// HTTPS, broken transfers, chunked answers and the keep-alive call.
#include <gtest/gtest.h>

#include <strings.h>

#include <string>
#include <vector>

#include "transport/canned_server.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"
#include "transport/transport_fixture.h"
#include "transport/writer_reference.h"

namespace transport_test {
namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;

const char kLoginBody[] =
    "<m:loginRequest>\n<m:auth type=\"t:PlainText\">\n<t:username>nobody</t:username>\n"
    "<t:password>secret</t:password>\n</m:auth>\n<m:version>1.02</m:version>\n"
    "<m:application>Movaro</m:application>\n</m:loginRequest>\n";
const char kFolderListBody[] =
    "<m:getFolderListRequest>\n<t:parent>folders</t:parent>\n<t:view/>\n"
    "<t:recurse>true</t:recurse>\n<t:imap>false</t:imap>\n<t:nntp>false</t:nntp>\n"
    "</m:getFolderListRequest>\n";
const int kUnknownUser = 53505;

std::string Golden(const char *name) {
  return ReadFileBytes(std::string(MVGWS_TEST_DATA) + "/transport/" + name);
}

std::string HeaderValue(const gwsim::RecordedRequest &request, const char *name) {
  for (const auto &h : request.headers)
    if (strcasecmp(h.first.c_str(), name) == 0) return h.second;
  return "<missing>";
}

std::string Envelope(const char *body) {
  std::vector<char> out(strlen(body) + 4096);
  size_t n = BuildSoapEnvelope(body, out.data(), out.size());
  return std::string(out.data(), n);
}

gwsim::Fault FaultFor(gwsim::FaultKind kind, int requestNumber, int times = 1) {
  gwsim::Fault f;
  f.kind = kind;
  f.requestNumber = requestNumber;
  f.times = times;
  return f;
}

gwsim::Fault FaultForLogins(gwsim::FaultKind kind, int times) {
  gwsim::Fault f;
  f.kind = kind;
  f.requestName = "loginRequest";
  f.times = times;
  return f;
}

class SoapCallTest : public TransferTest {};

TEST_F(SoapCallTest, EnvelopesAndHeadersOnTheWireMatchTheGoldenFiles) {
  struct Case {
    const char *sessionId;
    const char *body;
    const char *action;
    const char *golden;
  } cases[] = {
      {"", kLoginBody, "loginRequest", "login_without_session.golden"},
      {"4A5B6C7D8E9F0011", kFolderListBody, "getFolderListRequest",
       "folder_list_with_session.golden"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.golden);
    CopyText(gSession.sessionId, sizeof gSession.sessionId, c.sessionId);
    server_->ClearRequests();
    std::string golden = Golden(c.golden);
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(Envelope(c.body), golden);
    EXPECT_EQ(SoapCall(c.body, c.action, responsePath_.c_str()), 1);
    std::vector<gwsim::RecordedRequest> requests = server_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/soap");
    EXPECT_EQ(requests[0].body, golden);
    EXPECT_EQ(requests[0].soapAction, c.action);
    EXPECT_EQ(HeaderValue(requests[0], "SOAPAction"), std::string("\"") + c.action + "\"");
    EXPECT_EQ(HeaderValue(requests[0], "Content-Type"), "text/xml; charset=utf-8");
    EXPECT_EQ(HeaderValue(requests[0], "User-Agent"), "ferrulo-agent/1.0");
  }
  EXPECT_EQ(gSession.headers, nullptr);  // the list lives for one call only
}

TEST_F(SoapCallTest, TransferStartsLoggingVersionsAndCanStartAgainAfterItsEnd) {
  EXPECT_EQ(CountLog("libcurl version: " + std::string(curl_version_info(CURLVERSION_NOW)->version)), 1);
  EXPECT_EQ(CountLog("SSL version: "), 1);
  EndTransfer();
  EXPECT_EQ(gSession.curl, nullptr);
  EndTransfer();  // nothing left to end
  ASSERT_EQ(StartTransfer(), 1);
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
}

TEST_F(SoapCallTest, StatusCodeIsReadFromEachAnswerAndResetWhenAbsent) {
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(gHTTPResponse, 200);
  EXPECT_EQ(gGWSError, kUnknownUser);

  gwsim::Fault fixed = FaultFor(gwsim::FaultKind::kFixedAnswer, 2);
  fixed.body = "<soap:Envelope><soap:Body><x>no status here</x></soap:Body></soap:Envelope>";
  server_->AddFault(fixed);
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(gGWSError, 0);
}

TEST_F(SoapCallTest, StatusCodeIsReadWhateverTheHttpStatus) {
  const std::string answer =
      "<soap:Envelope><soap:Body><soap:Fault><faultstring>Refused</faultstring></soap:Fault>"
      "<gwm:status><gwt:code>53505</gwt:code></gwm:status></soap:Body></soap:Envelope>";
  CannedServer canned({CannedServer::Response(500, "Internal Server Error", answer)});
  CopyText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, (canned.url() + "/soap").c_str());
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 0);
  EXPECT_EQ(gHTTPResponse, 500);
  EXPECT_EQ(gGWSError, kUnknownUser);
  EXPECT_EQ(CountLog("MV Warning:"), 0);  // not a busy server: no retry
  EXPECT_EQ(ReadFileBytes(host_.dataDir() + "posterror.xml"), Response());
}

TEST_F(SoapCallTest, A302RedirectIsPostedAgainNotTurnedIntoAGet) {
  CannedServer canned({CannedServer::Response(302, "Found", "", "Location: /soap2\r\n"),
                       CannedServer::Response(200, "OK", "<gwt:code>0</gwt:code>")});
  CopyText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, (canned.url() + "/soap").c_str());
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(gHTTPResponse, 200);
  std::vector<CannedServer::Request> requests = canned.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].head.rfind("POST /soap2 ", 0), 0u) << requests[1].head;
  EXPECT_EQ(requests[1].body, Envelope(kLoginBody));
}

struct BusyCase {
  const char *name;
  std::vector<gwsim::FaultKind> answers;  // the first answers; later ones are normal
  bool lastRepeats;                        // the last fault answers every later request too
  int posts;
  int result;
  std::vector<double> gaps;  // seconds between consecutive posts
  int unavailableWarnings;
  int busyWarnings;
};

class BusyServer : public TransferTest {};

TEST_F(BusyServer, RetriesShareOneCountAndWaitLongerEachTime) {
  using K = gwsim::FaultKind;
  const BusyCase cases[] = {
      {"503 then 200", {K::kBusy503}, false, 2, 1, {1}, 1, 0},
      {"503 every time: two posts only", {K::kBusy503}, true, 2, 0, {1}, 1, 0},
      {"busy fault every time: three posts", {K::kBusyFault500}, true, 3, 0, {1, 2}, 0, 2},
      {"503, busy fault, then 200", {K::kBusy503, K::kBusyFault500}, false, 3, 1, {1, 2}, 1, 1},
      {"busy fault then 503: the count is spent", {K::kBusyFault500, K::kBusy503}, false, 2, 0,
       {1}, 0, 1},
      {"another error is not retried", {K::kStatus}, false, 1, 0, {}, 0, 0},
  };
  int served = 0;  // request numbers count over the server's life
  for (const BusyCase &c : cases) {
    SCOPED_TRACE(c.name);
    server_->ClearFaults();
    served += static_cast<int>(server_->RequestCount());
    server_->ClearRequests();
    for (size_t i = 0; i < c.answers.size(); ++i) {
      bool repeat = c.lastRepeats && i + 1 == c.answers.size();
      server_->AddFault(repeat ? FaultForLogins(c.answers[i], 0)
                               : FaultFor(c.answers[i], served + static_cast<int>(i) + 1));
    }
    remove((host_.dataDir() + "posterror.xml").c_str());
    log_.clear();

    int result = SoapCall(kLoginBody, "loginRequest", responsePath_.c_str());

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(static_cast<int>(server_->RequestCount()), c.posts);
    EXPECT_EQ(CountLog("MV Warning: server unavailable, retrying"), c.unavailableWarnings);
    EXPECT_EQ(CountLog("MV Warning: http error=500, faultstring=The server cannot service"),
              c.busyWarnings)
        << LogText();
    std::vector<Clock::time_point> posts = LogTimes("debug: gws: POST url=");
    ASSERT_EQ(posts.size(), static_cast<size_t>(c.posts));
    for (size_t i = 0; i < c.gaps.size(); ++i) {
      double gap = Seconds(posts[i + 1] - posts[i]);
      EXPECT_GE(gap, c.gaps[i] - 0.02) << "wait before post " << i + 2;
      EXPECT_LT(gap, c.gaps[i] + 0.9) << "wait before post " << i + 2;
    }
    if (c.result == 0) {
      EXPECT_EQ(ReadFileBytes(host_.dataDir() + "posterror.xml"), Response());
      EXPECT_NE(gHTTPResponse, 200);
    } else {
      EXPECT_EQ(gHTTPResponse, 200);
      EXPECT_EQ(gGWSError, kUnknownUser);
    }
  }
}

TEST_F(SoapCallTest, ARedirectIsPostedAgainAndTheLastStatusWins) {
  server_->AddFault(FaultFor(gwsim::FaultKind::kRedirect, 1));
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(gHTTPResponse, 200);
  EXPECT_EQ(gGWSError, kUnknownUser);
  std::vector<gwsim::RecordedRequest> requests = server_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body, requests[0].body);
}

class HttpsSoapCall : public TransferTest {
 protected:
  bool UseTls() const override { return true; }
};

TEST_F(HttpsSoapCall, SelfSignedCertificateIsAccepted) {
  ASSERT_EQ(server_->url().rfind("https://", 0), 0u);
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(gHTTPResponse, 200);
  EXPECT_EQ(gGWSError, kUnknownUser);
}

TEST_F(SoapCallTest, AnAttemptCutShortLeavesNothingBehindForTheNext) {
  ASSERT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  const std::string whole = Response();
  ASSERT_FALSE(whole.empty());

  server_->AddFault(FaultFor(gwsim::FaultKind::kCloseMidAnswer, 2));
  log_.clear();
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(CountLog("MV Info: retrying Post 2 (error="), 1);
  EXPECT_EQ(Response(), whole);
  EXPECT_EQ(gGWSError, kUnknownUser);
}

TEST_F(SoapCallTest, AServerThatAlwaysBreaksOffGetsTwoAttempts) {
  ASSERT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  const std::string whole = Response();

  server_->AddFault(FaultForLogins(gwsim::FaultKind::kCloseMidAnswer, 0));
  server_->ClearRequests();
  log_.clear();
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 0);
  EXPECT_EQ(server_->RequestCount(), 2u);
  EXPECT_EQ(CountLog("MV Info: retrying Post 2 (error="), 2);
  EXPECT_EQ(CountLog("debug: gws: POST url="), 2);
  // Only the second attempt's part of the answer is in the file.
  const std::string part = Response();
  EXPECT_FALSE(part.empty());
  EXPECT_LT(part.size(), whole.size());
  EXPECT_EQ(part.find("<?xml"), 0u);
  EXPECT_EQ(part.find("<?xml", 1), std::string::npos);
}

TEST_F(SoapCallTest, ChunkedAnswersAreReshapedAsTheyArrive) {
  const std::string raw = RawPost(gSession.soapEndpoint, Envelope(kLoginBody), "loginRequest");
  ASSERT_NE(raw.find("<gwt:code>"), std::string::npos);

  // A chunk ends after every ">": text always shares its line with its end tag.
  server_->AddFault(FaultForLogins(gwsim::FaultKind::kChunkAfterGt, 1));
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  std::string afterEveryGt;
  for (char c : raw) {
    afterEveryGt += c;
    if (c == '>') afterEveryGt += "\r\n";
  }
  EXPECT_EQ(Response(), afterEveryGt);
  EXPECT_EQ(gGWSError, kUnknownUser);

  // Splits after a start tag, inside a tag and inside a text.
  size_t code = raw.find("<gwt:code>") + strlen("<gwt:code>");
  std::vector<size_t> splits = {5, code - 4, code, code + 2};
  gwsim::Fault chunked = FaultForLogins(gwsim::FaultKind::kChunkSplits, 1);
  chunked.splits = splits;
  server_->AddFault(chunked);
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  std::vector<std::string> chunks;
  size_t from = 0;
  for (size_t at : splits) {
    chunks.push_back(raw.substr(from, at - from));
    from = at;
  }
  chunks.push_back(raw.substr(from));
  EXPECT_EQ(Response(), ReshapeByteByByte(chunks));
  EXPECT_EQ(gGWSError, kUnknownUser);
}

// Keep-alive during a real transfer: a clock that jumps 31 seconds at every
// look makes every chunk due.
int64_t gJumpingNow = 0;
int64_t JumpingClock() { return gJumpingNow += 31; }
std::vector<std::string> gNotifyKeys;
int MV_CALL RecordNotify(int, const char *key, int, int *, int *, int *) {
  gNotifyKeys.push_back(key);
  return 0;
}

TEST_F(SoapCallTest, HostHearsKeepaliveDuringALongTransferOnly) {
  gSession.hostNotify = RecordNotify;
  gNotifyKeys.clear();
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_TRUE(gNotifyKeys.empty()) << "a quick answer needs no keep-alive";

  SetTransferClock(JumpingClock);
  server_->AddFault(FaultForLogins(gwsim::FaultKind::kChunkAfterGt, 1));
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  ASSERT_FALSE(gNotifyKeys.empty());
  for (const std::string &key : gNotifyKeys) EXPECT_EQ(key, "keepalive");
}

TEST_F(SoapCallTest, CurlDebugLinesOnlyWithTheSwitch) {
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(CountLog("curl debug:"), 0);
  EXPECT_EQ(CountLog("debug: gws: POST url=" + std::string(gSession.soapEndpoint) + ", response=200"), 1);

  gRunSettings.curlDebug = 1;
  log_.clear();
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()), 1);
  EXPECT_EQ(CountLog("curl debug: Soap post data:\n<?xml"), 1) << LogText();
  EXPECT_EQ(CountLog("curl debug: at DoPost, size="), 1);
  EXPECT_EQ(CountLog("curl debug: Return from DoPost=1, gHTTPResponse=200"), 1);
  EXPECT_GE(CountLog("curl debug: infotype=1: HTTP/1.1 200"), 1);

  std::string longBody = "<m:getItemRequest>" + std::string(2000, 'x') + "</m:getItemRequest>";
  log_.clear();
  SoapCall(longBody.c_str(), "getItemRequest", responsePath_.c_str());
  EXPECT_EQ(CountLog("curl debug: Soap post data length: " + std::to_string(Envelope(longBody.c_str()).size())), 1);
}

class DoPostFailures : public TransferTest {};

TEST_F(DoPostFailures, AnUncreatableResponseFileSendsNothing) {
  gHTTPResponse = 200;  // left from an earlier call
  std::string path = host_.workDir() + "no/such/dir/x.xml";
  EXPECT_EQ(DoPost(gSession.soapEndpoint, "<x/>", path.c_str()), 0);
  EXPECT_EQ(server_->RequestCount(), 0u);
  // A stale 200 would make the caller take a request that was never sent
  // for a success.
  EXPECT_EQ(gHTTPResponse, 0);
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", path.c_str()), 0);
  EXPECT_EQ(gGWSError, 0);
}

TEST_F(DoPostFailures, NoServerMeansTwoAttemptsASecondApart) {
  const char *url = "http://127.0.0.1:1/soap";
  EXPECT_EQ(DoPost(url, "<x/>", responsePath_.c_str()), 0);
  EXPECT_EQ(gHTTPResponse, 0);
  EXPECT_EQ(CountLog("MV Info: retrying Post 2 (error=7)"), 2) << LogText();
  std::vector<Clock::time_point> posts = LogTimes("debug: gws: POST url=http://127.0.0.1:1/soap, response=0");
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_GE(Seconds(posts[1] - posts[0]), 0.98);
}

TEST_F(DoPostFailures, AFullDiskIsAFailedTransferNotASuccess) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_EQ(DoPost(gSession.soapEndpoint, Envelope(kLoginBody).c_str(), "/dev/full"), 0);
  EXPECT_EQ(CountLog("MV Info: retrying Post 2 (error=23)"), 2) << LogText();
}

}  // namespace
}  // namespace transport_test
