// The recurrence rule of a created appointment: the host's recurrence
// fields as the <rrule> element, with a count of occurrences in every case.
#pragma once

#include <cstdio>

struct HostMessage;

// The number of occurrences written for record's rule: its count when the
// rule ends after a count, else an estimate from the span of days the rule
// covers (at least 1).
int RecurrenceCount(const HostMessage *record);

// Writes "<rrule>...</rrule>" for record into the open request file.
void BuildRecurrenceRule(const HostMessage *record, FILE *request);
