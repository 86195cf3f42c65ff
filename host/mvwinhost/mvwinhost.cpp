// mvwinhost: a small Windows host that drives MVGWS.dll as the real host
// does (logon form texts, logon, folder list, reading one folder through
// stdcall callbacks, logoff) and checks every value it receives. Exit code 0
// when every check held, 1 when one failed, 2 for a usage error.
//
// mvwinhost --server URL --user U --password P --dir DIR [--dll PATH]
//           [--switch SW]... [--folder NAME] [--expect-subject S]...
//           [--expect-subjects-file F] [--min-items N]
// The subjects file holds one UTF-8 subject per line (the command line of a
// Windows program carries only the ANSI code page).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/mvcom/mvcom_host.h"
#include "host/mvwinhost/plugin_calls.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mv_api.h"

namespace {

struct HostOptions {
  std::string dll = "MVGWS.dll";
  std::string server, user, password, dir;
  std::vector<std::string> folders;  // read in this order; Mailbox when none is named
  std::vector<std::string> switches;
  std::vector<std::string> expectedSubjects;
  int minItems = 0;
};

struct StoredItem {
  std::string name;  // subject of a mail, title of an appointment or task, name of a contact
  int parts;
};

// Everything the callbacks see; they check it against what the host passed.
HostMessage gRecord;
int gContext;  // the host's context: only its address matters
const char kConvertText[] = "mvwinhost";
std::vector<std::string> gFolderTags;
std::vector<StoredItem> gStored;     // of the folder being read
std::vector<StoredItem> gAllStored;  // of the folders read before it
int gLastFolder = -1;                // the last folder to read: expected names are checked there
int gStatusCounts[7];
int gItemFailures;
std::string gWorkDir;

int MV_CALL OnHostNotify(int zero, const char *key, int value, int *value1, int *value2,
                         int *stop) {
  Check(zero == 0, "HostNotify: first argument %d, expected 0", zero);
  Check(key != nullptr && (strcmp(key, "keepalive") == 0 || strcmp(key, "MailboxMessageCount") == 0),
        "HostNotify: unknown key \"%s\"", key != nullptr ? key : "(null)");
  Check(value1 != nullptr && value2 != nullptr && stop != nullptr,
        "HostNotify: null integer pointer (value %d)", value);
  return 0;
}

int MV_CALL OnFolder(const char *tag) {
  if (Check(tag != nullptr && strstr(tag, " {MV:") != nullptr && tag[strlen(tag) - 1] == '}',
            "folder callback: malformed tag \"%s\"", tag != nullptr ? tag : "(null)"))
    gFolderTags.emplace_back(tag);
  return 0;
}

// Size of a file, or -1 when it cannot be read.
long long FileSize(const char *path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void CheckParts(const HostMessage *record) {
  Check(record->partCount >= 0 && record->partCount <= kMaxParts, "item \"%s\": part count %d",
        record->subject, record->partCount);
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    const HostPart *part = record->parts[i];
    if (!Check(part != nullptr, "item \"%s\": part %d is null", record->subject, i)) continue;
    Check(part->name[0] != '\0', "item \"%s\": part %d has no name", record->subject, i);
    Check(part->kind == kPartFile || part->kind == kPartTextBody || part->kind == kPartHtmlBody,
          "item \"%s\": part %d has kind %d", record->subject, i, part->kind);
    char path[MAX_PATH];
    FormatPartFileName(path, sizeof path, gWorkDir.c_str(), record->msgSeq, i);
    long long size = FileSize(path);
    Check(size == part->size, "item \"%s\": part %d (%s) file %s holds %lld bytes, the record says %d",
          record->subject, i, part->name, path, size, part->size);
  }
}

const char *const kKindNames[] = {"mail", "contact", "appointment", "task"};
int gFolderKind;  // the item kind the folder being read holds

// Checks the fields every item of its kind has, as the host reads them
// through the 32-bit record. Returns the item's name.
std::string CheckItemFields(const HostMessage &record, int index) {
  switch (record.itemKind) {
    case kItemMail:
      Check(record.subject[0] != '\0', "item %d has no subject", index);
      Check(record.fromName[0] != '\0' || record.fromAddress[0] != '\0', "item \"%s\" has no sender",
            record.subject);
      Check(FileTimeToU64(record.sentTime) != 0, "item \"%s\" has no date", record.subject);
      return record.subject;
    case kItemAppointment:
      Check(record.title[0] != '\0', "appointment %d has no title", index);
      Check(FileTimeToU64(record.startTime) != 0 &&
                FileTimeToU64(record.endTime) >= FileTimeToU64(record.startTime),
            "appointment \"%s\" has no start or ends before it starts", record.title);
      return record.title;
    case kItemTask:
      Check(record.title[0] != '\0', "task %d has no title", index);
      Check(record.percentComplete >= 0 && record.percentComplete <= 100, "task \"%s\": %d percent",
            record.title, record.percentComplete);
      return record.title;
    default:
      Check(record.contactName[0] != '\0' && record.bookPath[0] != '\0',
            "contact %d has no name or no book", index);
      return record.contactName;
  }
}

int MV_CALL OnSaveItem(HostMessage *record, const char *text, void *context, int index) {
  if (!Check(record == &gRecord, "SaveItem: record %p is not the host's", static_cast<void *>(record)))
    return 1234;
  if (gFolderKind == kItemMail) {
    Check(text == kConvertText, "SaveItem: text argument is not the one given to ConvertFolder");
    Check(context == &gContext, "SaveItem: context is not the one given to ConvertFolder");
  } else {
    // The calendar, task and address-book readers pass an empty text and
    // the work directory.
    Check(text != nullptr && text[0] == '\0', "SaveItem: the text of a %s is not empty",
          kKindNames[gFolderKind]);
    Check(context != nullptr && gWorkDir == static_cast<const char *>(context),
          "SaveItem: the context of a %s is not the work directory", kKindNames[gFolderKind]);
  }
  Check(index == static_cast<int>(gStored.size()), "SaveItem: index %d after %d items", index,
        static_cast<int>(gStored.size()));
  Check(record->itemKind == gFolderKind, "item %d: kind %d in a folder of kind %d", index,
        record->itemKind, gFolderKind);
  std::string name = CheckItemFields(*record, index);
  CheckParts(record);
  printf("mvwinhost: stored %s \"%s\", %d recipients, %d parts\n", kKindNames[record->itemKind & 3],
         name.c_str(), record->recipCount, record->partCount);
  gStored.push_back({name, record->partCount});
  ++record->msgSeq;  // the next item's part files get the next number
  return 0;
}

int MV_CALL OnItemNotify(HostMessage *record, const char *text, int status, int *value1,
                         int *value2, int *stop) {
  Check(record == &gRecord, "ItemNotify: record is not the host's");
  Check(text != nullptr, "ItemNotify: null text");
  Check(value1 != nullptr && value2 != nullptr && stop != nullptr, "ItemNotify: null pointer");
  if (Check(status == 0 || status == 1 || status == 2 || status == 6,
            "ItemNotify: unknown status %d", status))
    ++gStatusCounts[status];
  return 0;
}

void OnExtendedError(int code, const char *text, void *) {
  if (code == kExtErrorItemFailed) ++gItemFailures;
  printf("mvwinhost: extended error %d: %s\n", code, text != nullptr ? text : "");
}

int SetUpHostLibrary(const HostOptions &options) {
  std::string base = options.dir;
  if (!base.empty() && base.back() != '\\') base += '\\';
  std::string data = base + "data\\", work = base + "work\\";
  std::vector<const char *> params;
  for (const std::string &sw : options.switches) params.push_back(sw.c_str());
  MvcomConfig config = {};
  config.programDir = base.c_str();
  config.dataDir = data.c_str();
  config.workDir = work.c_str();
  config.params = params.data();
  config.paramCount = static_cast<int>(params.size());
  config.stderrLevel = 0;
  mvcom_SetExtendedErrorSink(&OnExtendedError, nullptr);
  if (!Check(mvcom_Init(&config) == 0, "mvcom_Init: %s", mvcom_LastError())) return -1;
  char dir[256];
  com_GetGlobal(kGlobalWorkDir, dir);
  gWorkDir = dir;
  return 0;
}

void AskLogonForm() {
  char user[kHostLabelSize] = "x", pass[kHostLabelSize] = "x", server[kHostLabelSize] = "x";
  char a7[kHostLabelSize] = "x", a8[kHostLabelSize] = "x", a13[kHostLabelSize] = "x",
       a15[kHostLabelSize] = "x";
  char serverText[kHostServerSize] = "";
  const uint32_t args[] = {Arg(4), 0, 0, Arg(user), Arg(pass), Arg(server), Arg(a7), Arg(a8),
                           0, 0, 0, Arg(serverText), Arg(a13), 0, Arg(a15)};
  int result = CallExport(kGetLogonParameters, args, 15);
  Check(result == 0, "GetLogonParameters returned %d", result);
  Check(strcmp(user, "User Id:") == 0, "user label \"%s\"", user);
  Check(strcmp(pass, "Password:") == 0, "password label \"%s\"", pass);
  Check(strcmp(server, "Server Name:") == 0, "server label \"%s\"", server);
  Check(strcmp(a8, "Upcoming events only") == 0, "kind 4 label \"%s\"", a8);
  Check(a7[0] == '\0' && a13[0] == '\0' && a15[0] == '\0', "a7, a13, a15 not emptied");
  Check(strstr(serverText, ":7191") != nullptr, "server prompt \"%s\"", serverText);
}

int LogOn(const HostOptions &options) {
  char user[1024], pass[1024];
  CopyText(user, sizeof user, options.user.c_str());
  CopyText(pass, sizeof pass, options.password.c_str());
  HostNotifyFn notify = &OnHostNotify;
  const uint32_t args[] = {Arg(user), Arg(pass), Arg(options.server.c_str()), 0, 0, 0, 0, 0, 0,
                           0, 0, 0, Arg(1), Arg(0), 0, 0, Arg(reinterpret_cast<void *>(notify))};
  int result = CallExport(kLogon, args, 17);
  return Check(result == 0, "Logon to %s as %s returned %d", options.server.c_str(), user, result)
             ? 0
             : -1;
}

// The index of the folder whose true path is `name`, or -1.
int FindFolder(const std::string &name) {
  gFolderTags.clear();
  FolderCallbackFn callback = &OnFolder;
  const uint32_t args[] = {0, Arg(reinterpret_cast<void *>(callback))};
  Check(CallExport(kGetFolderNames, args, 2) == 0, "GetFolderNames did not return 0");
  Check(!gFolderTags.empty(), "GetFolderNames reported no folder");
  int found = -1;
  for (size_t i = 0; i < gFolderTags.size(); ++i) {
    char path[kHostPathSize] = "";
    const uint32_t pathArgs[] = {Arg(static_cast<int>(i)), Arg(path)};
    int index = CallExport(kGetTrueFolder, pathArgs, 2);
    Check(index == static_cast<int>(i), "GetTrueFolder(%d) returned %d", static_cast<int>(i), index);
    if (found < 0 && name == path) found = static_cast<int>(i);
  }
  printf("mvwinhost: %d folders\n", static_cast<int>(gFolderTags.size()));
  Check(found >= 0, "no folder %s among the %d reported", name.c_str(),
        static_cast<int>(gFolderTags.size()));
  return found;
}

// The item kind a folder of the tag's class holds ("path {MV:count:FCLASS:class}").
int KindOfFolderTag(const std::string &tag) {
  size_t at = tag.rfind(":FCLASS:");
  int folderClass = at == std::string::npos ? 0 : ParseLeadingInt(tag.c_str() + at + 8);
  return folderClass == 1 ? kItemContact : folderClass == 2 ? kItemAppointment
                                         : folderClass == 3 ? kItemTask : kItemMail;
}

void ConvertOneFolder(int folderIndex, const HostOptions &options) {
  gStored.clear();
  memset(gStatusCounts, 0, sizeof gStatusCounts);
  gItemFailures = 0;
  gFolderKind = KindOfFolderTag(gFolderTags[static_cast<size_t>(folderIndex)]);
  gRecord.msgSeq = 1;
  const uint32_t initArgs[] = {Arg(&gRecord), 0, 0, 0, 0, Arg(10000)};
  Check(CallExport(kInitRead, initArgs, 6) == 0, "InitRead did not return 0");
  Check(strcmp(gRecord.groupFolder, "root") == 0, "InitRead put \"%s\" in groupFolder",
        gRecord.groupFolder);
  int stored = -1, dataSize = -1;
  SaveItemFn save = &OnSaveItem;
  ItemNotifyFn notify = &OnItemNotify;
  const uint32_t args[] = {Arg(&gRecord), Arg(reinterpret_cast<void *>(save)), Arg(folderIndex),
                           Arg(kConvertText), 0, 0, 0, Arg(0), 0, 0, Arg(&gContext), Arg(&stored),
                           Arg(&dataSize), Arg(reinterpret_cast<void *>(notify))};
  int result = CallExport(kConvertFolder, args, 14);
  Check(result == 0, "ConvertFolder of a %s folder returned %d", kKindNames[gFolderKind], result);
  Check(stored == static_cast<int>(gStored.size()), "ConvertFolder counted %d stored, SaveItem saw %d",
        stored, static_cast<int>(gStored.size()));
  Check(dataSize > 0 || gStored.empty() || gFolderKind != kItemMail, "ConvertFolder reported data size %d",
        dataSize);
  Check(gRecord.folderItemCount >= stored, "folder item count %d below the %d stored",
        gRecord.folderItemCount, stored);
  Check(gStatusCounts[0] == stored, "ItemNotify reported %d stored, SaveItem saw %d",
        gStatusCounts[0], stored);
  // Status 6 without a failure report is a further occurrence of a series
  // (or an address-book entry that is no contact): no mail is skipped.
  Check((gStatusCounts[6] == 0 || gFolderKind != kItemMail) && gItemFailures == 0,
        "%d items skipped or failed, %d reported failed", gStatusCounts[6], gItemFailures);
  Check(stored >= options.minItems || gFolderKind != kItemMail, "%d items stored, expected at least %d",
        stored, options.minItems);
  for (const std::string &subject : options.expectedSubjects) {
    bool seen = false;
    for (const StoredItem &item : gStored) seen = seen || item.name == subject;
    bool elsewhere = false;
    for (const StoredItem &item : gAllStored) elsewhere = elsewhere || item.name == subject;
    Check(seen || elsewhere || folderIndex != gLastFolder, "no item named \"%s\" was stored", subject.c_str());
  }
  gAllStored.insert(gAllStored.end(), gStored.begin(), gStored.end());
  const uint32_t closeArgs[] = {0};
  Check(CallExport(kCloseRead, closeArgs, 1) == 0, "CloseRead did not return 0");
}

// Appends each non-empty line of the file (CR LF or LF ends). Returns 0, or
// -1 when the file cannot be read.
int ReadSubjects(const char *path, std::vector<std::string> *subjects) {
  FilePtr file = OpenFile(path, "rb");
  if (!file) {
    fprintf(stderr, "mvwinhost: cannot read %s\n", path);
    return -1;
  }
  char line[1024];
  while (ReadTextLine(line, sizeof line, file.get()))
    if (line[0] != '\0') subjects->emplace_back(line);
  return 0;
}

int ParseOptions(int argc, char **argv, HostOptions *options) {
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    if (i + 1 >= argc) {
      fprintf(stderr, "mvwinhost: %s needs a value\n", opt.c_str());
      return -1;
    }
    const char *value = argv[++i];
    if (opt == "--dll") options->dll = value;
    else if (opt == "--server") options->server = value;
    else if (opt == "--user") options->user = value;
    else if (opt == "--password") options->password = value;
    else if (opt == "--dir") options->dir = value;
    else if (opt == "--folder") options->folders.emplace_back(value);
    else if (opt == "--switch") options->switches.emplace_back(value);
    else if (opt == "--expect-subject") options->expectedSubjects.emplace_back(value);
    else if (opt == "--expect-subjects-file") {
      if (ReadSubjects(value, &options->expectedSubjects) != 0) return -1;
    }
    else if (opt == "--min-items") options->minItems = ParseLeadingInt(value);
    else {
      fprintf(stderr, "mvwinhost: unknown option %s\n", opt.c_str());
      return -1;
    }
  }
  if (options->server.empty() || options->user.empty() || options->dir.empty()) {
    fprintf(stderr, "usage: mvwinhost --server URL --user U --password P --dir DIR [--dll PATH]\n"
                    "       [--switch SW]... [--folder NAME]... [--expect-subject S]...\n"
                    "       [--expect-subjects-file F] [--min-items N]\n");
    return -1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  HostOptions options;
  if (ParseOptions(argc, argv, &options) != 0) return 2;
  if (SetUpHostLibrary(options) == 0 && LoadPlugin(options.dll.c_str()) == 0) {
    AskLogonForm();
    if (LogOn(options) == 0) {
      std::vector<std::string> names = options.folders;
      if (names.empty()) names.push_back("Mailbox");
      std::vector<int> indexes;
      for (const std::string &name : names) indexes.push_back(FindFolder(name));
      gLastFolder = indexes.back();
      for (int folder : indexes)
        if (folder >= 0) ConvertOneFolder(folder, options);
    }
    const uint32_t logoffArgs[] = {0};
    Check(CallExport(kLogoff, logoffArgs, 1) == 0, "Logoff did not return 0");
    const uint32_t testArgs[] = {0, 0};
    Check(CallExport(kTestFile, testArgs, 2) == 0, "TestFile did not return 0");
  }
  mvcom_Shutdown();
  printf("mvwinhost: %d checks, %d failed\n", CheckCount(), FailureCount());
  return FailureCount() == 0 ? 0 : 1;
}
