// Fixture files: a mailbox described in a small XML file (format in
// gwsim/README.md) read into the store, with every fault reported by file
// and line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "gwsim/appointment_fixture.h"
#include "gwsim/base64.h"
#include "gwsim/contact_fixture.h"
#include "gwsim/item_filter.h"
#include "gwsim/mailbox.h"
#include "gwsim/original_message.h"
#include "gwsim/rule_answers.h"
#include "gwsim/task_answers.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"

namespace gwsim {
namespace {

const char *const kUserAttributes[] = {"name", "password", "displayName", "email",
                                       "recipType", "proxyFor", "rootId", nullptr};
const char *const kFolderAttributes[] = {"id", "name", "type", "kind", "count", "sharedByMe",
                                         "calendar", "display", nullptr};
const char *const kItemAttributes[] = {"id", "kind", "created", "modified", "subject",
                                       "categories", "delivered", "source", "read",
                                       "priority", "msgId", "viewName", nullptr};
const char *const kAddressAttributes[] = {"name", "email", "accepted", "declined", "replied",
                                          nullptr};
const char *const kThreadingAttributes[] = {"id", "parent", nullptr};
const char *const kBodyAttributes[] = {"encoding", "size", nullptr};
const char *const kAttachmentAttributes[] = {"id", "name", "contentType", "hidden", "encoding",
                                             "size", "file", "ref", nullptr};
const char *const kEncodings[] = {"text", "base64", nullptr};
const char *const kSources[] = {"received", "sent", "draft", "personal", nullptr};
const char *const kPriorities[] = {"High", "Standard", "Low", nullptr};
const char *const kReplies[] = {"accepted", "declined", "replied"};
// The recipient elements of an item and their gwt:distType.
const char *const kRecipientElements[][2] = {{"to", "TO"}, {"cc", "CC"}, {"bc", "BC"}};
// Generated bodies repeat this text up to their size.
const char kGeneratedBodyText[] = "The quick brown fox jumps over the lazy dog. 0123456789\n";
const char *const kCategoryAttributes[] = {"id", "name", nullptr};
const char *const kBookAttributes[] = {"id", "name", "description", "personal", "frequent",
                                       nullptr};
const char *const kAppAttributes[] = {"name", "key", nullptr};

const char *const kFolderKinds[] = {"SystemFolder", "Folder", "SharedFolder", "ContactFolder",
                                    nullptr};
const char *const kFolderTypes[] = {"Mailbox", "SentItems", "Draft", "Trash", "Calendar",
                                    "Contacts", "Documents", "Checklist", "Cabinet", "Normal",
                                    "Query", "JunkMail", "Notes", "UserContacts", "Proxy",
                                    nullptr};
const char *const kItemKinds[] = {"Mail", "Appointment", "Task", "Note", "PhoneMessage",
                                  "Contact", "Group", "Resource", "Organization", nullptr};
const char *const kRecipTypes[] = {"User", "Resource", nullptr};

bool InList(const char *value, const char *const *list) {
  for (; *list != nullptr; ++list) {
    if (strcmp(value, *list) == 0) return true;
  }
  return false;
}

// Reading state: the text (for line numbers), the origin and the first fault.
struct Loader {
  const std::string *text;
  std::string origin;
  Mailbox *mailbox;
  std::string error;
  std::string directory;  // of the file, "" or ending in "/": the base of file="..."
  // Attachments naming another item by ref="ID": checked once all are read.
  std::vector<pugi::xml_node> references;

  int LineOf(pugi::xml_node node) const {
    ptrdiff_t offset = node.offset_debug();
    int line = 1;
    for (ptrdiff_t i = 0; i < offset && static_cast<size_t>(i) < text->size(); ++i) {
      if ((*text)[static_cast<size_t>(i)] == '\n') ++line;
    }
    return line;
  }

  bool Fail(pugi::xml_node node, const std::string &message) {
    if (error.empty()) error = origin + ":" + std::to_string(LineOf(node)) + ": " + message;
    return false;
  }

