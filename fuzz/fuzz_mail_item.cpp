// Fuzz target: a mail item as the folder reader takes it. The first answer
// is the getItemResponse; the others answer, in turn, the body, attachment
// and embedded-item requests the parser makes (downloads in pieces
// included). The control byte's bits 3, 4 and 5 turn on /D331, a 1000-byte
// /MAXATTACHSIZE and /MIME822 (the original message fetched in its place).
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "plugin/host_message.h"
#include "plugin/run_settings.h"
#include "reader/mail_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 0);
  if (input.control & 0x08) gRunSettings.d331 = 1;
  if (input.control & 0x10) gRunSettings.maxAttachSize = 1;
  if (input.control & 0x20) gRunSettings.mime822 = 1;
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
