// The chunked getAttachmentRequest loop shared by attachments, attached
// messages and bodies too large to come inline.
#include "reader/attachment_download.h"

#include <cinttypes>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/attachments.h"
#include "reader/base64_decode.h"
#include "transport/answer_store.h"
#include "transport/keep_alive.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"

const char kItemView[] = "default recipients message/RTF attachments recipientStatus peek";

namespace {

// method, id, view, offset, length, method.
const char kAttachmentRequest[] =
    "<m:%s>\n<id>%s</id>\n<view>%s</view>\n<offset>%" PRId64 "</offset>\n<length>%" PRId64
    "</length>\n</m:%s>\n";

enum {
  kScanLineSize = 2000,
  kPathSize = kDirSize + 64,
  kEscapedIdSize = 6 * 4096 + 1,  // every character of a 4096-byte id may become "&quot;"
  kRequestSize = kEscapedIdSize + 512,
};

char gFailureReason[kFailureTextSize];

// Process-wide number of the next "att%d.gwdat" debug copy; never reset.
int gAttachmentCopyCounter = 0;

// What one answer of the loop held.
struct ChunkAnswer {
  int gotData;
  int64_t bytes;
  int writeFailed;
  uint64_t digest;  // of the encoded data, to see a server send the same piece again
  int repeated;     // the data was the previous answer's again
  int offsetIgnored;  // the piece says it starts elsewhere than asked: not written
};

// An answer holds a piece of up to 4/3 of a chunk as text: read in blocks
// that size rather than the stream's default few kilobytes.
enum { kAnswerReadBuffer = 256 * 1024 };

// FNV-1a over the rest of the answer from where its data starts.
uint64_t DigestRest(FILE *file) {
  uint64_t digest = 1469598103934665603ull;
  static unsigned char block[64 * 1024];
  size_t n;
  while ((n = fread(block, 1, sizeof block, file)) > 0) {
    for (size_t i = 0; i < n; ++i) digest = (digest ^ block[i]) * 1099511628211ull;
  }
  return digest;
}

// Whether the part element's start tag shows an offset other than the one
// asked for (askedOffset < 0: none was).
int ShowsOtherOffset(const char *partLine, int64_t askedOffset) {
  if (askedOffset < 0) return 0;
  const char *attribute = com_FindText(partLine, " offset=\"", 1);
  if (attribute == nullptr) return 0;
  const char *digits = attribute + sizeof " offset=\"" - 1;
  if (*digits < '0' || *digits > '9') return 0;
  return ParseLeadingSize(digits) != askedOffset;
}

// Scans one getAttachmentResponse: the status code, the texts of a
// referenced item and, at the part element, its data into part. The
// digest of the data is taken only when wanted (it costs a pass over the
// whole piece): to compare it with previousDigest, or for the next piece.
// A piece that says it starts elsewhere than askedOffset is not written.
int ScanChunkAnswer(const char *path, ChunkedDownload *download, FILE *part, int64_t askedOffset,
                    uint64_t previousDigest, int wantDigest, ChunkAnswer *answer) {
  FilePtr file = OpenAnswer(path, "r");
  if (!file) return 0;
  // The C library takes the size only with a buffer given; one answer is
  // open at a time, so one static buffer serves them all.
  static char readBuffer[kAnswerReadBuffer];
  setvbuf(file.get(), readBuffer, _IOFBF, sizeof readBuffer);
  char code[kKeptTextSize] = "";
  int codeSeen = 0;
  ReferenceTexts *t = download->texts;
  const TagField fields[] = {
      {"<gwt:code", kTagPrefixNoCase, code, sizeof code, 250, &codeSeen},
      {"<gwt:startDate>", kTagPrefixNoCase, t ? t->startDate : nullptr, kKeptTextSize, 250, nullptr},
      {"<gwt:dueDate", kTagPrefixNoCase, t ? t->dueDate : nullptr, kKeptTextSize, 250, nullptr},
      {"<gwt:assignedDate", kTagPrefixNoCase, t ? t->assignedDate : nullptr, kKeptTextSize, 250,
       nullptr},
      {"<gwt:subject", kTagPrefixNoCase, t ? t->subject : nullptr, kKeptTextSize, 250, nullptr},
      {"<gwt:displayName", kTagPrefixNoCase, t ? t->displayName : nullptr, kKeptTextSize, 250,
       nullptr},
      {"<gwt:priority", kTagPrefixNoCase, t ? t->priority : nullptr, kKeptTextSize, 250, nullptr},
      {"<gwt:taskPriority", kTagPrefixNoCase, t ? t->taskPriority : nullptr, kKeptTextSize, 250,
       nullptr},
  };
  const int fieldCount = t ? static_cast<int>(sizeof fields / sizeof fields[0]) : 1;
  char line[kScanLineSize];
  while (ReadResponseLine(line, sizeof line, file.get())) {
    if (StartsWithNoCase(line, "<gwm:part")) {
      size_t length = strlen(line);
      // A self-closed part element is a read at the end: no data.
      if (length >= 2 && strcmp(line + length - 2, "/>") == 0) break;
      if (ShowsOtherOffset(line, askedOffset)) {
        answer->offsetIgnored = 1;
        break;
      }
      if (wantDigest || previousDigest != 0) {
        long dataStart = ftell(file.get());
        answer->digest = DigestRest(file.get());
        // The same piece again past what the server declared is a server
        // that ignores the offset: nothing of it is written twice.
        if (previousDigest != 0 && answer->digest == previousDigest) {
          answer->repeated = 1;
          break;
        }
        if (dataStart < 0 || fseek(file.get(), dataStart, SEEK_SET) != 0) return 0;
      }
      answer->bytes = DecodeBase64Line(file.get(), part, &answer->writeFailed);
      answer->gotData = answer->bytes > 0;
      break;
    }
    codeSeen = 0;
    ScanTagTable(line, sizeof line, fields, fieldCount, file.get());
    if (codeSeen) download->code = ParseLeadingInt(code);
  }
  return 1;
}

// Tells the host that the download is alive, at most every 30 seconds.
void NotifyKeepAlive(int64_t *nextKeepAlive) {
  int64_t now = TransferClockNow();
  if (now <= *nextKeepAlive) return;
  *nextKeepAlive = now + kKeepAliveIntervalSeconds;
  if (gSession.hostNotify == nullptr) return;
  int value1 = 0, value2 = 0, stop = 0;
  gSession.hostNotify(0, "keepalive", 0, &value1, &value2, &stop);
}

// The most an attachment of unknown or understated size may bring: the
// /MAXATTACHSIZE limit (thousands of bytes), which the host would not take
// beyond anyway.
int64_t MaxUndeclaredBytes() {
  int64_t limit = static_cast<int64_t>(gRunSettings.maxAttachSize) * 1000;
  return limit > 0 ? limit : INT64_MAX;
}

}  // namespace

