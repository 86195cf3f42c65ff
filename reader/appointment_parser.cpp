// ParseAppointment: one appointment's getItemResponse into the host's
// record: fields, organizer and attendees, the recurrence rule and the
// further occurrences of a series, dates, bodies and attachments.
#include "reader/calendar_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "folders/category_table.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/win_compat.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/address_reading.h"
#include "reader/attachments.h"
#include "reader/body_conversion.h"
#include "reader/recurrence_keys.h"
#include "transport/answer_store.h"
#include "transport/response_scanner.h"

namespace {

enum {
  kLineSize = 2000,
  kValueSize = 2000,
  kTitleChars = 256,
  kPathSize = kDirSize + 64,
};


// ---- the item ----

// What one ParseAppointment call keeps besides the record.
struct AppointmentScan {
  HostMessage *record;
  FILE *file;
  int inFlags;
  int isTask;
  int furtherOccurrence;
  int byMonthDay;     // a byMonthDay list was seen: day values are month days
  int inBySetPos;
  int failed;         // a body or an attachment could not be fetched
  int attachmentsFull;
  FILETIME defaultStart;
  FILETIME allDayStart;
  FILETIME allDayEnd;
};

// Texts of the value rows, read through one tag table.
struct AppointmentValues {
  char title[kValueSize], place[kValueSize], allDay[kValueSize], isPrivate[kValueSize];
  char acceptLevel[kValueSize], category[kValueSize], key[kValueSize];
  char start[kValueSize], end[kValueSize], startDay[kValueSize], endDay[kValueSize];
  char begins[kValueSize], priority[kValueSize];
  int seenTitle, seenPlace, seenAllDay, seenPrivate, seenAcceptLevel, seenCategory, seenKey;
  int seenStart, seenEnd, seenStartDay, seenEndDay, seenBegins, seenPriority;
};

struct WordValue {
  const char *word;
  int value;
};

const WordValue kBusyStates[] = {{"Tentative", 1}, {"Busy", 2}, {"Free", 0}, {"OutOfOffice", 3}};
const WordValue kPriorities[] = {{"High", 2}, {"Low", 0}, {"Standard", 1}};
const WordValue kFrequencies[] = {{"Weekly", 5}, {"Daily", 6}, {"Monthly", 3}, {"Yearly", 1}};
const WordValue kDayBits[] = {{"Sunday", 1},    {"Monday", 2}, {"Tuesday", 4},
                              {"Wednesday", 8}, {"Thursday", 16}, {"Friday", 32},
                              {"Saturday", 64}};

// The value of word in table (case ignored); -1 when it is not there.
template <size_t N>
int LookUp(const WordValue (&table)[N], const char *word) {
  for (const WordValue &entry : table) {
    if (EqualsNoCase(word, entry.word)) return entry.value;
  }
  return -1;
}

void ReadValue(char *line, FILE *file) { ReadElementValue(line, kLineSize, file); }

// The recurrence rule, from the line after "<gwt:rrule>" to "</gwt:rrule>".
void ReadRecurrenceRule(AppointmentScan *scan, char *line) {
  HostMessage *record = scan->record;
  record->recurInterval = 1;
  char frequency[kValueSize] = "", until[kValueSize] = "", count[kValueSize] = "";
  char interval[kValueSize] = "", month[kValueSize] = "";
  int seenFrequency = 0, seenUntil = 0, seenCount = 0, seenInterval = 0, seenMonth = 0;
  const TagField fields[] = {
      {"<gwt:frequency>", kTagNoCase, frequency, kValueSize, -1, &seenFrequency},
      {"<gwt:until>", kTagNoCase, until, kValueSize, -1, &seenUntil},
      {"<gwt:count>", kTagNoCase, count, kValueSize, -1, &seenCount},
      {"<gwt:interval>", kTagNoCase, interval, kValueSize, -1, &seenInterval},
      {"<gwt:month>", kTagNoCase, month, kValueSize, -1, &seenMonth},
  };
  while (ReadResponseLine(line, kLineSize, scan->file)) {
    if (EqualsNoCase(line, "</gwt:rrule>")) {
      if (record->recurRangeKind == 0 && record->recurCount == 0) record->recurRangeKind = 2;
      break;
    }
    if (EqualsNoCase(line, "<gwt:bySetPos>")) {
      scan->inBySetPos = 1;
    } else if (EqualsNoCase(line, "</gwt:bySetPos>")) {
      scan->inBySetPos = 0;
    } else if (EqualsNoCase(line, "<gwt:byMonthDay>")) {
      scan->byMonthDay = 1;
    } else if (StartsWithNoCase(line, "<gwt:day")) {
      const char *occurrence = strstr(line, "occurrence=");
      if (occurrence != nullptr) {
        record->recurOccurrence = ParseLeadingInt(occurrence + 12);
        if (record->recurKind == 3) record->recurKind = 4;
        if (record->recurKind == 1) record->recurKind = 2;
      }
      ReadValue(line, scan->file);
      if (!scan->byMonthDay && !scan->inBySetPos) {
        for (const WordValue &day : kDayBits) {
          if (com_FindText(line, day.word, 0) != nullptr) record->recurDayMask |= day.value;
        }
      } else {
        record->recurMonthDay = ParseLeadingInt(line);
      }
    } else {
      seenFrequency = seenUntil = seenCount = seenInterval = seenMonth = 0;
      ScanTagTable(line, kLineSize, fields, 5, scan->file);
      if (seenFrequency && LookUp(kFrequencies, frequency) >= 0) {
        record->recurKind = static_cast<int16_t>(LookUp(kFrequencies, frequency));
      }
      if (seenUntil) {
        ParseGWDateTime(until, &record->recurUntil);
        record->recurRangeKind = 1;
      }
      if (seenCount) {
        record->recurCount = ParseLeadingInt(count);
        record->recurRangeKind = 0;
      }
      if (seenInterval) record->recurInterval = ParseLeadingInt(interval);
      // The server counts months from 0, the record from 1. A number that
      // is no month (past 11, negative, past 32 bits) gives none.
      if (seenMonth) {
        const int serverMonth = ParseLeadingInt(month);
        record->recurMonth = serverMonth >= 0 && serverMonth <= 11 ? serverMonth + 1 : 0;
      }
    }
  }
  if (record->recurKind == 6 && record->recurDayMask != 0) record->recurKind = 7;
}

// A further occurrence of a series converted earlier in the session is
// marked; the first one's key is kept.
void CheckRecurrenceKey(AppointmentScan *scan, const char *value) {
  // The server's keys are unsigned 32-bit numbers; the list holds them as
  // the same 32 bits.
  const int32_t key = static_cast<int32_t>(static_cast<uint32_t>(strtoul(value, nullptr, 10)));
  if (gRunSettings.d179) return;
  if (ContainsRecurrenceKey(key)) {
    scan->furtherOccurrence = 1;
  } else {
    AddRecurrenceKey(key);
  }
}

// At "<gwt:standard>": the zone's name when the next line names it.
void ReadTimeZone(AppointmentScan *scan, char *line) {
  if (!ReadResponseLine(line, kLineSize, scan->file) || !EqualsNoCase(line, "<gwt:name>")) return;
  ReadValue(line, scan->file);
  char *end = strstr(line, "</");
  if (end != nullptr) *end = '\0';
  CopyText(scan->record->timeZoneName, sizeof scan->record->timeZoneName, line);
  TrimPartialUtf8(scan->record->timeZoneName);
}

// The rows whose handling reads more than one value line. Returns 1 when
// the line was one of them.
int HandleElementRow(AppointmentScan *scan, char *line) {
  HostMessage *record = scan->record;
  if (StartsWithNoCase(line, "<gwt:alarm")) {
    if (strstr(line, "enabled=\"1") != nullptr || strstr(line, "enabled=\"true") != nullptr) {
      ReadValue(line, scan->file);
      record->alarmSet = 1;
      record->alarmMinutes = ParseLeadingInt(line) / 60;
    }
  } else if (EqualsNoCase(line, "<gwt:from>")) {
    int status = 0;
    ParseAddress(scan->file, record->organizerName, record->organizerAddress, "from", nullptr,
                 &status);
    CopyText(gSession.lastOrganizer, sizeof gSession.lastOrganizer, record->organizerAddress);
  } else if (EqualsNoCase(line, "<gwt:recipient>")) {
    AddRecipient(scan->file, record);
  } else if (EqualsNoCase(line, "<gwt:rrule>")) {
    if (!gRunSettings.d179) ReadRecurrenceRule(scan, line);
  } else if (EqualsNoCase(line, "<gwt:standard>")) {
    ReadTimeZone(scan, line);
  } else if (EqualsNoCase(line, "<gwt:attachment>")) {
    if (scan->attachmentsFull) return 1;
    const int result = GetAttachment(record, scan->file);
    if (result == kAttachFailed) scan->failed = 1;
    if (result == kAttachFull) scan->attachmentsFull = 1;
  } else if (IsTextBodyPart(line)) {
    // The item's own text body, as the mail parser reads it.
    const int rtf = com_FindText(line, "/rtf", 0) != nullptr;
    if (WriteBodyPart(record, scan->file, line, rtf) == 2) scan->failed = 1;
  } else {
    return 0;
  }
  return 1;
}

void ApplyValues(AppointmentScan *scan, AppointmentValues *v) {
  HostMessage *record = scan->record;
  if (v->seenTitle) {
    CopyTextN(record->title, sizeof record->title, v->title, kTitleChars);
    TrimPartialUtf8(record->title);
  }
  if (v->seenPlace) {
    CopyTextN(record->location, sizeof record->location, v->place, kTitleChars);
    TrimPartialUtf8(record->location);
  }
  if (v->seenAllDay && v->allDay[0] == '1') {
    record->allDay = 1;
    record->eventKind = 2;
  }
  if (v->seenPrivate && v->isPrivate[0] == '1') record->isPrivate = 1;
  if (v->seenAcceptLevel && LookUp(kBusyStates, v->acceptLevel) >= 0) {
    record->busyState = static_cast<int16_t>(LookUp(kBusyStates, v->acceptLevel));
  }
  if (v->seenCategory) {
    char name[kCategoryTextSize];
    LookupCategoryName(v->category, name);
    AppendCategoryName(record->categories, name);
  }
  if (v->seenKey) CheckRecurrenceKey(scan, v->key);
  if (v->seenStart) ParseGWDateTime(v->start, &record->startTime);
  if (v->seenEnd) ParseGWDateTime(v->end, &record->endTime);
  if (v->seenStartDay) ParseGWDateTime(v->startDay, &scan->allDayStart);
  if (v->seenEndDay) ParseGWDateTime(v->endDay, &scan->allDayEnd);
  if (v->seenBegins) ParseGWDateTime(v->begins, &scan->defaultStart);
  if (v->seenPriority && LookUp(kPriorities, v->priority) >= 0) {
    record->importance = LookUp(kPriorities, v->priority);
  }
}

void ReadAppointmentLines(AppointmentScan *scan) {
  static char line[kLineSize];
  static AppointmentValues v;
  const TagField fields[] = {
      {"<gwt:subject>", kTagNoCase, v.title, kValueSize, -1, &v.seenTitle},
      {"<gwt:place>", kTagNoCase, v.place, kValueSize, -1, &v.seenPlace},
      {"<gwt:allDayEvent>", kTagNoCase, v.allDay, kValueSize, -1, &v.seenAllDay},
      {"<gwt:private>", kTagNoCase, v.isPrivate, kValueSize, -1, &v.seenPrivate},
      {"<gwt:acceptLevel>", kTagNoCase, v.acceptLevel, kValueSize, -1, &v.seenAcceptLevel},
      {"<gwt:category>", kTagNoCase, v.category, kValueSize, -1, &v.seenCategory},
      {"<gwt:recurrenceKey>", kTagNoCase, v.key, kValueSize, -1, &v.seenKey},
      {"<gwt:startDate>", kTagNoCase, v.start, kValueSize, -1, &v.seenStart},
      {"<gwt:endDate>", kTagNoCase, v.end, kValueSize, -1, &v.seenEnd},
      {"<gwt:startDay>", kTagNoCase, v.startDay, kValueSize, -1, &v.seenStartDay},
      {"<gwt:endDay>", kTagNoCase, v.endDay, kValueSize, -1, &v.seenEndDay},
      {"<gwt:begins>", kTagNoCase, v.begins, kValueSize, -1, &v.seenBegins},
      {"<gwt:priority>", kTagNoCase, v.priority, kValueSize, -1, &v.seenPriority},
  };
  const int fieldCount = static_cast<int>(sizeof fields / sizeof fields[0]);
  while (ReadResponseLine(line, sizeof line, scan->file)) {
    // The order-sensitive tests: the flags block passes its line on, a due
    // date ends the item, and a subject inside the flags is not the title.
    if (EqualsNoCase(line, "<gwt:flags>")) scan->inFlags = 1;
    if (EqualsNoCase(line, "</gwt:flags>")) scan->inFlags = 0;
    if (EqualsNoCase(line, "<gwt:dueDate>")) {
      scan->isTask = 1;
      return;
    }
    if (scan->inFlags && EqualsNoCase(line, "<gwt:subject>")) continue;
    if (HandleElementRow(scan, line)) continue;
    memset(&v, 0, sizeof v);
    if (ScanTagTable(line, sizeof line, fields, fieldCount, scan->file) > 0) ApplyValues(scan, &v);
  }
}

// A text body from the first HTML part that converts, when there is none.
void AddTextFromHtml(HostMessage *record) {
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    if (record->parts[i] != nullptr && record->parts[i]->kind == kPartTextBody) return;
  }
  if (record->partCount >= kMaxParts) return;
  char copy[kPathSize];
  FormatPartFileName(copy, sizeof copy, gSession.workDir, record->msgSeq, record->partCount);
  int converted = 0;
  for (int i = 0; i < record->partCount && !converted; ++i) {
    if (record->parts[i] == nullptr || record->parts[i]->kind != kPartHtmlBody) continue;
    char html[kPathSize];
    FormatPartFileName(html, sizeof html, gSession.workDir, record->msgSeq, i);
    if (com_fcopy(html, copy) == 0 && HtmlToText(copy)) {
      converted = 1;
    } else {
      remove(copy);
    }
  }
  if (!converted) return;
  if (!com_AllocPart(record)) {
    remove(copy);
    return;
  }
  HostPart *part = record->parts[record->partCount];
  part->kind = kPartTextBody;
  CopyText(part->name, sizeof part->name, "Message.txt");
  int64_t size = 0;
  if (com_GetFileSize(copy, &size) != 0) size = 0;
  part->size = static_cast<int32_t>(size);
  ++record->partCount;
}

