// Fuzz target: an address-book entry (contact, group or organization) as the
// address-book reader takes it. The first answer is the getItemResponse; the
// others answer whatever further requests the parser makes.
#include <string>

#include "fuzz/fuzz_support.h"
#include "plugin/host_message.h"
#include "reader/address_book_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 0);
  HostMessage *record = fuzz::NewRecord();
  const std::string path = fuzz::WorkDir() + "contact.xml";
  if (fuzz::FetchItem(path.c_str())) {
    ParseContact(record, path.c_str());
    fuzz::CheckRecord(record);
  }
  fuzz::FreeRecord(record);
  fuzz::EndRun();
  return 0;
}
