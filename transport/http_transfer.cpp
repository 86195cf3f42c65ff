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
#include "transport/keep_alive.h"

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

void SetPostOptions(CURL *curl, const char *url, const char *body, long length) {
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kConnectTimeoutSeconds));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
  curl_easy_setopt(curl, CURLOPT_SSLENGINE_DEFAULT, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, gSession.headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, length);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, HeaderSink);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(kTransferTimeoutSeconds));
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_ALLOW_BEAST));
  // A redirected SOAP request must be posted again: libcurl would otherwise
  // turn it into a GET without the envelope after a 301 or 302.
  curl_easy_setopt(curl, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
}

// One transfer into an empty, open response file.
CURLcode PerformAttempt(FILE *file, const char *url, const char *body, long length) {
  SetPostOptions(gSession.curl, url, body, length);
  gHTTPResponse = 0;
  ResponseWriterBegin(file);
  KeepAliveArm();
  CURLcode result = curl_easy_perform(gSession.curl);
  ResponseWriterEnd();
  if (result == CURLE_OK && ResponseWriterFailed()) result = CURLE_WRITE_ERROR;
  com_Log("debug: gws: POST url=%s, response=%d", url, gHTTPResponse);
  KeepAliveDisarm();
  return result;
}

}  // namespace

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
  // Nothing has been received for this request yet; a status left from the
  // previous one must not pass for this one's when nothing can be sent.
  gHTTPResponse = 0;
  FilePtr file = OpenFile(responsePath, "wb");
  if (!file) return 0;
  if (body == nullptr) body = "";
  long length = static_cast<long>(strlen(body));
  if (gRunSettings.curlDebug) com_Log("curl debug: at DoPost, size=%ld", length);
  if (gSession.curl == nullptr) return 0;

  CURLcode result = CURLE_FAILED_INIT;
  for (int attempt = 1; attempt <= kPostAttempts; ++attempt) {
    if (attempt > 1) {
      // What a failed attempt wrote must not stay in front of the next answer.
      file.reset();
      file = OpenFile(responsePath, "wb");
      if (!file) return 0;
    }
    result = PerformAttempt(file.get(), url, body, length);
    if (result == CURLE_OK) break;
    com_Log("MV Info: retrying Post 2 (error=%d)", static_cast<int>(result));
    Sleep(kRetryWaitMs);
  }
  if (fclose(file.release()) != 0) return 0;
  return result == CURLE_OK ? 1 : 0;
}
