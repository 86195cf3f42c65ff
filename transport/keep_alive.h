// The keep-alive notification of the host while a transfer runs: the host's
// HostNotify is called with "keepalive" at most once per interval.
#pragma once

#include <cstdint>

enum { kKeepAliveIntervalSeconds = 30 };

// Seconds since 1970; tests may replace the clock (null restores time()).
typedef int64_t (*TransferClockFn)(void);
void SetTransferClock(TransferClockFn clock);
int64_t TransferClockNow();

// Start of a transfer attempt: the next keep-alive is due one interval from
// now, and the transfer-running flag is set.
void KeepAliveArm();

// End of a transfer attempt: clears the transfer-running flag.
void KeepAliveDisarm();

// Called by the response writer for every chunk: once the current time is
// later than the due time, moves the due time one interval on and, while a
// transfer runs and the session has a HostNotify, calls it. Cannot fail.
void KeepAliveTick();
