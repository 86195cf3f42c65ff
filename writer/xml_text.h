// Texts for requests of any length: XML escaping that grows instead of
// cutting, and printf into a string sized to fit.
#pragma once

#include "platform/printf_format.h"

#include <cstddef>
#include <string>

// text (at most fieldSize bytes of it, stopping at a NUL) escaped with
// com_Escape in a buffer big enough for any result, so nothing is cut.
std::string EscapeXml(const char *text, size_t fieldSize);

// printf into a string of exactly the needed length ("" on a format error).
std::string FormatString(const char *format, ...) MV_PRINTF_FORMAT(1, 2);