  bool CheckAttributes(pugi::xml_node node, const char *const *allowed,
                       const char *const *alsoAllowed = nullptr) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      if (!InList(a.name(), allowed) && (alsoAllowed == nullptr || !InList(a.name(), alsoAllowed))) {
        return Fail(node, std::string("unknown attribute ") + a.name() + " on <" + node.name() +
                              ">");
      }
    }
    return true;
  }

  bool CheckValue(pugi::xml_node node, const char *attribute, const char *const *allowed) {
    pugi::xml_attribute a = node.attribute(attribute);
    if (!a || InList(a.value(), allowed)) return true;
    return Fail(node, std::string("unknown ") + attribute + " \"" + a.value() + "\"");
  }

  bool CheckFlag(pugi::xml_node node, const char *attribute) {
    pugi::xml_attribute a = node.attribute(attribute);
    if (!a || strcmp(a.value(), "0") == 0 || strcmp(a.value(), "1") == 0) return true;
    return Fail(node, std::string(attribute) + " must be 0 or 1");
  }

  bool CheckDate(pugi::xml_node node, const char *attribute) {
    pugi::xml_attribute a = node.attribute(attribute);
    long long seconds = 0;
    if (!a || ParseDateTime(a.value(), &seconds)) return true;
    return Fail(node, std::string("unreadable ") + attribute + " \"" + a.value() + "\"");
  }

  bool CheckSize(pugi::xml_node node, int64_t *size) {
    pugi::xml_attribute a = node.attribute("size");
    *size = -1;
    if (!a) return true;
    char *end = nullptr;
    long long value = strtoll(a.value(), &end, 10);
    if (*a.value() == '\0' || *end != '\0' || value < 0) {
      return Fail(node, std::string("unreadable size \"") + a.value() + "\"");
    }
    *size = value;
    return true;
  }

  bool LoadItem(pugi::xml_node node, const std::string &container, bool embedded = false,
                std::string *addedId = nullptr);
  bool LoadItemChild(pugi::xml_node child, Item *item);
  bool LoadAddress(pugi::xml_node node, Item *item);
  bool LoadBody(pugi::xml_node node, const char *contentType, Item *item);
  bool LoadAttachment(pugi::xml_node node, Item *item);
  bool LoadOriginal(pugi::xml_node node, Item *item);
  bool ReadData(pugi::xml_node node, std::string *data);
  bool CheckReferences();
  bool LoadFolder(pugi::xml_node node, const std::string &owner, const std::string &parent);
  bool LoadBook(pugi::xml_node node, const std::string &owner);
  bool LoadCategory(pugi::xml_node node, const std::string &owner);
  bool LoadRule(pugi::xml_node node, const std::string &owner) {
    std::string fault;
    pugi::xml_node where;
    return LoadRuleFixture(node, owner, mailbox, &fault, &where) || Fail(where, fault);
  }
  bool LoadUser(pugi::xml_node node);
  bool LoadUserContent(pugi::xml_node node, const std::string &owner);
  bool LoadTop(pugi::xml_node root);
  bool CheckProxyRights(pugi::xml_node root);
};

