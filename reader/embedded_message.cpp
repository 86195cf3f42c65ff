// Attached messages and appointments: the item fetched whole with
// getItemRequest, parsed into a temporary record, and written as a readable
// summary (header lines and body) into the attachment's part file.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/address_reading.h"
#include "reader/attachment_download.h"
#include "reader/attachments.h"
#include "transport/part_files.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"

namespace {

enum {
  kItemLineSize = 10000,
  kSubjectChars = 256,
  kPathSize = kDirSize + 64,
  kEscapedIdSize = 6 * kAttachmentIdSize + 1,
  kRequestSize = kEscapedIdSize + 512,
  kBodyLineSize = 3000,
};

// The first 27 characters of a body part's opening line.

// Deletes the part files of a temporary record and frees its lists.
void FreeTemporaryRecord(HostMessage *record) {
  char path[kPathSize];
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    FormatPartFileName(path, sizeof path, gSession.workDir, record->msgSeq, i);
    mvcom_PartRemove(path);
  }
  com_Deallocate(record, nullptr);
}

// "ddd, dd MMM yyyy HH:MM:SS" of a file time, as stored (no zone shift).
void FormatSummaryDate(FILETIME date, char *out, size_t cap) {
  SYSTEMTIME st = {};
  char day[64] = "";
  if (FileTimeToSystemTime(&date, &st)) FormatDateUS(&st, day, sizeof day);
  FormatText(out, cap, "%s %02d:%02d:%02d", day, st.wHour, st.wMinute, st.wSecond);
}

// Copies the body file line by line, each line (the last one too) ended by
// CR LF; a line longer than the read buffer is copied whole.
void CopyBodyLines(FILE *body, FILE *out) {
  static char line[kBodyLineSize];
  while (fgets(line, sizeof line, body) != nullptr) {
    size_t n = strlen(line);
    int ended = n > 0 && line[n - 1] == '\n';
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    fwrite(line, 1, n, out);
    if (ended || feof(body)) fputs("\r\n", out);
  }
}

// The summary of the attached item in `m` (its body part files included).
void WriteSummary(const HostMessage &m, const char *label, int html, FILE *out) {
  const char *mark = html ? "<BR>" : "";
  if (html) fputs("<html>\r\n", out);
  fprintf(out, "%s%s\r\n\r\n", label, mark);
  fprintf(out, "Subject: %s%s\r\n", m.subject, mark);
  fprintf(out, "From: %s <%s>%s\r\n", m.fromName, m.fromAddress, mark);
  for (int i = 0; i < m.recipCount && i < kMaxRecipients; ++i) {
    const HostRecipient *r = m.recips[i];
    fprintf(out, "%s%s <%s>%s\r\n", r->kind == kRecipTo ? "To: " : "cc: ", r->name, r->address,
            mark);
  }
  char date[96];
  FormatSummaryDate(m.sentTime, date, sizeof date);
  fprintf(out, "Date: %s%s\r\n", date, mark);
  if (!com_DateIsNull(m.startTime)) {
    FormatSummaryDate(m.startTime, date, sizeof date);
    fprintf(out, "Appointment Date: %s%s\r\n", date, mark);
  }
  fputs("\r\n", out);
  for (int i = 0; i < m.partCount && i < kMaxParts; ++i) {
    int kind = m.parts[i]->kind;
    if (kind != kPartHtmlBody && (html || kind != kPartTextBody)) continue;
    char path[kPathSize];
    FormatPartFileName(path, sizeof path, gSession.workDir, m.msgSeq, i);
    std::string kept;
    FilePtr body = OpenPartSource(path, &kept);
    if (body) CopyBodyLines(body.get(), out);
    break;
  }
}

}  // namespace

int GetEmbeddedAttachment(HostMessage *record, FILE *response) {
  static AttachmentElement a;
  ReadAttachmentElement(response, &a);
  if (strcmp(a.name, "Mime.822") == 0) return 0;
  DebugLog("debug: embedded attachment name=%s, type=%s, size=%" PRId64 ", ItemRef=%d, id=%s",
           a.name, a.contentType, a.size, a.itemReference, a.id);
  // Only the HTML body of an attached message is fetched.
  if (!EqualsNoCase(a.contentType, "text/html")) return 0;
  if (record->partCount >= kMaxParts) return 0;
  char partPath[kPathSize];
  FormatPartFileName(partPath, sizeof partPath, gSession.workDir, record->msgSeq,
                     record->partCount);
  static ChunkedDownload download;
  download.id = a.id;
  download.view = kItemView;
  download.responseName = "base64X.tmp";
  download.size = a.size;
  download.keepAlive = 0;
  download.debugWhat = "embedded attachment";
  download.texts = nullptr;
  if (!DownloadPartFile(&download, partPath)) {
    SetAttachmentFailure(a.name, download.failure);
    return 2;
  }
  if (download.code != 0) {
    remove(partPath);
    com_Log("MV Info: unable to download embedded attachment, code=%d", download.code);
    return 0;
  }
  DebugLog("debug: embedded download complete, allocating attachment %s, size=%" PRId64, a.name,
           download.total);
  int kind = kPartFile;
  if (EqualsNoCase(a.name, "text.htm")) kind = kPartHtmlBody;
  if (EqualsNoCase(a.contentType, "text/plain")) kind = kPartTextBody;
  return AddPartFile(record, partPath, a.name, kind);
}

