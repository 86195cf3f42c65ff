// The session's libcurl transfer: start and end of the handle, DoPost, and
// the response writer that puts every tag and text run of an answer on a
// line of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// curl_global_init and one easy handle for the session, with the debug
// callback and verbose mode set once; logs the libcurl and SSL versions.
// Returns 1 on success, 0 when no handle could be created.
int StartTransfer();

// Frees a left-over header list, the handle and curl's globals. Nothing is
// done when there is no handle.
void EndTransfer();

// POSTs body to url and streams the reshaped answer into the answer named
// responsePath (answer_store.h: in memory, or in that file when large), in
// at most two attempts (one second apart). Every attempt starts with an
// empty answer, so it never holds more than one attempt's bytes. Returns 1
// when the last attempt's transfer succeeded, 0 when the answer cannot be
// stored or every attempt failed. gHTTPResponse holds the
// status of the last status line received (0 when none was, also when the
// answer could not be stored).
int DoPost(const char *url, const char *body, const char *responsePath);

// 1 when the last post changed what the server holds, broke off after the
// server may have had all of it, and was therefore not sent again.
int PostMayHaveActed();

// A request body: either `text` (textLength bytes, in memory), or, when
// `file` is set, `head`, then the fileLength bytes of `file` read from its
// start, then `tail`, streamed as libcurl asks for them so that memory stays
// flat whatever the file's size. The file must stay open (binary) and
// unchanged while the post runs.
struct PostSource;

struct PostBody {
  const char *text;
  size_t textLength;
  const char *head;
  const char *tail;
  FILE *file;
  int64_t fileLength;
  const PostSource *source;  // read instead of file when set
  // Set for a request that changes what the server holds (a create, or a
  // cursor read, which moves the cursor): once it has gone out whole, or the
  // server has begun to answer, a broken transfer is not posted again,
  // since the server may have acted on it.
  int changesServer;
};

// A body made as it is sent (in place of a file between head and tail):
// read gives the next bytes (0 at the end, *failed set when they cannot be
// made), rewind starts it over for a second attempt or a redirect.
struct PostSource {
  void *context;
  size_t (*read)(void *context, char *out, size_t room, int *failed);
  int (*rewind)(void *context);
};

// DoPost for either kind of body: the same attempts, options and results.
// A streamed body is declared with its exact length and rewound for a second
// attempt or a redirect; a file shorter than fileLength fails the attempt.
int DoPostBody(const char *url, const PostBody &body, const char *responsePath);

// The response writer, exposed for tests and the benchmark: Begin() takes an
// open binary file and resets the pending-text flag; Write() reshapes one
// chunk as libcurl would hand it over; End() flushes and lets the file go
// (it does not close it). The verdict's scan (soap_answer.h) sees every
// byte written.
void ResponseWriterBegin(FILE *file);
// Begin() for the answer begun last in the answer store (AnswerBegin);
// End() leaves it open for AnswerEnd.
void ResponseWriterBeginAnswer();
// Returns size, or 0 once a write to the file has failed (disk full...), so
// that libcurl ends the transfer with a write error instead of reporting a
// truncated answer as complete.
size_t ResponseWriterWrite(const char *data, size_t size);
void ResponseWriterEnd();
// 1 when a write failed between Begin() and End() (End's flush included).
int ResponseWriterFailed();