void SettleDates(const AppointmentScan &scan) {
  HostMessage *record = scan.record;
  if (com_DateIsNull(record->startTime)) record->startTime = scan.defaultStart;
  if (com_DateIsNull(record->endTime)) record->endTime = record->startTime;
  if (record->allDay) {
    if (!com_DateIsNull(scan.allDayStart)) record->startTime = scan.allDayStart;
    if (!com_DateIsNull(scan.allDayEnd)) record->endTime = scan.allDayEnd;
  }
}

void MarkOrganizer(HostMessage *record) {
  const char *d159 = gRunSettings.d159;
  if (d159[0] != '\0' &&
      (EqualsNoCase(d159, record->organizerAddress) || EqualsNoCase(d159, record->organizerName))) {
    record->organizerMatch = 1;
  }
  for (int i = 0; i < record->recipCount && i < kMaxRecipients; ++i) {
    HostRecipient *r = record->recips[i];
    if (r != nullptr && EqualsNoCase(r->address, record->organizerAddress)) {
      r->kind = kRecipOrganizer;
    }
  }
}

}  // namespace

int ParseAppointment(HostMessage *record, const char *responsePath) {
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return kApptNoFile;
  gSession.lastOrganizer[0] = '\0';
  AppointmentScan scan;
  memset(&scan, 0, sizeof scan);
  scan.record = record;
  scan.file = file.get();
  GetSystemTimeAsFileTime(&scan.defaultStart);
  // An appointment without a priority element is of standard priority, not low.
  record->importance = 1;
  ReadAppointmentLines(&scan);
  file.reset();
  if (scan.furtherOccurrence && record->recurKind != 0) return kApptFurtherOccurrence;
  if (scan.isTask) return kApptIsTask;
  if (scan.failed) return kApptFailed;
  SettleDates(scan);
  MarkOrganizer(record);
  AddTextFromHtml(record);
  return kApptParsed;
}
