// InitWrite and CloseWrite, the reader of create responses, and the
// submission procedure shared by every item writer.
#include "transport/answer_store.h"
#include "writer/write_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/memory_stream.h"
#include "plugin/host_message.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "transport/http_transfer.h"
#include "transport/part_files.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"
#include "writer/base64_writer.h"
#include "writer/mail_writer.h"
#include "writer/xml_text.h"

namespace {

enum {
  kCreateLineSize = 251,  // create responses are read 250 characters a line
  kPathSize = kDirSize + 64,
  kReasonSize = 256,
};

const char kCreateRequestName[] = "createItemRequest";

// How a writer decides that the server created its item.
enum SuccessTest {
  kHttpAndResponseCode,  // HTTP 200 and <gwt:code> 0 in the response file
  kHttpAndGWSError,      // HTTP 200 and gGWSError 0
  kHttpOnly,             // HTTP 200
};

struct CreateWriterInfo {
  const char *requestFile;
  const char *responseFile;
  int32_t RunSettings::*debugSwitch;
  int32_t RunSettings::*otherDebugSwitch;  // null, or a second switch that also applies
  const char *responseCopy;                // debug copy names, numbered
  const char *requestCopy;
  const char *noun;  // in the debug lines "copied create <noun> response to"
  SuccessTest success;
  const char *warning;   // with the item name, the HTTP status and (warningHasCode) the code
  int warningHasCode;
  int deletesFiles;      // the member writer reads its response afterwards
};

const CreateWriterInfo kCreateWriters[kWriterCount] = {
    {"soapreq5.tmp", "crmail.xml", &RunSettings::mailDebug, nullptr, "crmail_out%d.xml",
     "crmail_in%d.xml", "mail", kHttpAndResponseCode,
     "MV Warning: failed to create mail, subject %s, HTTP response=%d, code=%d", 1, 1},
    {"soapreq3.tmp", "crcal.xml", &RunSettings::calDebug, nullptr, "crcal_out%d.xml",
     "crcal_in%d.xml", "calendar", kHttpAndGWSError,
     "MV Warning: failed to create calendar entry, event=%s, HTTP response=%d, GWS Error=%d", 1,
     1},
    {"soapreq2.tmp", "crcontact.xml", &RunSettings::conDebug, nullptr, "crcont_out%d.xml",
     "crcont_in%d.xml", "contact", kHttpAndResponseCode,
     "MV Warning: failed to create contact, name=%s, HTTP response=%d", 0, 1},
    {"soapreq1.tmp", "crmember.xml", &RunSettings::conDebug, nullptr, "crmember_out%d.xml",
     "crmember_in%d.xml", "member", kHttpAndResponseCode,
     "MV Warning: failed to create member, name=%s, HTTP response=%d", 0, 0},
    {"soapreq4.tmp", "crtask.xml", &RunSettings::conDebug, &RunSettings::calDebug,
     "crtask_out%d.xml", "crtask_in%d.xml", "task", kHttpAndGWSError,
     "MV Warning: failed to create task, name=%s, HTTP response=%d", 0, 1},
};

// Each writer numbers its debug copies on its own, from 0 at load.
int gCreateDebugCounters[kWriterCount];

std::string WorkFile(const char *name) { return std::string(gSession.workDir) + name; }

int DebugSwitchSet(const CreateWriterInfo &info) {
  if (gRunSettings.*info.debugSwitch) return 1;
  return info.otherDebugSwitch != nullptr && gRunSettings.*info.otherDebugSwitch;
}

enum : size_t {
  kRequestMemoryLimit = 1024 * 1024,
  kHoleReadBlock = 48 * 1024,  // a multiple of 3: whole groups per block
};

// A large part's place in the request: its base64 text is not written
// into the stream but made from the part file as the request is read.
struct RequestHole {
  int64_t offset = 0;      // in the stream, where the text belongs
  std::string path;        // the part file
  std::string appendix;    // encoded after the file's bytes
  int64_t fileBytes = 0;   // the file's size when the hole was made
  int64_t textLength = 0;  // characters of base64 text
};

// The request body of a create: in memory while it is small, moving into
// the request file when it grows past the limit, so that most items cost no
// file; a large part is a hole in it, filled as it is sent. Where the
// platform has no such stream, or with /CALTEST (which lets a person look
// at the file), it is the file, every part's text written into it.
struct RequestBody {
  std::string path;
  FilePtr stream;
  int inFile = 0;  // the bytes are in the file at path
  int64_t length = 0;        // of the whole request, holes filled
  int64_t streamLength = 0;  // of the stream
  std::vector<RequestHole> holes;
  int *left = nullptr;  // the writer's gRequestFileLeft
};

// The request being written that takes holes; null while none does.
RequestBody *gHoleRequest;

// Reads a request whole, its holes filled: for the post (through
// PostSource), for a debug copy and for the file left after a failure.
struct RequestReader {
  RequestBody *body = nullptr;
  int64_t streamAt = 0;      // next byte of the stream
  size_t hole = 0;           // next hole, or the one being read
  int inHole = 0;
  FilePtr part;
  std::string kept;  // the part's bytes when the host keeps it in memory
  int partDone = 0;
  int64_t partBytes = 0;     // read from the part file
  int64_t holeGiven = 0;     // text made for the hole
  Base64Writer encoder;
  std::string pending;       // text made, not yet handed out
  size_t pendingAt = 0;
  std::vector<unsigned char> block;
  int failed = 0;
};

void CollectText(void *context, const char *text, size_t length) {
  RequestReader *r = static_cast<RequestReader *>(context);
  r->pending.append(text, length);
  r->holeGiven += static_cast<int64_t>(length);
}

int RewindReader(RequestReader *r) {
  r->streamAt = 0;
  r->hole = 0;
  r->inHole = 0;
  r->part.reset();
  r->pending.clear();
  r->pendingAt = 0;
  r->failed = 0;
  return fseek(r->body->stream.get(), 0, SEEK_SET) == 0;
}

// The next block of the hole's text; at the part's end, the appendix and
// the padding. A part file that changed size since the hole was made
// fails the read: the request's length was declared with the old size.
void FillFromPart(RequestReader *r) {
  const RequestHole &hole = r->body->holes[r->hole];
  if (!r->part) {
    r->part = OpenPartSource(hole.path.c_str(), &r->kept);
    if (!r->part) {
      com_Log("MV Warning: part file %s could not be read", hole.path.c_str());
      r->failed = 1;
      return;
    }
    r->partBytes = 0;
    r->holeGiven = 0;
    r->block.resize(kHoleReadBlock);
    Base64Begin(&r->encoder, CollectText, r, r->block.size());
  }
  const size_t n = fread(r->block.data(), 1, r->block.size(), r->part.get());
  r->partBytes += static_cast<int64_t>(n);
  if (n > 0 && r->partBytes <= hole.fileBytes) {
    Base64Feed(&r->encoder, r->block.data(), n);
    return;
  }
  if (n > 0 || ferror(r->part.get()) || r->partBytes != hole.fileBytes) {
    com_Log("MV Warning: part file %s changed while it was sent", hole.path.c_str());
    r->failed = 1;
    return;
  }
  Base64Feed(&r->encoder, reinterpret_cast<const unsigned char *>(hole.appendix.data()), hole.appendix.size());
  Base64Finish(&r->encoder);
  r->partDone = 1;
}

size_t ReadRequest(RequestReader *r, char *out, size_t room) {
  RequestBody *body = r->body;
  size_t given = 0;
  while (given < room && !r->failed) {
    if (r->pendingAt < r->pending.size()) {
      const size_t n = std::min(room - given, r->pending.size() - r->pendingAt);
      memcpy(out + given, r->pending.data() + r->pendingAt, n);
      r->pendingAt += n;
      given += n;
      continue;
    }
    r->pending.clear();
    r->pendingAt = 0;
    if (r->inHole) {
      if (!r->partDone) {
        FillFromPart(r);
        continue;
      }
      if (r->holeGiven != body->holes[r->hole].textLength) {
        r->failed = 1;
        break;
      }
      r->inHole = 0;
      r->part.reset();
      ++r->hole;
      continue;
    }
    const int64_t segmentEnd = r->hole < body->holes.size() ? body->holes[r->hole].offset : body->streamLength;
    if (r->streamAt < segmentEnd) {
      const int64_t left = segmentEnd - r->streamAt;
      const size_t want = left < static_cast<int64_t>(room - given) ? static_cast<size_t>(left) : room - given;
      const size_t n = fread(out + given, 1, want, body->stream.get());
      if (n == 0) {
        r->failed = 1;
        break;
      }
      r->streamAt += static_cast<int64_t>(n);
      given += n;
      continue;
    }
    if (r->hole >= body->holes.size()) break;  // the end
    r->inHole = 1;
    r->partDone = 0;
    r->part.reset();
  }
  return given;
}

size_t ReadForPost(void *context, char *out, size_t room, int *failed) {
  RequestReader *r = static_cast<RequestReader *>(context);
  const size_t n = ReadRequest(r, out, room);
  *failed = r->failed;
  return n;
}

int RewindForPost(void *context) { return RewindReader(static_cast<RequestReader *>(context)); }



// Set while a writer's request file is left after a failure: the next body
// kept in memory deletes it, as writing the file afresh did.
int gRequestFileLeft[kWriterCount];

int OpenRequestBody(CreateWriterKind writer, const std::string &path, RequestBody *body) {
  body->path = path;
  body->left = &gRequestFileLeft[writer];
  if (!gRunSettings.calTest)
    body->stream.reset(OpenSpillingStream(path.c_str(), kRequestMemoryLimit, &body->inFile));
  if (!body->stream) {
    body->stream = CreateFileFresh(path.c_str(), "w");
    body->inFile = 1;
  }
  return body->stream != nullptr;
}

// Copies the body, holes filled, into a file (a debug copy, or the request
// file itself when the body is still in memory). Returns 0 when that fails.
int CopyRequestBody(RequestBody *body, const char *to) {
  FilePtr out = CreateFileFresh(to, "wb");
  RequestReader reader;
  reader.body = body;
  if (!out || !RewindReader(&reader)) return 0;
  std::vector<char> block(65536);
  size_t n;
  while ((n = ReadRequest(&reader, block.data(), block.size())) > 0) {
    if (fwrite(block.data(), 1, n, out.get()) != n) return 0;
  }
  return !reader.failed && !ferror(body->stream.get()) && fclose(out.release()) == 0;
}

// The request file for a look at it after a failure, or for a writer that
// keeps it: the whole request, also when its stream holds less.
void LeaveRequestFile(RequestBody *body) {
  *body->left = 1;
  if (!body->stream || (body->inFile && body->holes.empty())) return;
  const std::string whole = body->inFile ? body->path + ".whole" : body->path;
  if (!CopyRequestBody(body, whole.c_str())) return;
  if (body->inFile) {
    body->stream.reset();
    if (rename(whole.c_str(), body->path.c_str()) != 0) remove(whole.c_str());
  }
  body->inFile = 1;
}

// Drops the body and its file, and a file an earlier body left.
void DropRequestBody(RequestBody *body) {
  body->stream.reset();
  if (body->inFile || *body->left) remove(body->path.c_str());
  *body->left = 0;
}

// Copies the response and the request into the debug folder as number N.
void KeepCreateDebugCopies(const CreateWriterInfo &info, int *counter, RequestBody *request,
                           const std::string &responsePath) {
  char name[64], copy[kPathSize + 64];
  FormatText(name, sizeof name, info.responseCopy, *counter);
  FormatDebugPath(copy, sizeof copy, name);
  CopyAnswer(responsePath.c_str(), copy);
  DebugLog("debug: copied create %s response to %s", info.noun, copy);
  FormatText(name, sizeof name, info.requestCopy, *counter);
  FormatDebugPath(copy, sizeof copy, name);
  CopyRequestBody(request, copy);
  DebugLog("debug: copied create %s input to %s", info.noun, copy);
  ++*counter;
}

// Writes the request body; 1 when it holds the whole body, else 0 or
// kBodyPartUnreadable. The stream is left at its start, its length noted.
int WriteRequestBody(RequestBody *body, CreateBodyFn writeBody, void *context) {
  if (!body->stream) return 0;
  FILE *f = body->stream.get();
  // Holes only in a stream sent as its bytes (not a text-mode file).
  gHoleRequest = body->inFile ? nullptr : body;
  int written = writeBody(f, context);
  gHoleRequest = nullptr;
  if (written == 1 && (fflush(f) != 0 || ferror(f))) written = 0;
  if (written != 1) return written;
  int64_t holeText = 0;
  for (const RequestHole &hole : body->holes) holeText += hole.textLength;
  if (!body->inFile || !body->holes.empty()) {
    const off_t end = ftello(f);
    if (end < 0 || fseek(f, 0, SEEK_SET) != 0) return 0;
    body->streamLength = end;
    body->length = end + holeText;
    return 1;
  }
  // Written as text (line ends as the platform writes them), sent as the
  // bytes of the file.
  const int closed = fclose(body->stream.release());
  body->stream = OpenFile(body->path.c_str(), "rb");
  if (closed != 0 || !body->stream || com_GetFileSize(body->path.c_str(), &body->length) != 0) return 0;
  return 1;
}

// Posts the request: its stream as it is, or, with holes, read through a
// RequestReader that fills them.
int PostRequest(RequestBody *request, const std::string &responsePath) {
  if (request->holes.empty())
    return SoapCallStream(request->stream.get(), request->length, kCreateRequestName, responsePath.c_str());
  RequestReader reader;
  reader.body = request;
  const PostSource source = {&reader, ReadForPost, RewindForPost};
  return SoapCallSource(&source, request->length, kCreateRequestName, responsePath.c_str());
}

void ReportNotSent(const char *itemName, const std::string &requestPath) {
  com_Log("MV Warning: item %s not written: request file %s could not be written or read",
          itemName, requestPath.c_str());
  ReportWriteFailure(itemName, "request file could not be written");
}

}  // namespace

