// gwsim: a GroupWise Web Services server for tests and the demo. One
// Server holds one mailbox (the store), answers SOAP 1.1 requests with
// answers built from the store, records every request it receives, and can
// be told to misbehave (faults) per request number or per request name.
//
// Lifetime: Start() binds 127.0.0.1 on the given port (0: an ephemeral one)
// and serves on a background thread until Stop() or destruction. All
// methods are safe to call from the test thread while the server runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace gwsim {

class Mailbox;  // the store; see mailbox.h

// How bodies and attachment data are sent; may change while the server runs
// (Server::SetAnswerOptions).
struct AnswerOptions {
  size_t base64LineLength = 0;  // > 0: base64 broken by "\n" after this many characters
  size_t pieceCap = 0;          // > 0: a getAttachmentResponse carries at most this many bytes
  bool noPartPastEnd = false;   // a read at or past the end gets no gwm:part (else an empty one)
  int64_t shownSizeCut = 0;     // > 0: attachments show their size less this much; < 0: no gwt:size
  bool ignoreOffset = false;    // getAttachmentRequest always reads from the start
  bool bodyIdEndTag = false;    // a body sent by id has an end tag instead of "/>"
  bool bodyIdFirst = false;     // a body sent by id lists id before contentType
  bool noBodyLength = false;    // a body sent by id has no length attribute
};

// Faults drawn at random, for whole-run campaigns: each request that no set
// fault takes is broken with this chance, in one of the ways a network or a
// proxy breaks answers (see DrawRandomFault). The same seed breaks the same
// requests of the same run the same way.
struct RandomFaults {
  int percent = 0;        // 0: none
  uint32_t seed = 1;
  int lastRequest = 0;    // > 0: only requests up to this number (counted over the server's life)
};

struct Options {
  int port = 0;            // 0: pick a free port
  bool tls = false;        // HTTPS with a self-signed certificate made at start
  std::string mailboxFile; // fixture to load; empty: the built-in demo mailbox
  AnswerOptions answers;
  RandomFaults randomFaults;
};

// One request as received.
struct RecordedRequest {
  int number = 0;           // 1 for the first request the server received
  std::string method;       // "POST"
  std::string path;         // "/soap"
  std::string soapAction;   // SOAPAction header without its quotes
  std::string requestName;  // local name of the first element in soap:Body
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;         // the raw body, byte for byte
};

enum class FaultKind {
  kStatus,         // answer with `status` and a short SOAP fault body
  kBusy503,        // HTTP 503
  kBusyFault500,   // HTTP 500, faultstring "The server cannot service this request right now"
  kRedirect,       // 307 to the same path (the client posts again; the fault does not repeat)
  kCloseMidAnswer, // send headers and the first half of the answer chunked, then close
  kDelay,          // wait delayMs before answering normally
  kCutAt,          // send only the first cutAt bytes of the normal answer (Content-Length kept)
  kChunkSplits,    // send the normal answer chunked, split at the given offsets
  kChunkAfterGt,   // send the normal answer chunked, a chunk ending after every ">"
  kFixedAnswer,    // answer 200 with `body` as the whole HTTP body
  kCode,           // answer 200 with the request's own response and gwt:code `status`
  kHtmlPage,       // answer 200 with an HTML error page, as a proxy in front of the server might
  kSoapFault200,   // answer 200 with a SOAP Fault instead of the response
  kCloseAfterStatus,  // send the status line and headers (Content-Length set), then close
  kCutMidElement,  // answer 200 with the request's own response (status 0) cut inside its
                   // status element, as a whole HTTP answer: only the XML shows the cut
  kStall,          // send the first half of the normal answer, then nothing for delayMs, then close
};

struct Fault {
  FaultKind kind = FaultKind::kStatus;
  int status = 500;
  int delayMs = 0;
  size_t cutAt = 0;
  std::vector<size_t> splits;
  std::string body;
  // Which requests: a request number (1-based, counted over the server's
  // life), a request name ("readCursorRequest"), or both; `times` answers
  // are affected (0: every matching request from then on).
  int requestNumber = 0;
  std::string requestName;
  // With requestName: only the Nth request of that name (1-based, counted
  // over the server's life), e.g. the third createItemRequest; 0: any.
  int nameOrdinal = 0;
  // Only requests whose <id> element holds this text (one attachment that
  // always fails, with times 0); empty: any.
  std::string requestId;
  int times = 1;
};

class Server {
 public:
  explicit Server(Options options = Options());
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Returns false when the port cannot be bound or the mailbox not loaded
  // (the reason is in LastError(), which names a mailbox file fault from
  // construction on).
  bool Start();
  void Stop();
  int port() const;
  // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT" (the plug-in adds "/soap").
  std::string url() const;
  std::string LastError() const;
  // With tls: the listener's self-signed certificate in PEM form, once
  // started ("" before, and without tls).
  std::string CertificatePem() const;

  // The store. Changes made by the test before or between requests are seen
  // by later answers. Lock() holds the store's mutex for the test's changes.
  Mailbox &mailbox();

  void SetAnswerOptions(const AnswerOptions &answers);

  // Recording.
  std::vector<RecordedRequest> Requests() const;
  void ClearRequests();
  size_t RequestCount() const;

  // Faults.
  void AddFault(const Fault &fault);
  void ClearFaults();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace gwsim
