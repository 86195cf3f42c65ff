// Ctrl-C handling shared by the commands that migrate items.
#include "host/mvmigrate/interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {

// Read by the import's read-ahead thread too: an atomic, lock-free and so
// safe in the signal handler, rather than a volatile sig_atomic_t, which
// only the thread that takes the signal may read.
std::atomic<int> gRequested{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is set in a signal handler");
struct sigaction gPrevious = {};

void OnInterrupt(int) {
  if (gRequested.load()) {
    signal(SIGINT, SIG_DFL);  // a second Ctrl-C ends at once
    raise(SIGINT);
    return;
  }
  gRequested.store(1);
  const char note[] = "\nmvmigrate: stopping after the current item (Ctrl-C again to quit at once)\n";
  ssize_t ignored = write(STDERR_FILENO, note, sizeof note - 1);
  (void)ignored;
}

}  // namespace

void InstallInterrupt() {
  gRequested.store(0);
  struct sigaction action = {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &gPrevious);
}

void RestoreInterrupt() { sigaction(SIGINT, &gPrevious, nullptr); }

int InterruptRequested() { return gRequested.load(); }
