// The waits between transfer attempts: Sleep, unless a test has put a hook
// in its place to note the waits instead of sitting through them.
#pragma once

#include <cstdint>

// Called instead of sleeping, with the milliseconds of the wait.
typedef void (*RetryWaitFn)(uint32_t milliseconds);

// Installs the hook; null restores the real Sleep.
void SetRetryWait(RetryWaitFn wait);

// Waits the milliseconds (or hands them to the hook). Cannot fail.
void RetryWait(uint32_t milliseconds);
