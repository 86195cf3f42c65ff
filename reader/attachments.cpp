// Attachments of an item into part files: the attachment element read from
// the item's answer, its data fetched in chunks (or the attached item
// summarised), the part entered in the record; body parts written from the
// answer; HTML parts cleaned.
#include "reader/attachments.h"
#include "transport/part_files.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/attachment_download.h"
#include "reader/base64_decode.h"
#include "reader/body_conversion.h"
#include "reader/lost_attachment.h"
#include "transport/response_scanner.h"

namespace {

enum {
  kPathSize = kDirSize + 64,
  kCopyBlock = 64 * 1024,
};

// Writes the seven labelled lines of a referenced item that has no data.
void WriteTaskInformation(FILE *part, const ReferenceTexts &t) {
  fprintf(part,
          "Task Information:\r\n\r\nFrom: %s\r\nSubject: %s\r\nAssigned Date: %s\r\n"
          "Start Date: %s\r\nDue Date: %s\r\nPriority: %s\r\nTask Priority: %s\r\n",
          t.displayName, t.subject, t.assignedDate, t.startDate, t.dueDate, t.priority,
          t.taskPriority);
}

// The part's kind from the names and the content type the attachment had.
int PartKind(const char *name, char *displayName, size_t displayCap, const char *savedType) {
  int kind = kPartFile;
  if (EqualsNoCase(displayName, "text.htm")) kind = kPartHtmlBody;
  if (strcmp(savedType, "Mail") == 0) {
    kind = kPartFile;
    if (EqualsNoCase(name, "text.htm")) AppendText(displayName, displayCap, ".html");
  }
  if (EqualsNoCase(savedType, "text/plain"))
    kind = StartsWithNoCase(name, "text") ? kPartTextBody : kPartFile;
  return kind;
}

// True when the element opened on the line before ends without data: the
// line was self-closed, or the next line of response is its end tag (which
// is then read; any other line is left for the data).
int ElementIsEmpty(const char *line, FILE *response) {
  size_t n = strlen(line);
  if (n >= 2 && strcmp(line + n - 2, "/>") == 0) return 1;
  long start = ftell(response);
  if (start < 0) return 0;
  char next[64];
  if (ReadResponseLine(next, sizeof next, response) && EqualsNoCase(next, "</gwt:part>")) return 1;
  fseek(response, start, SEEK_SET);
  return 0;
}

// The id="..", and length=".." of an empty body part element; returns 1
// when the element is empty and has an id.
int ReadEmptyPartElement(const char *line, FILE *response, char *id, size_t cap,
                         int64_t *length) {
  const char *idStart = com_FindText(line, " id=\"", 1);
  if (idStart == nullptr || !ElementIsEmpty(line, response)) return 0;
  idStart += 5;
  const char *idEnd = strchr(idStart, '"');
  if (idEnd == nullptr) return 0;
  CopyTextN(id, cap, idStart, static_cast<size_t>(idEnd - idStart));
  *length = INT64_MAX;  // unknown: read until the server has no more
  const char *lengthStart = com_FindText(line, " length=\"", 1);
  if (lengthStart != nullptr) *length = ParseLeadingSize(lengthStart + 9);
  return 1;
}

}  // namespace

