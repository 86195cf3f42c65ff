// The item record exchanged with the host (HostMessage) with its recipient
// and part entries. The layout is shared with the host library: field order
// and widths are binding and checked at compile time below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/bounded_text.h"
#include "platform/win_compat.h"

enum {
  kMaxRecipients = 5000,
  kMaxParts = 500,
};

// Item kinds in HostMessage::itemKind.
enum {
  kItemMail = 0,
  kItemContact = 1,  // contact or group
  kItemAppointment = 2,
  kItemTask = 3,
  kItemSkip = 7,  // WriteMsg passes over it
};

// Recipient kinds in HostRecipient::kind.
enum {
  kRecipTo = 3,
  kRecipCc = 11,
  kRecipBcc = 12,
  kRecipOrganizer = 31,
};

// Part kinds in HostPart::kind.
enum {
  kPartFile = 0,
  kPartTextBody = 1,
  kPartHtmlBody = 9,
};

struct HostRecipient {
  char name[512];
  char address[256];
  int32_t kind;
  int32_t status;  // 0 none, 1 accepted, 2 declined, 3 tentative (replied)
};

struct HostPart {
  char name[512];
  int32_t size;
  int32_t kind;
};

struct HostMessage {
  HostPart *parts[kMaxParts];
  HostRecipient *recips[kMaxRecipients];
  int32_t partCount;
  int32_t recipCount;
  int32_t itemKind;
  char groupFolder[512];
  char fromName[512];
  char fromAddress[1024];
  char subject[512];
  FILETIME sentTime;
  int32_t taskPriority;
  int32_t unread;
  int32_t msgSeq;
  char messageId[400];
  char messageIdCopy[248];
  char firstName[512];
  char lastName[512];
  char title[512];
  char location[512];
  char department[512];
  char manager[512];
  char assistant[512];
  char officePhone[512];
  char homePhone[512];
  char otherPhone[512];
  char faxPhone[512];
  char mobilePhone[512];
  char spouse[512];
  char children[512];
  char organization[512];
  char officeStreet[512];
  char officeStreet2[512];
  char officeCity[512];
  char officeState[512];
  char officePostalCode[512];
  char officeCountry[512];
  char email[768];
  char email2[512];
  char email3[512];
  int32_t contactFlag;
  char pagerPhone[512];
  char website[256];
  char birthday[512];
  char homeStreet[512];
  char homeStreet2[512];
  char homeCity[512];
  char homeState[512];
  char homePostalCode[512];
  char homeCountry[512];
  char categories[512];
  char bookPath[1024];
  char contactName[512];
  int16_t eventKind;
  FILETIME startTime;
  FILETIME endTime;
  int16_t isPrivate;
  int16_t busyState;
  int16_t recurKind;
  int32_t recurInterval;
  int32_t recurOccurrence;
  int32_t recurDayMask;
  int32_t recurMonth;
  int32_t recurMonthDay;
  int32_t recurRangeKind;
  int32_t recurCount;
  FILETIME recurUntil;
  int32_t percentComplete;
  char organizerName[512];
  int32_t alarmSet;
  int32_t alarmMinutes;
  int32_t organizerMatch;
  char organizerAddress[260];
  int32_t allDay;
  int32_t importance;
  char timeZoneName[128];
  FILETIME recurStart;
  int32_t folderItemCount;
  // Host-only fields follow; the plug-in leaves them alone.
  char hostFolder[1024];  // folder name the host stores the item under
};

// Part file of part `index` of item `msgSeq`: "%sPRT%03d%02d.TMP" with the
// directory (ending with a separator) in front. Returns the length written.
inline size_t FormatPartFileName(char *out, size_t cap, const char *directory, int msgSeq,
                                 int index) {
  return FormatText(out, cap, "%sPRT%03d%02d.TMP", directory ? directory : "", msgSeq, index);
}

