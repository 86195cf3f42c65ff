// An attachment the server will not deliver, stored as a short text part in
// its place when the run asks for that (/LOSTATTACHTEXT), so that one such
// attachment no longer keeps its whole item out of every run.
#pragma once

struct HostMessage;

// Whether the items read now are retries of items that failed before (the
// mail loop's ids came from the failed-ids list): only then may an
// attachment be replaced. Cleared at each folder's end.
void AllowLostAttachments(int allowed);

// With /LOSTATTACHTEXT on, for an item retried (AllowLostAttachments):
// writes "The attachment NAME could not be read from the server: REASON"
// and a line end into the part file at partPath, enters it as the record's
// next part, "NAME (not read).txt", logs it and tells the host
// (kExtNoticeAttachmentLost, "NAME\tREASON"). Returns the result
// GetAttachment gives: kAttachDone when the part was added, kAttachFull when
// the record takes no more parts, and kAttachFailed (the item fails as
// before) when the switch is off, the item is no retry or the file cannot
// be written.
int StoreLostAttachment(HostMessage *record, const char *partPath, const char *name,
                        const char *reason);

// With /LOSTATTACHTEXT on, for an item retried: the original message
// ("Mime.822") failed again, so the mail is converted from its record as it
// would be without originals (its attachments fetched one by one) rather
// than kept out of every run; logged, and the host told as for a lost
// attachment (kExtNoticeAttachmentLost, "Mime.822\tREASON"). Returns 1 when
// the mail is to be converted, 0 when it fails as before.
int ConvertWithoutOriginal(const char *reason);
