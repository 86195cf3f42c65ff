// The fuzz targets' shared set-up: input cut into answers, one temporary
// host directory per process, and every process-wide record reset per run.
#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pugixml.hpp>

#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "host/mvcom/mvcom_host.h"
#include "host/store/item_store.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/item_fetch.h"
#include "reader/recurrence_keys.h"
#include "plugin/mv_api.h"
#include "transport/answer_store.h"
#include "transport/http_transfer.h"
#include "transport/retry_wait.h"
#include "writer/write_session.h"

namespace fuzz {

const char kAnswerSeparator[] = "\n====\n";

namespace {

struct FuzzHost {
  std::string root;  // the temporary directory, made once
  std::string dataDir, workDir, importDir;
  int hostStarted;
  std::vector<std::string> answers;  // what the server still has to say
  size_t nextAnswer;
  size_t chunk;  // the response writer's piece length this run
  std::string lastRequest;
};

FuzzHost gFuzz;

// A wait between attempts costs no time here.
void NoWait(uint32_t) {}

const char kLogName[] = "mvmigrate.log";

// Removes everything below dir (not dir itself) but the host's log, which
// stays open for appending and is emptied instead: an open file deleted
// would keep growing unseen.
void EmptyDirectory(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent *entry = readdir(d)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    std::string path = dir + entry->d_name;
    if (strcmp(entry->d_name, kLogName) == 0) {
      if (truncate(path.c_str(), 0) != 0) abort();
      continue;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      EmptyDirectory(path + "/");
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }
  closedir(d);
}

void RemoveTree() {
  if (gFuzz.root.empty()) return;
  mvcom_Shutdown();
  unlink((gFuzz.dataDir + kLogName).c_str());
  EmptyDirectory(gFuzz.root + "/");
  rmdir(gFuzz.root.c_str());
}

void MakeRoot() {
  const char *tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/mvgws-fuzz-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    perror("mkdtemp");
    abort();
  }
  gFuzz.root = name.data();
  gFuzz.dataDir = gFuzz.root + "/data/";
  gFuzz.workDir = gFuzz.root + "/work/";
  mkdir(gFuzz.dataDir.c_str(), 0700);
  mkdir(gFuzz.workDir.c_str(), 0700);
  gFuzz.importDir = gFuzz.root + "/in/";
  mkdir(gFuzz.importDir.c_str(), 0700);
  atexit(RemoveTree);
}

void ResetPlugin() {
  ForgetAllAnswers();
  FreeFolderTable();
  FreeCategoryTable();
  ClearRecurrenceKeys();
  ResetRunSettings();
  ResetWriteCounters();
  memset(&gSession, 0, sizeof gSession);
  gGWTrustedApp[0] = gGWAppKey[0] = gRootFolderId[0] = '\0';
  gHTTPResponse = gGWSError = 0;
  CopyText(gSession.workDir, sizeof gSession.workDir, gFuzz.workDir.c_str());
  CopyText(gSession.dataDir, sizeof gSession.dataDir, gFuzz.dataDir.c_str());
  CopyText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, "http://fuzz.invalid/soap");
  CopyText(gSession.sessionId, sizeof gSession.sessionId, "fuzz-session");
  CopyText(gSession.debugSubfolder, sizeof gSession.debugSubfolder, "fuzz");
  gSession.loggedOn = 1;
  SetRetryWait(NoWait);
}

// MVCOM on the temporary directory, its state in memory.
void StartHost() {
  MvcomConfig config = {};
  config.programDir = gFuzz.root.c_str();
  config.dataDir = gFuzz.dataDir.c_str();
  config.workDir = gFuzz.workDir.c_str();
  // MVGWS_FUZZ_LOG=1 shows the log on stderr, to see what a run did.
  const char *showLog = getenv("MVGWS_FUZZ_LOG");
  config.stderrLevel = showLog != nullptr && showLog[0] == '1' ? 3 : 0;
  config.statePath = ":memory:";
  if (mvcom_Init(&config) != 0) {
    fprintf(stderr, "mvcom_Init: %s\n", mvcom_LastError());
    abort();
  }
}

}  // namespace

