// The recurrence-key list of the calendar reader: a hash set that grows as
// long as memory lasts.
#include "reader/recurrence_keys.h"

#include <new>

#include "plugin/mvcom.h"

RecurrenceKeyList gRecurrenceKeys;

void ClearRecurrenceKeys() { gRecurrenceKeys.keys.clear(); }

int ContainsRecurrenceKey(int32_t key) { return gRecurrenceKeys.keys.count(key) != 0; }

int AddRecurrenceKey(int32_t key) {
  try {
    gRecurrenceKeys.keys.insert(key);
  } catch (const std::bad_alloc &) {
    com_Log("MV Warning: too many recurring entries");
    return 0;
  }
  return 1;
}

int RecurrenceKeyCount() { return static_cast<int>(gRecurrenceKeys.keys.size()); }
