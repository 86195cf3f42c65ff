// SoapCall: the one way the plug-in talks to GroupWise Web Services.
#pragma once

#include <cstddef>

// Wraps body (one request element) in the SOAP envelope with the session id,
// posts it with the SOAPAction requestName, retries a busy server, and
// leaves the reshaped answer in responsePath. Returns 1 when the transfer
// succeeded with HTTP 200, else 0. gHTTPResponse and gGWSError are set in
// every case.
int SoapCall(const char *body, const char *requestName, const char *responsePath);

// SoapCall for a body that lies in the file requestPath: the same envelope,
// headers, retries and results, but the file is streamed into the post (its
// bytes are never held in memory as a whole). Returns -1 when the request
// file cannot be opened or sized (nothing is sent), else as SoapCall.
int SoapCallFile(const char *requestPath, const char *requestName, const char *responsePath);

// The envelope SoapCall posts for body (exposed for tests). Returns the
// length written into out (cut at cap - 1).
size_t BuildSoapEnvelope(const char *body, char *out, size_t cap);
