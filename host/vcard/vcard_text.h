// The text layer of vCard files, shared by the writer and the reader:
// escaping of values and parameters, line folding and unfolding, UTF-8
// clean-up, quoted-printable and charset decoding, and the digests that
// name cards.
#pragma once

#include <string>
#include <vector>

namespace vcard {

// A text value escaped for a vCard line: "\" "," ";" become "\\" "\," "\;",
// and every line end (CR LF, LF or CR) becomes "\n".
std::string EscapeText(const std::string &text);

// The components of a structured or list value split at every "sep" that
// is not escaped by a backslash; the components are still escaped.
std::vector<std::string> SplitEscaped(const std::string &value, char sep);

// Undoes EscapeText: "\n" and "\N" become a line feed, "\x" becomes x for
// any other x. A lone backslash at the end is kept.
std::string UnescapeText(const std::string &value);

// A parameter value as a vCard 4.0 line carries it: caret-encoded (^^ for
// ^, ^' for a double quote, ^n for a line end) and put in double quotes
// when it holds ":" ";" "," or blanks.
std::string QuoteParameter(const std::string &value);

// Undoes QuoteParameter's caret encoding (the quotes are already gone).
std::string DecodeParameter(const std::string &value);

// One content line ended by CR LF, folded so that no line is longer than
// 75 octets: each continuation line starts with one blank. A fold never
// falls inside a UTF-8 sequence.
std::string FoldLine(const std::string &line);

// The text as valid UTF-8: valid UTF-8 stays; a multi-byte sequence cut at
// the end (fields are bounded by bytes) is dropped; anything else is read
// as Windows-1252, the code page GroupWise clients write. *converted (may
// be null) is set when the text was not UTF-8.
std::string ToUtf8(const std::string &text, bool *converted = nullptr);

// Copies text into a fixed field of cap bytes, cut on a UTF-8 boundary.
// Returns false when the text had to be cut.
bool CopyField(char *field, size_t cap, const std::string &text);

// Decodes a quoted-printable value ("=XX" bytes, "=" at a line end joins
// lines). *malformed counts "=" sequences that are neither; they are kept
// as they stand.
std::string DecodeQuotedPrintable(const std::string &value, int *malformed);

// Decodes base64 (blanks and line ends ignored). Returns false when the
// text is not base64.
bool DecodeBase64(const std::string &value, std::string *out);

// Converts bytes in the named charset to UTF-8. Returns false when the
// charset is unknown or the bytes are not valid in it (*out then empty).
bool ConvertCharset(const std::string &bytes, const std::string &charset, std::string *out);

// Lower-case hex SHA-256 of the bytes.
std::string Sha256Hex(const std::string &bytes);

// A name-based UUID (RFC 9562 version 8) from the SHA-256 of the text:
// "xxxxxxxx-xxxx-8xxx-yxxx-xxxxxxxxxxxx", the same text giving the same UUID.
std::string UuidFromText(const std::string &text);

}  // namespace vcard
