// Generated task lists: where they go, what each task carries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gwsim/mailbox.h"
#include "gwsim/task_samples.h"

namespace {

std::vector<const gwsim::Item *> Tasks(const gwsim::Mailbox &mailbox, const std::string &owner) {
  std::vector<const gwsim::Item *> tasks;
  for (const gwsim::Folder &f : mailbox.folders) {
    if (f.owner != owner || f.folderType != "Checklist") continue;
    for (const gwsim::Item *item : mailbox.ItemsIn(f.id)) tasks.push_back(item);
  }
  return tasks;
}

TEST(TaskSamplesTest, GeneratedTasksFillTheChecklist) {
  struct Case {
    const char *why;
    const char *owner;
    bool generated;
    size_t tasks;  // in the owner's Checklist afterwards
  };
  const Case cases[] = {
      {"alice's Checklist keeps its two demo tasks and gets twelve more", "alice", true, 14},
      {"a mailbox without a Checklist gets one", "nobody-yet", true, 12},
      {"an unknown user gets nothing", "ghost", false, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    gwsim::Mailbox mailbox;
    gwsim::LoadDemoMailbox(&mailbox);
    gwsim::User user;
    user.name = "nobody-yet";
    mailbox.AddUser(user);
    EXPECT_EQ(c.generated, gwsim::GenerateTasks(&mailbox, c.owner, 12));
    std::vector<const gwsim::Item *> tasks = Tasks(mailbox, c.owner);
    ASSERT_EQ(c.tasks, tasks.size());
    if (!c.generated) continue;
    const gwsim::Item &tenth = *tasks[tasks.size() - 3];
    EXPECT_EQ("Generated task 10", tenth.subject);
    EXPECT_EQ("Task", tenth.kind);
    EXPECT_EQ("2020-01-10", tenth.task.startDate);
    EXPECT_EQ("2020-01-17", tenth.task.dueDate);
    EXPECT_TRUE(tenth.task.completed);
    EXPECT_EQ(100, tenth.task.percentComplete);
    EXPECT_FALSE(tasks.back()->task.completed);
    ASSERT_EQ(1u, tenth.bodies.size());
    EXPECT_EQ("Generated task 10\n", tenth.bodies[0].data);
  }
}

}  // namespace
