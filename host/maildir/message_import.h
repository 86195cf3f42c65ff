// Turning one message file of a Maildir (RFC 5322, MIME) into the HostMessage
// that the plug-in's WriteMsg creates in GroupWise, with GMime: sender,
// recipients, subject, date, flags, importance, the bodies and attachments
// as part files in the host's work directory; and the message's identity
// that the migration state remembers across runs.
#pragma once

#include <string>
#include <vector>

struct HostMessage;

namespace maildir {

// The identity by which an imported message is remembered: "sha256:" and
// the hash of the file's bytes, so that a byte-identical copy in a folder
// is written once and two different messages are both written whatever
// their Message-IDs say; a mail program renaming the file to set flags
// changes nothing. *legacyKey gets the key earlier versions recorded the
// message under, "mid:" and the Message-ID without its angle brackets ("" for
// a message without one): an old state's record under it stands for one
// message of the folder only (see the import loop). Returns 0, or -1 with
// *reason set when the file cannot be read. With bytes set, a message of
// common size (up to 1 MiB) is read whole into *bytes (else it is left
// empty), for ConvertMessageFile to convert the same bytes.
int MessageIdentity(const std::string &path, std::string *key, std::string *legacyKey, std::string *reason,
                    std::string *bytes = nullptr);

// Importance of a message from its header values (either may be empty):
// "Importance" high/normal/low decides when it is one of these; else the
// leading digit of "X-Priority", 1-2 high, 3 normal, 4-5 low. Result 2 high,
// 1 normal (also when neither says), 0 low.
int ImportanceFromHeaders(const std::string &importance, const std::string &xPriority);

// Fills record from the message file at path. The record is cleared first
// with com_ResetObject (msgSeq and groupFolder kept); itemKind becomes mail.
// Header texts as mail readers show them (header_text.h): unfolded, every
// encoded word decoded on its own, one line each. Sender and To/Cc/Bcc
// recipients (kinds 3, 11, 12; groups flattened; a sender without an
// address, "MAILER DAEMON <>", keeps its name), subject (cut to the field on
// a UTF-8 boundary), sentTime in UTC from Date (read as mail_date.h reads
// it), else from the newest Received header, else the file's modification
// time; unread unless `seen`, importance from the headers. Parts, in the
// order of the MIME tree: the first inline text/plain as kind 1
// "Message.txt" converted to UTF-8 from its charset (left as it is when the
// charset is unknown), the first inline text/html as kind 9 "text.htm"
// (bytes as sent), every other leaf and every attached message as kind 0
// with its file name (or "attachment-N" with a type's extension). Each
// part's content lies in the host's work directory as "PRT%03d%02d.TMP"
// (msgSeq, index); empty bodies add no part; parts past the record's limit
// are dropped and logged.
// *warnings (may be null) gets a line for Bcc recipients, which the
// server's create request cannot hold. Malformed mail is read as mail
// readers show it, with a line in *warnings: a header not ended by a blank line ends at its first line
// that is no header field, the rest being the body; a multipart whose parts
// cannot be found (boundary cut or missing) gives its text as the body and
// the whole original file as the attachment "Original message.eml".
// Returns 0 on success; on failure returns -1 with *reason set (file
// unreadable or empty, not a message, a part file that cannot be written),
// the record's lists freed and its part files deleted. *subject is set as
// soon as the header is read, for failure reports. bytes, when set and not
// empty, are the file's bytes as MessageIdentity read them: they are
// converted instead of the file.
int ConvertMessageFile(const std::string &path, bool seen, HostMessage *record, std::string *subject,
                       std::vector<std::string> *warnings, std::string *reason,
                       const std::string *bytes = nullptr);

}  // namespace maildir
