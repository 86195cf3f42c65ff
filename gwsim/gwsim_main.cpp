// gwsim: serves a simulated GroupWise Web Services mailbox on 127.0.0.1
// until SIGINT or SIGTERM.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include <CLI/CLI.hpp>

#include "gwsim/gwsim.h"
#include "gwsim/task_samples.h"
#include "gwsim/mailbox.h"
#include "platform/file_guard.h"

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

void OnSignal(int) { gStopRequested = 1; }

// The user whose mailbox --generate-* fills: alice in the demo mailbox,
// else the first user of the fixture.
std::string GenerationTarget(gwsim::Mailbox &mailbox) {
  if (mailbox.FindUser("alice") != nullptr) return "alice";
  return mailbox.users.empty() ? "" : mailbox.users.front().name;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"gwsim: a GroupWise Web Services simulator on 127.0.0.1"};
  gwsim::Options options;
  options.port = 7191;
  int folderCount = 0;
  int itemCount = 0;
  int taskCount = 0;
  int appointmentCount = 0;
  int contactCount = 0;
  gwsim::GeneratedAttachments attachments;
  int64_t hugeAttachment = 0;
  app.add_option("--port", options.port, "port to listen on (0: any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_flag("--tls", options.tls, "serve HTTPS with a self-signed certificate");
  std::string certOut;
  app.add_option("--cert-out", certOut, "with --tls: write the certificate (PEM) to FILE, for clients to trust");
  app.add_option("--mailbox", options.mailboxFile, "fixture file (default: the demo mailbox)");
  app.add_option("--generate-folders", folderCount, "add N generated folders")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--generate-items", itemCount, "add M generated mail items")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--generate-tasks", taskCount, "add N generated tasks to the Checklist")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--generate-appointments", appointmentCount,
                 "add N generated appointments with attendees (every fifth a weekly series)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--generate-contacts", contactCount, "add N generated contacts")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--attachments-per-item", attachments.perItem,
                 "K attachments on every generated mail")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--attachment-size", attachments.size,
                 "BYTES in each generated attachment (made on demand)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--originals", attachments.originals,
               "every generated mail a message id and its original message (Mime.822)");
  app.add_option("--huge-attachment", hugeAttachment,
                 "one generated mail with one attachment of BYTES (same as --generate-items 1 "
                 "--attachments-per-item 1 --attachment-size BYTES)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--base64-line-length", options.answers.base64LineLength,
                 "break base64 of bodies and attachments every N characters (0: never)");
  app.add_option("--piece-cap", options.answers.pieceCap,
                 "getAttachmentRequest returns at most BYTES per answer (0: what was asked)");
  app.add_flag("--no-part-past-end", options.answers.noPartPastEnd,
               "a getAttachmentRequest at or past the end gets no part (default: an empty one)");
  app.add_option("--shown-size-cut", options.answers.shownSizeCut,
                 "attachments show their size less BYTES (-1: no gwt:size at all)");
  app.add_option("--random-faults", options.randomFaults.percent,
                 "break PERCENT of the requests at random: HTTP errors, busy answers, redirects, cut or "
                 "closed answers, HTML pages, Faults with HTTP 200, nonzero codes, odd chunks")
      ->check(CLI::Range(0, 100));
  app.add_option("--fault-seed", options.randomFaults.seed, "seed of --random-faults (default 1)");
  app.add_option("--faults-until", options.randomFaults.lastRequest,
                 "--random-faults only up to request N (counted from the start; 0: no end)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--ignore-offset", options.answers.ignoreOffset,
               "getAttachmentRequest always reads from the start, whatever <offset> says");
  app.add_flag("--body-id-end-tag", options.answers.bodyIdEndTag,
               "a body sent by id comes as <gwt:part ..></gwt:part> instead of self-closed");
  app.add_flag("--body-id-first", options.answers.bodyIdFirst,
               "a body sent by id lists id before contentType");
  app.add_flag("--no-body-length", options.answers.noBodyLength,
               "a body sent by id has no length attribute");
  CLI11_PARSE(app, argc, argv);
  if (hugeAttachment > 0) {
    itemCount = 1;
    attachments.perItem = 1;
    attachments.size = hugeAttachment;
  }

  gwsim::Server server(options);
  if (!server.LastError().empty()) {  // the mailbox file did not load
    fprintf(stderr, "gwsim: %s\n", server.LastError().c_str());
    return 1;
  }
  if (folderCount > 0 || itemCount > 0) {
    auto lock = server.mailbox().Lock();
    std::string target = GenerationTarget(server.mailbox());
    if (!gwsim::GenerateMailbox(&server.mailbox(), target, folderCount, itemCount,
                                attachments)) {
      fprintf(stderr, "gwsim: no user to generate the mailbox for\n");
      return 1;
    }
  }
  // The generators of the other item kinds: count, generator, what is missing when it fails.
  const struct {
    int count;
    bool (*generate)(gwsim::Mailbox *, const std::string &, int);
    const char *failure;
  } kindGenerators[] = {
      {taskCount, gwsim::GenerateTasks, "no user to generate the tasks for"},
      {appointmentCount, gwsim::GenerateAppointments, "no user with a Calendar to generate appointments for"},
      {contactCount, gwsim::GenerateContacts, "no user to generate the contacts for"},
  };
  for (const auto &g : kindGenerators) {
    if (g.count <= 0) continue;
    auto lock = server.mailbox().Lock();
    if (!g.generate(&server.mailbox(), GenerationTarget(server.mailbox()), g.count)) {
      fprintf(stderr, "gwsim: %s\n", g.failure);
      return 1;
    }
  }
  if (!server.Start()) {
    fprintf(stderr, "gwsim: %s\n", server.LastError().c_str());
    return 1;
  }
  if (!certOut.empty()) {
    FilePtr out = OpenFile(certOut.c_str(), "w");
    const std::string pem = server.CertificatePem();
    if (!out || fputs(pem.c_str(), out.get()) == EOF || fflush(out.get()) != 0) {
      fprintf(stderr, "gwsim: cannot write %s\n", certOut.c_str());
      return 1;
    }
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  printf("%s\n", server.url().c_str());
  fflush(stdout);
  while (gStopRequested == 0) {
    struct timespec pause = {0, 100 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  server.Stop();
  fprintf(stderr, "gwsim: stopped after %zu requests\n", server.RequestCount());
  return 0;
}
