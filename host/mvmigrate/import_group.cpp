// Group commit of an import's migration state, with the list of messages
// created since the last commit.
#include "host/mvmigrate/import_group.h"

#include <unistd.h>

#include <climits>
#include <vector>

#include "host/mvcom/mvcom_host.h"
#include "host/mvmigrate/thread_priority.h"
#include "plugin/mvcom.h"

namespace {

// As export commits: every 500 records or every second.
const int kGroupRecords = 500;
const std::chrono::milliseconds kGroupAge(1000);

bool GroupDue(const ImportGroup &group) {
  return group.listed >= kGroupRecords || std::chrono::steady_clock::now() - group.openedAt >= kGroupAge;
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

namespace {

// The recorder wakes for this many queued messages (a wake costs the main
// thread about as much as a record would).
const size_t kRecordBatch = 32;

// Records the messages taken from the queue. A record that fails keeps the
// list, whose line for it the next run records.
void RecordTaken(ImportGroup *group, std::vector<CreatedMessage> *taken) {
  for (const CreatedMessage &m : *taken) {
    ++group->pending;
    if (mvcom_RecordImported(m.scope.c_str(), m.key.c_str()) >= 0) continue;
    com_Log("MV Error: %s was created but could not be recorded; the next run records it from %s", m.key.c_str(),
            group->created.path.c_str());
    group->keep = true;
  }
  taken->clear();
}

// Commits the open group and empties the list: with the group's lock held
// and the queue recorded first, so that the list loses no message that is
// not committed.
int CommitLocked(ImportGroup *group) {
  std::vector<CreatedMessage> taken;
  taken.swap(group->queue);
  RecordTaken(group, &taken);
  const int pending = group->pending;
  group->pending = 0;
  group->listed = 0;
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

void RecorderLoop(ImportGroup *group) {
  LowerHelperThreadPriority();
  std::unique_lock<std::mutex> lock(group->mutex);
  for (;;) {
    const bool asked = group->commitsAsked != group->commitsDone;
    const bool open = group->listed > 0 || group->pending > 0;
    if (asked || (open && GroupDue(*group))) {
      const uint64_t upTo = group->commitsAsked;
      group->lastCommit = CommitLocked(group);
      group->commitsDone = upTo;
      group->settled.notify_all();
      continue;
    }
    if (group->queue.size() >= kRecordBatch) {
      std::vector<CreatedMessage> taken;
      taken.swap(group->queue);
      lock.unlock();
      RecordTaken(group, &taken);
      lock.lock();
      continue;
    }
    if (group->stopping) return;
    auto ready = [group] {
      return group->stopping || group->commitsAsked != group->commitsDone || group->queue.size() >= kRecordBatch;
    };
    if (open)
      group->wake.wait_until(lock, group->openedAt + kGroupAge, ready);
    else
      group->wake.wait(lock, ready);
  }
}

// Asks the recorder for a commit of everything queued until now and waits
// for it; without a recorder, commits here. Called with the lock held.
int CommitAndWait(ImportGroup *group, std::unique_lock<std::mutex> *lock) {
  if (!group->recorder.joinable()) return CommitLocked(group);
  const uint64_t ticket = ++group->commitsAsked;
  group->wake.notify_one();
  group->settled.wait(*lock, [group, ticket] { return group->commitsDone >= ticket; });
  return group->lastCommit;
}

}  // namespace

void BeginImportGroups(ImportGroup *group, const std::string &path, bool keep) {
  group->keep = keep;
  group->pending = 0;
  group->openedAt = std::chrono::steady_clock::now();
  std::string error;
  if (OpenCreatedList(path, &group->created, &error) != 0) {
    com_Log("MV Warning: %s; each imported message is committed on its own", error.c_str());
  } else if (mvcom_BeginBatch(INT_MAX, INT_MAX, nullptr, nullptr) != 0) {
    // The loop commits: the state's own limits are never reached first.
    CloseCreatedList(&group->created, false);
  }
  group->stopping = false;
  group->recorder = std::thread(RecorderLoop, group);
}

int RecordCreatedMessage(ImportGroup *group, const CreatedMessage &message) {
  std::unique_lock<std::mutex> lock(group->mutex);
  group->queue.push_back(message);
  // Unlisted, the record must be committed before the message's pending
  // entry goes.
  if (NoteCreated(&group->created, message) != 0) return CommitAndWait(group, &lock);
  // A full group is committed before the next message is written, so that
  // the list never holds more than one group.
  if (++group->listed >= kGroupRecords) return CommitAndWait(group, &lock);
  if (group->queue.size() == kRecordBatch) group->wake.notify_one();
  return 0;
}

int CommitImportGroup(ImportGroup *group) {
  std::unique_lock<std::mutex> lock(group->mutex);
  return CommitAndWait(group, &lock);
}

void EndImportGroups(ImportGroup *group) {
  CommitImportGroup(group);
  if (group->recorder.joinable()) {
    {
      std::lock_guard<std::mutex> lock(group->mutex);
      group->stopping = true;
      group->wake.notify_one();
    }
    group->recorder.join();
  }
  if (mvcom_EndBatch() != 0) group->keep = true;
  CloseCreatedList(&group->created, !group->keep);
}

ImportGroup::~ImportGroup() {
  if (!recorder.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    wake.notify_one();
  }
  recorder.join();
}
