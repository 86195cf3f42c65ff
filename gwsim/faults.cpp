// The simulator's misbehaviour: fault selection and the shaping of faulty
// answers (status faults, busy answers, redirects, cut, chunked, stalled and
// broken bodies).
#include "gwsim/faults.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "gwsim/soap_xml.h"

namespace gwsim {

const char kSoapContentType[] = "text/xml; charset=utf-8";

namespace {

const char kBusyFaultText[] = "The server cannot service this request right now";
const char kHtmlErrorPage[] =
    "<!DOCTYPE html>\n<html><head><title>502 Bad Gateway</title></head>\n"
    "<body><h1>Bad Gateway</h1><p>The upstream server did not answer.</p></body></html>\n";
const size_t kPromisedBytes = 4096;  // what kCloseAfterStatus declares and never sends
const int kStallStepMs = 20;

bool Matches(const Fault &fault, int requestNumber, const std::string &requestName,
             int nameOrdinal, const std::string &requestId) {
  if (!fault.requestId.empty() && fault.requestId != requestId) return false;
  if (fault.requestNumber != 0 && fault.requestNumber != requestNumber) return false;
  if (!fault.requestName.empty() && fault.requestName != requestName) return false;
  if (!fault.requestName.empty() && fault.nameOrdinal != 0 && fault.nameOrdinal != nameOrdinal) {
    return false;
  }
  return true;
}

// Sends the chunks ending at `ends`; with `abort` only the first one, then
// the connection is dropped without the last chunk.
void SendChunked(const std::string &answer, std::vector<size_t> ends, bool abort,
                 httplib::Response *response) {
  auto body = std::make_shared<std::string>(answer);
  response->set_chunked_content_provider(
      kSoapContentType, [body, ends, abort](size_t, httplib::DataSink &sink) {
        size_t start = 0;
        for (size_t end : ends) {
          if (!sink.write(body->data() + start, end - start)) return false;
          start = end;
          if (abort) return false;
        }
        sink.done();
        return true;
      });
}

// Declares the whole length but sends only `sent` bytes, then drops the
// connection.
void SendCut(const std::string &answer, size_t sent, httplib::Response *response) {
  auto body = std::make_shared<std::string>(answer);
  sent = std::min(sent, answer.size());
  response->set_content_provider(
      answer.size(), kSoapContentType,
      [body, sent](size_t offset, size_t, httplib::DataSink &sink) {
        if (offset < sent && !sink.write(body->data() + offset, sent - offset)) return false;
        return sent == body->size();
      });
}

// Headers that promise `declared` bytes, then the end of the connection.
void SendHeadersOnly(size_t declared, httplib::Response *response) {
  response->status = 200;
  response->set_content_provider(declared, kSoapContentType,
                                 [](size_t, size_t, httplib::DataSink &) { return false; });
}

// The first half of the answer, then silence for up to delayMs while the
// client is still there, then the end of the connection.
void SendStalled(const std::string &answer, int delayMs, httplib::Response *response) {
  auto body = std::make_shared<std::string>(answer.substr(0, answer.size() / 2));
  response->set_chunked_content_provider(
      kSoapContentType, [body, delayMs](size_t, httplib::DataSink &sink) {
        if (!sink.write(body->data(), body->size())) return false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        while (std::chrono::steady_clock::now() < until && sink.is_writable()) {
          std::this_thread::sleep_for(std::chrono::milliseconds(kStallStepMs));
        }
        return false;
      });
}

// The request's own response with status 0, cut just after the code, so
// that the status line is there but the envelope never ends.
std::string CutInsideStatus(const std::string &requestName) {
  const std::string whole = ResponseEnvelope(ResponseNameFor(requestName), "", 0, "");
  const size_t code = whole.find("</gwt:code>");
  return code == std::string::npos ? whole.substr(0, whole.size() / 2)
                                   : whole.substr(0, code + strlen("</gwt:code>"));
}

}  // namespace

bool TakeFault(std::vector<Fault> *faults, int requestNumber, const std::string &requestName,
               int nameOrdinal, const std::string &requestId, Fault *taken) {
  for (auto it = faults->begin(); it != faults->end(); ++it) {
    if (!Matches(*it, requestNumber, requestName, nameOrdinal, requestId)) continue;
    *taken = *it;
    if (it->times > 0 && --it->times == 0) faults->erase(it);
    return true;
  }
  return false;
}

Fault DrawRandomFault(std::mt19937 *random) {
  static const FaultKind kKinds[] = {
      FaultKind::kStatus,       FaultKind::kBusy503,        FaultKind::kBusyFault500,
      FaultKind::kRedirect,     FaultKind::kCloseMidAnswer, FaultKind::kCutAt,
      FaultKind::kChunkSplits,  FaultKind::kChunkAfterGt,   FaultKind::kCode,
      FaultKind::kHtmlPage,     FaultKind::kSoapFault200,   FaultKind::kCloseAfterStatus,
      FaultKind::kCutMidElement};
  const size_t count = sizeof kKinds / sizeof kKinds[0];
  Fault fault;
  fault.kind = kKinds[(*random)() % count];
  fault.status = fault.kind == FaultKind::kCode ? 59900 + static_cast<int>((*random)() % 100) : 500;
  fault.cutAt = 1 + (*random)() % 4000;
  fault.splits = {1 + (*random)() % 64, 1 + (*random)() % 2000, 1 + (*random)() % 70000};
  return fault;
}

bool FaultReplacesAnswer(FaultKind kind) {
  return kind == FaultKind::kStatus || kind == FaultKind::kBusy503 ||
         kind == FaultKind::kBusyFault500 || kind == FaultKind::kRedirect ||
         kind == FaultKind::kFixedAnswer || kind == FaultKind::kCode ||
         kind == FaultKind::kHtmlPage || kind == FaultKind::kSoapFault200 ||
         kind == FaultKind::kCloseAfterStatus || kind == FaultKind::kCutMidElement;
}

std::vector<size_t> ChunkEnds(const Fault &fault, const std::string &answer) {
  std::vector<size_t> ends;
  if (fault.kind == FaultKind::kChunkAfterGt) {
    for (size_t i = 0; i < answer.size(); ++i) {
      if (answer[i] == '>') ends.push_back(i + 1);
    }
  } else {
    ends = fault.splits;
    std::sort(ends.begin(), ends.end());
  }
  std::vector<size_t> usable;
  for (size_t end : ends) {
    if (end > 0 && end < answer.size() && (usable.empty() || usable.back() < end)) {
      usable.push_back(end);
    }
  }
  if (!answer.empty()) usable.push_back(answer.size());
  return usable;
}

void ApplyFault(const Fault &fault, const std::string &answer, const std::string &path,
                const std::string &requestName, httplib::Response *response) {
  switch (fault.kind) {
    case FaultKind::kStatus:
      response->status = fault.status;
      response->set_content(
          FaultEnvelope("SOAP-ENV:Server", "Simulated HTTP status " + std::to_string(fault.status)),
          kSoapContentType);
      return;
    case FaultKind::kBusy503:
      response->status = 503;
      response->set_content(FaultEnvelope("SOAP-ENV:Server", "Service Unavailable"),
                            kSoapContentType);
      return;
    case FaultKind::kBusyFault500:
      response->status = 500;
      response->set_content(FaultEnvelope("SOAP-ENV:Server", kBusyFaultText), kSoapContentType);
      return;
    case FaultKind::kRedirect:
      response->status = 307;
      response->set_header("Location", path);
      return;
    case FaultKind::kFixedAnswer:
      response->status = 200;
      response->set_content(fault.body, kSoapContentType);
      return;
    case FaultKind::kCode:
      response->status = 200;
      response->set_content(ResponseEnvelope(ResponseNameFor(requestName), "", fault.status,
                                             "Simulated failure"),
                            kSoapContentType);
      return;
    case FaultKind::kHtmlPage:
      response->status = 200;
      response->set_content(kHtmlErrorPage, "text/html; charset=utf-8");
      return;
    case FaultKind::kSoapFault200:
      response->status = 200;
      response->set_content(FaultEnvelope("SOAP-ENV:Server", "Simulated fault with HTTP 200"),
                            kSoapContentType);
      return;
    case FaultKind::kCloseAfterStatus:
      SendHeadersOnly(kPromisedBytes, response);
      return;
    case FaultKind::kCutMidElement:
      response->status = 200;
      response->set_content(CutInsideStatus(requestName), kSoapContentType);
      return;
    case FaultKind::kStall:
      SendStalled(answer, fault.delayMs, response);
      return;
    case FaultKind::kCloseMidAnswer: {
      std::vector<size_t> ends;
      ends.push_back(std::max<size_t>(1, answer.size() / 2));
      SendChunked(answer, ends, true, response);
      return;
    }
    case FaultKind::kCutAt:
      SendCut(answer, fault.cutAt, response);
      return;
    case FaultKind::kChunkSplits:
    case FaultKind::kChunkAfterGt:
      SendChunked(answer, ChunkEnds(fault, answer), false, response);
      return;
    case FaultKind::kDelay:
      break;
  }
  response->set_content(answer, kSoapContentType);
}

}  // namespace gwsim
