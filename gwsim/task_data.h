// What a task item of the simulator holds beyond mail content: its dates,
// progress and completion, as getItemResponse sends them.
#pragma once

#include <string>

namespace gwsim {

struct TaskData {
  std::string startDate;     // xs:date "2026-01-05"; empty: not sent
  std::string dueDate;       // xs:date
  std::string assignedDate;  // xs:date
  bool completed = false;    // gwt:completed
  int percentComplete = -1;  // gwt:checklist/gwt:percentComplete, 0..100; -1: not sent
};

}  // namespace gwsim