int GetAttachment(HostMessage *record, FILE *response) {
  static AttachmentElement a;
  ReadAttachmentElement(response, &a);
  // The MIME form of the message is not converted.
  if (strcmp(a.name, "Mime.822") == 0) return kAttachDone;
  DebugLog("debug: attachment name=%s, type=%s, size=%" PRId64 ", ItemRef=%d, id=%s", a.name,
           a.contentType, a.size, a.itemReference, a.id);
  if (record->partCount >= kMaxParts) {
    com_Log("MV Info: too many message attachments (%d), cutting off", record->partCount);
    return kAttachFull;
  }
  char partPath[kPathSize];
  FormatPartFileName(partPath, sizeof partPath, gSession.workDir, record->msgSeq,
                     record->partCount);
  FilePtr part = OpenFile(partPath, "wb");
  if (!part) {
    SetAttachmentFailure(a.name, "the part file cannot be created");
    return kAttachFailed;
  }

  static char name[kAttachmentNameSize], displayName[kAttachmentNameSize], savedType[kAttachmentNameSize];
  CopyText(name, sizeof name, a.name);
  displayName[0] = savedType[0] = '\0';
  int code = 0;
  int64_t total = 0;
  const int embedded = a.itemReference && (EqualsNoCase(a.contentType, "Mail") ||
                                           EqualsNoCase(a.contentType, "Appointment"));
  if (embedded) {
    int html = 0;
    char failure[kFailureTextSize];
    int result = SummariseAttachedItem(a.id, EqualsNoCase(a.contentType, "Appointment"),
                                       part.get(), &html, &code, failure, sizeof failure);
    if (result == kSummaryFailed) {
      part.reset();
      remove(partPath);
      SetAttachmentFailure(a.name, failure);
      return kAttachFailed;
    }
    CopyText(displayName, sizeof displayName, a.name);
    CopyText(savedType, sizeof savedType, a.contentType);
    CopyText(name, sizeof name, html ? "text.htm" : "Message.txt");
  } else {
    static ChunkedDownload download;
    static ReferenceTexts texts;
    memset(&texts, 0, sizeof texts);
    download.id = a.id;
    download.view = "";
    download.responseName = "base64.tmp";
    download.size = a.size;
    download.keepAlive = 1;
    download.debugWhat = "attachment";
    download.texts = &texts;
    if (!DownloadInChunks(&download, part.get())) {
      part.reset();
      remove(partPath);
      SetAttachmentFailure(a.name, download.failure);
      if (download.refused) return StoreLostAttachment(record, partPath, a.name, download.failure);
      return kAttachFailed;
    }
    code = download.code;
    total = download.total;
    if (a.itemReference && !download.gotData) {
      WriteTaskInformation(part.get(), texts);
      CopyText(name, sizeof name, "Task information.txt");
    }
  }
  if (fflush(part.get()) != 0 || ferror(part.get())) {
    part.reset();
    remove(partPath);
    SetAttachmentFailure(a.name, "cannot write the part file");
    return kAttachFailed;
  }
  part.reset();

  if (code != 0) {
    remove(partPath);
    char why[64];
    // Refused after some data came: what arrived is only a piece of it.
    if (total > 0) {
      FormatText(why, sizeof why, "download broken off with code %d", code);
      SetAttachmentFailure(a.name, why);
      return kAttachFailed;
    }
    // Refused outright (an attached mail included): left out, the item
    // would be stored without it and never read again. It fails the item
    // as any attachment the server will not deliver; a retry stores a text
    // part in its place.
    com_Log("MV info: unable to download attachment, code=%d", code);
    FormatText(why, sizeof why, "the server refused it with code %d", code);
    SetAttachmentFailure(a.name, why);
    return StoreLostAttachment(record, partPath, a.name, why);
  }
  if (displayName[0] == '\0') CopyText(displayName, sizeof displayName, name);
  if (savedType[0] == '\0') CopyText(savedType, sizeof savedType, a.contentType);
  DebugLog("debug: download complete, allocating attachment %s (%s), type=%s (%s), size=%" PRId64,
           name, displayName, a.contentType, savedType, total);
  int kind = PartKind(name, displayName, sizeof displayName, savedType);
  return AddPartFile(record, partPath, displayName, kind) ? kAttachDone : kAttachFull;
}

int IsTextBodyPart(const char *line) {
  if (!StartsWithNoCase(line, "<gwt:part")) return 0;
  const char after = line[sizeof "<gwt:part" - 1];
  if (after != ' ' && after != '>' && after != '/') return 0;
  return com_FindText(line, " contentType=\"text", 1) != nullptr;
}

