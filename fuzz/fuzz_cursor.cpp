// Fuzz target: a folder's item listing as the readers make it: the answers
// go, in turn, to the createCursorRequest, the readCursorRequests of the
// blocks and the destroyCursorRequest. Control byte bit 3 keeps only items of
// the folder itself, bit 4 asks for a date range. The id file must hold
// exactly the ids counted, one non-empty id per line: an id that breaks its
// line would be fetched as two items that do not exist.
#include <cstdlib>
#include <string>

#include "folders/item_enumeration.h"
#include "fuzz/fuzz_support.h"
#include "host/mvcom/mvcom_host.h"
#include "platform/file_guard.h"

namespace {

void CheckIdFile(const std::string &path, int count) {
  FilePtr file = OpenFile(path.c_str(), "rb");
  if (!file) {
    if (count != 0) abort();
    return;
  }
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
  int lines = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos || end == start) abort();  // unended or empty
    if (text.compare(start, end - start, "Fake Msg ID Here") != 0) ++lines;
    start = end + 1;
  }
  if (lines != count) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 0);
  // 2020-01-01 and 2020-12-31 as file times.
  if (input.control & 0x10) {
    mvcom_SetDateRange(FILETIME{0x69050000u, 0x01d5c036u}, FILETIME{0xe1cbc000u, 0x01d6df07u});
  }
  const std::string idPath = fuzz::WorkDir() + "ids.txt";
  int count = GetItemIds("FOLDER.1@16", idPath.c_str(), (input.control & 0x08) ? 1 : 0);
  CheckIdFile(idPath, count);
  fuzz::EndRun();
  return 0;
}
