// SoapCall: wraps one request element in the SOAP envelope with the session
// id, posts it, retries a busy server and judges the answer: a whole SOAP
// envelope and the code of its status element.
#include "transport/soap_call.h"

#include <curl/curl.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/http_transfer.h"
#include "transport/retry_wait.h"
#include "transport/soap_answer.h"

namespace {

enum {
  kEnvelopeReserve = 4096,    // envelope bytes beyond the body
  kFaultLineSize = 1001,      // fault lines are read 1000 bytes at most
  kBusyRetryLimit = 2,
  kLoggedBodyLimit = 1000,    // shorter bodies are logged whole with /CURLDEBUG
  // Streamed requests up to this length are posted from memory; libcurl
  // sends a body under 64 KB in the same write as the HTTP header.
  kInlineEnvelopeLimit = 32 * 1024,
};

const char kEnvelopeStart[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"\n"
    "xmlns:t=\"http://schemas.novell.com/2005/01/GroupWise/types\"\n"
    "xmlns:m=\"http://schemas.novell.com/2005/01/GroupWise/methods\">\n";
const char kHeaderStart[] = "<soap:Header soap:encodingStyle=\"\">\n";
const char kSessionLine[] = "<session>%s</session>\n";
const char kHeaderEnd[] = "</soap:Header>\n";
const char kBodyStart[] = "<soap:Body>\n";
const char kEnvelopeEnd[] = "</soap:Body>\n</soap:Envelope>\n";

const char kBusyFaultText[] = "The server cannot service";

// Appends into a fixed buffer, keeping the length instead of measuring it
// again (the body can be megabytes of base64).
struct TextBuilder {
  char *out;
  size_t cap;
  size_t len;
};

void Append(TextBuilder *b, const char *text) {
  size_t n = strlen(text);
  size_t room = b->cap - 1 - b->len;
  if (n > room) n = room;
  memcpy(b->out + b->len, text, n);
  b->len += n;
  b->out[b->len] = '\0';
}

// Frees the session's header list on every way out of a call.
struct HeaderListGuard {
  ~HeaderListGuard() {
    if (gSession.headers != nullptr) curl_slist_free_all(gSession.headers);
    gSession.headers = nullptr;
  }
};

int AppendHeader(const char *header) {
  struct curl_slist *list = curl_slist_append(gSession.headers, header);
  if (list == nullptr) return 0;
  gSession.headers = list;
  return 1;
}

// The text line after the first "<faultstring" line, or "".
void ReadFaultText(const char *responsePath, char *fault, size_t cap) {
  fault[0] = '\0';
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return;
  char line[kFaultLineSize];
  while (ReadTextLine(line, sizeof line, file.get())) {
    if (StartsWithNoCase(line, "<faultstring")) {
      if (!ReadTextLine(fault, cap, file.get())) fault[0] = '\0';
      return;
    }
  }
}

// The verdict on the last call's answer: what was read, and why it cannot
// be used ("" when it can).
struct LastAnswer {
  SoapAnswer answer;
  char problem[kAnswerFaultTextSize + 64];
};

LastAnswer gLastAnswer;

// Takes the verdict of the answer just written and sets gGWSError from its
// status element. Returns 1 when the answer is usable.
int JudgeAnswer(int transferDone) {
  LastAnswer &last = gLastAnswer;
  TakeSoapAnswerVerdict(&last.answer);
  gGWSError = last.answer.code;
  if (gHTTPResponse != 200) {
    FormatText(last.problem, sizeof last.problem, "HTTP response=%d", gHTTPResponse);
  } else if (!transferDone) {
    CopyText(last.problem, sizeof last.problem,
             PostMayHaveActed() ? "the answer broke off after the request had gone out, and the server may have "
                                  "acted on it"
                                : "the transfer of the answer failed");
  } else if (last.answer.shape == kAnswerFault) {
    FormatText(last.problem, sizeof last.problem, "%s: %s", SoapAnswerShapeText(kAnswerFault),
               last.answer.faultText);
  } else {
    CopyText(last.problem, sizeof last.problem, SoapAnswerShapeText(last.answer.shape));
  }
  return last.problem[0] == '\0';
}

// Posts the envelope until an answer is final: a 503 is retried once, a
// "The server cannot service" fault up to twice, on one shared count.
int PostWithRetries(const PostBody &body, const char *responsePath) {
  char fault[kFaultLineSize];
  char errorCopy[kDirSize + 32];
  FormatText(errorCopy, sizeof errorCopy, "%sposterror.xml", gSession.dataDir);
  int retries = 0;
  for (;;) {
    int result = DoPostBody(gSession.soapEndpoint, body, responsePath);
    fault[0] = '\0';
    if (gRunSettings.curlDebug) {
      com_Log("curl debug: Return from DoPost=%d, gHTTPResponse=%d", result, gHTTPResponse);
    }
    if (gHTTPResponse == 200) return result;
    CopyAnswer(responsePath, errorCopy);
    ReadFaultText(responsePath, fault, sizeof fault);
    if (gHTTPResponse == 503) {
      ++retries;
      if (retries < kBusyRetryLimit) {
        com_Log("MV Warning: server unavailable, retrying");
        fault[0] = '\0';
        RetryWait(static_cast<uint32_t>(retries) * 1000u);
        continue;
      }
    }
    if (StartsWithNoCase(fault, kBusyFaultText)) {
      ++retries;
      if (retries <= kBusyRetryLimit) {
        com_Log("MV Warning: http error=%d, faultstring=%s", gHTTPResponse, fault);
        RetryWait(static_cast<uint32_t>(retries) * 1000u);
        continue;
      }
    }
    return 0;
  }
}

// Everything of the envelope that comes before the body.
void AppendEnvelopeHead(TextBuilder *b) {
  Append(b, kEnvelopeStart);
  if (gSession.sessionId[0] != '\0') {
    char sessionLine[kSessionTextSize + 32];
    FormatText(sessionLine, sizeof sessionLine, kSessionLine, gSession.sessionId);
    Append(b, kHeaderStart);
    Append(b, sessionLine);
    Append(b, kHeaderEnd);
  }
  Append(b, kBodyStart);
}

// The two request headers of a call on the session's header list.
int AppendRequestHeaders(const char *requestName) {
  char soapAction[kSessionTextSize];
  FormatText(soapAction, sizeof soapAction, "SOAPAction: \"%s\"", requestName);
  return AppendHeader("Content-Type: text/xml; charset=utf-8") && AppendHeader(soapAction);
}

// The /CURLDEBUG line for a streamed envelope, as SoapCall logs an
// in-memory one: a short body whole, a long one by its length.
void LogStreamedEnvelope(const char *head, FILE *request, int64_t fileLength,
                         int64_t envelopeLength) {
  if (fileLength >= kLoggedBodyLimit) {
    com_Log("curl debug: Soap post data length: %" PRId64, envelopeLength);
    return;
  }
  char body[kLoggedBodyLimit];
  size_t n = fread(body, 1, static_cast<size_t>(fileLength), request);
  body[n] = '\0';
  com_Log("curl debug: Soap post data:\n%s%s%s\n", head, body, kEnvelopeEnd);
}

// A small streamed request is posted from memory: libcurl then sends the
// HTTP header and the envelope in one write, where a streamed body costs a
// second write, and the server a second read, per request. The bytes are
// the same. False when the request is shorter than its declared length
// (the streamed post then fails the attempt as it always did).
bool ReadEnvelope(const char *head, FILE *request, int64_t fileLength, std::string *whole) {
  if (fseek(request, 0, SEEK_SET) != 0) return false;
  const size_t headLength = strlen(head), length = static_cast<size_t>(fileLength);
  whole->resize(headLength + length);
  memcpy(&(*whole)[0], head, headLength);
  if (length > 0 && fread(&(*whole)[headLength], 1, length, request) != length) return false;
  whole->append(kEnvelopeEnd);
  return true;
}

}  // namespace

size_t BuildSoapEnvelope(const char *body, char *out, size_t cap) {
  if (out == nullptr || cap == 0) return 0;
  TextBuilder b = {out, cap, 0};
  out[0] = '\0';
  AppendEnvelopeHead(&b);
  Append(&b, body != nullptr ? body : "");
  Append(&b, kEnvelopeEnd);
  return b.len;
}

// Reads, making and ending a cursor and the session change nothing that a
// second post would get wrong; any other request may not be posted again
// once the server may have it (DoPostBody): a create would be made twice,
// and a cursor read (readCursorRequest moves the cursor) would skip the
// items of the answer that was lost.
int ChangesServer(const char *requestName) {
  static const char *const kReadOnly[] = {"get", "createCursor", "destroyCursor", "login", "logout"};
  for (const char *prefix : kReadOnly)
    if (StartsWith(requestName, prefix)) return 0;
  return 1;
}

int SoapCall(const char *body, const char *requestName, const char *responsePath) {
  if (body == nullptr) body = "";
  gHTTPResponse = 0;  // a call that sends nothing must not pass for the last one
  BeginSoapAnswerScan();
  int result = 0;
  {
    HeaderListGuard headerGuard;
    size_t bodyLength = strlen(body);
    size_t cap = bodyLength + kEnvelopeReserve;
    char *envelope = static_cast<char *>(malloc(cap));
    if (envelope != nullptr && AppendRequestHeaders(requestName)) {
      size_t envelopeLength = BuildSoapEnvelope(body, envelope, cap);
      if (gRunSettings.curlDebug) {
        if (bodyLength < kLoggedBodyLimit) {
          com_Log("curl debug: Soap post data:\n%s\n", envelope);
        } else {
          com_Log("curl debug: Soap post data length: %" PRId64,
                  static_cast<int64_t>(envelopeLength));
        }
      }
      PostBody memoryBody = {envelope, envelopeLength, nullptr, nullptr, nullptr, 0, nullptr,
                             ChangesServer(requestName)};
      result = PostWithRetries(memoryBody, responsePath);
    }
    free(envelope);
  }
  return JudgeAnswer(result);
}

int SoapCallFile(const char *requestPath, const char *requestName, const char *responsePath) {
  int64_t fileLength = 0;
  gHTTPResponse = 0;
  BeginSoapAnswerScan();
  FilePtr request = OpenFile(requestPath, "rb");
  if (!request || com_GetFileSize(requestPath, &fileLength) != 0) return -1;
  return SoapCallStream(request.get(), fileLength, requestName, responsePath);
}

namespace {

// The envelope around a body read from request (a stream of bodyLength
// bytes from its start) or made by source, posted. A short streamed body is
// posted from memory (ReadEnvelope).
int PostAroundBody(FILE *request, const PostSource *source, int64_t bodyLength, const char *requestName,
                   const char *responsePath) {
  gHTTPResponse = 0;
  BeginSoapAnswerScan();
  if ((request == nullptr && source == nullptr) || bodyLength < 0) return -1;
  int result = 0;
  {
    HeaderListGuard headerGuard;
    char head[kSessionTextSize + kEnvelopeReserve];
    TextBuilder b = {head, sizeof head, 0};
    head[0] = '\0';
    AppendEnvelopeHead(&b);
    if (AppendRequestHeaders(requestName)) {
      int64_t envelopeLength =
          static_cast<int64_t>(b.len) + bodyLength + static_cast<int64_t>(strlen(kEnvelopeEnd));
      if (gRunSettings.curlDebug) {
        if (request != nullptr) LogStreamedEnvelope(head, request, bodyLength, envelopeLength);
        else com_Log("curl debug: Soap post data length: %" PRId64, envelopeLength);
      }
      std::string whole;
      if (request != nullptr && envelopeLength <= kInlineEnvelopeLimit &&
          ReadEnvelope(head, request, bodyLength, &whole)) {
        PostBody memoryBody = {whole.data(), whole.size(), nullptr, nullptr, nullptr, 0, nullptr,
                               ChangesServer(requestName)};
        result = PostWithRetries(memoryBody, responsePath);
      } else {
        PostBody streamed = {nullptr, 0, head, kEnvelopeEnd, request, bodyLength, source,
                             ChangesServer(requestName)};
        result = PostWithRetries(streamed, responsePath);
      }
    }
  }
  return JudgeAnswer(result);
}

}  // namespace

int SoapCallStream(FILE *request, int64_t fileLength, const char *requestName, const char *responsePath) {
  return PostAroundBody(request, nullptr, fileLength, requestName, responsePath);
}

int SoapCallSource(const PostSource *source, int64_t length, const char *requestName,
                   const char *responsePath) {
  return PostAroundBody(nullptr, source, length, requestName, responsePath);
}

int SoapAnswerUsable() { return gLastAnswer.problem[0] == '\0'; }

const char *SoapAnswerProblem() { return gLastAnswer.problem; }
