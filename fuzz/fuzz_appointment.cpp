// Fuzz target: an appointment as the calendar reader takes it. The first
// answer is the getItemResponse, the others answer the body and attachment
// requests. The control byte's bits 3 to 5 turn on /D179 (no recurrence
// handling), /D300 (a resource's calendar) and /D340 with a span of 30 days.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "plugin/host_message.h"
#include "plugin/run_settings.h"
#include "reader/calendar_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 0);
  if (input.control & 0x08) gRunSettings.d179 = 1;
  if (input.control & 0x10) gRunSettings.d300 = 1;
  if (input.control & 0x20) gRunSettings.d340 = 30;
  HostMessage *record = fuzz::NewRecord();
  const std::string path = fuzz::WorkDir() + "cal.xml";
  if (fuzz::FetchItem(path.c_str())) {
    int result = ParseAppointment(record, path.c_str());
    if (result < kApptParsed || result > kApptFailed) abort();
    fuzz::CheckRecord(record);
  }
  fuzz::FreeRecord(record);
  fuzz::EndRun();
  return 0;
}
