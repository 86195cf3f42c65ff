// Date services of the host library: the user's date range, null tests,
// differences in minutes and the display text for log lines.
#include <climits>

#include "host/mvcom/mvcom_state.h"
#include "platform/bounded_text.h"

enum { kDateTextCap = 64 };

int com_GetDateRange(int kind, FILETIME *from, FILETIME *to) {
  (void)kind;
  if (from != nullptr) *from = gMvcom.dateFrom;
  if (to != nullptr) *to = gMvcom.dateTo;
  return 0;
}

int com_DateIsNull(FILETIME date) { return FileTimeToU64(date) == 0; }

int com_FTDifference(FILETIME a, FILETIME b) {
  const uint64_t kTicksPerMinute = 600000000ULL;
  uint64_t ua = FileTimeToU64(a), ub = FileTimeToU64(b);
  // Unsigned halves keep the subtraction defined for every pair of dates.
  uint64_t minutes = (ua >= ub ? ua - ub : ub - ua) / kTicksPerMinute;
  if (ua >= ub) return minutes > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(minutes);
  return minutes > static_cast<uint64_t>(INT_MAX) ? INT_MIN : -static_cast<int>(minutes);
}

char *com_DateText(FILETIME date, char *out) {
  if (out == nullptr) return out;
  SYSTEMTIME st;
  char day[32];
  if (com_DateIsNull(date)) {
    CopyText(out, kDateTextCap, "(none)");
  } else if (!FileTimeToSystemTime(&date, &st) || FormatDateUS(&st, day, sizeof day) == 0) {
    CopyText(out, kDateTextCap, "(invalid date)");
  } else {
    FormatText(out, kDateTextCap, "%s %02u:%02u:%02u", day, st.wHour, st.wMinute, st.wSecond);
  }
  return out;
}
