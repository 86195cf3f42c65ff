// The waits between transfer attempts, replaceable by tests.
#include "transport/retry_wait.h"

#include "platform/win_compat.h"

namespace {

RetryWaitFn gRetryWait = nullptr;

}  // namespace

void SetRetryWait(RetryWaitFn wait) { gRetryWait = wait; }

void RetryWait(uint32_t milliseconds) {
  if (gRetryWait != nullptr) {
    gRetryWait(milliseconds);
    return;
  }
  Sleep(milliseconds);
}
