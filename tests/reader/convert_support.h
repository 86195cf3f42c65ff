// A host for ConvertFolder tests: callbacks that keep what the plug-in
// hands over (each stored item with its parts and their files, each
// notification) and that can be told how to answer.
#pragma once

#include <string>
#include <vector>

#include "folders/plugin_test_support.h"
#include "plugin/host_message.h"

namespace reader_test {

struct StoredPart {
  std::string name;
  int kind;
  int size;
  std::string bytes;  // the part file's content when SaveItem ran
};

struct StoredItem {
  std::string subject;
  std::string title;  // appointments and tasks
  std::vector<StoredPart> parts;
};

// What the host saw and how it answers.
struct HostLog {
  std::vector<StoredItem> stored;     // every SaveItem call
  std::vector<int> statuses;          // every ItemNotify status, in order
  std::vector<std::pair<std::string, int>> notes;  // HostNotify key and value
  std::vector<int> saveCodes;  // SaveItem answers in turn (then 0)
  int stopAfterStored = 0;     // > 0: ItemNotify sets stop after this many stored
  bool stopOnCountNotice = false;  // HostNotify sets stop on "MailboxMessageCount"
};

class ConvertTest : public plugin_test::PluginTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // InitRead with itemLimit, then ConvertFolder of the folder named name.
  int Convert(const std::string &name, int itemLimit = 0);

  HostMessage *record_ = nullptr;
  int storedCount_ = -1;
  int dataSize_ = -1;
};

extern HostLog gHost;

}  // namespace reader_test
