// The simulator's list answers: the folder tree, the category list and the
// address-book list of the open mailbox.
#include <string>
#include <unordered_map>
#include <vector>

#include "gwsim/handlers.h"

namespace gwsim {
namespace {

const int kMaxFolderDepth = 256;

using CountMap = std::unordered_map<std::string, int>;

CountMap CountItems(const Mailbox &mailbox) {
  CountMap counts;
  for (const Item &item : mailbox.items) {
    if (!item.embedded) ++counts[item.container];
  }
  return counts;
}

int CountOf(const CountMap &counts, const std::string &container) {
  auto found = counts.find(container);
  return found == counts.end() ? 0 : found->second;
}

bool CarriesFolderType(const Folder &folder) {
  return folder.kind == "SystemFolder" || folder.kind == "ContactFolder";
}

void AppendFolder(const Folder &folder, int count, int sequence, std::string *out) {
  out->append("<gwt:folder xsi:type=\"gwt:");
  AppendEscaped(out, folder.kind);
  out->append("\">");
  AppendElement(out, "gwt:id", folder.id);
  AppendElement(out, "gwt:name", folder.name);
  AppendElement(out, "gwt:version", "1");
  if (!folder.parentId.empty()) AppendElement(out, "gwt:parent", folder.parentId);
  if (folder.showCount) AppendElement(out, "gwt:count", std::to_string(count));
  AppendElement(out, "gwt:hasUnread", "0");
  AppendElement(out, "gwt:unreadCount", "0");
  AppendElement(out, "gwt:sequence", std::to_string(sequence));
  if (folder.calendarAttribute) {
    out->append("<gwt:calendarAttribute><gwt:flags>ShowInList</gwt:flags>"
                "<gwt:color>16744448</gwt:color></gwt:calendarAttribute>");
  }
  if (!folder.displayFolderType.empty()) {
    out->append("<gwt:displaySettings>");
    AppendElement(out, "gwt:folderType", folder.displayFolderType);
    AppendElement(out, "gwt:settingType", "Folder");
    out->append("</gwt:displaySettings>");
  }
  if (CarriesFolderType(folder)) {
    AppendElement(out, "gwt:isSystemFolder", "1");
    AppendElement(out, "gwt:folderType", folder.folderType);
    if (folder.isSharedByMe) AppendElement(out, "gwt:isSharedByMe", "1");
  } else if (folder.kind == "SharedFolder") {
    AppendElement(out, "gwt:isSharedByMe", folder.isSharedByMe ? "1" : "0");
    AppendElement(out, "gwt:isSharedToMe", folder.isSharedByMe ? "0" : "1");
  }
  out->append("</gwt:folder>");
}

using ChildMap = std::unordered_map<std::string, std::vector<const Folder *>>;

ChildMap ChildrenOf(const Mailbox &mailbox, const std::string &owner) {
  ChildMap children;
  for (const Folder &folder : mailbox.folders) {
    if (folder.owner == owner && !folder.parentId.empty()) {
      children[folder.parentId].push_back(&folder);
    }
  }
  return children;
}

// Appends the folders below `parentId`, each parent before its children;
// only one level unless `recurse`. `depth` stops a parent chain that loops
// (possible only when a test edits parent ids by hand).
void AppendSubtree(const ChildMap &children, const CountMap &counts, const std::string &parentId,
                   bool recurse, int depth, int *sequence, std::string *out) {
  auto found = children.find(parentId);
  if (found == children.end() || depth > kMaxFolderDepth) return;
  for (const Folder *folder : found->second) {
    AppendFolder(*folder, CountOf(counts, folder->id), (*sequence)++, out);
    if (recurse) AppendSubtree(children, counts, folder->id, recurse, depth + 1, sequence, out);
  }
}

}  // namespace

void AnswerFolderList(const HandlerCall &call, Answer *answer) {
  Mailbox *mailbox = call.state->mailbox;
  const std::string &owner = call.session->mailbox;
  std::string parent = ChildText(call.request, "parent");
  bool recurse = ChildText(call.request, "recurse") == "true" ||
                 ChildText(call.request, "recurse") == "1";
  const Folder *start = nullptr;
  bool includeStart = false;
  if (parent.empty() || parent == "folders") {
    User *user = mailbox->FindUser(owner);
    start = user != nullptr ? mailbox->FindFolder(user->rootFolderId) : nullptr;
    includeStart = true;
  } else {
    start = mailbox->FindFolder(parent);
    if (start != nullptr && start->owner != owner) start = nullptr;
  }
  if (start == nullptr) {
    answer->code = kCodeNotFound;
    answer->description = "The parent folder was not found";
    return;
  }
  CountMap counts = CountItems(*mailbox);
  int sequence = 0;
  answer->inner = "<gwm:folders>";
  if (includeStart) AppendFolder(*start, CountOf(counts, start->id), sequence++, &answer->inner);
  AppendSubtree(ChildrenOf(*mailbox, owner), counts, start->id, recurse, 0, &sequence,
                &answer->inner);
  answer->inner += "</gwm:folders>";
}

void AnswerCategoryList(const HandlerCall &call, Answer *answer) {
  std::string list;
  for (const Category &category : call.state->mailbox->categories) {
    if (category.owner != call.session->mailbox) continue;
    list += "<gwt:category>";
    AppendElement(&list, "gwt:id", category.id);
    AppendElement(&list, "gwt:name", category.name);
    list += "</gwt:category>";
  }
  if (!list.empty()) answer->inner = "<gwm:categories>" + list + "</gwm:categories>";
}

void AnswerAddressBookList(const HandlerCall &call, Answer *answer) {
  const Mailbox &mailbox = *call.state->mailbox;
  CountMap counts = CountItems(mailbox);
  std::string list;
  for (const AddressBook &book : mailbox.books) {
    if (!book.owner.empty() && book.owner != call.session->mailbox) continue;
    list += "<gwt:book>";
    AppendElement(&list, "gwt:id", book.id);
    AppendElement(&list, "gwt:name", book.name);
    AppendElement(&list, "gwt:version", "1");
    if (!book.description.empty()) AppendElement(&list, "gwt:description", book.description);
    AppendElement(&list, "gwt:isPersonal", book.isPersonal ? "1" : "0");
    AppendElement(&list, "gwt:isFrequentContacts", book.isFrequentContacts ? "1" : "0");
    AppendElement(&list, "gwt:count", std::to_string(CountOf(counts, book.id)));
    list += "</gwt:book>";
  }
  answer->inner = "<gwm:books>" + list + "</gwm:books>";
}

}  // namespace gwsim
