// The session's libcurl transfer: the handle's start and end, DoPost with
// its two attempts, and the debug callback that captures the HTTP status.
#include "transport/http_transfer.h"

#include <curl/curl.h>

#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/answer_store.h"
#include "transport/keep_alive.h"
#include "transport/retry_wait.h"
#include "transport/soap_answer.h"

namespace {

enum {
  kPostAttempts = 2,
  kRetryWaitMs = 1000,
  kConnectTimeoutSeconds = 30,
  kTransferTimeoutSeconds = 3600,
  kMaxRedirects = 50,
  kDebugTextKept = 1000,  // bytes of a debug text that are looked at
  kDebugTextSize = 2048,
};

const char kUserAgent[] = "ferrulo-agent/1.0";

// Debug texts of kind 0 (information), 1 (header in) and 2 (header out);
// the higher kinds are body and TLS data.
int DebugCallback(CURL *, curl_infotype kind, char *data, size_t size, void *) {
  if (kind > CURLINFO_HEADER_OUT) {
    if (gRunSettings.curlDebug) {
      com_Log("curl debug: infotype=%d: size=%d", static_cast<int>(kind),
              size > 0x7fffffffu ? 0x7fffffff : static_cast<int>(size));
    }
    return 0;
  }
  char text[kDebugTextSize];
  const size_t limit = kDebugTextKept;
  size_t kept = size < limit ? size : limit;
  if (kept > 0) memcpy(text, data, kept);
  text[kept] = '\0';
  if (kept > 0 && text[kept - 1] == '\n') text[kept - 1] = '\0';
  if (gRunSettings.curlDebug) com_Log("curl debug: infotype=%d: %s", static_cast<int>(kind), text);
  if (kind == CURLINFO_HEADER_IN && StartsWith(text, "HTTP/")) {
    const char *blank = strchr(text, ' ');
    if (blank != nullptr) gHTTPResponse = ParseLeadingInt(blank + 1);
  }
  return 0;
}

size_t WriteCallback(char *data, size_t size, size_t count, void *) {
  return ResponseWriterWrite(data, size * count);
}

// Headers reach the debug callback; the header data itself is dropped.
size_t HeaderSink(char *, size_t size, size_t count, void *) { return size * count; }

// Where a streamed body's reader stands: head, file, then tail.
struct BodyStream {
  const PostBody *body;
  size_t headLength;
  size_t tailLength;
  int64_t position;  // bytes handed to libcurl so far
};

// Copies up to `room` bytes of a text segment starting at `offset`.
size_t CopySegment(char *out, size_t room, const char *text, size_t length, int64_t offset) {
  size_t left = length - static_cast<size_t>(offset);
  size_t n = left < room ? left : room;
  memcpy(out, text + offset, n);
  return n;
}

// Hands libcurl the next bytes of head, file and tail. A file that ends
// before its stated length aborts the transfer rather than sending less
// than the declared Content-Length.
size_t ReadCallback(char *out, size_t size, size_t count, void *data) {
  BodyStream *stream = static_cast<BodyStream *>(data);
  const PostBody &body = *stream->body;
  size_t room = size * count;
  size_t given = 0;
  const int64_t fileEnd = static_cast<int64_t>(stream->headLength) + body.fileLength;
  while (given < room) {
    int64_t at = stream->position;
    size_t n = 0;
    if (at < static_cast<int64_t>(stream->headLength)) {
      n = CopySegment(out + given, room - given, body.head, stream->headLength, at);
    } else if (at < fileEnd) {
      int64_t left = fileEnd - at;
      size_t want = room - given;
      if (static_cast<int64_t>(want) > left) want = static_cast<size_t>(left);
      int failed = 0;
      n = body.source != nullptr ? body.source->read(body.source->context, out + given, want, &failed)
                                 : fread(out + given, 1, want, body.file);
      if (n == 0 || failed) return CURL_READFUNC_ABORT;
    } else if (at < fileEnd + static_cast<int64_t>(stream->tailLength)) {
      n = CopySegment(out + given, room - given, body.tail, stream->tailLength, at - fileEnd);
    } else {
      break;
    }
    given += n;
    stream->position += static_cast<int64_t>(n);
  }
  return given;
}

// Back to the start of the body: libcurl asks for it before a redirected
// post, and every attempt starts there.
int RewindStream(BodyStream *stream) {
  stream->position = 0;
  const PostBody &body = *stream->body;
  if (body.source != nullptr) return body.source->rewind(body.source->context);
  if (body.file != nullptr && fseek(body.file, 0, SEEK_SET) != 0) return 0;
  return 1;
}

int SeekCallback(void *data, curl_off_t offset, int origin) {
  if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  return RewindStream(static_cast<BodyStream *>(data)) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

// The body options: from memory as POSTFIELDS, or streamed through the read
// callback with the exact total length declared up front.
void SetBodyOptions(CURL *curl, BodyStream *stream) {
  const PostBody &body = *stream->body;
  if (body.file == nullptr && body.source == nullptr) {
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, static_cast<curl_seek_callback>(nullptr));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.text);
    // The _LARGE form: a long is 32 bits on Windows.
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.textLength));
    return;
  }
  curl_off_t total = static_cast<curl_off_t>(stream->headLength) + body.fileLength +
                     static_cast<curl_off_t>(stream->tailLength);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, static_cast<const char *>(nullptr));
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadCallback);
  curl_easy_setopt(curl, CURLOPT_READDATA, stream);
  curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, SeekCallback);
  curl_easy_setopt(curl, CURLOPT_SEEKDATA, stream);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, total);
}

