// WriteMsg's throughput into the simulator next to a bare libcurl client
// posting the same request bodies (10000 small mails; one 200 MB
// attachment), and the plug-in side's peak memory for a large attachment,
// measured in a child process of this program so that the simulator's own
// memory does not count. A plain timed program: run by hand, prints figures.
#include <curl/curl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gwsim/gwsim.h"
#include "host/mvcom/mvcom_host.h"
#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "transport/http_transfer.h"
#include "transport/soap_call.h"

extern char **environ;

namespace {

const int kSmallMails = 10000;
const int kTurns = 5;  // small mails run in alternating turns of both clients
const int kLargeMsgSeq = 200;
const char kCreateAnswer[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
    "<gwm:createItemResponse><gwm:id>MAIL@1</gwm:id><gwm:status><gwt:code>%d</gwt:code>"
    "</gwm:status></gwm:createItemResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";

std::string gDir;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Answer(int code) {
  char text[sizeof kCreateAnswer + 16];
  FormatText(text, sizeof text, kCreateAnswer, code);
  return text;
}

void AnswerCreates(gwsim::Server *server, int code) {
  server->ClearFaults();
  gwsim::Fault fixed;
  fixed.kind = gwsim::FaultKind::kFixedAnswer;
  fixed.body = Answer(code);
  fixed.times = 0;
  server->AddFault(fixed);
}

// The plug-in's session as Logon would leave it, against url.
int SetUpPlugin(const std::string &url) {
  MvcomConfig config = {};
  config.dataDir = gDir.c_str();
  config.workDir = gDir.c_str();
  if (mvcom_Init(&config) != 0) return 0;
  std::string endpoint = url + "/soap";
  CopyText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, endpoint.c_str());
  CopyText(gSession.workDir, sizeof gSession.workDir, (gDir + "/").c_str());
  CopyText(gSession.dataDir, sizeof gSession.dataDir, (gDir + "/").c_str());
  CopyText(gSession.sessionId, sizeof gSession.sessionId, "BENCH.SESSION");
  CopyText(gSession.targetContainer, sizeof gSession.targetContainer, "MBX@16");
  return StartTransfer();
}

struct RecordDeleter {
  void operator()(HostMessage *record) const {
    com_Deallocate(record, nullptr);
    delete record;
  }
};
using RecordPtr = std::unique_ptr<HostMessage, RecordDeleter>;

RecordPtr SmallMail() {
  RecordPtr r(new HostMessage());
  r->msgSeq = 1;
  r->importance = 1;
  CopyText(r->subject, sizeof r->subject, "Status report & plans for the week");
  CopyText(r->fromName, sizeof r->fromName, "Ann Lee");
  CopyText(r->fromAddress, sizeof r->fromAddress, "ann@example.com");
  for (int i = 0; i < 2 && com_AllocRecip(r.get()); ++i) {
    HostRecipient *p = r->recips[r->recipCount++];
    CopyText(p->name, sizeof p->name, i == 0 ? "Bob Brown" : "Cy Cole");
    CopyText(p->address, sizeof p->address, i == 0 ? "bob@example.com" : "cy@example.com");
    p->kind = i == 0 ? kRecipTo : kRecipCc;
  }
  if (com_AllocPart(r.get())) {
    HostPart *p = r->parts[r->partCount++];
    CopyText(p->name, sizeof p->name, "Message.txt");
    p->kind = kPartTextBody;
  }
  std::string body(600, 'x');
  FILE *f = fopen((gDir + "/PRT00100.TMP").c_str(), "wb");
  if (f != nullptr) {
    fwrite(body.data(), 1, body.size(), f);
    fclose(f);
  }
  return r;
}

RecordPtr LargeMail(int msgSeq) {
  RecordPtr r(new HostMessage());
  r->msgSeq = msgSeq;
  CopyText(r->subject, sizeof r->subject, "Large attachment");
  if (com_AllocPart(r.get())) {
    HostPart *p = r->parts[r->partCount++];
    CopyText(p->name, sizeof p->name, "archive.zip");
    p->kind = kPartFile;
  }
  return r;
}

int WritePartFile(int msgSeq, int64_t megabytes) {
  char path[1024];
  FormatPartFileName(path, sizeof path, (gDir + "/").c_str(), msgSeq, 0);
  FILE *f = fopen(path, "wb");
  if (f == nullptr) return 0;
  std::vector<unsigned char> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 131 + (i >> 8));
  for (int64_t m = 0; m < megabytes; ++m) fwrite(block.data(), 1, block.size(), f);
  return fclose(f) == 0;
}

