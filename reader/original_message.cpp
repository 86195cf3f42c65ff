// Finding and fetching the original message of a received mail.
#include "reader/original_message.h"

#include <cinttypes>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/attachment_download.h"
#include "reader/attachments.h"
#include "transport/response_scanner.h"

const char kOriginalName[] = "Mime.822";

namespace {

enum {
  kLineSize = 2000,
  kPathSize = kDirSize + 64,
};

int gFolderLimitKB = 0;

// The smaller of the two limits, in bytes; INT64_MAX when there is none.
int64_t OriginalLimitBytes() {
  int64_t limit = INT64_MAX;
  if (gRunSettings.maxAttachSize > 0) limit = static_cast<int64_t>(gRunSettings.maxAttachSize) * 1000;
  if (gFolderLimitKB > 0 && static_cast<int64_t>(gFolderLimitKB) * 1000 < limit)
    limit = static_cast<int64_t>(gFolderLimitKB) * 1000;
  return limit;
}

// Reads the answer from where it stands for the original's element; 1 when
// found (*a filled).
int FindOriginalElement(FILE *response, AttachmentElement *a) {
  static char line[kLineSize];
  while (ReadResponseLine(line, sizeof line, response)) {
    if (!EqualsNoCase(line, "<gwt:attachment>")) continue;
    ReadAttachmentElement(response, a);
    if (strcmp(a->name, kOriginalName) == 0) return 1;
  }
  return 0;
}

// The original is too large for the host: it is converted as always.
int LeaveOriginal(int64_t size) {
  const int64_t kb = (size + 999) / 1000;
  com_Log("MV Info: original message of %" PRId64 " bytes is above the attachment limit, "
          "the item is converted",
          size);
  if (gSession.hostNotify != nullptr) {
    int value1 = 0, value2 = 0, stop = 0;
    gSession.hostNotify(0, "OriginalTooLarge", kb > INT32_MAX ? INT32_MAX : static_cast<int>(kb), &value1,
                        &value2, &stop);
  }
  return kOriginalNone;
}

// Fetches the original into the record's next part file.
int FetchOriginal(HostMessage *record, const AttachmentElement &a) {
  if (record->partCount >= kMaxParts) {
    SetAttachmentFailure(kOriginalName, "the record holds no further part");
    return kOriginalFailed;
  }
  char partPath[kPathSize];
  FormatPartFileName(partPath, sizeof partPath, gSession.workDir, record->msgSeq, record->partCount);
  static ChunkedDownload download;
  download.id = a.id;
  download.view = "";
  download.responseName = "base64.tmp";
  download.size = a.size;
  download.keepAlive = 1;
  download.debugWhat = "original message";
  download.texts = nullptr;
  int ok = DownloadPartFile(&download, partPath);
  // A refused or empty original is no message: never hand on a piece of one.
  if (ok && download.code != 0) {
    ok = 0;
    FormatText(download.failure, sizeof download.failure, "refused with code %d", download.code);
  }
  if (ok && download.total == 0) {
    ok = 0;
    CopyText(download.failure, sizeof download.failure, "the server sent no data");
  }
  if (!ok) {
    remove(partPath);
    SetAttachmentFailure(kOriginalName, download.failure);
    return kOriginalFailed;
  }
  // The size shown may have been short of the data.
  if (download.total > OriginalLimitBytes()) {
    remove(partPath);
    return LeaveOriginal(download.total);
  }
  DebugLog("debug: original message fetched, %" PRId64 " bytes", download.total);
  if (AddPartFile(record, partPath, kOriginalName, kPartFile)) return kOriginalTaken;
  SetAttachmentFailure(kOriginalName, "the record holds no further part");
  return kOriginalFailed;
}

}  // namespace

void SetOriginalSizeLimit(int maxAttachKB) { gFolderLimitKB = maxAttachKB; }

int TakeOriginal(HostMessage *record, FILE *response) {
  const long start = ftell(response);
  if (start < 0) return kOriginalNone;
  static AttachmentElement a;
  const int found = FindOriginalElement(response, &a);
  if (fseek(response, start, SEEK_SET) != 0) {
    SetAttachmentFailure(kOriginalName, "cannot read the item's answer again");
    return kOriginalFailed;
  }
  if (!found) return kOriginalNone;
  DebugLog("debug: original message size=%" PRId64 ", id=%s", a.size, a.id);
  if (a.size > OriginalLimitBytes()) return LeaveOriginal(a.size);
  return FetchOriginal(record, a);
}

void SkipAttachment(FILE *response) {
  static AttachmentElement a;
  ReadAttachmentElement(response, &a);
}