int WriteBodyPart(HostMessage *record, FILE *response, const char *partLine, int rtf) {
  char partPath[kPathSize];
  FormatPartFileName(partPath, sizeof partPath, gSession.workDir, record->msgSeq,
                     record->partCount);
  // An RTF body is converted from its file; any other may stay in memory.
  FilePtr part = rtf ? OpenFile(partPath, "wb") : OpenPartSink(partPath);
  if (!part) {
    FormatText(AttachmentFailureText(), kFailureTextSize, "body part file %s cannot be created",
               partPath);
    return 2;
  }
  static char id[kAttachmentIdSize];
  int64_t length = 0;
  int writeFailed = 0;
  if (partLine != nullptr && ReadEmptyPartElement(partLine, response, id, sizeof id, &length)) {
    // A body too large to come inline is fetched by its id like an attachment.
    static ChunkedDownload download;
    download.id = id;
    download.view = "";
    download.responseName = "base64B.tmp";
    download.size = length;
    download.keepAlive = 1;
    download.debugWhat = "body";
    download.texts = nullptr;
    if (!DownloadInChunks(&download, part.get()) || download.code != 0) {
      part.reset();
      mvcom_PartRemove(partPath);
      if (download.failure[0] == '\0')
        FormatText(download.failure, sizeof download.failure, "refused with code %d",
                   download.code);
      FormatText(AttachmentFailureText(), kFailureTextSize, "message body: %s", download.failure);
      return 2;
    }
  } else {
    DecodeBase64Line(response, part.get(), &writeFailed);
  }
  if (fflush(part.get()) != 0 || ferror(part.get())) writeFailed = 1;
  // The bytes written are the part's size: no need to ask the file system.
  int64_t size = writeFailed ? -1 : static_cast<int64_t>(ftell(part.get()));
  if (fclose(part.release()) != 0) writeFailed = 1;
  if (writeFailed) {
    mvcom_PartRemove(partPath);
    FormatText(AttachmentFailureText(), kFailureTextSize, "cannot write the body part file %s",
               partPath);
    return 2;
  }
  if (rtf) {
    size = -1;  // the converted body has its own size
    char htmlPath[kPathSize];
    WorkFilePath(htmlPath, sizeof htmlPath, "rtfhtml.tmp");
    if (RtfToHtml(partPath, htmlPath) == kRtfOk) {
      remove(partPath);
      if (rename(htmlPath, partPath) != 0) {
        com_fcopy(htmlPath, partPath);
        remove(htmlPath);
      }
    }
  }
  return AddPartFile(record, partPath, "Message.txt", kPartTextBody, size);
}

void CleanHtmlPart(const char *path) {
  char cleanPath[kPathSize];
  WorkFilePath(cleanPath, sizeof cleanPath, "nullfile.tmp");
  FilePtr in = OpenFile(path, "rb");
  if (!in) return;
  FilePtr out = OpenFile(cleanPath, "wb");
  if (!out) {
    com_Log("Could not open %s", cleanPath);
    return;
  }
  // One pass: zero bytes dropped, every line end written as CR LF, and the
  // rest of a line after "</html>" dropped. Lines of any length stay whole.
  static const char kEndTag[] = "</html>";
  static unsigned char inBlock[kCopyBlock], outBlock[kCopyBlock + 2];
  size_t used = 0;
  int matched = 0, cut = 0, lineOpen = 0, pendingCr = 0, failed = 0;
  size_t got;
  while ((got = fread(inBlock, 1, sizeof inBlock, in.get())) > 0) {
    for (size_t i = 0; i < got; ++i) {
      unsigned char c = inBlock[i];
      if (c == 0) continue;
      if (pendingCr) {
        pendingCr = 0;
        if (c == '\n') continue;  // the LF of a CR LF already written
      }
      if (c == '\r' || c == '\n') {
        outBlock[used++] = '\r';
        outBlock[used++] = '\n';
        pendingCr = c == '\r';
        matched = cut = lineOpen = 0;
      } else {
        lineOpen = 1;
        if (cut) continue;
        outBlock[used++] = c;
        if (c == static_cast<unsigned char>(kEndTag[matched]))
          ++matched;
        else
          matched = c == '<' ? 1 : 0;
        if (kEndTag[matched] == '\0') cut = 1;
      }
      if (used >= kCopyBlock) {
        if (fwrite(outBlock, 1, used, out.get()) != used) failed = 1;
        used = 0;
      }
    }
  }
  if (lineOpen) {
    outBlock[used++] = '\r';
    outBlock[used++] = '\n';
  }
  if (used > 0 && fwrite(outBlock, 1, used, out.get()) != used) failed = 1;
  if (fflush(out.get()) != 0) failed = 1;
  in.reset();
  out.reset();
  if (failed) {
    com_Log("Could not write %s", cleanPath);
    remove(cleanPath);
    return;
  }
  remove(path);
  if (rename(cleanPath, path) != 0) {
    com_fcopy(cleanPath, path);
    remove(cleanPath);
  }
}