size_t Discard(char *, size_t size, size_t count, void *) { return size * count; }

// The bare client: the same headers, the body from memory or from a file.
struct BareClient {
  CURL *curl = curl_easy_init();
  struct curl_slist *headers = nullptr;
  explicit BareClient(const std::string &url) {
    headers = curl_slist_append(headers, "Content-Type: text/xml; charset=utf-8");
    headers = curl_slist_append(headers, "SOAPAction: \"createItemRequest\"");
    curl_easy_setopt(curl, CURLOPT_URL, (url + "/soap").c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
  }
  ~BareClient() {
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
  }
  bool Post(const std::string &body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    return curl_easy_perform(curl) == CURLE_OK;
  }
  bool PostFile(FILE *file, int64_t size) {
    rewind(file);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, static_cast<const char *>(nullptr));
    curl_easy_setopt(curl, CURLOPT_READDATA, file);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    return curl_easy_perform(curl) == CURLE_OK;
  }
};

void SmallMails(gwsim::Server *server) {
  RecordPtr mail = SmallMail();
  mail->msgSeq = 1;
  WriteMsg(mail.get(), nullptr, (gDir + "/").c_str(), nullptr);
  std::vector<gwsim::RecordedRequest> sent = server->Requests();
  if (sent.empty()) return;
  const std::string envelope = sent.back().body;
  BareClient bare(server->url());
  double plugin = 0, raw = 0;
  const int perTurn = kSmallMails / kTurns;
  for (int turn = 0; turn < kTurns; ++turn) {
    server->ClearRequests();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < perTurn; ++i) WriteMsg(mail.get(), nullptr, (gDir + "/").c_str(), nullptr);
    plugin += SecondsSince(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < perTurn; ++i) {
      if (!bare.Post(envelope)) fprintf(stderr, "bare post failed\n");
    }
    raw += SecondsSince(start);
  }
  printf("%d small mails (%zu-byte envelopes): WriteMsg %.0f items/s, bare libcurl %.0f items/s, "
         "ratio %.2f\n",
         kSmallMails, envelope.size(), kSmallMails / plugin, kSmallMails / raw, raw / plugin);
}

void LargeAttachment(gwsim::Server *server) {
  const int64_t megabytes = 200;
  if (!WritePartFile(kLargeMsgSeq, megabytes)) return;
  RecordPtr mail = LargeMail(kLargeMsgSeq);
  const std::string dir = gDir + "/";
  // One write the server refuses keeps the request file for the other clients.
  AnswerCreates(server, 1);
  WriteMsg(mail.get(), nullptr, dir.c_str(), nullptr);
  std::string requestPath = gDir + "/large_request.tmp";
  rename((gDir + "/soapreq5.tmp").c_str(), requestPath.c_str());
  std::vector<gwsim::RecordedRequest> sent = server->Requests();
  if (sent.empty()) return;
  std::string envelopePath = gDir + "/large_envelope.tmp";
  FILE *envelope = fopen(envelopePath.c_str(), "wb+");
  if (envelope == nullptr) return;
  fwrite(sent.back().body.data(), 1, sent.back().body.size(), envelope);
  const int64_t envelopeSize = static_cast<int64_t>(sent.back().body.size());
  sent.clear();
  server->ClearRequests();
  AnswerCreates(server, 0);

  BareClient bare(server->url());
  double write = 0, post = 0, raw = 0;
  const int turns = 2;
  for (int turn = 0; turn < turns; ++turn) {
    auto start = std::chrono::steady_clock::now();
    WriteMsg(mail.get(), nullptr, dir.c_str(), nullptr);
    write += SecondsSince(start);
    server->ClearRequests();
    start = std::chrono::steady_clock::now();
    SoapCallFile(requestPath.c_str(), "createItemRequest", (gDir + "/crlarge.xml").c_str());
    post += SecondsSince(start);
    server->ClearRequests();
    start = std::chrono::steady_clock::now();
    if (!bare.PostFile(envelope, envelopeSize)) fprintf(stderr, "bare post failed\n");
    raw += SecondsSince(start);
    server->ClearRequests();
  }
  fclose(envelope);
  const double mb = envelopeSize / 1e6;
  printf("200 MB attachment (%.1f MB envelope), means of %d: WriteMsg (encode + post) %.1f MB/s, "
         "post of the request file %.1f MB/s, bare libcurl %.1f MB/s; ratios %.2f (WriteMsg) and "
         "%.2f (post)\n",
         mb, turns, mb * turns / write, mb * turns / post, mb * turns / raw, raw / write,
         raw / post);
}

