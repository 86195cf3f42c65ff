// The verdict on a saved answer: whether it is a whole SOAP envelope, and the
// code of its status element (the one the response element carries, never a
// code that the item's own text happens to hold).
#pragma once

#include <cstddef>

// What a response file holds, as far as the transfer's verdict goes.
enum SoapAnswerShape {
  kAnswerWhole = 0,   // a whole envelope whose body has a status with a code
  kAnswerNotSoap,     // no SOAP envelope with a body (an HTML page, nothing at all)
  kAnswerCut,         // the envelope does not end: the answer was cut short
  kAnswerFault,       // the body holds a SOAP Fault
  kAnswerNoStatus,    // a whole envelope without a status code that can be read
};

enum { kAnswerFaultTextSize = 256 };

struct SoapAnswer {
  int shape;  // SoapAnswerShape
  int code;   // the status element's code (0 when there is none)
  char faultText[kAnswerFaultTextSize];  // the Fault's faultstring, cut
};

// The verdict taken while the answer is written: the response writer
// begins the scan and hands it every byte it writes; the verdict is then
// that of the bytes written since the scan began (an empty answer is
// kAnswerNotSoap). DoPost begins a scan before anything else, so that no
// call sees the verdict of the one before.
void BeginSoapAnswerScan();
void ScanSoapAnswer(const char *data, size_t size);
void TakeSoapAnswerVerdict(SoapAnswer *answer);

// Reads the answer named path (as the response writer left it, or raw)
// and fills *answer with the same verdict. The status element counts only as a direct child of the
// body or of the response element; its code is read as a whole decimal
// number. An answer that cannot be opened is kAnswerNotSoap.
void ReadSoapAnswer(const char *path, SoapAnswer *answer);

// Words for an answer of this shape in a log line or a failure reason:
// "the answer is not a SOAP envelope", ...; "" for kAnswerWhole.
const char *SoapAnswerShapeText(int shape);