std::vector<std::string> Words(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

bool Loader::ReadData(pugi::xml_node node, std::string *data) {
  const std::string text = node.text().get();
  if (strcmp(node.attribute("encoding").as_string("text"), "base64") != 0) {
    *data = text;
    return true;
  }
  if (!DecodeBase64(text, data)) return Fail(node, "bad base64 in <" + std::string(node.name()) + ">");
  return true;
}

bool Loader::LoadAddress(pugi::xml_node node, Item *item) {
  if (!CheckAttributes(node, kAddressAttributes)) return false;
  if (strcmp(node.name(), "from") == 0) {
    item->fromName = node.attribute("name").value();
    item->fromEmail = node.attribute("email").value();
    return true;
  }
  Recipient recipient;
  recipient.displayName = node.attribute("name").value();
  recipient.email = node.attribute("email").value();
  for (const auto &element : kRecipientElements) {
    if (strcmp(node.name(), element[0]) == 0) recipient.distType = element[1];
  }
  for (const char *reply : kReplies) {
    if (!node.attribute(reply)) continue;
    if (!recipient.reply.empty()) return Fail(node, "a recipient has one reply state");
    if (!CheckDate(node, reply)) return false;
    recipient.reply = reply;
    recipient.replyDate = node.attribute(reply).value();
  }
  item->recipients.push_back(recipient);
  return true;
}

bool Loader::LoadBody(pugi::xml_node node, const char *contentType, Item *item) {
  int64_t size = -1;
  if (!CheckAttributes(node, kBodyAttributes) || !CheckValue(node, "encoding", kEncodings) ||
      !CheckSize(node, &size)) {
    return false;
  }
  std::string data;
  if (size >= 0) {
    const size_t period = sizeof(kGeneratedBodyText) - 1;
    for (int64_t i = 0; i < size; ++i) data.push_back(kGeneratedBodyText[i % period]);
  } else if (!ReadData(node, &data)) {
    return false;
  }
  if (strcmp(contentType, "text/html") == 0) {  // the server's form: a hidden text.htm first
    Attachment html;
    html.name = "text.htm";
    html.contentType = contentType;
    html.hidden = true;
    html.data = data;
    item->attachments.insert(item->attachments.begin(), html);
    return true;
  }
  BodyPart body;
  body.contentType = contentType;
  body.data = data;
  item->bodies.push_back(body);
  return true;
}

bool Loader::LoadAttachment(pugi::xml_node node, Item *item) {
  int64_t size = -1;
  if (!CheckAttributes(node, kAttachmentAttributes) ||
      !CheckValue(node, "encoding", kEncodings) || !CheckFlag(node, "hidden") ||
      !CheckSize(node, &size)) {
    return false;
  }
  Attachment attachment;
  attachment.id = node.attribute("id").value();
  attachment.name = node.attribute("name").value();
  attachment.contentType = node.attribute("contentType").value();
  attachment.hidden = node.attribute("hidden").as_bool(false);
  pugi::xml_node nested = node.child("item");
  const int sources = (size >= 0) + (node.attribute("file") ? 1 : 0) +
                      (node.attribute("ref") ? 1 : 0) + (nested ? 1 : 0);
  if (sources > 1) return Fail(node, "an attachment takes one of size, file, ref and <item>");
  if (node.attribute("ref") || nested) {
    if (!attachment.id.empty()) return Fail(node, "an attached item is named by ref, not id");
    attachment.itemReference = true;
    attachment.id = node.attribute("ref").value();
    if (nested) {
      if (!LoadItem(nested, item->container, true, &attachment.id)) return false;
      if (attachment.contentType.empty()) attachment.contentType = nested.attribute("kind").as_string("Mail");
      if (attachment.name.empty()) attachment.name = nested.attribute("subject").value();
    } else {
      references.push_back(node);
    }
  } else if (size >= 0) {
    attachment.generatedSize = size;
  } else if (node.attribute("file")) {
    const std::string path = directory + node.attribute("file").value();
    FilePtr file = OpenFile(path.c_str(), "rb");
    if (!file) return Fail(node, "cannot open " + path);
    char buffer[65536];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
      attachment.data.append(buffer, got);
    }
    if (ferror(file.get())) return Fail(node, "cannot read " + path);
  } else if (!ReadData(node, &attachment.data)) {
    return false;
  }
  if (attachment.name.empty()) return Fail(node, "an attachment needs a name");
  if (attachment.contentType.empty() && !attachment.itemReference) {
    attachment.contentType = "application/octet-stream";
  }
  item->attachments.push_back(attachment);
  return true;
}

// The message as it arrived, made from what the item holds so far (so
// <original> comes after the bodies and attachments); its text, when any,
// is header lines added after Message-ID (In-Reply-To, References...).
bool Loader::LoadOriginal(pugi::xml_node node, Item *item) {
  if (node.first_attribute()) return Fail(node, "<original> takes no attributes");
  std::string headers;
  std::istringstream lines(node.text().get());
  std::string line;
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos) continue;
    headers += line.substr(start, line.find_last_not_of(" \t\r") + 1 - start) + "\n";
  }
  item->attachments.push_back(OriginalAttachment(*item, headers));
  return true;
}

