// The simulator's server: the HTTP(S) listener on 127.0.0.1, the recording
// of requests, the faults, and the hand-over of each request to the
// handlers under the store's lock.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include <httplib.h>

#include "gwsim/connection_closer.h"
#include "gwsim/faults.h"
#include "gwsim/gwsim.h"
#include "gwsim/handlers.h"
#include "gwsim/mailbox.h"
#include "gwsim/soap_xml.h"
#include "gwsim/tls_cert.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const char kHost[] = "127.0.0.1";
// Idle keep-alive connections are closed after this long. Each open
// connection holds one worker thread meanwhile.
const int kKeepAliveSeconds = 10;
const size_t kKeepAliveMaxRequests = 1000000;
const int kWorkerThreads = 32;

// httplib files the peer's address among the headers; they are not part
// of what the client sent.
bool IsPseudoHeader(const std::string &name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

std::string Unquoted(const std::string &text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

}  // namespace

struct Server::Impl {
  Options options;
  Mailbox mailbox;
  ServiceState service;  // guarded by the mailbox's lock
  std::string loadError;

  std::unique_ptr<httplib::Server> http;
  std::thread listener;
  std::shared_ptr<std::atomic<bool>> listenerDone;
  std::atomic<int> port{0};

  mutable std::mutex mutex;  // guards everything below
  std::string lastError;
  std::string certificatePem;  // of the HTTPS listener
  int requestCounter = 0;
  std::map<std::string, int> nameCounters;  // requests received per request name
  std::vector<RecordedRequest> requests;
  std::vector<Fault> faults;
  std::mt19937 randomFaults;  // draws Options::randomFaults

  void Serve(const httplib::Request &request, httplib::Response *response);
  bool Listen();
};

void Server::Impl::Serve(const httplib::Request &request, httplib::Response *response) {
  SoapRequest soap;
  ParseSoapRequest(request.body, &soap);
  RecordedRequest record;
  record.method = request.method;
  record.path = request.path;
  record.soapAction = Unquoted(request.get_header_value("SOAPAction"));
  record.requestName = soap.name;
  record.body = request.body;
  for (const auto &header : request.headers) {
    if (!IsPseudoHeader(header.first)) record.headers.push_back(header);
  }
  Fault fault;
  bool faulted = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    record.number = ++requestCounter;
    const int nameOrdinal = ++nameCounters[record.requestName];
    faulted = TakeFault(&faults, record.number, record.requestName, nameOrdinal,
                        ChildText(soap.element, "id"), &fault);
    const RandomFaults &chance = options.randomFaults;
    if (!faulted && chance.percent > 0 &&
        (chance.lastRequest <= 0 || record.number <= chance.lastRequest) &&
        static_cast<int>(randomFaults() % 100) < chance.percent) {
      fault = DrawRandomFault(&randomFaults);
      faulted = true;
    }
    requests.push_back(record);
  }
  if (faulted && fault.kind == FaultKind::kDelay && fault.delayMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
  }
  if (faulted && FaultReplacesAnswer(fault.kind)) {
    ApplyFault(fault, "", request.path, soap.name, response);
    return;
  }
  std::string answer;
  if (request.method != "POST") {
    response->status = 405;
    answer = FaultEnvelope("SOAP-ENV:Client", "Only POST is served");
  } else {
    auto lock = mailbox.Lock();
    response->status = AnswerSoapRequest(&service, soap, &answer);
  }
  if (faulted) {
    ApplyFault(fault, answer, request.path, soap.name, response);
  } else {
    response->set_content(answer, kSoapContentType);
  }
}

bool Server::Impl::Listen() {
  if (options.tls) {
    X509Ptr cert;
    PkeyPtr key;
    std::string error;
    if (!MakeSelfSignedCertificate(&cert, &key, &error)) {
      lastError = error;
      return false;
    }
    certificatePem = gwsim::CertificatePem(cert.get());  // Start holds the mutex
    // The server takes its own references to the certificate and key.
    http.reset(new httplib::SSLServer(cert.get(), key.get()));
  } else {
    http.reset(new httplib::Server());
  }
  if (!http->is_valid()) {
    lastError = "cannot set up the HTTP server";
    return false;
  }
  http->set_keep_alive_timeout(kKeepAliveSeconds);
  http->set_keep_alive_max_count(kKeepAliveMaxRequests);
  http->set_tcp_nodelay(true);
  // httplib's default also sets SO_REUSEPORT, which would let a second
  // server share a busy port; only SO_REUSEADDR is wanted.
  http->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  http->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  auto handler = [this](const httplib::Request &request, httplib::Response &response) {
    Serve(request, &response);
  };
  http->Post(".*", handler);
  http->Get(".*", handler);
  int bound = options.port == 0 ? http->bind_to_any_port(kHost)
                                : (http->bind_to_port(kHost, options.port) ? options.port : -1);
  if (bound <= 0) {
    lastError = "cannot listen on " + std::string(kHost) + ":" + std::to_string(options.port);
    http.reset();
    return false;
  }
  port = bound;
  httplib::Server *server = http.get();
  auto done = std::make_shared<std::atomic<bool>>(false);
  listenerDone = done;
  listener = std::thread([server, done] {
    server->listen_after_bind();
    *done = true;
  });
  return true;
}

Server::Server(Options options) : impl_(new Impl) {
  impl_->options = options;
  impl_->randomFaults.seed(options.randomFaults.seed);
  impl_->service.mailbox = &impl_->mailbox;
  impl_->service.answers = options.answers;
  impl_->service.sessionSalt = std::random_device()();
  if (options.mailboxFile.empty()) {
    LoadDemoMailbox(&impl_->mailbox);
  } else if (!LoadMailboxFile(options.mailboxFile, &impl_->mailbox, &impl_->loadError)) {
    impl_->mailbox.Clear();
    impl_->lastError = impl_->loadError;
  }
}

Server::~Server() { Stop(); }

bool Server::Start() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->http) return true;
  if (!impl_->loadError.empty()) {
    impl_->lastError = impl_->loadError;
    return false;
  }
  return impl_->Listen();
}

void Server::Stop() {
  std::unique_ptr<httplib::Server> http;
  std::thread listener;
  std::shared_ptr<std::atomic<bool>> done;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    http = std::move(impl_->http);
    listener = std::move(impl_->listener);
    done = impl_->listenerDone;
  }
  if (!http) return;
  // stop() only reaches a listener that has started running.
  while (!http->is_running() && !*done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  http->stop();
  // Workers wait on idle keep-alive connections until their time-out; end
  // those connections so that the listener's shutdown returns at once.
  ShutDownServedConnections(impl_->port);
  if (listener.joinable()) listener.join();
  impl_->port = 0;
}

int Server::port() const { return impl_->port; }

std::string Server::url() const {
  return std::string(impl_->options.tls ? "https://" : "http://") + kHost + ":" +
         std::to_string(impl_->port);
}

std::string Server::CertificatePem() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->certificatePem;
}

std::string Server::LastError() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->lastError;
}

Mailbox &Server::mailbox() { return impl_->mailbox; }

void Server::SetAnswerOptions(const AnswerOptions &answers) {
  auto lock = impl_->mailbox.Lock();  // the service state's guard
  impl_->service.answers = answers;
}

std::vector<RecordedRequest> Server::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}

void Server::ClearRequests() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->requests.clear();
}

size_t Server::RequestCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests.size();
}

void Server::AddFault(const Fault &fault) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.push_back(fault);
}

void Server::ClearFaults() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.clear();
}

}  // namespace gwsim
