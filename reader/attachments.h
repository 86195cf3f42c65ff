// Attachment retrieval: the data of an item's attachments fetched in
// chunks with getAttachmentRequest into part files, attached items
// (messages, appointments) summarised into one part, body parts written
// from the response, and HTML parts cleaned.
#pragma once

#include <cstdio>

struct HostMessage;

enum {
  kAttachmentChunk = 200000,  // bytes asked for per getAttachmentRequest
};

// Results of GetAttachment.
enum {
  kAttachFull = 0,    // the record cannot take another part: fetch no more
  kAttachDone = 1,    // handled (added, skipped as Mime.822, refused by the server with a code,
                      // or, under /LOSTATTACHTEXT, not delivered and replaced by a text part)
  kAttachFailed = 2,  // download or part file failed: the whole item must fail
};

// At a "<gwt:attachment>" line of an item response: reads the element and
// adds its part (see the results above).
int GetAttachment(HostMessage *record, FILE *response);

// An attachment of an embedded message: only the HTML body is fetched.
// Returns 1 when a part was added, 0 when none was (not HTML, Mime.822,
// refused by the server with a code, record full), 2 when its download or
// part file failed (nothing added, the file deleted).
int GetEmbeddedAttachment(HostMessage *record, FILE *response);

// Fills record from the getItemResponse file at path (an attached item).
// Returns 1 when read, 0 when the file cannot be opened, 2 when a body or
// the HTML attachment could not be fetched (AttachmentFailureReason()).
int ParseEmbeddedMessage(HostMessage *record, const char *path);

// Writes the body part whose opening line `partLine` was just read from
// response (its data on the following lines, or, when the element is empty
// with an id="..", self-closed or with its end tag, fetched by that id in
// chunks) into a part
// file of kind 1 "Message.txt", converting RTF to HTML when rtf is set.
// Returns 1 when added, 0 when the record cannot take another part (the
// file is then deleted); 2 when the part file cannot be created or written
// or the data could not be fetched (nothing is added, the file is deleted,
// the reason is in AttachmentFailureReason()).
int WriteBodyPart(HostMessage *record, FILE *response, const char *partLine, int rtf);

// True when line opens a gwt:part element whose contentType attribute is a
// text type, wherever the attribute stands among the others.
int IsTextBodyPart(const char *line);

// Why the last GetAttachment or WriteBodyPart failed ("" when none did yet).
const char *AttachmentFailureReason();

// msgSeq of the temporary record of an attached message: negative, so its
// part files ("PRT-01NN.TMP") never share a name with an item of the host.
enum { kEmbeddedMsgSeq = -1 };

// Cleans an HTML part file in place: zero bytes removed, lines cut after
// "</html>".
void CleanHtmlPart(const char *path);
