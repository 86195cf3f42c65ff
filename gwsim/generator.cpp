// Large mailboxes for load tests and benchmarks: many folders and items
// added to one user's mailbox.
#include <cstdio>
#include <string>
#include <vector>

#include "gwsim/item_filter.h"
#include "gwsim/mailbox.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const long long kFirstItemSeconds = 1577836800;  // 2020-01-01T00:00:00Z

}  // namespace

bool GenerateMailbox(Mailbox *mailbox, const std::string &owner, int folderCount, int itemCount) {
  User *user = mailbox->FindUser(owner);
  if (user == nullptr) return false;
  const std::string ownerName = user->name;
  Folder *cabinet = mailbox->FindFolderByType(ownerName, "Cabinet");
  const std::string parent = cabinet != nullptr ? cabinet->id : user->rootFolderId;
  std::vector<std::string> targets;
  for (int i = 0; i < folderCount; ++i) {
    char name[64];
    FormatText(name, sizeof(name), "Generated %05d", i + 1);
    Folder folder;
    folder.parentId = parent;
    folder.owner = ownerName;
    folder.name = name;
    targets.push_back(mailbox->AddFolder(folder));
  }
  if (targets.empty() && itemCount > 0) {
    Folder *inbox = mailbox->FindFolderByType(ownerName, "Mailbox");
    targets.push_back(inbox != nullptr ? inbox->id : user->rootFolderId);
  }
  for (int i = 0; i < itemCount; ++i) {
    char subject[64];
    FormatText(subject, sizeof(subject), "Generated message %d", i + 1);
    Item item;
    item.container = targets[static_cast<size_t>(i) % targets.size()];
    item.created = FormatDateTime(kFirstItemSeconds + 3600LL * i);
    item.subject = subject;
    mailbox->AddItem(item);
  }
  return true;
}

}  // namespace gwsim
