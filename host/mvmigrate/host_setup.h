// What every mvmigrate command shares: the options common to all commands,
// the set-up of the host library from them, and the exit codes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Exit codes (sysexits).
enum ExitCode {
  kExitOk = 0,
  kExitUsage = 64,        // the command line is wrong
  kExitDataErr = 65,      // an input file is malformed
  kExitNoInput = 66,      // an input file cannot be opened
  kExitUnavailable = 69,  // the server cannot be reached or does not answer 200
  kExitSoftware = 70,     // the plug-in cannot be loaded or lacks an entry point
  kExitCantCreate = 73,   // an output file cannot be created
  kExitProtocol = 76,     // the server's answer cannot be used
  kExitNoPerm = 77,       // the logon was refused
  kExitConfig = 78,       // the host library cannot be set up (log, state, regex)
};

struct HostOptions {
  std::string pluginPath;   // empty: beside the executable
  std::vector<std::string> switches;  // --switch, in order
  std::string switchesFile;           // one switch per line
  std::string outDir = "mvmigrate-out";
  std::string dataDir;  // empty: <outDir>/data/
  std::string workDir;  // empty: <outDir>/work/
  int verbosity = 1;    // stderr: 0 -q errors, 1 default errors and warnings, 2 -v the log, 3 -vv debug too
  std::string from, to;  // YYYY-MM-DD
  std::vector<std::string> excludeSubjects;
  std::string addressMap;
  bool logScrambledPassword = false;  // the logon line shows the password scrambled, not "*****"
};

// Parses "YYYY-MM-DD" into a file time at 00:00:00 (endOfDay: 23:59:59).
// Returns 0 on success, -1 for a malformed or impossible date.
struct FILETIME;
int ParseHostDate(const std::string &text, bool endOfDay, FILETIME *out);

// Reads the switches file (one switch or value per line; blank lines and
// lines starting with "#" are skipped; blanks around a line removed) and
// appends the --switch values after it. Returns 0, or -1 with *error set.
int CollectSwitches(const HostOptions &options, std::vector<std::string> *params,
                    std::string *error);

// Configures MVCOM (directories, parameters, log, dates, filters) and
// installs the terminal message box; everything created from then on is
// owner-only. Without makeDirectories no data or work directory, log or
// state is made. Returns kExitOk or an exit code with the reason printed on
// stderr.
int SetUpHost(const HostOptions &options, const std::vector<std::string> &extraParams,
              bool makeDirectories = true);

// Part files up to this size cross between the plug-in and the stores in
// memory (mvcom_SetPartMemory): the Maildir writer holds parts up to this
// size anyway, and the file creations and deletions per item cost most of a
// small item's system time.
constexpr size_t kPartMemoryBytes = 256 * 1024;

// Deletes the plug-in's transient files (answers, requests, id lists) from
// workDir, which ends with "/"; a name that is absent or cannot be removed
// is passed over. Called before a run and after its logoff, so that no run
// leaves them behind or reads another's.
void RemovePluginWorkFiles(const std::string &workDir);

// The file in which the plug-in lists a folder's item ids before it reads
// them; removed before each folder, since a listing the server refuses
// leaves the previous folder's list in place.
extern const char kPluginIdListFile[];

// True for the notice ConvertFolder gives after reading a calendar: code
// 109 with the folder's path alone. A folder it could not convert, or could
// not list whole, comes with a reason ("<folder>\t<reason>", "... not
// converted: ...") and is a failure.
bool IsCalendarDoneNotice(int code, const char *text);

// The test pause shown on the terminal: prints text and caption and waits
// for Enter; without a terminal it prints and goes on.
void TerminalMessageBox(const char *text, const char *caption);
