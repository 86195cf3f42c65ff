// `mvmigrate import`: a Maildir tree into a GroupWise mailbox.
#include "host/mvmigrate/import_command.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

#include "host/maildir/maildir_reader.h"
#include "host/maildir/message_import.h"
#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/plugin_loader.h"
#include "host/progress/progress.h"
#include "host/report/export_report.h"
#include "platform/bounded_text.h"
#include "plugin/host_message.h"

namespace fs = std::filesystem;

namespace {

const int kExitImportFailed = 75;       // EX_TEMPFAIL: a rerun retries the failed messages
const int kExitImportInterrupted = 130;  // Ctrl-C: a rerun goes on where this one stopped

volatile sig_atomic_t gStopRequested = 0;

void RequestStop(int) { gStopRequested = 1; }

// The failure the plug-in reported for the item being written, if any.
struct WriteFailure {
  bool reported = false;
  std::string reason;
};

void CatchItemFailure(int code, const char *text, void *user) {
  if (code != kExtErrorItemFailed || user == nullptr || text == nullptr) return;
  auto *failure = static_cast<WriteFailure *>(user);
  failure->reported = true;
  // "<id>\t<subject>\t<reason>": the reason is the last field.
  const char *tab = strrchr(text, '\t');
  failure->reason = tab != nullptr ? tab + 1 : text;
}

int MV_CALL NotifyImportHost(int, const char *, int, int *, int *, int *) { return 0; }

struct RecordFree {
  void operator()(HostMessage *record) const {
    com_Deallocate_All(record, nullptr);
    free(record);
  }
};
using RecordPtr = std::unique_ptr<HostMessage, RecordFree>;

// Everything one run needs while it writes.
struct ImportRun {
  const ImportOptions *options;
  const PluginApi *api;     // null in a dry run
  std::string stateScope;   // "server|user|" before each folder path
  std::string workDir;
  HostMessage *record;
  ImportReport *report;
  progress::ProgressDisplay display;
  progress::ProgressState state;
  std::chrono::steady_clock::time_point started;
  int msgSeq = 0;
};

double Elapsed(const ImportRun &run) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - run.started).count();
}

void Fail(ImportRun *run, ImportFolderSummary *folder, const maildir::MessageFile &file,
          const std::string &subject, const std::string &reason) {
  folder->failed++;
  run->report->failures.push_back({folder->path, file.name, subject, reason});
  com_Log("MV Warning: message %s of %s not imported: %s", file.name.c_str(), folder->path.c_str(),
          reason.c_str());
}

// Converts and writes one message. Counts it into folder.
void ImportMessage(ImportRun *run, ImportFolderSummary *folder, const maildir::MessageFile &file,
                   std::set<std::string> *keysThisRun) {
  std::string key, reason, subject;
  if (maildir::MessageIdentity(file.path, &key, &reason) != 0) {
    Fail(run, folder, file, "", reason);
    return;
  }
  const std::string scope = run->stateScope + folder->path;
  if (!keysThisRun->insert(key).second || mvcom_IsImported(scope.c_str(), key.c_str()) == 1) {
    folder->alreadyImported++;
    return;
  }
  run->record->msgSeq = ++run->msgSeq;
  if (maildir::ConvertMessageFile(file.path, file.seen, run->record, &subject, &reason) != 0) {
    Fail(run, folder, file, subject, reason);
    return;
  }
  for (int i = 0; i < run->record->partCount; ++i) run->state.bytes += run->record->parts[i]->size;
  if (com_ExcludeSubject(run->record->subject)) {
    folder->skipped++;
  } else if (run->api == nullptr) {
    folder->created++;  // dry run: it would be
  } else {
    WriteFailure failure;
    mvcom_SetExtendedErrorSink(&CatchItemFailure, &failure);
    run->api->WriteMsg(run->record, nullptr, run->workDir.c_str(), nullptr);
    mvcom_SetExtendedErrorSink(nullptr, nullptr);
    if (failure.reported) {
      Fail(run, folder, file, subject, failure.reason.empty() ? "not written" : failure.reason);
    } else {
      folder->created++;
      if (mvcom_RecordImported(scope.c_str(), key.c_str()) < 0)
        com_Log("MV Error: %s was created but could not be recorded; a rerun writes it again",
                file.name.c_str());
    }
  }
  com_Deallocate_All(run->record, nullptr);
}

