// Reading a response file: one line per tag or text, the "tag line, value
// on the next line" table scan that every parser uses, and GroupWise dates.
#include "transport/response_scanner.h"

#include <cstring>
#include <string>

#include "platform/bounded_text.h"
#include "plugin/mvcom.h"

namespace {

// Reads past the rest of a line that did not fit its buffer. Returns 1 when
// text was passed over (not only the line end).
int SkipRestOfLine(FILE *file) {
  int skipped = 0;
  int c;
  while ((c = getc(file)) != EOF && c != '\n') {
    if (c != '\r') skipped = 1;
  }
  return skipped;
}

// A text cut at its bound never ends in half a reference ("&am") or half a
// UTF-8 character.
void DropCutEnd(char *text) {
  char *amp = strrchr(text, '&');
  if (amp != nullptr && strchr(amp, ';') == nullptr) *amp = '\0';
  TrimPartialUtf8(text);
}

// Decodes a text line in place: references, then the blanks and line ends
// they may have left at the end.
void DecodeText(char *text) {
  com_Unescape(text);
  com_rtrim(text);
}

// Copies a value with at most maxChars bytes (maxChars < 0: no limit),
// never ending inside a UTF-8 sequence that was cut.
void CopyValue(char *value, int capacity, int maxChars, const char *line) {
  if (value == nullptr || capacity <= 0) return;
  size_t length = strlen(line);
  if (maxChars >= 0 && length > static_cast<size_t>(maxChars)) {
    CopyTextN(value, static_cast<size_t>(capacity), line, static_cast<size_t>(maxChars));
    TrimPartialUtf8(value);
    return;
  }
  size_t copied = CopyText(value, static_cast<size_t>(capacity), line);
  if (copied < length) TrimPartialUtf8(value);
}

// The line after an element's start tag, as it stands; its end tag (an
// empty element) gives "".
int ReadValueLine(char *line, int capacity, FILE *file) {
  if (!ReadResponseLine(line, capacity, file)) {
    if (capacity > 0) line[0] = '\0';
    return 0;
  }
  if (line[0] == '<' && line[1] == '/') line[0] = '\0';
  return 1;
}

}  // namespace

int ReadResponseLine(char *buffer, int capacity, FILE *file) {
  if (buffer == nullptr || capacity < 2 || file == nullptr) return 0;
  if (fgets(buffer, capacity, file) == nullptr) return 0;
  const size_t length = strlen(buffer);
  const int cut = length > 0 && buffer[length - 1] != '\n' && SkipRestOfLine(file);
  com_LineTerminate(buffer);
  // Only a line that begins with "<" in the answer is markup: the writer
  // keeps every text run on one line, and a text has no "<" of its own.
  const int tag = buffer[0] == '<';
  if (cut && !tag) DropCutEnd(buffer);
  // A text that shares its line with its end tag (a network chunk ended
  // right after the start tag) keeps only the text. The search starts at
  // the second byte, so that a line that is itself an end tag stays whole
  // while a one-character text still loses its end tag.
  if (buffer[0] != '\0') {
    char *endTag = strstr(buffer + 1, "</");
    if (endTag != nullptr) *endTag = '\0';
  }
  if (tag) com_Unescape(buffer);
  com_rtrim(buffer);
  return 1;
}

int TagMatches(const char *line, const char *tag, TagMatch match) {
  if (line == nullptr || tag == nullptr) return 0;
  switch (match) {
    case kTagExact:
      return strcmp(line, tag) == 0;
    case kTagNoCase:
      return EqualsNoCase(line, tag);
    case kTagPrefix:
      return StartsWith(line, tag);
    case kTagPrefixNoCase:
      return StartsWithNoCase(line, tag);
  }
  return 0;
}

int ReadElementValue(char *line, int capacity, FILE *file) {
  const int read = ReadValueLine(line, capacity, file);
  if (line[0] != '<') DecodeText(line);
  return read;
}

int ScanTagTable(char *line, int lineCapacity, const TagField *table, int count, FILE *file) {
  int matched = 0;
  for (int i = 0; i < count; ++i) {
    const TagField &field = table[i];
    if (!TagMatches(line, field.tag, field.match)) continue;
    ++matched;
    // The line keeps the value as it stands, so that neither a later entry
    // nor the parser after the scan can take a text for a tag.
    ReadValueLine(line, lineCapacity, file);
    if (line[0] == '<') {
      CopyValue(field.value, field.capacity, field.maxChars, line);
    } else {
      std::string text(line);
      DecodeText(&text[0]);
      CopyValue(field.value, field.capacity, field.maxChars, text.c_str());
    }
    if (field.seen != nullptr) *field.seen = 1;
  }
  return matched;
}

namespace {

// Calendar fields to the file time; the output is left alone when a field
// is out of range or the date is impossible.
void SetFromFields(int year, int month, int day, int hour, int minute, int second, FILETIME *out) {
  const int fields[] = {year, month, day, hour, minute, second};
  for (int v : fields) {
    if (v < 0 || v > 0xFFFF) return;
  }
  SYSTEMTIME st = {};
  st.wYear = static_cast<uint16_t>(year);
  st.wMonth = static_cast<uint16_t>(month);
  st.wDay = static_cast<uint16_t>(day);
  st.wHour = static_cast<uint16_t>(hour);
  st.wMinute = static_cast<uint16_t>(minute);
  st.wSecond = static_cast<uint16_t>(second);
  st.wMilliseconds = 0;
  SystemTimeToFileTime(&st, out);
}

void ParseExtendedDate(const char *text, FILETIME *out) {
  int year = ParseLeadingInt(text);
  const char *dash1 = strchr(text, '-');
  int month = ParseLeadingInt(dash1 + 1);
  const char *dash2 = strchr(dash1 + 1, '-');
  if (dash2 == nullptr) return;
  int day = ParseLeadingInt(dash2 + 1);
  int hour = 12;
  int minute = 0;
  int second = 0;
  const char *t = strchr(dash2 + 1, 'T');
  if (t != nullptr) {
    hour = ParseLeadingInt(t + 1);
    const char *colon1 = strchr(t + 1, ':');
    if (colon1 == nullptr) return;
    minute = ParseLeadingInt(colon1 + 1);
    const char *colon2 = strchr(colon1 + 1, ':');
    if (colon2 == nullptr) return;
    second = ParseLeadingInt(colon2 + 1);
  }
  SetFromFields(year, month, day, hour, minute, second, out);
}

// The number in text[offset .. offset + width), 0 when the text is shorter.
int CompactField(const char *text, size_t length, size_t offset, size_t width) {
  if (offset >= length) return 0;
  char field[8];
  CopyTextN(field, sizeof field, text + offset, width);
  return ParseLeadingInt(field);
}

void ParseCompactDate(const char *text, FILETIME *out) {
  size_t length = strlen(text);
  int year = CompactField(text, length, 0, 4);
  int month = CompactField(text, length, 4, 2);
  int day = CompactField(text, length, 6, 2);
  int hour = CompactField(text, length, 9, 2);
  int minute = CompactField(text, length, 11, 2);
  SetFromFields(year, month, day, hour, minute, 0, out);
}

}  // namespace

void ParseGWDateTime(const char *text, FILETIME *out) {
  if (text == nullptr || out == nullptr) return;
  if (strchr(text, '-') != nullptr) {
    ParseExtendedDate(text, out);
  } else {
    ParseCompactDate(text, out);
  }
}