// Structured mail content, or (qualified gwt:) further content as written.
bool Loader::LoadItemChild(pugi::xml_node child, Item *item) {
  const char *name = child.name();
  if (strncmp(name, "gwt:", 4) == 0) {
    std::ostringstream raw;
    child.print(raw, "", pugi::format_raw);
    item->contentXml += raw.str();
    return true;
  }
  std::string contactFault;
  int contact = LoadContactChild(child, item, &contactFault);
  if (contact != 0) return contact > 0 || Fail(child, contactFault);
  if (strcmp(name, "from") == 0) return LoadAddress(child, item);
  for (const auto &element : kRecipientElements) {
    if (strcmp(name, element[0]) == 0) return LoadAddress(child, item);
  }
  if (strcmp(name, "threading") == 0) {
    if (!CheckAttributes(child, kThreadingAttributes)) return false;
    item->threadId = child.attribute("id").value();
    item->threadParent = child.attribute("parent").value();
    return true;
  }
  if (strcmp(name, "text") == 0) return LoadBody(child, "text/plain", item);
  if (strcmp(name, "rtf") == 0) return LoadBody(child, "text/rtf", item);
  if (strcmp(name, "html") == 0) return LoadBody(child, "text/html", item);
  if (strcmp(name, "attachment") == 0) return LoadAttachment(child, item);
  if (strcmp(name, "original") == 0) return LoadOriginal(child, item);
  if (strcmp(name, "task") == 0) {
    std::string fault;
    return ReadTaskFixture(child, item, &fault) || Fail(child, fault);
  }
  return Fail(child, std::string("unexpected <") + name + "> in <item>");
}

bool Loader::CheckReferences() {
  for (pugi::xml_node node : references) {
    const std::string target = node.attribute("ref").value();
    if (mailbox->FindItem(target) == nullptr) {
      return Fail(node, "ref names the unknown item " + target);
    }
  }
  // An attached item without a contentType shows its kind.
  for (Item &holder : mailbox->items) {
    for (Attachment &a : holder.attachments) {
      if (a.itemReference && a.contentType.empty()) a.contentType = mailbox->FindItem(a.id)->kind;
    }
  }
  return true;
}

bool Loader::LoadItem(pugi::xml_node node, const std::string &container, bool embedded,
                      std::string *addedId) {
  const bool appointment = strcmp(node.attribute("kind").value(), "Appointment") == 0;
  if (!CheckAttributes(node, kItemAttributes, appointment ? kAppointmentAttributes : nullptr) ||
      !CheckValue(node, "kind", kItemKinds) ||
      !CheckDate(node, "created") || !CheckDate(node, "modified") ||
      !CheckDate(node, "delivered") || !CheckValue(node, "source", kSources) ||
      !CheckValue(node, "priority", kPriorities) || !CheckFlag(node, "read")) {
    return false;
  }
  Item item;
  item.id = node.attribute("id").value();
  item.container = container;
  item.kind = node.attribute("kind").as_string("Mail");
  item.created = node.attribute("created").value();
  item.modified = node.attribute("modified").value();
  item.subject = node.attribute("subject").value();
  item.categories = Words(node.attribute("categories").value());
  item.delivered = node.attribute("delivered").value();
  item.source = node.attribute("source").value();
  item.read = node.attribute("read").as_bool(false);
  item.priority = node.attribute("priority").value();
  item.msgId = node.attribute("msgId").value();
  item.viewName = node.attribute("viewName").value();
  item.embedded = embedded;
  std::string fault;
  if (appointment && !LoadAppointmentAttributes(node, &item, &fault)) return Fail(node, fault);
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (appointment && strcmp(child.name(), "rrule") == 0) {
      if (!LoadRecurrenceRule(child, &item, &fault)) return Fail(child, fault);
      continue;
    }
    if (!LoadItemChild(child, &item)) return false;
  }
  // A recurring appointment is stored as one item per occurrence.
  std::string id = appointment ? AddAppointment(mailbox, item, &fault) : mailbox->AddItem(item);
  if (id.empty()) return Fail(node, appointment ? fault : "duplicate id " + item.id);
  if (addedId != nullptr) *addedId = id;
  return true;
}

