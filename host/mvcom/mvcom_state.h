// The host library's process-wide state (one record, gMvcom) and the helpers
// its source files share; nothing here is exported from libMVCOM.
#pragma once

#include "platform/printf_format.h"

#if defined(_WIN32)
#include <regex>
#else
#include <regex.h>
#endif

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/mvcom/mvcom_host.h"

struct sqlite3;

// One compiled excluded-subject expression: POSIX regcomp on Linux; on
// Windows, which has none, std::regex in its POSIX extended grammar.
#if defined(_WIN32)
using SubjectRegex = std::regex;
#else
using SubjectRegex = regex_t;
#endif

enum {
  kGlobalTextCap = 256,   // the plug-in's buffers for host globals
  kParmTextCap = 1024,    // the plug-in's buffer for one host parameter
  kExtendedErrorCap = 1024,
};

// Everything the library keeps between calls. mvcom_Init fills it from the
// host's MvcomConfig; mvcom_Shutdown releases what it owns.
struct MvcomState {
  int initialised;
  std::string programDir, dataDir, workDir;  // each ends with "/" when not empty
  std::vector<std::string> params;
  int stderrLevel;
  FILETIME dateFrom, dateTo;
  std::vector<SubjectRegex> excludeRegexes;  // compiled; freed by ReleaseSubjectFilter
  std::unordered_map<std::string, std::string> addressMap;  // lower-case old -> new
  std::vector<std::string> onlyMessageIds;
  FILE *logFile;
  sqlite3 *stateDb;
  MvcomLogSink logSink;
  void *logSinkUser;
  MvcomExtendedErrorSink extendedSink;
  void *extendedSinkUser;
  MvcomMessageBoxHook messageBoxHook;
  const char *lineBuffer;
  int failedCount;
  int extendedCode;
  char extendedText[kExtendedErrorCap];
  char lastError[1024];
};

extern MvcomState gMvcom;

// Writes one finished log line (no line end needed) to the log file, stderr
// and the sink as configured. Cannot fail; a log file that cannot be written
// is silently skipped.
void WriteLogLine(const char *line);

// The current second as "YYYY-MM-DD HH:MM:SS", local time or UTC, made once
// a second into *cache (calls on one cache must not overlap); fallback when
// the clock cannot be read.
struct SecondText {
  time_t madeFor = static_cast<time_t>(-1);
  char text[32] = "";
};
const char *CurrentSecondText(SecondText *cache, bool utc, const char *fallback);

// Formats the last init failure into gMvcom.lastError.
void SetInitError(const char *fmt, ...) MV_PRINTF_FORMAT(1, 2);

// Compiles the user's excluded subjects. Returns 0, or -1 with the reason in
// gMvcom.lastError (nothing stays compiled then).
int CompileSubjectFilter(const char *const *patterns, int count);
void ReleaseSubjectFilter(void);

// Loads the "old,new" address map. Returns 0, or -1 with the reason in
// gMvcom.lastError (the map is then empty).
int LoadAddressMap(const char *path);

// Forgets the hash of the last large part file: a part being added means
// part files are being written.
void ForgetPartHashes(void);

// Drops what is kept in memory under path, leaving any file of that name.
void ForgetKeptPart(const char *path);

// Opens (creating or upgrading) the migration state database at path.
// Returns 0, or -1 with the reason in gMvcom.lastError (nothing open then).
int OpenMigrationState(const char *path);
void CloseMigrationState(void);

// Closes the cached iconv descriptors.
void ReleaseCodepageConverters(void);

// Creates directory path and its missing parents. Returns 0 when the
// directory exists afterwards, -1 otherwise.
int MakeDirectories(const char *path);