Input SplitInput(const uint8_t *data, size_t size) {
  Input input;
  if (size == 0) return input;
  input.control = data[0];
  std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  const size_t sepLength = strlen(kAnswerSeparator);
  size_t start = 0;
  for (;;) {
    size_t at = rest.find(kAnswerSeparator, start);
    if (at == std::string::npos) {
      input.answers.push_back(rest.substr(start));
      break;
    }
    input.answers.push_back(rest.substr(start, at - start));
    start = at + sepLength;
  }
  return input;
}

size_t ChunkLength(uint8_t control) {
  static const size_t kLengths[] = {1, 2, 3, 7, 64, 1000, 16384, 0x7fffffff};
  return kLengths[control & 7];
}

void BeginRun(const Input &input, size_t firstServed, int freshState) {
  if (gFuzz.root.empty()) MakeRoot();
  EmptyDirectory(gFuzz.workDir);
  EmptyDirectory(gFuzz.importDir);
  EmptyDirectory(gFuzz.dataDir);
  if (!gFuzz.hostStarted || freshState) StartHost();
  gFuzz.hostStarted = 1;
  mvcom_SetDateRange(FILETIME{0, 0}, FILETIME{0, 0});
  ResetPlugin();
  gFuzz.answers.clear();
  for (size_t i = firstServed; i < input.answers.size(); ++i) {
    gFuzz.answers.push_back(input.answers[i]);
  }
  gFuzz.nextAnswer = 0;
  gFuzz.chunk = ChunkLength(input.control);
}

void EndRun() {
  // Whatever a run allocated is freed within it: libFuzzer scans the whole
  // heap for leaks after every run that ends with more allocations than
  // frees, which cost more than the run.
  ForgetAllAnswers();
  FreeFolderTable();
  FreeCategoryTable();
  ClearRecurrenceKeys();
  gFuzz.answers.clear();
}

namespace {

// One record block for every run: a new block per run cost more than the
// run (a large allocation and its pages touched anew each time).
struct KeptRecord {
  HostMessage *block;
  int inUse;
};

KeptRecord gKeptRecord;

}  // namespace

HostMessage *NewRecord() {
  HostMessage *record = nullptr;
  if (!gKeptRecord.inUse) {
    if (gKeptRecord.block == nullptr) {
      gKeptRecord.block = static_cast<HostMessage *>(calloc(1, sizeof(HostMessage)));
    } else {
      memset(static_cast<void *>(gKeptRecord.block), 0, sizeof(HostMessage));
    }
    record = gKeptRecord.block;
    gKeptRecord.inUse = record != nullptr;
  } else {
    record = static_cast<HostMessage *>(calloc(1, sizeof(HostMessage)));
  }
  if (record == nullptr) abort();
  record->msgSeq = 7;
  return record;
}

void FreeRecord(HostMessage *record) {
  com_Deallocate_All(record, nullptr);
  if (record == gKeptRecord.block) gKeptRecord.inUse = 0;
  else free(record);
}

int FetchItem(const char *path) {
  static const ItemFetchKind kFuzzFetch = {
      "default message attachments", {&RunSettings::mailDebug, nullptr}, "fuzzitem", "item",
      "item", kLabelId, kLabelId};
  char reason[512];
  return FetchItemAnswer(kFuzzFetch, "ITEM.1@1", 1, path, reason, sizeof reason);
}

namespace {

template <size_t N>
void CheckText(const char (&field)[N], const char *what) {
  if (memchr(field, '\0', N) == nullptr) {
    fprintf(stderr, "record field %s has no end within its %zu bytes\n", what, N);
    abort();
  }
}

}  // namespace

#define CHECK_TEXT(r, f) CheckText((r)->f, #f)

