// DoPost's throughput on a 100 MB answer from the simulator, next to a bare
// libcurl client that writes the same answer raw to a file. The two run in
// turns within one benchmark (so that load on the machine hits both alike);
// it reports both rates and their ratio (goal: DoPost / raw >= 0.9), and the
// response writer's own rate without a transfer.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "host/mvcom/mvcom_host.h"
#include "platform/bounded_text.h"
#include "plugin/session_state.h"
#include "transport/http_transfer.h"

namespace {

const size_t kAnswerBytes = 100u * 1024u * 1024u;
const char kEnvelope[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<soap:Envelope "
    "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\n<soap:Body>\n"
    "<m:getItemsRequest><m:container>1</m:container></m:getItemsRequest>\n</soap:Body>\n"
    "</soap:Envelope>\n";

struct BenchSetup {
  std::string url;
  std::string dir;
  std::string answer;
};
BenchSetup gBench;

// Many small elements, as a long item list comes.
std::string MakeAnswer() {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope><SOAP-ENV:Body>"
                  "<gwm:getItemsResponse><gwm:items>";
  s.reserve(kAnswerBytes + 1024);
  for (unsigned n = 0; s.size() < kAnswerBytes; ++n) {
    s += "<gwt:item><gwt:id>450AD3EB.domain1.po1.100.16E3837.1.";
    s += std::to_string(n);
    s += "@1</gwt:id><gwt:subject>Status report &amp; plans ";
    s += std::to_string(n);
    s += "</gwt:subject><gwt:delivered>2019-05-02T14:00:00Z</gwt:delivered></gwt:item>";
  }
  return s + "</gwm:items><gwm:status><gwt:code>0</gwt:code></gwm:status>"
             "</gwm:getItemsResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

size_t RawWrite(char *data, size_t size, size_t count, void *file) {
  return fwrite(data, size, count, static_cast<FILE *>(file)) * size;
}

// One raw transfer into a file; seconds taken, or -1 on failure.
double RawTransfer(CURL *curl, const std::string &path) {
  auto start = std::chrono::steady_clock::now();
  FILE *file = fopen(path.c_str(), "wb");
  if (file == nullptr) return -1;
  curl_easy_setopt(curl, CURLOPT_URL, gBench.url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, kEnvelope);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, RawWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
  CURLcode rc = curl_easy_perform(curl);
  if (fclose(file) != 0 || rc != CURLE_OK) return -1;
  return SecondsSince(start);
}

double DoPostTransfer(const std::string &path) {
  auto start = std::chrono::steady_clock::now();
  if (DoPost(gBench.url.c_str(), kEnvelope, path.c_str()) != 1 || gHTTPResponse != 200) return -1;
  return SecondsSince(start);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_DoPostVersusRawCurl(benchmark::State &state) {
  const std::string rawPath = gBench.dir + "/raw.xml";
  const std::string dopostPath = gBench.dir + "/dopost.xml";
  CURL *curl = curl_easy_init();
  // One untimed pass of each, so that neither pays for warming up.
  if (RawTransfer(curl, rawPath) < 0 || DoPostTransfer(dopostPath) < 0) {
    state.SkipWithError("transfer failed");
  }
  std::vector<double> raw, dopost;
  for (auto _ : state) {
    double r = RawTransfer(curl, rawPath);
    double d = DoPostTransfer(dopostPath);
    if (r < 0 || d < 0) {
      state.SkipWithError("transfer failed");
      break;
    }
    raw.push_back(r);
    dopost.push_back(d);
    state.SetIterationTime(r + d);
  }
  curl_easy_cleanup(curl);
  if (raw.empty()) return;
  const double mb = kAnswerBytes / 1e6;
  double rawRate = mb / Median(raw);
  double dopostRate = mb / Median(dopost);
  state.counters["raw_MBps"] = rawRate;
  state.counters["DoPost_MBps"] = dopostRate;
  state.counters["ratio"] = dopostRate / rawRate;
  printf("100 MB answer, medians of %zu turns: raw libcurl %.1f MB/s, DoPost %.1f MB/s, "
         "ratio %.2f\n",
         raw.size(), rawRate, dopostRate, dopostRate / rawRate);
}

// The writer alone, on the same answer in libcurl-sized chunks.
void BM_ResponseWriterOnly(benchmark::State &state) {
  const std::string path = gBench.dir + "/writer.xml";
  const size_t kChunk = 16384;
  for (auto _ : state) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
      state.SkipWithError("cannot create the output file");
      break;
    }
    ResponseWriterBegin(file);
    for (size_t at = 0; at < gBench.answer.size(); at += kChunk) {
      ResponseWriterWrite(gBench.answer.data() + at, std::min(kChunk, gBench.answer.size() - at));
    }
    ResponseWriterEnd();
    fclose(file);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(gBench.answer.size()));
}

BENCHMARK(BM_DoPostVersusRawCurl)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResponseWriterOnly)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  char dirTemplate[] = "/tmp/bench-dopost-XXXXXX";
  const char *dir = mkdtemp(dirTemplate);
  if (dir == nullptr) return 1;
  gBench.dir = dir;

  MvcomConfig config = {};
  config.dataDir = dir;
  config.workDir = dir;
  if (mvcom_Init(&config) != 0) return 1;

  gwsim::Server server;
  if (!server.Start()) {
    fprintf(stderr, "gwsim: %s\n", server.LastError().c_str());
    return 1;
  }
  gBench.answer = MakeAnswer();
  gwsim::Fault fixed;
  fixed.kind = gwsim::FaultKind::kFixedAnswer;
  fixed.body = gBench.answer;
  fixed.times = 0;  // every request
  server.AddFault(fixed);
  gBench.url = server.url() + "/soap";
  CopyText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, gBench.url.c_str());
  if (!StartTransfer()) return 1;

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  EndTransfer();
  server.Stop();
  mvcom_Shutdown();
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  return 0;
}
