// The simulator's store: users, trusted applications, folders, items,
// categories and address books of every mailbox that one gwsim server holds.
//
// The records are plain data; tests may read and change them directly while
// holding Lock(). The Add* functions give a record an id when it has none,
// keep ids unique and fill in derived values (a user's root folder).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "gwsim/rule_data.h"
#include "gwsim/task_data.h"
#include "gwsim/appointment_data.h"
#include "gwsim/contact_card.h"

namespace gwsim {

struct User {
  std::string name;         // login name, compared ignoring case ("alice")
  std::string password;
  std::string displayName;  // gwt:name of the login answer
  std::string email;
  std::string recipType = "User";       // "User" or "Resource"
  std::vector<std::string> proxyFor;     // mailboxes this user may open as a proxy
  std::string rootFolderId;              // set by AddUser
};

struct TrustedApp {
  std::string name;
  std::string key;
};

struct Folder {
  std::string id;
  std::string parentId;    // empty only for a mailbox's root folder
  std::string owner;       // User::name of the mailbox, spelt exactly as there
  std::string name;
  // xsi:type of the folder: "SystemFolder", "Folder", "SharedFolder" or
  // "ContactFolder".
  std::string kind = "Folder";
  // "Root", "Mailbox", "SentItems", "Draft", "Trash", "Calendar", "Contacts",
  // "Checklist", "Cabinet", "Normal", "JunkMail", "UserContacts", "Query"...
  // Sent as gwt:folderType only by the kinds that carry one (SystemFolder,
  // ContactFolder).
  std::string folderType = "Normal";
  bool showCount = true;          // false: no gwt:count (Sent Items, shared to me, queries)
  bool isSharedByMe = false;
  bool calendarAttribute = false; // sends a gwt:calendarAttribute block
  std::string displayFolderType;  // non-empty: gwt:displaySettings/gwt:folderType
};

// One recipient of a mail (gwt:recipient).
struct Recipient {
  std::string displayName;
  std::string email;
  std::string distType = "TO";  // "TO", "CC" or "BC"
  std::string reply;            // "", "accepted", "declined" or "replied"
  std::string replyDate;        // xs:dateTime of the reply; with `reply`
};

// One attachment of an item: a file (its bytes held or generated on
// demand) or a reference to another item of the store.
struct Attachment {
  std::string id;           // getAttachmentRequest id; the referenced item's id for a reference
  std::string name;         // gwt:name ("text.htm" for the HTML body, "Mime.822")
  std::string contentType;  // "text/plain"...; "Mail", "Appointment", "Task" for references
  bool hidden = false;      // gwt:hidden 1 (the HTML body)
  bool itemReference = false;
  std::string data;         // the bytes, unless generated
  // >= 0: the attachment has this many bytes, produced on demand (byte i
  // is i % 251); `data` is then unused.
  int64_t generatedSize = -1;
  int64_t Size() const {
    return generatedSize >= 0 ? generatedSize : static_cast<int64_t>(data.size());
  }
};

// A body text of a mail (gwt:message/gwt:part). Parts over
// kInlineBodyLimit bytes are sent empty with `id`, to be read with
// getAttachmentRequest.
struct BodyPart {
  std::string contentType;  // "text/plain" or "text/rtf"
  std::string id;           // set by AddItem
  std::string data;
};
constexpr size_t kInlineBodyLimit = 32768;

struct Item {
  std::string id;
  std::string container;  // folder or address book id
  std::string kind = "Mail";  // "Mail", "Appointment", "Task", "Contact", "Group", "Note"
  std::string created;    // xs:dateTime, "2026-01-02T10:00:00Z"
  std::string modified;   // xs:dateTime; empty: same as created
  std::string subject;    // gwt:subject, or gwt:name for contacts and groups
  std::vector<std::string> categories;  // category ids
  // Mail content (all optional; empty fields are not sent).
  std::string delivered;  // xs:dateTime
  std::string source;     // gwt:source: "received", "sent", "draft", "personal"
  bool read = false;      // gwt:status/gwt:read
  std::string priority;   // gwt:options/gwt:priority: "High", "Standard", "Low"
  std::string msgId;      // gwt:msgId
  std::string threadId;   // gwt:threading/gwt:id
  std::string threadParent;  // gwt:threading/gwt:parent
  std::string viewName;   // gwt:viewName (a text the mail parser reads when present)
  std::string fromName;
  std::string fromEmail;
  std::vector<Recipient> recipients;
  std::vector<BodyPart> bodies;          // text/plain first, then text/rtf
  std::vector<Attachment> attachments;   // the HTML body first, as text.htm
  // Held only as an attachment of another item: not listed or counted in
  // its container (which is its holder's, so the same mailbox may read it).
  bool embedded = false;
  // Contact, group and organization content (address-book kinds only).
  ContactCard card;
  // Further elements of the full item (gwt:distribution, gwt:message ...),
  // written inside the item as they stand; already qualified with gwt:.
  std::string contentXml;
  TaskData task;  // kind "Task" only
  AppointmentData appointment;  // kind "Appointment" only
};

struct Category {
  std::string owner;  // User::name of the mailbox
  std::string id;     // "X@NN"
  std::string name;
};

struct AddressBook {
  std::string owner;  // User::name; empty: a system book every user sees
  std::string id;
  std::string name;
  std::string description;
  bool isPersonal = false;
  bool isFrequentContacts = false;
};

class Mailbox {
 public:
  Mailbox() = default;
  Mailbox(const Mailbox &) = delete;
  Mailbox &operator=(const Mailbox &) = delete;

