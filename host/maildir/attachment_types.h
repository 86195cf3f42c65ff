// The MIME type an exported attachment is labelled with: the record holds
// its name and bytes, not the type it came with, so the type is guessed
// from the bytes of the parts mail programs make, then from the name.
#pragma once

#include <string>

namespace maildir {

// Bytes of an attachment's start that GuessAttachmentType looks at.
const size_t kTypeProbeBytes = 8192;

// MIME type for an attachment name, from its extension (case ignored): a
// short table of the types mail programs send for common extensions, then
// the system's shared MIME database; "application/octet-stream" when the
// extension is unknown or missing.
std::string GuessContentType(const std::string &name);

// The type of a part mail programs make, told by its content: a PGP
// signature block (application/pgp-signature), the "Version: 1" control part
// of PGP/MIME (application/pgp-encrypted), a PGP key block
// (application/pgp-keys), a DER PKCS#7 signature (application/pkcs7-signature),
// a delivery-status body (message/delivery-status), a header block alone
// (text/rfc822-headers), a whole mail (message/rfc822) or an HTML document
// (text/html). head is the
// part's start (up to kTypeProbeBytes), whole tells whether it is all of
// it. "" when the content is none of these.
std::string MailPartType(const std::string &head, bool whole);

// The type of an attachment: MailPartType (a header block named ".eml" is
// a mail), else GuessContentType, else the shared MIME database's guess
// from non-empty content when it is sure and no text; "application/octet-stream"
// where nothing is sure.
std::string GuessAttachmentType(const std::string &name, const std::string &head, bool whole);

}  // namespace maildir
