// Reading a response file: ReadResponseLine (one tag or text per line,
// trailing blanks removed, text cut before its end tag), element values with
// their references decoded, the "tag line, value on the next line" helper
// every parser uses, and the GroupWise date texts.
#pragma once

#include <cstdio>

#include "platform/win_compat.h"

// Reads one line of at most capacity - 1 bytes; the rest of a longer line is
// read past, never taken for a line of its own. A line that begins with "<"
// is a tag and has its references decoded; any other line is a text and
// comes as it stands ("&lt;gwt:id&gt;"), so that no text can ever compare
// equal to a tag. Returns 1 when a line was read, 0 at end of file.
int ReadResponseLine(char *buffer, int capacity, FILE *file);

// Reads the value line of the element whose opening tag was just read, with
// its references decoded (line breaks the server sent inside the value
// included). An empty element (<gwt:subject></gwt:subject>) has no value
// line: its end tag comes next, and the value is then "". Returns 1 when a
// line was read, 0 at end of file (line then "").
int ReadElementValue(char *line, int capacity, FILE *file);

// How a parser's table entry compares a line with its tag.
enum TagMatch {
  kTagExact,         // whole line, case counts
  kTagNoCase,        // whole line, case ignored
  kTagPrefix,        // line begins with the tag, case counts
  kTagPrefixNoCase,  // line begins with the tag, case ignored
};

int TagMatches(const char *line, const char *tag, TagMatch match);

// One entry of a parser's tag table: when the current line matches `tag`,
// the next line is the element's value and is copied into `value`
// (capacity bytes, at most maxChars characters; maxChars < 0: no limit).
// `seen`, when set, is set to 1 at a match.
struct TagField {
  const char *tag;
  TagMatch match;
  char *value;
  int capacity;
  int maxChars;
  int *seen;
};

// Applies a table to the current line, entries in table order. At a match
// the value line is read into `line` as it stands (replacing the current
// line, so later entries see the value line, as the scanning order
// requires; a text there never matches a tag) and copied, decoded, into the
// entry's field. Returns the number of entries that matched; 0
// leaves line unchanged. At end of file a matched field (and line) becomes "".
int ScanTagTable(char *line, int lineCapacity, const TagField *table, int count, FILE *file);

// Sets *out from an extended (2019-05-02T14:00:00Z, 2019-05-02) or compact
// (20190502T1400) GroupWise date text; leaves it unchanged when the text
// cannot be read or names an impossible date.
void ParseGWDateTime(const char *text, FILETIME *out);
