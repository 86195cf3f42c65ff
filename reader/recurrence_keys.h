// The recurrence-key list: the keys of the recurring appointments already
// converted in this session, so that further occurrences of one are skipped.
// Emptied by each Logon; kept across folders and ConvertFolder calls.
#pragma once

#include <cstdint>
#include <unordered_set>

// The list grows with the mailbox: a full list would make every later
// occurrence of a new series an appointment of its own.
struct RecurrenceKeyList {
  std::unordered_set<int32_t> keys;
};

extern RecurrenceKeyList gRecurrenceKeys;

// Empties the list. Cannot fail.
void ClearRecurrenceKeys();

// 1 when key is in the list, else 0.
int ContainsRecurrenceKey(int32_t key);

// Adds key (a key already there stays once). Returns 1 when kept, 0 when
// memory ran out (then logs "MV Warning: too many recurring entries").
int AddRecurrenceKey(int32_t key);

// Number of keys held.
int RecurrenceKeyCount();
