// Setting up the host library for an mvmigrate command.
#include "host/mvmigrate/host_setup.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/private_files.h"
#include "platform/win_compat.h"

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

int ParseHostDate(const std::string &text, bool endOfDay, FILETIME *out) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return -1;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return -1;
  auto num = [&](size_t pos, size_t len) {
    int v = 0;
    for (size_t i = pos; i < pos + len; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  SYSTEMTIME st = {};
  st.wYear = static_cast<uint16_t>(num(0, 4));
  st.wMonth = static_cast<uint16_t>(num(5, 2));
  st.wDay = static_cast<uint16_t>(num(8, 2));
  if (endOfDay) {
    st.wHour = 23;
    st.wMinute = 59;
    st.wSecond = 59;
  }
  return SystemTimeToFileTime(&st, out) ? 0 : -1;
}

int CollectSwitches(const HostOptions &options, std::vector<std::string> *params,
                    std::string *error) {
  if (!options.switchesFile.empty()) {
    std::ifstream in(options.switchesFile);
    if (!in) {
      *error = "cannot open switches file " + options.switchesFile;
      return -1;
    }
    std::string line;
    while (std::getline(in, line)) {
      line = Trim(line);
      if (line.empty() || line[0] == '#') continue;
      params->push_back(line);
    }
  }
  for (const std::string &s : options.switches) params->push_back(s);
  return 0;
}

const char kPluginIdListFile[] = "msgids.tmp";

bool IsCalendarDoneNotice(int code, const char *text) {
  return code == kExtErrorFolder && text != nullptr && strchr(text, '\t') == nullptr;
}

void RemovePluginWorkFiles(const std::string &workDir) {
  static const char *const kNames[] = {
      kPluginIdListFile, "cursor.tmp",   "msg.xml",      "base64.tmp",   "base64B.tmp",  "base64X.tmp",
      "rtfhtml.tmp",     "tasktxt.tmp",  "nullfile.tmp", "logonre.xml",  "logout.xml",   "logoffre.xml",
      "folderre.xml",    "abdata.xml",   "ablistre.xml", "categorylist.xml", "crfolder.xml", "crmail.xml",
      "crcal.xml",       "crcontact.xml", "crtask.xml",  "crmember.xml", "soapreq1.tmp", "soapreq2.tmp",
      "soapreq3.tmp",    "soapreq4.tmp", "soapreq5.tmp", "gwrules.xml"};
  // Not the plug-in's rules file ("mboxrules.dat"): the export deletes it
  // once OUT/rules/ holds its rules, since the migration state may already
  // say they were exported.
  for (const char *name : kNames) remove((workDir + name).c_str());
}

void TerminalMessageBox(const char *text, const char *caption) {
  fprintf(stderr, "\n[%s]\n%s\n", caption ? caption : "", text ? text : "");
  if (isatty(STDIN_FILENO)) {
    fprintf(stderr, "Press Enter to continue...");
    fflush(stderr);
    int c;
    while ((c = getchar()) != EOF && c != '\n') {
    }
  }
}

int SetUpHost(const HostOptions &options, const std::vector<std::string> &extraParams,
              bool makeDirectories) {
  MakeCreatedFilesPrivate();
  std::vector<std::string> params;
  // Before the user's switches, which are read after it, so that the
  // plug-in logs the password as "*****" unless asked otherwise.
  if (!options.logScrambledPassword) params.push_back("/HPW");
  std::string error;
  if (CollectSwitches(options, &params, &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    return kExitNoInput;
  }
  for (const std::string &p : extraParams) params.push_back(p);

  static std::vector<std::string> keep;  // MVCOM copies, but keep the strings alive anyway
  keep = params;
  std::vector<const char *> paramPtrs;
  for (const std::string &p : keep) paramPtrs.push_back(p.c_str());
  std::vector<const char *> excludes;
  for (const std::string &e : options.excludeSubjects) excludes.push_back(e.c_str());

  const std::string out = WithSlash(options.outDir);
  std::string dataDir = options.dataDir.empty() ? out + "data/" : WithSlash(options.dataDir);
  std::string workDir = options.workDir.empty() ? out + "work/" : WithSlash(options.workDir);
  if (!makeDirectories) {
    dataDir.clear();
    workDir.clear();
  }
  std::string programDir = "./";
  {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
      exe[n] = '\0';
      std::string p(exe);
      programDir = p.substr(0, p.rfind('/') + 1);
    }
  }

  // The output directories first: one that cannot be made is exit 73, not a
  // failed set-up of the host library.
  for (const std::string &dir : {dataDir, workDir}) {
    if (dir.empty()) continue;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
      std::cerr << "mvmigrate: cannot create directory " << dir << ": " << ec.message() << "\n";
      return kExitCantCreate;
    }
  }
  MvcomConfig config = {};
  config.programDir = programDir.c_str();
  config.dataDir = dataDir.c_str();
  config.workDir = workDir.c_str();
  config.params = paramPtrs.data();
  config.paramCount = static_cast<int>(paramPtrs.size());
  config.stderrLevel = options.verbosity;
  if (!options.from.empty() && ParseHostDate(options.from, false, &config.dateFrom) != 0) {
    std::cerr << "mvmigrate: --from wants a date YYYY-MM-DD, not '" << options.from << "'\n";
    return kExitUsage;
  }
  if (!options.to.empty() && ParseHostDate(options.to, true, &config.dateTo) != 0) {
    std::cerr << "mvmigrate: --to wants a date YYYY-MM-DD, not '" << options.to << "'\n";
    return kExitUsage;
  }
  // An empty range would take nothing and count every item as left out by date.
  if (!options.from.empty() && !options.to.empty() && FileTimeToU64(config.dateFrom) > FileTimeToU64(config.dateTo)) {
    std::cerr << "mvmigrate: --from " << options.from << " is after --to " << options.to << "\n";
    return kExitUsage;
  }
  config.excludeSubjects = excludes.data();
  config.excludeCount = static_cast<int>(excludes.size());
  config.addressMapPath = options.addressMap.empty() ? nullptr : options.addressMap.c_str();
  if (mvcom_Init(&config) != 0) {
    std::cerr << "mvmigrate: " << mvcom_LastError() << "\n";
    return kExitConfig;
  }
  mvcom_SetMessageBoxHook(&TerminalMessageBox);
  return kExitOk;
}
