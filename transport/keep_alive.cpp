// The throttled "keepalive" notification of the host during long transfers.
#include "transport/keep_alive.h"

#include <ctime>

#include "plugin/session_state.h"

namespace {

struct KeepAliveState {
  int64_t nextTime;         // earliest time of the next notification
  int transferRunning;      // 1 only while curl_easy_perform runs
  TransferClockFn clock;    // null: time()
};

KeepAliveState gKeepAlive = {0, 0, nullptr};

}  // namespace

void SetTransferClock(TransferClockFn clock) { gKeepAlive.clock = clock; }

int64_t TransferClockNow() {
  if (gKeepAlive.clock != nullptr) return gKeepAlive.clock();
  return static_cast<int64_t>(time(nullptr));
}

void KeepAliveArm() {
  gKeepAlive.nextTime = TransferClockNow() + kKeepAliveIntervalSeconds;
  gKeepAlive.transferRunning = 1;
}

void KeepAliveDisarm() { gKeepAlive.transferRunning = 0; }

void KeepAliveTick() {
  int64_t now = TransferClockNow();
  if (now <= gKeepAlive.nextTime) return;
  gKeepAlive.nextTime = now + kKeepAliveIntervalSeconds;
  if (!gKeepAlive.transferRunning || gSession.hostNotify == nullptr) return;
  int value1 = 0;
  int value2 = 0;
  int stop = 0;
  gSession.hostNotify(0, "keepalive", 0, &value1, &value2, &stop);
}
