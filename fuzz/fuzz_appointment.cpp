// Fuzz target: an appointment as the calendar reader takes it. The first
// answer is the getItemResponse, the others answer the body and attachment
// requests. The control byte's bits 3 to 5 turn on /D179 (no recurrence
// handling), /D300 (a resource's calendar) and /D340 with a span of 30 days.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "plugin/host_message.h"
#include "reader/calendar_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  std::vector<std::string> params;
  if (input.control & 0x08) params.push_back("/D179");
  if (input.control & 0x10) params.push_back("/D300");
  if (input.control & 0x20) {
    params.push_back("/D340");
    params.push_back("30");
  }
  fuzz::BeginRun(input, 0, params);
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
