// mvmigrate: the host program that loads the MVGWS plug-in and drives it.
#include <CLI/CLI.hpp>

#include <iostream>

#include "host/mvmigrate/commands.h"
#include "host/mvmigrate/export_command.h"
#include "host/mvmigrate/host_setup.h"
#include "host/mvmigrate/import_command.h"
#include "host/mvmigrate/private_files.h"

#ifndef MVGWS_VERSION
#define MVGWS_VERSION "0"
#endif

namespace {

const char kFooter[] = R"(Switches are handed to the plug-in as host parameters, in order: the
switches file first, then every --switch. A value follows its switch:
  mvmigrate --switch /DEBUG --switch /GN --switch Archive folders ...
The password is never taken from the command line: --password-file FILE,
else the environment variable MVMIGRATE_PASSWORD, else a prompt. The
password file and the --trusted-key file must be owner-only (chmod 600).
Everything mvmigrate writes is owner-only; --report - prints the report.

Exit codes:
  0  done
  64 usage error                      69 server unreachable or not answering
  66 an input file cannot be opened   70 plug-in missing or lacking an entry point
  73 an output file cannot be created 76 the server's answer could not be used
  77 logon refused (user or password) 78 log, state or filters cannot be set up,
                                         or a password or key file open to others
  75 export: some items failed (listed in the summary; --retry-failed takes them again)
  75 import: some items failed (listed in the summary; a rerun retries them)
  130 export, import: stopped by Ctrl-C after the current item (run again to go on))";

void AddLogonOptions(CLI::App *cmd, LogonOptions *logon) {
  cmd->add_option("--server", logon->server, "GroupWise Web Services address, e.g. https://gw:7191")
      ->required();
  cmd->add_option("--user", logon->user, "user id; \"alice for bob\" opens bob's mailbox as alice")
      ->required();
  cmd->add_option("--password-file", logon->passwordFile, "file whose first line is the password");
  cmd->add_option("--trusted-key", logon->trustedKey,
                  "log on as a trusted application with this key file (name, then key)");
  cmd->add_flag("--all-address-books", logon->allAddressBooks,
                "offer every address book, not only personal ones");
  cmd->add_flag("--tls-verify", logon->tlsVerify,
                "check the server's certificate and name against the system's certificate authorities");
  cmd->add_option("--tls-ca-file", logon->tlsCaFile,
                  "check the server's certificate against the certificates in this PEM file");
}

}  // namespace

