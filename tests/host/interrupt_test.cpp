// Ctrl-C during a migration: the first asks for a stop after the current
// item and the program goes on; the second ends it at once.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "host/mvmigrate/interrupt.h"

namespace {

TEST(InterruptTest, FirstCtrlCAsksForAStopSecondEndsTheProgram) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstallInterrupt();
    if (InterruptRequested()) _exit(2);
    raise(SIGINT);
    if (!InterruptRequested()) _exit(3);  // the first only asks
    raise(SIGINT);
    _exit(4);  // not reached: the second ends the program
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
  EXPECT_EQ(SIGINT, WTERMSIG(status));

  // A new run starts with no request, and the old handler comes back after it.
  InstallInterrupt();
  EXPECT_EQ(0, InterruptRequested());
  RestoreInterrupt();
  struct sigaction current = {};
  sigaction(SIGINT, nullptr, &current);
  EXPECT_EQ(SIG_DFL, current.sa_handler);
}

}  // namespace
