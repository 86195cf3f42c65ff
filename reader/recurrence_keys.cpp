// The recurrence-key list of the calendar reader: a fixed array searched
// linearly (at most 20000 keys per session).
#include "reader/recurrence_keys.h"

#include "plugin/mvcom.h"

RecurrenceKeyList gRecurrenceKeys;

void ClearRecurrenceKeys() { gRecurrenceKeys.count = 0; }

int ContainsRecurrenceKey(int32_t key) {
  for (int32_t i = 0; i < gRecurrenceKeys.count; ++i) {
    if (gRecurrenceKeys.keys[i] == key) return 1;
  }
  return 0;
}

int AddRecurrenceKey(int32_t key) {
  if (gRecurrenceKeys.count >= kMaxRecurrenceKeys) {
    com_Log("MV Warning: too many recurring entries");
    return 0;
  }
  gRecurrenceKeys.keys[gRecurrenceKeys.count++] = key;
  return 1;
}
