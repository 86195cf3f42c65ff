// WriteMsg: dispatch by item kind and the mail createItemRequest; the shared
// body, attachment and date pieces of the item writers.
#include "transport/answer_store.h"
#include "writer/mail_writer.h"

#include <algorithm>
#include <cinttypes>
#include <memory>
#include <vector>
#include <cstring>
#include <string>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "transport/part_files.h"
#include "transport/response_scanner.h"
#include "writer/appointment_writer.h"
#include "writer/base64_writer.h"
#include "writer/task_writer.h"
#include "writer/contact_writer.h"
#include "writer/write_session.h"
#include "writer/xml_text.h"

namespace {

enum {
  kDateTextSize = 256,
  kCodeLineSize = 251,  // responses are read 250 characters a line
  kPartPathSize = 1024 + 32,
  kBase64InputBlock = 48 * 1024,  // a multiple of 3: whole groups per block
  kHolePartBytes = 256 * 1024,    // parts from this size on are encoded while sent
};

void WriteToRequest(void *context, const char *text, size_t length) {
  fwrite(text, 1, length, static_cast<FILE *>(context));
}

// The file's bytes, then the appendix, base64-encoded onto the request in
// blocks; small files get small buffers (a mail body should not cost a
// 100 KB allocation per item). Returns 0 when reading the file failed.
int EncodeFileAndAppendix(FILE *file, int64_t totalBytes, const char *appendix, FILE *request) {
  size_t blockSize = kBase64InputBlock;
  if (totalBytes < static_cast<int64_t>(blockSize)) blockSize = static_cast<size_t>(totalBytes) + 3;
  Base64Writer w;
  Base64Begin(&w, WriteToRequest, request, blockSize);
  std::vector<unsigned char> block(blockSize);
  size_t n;
  while ((n = fread(block.data(), 1, block.size(), file)) > 0) Base64Feed(&w, block.data(), n);
  if (appendix != nullptr) {
    Base64Feed(&w, reinterpret_cast<const unsigned char *>(appendix), strlen(appendix));
  }
  Base64Finish(&w);
  return ferror(file) ? 0 : 1;
}

// Opens a part file (or the part the host keeps in memory, copied into
// *kept) and gives the base64 length of its bytes plus appendix.
// *totalBytes is the part's size plus the appendix's.
FilePtr OpenPartFile(const char *path, const char *appendix, int64_t *totalBytes, std::string *kept) {
  FilePtr file = OpenPartSource(path, kept);
  int64_t size = 0;
  if (file && com_GetFileSize(path, &size) != 0) file.reset();
  if (!file) com_Log("MV Warning: part file %s could not be read", path);
  if (appendix != nullptr) size += static_cast<int64_t>(strlen(appendix));
  *totalBytes = size;
  return file;
}

// The part's bytes as base64 between head and tail; 0 when the part file
// cannot be opened or read through.
int EncodePart(const char *path, const char *appendix, const char *head, const char *tail,
               FILE *request) {
  int64_t totalBytes = 0;
  std::string kept;
  FilePtr file = OpenPartFile(path, appendix, &totalBytes, &kept);
  if (!file) return 0;
  fprintf(request, head, Base64Length(totalBytes));
  // A large part is encoded from its file while the request is sent.
  if (totalBytes >= kHolePartBytes && AddRequestHole(request, path, appendix, totalBytes)) {
    fputs(tail, request);
    return 1;
  }
  if (!EncodeFileAndAppendix(file.get(), totalBytes, appendix, request)) {
    com_Log("MV Warning: part file %s could not be read", path);
    return 0;
  }
  fputs(tail, request);
  return 1;
}

struct ContentTypeRule {
  const char *text;  // looked for anywhere in the name, case counting
  const char *contentType;
};

const ContentTypeRule kContentTypes[] = {
    {".pdf", "application/pdf"},     {".jpg", "application/jpeg"},
    {".jpeg", "application/jpeg"},   {".doc", "application/msword"},
    {".xls", "application/ms-excel"}, {".zip", "application/zip"},
};

const char kDefaultContentType[] = "application/octet-stream";
const char kHtmlContentType[] = "text/html";
const char kHtmlPartName[] = "text.htm";

// ---- the mail request ----

const char kMailItemStart[] =
    "<m:%s>\n<item type=\"Mail\">\n<container>%s</container>\n<delivered>%s</delivered>\n"
    "<source>%s</source>\n<created>%s</created>\n<subject>%s</subject>\n";
const char kMailStatus[] = "<status>\n<read>%d</read>\n</status>\n";
const char kMailFrom[] =
    "<distribution>\n<from>\n<displayName>%s</displayName>\n<email>%s</email>\n</from>\n";
const char kMailToLine[] = "<to>%s</to>\n";
const char kRecipientsStart[] = "<recipients>\n";
const char kRecipient[] = "<recipient>\n<displayName>%s</displayName>\n<email>%s</email>\n";
const char kDistTypeTo[] = "<distType>TO</distType>\n";
const char kDistTypeCc[] = "<distType>CC</distType>\n";
const char kRecipientEnd[] = "</recipient>\n";
const char kRecipientsEnd[] = "</recipients>\n</distribution>\n";
const char kMailOptions[] = "<options>\n<priority>%s</priority>\n</options>\n";
const char kMailItemEnd[] = "</item>\n</m:%s>\n";
const char kUnknownRecipient[] = "Unknown recipient";
const char kCreateItem[] = "createItemRequest";

int RecipientCount(const HostMessage *record) {
  int count = record->recipCount;
  if (count < 0) return 0;
  return count > kMaxRecipients ? kMaxRecipients : count;
}

int PartCount(const HostMessage *record) {
  int count = record->partCount;
  if (count < 0) return 0;
  return count > kMaxParts ? kMaxParts : count;
}

const char *PriorityWord(int importance) {
  if (importance == 2) return "High";
  if (importance == 0) return "Low";
  return "Standard";
}

void WriteDistribution(const HostMessage *record, FILE *request) {
  fprintf(request, kMailFrom, EscapeXml(record->fromName, sizeof record->fromName).c_str(),
          EscapeXml(record->fromAddress, sizeof record->fromAddress).c_str());
  // The last To recipient names the to-line.
  const char *toLine = kUnknownRecipient;
  size_t toLineSize = sizeof kUnknownRecipient;
  const int count = RecipientCount(record);
  for (int i = 0; i < count; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r != nullptr && r->kind == kRecipTo) {
      toLine = r->name;
      toLineSize = sizeof r->name;
    }
  }
  fprintf(request, kMailToLine, EscapeXml(toLine, toLineSize).c_str());
  fputs(kRecipientsStart, request);
  for (int i = 0; i < count; ++i) {
    const HostRecipient *r = record->recips[i];
    if (r == nullptr || (r->kind != kRecipTo && r->kind != kRecipCc)) continue;
    fprintf(request, kRecipient, EscapeXml(r->name, sizeof r->name).c_str(),
            EscapeXml(r->address, sizeof r->address).c_str());
    fputs(r->kind == kRecipTo ? kDistTypeTo : kDistTypeCc, request);
    fputs(kRecipientEnd, request);
  }
  fputs(kRecipientsEnd, request);
}

