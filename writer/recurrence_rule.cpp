// BuildRecurrenceRule: the <rrule> of an appointment's createItemRequest.
// GroupWise is given a number of occurrences in every case: a rule that ends
// at a date or never ends gets a count estimated from a span of days.
#include "writer/recurrence_rule.h"

#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"

namespace {

// Recurrence kinds of HostMessage::recurKind.
enum {
  kYearlyByDay = 1,
  kYearlyByWeekDay = 2,
  kMonthlyByDay = 3,
  kMonthlyByWeekDay = 4,
  kWeekly = 5,
  kDaily = 6,
  kDailyWeekDays = 7,
};

enum {
  kRangeByCount = 0,
  kRangeNoEnd = 2,
  kYearsSpanDays = 3650,  // a yearly rule without end covers ten years
  kOtherSpanDays = 1460,  // any other rule four
  kMinutesPerDay = 1440,
};

const char *const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

struct FrequencyRow {
  int kind;
  const char *word;
};
const FrequencyRow kFrequencyWords[] = {
    {kYearlyByDay, "Yearly"}, {kYearlyByWeekDay, "Yearly"}, {kMonthlyByDay, "Monthly"},
    {kMonthlyByWeekDay, "Monthly"}, {kWeekly, "Weekly"},    {kDaily, "Daily"},
    {kDailyWeekDays, "Daily"},
};

int IsYearly(int kind) { return kind == kYearlyByDay || kind == kYearlyByWeekDay; }

int WeekDayCount(int32_t mask) {
  int count = 0;
  for (int bit = 0; bit < 7; ++bit) count += (mask >> bit) & 1;
  return count;
}

// The name of the lowest weekday bit set; "" when none is.
const char *FirstDayName(int32_t mask) {
  for (int bit = 0; bit < 7; ++bit) {
    if ((mask >> bit) & 1) return kDayNames[bit];
  }
  return "";
}

// Days the rule runs for when it is not ended by a count.
int SpanDays(const HostMessage *record) {
  if (record->recurRangeKind == kRangeNoEnd) {
    if (gRunSettings.d340 != 0) return gRunSettings.d340;
    return IsYearly(record->recurKind) ? kYearsSpanDays : kOtherSpanDays;
  }
  FILETIME start = record->recurStart;
  if (com_DateIsNull(start)) start = record->startTime;
  if (com_DateIsNull(start)) GetSystemTimeAsFileTime(&start);
  // A range whose start lies after its end is measured from the
  // appointment's start; either way the distance counts, not its sign.
  if (CompareFileTime(&start, &record->recurUntil) > 0) start = record->startTime;
  long long minutes = com_FTDifference(record->recurUntil, start);
  if (minutes < 0) minutes = -minutes;
  return static_cast<int>((minutes + kMinutesPerDay - 1) / kMinutesPerDay);
}

void WriteMonthDay(const HostMessage *record, FILE *request) {
  fprintf(request, "<byMonthDay>\n<day>%d</day>\n</byMonthDay>\n", record->recurMonthDay);
}

// The server counts months from 0.
void WriteMonth(const HostMessage *record, FILE *request) {
  fprintf(request, "<byMonth>\n<month>%d</month>\n</byMonth>\n", record->recurMonth - 1);
}

void WriteNthWeekDay(const HostMessage *record, FILE *request) {
  fprintf(request, "<byDay>\n<day occurrence=\"%d\">%s</day>\n</byDay>\n",
          record->recurOccurrence, FirstDayName(record->recurDayMask));
}

void WriteWeekDays(const HostMessage *record, FILE *request) {
  fputs("<byDay>\n", request);
  for (int bit = 0; bit < 7; ++bit) {
    if ((record->recurDayMask >> bit) & 1) fprintf(request, "<day>%s</day>\n", kDayNames[bit]);
  }
  fputs("</byDay>\n", request);
}

}  // namespace

int RecurrenceCount(const HostMessage *record) {
  if (record->recurRangeKind == kRangeByCount) return record->recurCount;
  const int span = SpanDays(record);
  int count = 0;
  switch (record->recurKind) {
    case kYearlyByDay:
    case kYearlyByWeekDay:
      count = span / 365;
      break;
    case kMonthlyByDay:
    case kMonthlyByWeekDay:
      count = span / 30;
      break;
    case kWeekly:
      count = (span + 6) / 7 * WeekDayCount(record->recurDayMask);
      break;
    case kDaily:
    case kDailyWeekDays:
      count = span;
      break;
    default:
      break;
  }
  return count == 0 ? 1 : count;
}

void BuildRecurrenceRule(const HostMessage *record, FILE *request) {
  fputs("<rrule>\n", request);
  const char *frequency = "";
  for (const FrequencyRow &row : kFrequencyWords) {
    if (row.kind == record->recurKind) frequency = row.word;
  }
  fprintf(request, "<frequency>%s</frequency>\n", frequency);
  fprintf(request, "<count>%d</count>\n", RecurrenceCount(record));
  if (record->recurInterval != 0) fprintf(request, "<interval>%d</interval>\n", record->recurInterval);
  switch (record->recurKind) {
    case kYearlyByDay:
      WriteMonthDay(record, request);
      WriteMonth(record, request);
      break;
    case kYearlyByWeekDay:
      WriteNthWeekDay(record, request);
      WriteMonth(record, request);
      break;
    case kMonthlyByDay:
      WriteMonthDay(record, request);
      break;
    case kMonthlyByWeekDay:
      WriteNthWeekDay(record, request);
      break;
    case kWeekly:
      WriteWeekDays(record, request);
      break;
    default:
      break;
  }
  fputs("<honorRule>true</honorRule>\n</rrule>\n", request);
}