void CheckRecord(const HostMessage *r) {
  if (r->partCount < 0 || r->partCount > kMaxParts || r->recipCount < 0 ||
      r->recipCount > kMaxRecipients) {
    fprintf(stderr, "record counts out of range: %d parts, %d recipients\n", r->partCount,
            r->recipCount);
    abort();
  }
  for (int i = 0; i < r->partCount; ++i) {
    if (r->parts[i] == nullptr || r->parts[i]->size < 0) abort();
    CHECK_TEXT(r->parts[i], name);
    // The host reads the part from its file: it must be there, as large as
    // the record says.
    char path[1024];
    FormatPartFileName(path, sizeof path, gFuzz.workDir.c_str(), r->msgSeq, i);
    struct stat st;
    if (stat(path, &st) != 0 || st.st_size != r->parts[i]->size) {
      fprintf(stderr, "part %d (%s): file missing or not of the size %d\n", i, r->parts[i]->name,
              r->parts[i]->size);
      abort();
    }
  }
  for (int i = 0; i < r->recipCount; ++i) {
    if (r->recips[i] == nullptr) abort();
    CHECK_TEXT(r->recips[i], name);
    CHECK_TEXT(r->recips[i], address);
  }
  CHECK_TEXT(r, groupFolder);
  CHECK_TEXT(r, fromName);
  CHECK_TEXT(r, fromAddress);
  CHECK_TEXT(r, subject);
  CHECK_TEXT(r, messageId);
  CHECK_TEXT(r, messageIdCopy);
  CHECK_TEXT(r, firstName);
  CHECK_TEXT(r, lastName);
  CHECK_TEXT(r, title);
  CHECK_TEXT(r, location);
  CHECK_TEXT(r, department);
  CHECK_TEXT(r, organization);
  CHECK_TEXT(r, officeStreet);
  CHECK_TEXT(r, officeStreet2);
  CHECK_TEXT(r, homeStreet);
  CHECK_TEXT(r, email);
  CHECK_TEXT(r, email2);
  CHECK_TEXT(r, email3);
  CHECK_TEXT(r, website);
  CHECK_TEXT(r, birthday);
  CHECK_TEXT(r, categories);
  CHECK_TEXT(r, bookPath);
  CHECK_TEXT(r, contactName);
  CHECK_TEXT(r, organizerName);
  CHECK_TEXT(r, organizerAddress);
  CHECK_TEXT(r, timeZoneName);
}

std::string WriteReshaped(const std::string &answer, size_t chunk, const char *name) {
  std::string path = gFuzz.workDir + name;
  FilePtr file = OpenFile(path.c_str(), "wb");
  if (!file) return "";
  ResponseWriterBegin(file.get());
  for (size_t at = 0; at < answer.size(); at += chunk) {
    size_t n = answer.size() - at < chunk ? answer.size() - at : chunk;
    ResponseWriterWrite(answer.data() + at, n);
  }
  ResponseWriterEnd();
  return path;
}

std::string WriteWorkFile(const char *name, const std::string &bytes) {
  std::string path = gFuzz.workDir + name;
  FilePtr file = OpenFile(path.c_str(), "wb");
  if (!file) return "";
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return "";
  }
  return path;
}

size_t RunChunkLength() { return gFuzz.chunk; }

FILE *ScratchFile() {
  static FILE *scratch = nullptr;
  if (gFuzz.root.empty()) MakeRoot();
  if (scratch == nullptr) scratch = fopen((gFuzz.root + "/scratch").c_str(), "w+b");
  if (scratch == nullptr || ftruncate(fileno(scratch), 0) != 0) abort();
  rewind(scratch);
  return scratch;
}

std::string *LastRequest() { return &gFuzz.lastRequest; }

void AddWriteTargets() {
  CopyText(gRootFolderId, sizeof gRootFolderId, "ROOT@1");
  AddFolderRecord(0, "MAILBOX@1", "ROOT@1", "Mailbox", kFolderClassMail, 1);
  AddFolderRecord(0, "CABINET@1", "ROOT@1", "Cabinet", kFolderClassMail, 1);
  AddFolderRecord(0, "CAL@1", "ROOT@1", "Calendar", kFolderClassCalendar, 1);
  AddFolderRecord(0, "TASKS@1", "ROOT@1", "Checklist", kFolderClassTaskList, 1);
  AddFolderRecord(0, "BOOK@1", "", "Contacts", kFolderClassAddressBook, 1);
}

namespace {

int FolderClassOf(int itemKind) {
  switch (itemKind) {
    case kItemContact:
      return kFolderClassAddressBook;
    case kItemAppointment:
      return kFolderClassCalendar;
    case kItemTask:
      return kFolderClassTaskList;
    default:
      return kFolderClassMail;
  }
}

// An element's name without its prefix.
const char *LocalName(pugi::xml_node node) {
  const char *colon = strchr(node.name(), ':');
  return colon != nullptr ? colon + 1 : node.name();
}

// The first element of that local name below node, depth first.
pugi::xml_node FindElement(pugi::xml_node node, const char *name) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    if (strcmp(LocalName(child), name) == 0) return child;
    pugi::xml_node found = FindElement(child, name);
    if (found) return found;
  }
  return pugi::xml_node();
}

