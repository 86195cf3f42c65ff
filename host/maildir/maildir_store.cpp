// The Maildir export store and import source: thin adapters from the
// item-store interface to maildir_writer.h, maildir_reader.h and
// message_import.h, which hold the format.
#include "host/maildir/maildir_store.h"

#include <sys/stat.h>

#include <filesystem>
#include <future>

#include "host/maildir/maildir_paths.h"
#include "host/maildir/maildir_reader.h"
#include "host/maildir/tree_links.h"
#include "host/maildir/maildir_writer.h"
#include "host/maildir/message_import.h"

namespace maildir {

namespace {

class MaildirExportStore : public store::ExportStore {
 public:
  explicit MaildirExportStore(const std::string &outDir) : mailRoot_(outDir) {
    if (!mailRoot_.empty() && mailRoot_.back() != '/') mailRoot_ += '/';
    mailRoot_ += "mail";
  }

  int OpenFolder(const std::string &folderPath, std::string *error) override {
    // The folder left behind must not keep messages that no Sync will reach.
    if (Sync(error) != 0) return -1;
    open_ = false;
    folder_ = MaildirFolder();
    if (OpenMaildirFolder(FolderDirectory(mailRoot_, folderPath), folderPath, &folder_, error) != 0) return -1;
    folder_.deferSync = true;
    open_ = true;
    return 0;
  }

  int Write(const HostMessage &record, const std::string &workDir, int64_t *bytes, std::vector<std::string> *,
            std::string *error) override {
    if (!open_) {
      *error = "no Maildir folder is open";
      return store::kFailed;
    }
    switch (WriteMaildirMessage(&folder_, record, workDir, bytes, error)) {
      case kWriteStored: return store::kStored;
      case kWriteAlreadyPresent: return store::kAlreadyPresent;
      default: return store::kFailed;
    }
  }

  int Sync(std::string *error) override {
    if (!open_ || folder_.unsynced == 0) return 0;
    return SyncMaildirFolder(&folder_, error);
  }

 private:
  std::string mailRoot_;
  MaildirFolder folder_;
  bool open_ = false;
};

class MaildirImportSource : public store::ImportSource {
 public:
  explicit MaildirImportSource(const std::string &inDir) : tree_(inDir), root_(ImportMailRoot(inDir)) {}

  int ListFolders(std::vector<store::SourceFolder> *out, std::string *error) override {
    std::vector<FolderSource> found;
    // DIR/mail itself may be a link out of the tree given.
    if (root_ != tree_ && !FollowEntry(tree_, root_, &skippedLinks_)) return 0;
    if (maildir::ListFolders(root_, &found, error, &skippedLinks_) != 0) return -1;
    for (const FolderSource &f : found) {
      store::SourceFolder folder;
      folder.path = f.path;
      folder.directory = f.directory;
      folder.folderClass = store::kClassMail;
      out->push_back(folder);
    }
    return 0;
  }

  int ListItems(const store::SourceFolder &folder, std::vector<store::SourceItem> *out,
                std::string *error) override {
    std::vector<MessageFile> files;
    if (ListMessages(folder.directory, &files, error, root_, &skippedLinks_) != 0) return -1;
    for (const MessageFile &file : files) {
      store::SourceItem item;
      item.file = file.path;
      item.name = file.name;
      item.seen = file.seen;
      out->push_back(item);  // the key comes with Identify
    }
    return 0;
  }

  // The message read for its key is the one converted next: its bytes are
  // kept from one to the other, so a message of common size is read once.
  void Identify(store::SourceItem *item) override {
    if (!item->key.empty()) return;
    identified_ = item->file;
    struct stat st;
    if (stat(item->file.c_str(), &st) == 0 && st.st_size >= kHashAsideBytes) {
      // Hashing a message of hundreds of megabytes takes as long as a good
      // part of its conversion: the two go on side by side.
      const std::string file = item->file;
      identity_ = std::async(std::launch::async, [file] {
        Identity id;
        if (MessageIdentity(file, &id.key, &id.legacyKey, &id.problem, nullptr) != 0) id.key.clear();
        return id;
      });
      item->keyPending = true;
      return;
    }
    if (MessageIdentity(item->file, &item->key, &item->legacyKey, &item->problem, &bytes_) != 0) {
      item->key.clear();
      bytes_.clear();
    }
  }

  void AwaitIdentity(store::SourceItem *item) override {
    item->keyPending = false;
    if (!identity_.valid()) return;
    Identity id = identity_.get();
    item->key = id.key;
    item->legacyKey = id.legacyKey;
    item->problem = id.problem;
  }

  int Convert(const store::SourceItem &item, HostMessage *record, std::string *subject,
              std::vector<std::string> *warnings, std::string *reason) override {
    std::string bytes;
    if (item.file == identified_) bytes.swap(bytes_);
    identified_.clear();
    bytes_.clear();
    return ConvertMessageFile(item.file, item.seen, record, subject, warnings, reason, &bytes);
  }

 private:
  std::string tree_;  // the import's directory
  std::string root_;
  std::string identified_, bytes_;  // the file Identify read last, and its bytes
  struct Identity {
    std::string key, legacyKey, problem;
  };
  std::future<Identity> identity_;  // of a large message, while it is converted
  static const off_t kHashAsideBytes = 4 << 20;
};

}  // namespace

std::unique_ptr<store::ExportStore> MakeMaildirExportStore(const std::string &outDir) {
  return std::unique_ptr<store::ExportStore>(new MaildirExportStore(outDir));
}

std::string ImportMailRoot(const std::string &inDir) {
  std::error_code ec;
  std::filesystem::path mail = std::filesystem::path(inDir) / "mail";
  return std::filesystem::is_directory(mail, ec) ? mail.string() : inDir;
}

std::unique_ptr<store::ImportSource> MakeMaildirImportSource(const std::string &inDir) {
  return std::unique_ptr<store::ImportSource>(new MaildirImportSource(inDir));
}

}  // namespace maildir
