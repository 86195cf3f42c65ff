// Tasks and rules the simulator makes up: those of the demo mailbox and
// the generated task lists of the benchmarks.
#pragma once

#include <string>

#include "gwsim/mailbox.h"

namespace gwsim {

// Adds the demo's two tasks to the task list `checklist`: "Send the travel
// expenses" (completed, high priority, from Bob) and "Book the meeting room"
// (40 percent done, with an HTML description).
void AddDemoTasks(Mailbox *mailbox, const std::string &checklist);

// Adds two rules to `owner`'s mailbox: one that forwards urgent mail from a
// manager and marks it read, one that moves newsletters into the Junk Mail
// folder (when the mailbox has one).
void AddDemoRules(Mailbox *mailbox, const std::string &owner);

// Adds `count` tasks to `owner`'s Checklist folder (made when missing), one
// day apart from 2020-01-01, each with a text body, a due date a week after
// its start and every tenth one completed. False when the user is unknown.
bool GenerateTasks(Mailbox *mailbox, const std::string &owner, int count);

}  // namespace gwsim
