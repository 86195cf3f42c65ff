// SoapCall: the one way the plug-in talks to GroupWise Web Services.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Wraps body (one request element) in the SOAP envelope with the session id,
// posts it with the SOAPAction requestName, retries a busy server, and
// leaves the reshaped answer in responsePath. Returns 1 when the answer is
// usable (see SoapAnswerUsable), else 0. gHTTPResponse and gGWSError (the
// code of the answer's status element, 0 when it has none) are set in every
// case.
int SoapCall(const char *body, const char *requestName, const char *responsePath);

// SoapCall for a body that lies in the file requestPath: the same envelope,
// headers, retries and results, but the file is streamed into the post (its
// bytes are never held in memory as a whole). Returns -1 when the request
// file cannot be opened or sized (nothing is sent), else as SoapCall.
int SoapCallFile(const char *requestPath, const char *requestName, const char *responsePath);

// SoapCallFile for a body in an open stream (a file, or one kept in
// memory) of fileLength bytes from its start. Returns -1 when request is
// null (nothing is sent), else as SoapCall.
int SoapCallStream(FILE *request, int64_t fileLength, const char *requestName, const char *responsePath);

struct PostSource;

// SoapCallStream for a body made as it is sent (length bytes).
int SoapCallSource(const PostSource *source, int64_t length, const char *requestName,
                   const char *responsePath);

// 1 when the last call's answer can be read: the transfer succeeded with
// HTTP 200 and brought a whole SOAP envelope (its end tag read) that is no
// Fault and has a status element with a code. The code itself (0, or the
// server's refusal) is gGWSError. Anything else - an HTML page, a cut
// answer, a Fault sent with HTTP 200 - must fail what the call was for.
int SoapAnswerUsable();

// Why the last answer is not usable, for log lines and failure reasons
// ("HTTP response=500", "the answer is not a SOAP envelope", "the answer is
// a SOAP fault: TEXT"...); "" when it is.
const char *SoapAnswerProblem();

// The envelope SoapCall posts for body (exposed for tests). Returns the
// length written into out (cut at cap - 1).
size_t BuildSoapEnvelope(const char *body, char *out, size_t cap);