int AddRequestHole(FILE *request, const char *path, const char *appendix, int64_t totalBytes) {
  RequestBody *body = gHoleRequest;
  if (body == nullptr || request != body->stream.get() || body->holes.size() >= kMaxParts) return 0;
  const off_t at = ftello(request);
  if (at < 0) return 0;
  RequestHole hole;
  hole.offset = at;
  hole.path = path;
  if (appendix != nullptr) hole.appendix = appendix;
  hole.fileBytes = totalBytes - static_cast<int64_t>(hole.appendix.size());
  hole.textLength = Base64Length(totalBytes);
  body->holes.push_back(hole);
  return 1;
}

int gWritingMember = 0;
std::string gMemberFailure;

void ReportWriteFailure(const char *itemName, const char *reason) {
  if (gWritingMember) {
    gMemberFailure = reason != nullptr ? reason : "";
    return;
  }
  std::string text = std::string("\t") + (itemName ? itemName : "") + "\t" + (reason ? reason : "");
  com_SetExtendedError(kExtErrorItemFailed, 0, text.c_str());
}

void ResetWriteCounters() { memset(gCreateDebugCounters, 0, sizeof gCreateDebugCounters); }

std::string CreateResponsePath(CreateWriterKind writer) {
  return WorkFile(kCreateWriters[writer].responseFile);
}

