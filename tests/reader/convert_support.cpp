// The capturing host of the ConvertFolder tests.
#include "convert_support.h"

#include "plugin/mvcom.h"

#include <cstring>

#include "folders/folder_table.h"
#include "plugin/mv_api.h"
#include "plugin/session_state.h"

namespace reader_test {

HostLog gHost;

namespace {

int MV_CALL SaveItem(HostMessage *record, const char *, void *, int) {
  StoredItem item;
  item.subject = record->subject;
  item.title = record->title;
  for (int i = 0; i < record->partCount; ++i) {
    char path[600];
    FormatPartFileName(path, sizeof path, gSession.workDir, record->msgSeq, i);
    // A part the host keeps in memory has no file.
    std::string bytes;
    if (!ReadKeptPart(path, &bytes)) bytes = testing_support::ReadFileBytes(path);
    item.parts.push_back({record->parts[i]->name, record->parts[i]->kind, record->parts[i]->size, bytes});
  }
  gHost.stored.push_back(item);
  size_t call = gHost.stored.size() - 1;
  return call < gHost.saveCodes.size() ? gHost.saveCodes[call] : 0;
}

int MV_CALL ItemNotify(HostMessage *, const char *, int status, int *, int *, int *stop) {
  gHost.statuses.push_back(status);
  if (gHost.stopAfterStored > 0 && status == 0 &&
      static_cast<int>(gHost.stored.size()) >= gHost.stopAfterStored)
    *stop = 1;
  return 0;
}

int MV_CALL Notify(int, const char *key, int value, int *, int *, int *stop) {
  if (strcmp(key, "keepalive") != 0) gHost.notes.emplace_back(key, value);
  if (gHost.stopOnCountNotice && strcmp(key, "MailboxMessageCount") == 0) *stop = 1;
  return 0;
}

}  // namespace

void ConvertTest::SetUp() {
  PluginTest::SetUp();
  gHost = HostLog();
  record_ = new HostMessage();
  record_->msgSeq = 7;
}

void ConvertTest::TearDown() {
  delete record_;
  PluginTest::TearDown();
}

int ConvertTest::Convert(const std::string &name, int itemLimit) {
  gSession.hostNotify = &Notify;
  InitRead(record_, nullptr, nullptr, nullptr, nullptr, itemLimit);
  return ConvertFolder(record_, &SaveItem, FolderIndex(name), "text", nullptr, nullptr, nullptr,
                       0, nullptr, nullptr, nullptr, &storedCount_, &dataSize_, &ItemNotify);
}

}  // namespace reader_test
