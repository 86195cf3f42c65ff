// Address elements of an answer: one sender, recipient or organizer element
// read into a name, an address and a reply state, and the recipient list of
// a HostMessage grown by one entry.
#pragma once

#include <cstdio>

struct HostMessage;

enum {
  kAddressValueMax = 250,  // characters kept of a name, an address or a distribution type
};

// Reply states set by ParseAddress.
enum {
  kReplyNone = 0,
  kReplyAccepted = 1,
  kReplyDeclined = 2,
  kReplyReplied = 3,
};

// Reads the lines of one address element from file (positioned after its
// opening tag) up to "</gwt:ELEMENT>" or the end of the file. name and
// address receive at most 250 characters each (buffers of at least 251
// bytes), distType at most 250 ("" when absent; may be null), status the
// reply state (accepted unless a reply element says otherwise; none while
// gSession.lastOrganizer, when not empty, is the user's own address). name
// and address keep their contents when the element has no such value.
// Cannot fail.
void ParseAddress(FILE *file, char *name, char *address, const char *elementName,
                  char *distType, int *status);

// At a "<gwt:recipient>" line: appends one HostRecipient to record (kind 3
// To, 11 CC, 12 BCC). Nothing is added (and the element is left unread) when
// the list holds 5000 entries or the host cannot allocate one.
void AddRecipient(FILE *file, HostMessage *record);

// Tidy a display name or an address in place (texts of at most 250
// characters are kept within their buffer).
void CleanName(char *text);
void CleanAddress(char *text);
