// Fuzz target: the mail rules as the rules export takes them: the first
// answer is the getRuleListResponse, read into the rules file the host
// reads. Every line of that file must be one of the kinds the host knows.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/file_guard.h"
#include "plugin/session_state.h"
#include "reader/rules_export.h"
#include "transport/soap_call.h"

namespace {

const char *const kLineKinds[] = {"Name=", "Types=", "Source=", "Enabled=", "Action=", "Filter=", "^"};

void CheckRulesFile(const std::string &path) {
  FilePtr file = OpenFile(path.c_str(), "rb");
  if (!file) return;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) abort();  // every line is ended
    std::string line = text.substr(start, end - start);
    bool known = false;
    for (const char *kind : kLineKinds) known = known || line.compare(0, strlen(kind), kind) == 0;
    if (!known) abort();
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input = fuzz::SplitInput(data, size);
  fuzz::BeginRun(input, 0, 1);
  const std::string responsePath = fuzz::WorkDir() + "gwrules.xml";
  const std::string exportPath = fuzz::WorkDir() + "mboxrules.dat";
  SoapCall("<m:getRuleListRequest/>", "getRuleListRequest", responsePath.c_str());
  if (gHTTPResponse == 200 && gGWSError == 0) {
    ParseRules(responsePath.c_str(), exportPath.c_str());
    CheckRulesFile(exportPath);
  }
  fuzz::EndRun();
  return 0;
}
