// Setting the host library up and tearing it down: mvcom_Init and its
// companions, which the host program and the tests call before the plug-in runs.
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/mvcom/mvcom_host.h"
#include "host/mvcom/mvcom_state.h"
#include "platform/bounded_text.h"

MvcomState gMvcom = {};

void SetInitError(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  FormatTextV(gMvcom.lastError, sizeof gMvcom.lastError, fmt, ap);
  va_end(ap);
}

// Windows hosts write their directories with "\" (and take "/" as well).
#if defined(_WIN32)
static int IsSeparator(char c) { return c == '/' || c == '\\'; }
static void MakeOneDirectory(const char *path) { _mkdir(path); }
#else
static int IsSeparator(char c) { return c == '/'; }
static void MakeOneDirectory(const char *path) { mkdir(path, 0700); }
#endif

// Opens path for appending, made owner-only (an older run may have left it
// readable by others): the log and the state hold the mailbox's content.
static FILE *OpenPrivateFile(const char *path, const char *mode) {
#if defined(_WIN32)
  return fopen(path, mode);
#else
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE *file = fchmod(fd, 0600) == 0 ? fdopen(fd, mode) : nullptr;
  if (file == nullptr) {
    int savedErrno = errno;
    close(fd);
    errno = savedErrno;
  }
  return file;
#endif
}

int MakeDirectories(const char *path) {
  if (path == nullptr || path[0] == '\0') return -1;
  std::string partial;
  for (const char *p = path; *p != '\0'; ++p) {
    partial += *p;
    if (IsSeparator(*p) && partial.size() > 1) MakeOneDirectory(partial.c_str());
  }
  MakeOneDirectory(partial.c_str());
#if defined(_WIN32)
  // The C runtime's stat finds no directory whose name ends with a separator.
  while (partial.size() > 1 && IsSeparator(partial.back()) && partial[partial.size() - 2] != ':')
    partial.pop_back();
  path = partial.c_str();
#endif
  struct stat st;
  return (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) ? 0 : -1;
}

// A directory from the config with its trailing separator ("" for none).
static std::string DirectoryText(const char *dir) {
  std::string text = dir != nullptr ? dir : "";
  if (!text.empty() && !IsSeparator(text.back())) text += '/';
  return text;
}

// Takes the directories, checks that they fit the plug-in's buffers and
// creates the data and work directories. Returns 0 or -1.
static int TakeDirectories(const MvcomConfig *config) {
  gMvcom.programDir = DirectoryText(config->programDir);
  gMvcom.dataDir = DirectoryText(config->dataDir);
  gMvcom.workDir = DirectoryText(config->workDir);
  const std::string *dirs[3] = {&gMvcom.programDir, &gMvcom.dataDir, &gMvcom.workDir};
  for (const std::string *dir : dirs) {
    if (dir->size() >= kGlobalTextCap) {
      SetInitError("directory name longer than %d characters: %s", kGlobalTextCap - 1,
                   dir->c_str());
      return -1;
    }
  }
  const std::string *made[2] = {&gMvcom.dataDir, &gMvcom.workDir};
  for (const std::string *dir : made) {
    if (!dir->empty() && MakeDirectories(dir->c_str()) != 0) {
      SetInitError("cannot create directory %s: %s", dir->c_str(), strerror(errno));
      return -1;
    }
  }
  return 0;
}

static void TakeLists(const MvcomConfig *config) {
  for (int i = 0; config->params != nullptr && i < config->paramCount; ++i)
    gMvcom.params.emplace_back(config->params[i] != nullptr ? config->params[i] : "");
  for (int i = 0; config->onlyMessageIds != nullptr && i < config->onlyCount; ++i)
    if (config->onlyMessageIds[i] != nullptr) gMvcom.onlyMessageIds.emplace_back(config->onlyMessageIds[i]);
}

