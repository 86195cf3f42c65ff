// The simulator's misbehaviour: choosing the fault that applies to a
// request and shaping the HTTP answer it produces.
#pragma once

#include <random>
#include <string>
#include <vector>

#include <httplib.h>

#include "gwsim/gwsim.h"

namespace gwsim {

// Finds the first fault in *faults that matches the request (by number
// when the fault names one, by request name when it names one; a fault
// naming neither matches every request), copies it to *taken and uses up
// one of its times (a fault with times 0 stays). Returns false when none
// matches.
// `nameOrdinal` is the request's number among those of its name,
// `requestId` the text of its <id> element ("" when it has none).
bool TakeFault(std::vector<Fault> *faults, int requestNumber, const std::string &requestName,
               int nameOrdinal, const std::string &requestId, Fault *taken);

// Draws the fault of a request that `random` breaks: an HTTP error (500,
// 503, the busy fault), a redirect, an answer cut or closed part way, an
// HTML page or a SOAP Fault with HTTP 200, a status element cut, a nonzero
// gwt:code, or chunks split at odd places.
Fault DrawRandomFault(std::mt19937 *random);

// True for the faults that answer instead of the request's handler (the
// request then changes nothing in the store).
bool FaultReplacesAnswer(FaultKind kind);

// The ends of the chunks in which kChunkSplits or kChunkAfterGt send an
// answer of `size` bytes: ascending, each in 1..size, the last one size.
std::vector<size_t> ChunkEnds(const Fault &fault, const std::string &answer);

// Shapes *response for the fault. `answer` is the normal answer (used by
// the faults that send it or a part of it); `path` the request's path (the
// redirect target); `requestName` names the response of kCode.
void ApplyFault(const Fault &fault, const std::string &answer, const std::string &path,
                const std::string &requestName, httplib::Response *response);

// The content type of every SOAP answer.
extern const char kSoapContentType[];

}  // namespace gwsim
