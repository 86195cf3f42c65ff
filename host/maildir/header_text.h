// Header texts of a message as mail readers show them: folded values
// unfolded, RFC 2047 encoded words decoded one by one into UTF-8 (GMime
// 3.2.13 joins adjacent base64 words before decoding and stops at the first
// padding "=", so the import does not leave this to it), and parameters of
// Content-Type and Content-Disposition taken from the raw value.
#pragma once

#include <string>

namespace maildir {

// The value with every line break removed (a folded line's leading white
// space stays, as RFC 5322 unfolding keeps it) and the white space at both
// ends trimmed. Cannot fail.
std::string UnfoldHeader(const std::string &raw);

// The text for a one-line field: every tab, CR, LF and other control
// character becomes a space. Cannot fail.
std::string OneLine(const std::string &text);

// Unstructured header text (Subject, a file name) in UTF-8: each encoded
// word decoded on its own, white space between two adjacent encoded words
// dropped, the bytes of adjacent words in one charset converted together
// (so a character split across two words joins), base64 with or without
// padding. Text outside encoded words that is no valid UTF-8 is taken as
// Windows-1252; a word in an unknown charset is kept when it is UTF-8 and
// read as Windows-1252 otherwise. A malformed word stays as it stands.
// Cannot fail.
std::string DecodeHeaderText(const std::string &text);

// An address list (From, To, Cc, Bcc) made ready for GMime's address
// parser: each run of adjacent encoded words outside comments and angle
// brackets, and each encoded word inside a quoted string, is replaced by
// its decoded text, as a quoted string where it stood outside one. The
// structure (commas, groups, addresses) is left as it is. Cannot fail.
std::string DecodeAddressWords(const std::string &list);

// The display name of a first mailbox written with an empty address
// ("MAILER DAEMON <>", which GMime's parser drops), unquoted and decoded;
// "" when the list does not start with such a mailbox. Cannot fail.
std::string EmptyAddressName(const std::string &list);

// The value of parameter `name` in a raw, unfolded Content-Type or
// Content-Disposition value when it is given in the plain form name=value
// or name="value" (quotes and backslash escapes removed); false when the
// parameter is absent or given in the RFC 2231 form name*=... only.
bool PlainParameter(const std::string &value, const char *name, std::string *out);

// True when the raw value gives parameter `name` in the RFC 2231 form
// (name*=..., name*0=..., name*0*=...), which GMime decodes as it should.
bool HasExtendedParameter(const std::string &value, const char *name);

}  // namespace maildir
