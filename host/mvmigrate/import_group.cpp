// Group commit of an import's migration state, with the list of messages
// created since the last commit.
#include "host/mvmigrate/import_group.h"

#include <unistd.h>

#include <climits>
#include <vector>

#include "host/mvcom/mvcom_host.h"
#include "plugin/mvcom.h"

namespace {

// As export commits: every 500 records or every second.
const int kGroupRecords = 500;
const std::chrono::milliseconds kGroupAge(1000);

bool GroupDue(const ImportGroup &group) {
  return group.pending >= kGroupRecords || std::chrono::steady_clock::now() - group.openedAt >= kGroupAge;
}

}  // namespace

int SettleCreatedMessages(const std::string &path, std::set<std::string> *passOver, bool *keep) {
  std::vector<CreatedMessage> listed;
  ReadCreatedList(path, &listed);
  int recorded = 0;
  *keep = false;
  for (const CreatedMessage &m : listed) {
    const int rc = mvcom_RecordImported(m.scope.c_str(), m.key.c_str());
    if (rc == 0) ++recorded;
    if (rc >= 0) continue;
    com_Log("MV Error: %s, created last run, could not be recorded as imported", m.key.c_str());
    passOver->insert(m.scope + "\n" + m.key);
    *keep = true;
  }
  if (recorded > 0)
    com_Log("import: %d message(s) created last run were recorded as imported; not creating them again", recorded);
  if (!*keep) unlink(path.c_str());
  return recorded;
}

void BeginImportGroups(ImportGroup *group, const std::string &path, bool keep) {
  group->keep = keep;
  group->pending = 0;
  group->openedAt = std::chrono::steady_clock::now();
  std::string error;
  if (OpenCreatedList(path, &group->created, &error) != 0) {
    com_Log("MV Warning: %s; each imported message is committed on its own", error.c_str());
    return;
  }
  // The loop commits: the state's own limits are never reached first.
  if (mvcom_BeginBatch(INT_MAX, INT_MAX, nullptr, nullptr) != 0) CloseCreatedList(&group->created, false);
}

int RecordCreatedMessage(ImportGroup *group, const CreatedMessage &message) {
  const bool listed = NoteCreated(&group->created, message) == 0;
  const int rc = mvcom_RecordImported(message.scope.c_str(), message.key.c_str());
  ++group->pending;
  // Unlisted, the record must be committed before the message's pending
  // entry goes.
  if (!listed || GroupDue(*group)) CommitImportGroup(group);
  return rc;
}

int CommitImportGroup(ImportGroup *group) {
  const int pending = group->pending;
  group->pending = 0;
  group->openedAt = std::chrono::steady_clock::now();
  if (mvcom_CommitBatch() != 0) {
    com_Log("MV Error: the records of %d imported message(s) were not committed; the next run records them "
            "from %s",
            pending, group->created.path.c_str());
    group->keep = true;
    return -1;
  }
  if (!group->keep && group->created.fd >= 0 && ClearCreatedList(&group->created) != 0)
    com_Log("MV Warning: cannot empty %s; the next run records its messages again", group->created.path.c_str());
  return 0;
}

void EndImportGroups(ImportGroup *group) {
  CommitImportGroup(group);
  if (mvcom_EndBatch() != 0) group->keep = true;
  CloseCreatedList(&group->created, !group->keep);
}