void WorkFilePath(char *out, size_t cap, const char *name) {
  FormatText(out, cap, "%s%s", gSession.workDir, name);
}

void KeepAttachmentDebugCopy(const char *responsePath, const char *what) {
  if (!gRunSettings.calDebug && !gRunSettings.mailDebug) return;
  char name[64];
  FormatText(name, sizeof name, "att%d.gwdat", gAttachmentCopyCounter++);
  char debugPath[kPathSize + kDirSize];
  FormatDebugPath(debugPath, sizeof debugPath, name);
  CopyAnswer(responsePath, debugPath);
  DebugLog("debug: copied %s to %s", what, debugPath);
}

void FormatAttachmentRequest(char *out, size_t cap, const char *method, const char *id,
                             const char *view, int64_t offset, int64_t length) {
  static char escapedId[kEscapedIdSize];
  CopyText(escapedId, sizeof escapedId, id);
  com_Escape(escapedId, 1, sizeof escapedId);
  FormatText(out, cap, kAttachmentRequest, method, escapedId, view, offset, length, method);
}

int DownloadInChunks(ChunkedDownload *download, FILE *part) {
  download->code = 0;
  download->total = 0;
  download->gotData = 0;
  download->pieces = 0;
  download->refused = 0;
  download->failure[0] = '\0';
  char responsePath[kPathSize];
  WorkFilePath(responsePath, sizeof responsePath, download->responseName);
  static char body[kRequestSize];
  int64_t offset = 0;
  uint64_t previousDigest = 0;
  int64_t nextKeepAlive = TransferClockNow() + kKeepAliveIntervalSeconds;
  // Set when the server answered a piece from elsewhere than asked: the
  // attachment is then read whole in one request (offset 0, length -1),
  // written over what the pieces wrote from `start` (file positions, not
  // decoded counts: /D331 writes fewer bytes than it decodes).
  int whole = 0;
  const long start = ftell(part);
  long piecesEnd = start;
  for (;;) {
    if (!gRunSettings.calTest) {
      FormatAttachmentRequest(body, sizeof body, "getAttachmentRequest", download->id,
                              download->view, whole ? 0 : offset, whole ? -1 : kAttachmentChunk);
      SoapCall(body, "getAttachmentRequest", responsePath);
      if (gHTTPResponse != 200) {
        com_Log("MV Warning: failed to retrieve attachment at offset %" PRId64
                ", httpResponse=%d",
                offset, gHTTPResponse);
        FormatText(download->failure, sizeof download->failure,
                   "attachment data at offset %" PRId64 " not received, httpResponse=%d", offset,
                   gHTTPResponse);
        // No status at all is a transfer that broke, and 503 a server too
        // busy for now: both may pass.
        download->refused = gHTTPResponse != 0 && gHTTPResponse != 503;
        return 0;
      }
      KeepAttachmentDebugCopy(responsePath, download->debugWhat);
      if (!SoapAnswerUsable()) {
        com_Log("MV Warning: failed to retrieve attachment at offset %" PRId64 ", %s", offset,
                SoapAnswerProblem());
        FormatText(download->failure, sizeof download->failure,
                   "attachment data at offset %" PRId64 " not received, %s", offset,
                   SoapAnswerProblem());
        return 0;
      }
    } else {
      MessageBoxA(responsePath, strcmp(download->responseName, "base64X.tmp") == 0
                                       ? "Substitute embedded base64 file now"
                                       : "Substitute base64 file now");
    }
    ChunkAnswer answer = {0, 0, 0, 0, 0, 0};
    // Up to the declared size every piece is taken as it comes (the data
    // may well repeat); past it a repeat ends the download.
    const int pastDeclared = download->size == INT64_MAX || offset >= download->size;
    // The next offset is at most a chunk on: only a piece that may be
    // followed by one past the declared size needs its digest kept.
    const int nextMayBePast =
        download->size == INT64_MAX || offset >= download->size - kAttachmentChunk;
    if (!ScanChunkAnswer(responsePath, download, part, whole ? -1 : offset,
                         !whole && pastDeclared ? previousDigest : 0, !whole && nextMayBePast,
                         &answer)) {
      FormatText(download->failure, sizeof download->failure, "cannot read %s", responsePath);
      return 0;
    }
    if (answer.writeFailed) {
      CopyText(download->failure, sizeof download->failure, "cannot write the part file");
      return 0;
    }
    if (answer.offsetIgnored) {
      // Taken piece by piece, such a server's answers would store its first
      // piece over and over as the attachment.
      com_Log("MV Warning: the server answered attachment data at offset %" PRId64
              " from elsewhere, reading it whole",
              offset);
      if (start < 0 || fflush(part) != 0 || (piecesEnd = ftell(part)) < 0 ||
          fseek(part, start, SEEK_SET) != 0) {
        CopyText(download->failure, sizeof download->failure, "cannot write the part file");
        return 0;
      }
      whole = 1;
      download->total = 0;
      continue;
    }
    if (whole) {
      // The whole data goes over what the pieces before it wrote; it must
      // cover them, or their bytes would stay behind it.
      download->total = answer.bytes;
      download->gotData = answer.gotData;
      const int64_t declared = download->size == INT64_MAX ? 0 : download->size;
      const long wholeEnd = fflush(part) == 0 ? ftell(part) : -1;
      if (wholeEnd < piecesEnd || answer.bytes < declared) {
        FormatText(download->failure, sizeof download->failure,
                   "read whole, the attachment came with %" PRId64 " bytes, less than %s",
                   answer.bytes, answer.bytes < declared ? "its size" : "its pieces before");
        download->refused = 1;
        return 0;
      }
      return 1;
    }
    if (answer.repeated) {
      com_Log("MV Warning: attachment data at offset %" PRId64
              " repeats the piece before it, taking %" PRId64 " bytes as the whole",
              offset, download->total);
      return 1;
    }
    previousDigest = answer.digest;
    download->total += answer.bytes;
    if (answer.gotData) download->gotData = 1;
    if (!answer.gotData) return 1;
    if (PiecesMakeNoProgress(++download->pieces, download->total)) {
      com_Log("MV Warning: attachment data makes no progress: %" PRId64 " bytes in %d pieces",
              download->total, download->pieces);
      FormatText(download->failure, sizeof download->failure,
                 "the server sent only %" PRId64 " bytes in %d pieces", download->total,
                 download->pieces);
      download->refused = 1;
      return 0;
    }
    // The declared size may be missing or too small: a full piece always
    // asks for more. The server may also send less than was asked for, so
    // a short piece is the last only when it ends at the declared size;
    // without a size (0 when <gwt:size> is absent), or past it, only a read
    // that brings nothing ends the download.
    if (answer.bytes >= kAttachmentChunk)
      offset += kAttachmentChunk;
    else if (download->size <= 0 || offset + answer.bytes != download->size)
      offset += answer.bytes;
    else
      return 1;
    if ((download->size == INT64_MAX || offset > download->size) &&
        offset > MaxUndeclaredBytes()) {
      com_Log("MV Warning: attachment data goes on past %" PRId64 " bytes, stopping there",
              offset);
      return 1;
    }
    if (download->keepAlive) NotifyKeepAlive(&nextKeepAlive);
  }
}