int SubmitCreateItem(CreateWriterKind writer, CreateBodyFn writeBody, void *context,
                     const char *itemName, CreateOutcome *outcome) {
  const CreateWriterInfo &info = kCreateWriters[writer];
  CreateOutcome local = {0, 0};
  if (outcome == nullptr) outcome = &local;
  *outcome = local;
  if (itemName == nullptr) itemName = "";
  std::string requestPath = WorkFile(info.requestFile);
  std::string responsePath = WorkFile(info.responseFile);
  RequestBody request;
  OpenRequestBody(writer, requestPath, &request);
  const int written = WriteRequestBody(&request, writeBody, context);
  if (written == kBodyPartUnreadable) {
    DropRequestBody(&request);
    ReportWriteFailure(itemName, "a part file could not be read");
    return kCreateNotSent;
  }
  if (written != 1 || PostRequest(&request, responsePath) < 0) {
    LeaveRequestFile(&request);
    ReportNotSent(itemName, requestPath);
    return kCreateNotSent;
  }
  outcome->httpStatus = gHTTPResponse;
  outcome->code = info.success == kHttpAndResponseCode ? ReadResponseCode(responsePath.c_str())
                                                       : gGWSError;
  if (DebugSwitchSet(info)) {
    KeepCreateDebugCopies(info, &gCreateDebugCounters[writer], &request, responsePath);
  }
  // An HTML page, a cut answer or a Fault sent with HTTP 200 creates nothing
  // that can be told: the item fails and is sent again on the next run.
  const int usable = SoapAnswerUsable();
  int success =
      outcome->httpStatus == 200 && usable && (info.success == kHttpOnly || outcome->code == 0);
  if (success) {
    if (info.deletesFiles) {
      ForgetAnswer(responsePath.c_str());
      DropRequestBody(&request);
    } else {
      LeaveRequestFile(&request);
    }
    return kCreateDone;
  }
  LeaveRequestFile(&request);
  KeepAnswerFile(responsePath.c_str());  // left beside the request for a look
  // The server may have made the item: a host with a journal asks it before
  // writing the item again. A member's doubt is the contact writer's.
  if (PostMayHaveActed() && !gWritingMember) com_SetExtendedError(kExtNoticeItemInDoubt, 0, itemName);
  char reason[kReasonSize];
  if (outcome->httpStatus == 200 && !usable) {
    com_Log("MV Warning: failed to create %s %s, %s", info.noun, itemName, SoapAnswerProblem());
    CopyText(reason, sizeof reason, SoapAnswerProblem());
    ReportWriteFailure(itemName, reason);
    return kCreateFailed;
  }
  if (info.warningHasCode) {
    com_Log(info.warning, itemName, outcome->httpStatus, outcome->code);
  } else {
    com_Log(info.warning, itemName, outcome->httpStatus);
  }
  FormatText(reason, sizeof reason, "HTTP response=%d, code=%d", outcome->httpStatus,
             outcome->code);
  ReportWriteFailure(itemName, reason);
  return kCreateFailed;
}