void SetPostOptions(CURL *curl, const char *url, BodyStream *stream) {
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kConnectTimeoutSeconds));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback);
  curl_easy_setopt(curl, CURLOPT_SSLENGINE_DEFAULT, 1L);
  // The certificate is taken as it comes unless the host asks for checks.
  const bool verify = gRunSettings.tlsVerify || gRunSettings.tlsCaFile[0] != '\0';
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
  if (gRunSettings.tlsCaFile[0] != '\0') curl_easy_setopt(curl, CURLOPT_CAINFO, gRunSettings.tlsCaFile);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, gSession.headers);
  SetBodyOptions(curl, stream);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, HeaderSink);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(kTransferTimeoutSeconds));
  // A stalled server would otherwise hold each attempt for the whole hour.
  const int32_t stall = gRunSettings.stallSeconds > 0 ? gRunSettings.stallSeconds
                                                      : static_cast<int32_t>(kDefaultStallSeconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall));
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_ALLOW_BEAST));
  // A redirected SOAP request must be posted again: libcurl would otherwise
  // turn it into a GET without the envelope after a 301 or 302.
  curl_easy_setopt(curl, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
}

int gPostMayHaveActed = 0;

// True when the server may have the whole request: a status line came, or
// libcurl sent every byte of the body.
int MayHaveReachedServer(int64_t length) {
  if (gHTTPResponse != 0) return 1;
  curl_off_t sent = 0;
  return curl_easy_getinfo(gSession.curl, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK && sent >= length;
}

// One transfer into the empty answer begun last.
CURLcode PerformAttempt(const char *url, BodyStream *stream) {
  if (!RewindStream(stream)) return CURLE_READ_ERROR;
  SetPostOptions(gSession.curl, url, stream);
  gHTTPResponse = 0;
  ResponseWriterBeginAnswer();
  KeepAliveArm();
  CURLcode result = curl_easy_perform(gSession.curl);
  ResponseWriterEnd();
  if (result == CURLE_OK && ResponseWriterFailed()) result = CURLE_WRITE_ERROR;
  com_Log("debug: gws: POST url=%s, response=%d", url, gHTTPResponse);
  KeepAliveDisarm();
  return result;
}

}  // namespace

int PostMayHaveActed() { return gPostMayHaveActed; }

int StartTransfer() {
  if (gSession.curl != nullptr) EndTransfer();
  curl_global_init(CURL_GLOBAL_ALL);
  gSession.curl = curl_easy_init();
  if (gSession.curl == nullptr) {
    curl_global_cleanup();
    return 0;
  }
  curl_easy_setopt(gSession.curl, CURLOPT_DEBUGFUNCTION, DebugCallback);
  curl_easy_setopt(gSession.curl, CURLOPT_VERBOSE, 1L);
  const curl_version_info_data *info = curl_version_info(CURLVERSION_FIFTH);
  com_Log("libcurl version: %s", info != nullptr && info->version ? info->version : "(none)");
  com_Log("SSL version: %s", info != nullptr && info->ssl_version ? info->ssl_version : "(none)");
  return 1;
}

void EndTransfer() {
  if (gSession.curl == nullptr) return;
  if (gSession.headers != nullptr) {
    curl_slist_free_all(gSession.headers);
    gSession.headers = nullptr;
  }
  curl_easy_cleanup(gSession.curl);
  curl_global_cleanup();
  gSession.curl = nullptr;
}

int DoPost(const char *url, const char *body, const char *responsePath) {
  if (body == nullptr) body = "";
  PostBody memoryBody = {body, strlen(body), nullptr, nullptr, nullptr, 0, nullptr, 0};
  return DoPostBody(url, memoryBody, responsePath);
}

int DoPostBody(const char *url, const PostBody &body, const char *responsePath) {
  // Nothing has been received for this request yet; a status left from the
  // previous one must not pass for this one's when nothing can be sent.
  gHTTPResponse = 0;
  gPostMayHaveActed = 0;
  BeginSoapAnswerScan();
  if (!AnswerBegin(responsePath)) return 0;
  BodyStream stream = {&body, 0, 0, 0};
  int64_t length = static_cast<int64_t>(body.textLength);
  if (body.file != nullptr || body.source != nullptr) {
    stream.headLength = body.head != nullptr ? strlen(body.head) : 0;
    stream.tailLength = body.tail != nullptr ? strlen(body.tail) : 0;
    length = static_cast<int64_t>(stream.headLength) + body.fileLength +
             static_cast<int64_t>(stream.tailLength);
  }
  if (gRunSettings.curlDebug) {
    com_Log("curl debug: at DoPost, size=%lld", static_cast<long long>(length));
  }
  if (gSession.curl == nullptr) {
    AnswerEnd();
    return 0;
  }

  CURLcode result = CURLE_FAILED_INIT;
  for (int attempt = 1; attempt <= kPostAttempts; ++attempt) {
    // What a failed attempt wrote must not stay in front of the next answer.
    if (attempt > 1 && !AnswerBegin(responsePath)) {
      BeginSoapAnswerScan();
      return 0;
    }
    result = PerformAttempt(url, &stream);
    if (result == CURLE_OK) break;
    if (body.changesServer && MayHaveReachedServer(length)) {
      // Posted again, a create the server carried out before the answer
      // broke would be made twice, and a cursor read would go on from
      // where the lost answer left the cursor.
      com_Log("MV Warning: the answer broke off (error=%d) after the request had gone out; not sending it again, "
              "since the server may have acted on it",
              static_cast<int>(result));
      gPostMayHaveActed = 1;
      break;
    }
    com_Log("MV Info: retrying Post 2 (error=%d)", static_cast<int>(result));
    RetryWait(kRetryWaitMs);
  }
  if (!AnswerEnd()) return 0;
  return result == CURLE_OK ? 1 : 0;
}
