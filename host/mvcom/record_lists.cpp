// The HostMessage lists: allocating and freeing recipient and part entries,
// clearing a record, deleting and dropping part files, and the record's size.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/mvcom/mvcom_state.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"

enum { kPartPathCap = 512 };

// One past the highest slot of each list that AllocEntry ever filled, in any
// record: every entry lies below it (RemovePart only moves entries down).
// Atomic: the import fills one record on a second thread while the plug-in
// writes another.
static std::atomic<int> gRecipSlotsUsed{0};
static std::atomic<int> gPartSlotsUsed{0};

// Stores a zeroed entry of `size` bytes at list[count]. An entry left there
// by an earlier allocation that the caller did not count is reused.
static int AllocEntry(void **list, int count, int limit, size_t size, std::atomic<int> *slotsUsed) {
  if (count < 0 || count >= limit) return 0;
  int used = slotsUsed->load(std::memory_order_relaxed);
  while (count >= used && !slotsUsed->compare_exchange_weak(used, count + 1, std::memory_order_relaxed)) {
  }
  if (list[count] != nullptr) {
    memset(list[count], 0, size);
    return 1;
  }
  list[count] = calloc(1, size);
  return list[count] != nullptr;
}

int com_AllocRecip(HostMessage *record) {
  if (record == nullptr) return 0;
  return AllocEntry(reinterpret_cast<void **>(record->recips), record->recipCount, kMaxRecipients,
                    sizeof(HostRecipient), &gRecipSlotsUsed);
}

int com_AllocPart(HostMessage *record) {
  if (record == nullptr) return 0;
  ForgetPartHashes();
  return AllocEntry(reinterpret_cast<void **>(record->parts), record->partCount, kMaxParts,
                    sizeof(HostPart), &gPartSlotsUsed);
}

// Frees every entry of both lists, counted or not, and sets the counts to 0.
// Every slot an entry can be in is looked at, not only those below the
// counts: an entry that was allocated but never counted is freed too. The
// slots past the highest ever filled are not (this runs several times per
// item, and most of the 5500 slots are never used).
static void FreeLists(HostMessage *record) {
  const int recips = std::min(std::max(gRecipSlotsUsed.load(std::memory_order_relaxed), record->recipCount), static_cast<int>(kMaxRecipients));
  for (int i = 0; i < recips; ++i) {
    if (record->recips[i] == nullptr) continue;
    free(record->recips[i]);
    record->recips[i] = nullptr;
  }
  const int parts = std::min(std::max(gPartSlotsUsed.load(std::memory_order_relaxed), record->partCount), static_cast<int>(kMaxParts));
  for (int i = 0; i < parts; ++i) {
    if (record->parts[i] == nullptr) continue;
    free(record->parts[i]);
    record->parts[i] = nullptr;
  }
  record->recipCount = 0;
  record->partCount = 0;
}

static void PartPath(char *out, size_t cap, const HostMessage *record, int index) {
  FormatPartFileName(out, cap, gMvcom.workDir.c_str(), record->msgSeq, index);
}

void com_ResetObject(HostMessage *record) {
  if (record == nullptr) return;
  // An item given up without its parts deleted leaves no kept part behind,
  // where it would stand for a file the next item writes under its name.
  // (Its files stay, as they always did: the next item's files replace them.)
  char path[kPartPathCap];
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    PartPath(path, sizeof path, record, i);
    ForgetKeptPart(path);
  }
  FreeLists(record);
  int32_t msgSeq = record->msgSeq;
  char groupFolder[sizeof record->groupFolder];
  memcpy(groupFolder, record->groupFolder, sizeof groupFolder);
  // The two lists are empty now: the fields after them are what is cleared.
  memset(static_cast<void *>(&record->partCount), 0,
         offsetof(HostMessage, folderItemCount) + sizeof record->folderItemCount -
             offsetof(HostMessage, partCount));
  record->msgSeq = msgSeq;
  memcpy(record->groupFolder, groupFolder, sizeof groupFolder);
}

void com_Deallocate(HostMessage *record, void *context) {
  (void)context;
  if (record != nullptr) FreeLists(record);
}

void com_Deallocate_All(HostMessage *record, void *context) {
  if (record == nullptr) return;
  char path[kPartPathCap];
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    PartPath(path, sizeof path, record, i);
    mvcom_PartRemove(path);
  }
  com_Deallocate(record, context);
}

// Size of part index's file, or the size noted in the entry when the file
// cannot be read.
static int64_t PartSize(const HostMessage *record, int index) {
  char path[kPartPathCap];
  PartPath(path, sizeof path, record, index);
  int64_t size = 0;
  if (com_GetFileSize(path, &size) != 0) size = record->parts[index]->size;
  return size;
}