int ReadCreateResponse(const char *responsePath, char *id, size_t idCap) {
  if (id != nullptr && idCap > 0) id[0] = '\0';
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return 0;
  char idText[kCreateLineSize] = "", codeText[kCreateLineSize] = "";
  int idSeen = 0, codeSeen = 0;
  // The server sends the code as <gwt:code> inside <gwm:status>; <gwm:code>
  // is read as well.
  const TagField fields[] = {
      {"<gwm:id>", kTagNoCase, idText, sizeof idText, -1, &idSeen},
      {"<gwm:code>", kTagNoCase, codeText, sizeof codeText, -1, &codeSeen},
      {"<gwt:code>", kTagNoCase, codeText, sizeof codeText, -1, &codeSeen},
  };
  char line[kCreateLineSize];
  while (ReadResponseLine(line, sizeof line, file.get())) {
    ScanTagTable(line, sizeof line, fields, 3, file.get());
  }
  if (idSeen && id != nullptr) CopyText(id, idCap, idText);
  return codeSeen ? ParseLeadingInt(codeText) : 0;
}

// ---- InitWrite ----

namespace {

// Body of the request that creates one folder level: parent id, new name.
const char kCreateFolderRequest[] =
    "<m:createItemRequest>\n<item type=\"Folder\">\n<parent>%s</parent>\n<name>%s</name>\n"
    "</item>\n</m:createItemRequest>\n";

// The target container is emptied whenever InitWrite cannot settle it, so
// that the items of this folder fail visibly instead of going into the
// folder of the previous InitWrite.
void ClearTarget(const char *folderName) {
  gSession.targetContainer[0] = '\0';
  com_Log("MV Warning: no target folder for %s, its items will not be written", folderName);
}

void SetTarget(const char *id) {
  CopyText(gSession.targetContainer, sizeof gSession.targetContainer, id);
}

const FolderRecord *FindFolderByPath(const std::string &path) {
  for (int i = 0; i < gFolderTable.count; ++i) {
    const FolderRecord *record = gFolderTable.records[i];
    if (record != nullptr && path == record->path) return record;
  }
  return nullptr;
}

// Mail never goes into a calendar, task list or address book that happens to
// bear the mail folder's name (exports from other servers have mail folders
// called "Calendar" or "Contacts"): such a level becomes "<name> (mail)"
// beside it.
const char kMailBesideSuffix[] = " (mail)";

// The record of path when it is a mail folder.
const FolderRecord *FindMailFolder(const std::string &path) {
  const FolderRecord *record = FindFolderByPath(path);
  return record != nullptr && record->folderClass == kFolderClassMail ? record : nullptr;
}

// The well-known names, for a path of one level only.
void MapWellKnownName(std::string *path) {
  if (EqualsNoCase(path->c_str(), "Sent") || EqualsNoCase(path->c_str(), "Sent Mail")) {
    *path = "Sent Items";
  } else if (EqualsNoCase(path->c_str(), "Inbox")) {
    *path = "Mailbox";
  }
}

// The name a new level is created with: escaped, path separators made "-".
std::string NewFolderName(const std::string &level) {
  std::string name = EscapeXml(level.c_str(), level.size());
  for (char &c : name) {
    if (c == '/' || c == '\\') c = '-';
  }
  return name;
}

// Creates the folder `name` (escaped) for the path prefix under *parentId;
// on success *parentId holds the new id and the folder is in the table.
// Returns 0 (logged, target container settled as the failure requires)
// when the server did not create it.
int CreateFolderLevel(const std::string &name, const std::string &prefix, int *copyNumber,
                      std::string *parentId, const char *folderName) {
  std::string body = FormatString(kCreateFolderRequest, parentId->c_str(), name.c_str());
  std::string responsePath = WorkFile("crfolder.xml");
  SoapCall(body.c_str(), kCreateRequestName, responsePath.c_str());
  if (gRunSettings.mailDebug) {
    char copyName[64], copy[kPathSize + 64];
    FormatText(copyName, sizeof copyName, "crfolder%d.xml", (*copyNumber)++);
    FormatDebugPath(copy, sizeof copy, copyName);
    CopyAnswer(responsePath.c_str(), copy);
    DebugLog("debug: copied create folder response to %s", copy);
  }
  if (gHTTPResponse != 200) {
    com_Log("MV Error: failed to create folder %s, HTTP response=%d", name.c_str(), gHTTPResponse);
    ClearTarget(folderName);
    return 0;
  }
  if (!SoapAnswerUsable()) {
    com_Log("MV Error: failed to create folder %s, %s", name.c_str(), SoapAnswerProblem());
    ClearTarget(folderName);
    return 0;
  }
  std::string keptParent = *parentId;
  char newId[kCreateLineSize];
  int code = ReadCreateResponse(responsePath.c_str(), newId, sizeof newId);
  if (code != 0) {
    com_Log("MV Warning: unable to create folder %s, code=%d", name.c_str(), code);
    SetTarget(newId);
    if (newId[0] == '\0') ClearTarget(folderName);
    return 0;
  }
  if (newId[0] == '\0') {
    com_Log("MV Warning: unable to create folder %s, the answer carried no id", name.c_str());
    ClearTarget(folderName);
    return 0;
  }
  AddFolderRecord(0, newId, keptParent.c_str(), prefix.c_str(), kFolderClassMail, 1);
  *parentId = newId;
  return 1;
}

// Finds or creates every level of path below the root folder.
void CreateMissingLevels(const std::string &path, const char *folderName) {
  std::string parentId = gRootFolderId;
  std::string prefix;
  int copyNumber = 0;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('^', start);
    if (end == std::string::npos) end = path.size();
    std::string level = path.substr(start, end - start);
    start = end + 1;
    if (level.empty()) continue;
    const FolderRecord *existing = FindFolderByPath(prefix + level);
    if (existing != nullptr && existing->folderClass != kFolderClassMail) {
      com_Log("MV Info: %s%s is not a mail folder, mail goes to %s%s beside it", prefix.c_str(),
              level.c_str(), level.c_str(), kMailBesideSuffix);
      level += kMailBesideSuffix;
      existing = FindMailFolder(prefix + level);
    }
    prefix += level;
    DebugLog("debug: Creating folder %s", prefix.c_str());
    if (existing != nullptr) {
      parentId = existing->id;
    } else if (!CreateFolderLevel(NewFolderName(level), prefix, &copyNumber, &parentId,
                                  folderName)) {
      return;
    }
    prefix += "^";
  }
  SetTarget(parentId.c_str());
}