void ImportFolder(ImportRun *run, const maildir::FolderSource &source) {
  ImportFolderSummary folder;
  folder.path = source.path;
  folder.directory = source.directory;
  std::vector<maildir::MessageFile> files;
  std::string error;
  if (maildir::ListMessages(source.directory, &files, &error) != 0) {
    com_Log("MV Error: %s", error.c_str());
    run->report->folders.push_back(folder);
    return;
  }
  folder.total = static_cast<int64_t>(files.size());
  com_Log("Import folder: %s, count=%d", folder.path.c_str(), static_cast<int>(files.size()));
  if (run->api != nullptr) run->api->InitWrite(run->record, folder.path.c_str(), nullptr, 0);
  run->state.folder = folder.path;
  run->state.folderTotal = folder.total;
  run->state.folderDone = 0;
  std::set<std::string> keysThisRun;
  for (const maildir::MessageFile &file : files) {
    if (gStopRequested) {
      run->report->interrupted = true;
      break;
    }
    ImportMessage(run, &folder, file, &keysThisRun);
    run->state.folderDone++;
    run->state.items++;
    run->state.seconds = Elapsed(*run);
    progress::ShowProgress(&run->display, run->state, false);
  }
  if (run->api != nullptr) run->api->CloseWrite(0);
  run->report->folders.push_back(folder);
}

int LogonForImport(const PluginApi &api, const LogonOptions &logon, const std::string &password) {
  char user[1024];
  char pass[4096];
  CopyText(user, sizeof user, logon.user.c_str());
  CopyText(pass, sizeof pass, password.c_str());
  int result = api.Logon(user, pass, logon.server.c_str(), nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, 1, 0, nullptr, nullptr,
                         &NotifyImportHost);
  memset(pass, 0, sizeof pass);
  if (result == 0) return kExitOk;
  std::cerr << "mvmigrate: logon to " << logon.server << " as " << logon.user << " failed (result "
            << result << ", see the log)\n";
  api.Logoff(0);
  switch (result) {
    case 1:
    case 2: return kExitNoPerm;
    case 3: return kExitUnavailable;
    default: return kExitProtocol;
  }
}

// The folders of the tree that the options select. Returns kExitOk or 66.
int SelectFolders(const ImportOptions &options, std::vector<maildir::FolderSource> *selected) {
  std::vector<maildir::FolderSource> all;
  std::string error;
  if (maildir::ListFolders(ImportMailRoot(options.inDir), &all, &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    return kExitNoInput;
  }
  for (const std::string &wanted : options.folders) {
    bool found = false;
    for (const auto &f : all) found = found || ImportFolderWanted(f.path, {wanted});
    if (!found) {
      std::cerr << "mvmigrate: no folder " << wanted << " in the Maildir tree under "
                << ImportMailRoot(options.inDir) << "\n";
      return kExitNoInput;
    }
  }
  for (const auto &f : all)
    if (ImportFolderWanted(f.path, options.folders)) selected->push_back(f);
  return kExitOk;
}

int WriteTextFile(const std::string &path, const std::string &text, std::string *error) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      *error = "cannot write " + temporary;
      return -1;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    *error = "cannot write " + path;
    return -1;
  }
  return 0;
}

void AddTo(ImportFolderSummary *sum, const ImportFolderSummary &f) {
  sum->total += f.total;
  sum->created += f.created;
  sum->alreadyImported += f.alreadyImported;
  sum->skipped += f.skipped;
  sum->failed += f.failed;
}

std::string CountsJson(const ImportFolderSummary &f) {
  std::ostringstream out;
  out << "\"total\": " << f.total << ", \"created\": " << f.created
      << ", \"already_imported\": " << f.alreadyImported << ", \"skipped\": " << f.skipped
      << ", \"failed\": " << f.failed;
  return out.str();
}

}  // namespace

int ImportExitCode(const ImportReport &report) {
  if (report.interrupted) return kExitImportInterrupted;
  return report.failures.empty() ? kExitOk : kExitImportFailed;
}

std::string ImportMailRoot(const std::string &inDir) {
  std::error_code ec;
  fs::path mail = fs::path(inDir) / "mail";
  return fs::is_directory(mail, ec) ? mail.string() : inDir;
}

bool ImportFolderWanted(const std::string &path, const std::vector<std::string> &wanted) {
  if (wanted.empty()) return true;
  for (const std::string &w : wanted)
    if (path == w || (path.size() > w.size() && path.compare(0, w.size(), w) == 0 && path[w.size()] == '^'))
      return true;
  return false;
}

std::string FormatImportSummary(const ImportReport &report) {
  std::ostringstream out;
  char line[512];
  FormatText(line, sizeof line, "%-32s %7s %8s %8s %7s %6s\n", "folder", "found",
             report.dryRun ? "to write" : "created", "earlier", "skipped", "failed");
  out << line;
  ImportFolderSummary totals;
  for (const ImportFolderSummary &f : report.folders) {
    FormatText(line, sizeof line, "%-32s %7lld %8lld %8lld %7lld %6lld\n", f.path.c_str(),
               static_cast<long long>(f.total), static_cast<long long>(f.created),
               static_cast<long long>(f.alreadyImported), static_cast<long long>(f.skipped),
               static_cast<long long>(f.failed));
    out << line;
    AddTo(&totals, f);
  }
  FormatText(line, sizeof line, "%-32s %7lld %8lld %8lld %7lld %6lld\n", "total",
             static_cast<long long>(totals.total), static_cast<long long>(totals.created),
             static_cast<long long>(totals.alreadyImported), static_cast<long long>(totals.skipped),
             static_cast<long long>(totals.failed));
  out << line;
  for (const ImportFailure &f : report.failures)
    out << "failed: " << f.folder << "/" << f.file << ": " << f.subject << ": " << f.reason << "\n";
  if (report.interrupted) out << "stopped before the end: run again to go on\n";
  return out.str();
}

