// SoapCall and DoPost against the simulator: the envelope and headers on
// the wire, busy-server retries and their waits, the status code, redirects,
// HTTPS, broken transfers, chunked answers and the keep-alive call.
#include <sys/resource.h>

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <string>
#include <thread>
#include <vector>

#include "gwsim/gwsim.h"
#include "platform/bounded_text.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "support/host_fixture.h"
#include "transport/answer_store.h"
#include "transport/http_transfer.h"
#include "transport/keep_alive.h"
#include "transport/retry_wait.h"
#include "transport/soap_call.h"
#include "transport/writer_reference.h"

namespace {

using testing_support::ReadFileBytes;

// One wait between attempts: its milliseconds and the posts made before it.
using Wait = std::pair<uint32_t, size_t>;

const char kLoginBody[] =
    "<m:loginRequest>\n<m:auth type=\"t:PlainText\">\n<t:username>nobody</t:username>\n"
    "<t:password>secret</t:password>\n</m:auth>\n<m:version>1.02</m:version>\n"
    "<m:application>Movaro</m:application>\n</m:loginRequest>\n";
const int kUnknownUser = 53505;  // the simulator's answer to kLoginBody

std::string Envelope(const char *body) {
  std::vector<char> out(strlen(body) + 4096);
  return std::string(out.data(), BuildSoapEnvelope(body, out.data(), out.size()));
}

// requestNumber 0: whichever request comes; times 0: every one from then on.
gwsim::Fault FaultFor(gwsim::FaultKind kind, int requestNumber, int times = 1) {
  gwsim::Fault f;
  f.kind = kind;
  f.requestNumber = requestNumber;
  f.times = times;
  return f;
}

// The test host (MVCOM on a temporary directory) with the session pointed
// at a gwsim server, a started transfer, every log line, and the retry waits
// noted instead of slept.
class SoapCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host_.Init(), 0);
    mvcom_SetLogSink(&SoapCallTest::Sink, this);
    current_ = this;
    SetRetryWait(&SoapCallTest::NoteWait);
    CopyText(gSession.dataDir, sizeof gSession.dataDir, host_.dataDir().c_str());
    CopyText(gSession.workDir, sizeof gSession.workDir, host_.workDir().c_str());
    ASSERT_TRUE(server_.Start()) << server_.LastError();
    SetEndpoint(server_.url());
    ASSERT_EQ(StartTransfer(), 1);
  }

  void TearDown() override {
    EndTransfer();
    server_.Stop();
    gSession.hostNotify = nullptr;
    gSession.sessionId[0] = '\0';
    SetTransferClock(nullptr);
    SetRetryWait(nullptr);
    current_ = nullptr;
  }

  static void Sink(const char *line, void *user) { static_cast<SoapCallTest *>(user)->log_.push_back(line); }
  static void NoteWait(uint32_t milliseconds) {
    current_->waits_.push_back({milliseconds, current_->server_.RequestCount()});
  }
  int CountLog(const std::string &prefix) const {
    int n = 0;
    for (const std::string &line : log_) n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

  void SetEndpoint(const std::string &url) {
    CopyText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, (url + "/soap").c_str());
  }
  int Login() { return SoapCall(kLoginBody, "loginRequest", responsePath_.c_str()); }
  // The answer where the plug-in's readers find it (in memory when small).
  std::string Response() const {
    FilePtr file = OpenAnswer(responsePath_.c_str(), "rb");
    std::string bytes;
    char block[4096];
    size_t n;
    while (file && (n = fread(block, 1, sizeof block, file.get())) > 0) bytes.append(block, n);
    return bytes;
  }
  std::string PostError() const { return ReadFileBytes(host_.dataDir() + "posterror.xml"); }

  testing_support::TestHost host_;
  gwsim::Server server_;
  const std::string responsePath_ = host_.workDir() + "logonre.xml";
  std::vector<std::string> log_;
  std::vector<Wait> waits_;
  static SoapCallTest *current_;
};
SoapCallTest *SoapCallTest::current_ = nullptr;

