// Fuzz target: the logon as the host calls it. The answers go, in turn, to
// the loginRequest, the folder list, the category list and the address-book
// list, then to the cursor and count requests with which the folders and
// books without a count are counted, and to the logout. The folder table
// must come out within its bounds: every path within its field and every
// record's class one of the four.
#include <cstdlib>
#include <cstring>
#include <string>

#include "folders/folder_table.h"
#include "fuzz/fuzz_support.h"
#include "plugin/mv_api.h"

namespace {

void CheckFolderTable() {
  if (gFolderTable.count < 0 || gFolderTable.count > kMaxFolders) abort();
  for (int i = 0; i < gFolderTable.count; ++i) {
    const FolderRecord *r = gFolderTable.records[i];
    if (r == nullptr) abort();
    if (memchr(r->name, '\0', sizeof r->name) == nullptr ||
        memchr(r->path, '\0', sizeof r->path) == nullptr ||
        memchr(r->id, '\0', sizeof r->id) == nullptr ||
        memchr(r->parentId, '\0', sizeof r->parentId) == nullptr)
      abort();
    if (r->folderClass < kFolderClassMail || r->folderClass > kFolderClassTaskList) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 0);
  char user[256] = "alice";
  char password[1024] = "secret";
  Logon(user, password, "http://fuzz.invalid", nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, 1, (input.control & 0x08) ? 1 : 0, nullptr, nullptr,
        nullptr);
  CheckFolderTable();
  Logoff(0);
  fuzz::EndRun();
  return 0;
}
