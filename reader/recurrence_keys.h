// The recurrence-key list: the keys of the recurring appointments already
// converted in this session, so that further occurrences of one are skipped.
// Emptied by each Logon; kept across folders and ConvertFolder calls.
#pragma once

#include <cstdint>

enum { kMaxRecurrenceKeys = 20000 };

struct RecurrenceKeyList {
  int32_t keys[kMaxRecurrenceKeys];
  int32_t count;
};

extern RecurrenceKeyList gRecurrenceKeys;

// Empties the list. Cannot fail.
void ClearRecurrenceKeys();

// 1 when key is in the list, else 0.
int ContainsRecurrenceKey(int32_t key);

// Appends key. Returns 1 when added, 0 when the list is full (then logs
// "MV Warning: too many recurring entries" and keeps the list as it was).
// A key already in the list is added again; callers ask Contains first.
int AddRecurrenceKey(int32_t key);