// A server that sends full pieces has brought at least (pieces - 1) full
// chunks, far above the floor; one that caps its pieces well below the size
// asked for still passes as long as they average kMinPieceAverage bytes (1%
// of a chunk). Only a server answering with a few bytes at a time, which
// would take thousands of requests per attachment, is stopped, after
// kProgressCheckPieces pieces.
int PiecesMakeNoProgress(int pieces, int64_t total) {
  return pieces >= kProgressCheckPieces && total < static_cast<int64_t>(pieces) * kMinPieceAverage;
}

const char *AttachmentFailureReason() { return gFailureReason; }

char *AttachmentFailureText() { return gFailureReason; }

void SetAttachmentFailure(const char *name, const char *why) {
  FormatText(gFailureReason, sizeof gFailureReason, "attachment \"%s\": %s", name, why);
}

int64_t ParseLeadingSize(const char *text) {
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value > (INT64_MAX - 9) / 10) return 0;
    value = value * 10 + (*text - '0');
  }
  return value;
}

void ReadAttachmentElement(FILE *response, AttachmentElement *a) {
  memset(a, 0, sizeof *a);
  static char line[kScanLineSize];
  char size[32] = "";
  const TagField fields[] = {
      {"<gwt:size>", kTagNoCase, size, sizeof size, -1, nullptr},
      {"<gwt:name>", kTagNoCase, a->name, sizeof a->name, -1, nullptr},
      {"<gwt:contentType>", kTagNoCase, a->contentType, sizeof a->contentType, -1, nullptr},
  };
  while (ReadResponseLine(line, sizeof line, response)) {
    if (EqualsNoCase(line, "</gwt:attachment>")) break;
    if (StartsWithNoCase(line, "<gwt:id")) {
      if (com_FindText(line, "itemReference=\"1", 0) != nullptr) a->itemReference = 1;
      // An empty id element has no value line: its end tag is no id.
      if (!ReadElementValue(line, sizeof line, response)) break;
      CopyText(a->id, sizeof a->id, line);
      continue;
    }
    size[0] = '\0';
    if (ScanTagTable(line, sizeof line, fields, 3, response) && size[0] != '\0')
      a->size = ParseLeadingSize(size);
  }
}