  // Holds the store's mutex; the server holds it while it answers.
  std::unique_lock<std::mutex> Lock() const { return std::unique_lock<std::mutex>(mutex_); }

  // Empties the store.
  void Clear();

  // Adds a user and its root folder. Returns false (and adds nothing) when a
  // user of that name exists or the name is empty.
  bool AddUser(const User &user);
  void AddTrustedApp(const TrustedApp &app);
  // The Add* below return the record's id: the given one, or a new one when
  // it was empty. They return "" (and add nothing) when the given id is in
  // use already.
  std::string AddFolder(const Folder &folder);
  std::string AddItem(const Item &item);
  std::string AddCategory(const Category &category);
  std::string AddAddressBook(const AddressBook &book);

  // Lookups; null when absent. Pointers stay valid until the next Add* or
  // direct change of the vector.
  User *FindUser(const std::string &name);
  const TrustedApp *FindTrustedApp(const std::string &name) const;
  Folder *FindFolder(const std::string &id);
  AddressBook *FindAddressBook(const std::string &id);
  Item *FindItem(const std::string &id);
  // The folder of `owner` whose folderType is `folderType`; null when none.
  Folder *FindFolderByType(const std::string &owner, const std::string &folderType);

  // True when `user` may open `mailbox` (its own, or by proxy rights).
  bool CanOpen(const std::string &user, const std::string &mailbox);
  // Items whose container is `container`, in store order (embedded items
  // left out).
  std::vector<const Item *> ItemsIn(const std::string &container) const;
  // The item that holds the attachment or body part `id` (never a
  // reference); null when none. *attachment or *body is set to the one found
  // (the other to null).
  Item *FindAttachment(const std::string &id, const Attachment **attachment,
                       const BodyPart **body);

  std::vector<User> users;
  std::vector<TrustedApp> trustedApps;
  std::vector<Folder> folders;
  std::vector<Item> items;
  std::vector<Category> categories;
  std::vector<AddressBook> books;
  std::vector<Rule> rules;  // every mailbox's, in the order getRuleListRequest lists them

 private:
  std::string NewId(const char *kind, const std::string &container);

  mutable std::mutex mutex_;
  std::unordered_set<std::string> usedIds_;
  // Item id -> index in `items`; rebuilt when found stale, since tests
  // change the vector directly.
  std::unordered_map<std::string, size_t> itemIndex_;
  unsigned nextId_ = 0x101E;
};

// Appends to *out the bytes [offset, offset + count) of the attachment,
// cut at its end (nothing when offset is at or past it). Generated bytes
// are made here, so a huge attachment never lies in memory whole.
void ReadAttachmentBytes(const Attachment &attachment, int64_t offset, size_t count,
                         std::string *out);

// Fills the store with the built-in demo mailbox (alice, bob, a resource
// mailbox, the trusted application "Movaro"). Clears the store first.
void LoadDemoMailbox(Mailbox *mailbox);

// Reads a fixture file (format in gwsim/README.md) into the store, which is
// cleared first. Returns false with a message naming the file, the line and
// the fault in *error; the store is then left empty.
bool LoadMailboxFile(const std::string &path, Mailbox *mailbox, std::string *error);
// As LoadMailboxFile, from text in memory (`origin` names it in messages).
bool LoadMailboxText(const std::string &text, const std::string &origin, Mailbox *mailbox,
                     std::string *error);

// Adds `folderCount` mail folders below the Cabinet (or, without one, the
// root) of `owner` and `itemCount` mail items spread evenly over them, with
// created dates one hour apart from 2020-01-01T00:00:00Z. Returns false when
// the user is unknown.
bool GenerateMailbox(Mailbox *mailbox, const std::string &owner, int folderCount, int itemCount);

// What each generated mail carries besides its text body.
struct GeneratedAttachments {
  int perItem = 0;   // attachments on every mail, named "attachment-<mail>-<k>.bin"
  int64_t size = 0;  // bytes of each, made on demand (byte i is i % 251)
  // Each mail a message id and, as mail from the Internet has, its original
  // message ("Mime.822", which then holds the attachments' bytes too).
  bool originals = false;
};
// As above, the mails with sender, recipient, text body and attachments.
bool GenerateMailbox(Mailbox *mailbox, const std::string &owner, int folderCount, int itemCount,
                     const GeneratedAttachments &attachments);

}  // namespace gwsim
