// Large mailboxes for load tests and benchmarks: many folders and items
// added to one user's mailbox.
#include <cstdio>
#include <string>
#include <vector>

#include "gwsim/item_filter.h"
#include "gwsim/mailbox.h"
#include "gwsim/original_message.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const long long kFirstItemSeconds = 1577836800;  // 2020-01-01T00:00:00Z

}  // namespace

bool GenerateMailbox(Mailbox *mailbox, const std::string &owner, int folderCount, int itemCount) {
  return GenerateMailbox(mailbox, owner, folderCount, itemCount, GeneratedAttachments());
}

bool GenerateMailbox(Mailbox *mailbox, const std::string &owner, int folderCount, int itemCount,
                     const GeneratedAttachments &attachments) {
  User *user = mailbox->FindUser(owner);
  if (user == nullptr) return false;
  const User owning = *user;
  Folder *cabinet = mailbox->FindFolderByType(owning.name, "Cabinet");
  const std::string parent = cabinet != nullptr ? cabinet->id : owning.rootFolderId;
  std::vector<std::string> targets;
  for (int i = 0; i < folderCount; ++i) {
    char name[64];
    FormatText(name, sizeof(name), "Generated %05d", i + 1);
    Folder folder;
    folder.parentId = parent;
    folder.owner = owning.name;
    folder.name = name;
    targets.push_back(mailbox->AddFolder(folder));
  }
  if (targets.empty() && itemCount > 0) {
    Folder *inbox = mailbox->FindFolderByType(owning.name, "Mailbox");
    targets.push_back(inbox != nullptr ? inbox->id : owning.rootFolderId);
  }
  for (int i = 0; i < itemCount; ++i) {
    char subject[64];
    FormatText(subject, sizeof(subject), "Generated message %d", i + 1);
    Item item;
    item.container = targets[static_cast<size_t>(i) % targets.size()];
    item.created = FormatDateTime(kFirstItemSeconds + 3600LL * i);
    item.delivered = item.created;
    item.subject = subject;
    item.fromName = "Generator";
    item.fromEmail = "generator@example.com";
    Recipient to;
    to.displayName = owning.displayName;
    to.email = owning.email;
    item.recipients.push_back(to);
    BodyPart body;
    body.contentType = "text/plain";
    body.data = std::string(subject) + "\n";
    item.bodies.push_back(body);
    for (int k = 0; k < attachments.perItem; ++k) {
      char name[64];
      FormatText(name, sizeof(name), "attachment-%d-%d.bin", i + 1, k + 1);
      Attachment attachment;
      attachment.name = name;
      attachment.contentType = "application/octet-stream";
      attachment.generatedSize = attachments.size;
      item.attachments.push_back(attachment);
    }
    if (attachments.originals) {
      char msgId[64];
      FormatText(msgId, sizeof(msgId), "generated-%d@example.com", i + 1);
      item.msgId = msgId;
      item.source = "received";
      item.attachments.push_back(OriginalAttachment(item, ""));
    }
    if (item.msgId.empty()) {
      // Like every mail the server holds, a generated one has a message id.
      char msgId[64];
      FormatText(msgId, sizeof(msgId), "%08X.generated.po1.100.1.1.1@example.com", i + 1);
      item.msgId = msgId;
    }
    mailbox->AddItem(item);
  }
  return true;
}

}  // namespace gwsim
