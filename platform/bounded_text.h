// Bounded text copies and formatting: the only way text is copied into a
// fixed buffer anywhere in the project. Every function always terminates the
// destination (when cap > 0) and never writes past dst[cap - 1].
#pragma once

#include "platform/printf_format.h"

#include <cstdarg>
#include <cstddef>

// Copies src into dst (capacity cap bytes, terminator included). A longer src
// is cut. Returns the number of bytes copied. A null src copies "".
size_t CopyText(char *dst, size_t cap, const char *src);

// As CopyText, but takes at most n bytes of src.
size_t CopyTextN(char *dst, size_t cap, const char *src, size_t n);

// Appends src to the text already in dst; cuts what does not fit.
// Returns the new length of dst.
size_t AppendText(char *dst, size_t cap, const char *src);

// printf into dst; output that does not fit is cut. Returns the length
// written (not the length that would have been written).
size_t FormatText(char *dst, size_t cap, const char *fmt, ...)
    MV_PRINTF_FORMAT(3, 4);
size_t FormatTextV(char *dst, size_t cap, const char *fmt, va_list ap);

// Appending printf: formats after the text already in dst.
size_t AppendFormat(char *dst, size_t cap, const char *fmt, ...)
    MV_PRINTF_FORMAT(3, 4);

// Cuts dst back so that it does not end inside a UTF-8 sequence (used after
// a byte-bounded cut of UTF-8 text).
void TrimPartialUtf8(char *dst);

// Reads a decimal integer from the leading characters of text the way the
// C library's atoi does (blanks, optional sign, digits; 0 when there are
// none), without undefined behaviour on overflow: the value saturates.
int ParseLeadingInt(const char *text);

// Case-insensitive ASCII comparisons.
int EqualsNoCase(const char *a, const char *b);
// <0, 0 or >0 like strcmp, ASCII case ignored.
int CompareNoCase(const char *a, const char *b);
// The first n bytes equal, ASCII case ignored (like strncasecmp == 0).
int EqualsNoCaseN(const char *a, const char *b, size_t n);
int StartsWith(const char *text, const char *prefix);
int StartsWithNoCase(const char *text, const char *prefix);
