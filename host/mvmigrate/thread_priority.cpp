#include "host/mvmigrate/thread_priority.h"

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// Nice steps below the process's own: a weight about a third of the main
// thread's (nice 5 against nice 0).
const int kHelperNiceSteps = 5;

}  // namespace

void LowerHelperThreadPriority() {
#ifdef __linux__
  // On Linux each thread has a nice value of its own, set through its id.
  const id_t self = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, self);
  if (nice == -1 && errno != 0) return;
  const int lowered = nice + kHelperNiceSteps > 19 ? 19 : nice + kHelperNiceSteps;
  setpriority(PRIO_PROCESS, self, lowered);
#endif
}
