// The built mvmigrate as the end-to-end tests run it: to its end, or as a
// child process that a test kills at the moment it chooses.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/host_fixture.h"

namespace testing_support {

// mvmigrate with args (shell words, quoted by the caller), run to its end;
// env, when given, is set for it ("NAME=value ...").
inline RunResult RunMvmigrate(const std::string &args, const std::string &env = "") {
  return RunCommand((env.empty() ? "" : env + " ") + "'" + std::string(MVMIGRATE_PATH) + "' " + args);
}

// mvmigrate with args as a child process with its output dropped: the
// child's id, or -1 when none could be started.
inline pid_t StartMvmigrate(const std::string &args) {
  const std::string cmd = "exec '" + std::string(MVMIGRATE_PATH) + "' " + args + " >/dev/null 2>&1 </dev/null";
  pid_t child = fork();
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  return child;
}

// Kills a child started by StartMvmigrate and waits for it to end.
inline void KillNow(pid_t child) {
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
}

}  // namespace testing_support