TEST_F(SoapCallTest, EnvelopesAndHeadersOnTheWireMatchTheGoldenFiles) {
  const struct {
    const char *sessionId, *body, *action, *golden;
  } cases[] = {
      {"", kLoginBody, "loginRequest", "login_without_session.golden"},
      {"4A5B6C7D8E9F0011",
       "<m:getFolderListRequest>\n<t:parent>folders</t:parent>\n<t:view/>\n"
       "<t:recurse>true</t:recurse>\n<t:imap>false</t:imap>\n<t:nntp>false</t:nntp>\n"
       "</m:getFolderListRequest>\n",
       "getFolderListRequest", "folder_list_with_session.golden"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.golden);
    CopyText(gSession.sessionId, sizeof gSession.sessionId, c.sessionId);
    server_.ClearRequests();
    const std::string golden = ReadFileBytes(std::string(MVGWS_TEST_DATA) + "/transport/" + c.golden);
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(SoapCall(c.body, c.action, responsePath_.c_str()), 1);
    std::vector<gwsim::RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method + " " + requests[0].path, "POST /soap");
    EXPECT_EQ(requests[0].body, golden);
    const std::pair<std::string, std::string> headers[] = {
        {"SOAPAction", "\"" + std::string(c.action) + "\""},
        {"Content-Type", "text/xml; charset=utf-8"}, {"User-Agent", "ferrulo-agent/1.0"}};
    EXPECT_THAT(requests[0].headers, ::testing::IsSupersetOf(headers));
  }
  EXPECT_EQ(gHTTPResponse, 200);
  EXPECT_EQ(gSession.headers, nullptr);  // the list lives for one call only
}

TEST_F(SoapCallTest, StatusCodeIsReadWhateverTheHttpStatusAndRedirectsArePostedAgain) {
  // Answers the simulator cannot give: a failed status whose body still
  // carries a GroupWise code, then a 302 to the simulator.
  httplib::Server raw;
  raw.set_keep_alive_max_count(1);
  int served = 0;
  raw.Post(".*", [&](const httplib::Request &, httplib::Response &res) {
    if (served++ > 0) return res.set_redirect(server_.url() + "/soap2", 302);
    res.status = 500;
    res.set_content("<soap:Envelope><soap:Body><soap:Fault><faultstring>Refused</faultstring>"
                    "</soap:Fault><gwm:status><gwt:code>53505</gwt:code></gwm:status>"
                    "</soap:Body></soap:Envelope>", "text/xml");
  });
  SetEndpoint("http://127.0.0.1:" + std::to_string(raw.bind_to_any_port("127.0.0.1")));
  std::thread serving([&raw] { raw.listen_after_bind(); });
  gGWSError = 0;
  EXPECT_EQ(Login(), 0);
  EXPECT_EQ(gHTTPResponse, 500);
  EXPECT_EQ(gGWSError, kUnknownUser);
  EXPECT_EQ(CountLog("MV Warning:"), 0);  // not a busy server: no retry
  EXPECT_EQ(PostError(), Response());

  // The simulator answers the redirected post with a 307 to the same path,
  // then with the answer: libcurl must post the envelope again each time.
  server_.AddFault(FaultFor(gwsim::FaultKind::kRedirect, 1));
  gGWSError = 0;
  EXPECT_EQ(Login(), 1);
  raw.stop();
  serving.join();
  EXPECT_EQ(gHTTPResponse, 200);
  EXPECT_EQ(gGWSError, kUnknownUser);
  EXPECT_EQ(server_.RequestCount(), 2u);
  for (const gwsim::RecordedRequest &r : server_.Requests()) {
    EXPECT_EQ(r.method + " " + r.path, "POST /soap2");
    EXPECT_EQ(r.body, Envelope(kLoginBody));
  }
}

