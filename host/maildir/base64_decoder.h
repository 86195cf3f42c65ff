// Base64 decoding of message parts, as GMime decodes them but faster.
#pragma once

#include <cstddef>
#include <cstdint>

namespace maildir {

// Decodes one block of base64 text exactly as GMime's
// g_mime_encoding_base64_decode_step does (same output for the same blocks,
// same *state and *save carried from block to block, both 0 at the start):
// bytes outside the alphabet are skipped, and the first '=' ends the text,
// the digits before it giving their last one or two bytes. GMime's loop
// takes a byte at a time; this one takes whole groups of four digits at
// once, which is most of a part. out needs room for inlen + 3 bytes.
// Returns the bytes written.
size_t Base64DecodeStep(const unsigned char *in, size_t inlen, unsigned char *out, int *state, uint32_t *save);

}  // namespace maildir
