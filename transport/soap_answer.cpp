// ReadSoapAnswer: one pass over a response file's bytes that follows the
// element nesting (not the lines, which item text can fake) to tell a whole
// SOAP envelope from an HTML page, a cut answer or a Fault, and to take the
// status code from the response's own status element.
#include "transport/soap_answer.h"

#include <climits>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "transport/answer_store.h"

namespace {

enum {
  kReadBlockSize = 64 * 1024,
  kNameSize = 64,      // element names are cut here; the ones looked for are short
  kCaptureSize = 64,   // a status code's text
  kNoLevel = -1,
};

enum CaptureKind { kCaptureNone, kCaptureCode, kCaptureFault };

// Where the scan stands. Levels count open elements: the Envelope is 0, the
// Body 1, the response element (or a Fault) 2, its status 3.
struct AnswerScan {
  int level;            // elements open now
  int envelopeOpened;   // the first element was an Envelope
  int foreignRoot;      // the first element was something else
  int envelopeClosed;   // the Envelope's end tag was read
  int bodySeen;
  int bodyOpen;
  int faultSeen;
  int childIsFault;     // the body's open child is a Fault
  int statusLevel;      // level of the open status element, or kNoLevel
  int statusRead;       // a status element has ended: later ones do not count
  int codeSeen;
  int codeBad;          // a code that is not a decimal number
  int code;
  int captureKind;
  int captureLevel;
  char captureText[kCaptureSize];
  size_t captureLength;
  char faultText[kAnswerFaultTextSize];
  // The markup being read.
  int inTag;
  int endTag;
  int nameDone;
  char name[kNameSize];
  size_t nameLength;
  char quote;           // the quote of an attribute value the tag is in, or 0
  char lastInTag;       // the last byte of the tag outside quotes
  const char *skipEnd;  // a comment, CDATA section or declaration ends with this
  int skipIsText;       // CDATA: its bytes are text
  char recent[4];       // the last bytes read while skipping
};

int IsLineBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char *LocalName(const char *name) {
  const char *colon = strrchr(name, ':');
  return colon != nullptr ? colon + 1 : name;
}

// A status code as sent: blanks around decimal digits, nothing else.
int ParseCode(const char *text, int *code) {
  while (IsLineBlank(*text)) ++text;
  const int negative = *text == '-';
  if (negative) ++text;
  long long value = 0;
  int digits = 0;
  while (*text >= '0' && *text <= '9') {
    value = value * 10 + (*text++ - '0');
    if (++digits > 10) return 0;
  }
  while (IsLineBlank(*text)) ++text;
  if (digits == 0 || *text != '\0' || value > INT_MAX) return 0;
  *code = static_cast<int>(negative ? -value : value);
  return 1;
}

void StartCapture(AnswerScan *scan, int kind, int level) {
  scan->captureKind = kind;
  scan->captureLevel = level;
  scan->captureLength = 0;
  scan->captureText[0] = '\0';
}

void CaptureBytes(AnswerScan *scan, const char *data, size_t n) {
  char *out = scan->captureKind == kCaptureFault ? scan->faultText : scan->captureText;
  const size_t cap = scan->captureKind == kCaptureFault ? sizeof scan->faultText
                                                          : sizeof scan->captureText;
  size_t room = cap - 1 - scan->captureLength;
  if (n > room) {
    n = room;
    if (scan->captureKind == kCaptureCode) scan->codeBad = 1;  // far too long for a code
  }
  memcpy(out + scan->captureLength, data, n);
  scan->captureLength += n;
  out[scan->captureLength] = '\0';
}

void EndCapture(AnswerScan *scan) {
  if (scan->captureKind == kCaptureCode && !scan->codeSeen) {
    scan->codeSeen = 1;
    if (scan->codeBad || !ParseCode(scan->captureText, &scan->code)) {
      scan->codeBad = 1;
      scan->code = 0;
    }
  }
  scan->captureKind = kCaptureNone;
  scan->captureLevel = kNoLevel;
}

// A start tag at `level` (before it opens).
void OpenElement(AnswerScan *scan, const char *local, int level) {
  if (level == 0) {
    if (!scan->envelopeOpened && !scan->foreignRoot) {
      if (strcmp(local, "Envelope") == 0) scan->envelopeOpened = 1;
      else scan->foreignRoot = 1;
    }
    return;
  }
  if (!scan->envelopeOpened || scan->envelopeClosed) return;
  if (level == 1) {
    if (strcmp(local, "Body") == 0) scan->bodySeen = scan->bodyOpen = 1;
    return;
  }
  if (!scan->bodyOpen) return;
  if (level == 2) {
    scan->childIsFault = strcmp(local, "Fault") == 0;
    if (scan->childIsFault) scan->faultSeen = 1;
  }
  if (level == 3 && scan->childIsFault && strcmp(local, "faultstring") == 0 &&
      scan->faultText[0] == '\0') {
    StartCapture(scan, kCaptureFault, level);
  }
  if ((level == 2 || (level == 3 && !scan->childIsFault)) && scan->statusLevel == kNoLevel &&
      !scan->statusRead && strcmp(local, "status") == 0) {
    scan->statusLevel = level;
  }
  if (scan->statusLevel != kNoLevel && level == scan->statusLevel + 1 &&
      strcmp(local, "code") == 0 && !scan->codeSeen) {
    StartCapture(scan, kCaptureCode, level);
  }
}

// An end tag that closes the element at `level`.
void CloseElement(AnswerScan *scan, int level) {
  if (scan->captureKind != kCaptureNone && level <= scan->captureLevel) EndCapture(scan);
  if (scan->statusLevel != kNoLevel && level <= scan->statusLevel) {
    scan->statusLevel = kNoLevel;
    scan->statusRead = 1;
  }
  if (level == 2) scan->childIsFault = 0;
  if (level == 1) scan->bodyOpen = 0;
  if (level == 0 && scan->envelopeOpened) scan->envelopeClosed = 1;
}

// The tag just read, up to its ">".
void FinishTag(AnswerScan *scan) {
  scan->inTag = 0;
  if (scan->endTag) {
    if (scan->level > 0) --scan->level;
    CloseElement(scan, scan->level);
    return;
  }
  const int level = scan->level;
  // The capture of a text ends at the first markup inside it.
  if (scan->captureKind != kCaptureNone) scan->codeBad |= scan->captureKind == kCaptureCode;
  OpenElement(scan, LocalName(scan->name), level);
  if (scan->lastInTag == '/') {
    CloseElement(scan, level);
  } else {
    ++scan->level;
  }
}

void BeginSkip(AnswerScan *scan, const char *end, int isText) {
  scan->inTag = 0;
  scan->skipEnd = end;
  scan->skipIsText = isText;
  memset(scan->recent, 0, sizeof scan->recent);
}

// One byte of a tag's name or attributes.
void TagByte(AnswerScan *scan, char c) {
  if (scan->quote != 0) {
    if (c == scan->quote) scan->quote = 0;
    return;
  }
  if (c == '>') {
    if (scan->name[0] == '!' || scan->name[0] == '?') scan->inTag = 0;  // a declaration
    else FinishTag(scan);
    return;
  }
  if (!scan->nameDone) {
    if (scan->nameLength == 0 && c == '/' && !scan->endTag) {
      scan->endTag = 1;
      return;
    }
    if (IsLineBlank(c) || c == '/') {
      scan->nameDone = 1;
    } else if (scan->nameLength + 1 < sizeof scan->name) {
      scan->name[scan->nameLength++] = c;
      scan->name[scan->nameLength] = '\0';
      // Only a name that begins with "!" can open a comment or a CDATA
      // section: element names are not compared byte by byte.
      if (scan->name[0] == '!') {
        if (strcmp(scan->name, "!--") == 0) BeginSkip(scan, "-->", 0);
        else if (strcmp(scan->name, "![CDATA[") == 0) BeginSkip(scan, "]]>", 1);
      } else if (scan->nameLength == 1 && c == '?') {
        BeginSkip(scan, "?>", 0);
      }
      return;
    }
  }
  if (c == '"' || c == '\'') scan->quote = c;
  if (!IsLineBlank(c)) scan->lastInTag = c;
}

void SkipByte(AnswerScan *scan, char c) {
  if (scan->skipIsText && scan->captureKind != kCaptureNone) CaptureBytes(scan, &c, 1);
  memmove(scan->recent, scan->recent + 1, sizeof scan->recent - 1);
  scan->recent[sizeof scan->recent - 1] = c;
  const size_t n = strlen(scan->skipEnd);
  if (memcmp(scan->recent + sizeof scan->recent - n, scan->skipEnd, n) == 0) {
    scan->skipEnd = nullptr;
  }
}

void StartTag(AnswerScan *scan) {
  scan->inTag = 1;
  scan->endTag = 0;
  scan->nameDone = 0;
  scan->nameLength = 0;
  scan->name[0] = '\0';
  scan->quote = 0;
  scan->lastInTag = 0;
}

// The first ">" or quote in [p, end), or end.
const char *NextTagStop(const char *p, const char *end) {
  static const char kStops[] = {'>', '"', '\''};
  const char *stop = end;
  for (char c : kStops) {
    const char *found = static_cast<const char *>(memchr(p, c, static_cast<size_t>(stop - p)));
    if (found != nullptr) stop = found;
  }
  return stop;
}

// The attributes of a tag (its name read) up to the next ">" or quote, and
// a quoted value to its end, as runs: the bytes between only matter for the
// last byte before the ">" ("/>" ends an empty element).
const char *SkipTagRun(AnswerScan *scan, const char *p, const char *end) {
  if (scan->quote != 0) {
    const char *close = static_cast<const char *>(memchr(p, scan->quote, static_cast<size_t>(end - p)));
    if (close == nullptr) return end;
    scan->quote = 0;
    return close + 1;
  }
  const char *stop = NextTagStop(p, end);
  for (const char *b = stop; b > p;) {
    if (!IsLineBlank(*--b)) {
      scan->lastInTag = *b;
      break;
    }
  }
  if (stop < end) TagByte(scan, *stop++);
  return stop;
}

void ScanBlock(AnswerScan *scan, const char *data, size_t size) {
  const char *p = data;
  const char *end = data + size;
  while (p < end) {
    if (scan->skipEnd != nullptr) {
      SkipByte(scan, *p++);
    } else if (scan->inTag && (scan->nameDone || scan->quote != 0)) {
      p = SkipTagRun(scan, p, end);
    } else if (scan->inTag) {
      TagByte(scan, *p++);
    } else {
      const char *lt = static_cast<const char *>(memchr(p, '<', static_cast<size_t>(end - p)));
      const char *textEnd = lt != nullptr ? lt : end;
      if (scan->captureKind != kCaptureNone) {
        CaptureBytes(scan, p, static_cast<size_t>(textEnd - p));
      }
      if (lt == nullptr) return;
      StartTag(scan);
      p = lt + 1;
    }
  }
}

int ShapeOf(const AnswerScan &scan) {
  if (!scan.envelopeOpened) return kAnswerNotSoap;
  if (!scan.envelopeClosed) return kAnswerCut;
  if (!scan.bodySeen) return kAnswerNotSoap;
  if (scan.faultSeen) return kAnswerFault;
  if (!scan.codeSeen || scan.codeBad) return kAnswerNoStatus;
  return kAnswerWhole;
}

}  // namespace