struct MailRequest {
  HostMessage *record;
  const char *partDirectory;
};

int WriteMailBody(FILE *request, void *context) {
  const MailRequest *mail = static_cast<const MailRequest *>(context);
  HostMessage *record = mail->record;
  char date[kDateTextSize];
  FormatGWDate(record->sentTime, date, sizeof date);
  fprintf(request, kMailItemStart, kCreateItem, gSession.targetContainer, date, "received", date,
          EscapeXml(record->subject, sizeof record->subject).c_str());
  fprintf(request, kMailStatus, record->unread == 0 ? 1 : 0);
  WriteDistribution(record, request);
  // Mail carries no attendee list: the body goes as the host gave it.
  if (!WriteTextBody(record, request)) return kBodyPartUnreadable;
  if (!WriteAttachments(record, request, mail->partDirectory)) return kBodyPartUnreadable;
  fprintf(request, kMailOptions, PriorityWord(record->importance));
  fprintf(request, kMailItemEnd, kCreateItem);
  return 1;
}

// The item's name in warnings and failure reports.
std::string ItemLabel(const HostMessage *record) {
  const char *label = record->subject[0] != '\0' ? record->subject : record->title;
  size_t size = record->subject[0] != '\0' ? sizeof record->subject : sizeof record->title;
  return std::string(label, strnlen(label, size));
}

int WriteMail(HostMessage *record, void *, const char *partDirectory) {
  MailRequest mail = {record, partDirectory != nullptr ? partDirectory : ""};
  std::string subject(record->subject, strnlen(record->subject, sizeof record->subject));
  SubmitCreateItem(kWriterMail, WriteMailBody, &mail, subject.c_str(), nullptr);
  return 0;
}

// ---- dispatch by item kind ----

typedef int (*ItemWriterFn)(HostMessage *record, void *a2, const char *partDirectory);

