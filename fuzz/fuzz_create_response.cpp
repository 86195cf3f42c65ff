// Fuzz target: the create answers as the write side reads them. A fixed item
// of the kind the control byte's bits 3 to 5 choose (mail, appointment,
// task, contact, group) is written as the host writes one: InitWrite, then
// WriteMsg. For mail the target path has two levels the folder table lacks,
// so the first answers go to the folder creations; the next to the item's
// createItemRequest (and, for a group, to each member's).
#include <cstdlib>
#include <cstring>
#include <string>

#include "folders/folder_table.h"
#include "fuzz/fuzz_support.h"
#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"

namespace {

struct ItemChoice {
  int itemKind;
  int folderClass;
  int contactFlag;
};

const ItemChoice kChoices[] = {
    {kItemMail, kFolderClassMail, 0},        {kItemAppointment, kFolderClassCalendar, 0},
    {kItemTask, kFolderClassTaskList, 0},    {kItemContact, kFolderClassAddressBook, 0},
    {kItemContact, kFolderClassAddressBook, 1},
};

void AddRecipient(HostMessage *r, int kind, const char *name, const char *address) {
  if (com_AllocRecip(r) == 0) return;
  HostRecipient *recipient = r->recips[r->recipCount++];
  CopyText(recipient->name, sizeof recipient->name, name);
  CopyText(recipient->address, sizeof recipient->address, address);
  recipient->kind = kind;
}

// The one text part of the item, as the host leaves it in the work directory.
void AddTextPart(HostMessage *r) {
  if (com_AllocPart(r) == 0) return;
  HostPart *part = r->parts[r->partCount];
  const std::string text = "Fuzz body\r\n";
  CopyText(part->name, sizeof part->name, "Message.txt");
  part->kind = kPartTextBody;
  part->size = static_cast<int32_t>(text.size());
  char name[64];
  FormatPartFileName(name, sizeof name, "", r->msgSeq, r->partCount);
  fuzz::WriteWorkFile(name, text);
  ++r->partCount;
}

void FillRecord(HostMessage *r, const ItemChoice &choice) {
  r->itemKind = choice.itemKind;
  r->contactFlag = choice.contactFlag;
  CopyText(r->subject, sizeof r->subject, "Fuzz subject");
  CopyText(r->title, sizeof r->title, "Fuzz title");
  CopyText(r->fromName, sizeof r->fromName, "Sender");
  CopyText(r->fromAddress, sizeof r->fromAddress, "sender@example.com");
  CopyText(r->firstName, sizeof r->firstName, "Given");
  CopyText(r->lastName, sizeof r->lastName, "Family");
  CopyText(r->email, sizeof r->email, "given@example.com");
  r->sentTime = {0xd53e8000u, 0x01d5a3b0u};
  r->startTime = r->sentTime;
  r->endTime = {0x2ab8c000u, 0x01d5a3b1u};
  AddRecipient(r, kRecipTo, "Member One", "one@example.com");
  AddRecipient(r, kRecipCc, "Member Two", "two@example.com");
  AddTextPart(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 0);
  fuzz::AddWriteTargets();
  const ItemChoice &choice = kChoices[((input.control >> 3) & 7) % 5];
  HostMessage *record = fuzz::NewRecord();
  FillRecord(record, choice);
  const char *folder = choice.folderClass == kFolderClassMail ? "Cabinet^Fuzz^Deeper" : "Any";
  InitWrite(record, folder, nullptr, choice.folderClass);
  WriteMsg(record, nullptr, fuzz::WorkDir().c_str(), nullptr);
  CloseWrite(choice.folderClass);
  fuzz::FreeRecord(record);
  fuzz::EndRun();
  return 0;
}
