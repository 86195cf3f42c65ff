// The address-book list: the mailbox's address books entered into the
// folder table as records of class 1, each with its counted entries.
#pragma once

// Reads a saved getAddressBookListResponse: adds every personal book (every
// book when allBooks is non-zero) to the folder table, except, with /D70 bit
// 0, books whose description is a shared-book notice; fills /GWCF with the
// first personal book that is not the frequent-contacts book when it is
// empty; then counts each book's entries with a getItemsRequest (a failed
// count keeps the list's count and logs a warning). Returns 1 when the file
// was read, 0 when it cannot be opened (logged; nothing added).
int ParseGWABList(const char *responsePath, int allBooks);

// Number of lines of a response file that begin with "<gwt:id>" (case
// ignored), or 0 when the file cannot be opened.
int CountResponseIds(const char *responsePath);

// 1 when description begins with one of the notices GroupWise puts on a
// book shared with the user (English, German, Czech; case ignored).
int IsSharedBookNotice(const char *description);