int AddPartFile(HostMessage *record, const char *path, const char *name, int kind,
                int64_t knownSize) {
  if (record->partCount >= kMaxParts || !com_AllocPart(record)) {
    com_Log("MV Info: too many message attachments (%d), cutting off", record->partCount);
    mvcom_PartRemove(path);
    return 0;
  }
  if (kind == kPartHtmlBody) CleanHtmlPart(path);
  HostPart *part = record->parts[record->partCount];
  CopyText(part->name, sizeof part->name, name);
  part->kind = kind;
  int64_t size = kind == kPartHtmlBody ? -1 : knownSize;  // cleaning changes the size
  if (size < 0 && com_GetFileSize(path, &size) != 0) size = 0;
  part->size = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
  ++record->partCount;
  return 1;
}

int DownloadPartFile(ChunkedDownload *download, const char *partPath) {
  FilePtr part = OpenFile(partPath, "wb");
  if (!part) {
    CopyText(download->failure, sizeof download->failure, "the part file cannot be created");
    return 0;
  }
  int ok = DownloadInChunks(download, part.get());
  if (ok && (fflush(part.get()) != 0 || ferror(part.get()))) {
    ok = 0;
    CopyText(download->failure, sizeof download->failure, "cannot write the part file");
  }
  part.reset();
  if (!ok) remove(partPath);
  return ok;
}