// ---- layout checks: order and widths of the shared fields ----
namespace host_message_layout {
#define HM_WIDTH(field, bytes) \
  static_assert(sizeof(HostMessage::field) == (bytes), #field " has the wrong width")
#define HM_AFTER(a, b) \
  static_assert(offsetof(HostMessage, a) < offsetof(HostMessage, b), #a " must come before " #b)
HM_WIDTH(parts, kMaxParts * sizeof(void *));
HM_WIDTH(recips, kMaxRecipients * sizeof(void *));
HM_WIDTH(partCount, 4);
HM_WIDTH(recipCount, 4);
HM_WIDTH(itemKind, 4);
HM_WIDTH(groupFolder, 512);
HM_WIDTH(fromName, 512);
HM_WIDTH(fromAddress, 1024);
HM_WIDTH(subject, 512);
HM_WIDTH(sentTime, 8);
HM_WIDTH(taskPriority, 4);
HM_WIDTH(unread, 4);
HM_WIDTH(msgSeq, 4);
HM_WIDTH(messageId, 400);
HM_WIDTH(messageIdCopy, 248);
HM_WIDTH(firstName, 512);
HM_WIDTH(lastName, 512);
HM_WIDTH(title, 512);
HM_WIDTH(location, 512);
HM_WIDTH(department, 512);
HM_WIDTH(manager, 512);
HM_WIDTH(assistant, 512);
HM_WIDTH(officePhone, 512);
HM_WIDTH(homePhone, 512);
HM_WIDTH(otherPhone, 512);
HM_WIDTH(faxPhone, 512);
HM_WIDTH(mobilePhone, 512);
HM_WIDTH(spouse, 512);
HM_WIDTH(children, 512);
HM_WIDTH(organization, 512);
HM_WIDTH(officeStreet, 512);
HM_WIDTH(officeStreet2, 512);
HM_WIDTH(officeCity, 512);
HM_WIDTH(officeState, 512);
HM_WIDTH(officePostalCode, 512);
HM_WIDTH(officeCountry, 512);
HM_WIDTH(email, 768);
HM_WIDTH(email2, 512);
HM_WIDTH(email3, 512);
HM_WIDTH(contactFlag, 4);
HM_WIDTH(pagerPhone, 512);
HM_WIDTH(website, 256);
HM_WIDTH(birthday, 512);
HM_WIDTH(homeStreet, 512);
HM_WIDTH(homeStreet2, 512);
HM_WIDTH(homeCity, 512);
HM_WIDTH(homeState, 512);
HM_WIDTH(homePostalCode, 512);
HM_WIDTH(homeCountry, 512);
HM_WIDTH(categories, 512);
HM_WIDTH(bookPath, 1024);
HM_WIDTH(contactName, 512);
HM_WIDTH(eventKind, 2);
HM_WIDTH(startTime, 8);
HM_WIDTH(endTime, 8);
HM_WIDTH(isPrivate, 2);
HM_WIDTH(busyState, 2);
HM_WIDTH(recurKind, 2);
HM_WIDTH(recurInterval, 4);
HM_WIDTH(recurOccurrence, 4);
HM_WIDTH(recurDayMask, 4);
HM_WIDTH(recurMonth, 4);
HM_WIDTH(recurMonthDay, 4);
HM_WIDTH(recurRangeKind, 4);
HM_WIDTH(recurCount, 4);
HM_WIDTH(recurUntil, 8);
HM_WIDTH(percentComplete, 4);
HM_WIDTH(organizerName, 512);
HM_WIDTH(alarmSet, 4);
HM_WIDTH(alarmMinutes, 4);
HM_WIDTH(organizerMatch, 4);
HM_WIDTH(organizerAddress, 260);
HM_WIDTH(allDay, 4);
HM_WIDTH(importance, 4);
HM_WIDTH(timeZoneName, 128);
HM_WIDTH(recurStart, 8);
HM_WIDTH(folderItemCount, 4);
HM_AFTER(parts, recips);
HM_AFTER(recips, partCount);
HM_AFTER(partCount, recipCount);
HM_AFTER(recipCount, itemKind);
HM_AFTER(itemKind, groupFolder);
HM_AFTER(groupFolder, fromName);
HM_AFTER(fromName, fromAddress);
HM_AFTER(fromAddress, subject);
HM_AFTER(subject, sentTime);
HM_AFTER(sentTime, taskPriority);
HM_AFTER(taskPriority, unread);
HM_AFTER(unread, msgSeq);
HM_AFTER(msgSeq, messageId);
HM_AFTER(messageId, messageIdCopy);
HM_AFTER(messageIdCopy, firstName);
HM_AFTER(firstName, lastName);
HM_AFTER(lastName, title);
HM_AFTER(title, location);
HM_AFTER(location, department);
HM_AFTER(department, manager);
HM_AFTER(manager, assistant);
HM_AFTER(assistant, officePhone);
HM_AFTER(officePhone, homePhone);
HM_AFTER(homePhone, otherPhone);
HM_AFTER(otherPhone, faxPhone);
HM_AFTER(faxPhone, mobilePhone);
HM_AFTER(mobilePhone, spouse);
HM_AFTER(spouse, children);
HM_AFTER(children, organization);
HM_AFTER(organization, officeStreet);
HM_AFTER(officeStreet, officeStreet2);
HM_AFTER(officeStreet2, officeCity);
HM_AFTER(officeCity, officeState);
HM_AFTER(officeState, officePostalCode);
HM_AFTER(officePostalCode, officeCountry);
HM_AFTER(officeCountry, email);
HM_AFTER(email, email2);
HM_AFTER(email2, email3);
HM_AFTER(email3, contactFlag);
HM_AFTER(contactFlag, pagerPhone);
HM_AFTER(pagerPhone, website);
HM_AFTER(website, birthday);
HM_AFTER(birthday, homeStreet);
HM_AFTER(homeStreet, homeStreet2);
HM_AFTER(homeStreet2, homeCity);
HM_AFTER(homeCity, homeState);
HM_AFTER(homeState, homePostalCode);
HM_AFTER(homePostalCode, homeCountry);
HM_AFTER(homeCountry, categories);
HM_AFTER(categories, bookPath);
HM_AFTER(bookPath, contactName);
HM_AFTER(contactName, eventKind);
HM_AFTER(eventKind, startTime);
HM_AFTER(startTime, endTime);
HM_AFTER(endTime, isPrivate);
HM_AFTER(isPrivate, busyState);
HM_AFTER(busyState, recurKind);
HM_AFTER(recurKind, recurInterval);
HM_AFTER(recurInterval, recurOccurrence);
HM_AFTER(recurOccurrence, recurDayMask);
HM_AFTER(recurDayMask, recurMonth);
HM_AFTER(recurMonth, recurMonthDay);
HM_AFTER(recurMonthDay, recurRangeKind);
HM_AFTER(recurRangeKind, recurCount);
HM_AFTER(recurCount, recurUntil);
HM_AFTER(recurUntil, percentComplete);
HM_AFTER(percentComplete, organizerName);
HM_AFTER(organizerName, alarmSet);
HM_AFTER(alarmSet, alarmMinutes);
HM_AFTER(alarmMinutes, organizerMatch);
HM_AFTER(organizerMatch, organizerAddress);
HM_AFTER(organizerAddress, allDay);
HM_AFTER(allDay, importance);
HM_AFTER(importance, timeZoneName);
HM_AFTER(timeZoneName, recurStart);
HM_AFTER(recurStart, folderItemCount);
#define HR_WIDTH(field, bytes) \
  static_assert(sizeof(HostRecipient::field) == (bytes), "HostRecipient " #field " has the wrong width")
#define HP_WIDTH(field, bytes) \
  static_assert(sizeof(HostPart::field) == (bytes), "HostPart " #field " has the wrong width")
HR_WIDTH(name, 512);
HR_WIDTH(address, 256);
HR_WIDTH(kind, 4);
HR_WIDTH(status, 4);
static_assert(offsetof(HostRecipient, name) < offsetof(HostRecipient, address) &&
                  offsetof(HostRecipient, address) < offsetof(HostRecipient, kind) &&
                  offsetof(HostRecipient, kind) < offsetof(HostRecipient, status),
              "HostRecipient fields out of order");
HP_WIDTH(name, 512);
HP_WIDTH(size, 4);
HP_WIDTH(kind, 4);
static_assert(offsetof(HostPart, name) < offsetof(HostPart, size) &&
                  offsetof(HostPart, size) < offsetof(HostPart, kind),
              "HostPart fields out of order");
#undef HR_WIDTH
#undef HP_WIDTH
#undef HM_WIDTH
#undef HM_AFTER
}  // namespace host_message_layout
