// Fuzz target: a task as the task reader takes it. The first answer is the
// getItemResponse, the others answer the body and attachment requests.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "plugin/host_message.h"
#include "reader/task_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 0);
  HostMessage *record = fuzz::NewRecord();
  const std::string path = fuzz::WorkDir() + "task.xml";
  if (fuzz::FetchItem(path.c_str())) {
    int result = ParseTask(record, path.c_str());
    if (result != kTaskNotOpened && result != kTaskRead && result != kTaskFailed) abort();
    fuzz::CheckRecord(record);
  }
  fuzz::FreeRecord(record);
  fuzz::EndRun();
  return 0;
}
