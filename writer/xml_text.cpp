// Escaping and formatting of request texts without fixed limits.
#include "writer/xml_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/bounded_text.h"
#include "plugin/mvcom.h"

namespace {
// The longest entity com_Escape writes ("&quot;", "&apos;") is six bytes.
const size_t kEscapeGrowth = 6;
}  // namespace

std::string EscapeXml(const char *text, size_t fieldSize) {
  if (text == nullptr) return std::string();
  size_t length = strnlen(text, fieldSize);
  std::vector<char> buffer(length * kEscapeGrowth + 1);
  CopyTextN(buffer.data(), buffer.size(), text, length);
  com_Escape(buffer.data(), 1, buffer.size());
  return std::string(buffer.data());
}

std::string FormatString(const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int needed = vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string out;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    FormatTextV(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return out;
}
