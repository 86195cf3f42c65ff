// The mail rules export: the getRuleListResponse turned into the rules file
// "mboxrules.dat" that the host reads.
//
// The file holds one block per rule, every line ended by "\n":
//   Name=<name>
//   Types=<mail> <appointment> <task>      (1 or 0 each)
//   Source=<received> <sent>               (1 or 0 each)
//   Enabled=<1 or 0>
//   Action=<type> <argument>               (0 to 5 lines)
//   Filter=<field> <operator> <value>      (0 to 5 lines)
//   ^
// Actions: Forward and SimpleForward first (argument "DISTTYPE=address;"
// per recipient, joined), then MarkRead, then Move (argument: the folder's
// "^"-joined path, empty when the folder is unknown), then Delete; other
// types are not written. Operators gt and gte are written "larger", lt and
// lte "smaller". Filters whose text contains the marker word kRuleFilterMarker
// ("message": conditions on the message body, which a mail server tests last
// and most slowly) come after the others.
#pragma once

#include <cstddef>
#include <cstdio>

// The marker word: filters whose text contains it end the block.
extern const char kRuleFilterMarker[];

enum {
  kRuleTextSize = 1024,       // one action or filter text
  kRuleValueChars = 250,      // one element value
  kForwardListChars = 2000,   // the joined recipients of a forward action
  kRuleLineSize = 2400,       // the line buffer
  kMaxRuleActions = 5,
  kMaxRuleFilters = 5,
};

// Writes the export file at exportPath from the response at responsePath,
// then deletes the response. Failures to open either file are logged
// ("MV Warning: unable to open %s"); the response then stays.
void ParseRules(const char *responsePath, const char *exportPath);

// Reads one rule from input, whose opening "<gwt:rule " line was just read,
// up to its end tag, and writes its block to exportFile unless the host says
// it was exported before.
void ParseRule(FILE *input, FILE *exportFile);

// Reads one action element (its "<gwt:action>" line just read) into
// actionText (kRuleTextSize bytes): "type argument".
void ParseRuleAction(FILE *input, char *actionText);

// Reads one filter condition element (its "gwt:FilterEntry" line just read)
// into filterText (kRuleTextSize bytes): "field operator value", or "" when
// any of the three is missing.
void ParseFilterEntry(FILE *input, char *filterText);

// Reads the recipient list of a forward action up to "</gwt:recipients>" (or
// the action's end, which it then leaves as the last line read) into
// recipients (capacity cap bytes, at most kForwardListChars characters),
// whole recipients only. Returns 1 when it stopped at the action's end.
int ParseForwardRecipients(FILE *input, char *recipients, size_t cap);

// Reads one recipient (its "<gwt:recipient>" line just read) into recipient
// (kRuleTextSize bytes): "DISTTYPE=address;" (TO when no type is given), or
// "" when the address has no "@".
void ParseForwardRecipient(FILE *input, char *recipient);