int ParseEmbeddedMessage(HostMessage *record, const char *path) {
  FilePtr file = OpenAnswer(path, "r");
  if (!file) return 0;
  record->unread = 1;
  static char line[kItemLineSize];
  while (ReadResponseLine(line, sizeof line, file.get())) {
    int failed = 0;
    if (EqualsNoCase(line, "<gwt:attachment>")) {
      failed = GetEmbeddedAttachment(record, file.get()) == 2;
    } else if (EqualsNoCase(line, "<gwt:subject>")) {
      if (!ReadElementValue(line, sizeof line, file.get())) break;
      CopyTextN(record->subject, sizeof record->subject, line, kSubjectChars);
      TrimPartialUtf8(record->subject);
    } else if (IsTextBodyPart(line)) {
      failed = WriteBodyPart(record, file.get(), line, com_FindText(line, "/rtf", 0) != nullptr) == 2;
    } else if (EqualsNoCase(line, "<gwt:from>")) {
      int status = 0;
      ParseAddress(file.get(), record->fromName, record->fromAddress, "from", nullptr, &status);
      CleanName(record->fromName);
    } else if (EqualsNoCase(line, "<gwt:recipient>")) {
      AddRecipient(file.get(), record);
    } else if (EqualsNoCase(line, "<gwt:delivered>")) {
      if (!ReadResponseLine(line, sizeof line, file.get())) break;
      ParseGWDateTime(line, &record->sentTime);
    } else if (EqualsNoCase(line, "<gwt:startDate>")) {
      if (!ReadResponseLine(line, sizeof line, file.get())) break;
      ParseGWDateTime(line, &record->startTime);
    }
    if (failed) return 2;
  }
  return 1;
}

int SummariseAttachedItem(const char *id, int appointment, FILE *part, int *html, int *code,
                          char *failure, size_t cap) {
  *html = 0;
  *code = 0;
  char responsePath[kPathSize];
  WorkFilePath(responsePath, sizeof responsePath, "base64.tmp");
  if (!gRunSettings.calTest) {
    static char body[kRequestSize];
    FormatAttachmentRequest(body, sizeof body, "getItemRequest", id, kItemView, 0,
                            kAttachmentChunk);
    SoapCall(body, "getItemRequest", responsePath);
    if (gHTTPResponse != 200) {
      com_Log("MV Warning: failed to retrieve attachment at offset %d, httpResponse=%d", 0,
              gHTTPResponse);
      FormatText(failure, cap, "attached item not received, httpResponse=%d", gHTTPResponse);
      return kSummaryFailed;
    }
    KeepAttachmentDebugCopy(responsePath, "attachment");
    if (!SoapAnswerUsable()) {
      com_Log("MV Warning: failed to retrieve attached item %s, %s", id, SoapAnswerProblem());
      FormatText(failure, cap, "attached item not received, %s", SoapAnswerProblem());
      return kSummaryFailed;
    }
    if (gGWSError != 0) {
      *code = gGWSError;
      return kSummaryRefused;
    }
  } else {
    MessageBoxA(responsePath, "Substitute base64 file now");
  }

  std::unique_ptr<HostMessage> embedded(new HostMessage());
  com_ResetObject(embedded.get());
  embedded->msgSeq = kEmbeddedMsgSeq;
  DebugLog("debug: starting parse of embedded message");
  int parsed = ParseEmbeddedMessage(embedded.get(), responsePath);
  if (parsed == 2) {
    CopyText(failure, cap, AttachmentFailureReason());
    FreeTemporaryRecord(embedded.get());
    return kSummaryFailed;
  }
  for (int i = 0; i < embedded->partCount; ++i)
    if (embedded->parts[i]->kind == kPartHtmlBody) *html = 1;
  com_Log("Found message attachment: %s (html=%d)", embedded->subject, *html);
  WriteSummary(*embedded, appointment ? "Attached appointment:" : "Attached message:", *html,
               part);
  FreeTemporaryRecord(embedded.get());
  return kSummaryWritten;
}