TEST_F(SoapCallTest, BusyRetriesShareOneCountAndWaitLongerEachTime) {
  using K = gwsim::FaultKind;
  const struct {
    const char *name;
    std::vector<K> answers;  // the first answers; later ones are normal
    bool lastRepeats;        // the last fault answers every later request too
    size_t posts;
    int result;
    std::vector<Wait> waits;  // milliseconds, after how many posts
    int unavailableWarnings, busyWarnings;
  } cases[] = {
      {"503 then 200", {K::kBusy503}, false, 2, 1, {{1000, 1}}, 1, 0},
      {"503 every time: two posts only", {K::kBusy503}, true, 2, 0, {{1000, 1}}, 1, 0},
      {"busy fault every time: three posts", {K::kBusyFault500}, true, 3, 0, {{1000, 1}, {2000, 2}}, 0, 2},
      {"503, busy fault, then 200", {K::kBusy503, K::kBusyFault500}, false, 3, 1, {{1000, 1}, {2000, 2}}, 1, 1},
      {"busy fault then 503: the count is spent", {K::kBusyFault500, K::kBusy503}, false, 2, 0, {{1000, 1}}, 0, 1},
      {"another error is not retried", {K::kStatus}, false, 1, 0, {}, 0, 0},
  };
  int served = 0;  // request numbers count over the server's life
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    server_.ClearFaults();
    served += static_cast<int>(server_.RequestCount());
    server_.ClearRequests();
    for (size_t i = 0; i < c.answers.size(); ++i) {
      const bool repeat = c.lastRepeats && i + 1 == c.answers.size();
      server_.AddFault(repeat ? FaultFor(c.answers[i], 0, 0) : FaultFor(c.answers[i], served + static_cast<int>(i) + 1));
    }
    remove((host_.dataDir() + "posterror.xml").c_str());
    log_.clear();
    waits_.clear();

    EXPECT_EQ(Login(), c.result);
    EXPECT_EQ(server_.RequestCount(), c.posts);
    EXPECT_EQ(CountLog("MV Warning: server unavailable, retrying"), c.unavailableWarnings);
    EXPECT_EQ(CountLog("MV Warning: http error=500, faultstring=The server cannot service"), c.busyWarnings);
    EXPECT_EQ(waits_, c.waits);
    // The status code is read from the last answer (the busy ones have none).
    EXPECT_EQ(gGWSError, c.result ? kUnknownUser : 0);
    if (c.result == 0) {
      EXPECT_EQ(PostError(), Response());
    }
    EXPECT_EQ(gHTTPResponse == 200, c.result == 1);
  }
}

// The certificate is taken as it comes unless the host asks for checks:
// against the system's authorities (which do not know a self-signed one) or
// against a file of the certificates to trust.
TEST_F(SoapCallTest, HttpsWithASelfSignedCertificate) {
  gwsim::Options options;
  options.tls = true;
  gwsim::Server secure(options), other(options);
  ASSERT_TRUE(secure.Start()) << secure.LastError();
  ASSERT_TRUE(other.Start()) << other.LastError();
  ASSERT_EQ(secure.url().rfind("https://", 0), 0u);
  const std::string own = host_.root() + "/own.pem", foreign = host_.root() + "/foreign.pem";
  ASSERT_NE(secure.CertificatePem().find("BEGIN CERTIFICATE"), std::string::npos);
  ASSERT_TRUE(testing_support::WriteFileBytes(own, secure.CertificatePem()));
  ASSERT_TRUE(testing_support::WriteFileBytes(foreign, other.CertificatePem()));
  const struct {
    const char *why;
    int verify;
    std::string caFile;
    bool answered;
  } cases[] = {
      {"no checks", 0, "", true},
      {"checked against the server's own certificate", 0, own, true},
      {"checked against the system's authorities", 1, "", false},
      {"checked against another server's certificate", 0, foreign, false},
  };
  SetEndpoint(secure.url());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    gRunSettings.tlsVerify = c.verify;
    CopyText(gRunSettings.tlsCaFile, sizeof gRunSettings.tlsCaFile, c.caFile.c_str());
    ASSERT_EQ(StartTransfer(), 1);  // a session of its own: its switches hold from the logon on
    secure.ClearRequests();
    log_.clear();
    EXPECT_EQ(Login(), c.answered ? 1 : 0);
    EXPECT_EQ(gHTTPResponse, c.answered ? 200 : 0);
    EXPECT_EQ(secure.RequestCount(), c.answered ? 1u : 0u) << "nothing is sent to a server that is not trusted";
    if (c.answered) {
      EXPECT_EQ(gGWSError, kUnknownUser);
    }
  }
  gRunSettings.tlsVerify = 0;
  gRunSettings.tlsCaFile[0] = '\0';
}

TEST_F(SoapCallTest, AnAttemptCutShortLeavesNothingBehindForTheNext) {
  ASSERT_EQ(Login(), 1);
  const std::string whole = Response();
  // Cut once: the file holds the second attempt's answer alone.
  server_.AddFault(FaultFor(gwsim::FaultKind::kCloseMidAnswer, 2));
  log_.clear();
  EXPECT_EQ(Login(), 1);
  EXPECT_EQ(CountLog("MV Info: retrying Post 2 (error="), 1);
  EXPECT_EQ(Response(), whole);
  // Cut every time: a second's wait after each of the two attempts, the
  // second one's part kept.
  server_.AddFault(FaultFor(gwsim::FaultKind::kCloseMidAnswer, 0, 0));
  server_.ClearRequests();
  log_.clear();
  waits_.clear();
  EXPECT_EQ(Login(), 0);
  EXPECT_EQ(server_.RequestCount(), 2u);
  EXPECT_EQ(CountLog("MV Info: retrying Post 2 (error="), 2);
  EXPECT_EQ(waits_, (std::vector<Wait>{{1000, 1}, {1000, 2}}));
  const std::string part = Response();
  EXPECT_LT(part.size(), whole.size());
  EXPECT_EQ(part.find("<?xml"), 0u);
  EXPECT_EQ(part.find("<?xml", 1), std::string::npos);
}

