// ParseMailItem: the saved getItemResponse of one mail item into the host's
// record: subject, sender, recipients, dates, flags, categories, message id,
// body parts and attachments.
#include "reader/mail_parser.h"

#include <cstdio>
#include <cstring>

#include "folders/category_table.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/address_reading.h"
#include "reader/attachments.h"
#include "reader/lost_attachment.h"
#include "reader/original_message.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"

namespace {

enum {
  kItemLineSize = 10000,
  kValueLineSize = 2000,  // element values are read with this bound
  kSubjectChars = 256,
  kViewNameSize = 256,
  kViewNameChars = 250,
  kMessageIdChars = 125,
  kLsubLineSize = 1024,
  kPathSize = kDirSize + 64,
};

const char kPlaceholderText[] = "This message, of type \"%s\", does not have any text.\n";

// Reads the value line of the element whose tag was just read; "" for an
// empty element and at the end of the file.
void ReadValue(char *line, FILE *file) { ReadElementValue(line, kValueLineSize, file); }

// Reads past a threading block; the line left is its end tag (or the last).
void SkipThreading(char *line, FILE *file) {
  while (!EqualsNoCase(line, "</gwt:threading>")) {
    if (!ReadResponseLine(line, kItemLineSize, file)) return;
  }
}

void AppendCategory(HostMessage *record, char *line, FILE *file) {
  ReadValue(line, file);
  char name[kCategoryTextSize];
  LookupCategoryName(line, name);
  AppendCategoryName(record->categories, name);
}

// The /LSUB line for the item read so far; non-zero when the host excludes it.
int LogAndAskExclusion(const HostMessage *record) {
  char date[64];
  com_DateText(record->sentTime, date);
  char text[kLsubLineSize];
  FormatText(text, sizeof text, "GWS subject=%s, sender=%s <%s>, date=%s", record->subject,
             record->fromName, record->fromAddress, date);
  com_Log("%s", text);
  return com_ExcludeSubject(text);
}

void SetImportance(HostMessage *record, const char *value) {
  if (EqualsNoCase(value, "High")) record->importance = 2;
  else if (EqualsNoCase(value, "Low")) record->importance = 0;
  else if (EqualsNoCase(value, "Standard")) record->importance = 1;
}

// The sentence that stands in for a missing text body.
void AddTextPlaceholder(HostMessage *record, const char *viewName) {
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    int kind = record->parts[i]->kind;
    if (kind == kPartTextBody || kind == kPartHtmlBody) return;
  }
  if (record->partCount >= kMaxParts) return;
  char path[kPathSize];
  FormatPartFileName(path, sizeof path, gSession.workDir, record->msgSeq, record->partCount);
  FilePtr file = OpenFile(path, "w");
  if (!file) return;
  fprintf(file.get(), kPlaceholderText, viewName);
  file.reset();
  if (!com_AllocPart(record)) {
    remove(path);
    return;
  }
  HostPart *part = record->parts[record->partCount];
  part->kind = kPartTextBody;
  CopyText(part->name, sizeof part->name, "Message.txt");
  int64_t size = 0;
  if (com_GetFileSize(path, &size) != 0) size = 0;
  part->size = static_cast<int32_t>(size);
  ++record->partCount;
}

}  // namespace

int ParseMailItem(HostMessage *record, const char *responsePath) {
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return kMailStore;
  FILE *f = file.get();
  record->unread = 1;
  // A mail without a priority element is of standard priority, not low.
  record->importance = 1;
  static char line[kItemLineSize];
  char viewName[kViewNameSize] = "";
  int attachmentsFull = 0;
  int original = kOriginalNone;
  // Most mails come with no attachment at all: their answer, kept in
  // memory, is not read through twice in search of the original.
  if (gRunSettings.mime822 && AnswerMayHold(responsePath, "<gwt:attachment")) {
    original = TakeOriginal(record, f);
    if (original == kOriginalFailed) {
      if (!ConvertWithoutOriginal(AttachmentFailureReason())) return kMailFailed;
      original = kOriginalNone;
    }
  }
  while (ReadResponseLine(line, sizeof line, f)) {
    // The threading block and a body part pass their last line on to the
    // tests after them; every other test ends the line's handling.
    if (EqualsNoCase(line, "<gwt:threading>")) SkipThreading(line, f);
    if (EqualsNoCase(line, "<gwt:category>")) {
      AppendCategory(record, line, f);
      continue;
    }
    if (EqualsNoCase(line, "<gwt:subject>")) {
      ReadValue(line, f);
      CopyTextN(record->subject, sizeof record->subject, line, kSubjectChars);
      TrimPartialUtf8(record->subject);
      continue;
    }
    if (EqualsNoCase(line, "<gwt:message>")) {
      if (gRunSettings.lsub && LogAndAskExclusion(record)) return kMailSkip;
      continue;
    }
    if (EqualsNoCase(line, "<gwt:attachment>")) {
      // The original holds every attachment already.
      if (original == kOriginalTaken) SkipAttachment(f);
      if (attachmentsFull || original == kOriginalTaken) continue;
      int result = GetAttachment(record, f);
      if (result == kAttachFailed) return kMailFailed;
      if (result == kAttachFull) attachmentsFull = 1;
      continue;
    }
    if (IsTextBodyPart(line)) {
      int rtf = com_FindText(line, "/rtf", 0) != nullptr;
      if (WriteBodyPart(record, f, line, rtf) == 2) return kMailFailed;
    }
    if (StartsWithNoCase(line, "<gwt:viewName")) {
      ReadValue(line, f);
      CopyTextN(viewName, sizeof viewName, line, kViewNameChars);
    } else if (EqualsNoCase(line, "<gwt:delivered>")) {
      ReadValue(line, f);
      ParseGWDateTime(line, &record->sentTime);
    } else if (EqualsNoCase(line, "<gwt:read>")) {
      ReadValue(line, f);
      if (strcmp(line, "1") == 0) record->unread = 0;
    } else if (EqualsNoCase(line, "<gwt:priority>")) {
      ReadValue(line, f);
      SetImportance(record, line);
    } else if (EqualsNoCase(line, "<gwt:msgId>")) {
      ReadValue(line, f);
      CopyTextN(record->messageId, sizeof record->messageId, line, kMessageIdChars);
      CopyTextN(record->messageIdCopy, sizeof record->messageIdCopy, line, kMessageIdChars);
    } else if (EqualsNoCase(line, "<gwt:from>")) {
      int status = 0;
      ParseAddress(f, record->fromName, record->fromAddress, "from", nullptr, &status);
      CleanName(record->fromName);
    } else if (EqualsNoCase(line, "<gwt:recipient>")) {
      AddRecipient(f, record);
    }
  }
  file.reset();
  AddTextPlaceholder(record, viewName);
  return kMailStore;
}