namespace {

void BeginScan(AnswerScan *scan) {
  memset(scan, 0, sizeof *scan);
  scan->statusLevel = scan->captureLevel = kNoLevel;
}

void TakeVerdict(const AnswerScan &scan, SoapAnswer *answer) {
  answer->shape = ShapeOf(scan);
  answer->code = scan.codeSeen && !scan.codeBad ? scan.code : 0;
  // The writer puts the text on a line of its own: the line ends go.
  const char *text = scan.faultText;
  while (IsLineBlank(*text)) ++text;
  size_t length = strlen(text);
  while (length > 0 && IsLineBlank(text[length - 1])) --length;
  CopyTextN(answer->faultText, sizeof answer->faultText, text, length);
}

// The scan of the answer being written.
AnswerScan gWrittenScan;

}  // namespace

void BeginSoapAnswerScan() { BeginScan(&gWrittenScan); }

void ScanSoapAnswer(const char *data, size_t size) { ScanBlock(&gWrittenScan, data, size); }

void TakeSoapAnswerVerdict(SoapAnswer *answer) { TakeVerdict(gWrittenScan, answer); }

void ReadSoapAnswer(const char *path, SoapAnswer *answer) {
  answer->shape = kAnswerNotSoap;
  answer->code = 0;
  answer->faultText[0] = '\0';
  FilePtr file = OpenAnswer(path, "rb");
  if (!file) return;
  static AnswerScan scan;
  BeginScan(&scan);
  static char block[kReadBlockSize];
  size_t n;
  while ((n = fread(block, 1, sizeof block, file.get())) > 0) ScanBlock(&scan, block, n);
  TakeVerdict(scan, answer);
}

const char *SoapAnswerShapeText(int shape) {
  switch (shape) {
    case kAnswerWhole: return "";
    case kAnswerNotSoap: return "the answer is not a SOAP envelope";
    case kAnswerCut: return "the answer was cut short";
    case kAnswerFault: return "the answer is a SOAP fault";
    case kAnswerNoStatus: return "the answer carries no status code";
    default: return "the answer cannot be read";
  }
}