// Removes part index and its file; later parts and their files move down one
// place, so that the file of each part keeps matching its index.
static void RemovePart(HostMessage *record, int index) {
  char from[kPartPathCap], to[kPartPathCap];
  PartPath(to, sizeof to, record, index);
  mvcom_PartRemove(to);
  free(record->parts[index]);
  for (int j = index + 1; j < record->partCount; ++j) {
    record->parts[j - 1] = record->parts[j];
    PartPath(from, sizeof from, record, j);
    PartPath(to, sizeof to, record, j - 1);
    if (mvcom_PartRename(from, to) != 0) {  // no stale file under its name either
      com_Log("MV Error: cannot move part file %s to %s", from, to);
    }
  }
  record->parts[record->partCount - 1] = nullptr;
  record->partCount--;
}

int com_AttachSize(HostMessage *record, void *context, int index, int maxKB) {
  (void)context;
  (void)index;
  if (record == nullptr || maxKB <= 0) return 0;  // 0: no limit
  const int64_t limit = static_cast<int64_t>(maxKB) * 1000;
  int dropped = 0;
  if (record->partCount > kMaxParts) record->partCount = kMaxParts;
  for (int i = 0; i < record->partCount;) {
    HostPart *part = record->parts[i];
    int64_t size = part != nullptr && part->kind == kPartFile ? PartSize(record, i) : 0;
    if (part == nullptr || part->kind != kPartFile || size <= limit) {
      ++i;
      continue;
    }
    com_Log("MV Info: attachment %s (%lld bytes) dropped, above the limit of %d KB", part->name,
            static_cast<long long>(size), maxKB);
    RemovePart(record, i);
    ++dropped;
  }
  return dropped;
}

// Field offset and width of each text field counted by com_CalcMdatSize.
struct TextField {
  size_t offset, width;
};
#define TEXT_FIELD(f) {offsetof(HostMessage, f), sizeof(HostMessage::f)}
static const TextField kTextFields[] = {
    TEXT_FIELD(groupFolder), TEXT_FIELD(fromName), TEXT_FIELD(fromAddress), TEXT_FIELD(subject),
    TEXT_FIELD(messageId), TEXT_FIELD(messageIdCopy), TEXT_FIELD(firstName), TEXT_FIELD(lastName),
    TEXT_FIELD(title), TEXT_FIELD(location), TEXT_FIELD(department), TEXT_FIELD(manager),
    TEXT_FIELD(assistant), TEXT_FIELD(officePhone), TEXT_FIELD(homePhone), TEXT_FIELD(otherPhone),
    TEXT_FIELD(faxPhone), TEXT_FIELD(mobilePhone), TEXT_FIELD(spouse), TEXT_FIELD(children),
    TEXT_FIELD(organization), TEXT_FIELD(officeStreet), TEXT_FIELD(officeStreet2),
    TEXT_FIELD(officeCity), TEXT_FIELD(officeState), TEXT_FIELD(officePostalCode),
    TEXT_FIELD(officeCountry), TEXT_FIELD(email), TEXT_FIELD(email2), TEXT_FIELD(email3),
    TEXT_FIELD(pagerPhone), TEXT_FIELD(website), TEXT_FIELD(birthday), TEXT_FIELD(homeStreet),
    TEXT_FIELD(homeStreet2), TEXT_FIELD(homeCity), TEXT_FIELD(homeState),
    TEXT_FIELD(homePostalCode), TEXT_FIELD(homeCountry), TEXT_FIELD(categories),
    TEXT_FIELD(bookPath), TEXT_FIELD(contactName), TEXT_FIELD(organizerName),
    TEXT_FIELD(organizerAddress), TEXT_FIELD(timeZoneName),
};
#undef TEXT_FIELD

static int ClampToInt(int64_t v) { return v > INT_MAX ? INT_MAX : static_cast<int>(v); }

int com_CalcMdatSize(HostMessage *record, int *fieldBytes, int *totalBytes) {
  int64_t fields = 0, files = 0;
  if (record != nullptr) {
    const char *base = reinterpret_cast<const char *>(record);
    for (const TextField &f : kTextFields) fields += static_cast<int64_t>(strnlen(base + f.offset, f.width));
    for (int i = 0; i < record->recipCount && i < kMaxRecipients; ++i) {
      const HostRecipient *r = record->recips[i];
      if (r != nullptr) fields += static_cast<int64_t>(strnlen(r->name, sizeof r->name) + strnlen(r->address, sizeof r->address));
    }
    for (int i = 0; i < record->partCount && i < kMaxParts; ++i)
      if (record->parts[i] != nullptr) files += PartSize(record, i);
  }
  if (fieldBytes != nullptr) *fieldBytes = ClampToInt(fields);
  if (totalBytes != nullptr) *totalBytes = ClampToInt(fields + files);
  return 0;
}