void InitWriteMailFolder(const HostMessage *record, const char *folderName) {
  const char *groupFolder = record != nullptr ? record->groupFolder : "";
  DebugLog("debug: at GWS InitWrite, FolderName=%s, GroupFolder=%s, Folder Type=%d", folderName,
           groupFolder, kFolderClassMail);
  if (gRootFolderId[0] == '\0') {
    com_Log("MV Warning: no root folder found");
    ClearTarget(folderName);
    return;
  }
  std::string path = folderName;
  if (groupFolder[0] != '\0' && strcmp(groupFolder, "root") != 0) {
    path = std::string(groupFolder) + "^" + folderName;
  }
  MapWellKnownName(&path);
  const FolderRecord *found = FindMailFolder(path);
  if (found != nullptr) {
    SetTarget(found->id);
    DebugLog("debug: found existing folder, id=%s", found->id);
    return;
  }
  CreateMissingLevels(path, folderName);
}

// Contacts, calendar and tasks go into an existing folder of their class.
struct ClassFolderChoice {
  int folderClass;
  char (RunSettings::*configuredName)[kSettingTextSize];
  const char *firstLine;
  const char *notFound;
};

const ClassFolderChoice kClassFolders[] = {
    {kFolderClassAddressBook, &RunSettings::gwcf, "debug: Writing to GW contact folder %s",
     "MV Info: contact folder not found, using %s"},
    {kFolderClassTaskList, &RunSettings::gwtf, "debug: Writing to GW task folder %s",
     "MV Info: task folder not found, using %s"},
    {kFolderClassCalendar, &RunSettings::gwcaf, "debug: Writing to GW calendar folder %s",
     "MV Info: calendar folder not found, using %s"},
};

