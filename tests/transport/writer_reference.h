// The response writer's rule applied one byte at a time: the plain
// reference that the run-based writer must match byte for byte.
#pragma once

#include <string>
#include <vector>

namespace transport_test {

inline std::string ReshapeByteByByte(const std::vector<std::string> &chunks) {
  std::string out;
  bool pending = false;
  bool inTag = true;  // nothing before the first tag is a text run
  for (const std::string &chunk : chunks) {
    for (size_t i = 0; i < chunk.size(); ++i) {
      if (chunk[i] == '<' && pending) {
        out += "\r\n";
        pending = false;
      }
      if (chunk[i] == '<') inTag = true;
      if (!inTag && (chunk[i] == '\r' || chunk[i] == '\n')) {
        out += chunk[i] == '\r' ? "&#13;" : "&#10;";
        continue;
      }
      out += chunk[i];
      if (chunk[i] != '>') continue;
      inTag = false;
      out += "\r\n";
      if (i + 1 < chunk.size()) pending = chunk[i + 1] != '<';
    }
  }
  return out;
}

}  // namespace transport_test
