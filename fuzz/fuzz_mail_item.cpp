// Fuzz target: a mail item as the folder reader takes it. The first answer
// is the getItemResponse; the others answer, in turn, the body, attachment
// and embedded-item requests the parser makes (downloads in pieces
// included). The control byte's bits 3 and 4 turn on /D331 and a 1000-byte
// /MAXATTACHSIZE.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "plugin/host_message.h"
#include "reader/mail_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  std::vector<std::string> params;
  if (input.control & 0x08) params.push_back("/D331");
  if (input.control & 0x10) {
    params.push_back("/MAXATTACHSIZE");
    params.push_back("1");
  }
  fuzz::BeginRun(input, 0, params);
  HostMessage *record = fuzz::NewRecord();
  const std::string path = fuzz::WorkDir() + "msg.xml";
  if (fuzz::FetchItem(path.c_str())) {
    int result = ParseMailItem(record, path.c_str());
    if (result != kMailStore && result != kMailSkip && result != kMailFailed) abort();
    fuzz::CheckRecord(record);
  }
  fuzz::FreeRecord(record);
  fuzz::EndRun();
  return 0;
}
