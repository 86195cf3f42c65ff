// The contact writer: one GroupWise contact, or one group whose members are
// first created as contacts of their own, in the target container.
#pragma once

#include <cstdio>
#include <string>

struct HostMessage;

// Creates the contact or group (contactFlag 1) of record in the target
// container. A failed write (HTTP status other than 200, or a non-zero
// status code in the answer) is logged and reported to the host. Returns 0.
int CreateContact(HostMessage *record, void *unused, const char *partDirectory);

// Writes the group's name and its members into the open request file. Each
// member is created first with AddGroupMember; a member that could not be
// created is left out of the group and reported, the others go on.
void WriteGroup(const HostMessage *record, FILE *request);

// Creates one contact for a group member in the target container and puts
// its new id into *memberId (emptied first). Returns 0 when the contact was
// created and the answer carried its id; non-zero otherwise (logged and
// reported to the host).
int AddGroupMember(const char *name, const char *address, std::string *memberId);

// Writes one element when value is not empty: at most 2000 bytes of it,
// escaped, as "<name type=\"type\">\nvalue\n</name>\n" when type is not
// empty, else "<name>value</name>\n".
void WriteXmlElement(FILE *request, const char *name, const char *value, const char *type);