static int OpenLogFile(void) {
  if (gMvcom.dataDir.empty()) return 0;
  std::string path = gMvcom.dataDir + "mvmigrate.log";
  gMvcom.logFile = OpenPrivateFile(path.c_str(), "a");
  if (gMvcom.logFile == nullptr) {
    SetInitError("cannot open log file %s: %s", path.c_str(), strerror(errno));
    return -1;
  }
  return 0;
}

static int OpenState(const MvcomConfig *config) {
  std::string path;
  if (config->statePath != nullptr && config->statePath[0] != '\0')
    path = config->statePath;
  else if (!gMvcom.dataDir.empty())
    path = gMvcom.dataDir + "mvmigrate.db";
  else
    return 0;  // nowhere to keep it: every item counts as new
  // SQLite gives its WAL and shared-memory files the mode of the database,
  // so an owner-only database keeps them owner-only too.
  const bool special = path[0] == ':' || path.compare(0, 5, "file:") == 0;  // ":memory:", URIs
  if (FILE *made = special ? nullptr : OpenPrivateFile(path.c_str(), "a")) fclose(made);
  return OpenMigrationState(path.c_str());
}

static void ShutdownAtExit(void) { mvcom_Shutdown(); }

int mvcom_Init(const MvcomConfig *config) {
  static const MvcomConfig kEmpty = {};
  static int exitHookSet = 0;
  if (config == nullptr) config = &kEmpty;
  // A host that exits without mvcom_Shutdown still gets its state closed
  // cleanly (run before gMvcom itself is destroyed).
  if (!exitHookSet) exitHookSet = atexit(ShutdownAtExit) == 0;
  mvcom_Shutdown();
  gMvcom.lastError[0] = '\0';
  gMvcom.stderrLevel = config->stderrLevel;
  gMvcom.dateFrom = config->dateFrom;
  gMvcom.dateTo = config->dateTo;
  gMvcom.lineBuffer = nullptr;
  gMvcom.failedCount = 0;
  gMvcom.extendedCode = 0;
  gMvcom.extendedText[0] = '\0';
  TakeLists(config);
  int result = TakeDirectories(config);
  if (result == 0) result = OpenLogFile();
  if (result == 0) result = CompileSubjectFilter(config->excludeSubjects, config->excludeCount);
  if (result == 0) result = LoadAddressMap(config->addressMapPath);
  if (result == 0) result = OpenState(config);
  if (result != 0) {
    mvcom_Shutdown();
    return -1;
  }
  gMvcom.initialised = 1;
  return 0;
}

void mvcom_Shutdown(void) {
  CloseMigrationState();
  if (gMvcom.logFile != nullptr) fclose(gMvcom.logFile);
  gMvcom.logFile = nullptr;
  ReleaseSubjectFilter();
  ReleaseCodepageConverters();
  gMvcom.addressMap.clear();
  gMvcom.params.clear();
  gMvcom.onlyMessageIds.clear();
  gMvcom.initialised = 0;
}

const char *mvcom_LastError(void) { return gMvcom.lastError; }

void mvcom_SetLogSink(MvcomLogSink sink, void *user) {
  gMvcom.logSink = sink;
  gMvcom.logSinkUser = user;
}

void mvcom_SetExtendedErrorSink(MvcomExtendedErrorSink sink, void *user) {
  gMvcom.extendedSink = sink;
  gMvcom.extendedSinkUser = user;
}

void mvcom_SetMessageBoxHook(MvcomMessageBoxHook hook) { gMvcom.messageBoxHook = hook; }

void mvcom_SetDateRange(FILETIME from, FILETIME to) {
  gMvcom.dateFrom = from;
  gMvcom.dateTo = to;
}

int mvcom_GetExtendedError(char *text, size_t cap) {
  CopyText(text, cap, gMvcom.extendedText);
  return gMvcom.extendedCode;
}

const char *mvcom_GetLineBuffer(void) { return gMvcom.lineBuffer; }

int mvcom_GetFailedCount(void) { return gMvcom.failedCount; }