std::string FormatImportJson(const ImportReport &report) {
  std::ostringstream out;
  out << "{\"in\": " << report::JsonText(report.inDir) << ", \"server\": " << report::JsonText(report.server)
      << ", \"user\": " << report::JsonText(report.user)
      << ", \"dry_run\": " << (report.dryRun ? "true" : "false")
      << ", \"interrupted\": " << (report.interrupted ? "true" : "false") << ", \"seconds\": ";
  char seconds[32];
  FormatText(seconds, sizeof seconds, "%.1f", report.seconds);
  out << seconds << ",\n \"folders\": [";
  ImportFolderSummary totals;
  for (size_t i = 0; i < report.folders.size(); ++i) {
    const ImportFolderSummary &f = report.folders[i];
    out << (i ? ",\n  " : "\n  ") << "{\"path\": " << report::JsonText(f.path)
        << ", \"directory\": " << report::JsonText(f.directory) << ", " << CountsJson(f) << "}";
    AddTo(&totals, f);
  }
  out << "],\n \"totals\": {" << CountsJson(totals) << "},\n \"failed_messages\": [";
  for (size_t i = 0; i < report.failures.size(); ++i) {
    const ImportFailure &f = report.failures[i];
    out << (i ? ",\n  " : "\n  ") << "{\"folder\": " << report::JsonText(f.folder)
        << ", \"file\": " << report::JsonText(f.file) << ", \"subject\": " << report::JsonText(f.subject)
        << ", \"reason\": " << report::JsonText(f.reason) << "}";
  }
  out << "]}\n";
  return out.str();
}

int RunImportWithPassword(const HostOptions &host, const LogonOptions &logon,
                          const ImportOptions &options, const std::string &password,
                          ImportReport *report) {
  report->inDir = options.inDir;
  report->server = logon.server;
  report->user = logon.user;
  report->dryRun = options.dryRun;
  std::vector<maildir::FolderSource> folders;
  int rc = SelectFolders(options, &folders);
  if (rc != kExitOk) return rc;

  std::vector<std::string> extra;
  if (!logon.trustedKey.empty()) extra = {"/TRUSTED", "/GWAPPKEY", logon.trustedKey};
  rc = SetUpHost(host, extra);
  if (rc != kExitOk) return rc;
  char workDir[256];
  com_GetGlobal(kGlobalWorkDir, workDir);

  PluginApi api;
  if (!options.dryRun) {
    std::string error;
    std::string path = host.pluginPath.empty() ? DefaultPluginPath() : host.pluginPath;
    if (LoadPlugin(path, {"Logon", "Logoff", "InitWrite", "WriteMsg", "CloseWrite"}, &api, &error) != 0) {
      std::cerr << "mvmigrate: " << error << "\n";
      mvcom_Shutdown();
      return kExitSoftware;
    }
    rc = LogonForImport(api, logon, password);
    if (rc != kExitOk) {
      UnloadPlugin(&api);
      mvcom_Shutdown();
      return rc;
    }
  }

  RecordPtr record(static_cast<HostMessage *>(calloc(1, sizeof(HostMessage))));
  ImportRun run;
  run.options = &options;
  run.api = options.dryRun ? nullptr : &api;
  run.stateScope = logon.server + "|" + logon.user + "|";
  run.workDir = workDir;
  run.record = record.get();
  run.report = report;
  run.display = progress::MakeProgressDisplay(stderr);
  run.started = std::chrono::steady_clock::now();
  gStopRequested = 0;
  void (*previous)(int) = std::signal(SIGINT, &RequestStop);
  for (const maildir::FolderSource &folder : folders) {
    if (gStopRequested) {
      report->interrupted = true;
      break;
    }
    ImportFolder(&run, folder);
  }
  std::signal(SIGINT, previous);
  progress::ClearProgress(&run.display);
  report->seconds = Elapsed(run);
  record.reset();
  if (!options.dryRun) {
    api.Logoff(0);
    UnloadPlugin(&api);
  }
  mvcom_Shutdown();
  return ImportExitCode(*report);
}

int RunImport(const HostOptions &host, const LogonOptions &logon, const ImportOptions &options) {
  std::string password, error;
  if (!options.dryRun && ReadPassword(logon, &password, &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    return kExitUsage;
  }
  ImportReport report;
  int rc = RunImportWithPassword(host, logon, options, password, &report);
  if (rc != kExitOk && rc != kExitImportFailed && rc != kExitImportInterrupted) return rc;
  std::cout << FormatImportSummary(report);
  if (!options.reportPath.empty() && WriteTextFile(options.reportPath, FormatImportJson(report), &error) != 0) {
    std::cerr << "mvmigrate: " << error << "\n";
    return kExitCantCreate;
  }
  return rc;
}
