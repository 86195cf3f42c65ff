// The message as it arrived from the Internet: GroupWise keeps it beside its
// own record as the hidden attachment "Mime.822". With /MIME822 the mail
// reader hands it to the host as a part of its own, and then downloads none
// of the item's other attachments, which the original holds already.
#pragma once

#include <cstdio>

struct HostMessage;

// Name of the attachment that holds the original message.
extern const char kOriginalName[];

// Results of TakeOriginal.
enum {
  kOriginalNone = 0,      // no original, or it is larger than the limit: convert as always
  kOriginalTaken = 1,     // the original is the record's part "Mime.822" (kind 0)
  kOriginalFailed = 2,    // its download failed: the item fails (AttachmentFailureReason())
};

// The attachment size limit of the folder being read (ConvertFolder's
// argument, thousands of bytes; 0 or less: none). The original keeps to the
// smaller of it and /MAXATTACHSIZE, since the host drops a larger part.
void SetOriginalSizeLimit(int maxAttachKB);

// With /MIME822: looks through the whole item answer for the original and
// fetches it in chunks into the record's next part; the answer is left where
// it was. An original over the size limit is left on the server and the host
// told so (HostNotify key "OriginalTooLarge", value its size in KB).
int TakeOriginal(HostMessage *record, FILE *response);

// Reads past one attachment element (after its "<gwt:attachment>" line)
// without fetching anything: the original holds it.
void SkipAttachment(FILE *response);
