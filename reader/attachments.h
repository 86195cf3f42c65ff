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
  kAttachDone = 1,    // handled (added, skipped as Mime.822, or refused by the server with a code)
  kAttachFailed = 2,  // download or part file failed: the whole item must fail
};

// At a "<gwt:attachment>" line of an item response: reads the element and
// adds its part (see the results above).
int GetAttachment(HostMessage *record, FILE *response);

// An attachment of an embedded message: only the HTML body is fetched.
// Returns 1 when a part was added, 0 otherwise.
int GetEmbeddedAttachment(HostMessage *record, FILE *response);

// Fills record from the getItemResponse file at path (an attached item).
void ParseEmbeddedMessage(HostMessage *record, const char *path);

// Writes the body part whose opening line was just read (its data on the
// following lines, or fetched by id when the part element is empty) into
// a part file of kind 1 "Message.txt", converting RTF to HTML when rtf is
// set. Returns 1 when added, 0 when the part file cannot be created or the
// record cannot take another part; 2 when the data could not be fetched.
int WriteBodyPart(HostMessage *record, FILE *response, int rtf);

// Cleans an HTML part file in place: zero bytes removed, lines cut after
// "</html>".
void CleanHtmlPart(const char *path);