// Keep-alive during a transfer: a clock that jumps 31 seconds at every look
// makes every chunk due.
int64_t gJumpingNow = 0;
int64_t JumpingClock() { return gJumpingNow += 31; }
std::vector<std::string> gNotifyKeys;
int MV_CALL RecordNotify(int, const char *key, int, int *, int *, int *) {
  gNotifyKeys.push_back(key);
  return 0;
}

TEST_F(SoapCallTest, ChunkedAnswersAreReshapedAsTheyArriveAndKeepTheHostAlive) {
  // The answer's bytes as the simulator sends them.
  httplib::Client client(server_.url());
  auto answer = client.Post("/soap", {{"Accept-Encoding", "identity"}}, Envelope(kLoginBody), "text/xml");
  ASSERT_TRUE(answer);
  const std::string raw = answer->body;
  ASSERT_NE(raw.find("<gwt:code>"), std::string::npos);

  // A chunk ends after every ">": text always shares its line with its end tag.
  SetTransferClock(JumpingClock);
  gSession.hostNotify = RecordNotify;
  server_.AddFault(FaultFor(gwsim::FaultKind::kChunkAfterGt, 0));  // the next request
  EXPECT_EQ(Login(), 1);
  std::string afterEveryGt;
  for (char c : raw) afterEveryGt += c == '>' ? std::string(">\r\n") : std::string(1, c);
  EXPECT_EQ(Response(), afterEveryGt);
  EXPECT_EQ(gGWSError, kUnknownUser);
  EXPECT_EQ(gNotifyKeys, std::vector<std::string>(gNotifyKeys.size(), "keepalive"));
  EXPECT_FALSE(gNotifyKeys.empty());

  // Splits inside a tag, after a start tag and inside a text. Random splits
  // are the response writer's own test, against the same byte-by-byte rule.
  const size_t code = raw.find("<gwt:code>") + strlen("<gwt:code>");
  gwsim::Fault chunked = FaultFor(gwsim::FaultKind::kChunkSplits, 0);
  chunked.splits = {5, code - 4, code, code + 2};
  server_.AddFault(chunked);
  EXPECT_EQ(Login(), 1);
  EXPECT_EQ(Response(), transport_test::ReshapeByteByByte(
                            {raw.substr(0, 5), raw.substr(5, code - 9), raw.substr(code - 4, 4),
                             raw.substr(code, 2), raw.substr(code + 2)}));
}

TEST_F(SoapCallTest, AResponseFileThatCannotBeWrittenFailsTheCall) {
  // Every answer goes to its file here, as a large one does.
  SetAnswerSpillSize(0);
  struct SpillSizeBack {
    ~SpillSizeBack() { SetAnswerSpillSize(kAnswerSpillSize); }
  } spillSizeBack;
  gHTTPResponse = 200;  // left from an earlier call
  gGWSError = kUnknownUser;
  const std::string path = host_.workDir() + "no/such/dir/x.xml";
  EXPECT_EQ(DoPost(gSession.soapEndpoint, "<x/>", path.c_str()), 0);
  EXPECT_EQ(server_.RequestCount(), 0u);
  // A stale 200 would make the caller take a request never sent for a success.
  EXPECT_EQ(gHTTPResponse, 0);
  EXPECT_EQ(SoapCall(kLoginBody, "loginRequest", path.c_str()), 0);
  EXPECT_EQ(gGWSError, 0);

  // A file that opens but takes no byte, as on a full disk: the process may
  // write nothing past its limit for the length of the call.
  struct rlimit before;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  struct rlimit none = before;
  none.rlim_cur = 0;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
  const int posted = DoPost(gSession.soapEndpoint, Envelope(kLoginBody).c_str(),
                            (host_.workDir() + "full.xml").c_str());
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(posted, 0);
  EXPECT_EQ(CountLog("MV Info: retrying Post 2 (error=23)"), 2);  // a write error, not a success
}

}  // namespace