int main(int argc, char **argv) {
  MakeCreatedFilesPrivate();
  CLI::App app{"mvmigrate: migrate GroupWise mailboxes through the MVGWS plug-in"};
  app.set_version_flag("--version", "mvmigrate " MVGWS_VERSION);
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();

  HostOptions host;
  app.add_option("--plugin", host.pluginPath, "plug-in library (default: libMVGWS.so beside mvmigrate)");
  app.add_option("--switch", host.switches, "an option switch or value for the plug-in (repeatable)")
      ->allow_extra_args(false);
  app.add_option("--switches-file", host.switchesFile, "file of switches, one per line");
  app.add_option("--out", host.outDir, "output directory")->capture_default_str();
  app.add_option("--data-dir", host.dataDir, "data directory: log, state, debug copies (default OUT/data)");
  app.add_option("--work-dir", host.workDir, "work directory for temporary files (default OUT/work)");
  app.add_option("--from", host.from, "take items created on or after this date (YYYY-MM-DD)");
  app.add_option("--to", host.to, "take items created on or before this date (YYYY-MM-DD)");
  app.add_option("--exclude-subject", host.excludeSubjects, "skip items whose subject matches (regex, repeatable)")
      ->allow_extra_args(false);
  app.add_option("--address-map", host.addressMap, "CSV file of old,new addresses");
  app.add_flag_function(
      "-v,--verbose", [&](int64_t count) { host.verbosity = count >= 2 ? 3 : 2; },
      "show the log's lines on stderr too (-vv: debug lines as well)");
  app.add_flag("--log-scrambled-password", host.logScrambledPassword,
               "write the password scrambled into the logon line of the log (default \"*****\")");
  app.add_flag_callback("-q,--quiet", [&] { host.verbosity = 0; }, "show only errors on stderr");

  std::string userIn, userOut;
  CLI::App *userlist = app.add_subcommand("userlist", "convert a UTF-16LE user list into address;address;name lines");
  userlist->add_option("IN", userIn, "user list (UTF-16LE)")->required();
  userlist->add_option("OUT", userOut, "output file")->required();

  LogonOptions logon;
  bool json = false;
  CLI::App *folders = app.add_subcommand("folders", "log on and print the mailbox's folder tree");
  AddLogonOptions(folders, &logon);
  folders->add_flag("--json", json, "print one JSON array instead of the tree");

  LogonOptions exportLogon;
  ExportOptions exportOptions;
  CLI::App *exporter = app.add_subcommand(
      "export", "export every folder whose class has a format (mail into Maildirs under OUT/mail/, ...)");
  AddLogonOptions(exporter, &exportLogon);
  exporter->add_option("--folder", exportOptions.folders, "only this folder (\"Cabinet^Projects\") and its subfolders; repeatable")
      ->allow_extra_args(false);
  exporter->add_option("--max-attach-size", exportOptions.maxAttachKB, "leave out attachments above this many KB");
  exporter->add_flag("--dry-run", exportOptions.dryRun, "list the folders and their counts, export nothing");
  exporter->add_flag("--retry-failed", exportOptions.retryFailed,
                     "export only the items the last run listed as failed, and the folders it could not list whole");
  exporter->add_option("--report", exportOptions.reportPath,
                       "write the run's report as JSON to this file (\"-\": standard output)");
  bool noRules = false, noOriginals = false, noWriterThread = false;
  exporter->add_flag("--no-originals", noOriginals,
                     "write received mail converted from GroupWise's record, not as it arrived");
  exporter->add_flag("--no-rules", noRules, "leave the mail rules out (else OUT/rules/: the rules file and rules.sieve)");
  exporter->add_flag("--no-writer-thread", noWriterThread,
                     "write each item before the next is fetched (else a second thread writes while the next is fetched)");

  LogonOptions importLogon;
  ImportOptions importOptions;
  CLI::App *importer = app.add_subcommand(
      "import", "write what every format finds below DIR (a Maildir tree in DIR/mail/ or DIR, ...) into a mailbox");
  AddLogonOptions(importer, &importLogon);
  importer->add_option("--in", importOptions.inDir, "DIR: mail in DIR/mail/ when it exists, else DIR itself")->required();
  importer->add_option("--folder", importOptions.folders, "only this folder (\"Cabinet^Projects\") and its subfolders; repeatable")
      ->allow_extra_args(false);
  importer->add_flag("--dry-run", importOptions.dryRun, "read and convert every item, write nothing, log on to nothing");
  importer->add_option("--report", importOptions.reportPath,
                       "write the run's report as JSON to this file (\"-\": standard output)");
  bool noReadAhead = false;
  importer->add_flag("--no-read-ahead", noReadAhead,
                     "convert each item when its turn comes (else a second thread converts the next while one is written)");

  bool demoTls = false, demoJson = false;
  CLI::App *demo = app.add_subcommand(
      "demo", "export the built-in simulator's demo mailbox (alice) into OUT/mail/, then import it into bob's");
  demo->add_flag("--tls", demoTls, "use HTTPS with a self-signed certificate");
  demo->add_flag("--json", demoJson, "print the two reports as JSON (export, then import) instead of the summary tables");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }

  if (*userlist) return RunUserList(host, userIn, userOut);
  if (*folders) return RunFolders(host, logon, json);
  exportOptions.rules = !noRules;
  exportOptions.originals = !noOriginals;
  exportOptions.writerThread = !noWriterThread;
  if (*exporter) return RunExport(host, exportLogon, exportOptions);
  importOptions.readAhead = !noReadAhead;
  if (*importer) return RunImport(host, importLogon, importOptions);
  if (*demo) return RunExportDemo(host, demoTls, demoJson);
  return kExitUsage;
}
