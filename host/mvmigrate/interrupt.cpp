// Ctrl-C handling shared by the commands that migrate items.
#include "host/mvmigrate/interrupt.h"

#include <csignal>
#include <unistd.h>

namespace {

volatile sig_atomic_t gRequested = 0;
struct sigaction gPrevious = {};

void OnInterrupt(int) {
  if (gRequested) {
    signal(SIGINT, SIG_DFL);  // a second Ctrl-C ends at once
    raise(SIGINT);
    return;
  }
  gRequested = 1;
  const char note[] = "\nmvmigrate: stopping after the current item (Ctrl-C again to quit at once)\n";
  ssize_t ignored = write(STDERR_FILENO, note, sizeof note - 1);
  (void)ignored;
}

}  // namespace

void InstallInterrupt() {
  gRequested = 0;
  struct sigaction action = {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &gPrevious);
}

void RestoreInterrupt() { sigaction(SIGINT, &gPrevious, nullptr); }

int InterruptRequested() { return gRequested; }
