// The simulator's store: adding records with unique GroupWise-like ids and
// looking them up.
#include "gwsim/mailbox.h"

#include <algorithm>
#include <cstdio>

#include "platform/bounded_text.h"

namespace gwsim {
namespace {

// Attachment and body part ids are the item's id, this mark and a number.
const char kAttachmentIdMark[] = "#att";
const char kBodyIdMark[] = "#body";

}  // namespace

void Mailbox::Clear() {
  users.clear();
  trustedApps.clear();
  folders.clear();
  items.clear();
  categories.clear();
  books.clear();
  rules.clear();
  usedIds_.clear();
  itemIndex_.clear();
  nextId_ = 0x101E;
}

// Ids look like the server's: folders "7.domain1.po1.100.0.1.0.1@16", items
// "<hex>.domain1.po1.100.16E3837.1.<hex>.1@1:<folder id>".
std::string Mailbox::NewId(const char *kind, const std::string &container) {
  char id[512];
  for (;;) {
    unsigned n = nextId_++;
    if (EqualsNoCase(kind, "item")) {
      FormatText(id, sizeof(id), "%08X.domain1.po1.100.16E3837.1.%X.1@1:%s", 0x450AD3EBu + n, n,
                 container.c_str());
    } else if (EqualsNoCase(kind, "book")) {
      FormatText(id, sizeof(id), "%u.domain1.po1.100.0.1.0.1@14", n);
    } else if (EqualsNoCase(kind, "category")) {
      FormatText(id, sizeof(id), "%X@%u", n, 60 + (n % 40));
    } else {
      FormatText(id, sizeof(id), "%u.domain1.po1.100.0.1.0.1@16", n);
    }
    if (usedIds_.count(id) == 0) return id;
  }
}

bool Mailbox::AddUser(const User &user) {
  if (user.name.empty() || FindUser(user.name) != nullptr) return false;
  users.push_back(user);
  User &added = users.back();
  if (added.rootFolderId.empty() || usedIds_.count(added.rootFolderId) != 0) {
    added.rootFolderId = NewId("folder", "");
  }
  Folder root;
  root.id = added.rootFolderId;
  root.owner = added.name;
  root.name = added.displayName.empty() ? added.name : added.displayName;
  root.kind = "SystemFolder";
  root.folderType = "Root";
  root.showCount = false;
  folders.push_back(root);
  usedIds_.insert(root.id);
  return true;
}

void Mailbox::AddTrustedApp(const TrustedApp &app) { trustedApps.push_back(app); }

std::string Mailbox::AddFolder(const Folder &folder) {
  if (!folder.id.empty() && usedIds_.count(folder.id) != 0) return "";
  folders.push_back(folder);
  Folder &added = folders.back();
  if (added.id.empty()) added.id = NewId("folder", "");
  usedIds_.insert(added.id);
  return added.id;
}

std::string Mailbox::AddItem(const Item &item) {
  if (!item.id.empty() && usedIds_.count(item.id) != 0) return "";
  items.push_back(item);
  Item &added = items.back();
  if (added.id.empty()) added.id = NewId("item", added.container);
  if (added.modified.empty()) added.modified = added.created;
  usedIds_.insert(added.id);
  // Indexed at once: FindItem remakes the whole index on a miss, and every
  // create looks its new item up.
  itemIndex_[added.id] = items.size() - 1;
  for (size_t i = 0; i < added.bodies.size(); ++i) {
    if (added.bodies[i].id.empty()) {
      added.bodies[i].id = added.id + kBodyIdMark + std::to_string(i + 1);
    }
  }
  for (size_t i = 0; i < added.attachments.size(); ++i) {
    if (added.attachments[i].id.empty()) {
      added.attachments[i].id = added.id + kAttachmentIdMark + std::to_string(i + 1);
    }
  }
  return added.id;
}

std::string Mailbox::AddCategory(const Category &category) {
  if (!category.id.empty() && usedIds_.count(category.id) != 0) return "";
  categories.push_back(category);
  Category &added = categories.back();
  if (added.id.empty()) added.id = NewId("category", "");
  usedIds_.insert(added.id);
  return added.id;
}

std::string Mailbox::AddAddressBook(const AddressBook &book) {
  if (!book.id.empty() && usedIds_.count(book.id) != 0) return "";
  books.push_back(book);
  AddressBook &added = books.back();
  if (added.id.empty()) added.id = NewId("book", "");
  usedIds_.insert(added.id);
  return added.id;
}

User *Mailbox::FindUser(const std::string &name) {
  for (User &user : users) {
    if (EqualsNoCase(user.name.c_str(), name.c_str())) return &user;
  }
  return nullptr;
}

const TrustedApp *Mailbox::FindTrustedApp(const std::string &name) const {
  for (const TrustedApp &app : trustedApps) {
    if (app.name == name) return &app;
  }
  return nullptr;
}

Folder *Mailbox::FindFolder(const std::string &id) {
  for (Folder &folder : folders) {
    if (folder.id == id) return &folder;
  }
  return nullptr;
}

AddressBook *Mailbox::FindAddressBook(const std::string &id) {
  for (AddressBook &book : books) {
    if (book.id == id) return &book;
  }
  return nullptr;
}

Item *Mailbox::FindItem(const std::string &id) {
  auto found = itemIndex_.find(id);
  if (found != itemIndex_.end() && found->second < items.size() &&
      items[found->second].id == id) {
    return &items[found->second];
  }
  itemIndex_.clear();
  for (size_t i = 0; i < items.size(); ++i) itemIndex_[items[i].id] = i;
  found = itemIndex_.find(id);
  return found == itemIndex_.end() ? nullptr : &items[found->second];
}

Folder *Mailbox::FindFolderByType(const std::string &owner, const std::string &folderType) {
  for (Folder &folder : folders) {
    if (EqualsNoCase(folder.owner.c_str(), owner.c_str()) && folder.folderType == folderType) {
      return &folder;
    }
  }
  return nullptr;
}

bool Mailbox::CanOpen(const std::string &user, const std::string &mailbox) {
  if (EqualsNoCase(user.c_str(), mailbox.c_str())) return true;
  User *record = FindUser(user);
  if (record == nullptr) return false;
  for (const std::string &target : record->proxyFor) {
    if (EqualsNoCase(target.c_str(), mailbox.c_str())) return true;
  }
  return false;
}

std::vector<const Item *> Mailbox::ItemsIn(const std::string &container) const {
  std::vector<const Item *> found;
  for (const Item &item : items) {
    if (item.container == container && !item.embedded) found.push_back(&item);
  }
  return found;
}

namespace {

// The attachment or body part `id` of `item`; false when it has none.
bool FindPartOf(const Item &item, const std::string &id, const Attachment **attachment,
                const BodyPart **body) {
  for (const Attachment &a : item.attachments) {
    if (!a.itemReference && a.id == id) {
      *attachment = &a;
      return true;
    }
  }
  for (const BodyPart &b : item.bodies) {
    if (b.id == id) {
      *body = &b;
      return true;
    }
  }
  return false;
}

}  // namespace

Item *Mailbox::FindAttachment(const std::string &id, const Attachment **attachment,
                              const BodyPart **body) {
  *attachment = nullptr;
  *body = nullptr;
  // Ids made by AddItem name their item; others are looked for everywhere.
  for (const char *mark : {kAttachmentIdMark, kBodyIdMark}) {
    size_t at = id.rfind(mark);
    if (at == std::string::npos) continue;
    Item *item = FindItem(id.substr(0, at));
    if (item != nullptr && FindPartOf(*item, id, attachment, body)) return item;
  }
  for (Item &item : items) {
    if (FindPartOf(item, id, attachment, body)) return &item;
  }
  return nullptr;
}

void ReadAttachmentBytes(const Attachment &attachment, int64_t offset, size_t count,
                         std::string *out) {
  const int64_t size = attachment.Size();
  if (offset < 0 || offset >= size) return;
  const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count),
                                                         size - offset));
  if (attachment.generatedSize < 0) {
    out->append(attachment.data, static_cast<size_t>(offset), n);
    return;
  }
  out->reserve(out->size() + n);
  unsigned value = static_cast<unsigned>(offset % 251);
  for (size_t i = 0; i < n; ++i) {
    out->push_back(static_cast<char>(value));
    if (++value == 251) value = 0;
  }
}

}  // namespace gwsim