long StatusKb(const char *field) {
  FILE *f = fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  size_t n = strlen(field);
  while (fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, field, n) == 0) kb = strtol(line + n, nullptr, 10);
  }
  fclose(f);
  return kb;
}

// Child: one small mail to warm up, then the peak over the baseline for one
// large attachment of the given size.
int ChildMain(const std::string &url, int64_t megabytes) {
  if (!SetUpPlugin(url)) return 2;
  const int msgSeq = static_cast<int>(megabytes);
  if (msgSeq != kLargeMsgSeq && !WritePartFile(msgSeq, megabytes)) return 3;
  RecordPtr small = SmallMail();
  WriteMsg(small.get(), nullptr, (gDir + "/").c_str(), nullptr);
  RecordPtr mail = LargeMail(msgSeq);
  FILE *clear = fopen("/proc/self/clear_refs", "w");
  if (clear != nullptr) {
    fputs("5", clear);  // peak RSS back to the current RSS
    fclose(clear);
  }
  long baseline = StatusKb("VmRSS:");
  WriteMsg(mail.get(), nullptr, (gDir + "/").c_str(), nullptr);
  long peak = StatusKb("VmHWM:");
  printf("%ld %ld\n", baseline, peak);
  EndTransfer();
  mvcom_Shutdown();
  return 0;
}

void MeasureMemory(const char *self, const std::string &url, int megabytes) {
  std::string out = gDir + "/child.txt";
  std::string size = std::to_string(megabytes);
  const char *args[] = {self, "--child", url.c_str(), gDir.c_str(), size.c_str(), out.c_str(),
                        nullptr};
  pid_t pid;
  if (posix_spawn(&pid, self, nullptr, nullptr, const_cast<char **>(args), environ) != 0) return;
  int status = 0;
  waitpid(pid, &status, 0);
  long baseline = 0, peak = 0;
  char line[128] = "";
  FILE *f = fopen(out.c_str(), "r");
  if (f != nullptr && fgets(line, sizeof line, f) != nullptr) {
    char *end = nullptr;
    baseline = strtol(line, &end, 10);
    peak = strtol(end, nullptr, 10);
  }
  if (peak <= 0) {
    fprintf(stderr, "child for %d MB failed (status %d)\n", megabytes, status);
  } else {
    printf("plug-in process, %d MB attachment: baseline RSS %.1f MiB, peak %.1f MiB, +%.1f MiB\n",
           megabytes, baseline / 1024.0, peak / 1024.0, (peak - baseline) / 1024.0);
  }
  if (f != nullptr) fclose(f);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 6 && strcmp(argv[1], "--child") == 0) {
    gDir = argv[3];
    if (freopen(argv[5], "w", stdout) == nullptr) return 4;
    return ChildMain(argv[2], strtoll(argv[4], nullptr, 10));
  }
  char dirTemplate[] = "/tmp/bench-import-XXXXXX";
  const char *dir = mkdtemp(dirTemplate);
  if (dir == nullptr) return 1;
  gDir = dir;
  gwsim::Server server;
  if (!server.Start()) {
    fprintf(stderr, "gwsim: %s\n", server.LastError().c_str());
    return 1;
  }
  AnswerCreates(&server, 0);
  if (!SetUpPlugin(server.url())) return 1;

  SmallMails(&server);
  server.ClearRequests();
  LargeAttachment(&server);
  server.ClearRequests();
  MeasureMemory(argv[0], server.url(), 20);
  MeasureMemory(argv[0], server.url(), 200);

  EndTransfer();
  server.Stop();
  mvcom_Shutdown();
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  return 0;
}