struct ItemWriterEntry {
  int32_t itemKind;
  const char *noun;
  ItemWriterFn writer;
};

const ItemWriterEntry kItemWriters[] = {
    {kItemContact, "contact", CreateContact},
    {kItemAppointment, "appointment", CreateAppointment},
    {kItemTask, "task", CreateTask},
};

// An item that cannot be written fails visibly: logged and reported.
void RefuseItem(const HostMessage *record, const char *noun, const char *reason) {
  std::string label = ItemLabel(record);
  com_Log("MV Warning: %s %s not written: %s", noun, label.c_str(), reason);
  ReportWriteFailure(label.c_str(), reason);
}

}  // namespace


void FormatGWDate(FILETIME date, char *out, size_t cap) {
  SYSTEMTIME st = {1601, 1, 1, 1, 0, 0, 0, 0};
  FileTimeToSystemTime(&date, &st);
  FormatText(out, cap, "%d-%02d-%02dT%02d:%02d:%02dZ", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
}

int WriteTextBody(const HostMessage *record, FILE *request, const char *appendix) {
  const int count = PartCount(record);
  int index = -1;
  for (int i = 0; i < count && index < 0; ++i) {
    if (record->parts[i] != nullptr && record->parts[i]->kind == kPartTextBody) index = i;
  }
  if (index < 0) return 1;
  char path[kPartPathSize];
  FormatPartFileName(path, sizeof path, gSession.workDir, record->msgSeq, index);
  return EncodePart(path, appendix,
                    "<message>\n<part contentType=\"text/plain\" length=\"%" PRId64 "\">\n",
                    "\n</part>\n</message>\n", request);
}

int WriteBase64File(const char *partPath, FILE *request, const char *appendix) {
  return EncodePart(partPath, appendix, "<size>%" PRId64 "</size>\n<data>\n", "\n</data>\n",
                    request);
}

const char *ContentTypeFor(const char *partName) {
  const char *type = kDefaultContentType;
  for (const ContentTypeRule &rule : kContentTypes) {
    if (com_FindText(partName, rule.text, 0) != nullptr) type = rule.contentType;
  }
  return type;
}

int WriteAttachments(HostMessage *record, FILE *request, const char *partDirectory,
                      const char *htmlAppendix) {
  const int count = PartCount(record);
  int written = 0;
  for (int i = 0; i < count; ++i) {
    HostPart *part = record->parts[i];
    if (part == nullptr) continue;
    const char *contentType;
    if (part->kind == kPartFile) {
      contentType = ContentTypeFor(part->name);
    } else if (part->kind == kPartHtmlBody) {
      contentType = kHtmlContentType;
      CopyText(part->name, sizeof part->name, kHtmlPartName);
    } else {
      continue;
    }
    if (written++ == 0) fputs("<attachments>\n", request);
    fprintf(request, "<attachment>\n<name>%s</name>\n<contentType>%s</contentType>\n",
            EscapeXml(part->name, sizeof part->name).c_str(), contentType);
    const int html = EqualsNoCase(contentType, kHtmlContentType);
    if (html) fputs("<hidden>1</hidden>\n", request);
    char path[kPartPathSize];
    FormatPartFileName(path, sizeof path, partDirectory, record->msgSeq, i);
    if (!WriteBase64File(path, request, html ? htmlAppendix : nullptr)) return 0;
    fputs("</attachment>\n", request);
  }
  if (written > 0) fputs("</attachments>\n", request);
  return 1;
}

int ReadResponseCode(const char *responsePath) {
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return 1;
  char line[kCodeLineSize];
  while (ReadResponseLine(line, sizeof line, file.get())) {
    if (!EqualsNoCase(line, "<gwt:code>")) continue;
    if (!ReadResponseLine(line, sizeof line, file.get())) return 0;
    return ParseLeadingInt(line);
  }
  return 0;
}

extern "C" {

MV_EXPORT int MV_CALL WriteMsg(HostMessage *record, void *a2, const char *partDirectory, void *) {
  if (record == nullptr || record->itemKind == kItemSkip) return 0;
  const ItemWriterEntry *entry = nullptr;
  for (const ItemWriterEntry &e : kItemWriters) {
    if (e.itemKind == record->itemKind) entry = &e;
  }
  const char *noun = entry != nullptr ? entry->noun : "mail";
  if (gSession.targetContainer[0] == '\0') {
    RefuseItem(record, noun, "no target folder");
    return 0;
  }
  if (entry == nullptr) return WriteMail(record, a2, partDirectory);
  return entry->writer(record, a2, partDirectory);
}

}  // extern "C"
