// Contact and group records for the vCard tests: a record owner that frees
// its lists, and the sample entries the writer and tool tests share.
#pragma once

#include <memory>
#include <string>

#include "plugin/host_message.h"

namespace vcard_test {

// A zeroed record on the heap whose recipient list is freed with it.
struct RecordDeleter {
  void operator()(HostMessage *record) const;
};
using Record = std::unique_ptr<HostMessage, RecordDeleter>;
Record NewRecord();

void AddMember(HostMessage *record, const char *name, const char *address, int kind = kRecipTo);

// Ann Lee of "Alice's Contacts" with every field the reader fills.
Record FullContact();
// Names, organization and a street long enough to fold, with multi-byte
// characters at the fold points and every character that needs escaping.
Record FoldedContact();
// "Project Team": three members with addresses and one without.
Record ProjectGroup();

// The record's non-empty contact fields, one "name=value" line each, in a
// fixed order; members as "member=name <address> kind K".
std::string Dump(const HostMessage &record);

}  // namespace vcard_test