// The createItemRequest of an imported record: whatever its texts hold, the
// envelope stays well-formed, holds one item, and a mail's subject comes
// through whole.
void CheckCreateRequest(const HostMessage *record) {
  const std::string &request = gFuzz.lastRequest;
  if (request.find("createItemRequest") == std::string::npos) return;  // not sent
  pugi::xml_document doc;
  // A text of blanks only is a text too (a subject " ").
  pugi::xml_parse_result parsed = doc.load_buffer(request.data(), request.size(),
                                                  pugi::parse_default | pugi::parse_ws_pcdata);
  if (!parsed) {
    fprintf(stderr, "create request is no XML: %s\n", parsed.description());
    abort();
  }
  pugi::xml_node item = FindElement(doc, "item");
  pugi::xml_node next = item ? item.next_sibling() : pugi::xml_node();
  while (next && next.type() != pugi::node_element) next = next.next_sibling();
  if (!item || FindElement(item, "item") || (next && strcmp(LocalName(next), "item") == 0)) {
    fprintf(stderr, "create request does not hold exactly one item:\n%s\n", request.c_str());
    abort();
  }
  if (record->itemKind != kItemMail) return;
  const std::string subject(record->subject, strnlen(record->subject, sizeof record->subject));
  pugi::xml_node subjectNode = FindElement(item, "subject");
  if (subject != subjectNode.text().get()) {
    fprintf(stderr, "subject changed on its way into the request: [%s] became [%s]\n",
            subject.c_str(), subjectNode.text().get());
    abort();
  }
}

void WriteBack(HostMessage *record) {
  const int folderClass = FolderClassOf(record->itemKind);
  InitWrite(record, folderClass == kFolderClassMail ? "Cabinet" : "Any", nullptr, folderClass);
  gFuzz.lastRequest.clear();
  WriteMsg(record, nullptr, gFuzz.workDir.c_str(), nullptr);
  CheckCreateRequest(record);
}

}  // namespace

void ImportAll(store::ImportSource *source) {
  AddWriteTargets();
  std::vector<store::SourceFolder> folders;
  std::string error;
  if (source->ListFolders(&folders, &error) != 0) return;
  for (const store::SourceFolder &folder : folders) {
    std::vector<store::SourceItem> items;
    if (source->ListItems(folder, &items, &error) != 0) continue;
    for (store::SourceItem &item : items) {
      source->Identify(&item);
      HostMessage *record = NewRecord();
      std::string subject, reason;
      std::vector<std::string> warnings;
      if (source->Convert(item, record, &subject, &warnings, &reason) == 0) {
        CheckRecord(record);
        WriteBack(record);
      }
      FreeRecord(record);
    }
  }
  source->TakeSkippedLinks();
}

const std::string &ImportDir() { return gFuzz.importDir; }

void WriteImportFile(const std::string &relativePath, const std::string &bytes) {
  for (size_t slash = relativePath.find('/'); slash != std::string::npos;
       slash = relativePath.find('/', slash + 1)) {
    mkdir((gFuzz.importDir + relativePath.substr(0, slash)).c_str(), 0700);
  }
  FilePtr file = OpenFile((gFuzz.importDir + relativePath).c_str(), "wb");
  if (!file) abort();
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) abort();
}

const std::string &WorkDir() { return gFuzz.workDir; }
const std::string &DataDir() { return gFuzz.dataDir; }

int NextAnswer(std::string *answer, int *httpStatus) {
  if (gFuzz.nextAnswer >= gFuzz.answers.size()) return 0;
  const std::string &next = gFuzz.answers[gFuzz.nextAnswer++];
  // "HTTP 503" and a line end in front of an answer give it that status.
  *httpStatus = 200;
  *answer = next;
  if (next.size() < 9 || next.compare(0, 5, "HTTP ") != 0 || next[8] != '\n') return 1;
  int status = 0;
  for (size_t i = 5; i < 8; ++i) {
    if (next[i] < '0' || next[i] > '9') return 1;
    status = status * 10 + (next[i] - '0');
  }
  *httpStatus = status;
  answer->erase(0, 9);
  return 1;
}

}  // namespace fuzz
