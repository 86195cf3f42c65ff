// The simulator's misbehaviour: fault selection and the shaping of faulty
// answers (status faults, busy answers, redirects, cut and chunked bodies).
#include "gwsim/faults.h"

#include <algorithm>
#include <memory>

#include "gwsim/soap_xml.h"

namespace gwsim {

const char kSoapContentType[] = "text/xml; charset=utf-8";

namespace {

const char kBusyFaultText[] = "The server cannot service this request right now";

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

bool FaultReplacesAnswer(FaultKind kind) {
  return kind == FaultKind::kStatus || kind == FaultKind::kBusy503 ||
         kind == FaultKind::kBusyFault500 || kind == FaultKind::kRedirect ||
         kind == FaultKind::kFixedAnswer || kind == FaultKind::kCode;
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
