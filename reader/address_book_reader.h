// The address-book reader: every entry of one book fetched, turned into a
// contact or group record (kind 1) and handed to the host.
#pragma once

#include <cstddef>

#include "plugin/mv_api.h"

struct HostMessage;

// Reads the address book at folderIndex of the folder table: lists its
// entries, fetches and parses each one and hands it to the host through
// saveItem and itemNotify. An entry the server would not give is reported
// (kExtErrorItemFailed), notified with status 6 and neither stored nor
// recorded as migrated, so a later run fetches it again. *storedCount (may be
// null) receives the number of entries the host stored. readerArg and
// sortName are not read. Returns 0.
int ReadAddressBook(HostMessage *record, SaveItemFn saveItem, void *readerArg,
                    const char *workDir, int *storedCount, ItemNotifyFn itemNotify,
                    int folderIndex, const char *sortName);

// Fills record from the saved getItemResponse of one contact, group or
// organization. Returns non-zero when the entry has a title, a primary
// e-mail address, a first, last or contact name; 0 when it has none of them
// or the file cannot be opened.
int ParseContact(HostMessage *record, const char *responsePath);

// Appends one group member (kind, name and address cut to 250 characters,
// status) unless the record holds 5000 recipients or the host cannot
// allocate one.
void AddMemberRecipient(HostMessage *record, int kind, const char *name, const char *address,
                        int status);
