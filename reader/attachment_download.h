// What the attachment reader, the attached-message reader and the body-part
// writer share: the attachment element, the chunked download by id with
// getAttachmentRequest (request loop, scan of each answer, base64 decoding
// into an open part file), the entry of a part file into the record, and
// the text saying why the last download failed.
#pragma once

#include <cstdint>
#include <cstdio>

struct HostMessage;

enum {
  kKeptTextSize = 251,   // a text kept from an answer (250 characters)
  kFailureTextSize = 512,
  kAttachmentIdSize = 4096,
  kAttachmentNameSize = 1024,
};

// One <gwt:attachment> element as the item's answer describes it.
struct AttachmentElement {
  char id[kAttachmentIdSize];
  char name[kAttachmentNameSize];
  char contentType[kAttachmentNameSize];
  int64_t size;       // <gwt:size>, 0 when absent
  int itemReference;  // the id carried itemReference="1"
};

// The leading decimal digits of text as a byte count that may pass 2 GB;
// 0 when there are none or the count does not fit in 64 bits.
int64_t ParseLeadingSize(const char *text);

// Reads the element's lines from response (positioned after its opening
// line) up to "</gwt:attachment>" or the end of file into *a (zeroed first).
void ReadAttachmentElement(FILE *response, AttachmentElement *a);

// The failure text behind AttachmentFailureReason() (kFailureTextSize bytes).
char *AttachmentFailureText();
// Sets it to 'attachment "NAME": WHY'.
void SetAttachmentFailure(const char *name, const char *why);

// Enters the file at path as the record's next part (name, kind; its size is
// knownSize when the caller wrote the file and knows it, else the file's
// size, taken after an HTML part is cleaned). Returns 0 when the
// record cannot take another part (logged, the file deleted), 1 when added.
int AddPartFile(HostMessage *record, const char *path, const char *name, int kind,
                int64_t knownSize = -1);

// The long view of getItemRequest, also sent with attachment requests of an
// attached message.
extern const char kItemView[];

// Texts an answer may carry besides the data: they describe a referenced
// item (a task) that has no data of its own.
struct ReferenceTexts {
  char startDate[kKeptTextSize];
  char dueDate[kKeptTextSize];
  char assignedDate[kKeptTextSize];
  char subject[kKeptTextSize];
  char displayName[kKeptTextSize];
  char priority[kKeptTextSize];
  char taskPriority[kKeptTextSize];
};

struct ChunkedDownload {
  // In.
  const char *id;            // attachment or body id
  const char *view;          // "" or kItemView
  const char *responseName;  // answer file in the work directory ("base64.tmp")
  int64_t size;              // announced size in bytes (INT64_MAX: unknown); read on past it
                             // while pieces come back full
  int keepAlive;             // notify the host every 30 seconds between chunks
  const char *debugWhat;     // "attachment" / "embedded attachment": debug copy line
  ReferenceTexts *texts;     // null: only <gwt:code and <gwm:part are looked at
  // Out.
  int code;        // <gwt:code> of the last answer that had one before its data
  int64_t total;   // decoded bytes written
  int gotData;     // some answer carried data
  int pieces;      // answers that carried data
  // The server answered but would not deliver the data (an HTTP error
  // status, or pieces that make no progress): asking again in the same way
  // is not expected to help. 0 for a lost connection or a local fault.
  int refused;
  char failure[kFailureTextSize];  // why the download failed
};

// DownloadInChunks into a new part file at partPath, flushed and closed
// here. Returns 1 when every piece arrived and was written; else 0, with the
// file removed and download->failure saying why. A refusal code
// (download->code) is left to the caller.
int DownloadPartFile(ChunkedDownload *download, const char *partPath);

enum {
  // A download that has had this many pieces must have brought at least
  // kMinPieceAverage bytes per piece on average, or it is stopped.
  kProgressCheckPieces = 16,
  kMinPieceAverage = 2000,
};

// True when `pieces` answers with data brought too few bytes in all for
// the download to go on (see DownloadInChunks).
int PiecesMakeNoProgress(int pieces, int64_t total);

// Builds the request body for method/id/view/offset/length into out.
void FormatAttachmentRequest(char *out, size_t cap, const char *method, const char *id,
                             const char *view, int64_t offset, int64_t length);

// Fetches the data of download->id in 200000-byte chunks into part.
// A full chunk always asks for the next (the size may be missing or too
// small); a chunk that brings fewer bytes than asked, while the size is not
// reached, is followed by a request from where it ended, and is the last
// otherwise; an answer without data (no part element, or an empty one) ends
// the loop. Past the size, a chunk that repeats the one before it (a server
// that ignores the offset) ends the loop unwritten, and so does passing the
// /MAXATTACHSIZE limit. A server that answers every piece with a few bytes
// is stopped once the pieces make no progress (PiecesMakeNoProgress), and
// the download fails. Returns 1 when the loop ran
// to its end (the code may still be non-zero), 0 when a chunk was not
// answered with HTTP 200, the answer file cannot be read or a write to part
// failed (download->failure says which).
int DownloadInChunks(ChunkedDownload *download, FILE *part);

// "%s<name>" in the work directory.
void WorkFilePath(char *out, size_t cap, const char *name);

// Copies a response to the debug folder as "att%d.gwdat" (process-wide
// counter) when /CALDEBUG or /MAILDEBUG is on, and logs "debug: copied %s to %s".
void KeepAttachmentDebugCopy(const char *responsePath, const char *what);

// Results of SummariseAttachedItem.
enum {
  kSummaryWritten = 1,
  kSummaryRefused = 2,  // the server answered with a non-zero code: no summary
  kSummaryFailed = 0,   // not received, or its body could not be fetched
};

// Fetches the attached message (or appointment, when appointment is set)
// `id` with getItemRequest into base64.tmp, parses it into a temporary
// record and writes its readable summary into part. *html is set when the
// summary is HTML, *code to the answer's code. The temporary record's part
// files are deleted before it returns. On kSummaryFailed, failure (cap
// bytes) says why.
int SummariseAttachedItem(const char *id, int appointment, FILE *part, int *html, int *code,
                          char *failure, size_t cap);
