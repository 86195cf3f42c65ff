// Base64 (RFC 4648) for the simulator: the data of bodies and attachments
// in answers, in fixtures and in createItemRequest.
#pragma once

#include <cstddef>
#include <string>

namespace gwsim {

// Appends the base64 form of `size` bytes at `data` to *out. With
// `lineLength` > 0 a "\n" follows every `lineLength` characters but the
// last ones. Cannot fail.
void AppendBase64(const char *data, size_t size, size_t lineLength, std::string *out);

// Decodes `text` (blanks and line ends between characters allowed) into
// *out. Returns false, *out then unspecified, for a character outside the
// alphabet, a length that is not a multiple of 4, or "=" anywhere but in
// the last two places.
bool DecodeBase64(const std::string &text, std::string *out);

}  // namespace gwsim