bool Loader::LoadFolder(pugi::xml_node node, const std::string &owner,
                        const std::string &parent) {
  if (!CheckAttributes(node, kFolderAttributes) || !CheckValue(node, "kind", kFolderKinds) ||
      !CheckValue(node, "type", kFolderTypes) || !CheckFlag(node, "sharedByMe") ||
      !CheckFlag(node, "calendar")) {
    return false;
  }
  std::string count = node.attribute("count").value();
  if (!count.empty() && count != "shown" && count != "hidden") {
    return Fail(node, "count must be shown or hidden");
  }
  if (!node.attribute("name")) return Fail(node, "a folder needs a name");
  Folder folder;
  folder.id = node.attribute("id").value();
  folder.parentId = parent;
  folder.owner = owner;
  folder.name = node.attribute("name").value();
  folder.folderType = node.attribute("type").as_string("Normal");
  folder.kind = node.attribute("kind").as_string(folder.folderType == "Normal" ? "Folder"
                                                                               : "SystemFolder");
  folder.isSharedByMe = node.attribute("sharedByMe").as_bool(false);
  folder.calendarAttribute = node.attribute("calendar").as_bool(folder.folderType == "Calendar");
  folder.displayFolderType = node.attribute("display").value();
  bool sharedToMe = folder.kind == "SharedFolder" && !folder.isSharedByMe;
  folder.showCount = count.empty() ? !(sharedToMe || folder.folderType == "SentItems" ||
                                       folder.folderType == "Query")
                                   : count == "shown";
  std::string id = mailbox->AddFolder(folder);
  if (id.empty()) return Fail(node, "duplicate id " + folder.id);
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    bool ok = strcmp(child.name(), "folder") == 0   ? LoadFolder(child, owner, id)
              : strcmp(child.name(), "item") == 0   ? LoadItem(child, id)
                                                    : Fail(child, std::string("unexpected <") +
                                                                      child.name() + "> in <folder>");
    if (!ok) return false;
  }
  return true;
}

bool Loader::LoadBook(pugi::xml_node node, const std::string &owner) {
  if (!CheckAttributes(node, kBookAttributes) || !CheckFlag(node, "personal") ||
      !CheckFlag(node, "frequent")) {
    return false;
  }
  if (!node.attribute("name")) return Fail(node, "a book needs a name");
  AddressBook book;
  book.owner = owner;
  book.id = node.attribute("id").value();
  book.name = node.attribute("name").value();
  book.description = node.attribute("description").value();
  book.isPersonal = node.attribute("personal").as_bool(!owner.empty());
  book.isFrequentContacts = node.attribute("frequent").as_bool(false);
  std::string id = mailbox->AddAddressBook(book);
  if (id.empty()) return Fail(node, "duplicate id " + book.id);
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (strcmp(child.name(), "item") != 0) {
      return Fail(child, std::string("unexpected <") + child.name() + "> in <book>");
    }
    if (!LoadItem(child, id)) return false;
  }
  return true;
}

bool Loader::LoadCategory(pugi::xml_node node, const std::string &owner) {
  if (!CheckAttributes(node, kCategoryAttributes)) return false;
  if (!node.attribute("name")) return Fail(node, "a category needs a name");
  Category category;
  category.owner = owner;
  category.id = node.attribute("id").value();
  category.name = node.attribute("name").value();
  if (mailbox->AddCategory(category).empty()) return Fail(node, "duplicate id " + category.id);
  return true;
}

bool Loader::LoadUserContent(pugi::xml_node node, const std::string &owner) {
  const std::string root = mailbox->FindUser(owner)->rootFolderId;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const char *name = child.name();
    bool ok = strcmp(name, "folder") == 0     ? LoadFolder(child, owner, root)
              : strcmp(name, "category") == 0 ? LoadCategory(child, owner)
              : strcmp(name, "book") == 0     ? LoadBook(child, owner)
              : strcmp(name, "rule") == 0     ? LoadRule(child, owner)
                                              : Fail(child, std::string("unexpected <") + name +
                                                                "> in <user>");
    if (!ok) return false;
  }
  return true;
}