void InitWriteClassFolder(const ClassFolderChoice &choice, const char *folderName) {
  const char *configured = gRunSettings.*choice.configuredName;
  com_Log(choice.firstLine, configured);
  const FolderRecord *first = nullptr;
  for (int i = 0; i < gFolderTable.count; ++i) {
    const FolderRecord *record = gFolderTable.records[i];
    if (record == nullptr || record->folderClass != choice.folderClass) continue;
    if (EqualsNoCase(record->name, configured)) {
      SetTarget(record->id);
      return;
    }
    if (first == nullptr) first = record;
  }
  if (first == nullptr) {
    ClearTarget(folderName);
    return;
  }
  SetTarget(first->id);
  com_Log(choice.notFound, first->name);
}

}  // namespace

extern "C" {

MV_EXPORT int MV_CALL InitWrite(HostMessage *record, const char *folderName, void *,
                                int folderClass) {
  if (folderName == nullptr) folderName = "";
  if (folderClass == kFolderClassMail) {
    InitWriteMailFolder(record, folderName);
    return 0;
  }
  for (const ClassFolderChoice &choice : kClassFolders) {
    if (choice.folderClass == folderClass) {
      InitWriteClassFolder(choice, folderName);
      return 0;
    }
  }
  com_Log("MV Warning: unknown folder class %d for %s", folderClass, folderName);
  ClearTarget(folderName);
  return 0;
}

MV_EXPORT int MV_CALL CloseWrite(int folderClass) {
  DebugLog("debug: at GWS CloseWrite, FolderType=%d", folderClass);
  return 0;
}

}  // extern "C"
