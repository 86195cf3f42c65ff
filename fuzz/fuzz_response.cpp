// Fuzz target: an answer cut into arbitrary chunks goes through the
// response writer, then through ReadResponseLine and ParseGWDateTime.
// The writer may only add line breaks and write a line break as its
// character reference: with every CR, LF, "&#13;" and "&#10;" taken out,
// its output equals its input taken out the same way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "transport/http_transfer.h"
#include "transport/response_scanner.h"

namespace {

std::string WithoutLineBreaks(const std::string &s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' || s[i] == '\n') continue;
    if (s.compare(i, 5, "&#13;") == 0 || s.compare(i, 5, "&#10;") == 0) {
      i += 4;
      continue;
    }
    out.push_back(s[i]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the chunk length, the rest is the answer.
  size_t chunk = static_cast<size_t>(data[0] % 17) + 1;
  std::string answer(reinterpret_cast<const char *>(data + 1), size - 1);

  FILE *file = fuzz::ScratchFile();
  ResponseWriterBegin(file);
  for (size_t at = 0; at < answer.size(); at += chunk) {
    size_t n = answer.size() - at < chunk ? answer.size() - at : chunk;
    ResponseWriterWrite(answer.data() + at, n);
  }
  ResponseWriterEnd();

  std::string written;
  rewind(file);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file)) > 0) written.append(buf, n);
  if (WithoutLineBreaks(written) != WithoutLineBreaks(answer)) abort();

  rewind(file);
  char line[64];
  FILETIME ft = {0, 0};
  while (ReadResponseLine(line, sizeof line, file)) ParseGWDateTime(line, &ft);
  return 0;
}
