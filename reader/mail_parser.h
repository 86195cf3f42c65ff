// ParseMailItem: one getItemResponse of a mail item into a HostMessage.
#pragma once

struct HostMessage;

// Results of ParseMailItem.
enum {
  kMailStore = 0,   // store the item (also when the file cannot be opened)
  kMailSkip = 1,    // the host's subject exclusion says skip it
  kMailFailed = 2,  // an attachment or body could not be fetched: the item failed
};

int ParseMailItem(HostMessage *record, const char *responsePath);
