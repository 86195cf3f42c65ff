// The transfer of the fuzz builds: in place of libcurl, each post is
// answered in-process from the fuzz input, streamed through the real
// response writer in the run's piece length, so SoapCall, its status reading
// and every parser see the answer as a network transfer would leave it.
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/file_guard.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/http_transfer.h"
#include "transport/soap_answer.h"

int StartTransfer() { return 1; }

void EndTransfer() {}

// Each post is made once here: none is held back after breaking off.
int PostMayHaveActed() { return 0; }

int DoPost(const char *url, const char *body, const char *responsePath) {
  if (body == nullptr) body = "";
  PostBody memoryBody = {body, strlen(body), nullptr, nullptr, nullptr, 0, nullptr, 0};
  return DoPostBody(url, memoryBody, responsePath);
}

int DoPostBody(const char *, const PostBody &body, const char *responsePath) {
  gHTTPResponse = 0;
  BeginSoapAnswerScan();
  if (!AnswerBegin(responsePath)) return 0;
  // Every way out ends the answer, as the real transfer does.
  struct AnswerCloser {
    int ended = 0;
    ~AnswerCloser() {
      if (!ended) AnswerEnd();
    }
  } closer;
  // The body as libcurl would send it, kept for the targets that check it.
  std::string *request = fuzz::LastRequest();
  request->clear();
  if (body.file == nullptr) {
    if (body.text != nullptr) request->assign(body.text, body.textLength);
  } else {
    if (body.head != nullptr) request->append(body.head);
    if (fseek(body.file, 0, SEEK_SET) != 0) return 0;
    char buffer[4096];
    int64_t left = body.fileLength;
    while (left > 0) {
      size_t want = sizeof buffer;
      if (left < static_cast<int64_t>(want)) want = static_cast<size_t>(left);
      size_t n = fread(buffer, 1, want, body.file);
      if (n == 0) return 0;
      request->append(buffer, n);
      left -= static_cast<int64_t>(n);
    }
    if (body.tail != nullptr) request->append(body.tail);
  }
  std::string answer;
  int status = 0;
  // No answer left: the server is gone and the transfer fails.
  if (!fuzz::NextAnswer(&answer, &status) || status == 0) return 0;
  gHTTPResponse = status;
  const size_t chunk = fuzz::RunChunkLength();
  ResponseWriterBeginAnswer();
  size_t written = 0;
  for (size_t at = 0; at < answer.size(); at += chunk) {
    size_t n = answer.size() - at < chunk ? answer.size() - at : chunk;
    written = ResponseWriterWrite(answer.data() + at, n);
    if (written != n) break;
  }
  ResponseWriterEnd();
  const int failed = ResponseWriterFailed();
  closer.ended = 1;
  if (!AnswerEnd() || failed) return 0;
  return 1;
}