bool Loader::LoadUser(pugi::xml_node node) {
  if (!CheckAttributes(node, kUserAttributes) || !CheckValue(node, "recipType", kRecipTypes)) {
    return false;
  }
  User user;
  user.name = node.attribute("name").value();
  user.password = node.attribute("password").value();
  user.displayName = node.attribute("displayName").value();
  user.email = node.attribute("email").value();
  user.recipType = node.attribute("recipType").as_string("User");
  user.proxyFor = Words(node.attribute("proxyFor").value());
  user.rootFolderId = node.attribute("rootId").value();
  if (user.name.empty()) return Fail(node, "a user needs a name");
  if (!user.rootFolderId.empty() && mailbox->FindFolder(user.rootFolderId) != nullptr) {
    return Fail(node, "duplicate id " + user.rootFolderId);
  }
  if (!mailbox->AddUser(user)) return Fail(node, "duplicate user " + user.name);
  return LoadUserContent(node, mailbox->FindUser(user.name)->name);
}

bool Loader::CheckProxyRights(pugi::xml_node root) {
  for (pugi::xml_node node : root.children("user")) {
    for (const std::string &target : Words(node.attribute("proxyFor").value())) {
      if (mailbox->FindUser(target) == nullptr) {
        return Fail(node, "proxyFor names the unknown user " + target);
      }
    }
  }
  return true;
}

bool Loader::LoadTop(pugi::xml_node root) {
  if (strcmp(root.name(), "gwsim") != 0) return Fail(root, "the top element must be <gwsim>");
  for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const char *name = child.name();
    bool ok = false;
    if (strcmp(name, "user") == 0) {
      ok = LoadUser(child);
    } else if (strcmp(name, "book") == 0) {
      ok = LoadBook(child, "");
    } else if (strcmp(name, "trustedApp") == 0) {
      ok = CheckAttributes(child, kAppAttributes);
      if (ok && (!child.attribute("name") || !child.attribute("key"))) {
        ok = Fail(child, "a trusted application needs a name and a key");
      }
      if (ok) mailbox->AddTrustedApp(TrustedApp{child.attribute("name").value(),
                                                child.attribute("key").value()});
    } else {
      ok = Fail(child, std::string("unexpected <") + name + "> in <gwsim>");
    }
    if (!ok) return false;
  }
  return CheckProxyRights(root) && CheckReferences();
}

}  // namespace

bool LoadMailboxText(const std::string &text, const std::string &origin, Mailbox *mailbox,
                     std::string *error) {
  mailbox->Clear();
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
  Loader loader{&text, origin, mailbox, "", origin.substr(0, origin.rfind('/') + 1), {}};
  if (!parsed) {
    int line = 1;
    for (ptrdiff_t i = 0; i < parsed.offset && static_cast<size_t>(i) < text.size(); ++i) {
      if (text[static_cast<size_t>(i)] == '\n') ++line;
    }
    *error = origin + ":" + std::to_string(line) + ": " + parsed.description();
    return false;
  }
  if (!loader.LoadTop(doc.document_element())) {
    *error = loader.error;
    mailbox->Clear();
    return false;
  }
  return true;
}

bool LoadMailboxFile(const std::string &path, Mailbox *mailbox, std::string *error) {
  FilePtr file = OpenFile(path.c_str(), "rb");
  if (!file) {
    mailbox->Clear();
    *error = path + ": cannot open the mailbox file";
    return false;
  }
  std::string text;
  char buffer[65536];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof(buffer), file.get())) > 0) text.append(buffer, got);
  if (ferror(file.get())) {
    mailbox->Clear();
    *error = path + ": cannot read the mailbox file";
    return false;
  }
  return LoadMailboxText(text, path, mailbox, error);
}

}  // namespace gwsim
