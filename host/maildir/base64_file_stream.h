// A GMime read stream that gives a file's bytes as base64, in the form
// GMime's own encoder writes: lines of 76 characters, each ended by "\n",
// the last one shorter and padded with "=". A part whose content is this
// stream, labelled as already base64, is copied into the message as it is,
// so a large attachment is encoded once, in large blocks, instead of
// through GMime's filter chain.
#pragma once

#include <gmime/gmime.h>

#include <cstdint>

// The stream over the file at path (its own descriptor), or null when the
// file cannot be opened (errno set). The caller owns the reference.
GMimeStream *OpenBase64FileStream(const char *path);

// The stream's next block of text, in place: *text points into the stream
// and stays valid until the next read. Returns its length, 0 at the end, -1
// when the file cannot be read. Spares the copy a read makes.
ssize_t Base64FileStreamNextBlock(GMimeStream *stream, const char **text);

// The base64 text of inputLength bytes in that form, for tests and for the
// stream's length.
int64_t Base64LinesLength(int64_t inputLength);
