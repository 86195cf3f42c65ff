// WriteMsg (the write side's item entry point) and the pieces every item
// writer shares: the GroupWise date text, the text body block, the base64
// attachment block, the response code reader and the content-type table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/win_compat.h"

struct HostMessage;

// The date as "%d-%02d-%02dT%02d:%02d:%02dZ" in UTC, milliseconds dropped;
// a value the calendar cannot hold is written as 1601-01-01T00:00:00Z.
void FormatGWDate(FILETIME date, char *out, size_t cap);

// Writes the plain-text body block for the first text-body part of record
// (its part file in the work directory), base64-encoded. appendix, when not
// null, is encoded after the file's bytes as if it ended the file (for the
// attendee list of appointments and tasks; the host's file is not changed).
// Writes nothing when there is no text-body part. Returns 1, or 0 when the
// part's file cannot be read (the item must then not be sent).
int WriteTextBody(const HostMessage *record, FILE *request, const char *appendix = nullptr);

// Writes "<size>L</size>\n<data>\n", the file (and appendix) base64-encoded
// without line breaks, and "\n</data>\n". Returns 1, or 0 when the part
// file cannot be read (logged with its path; what was written is then void).
int WriteBase64File(const char *partPath, FILE *request, const char *appendix = nullptr);

// Writes the <attachments> block for the file attachments and the HTML body
// of record (part files in partDirectory); the HTML body goes as hidden
// "text.htm" (the record's part is renamed so), with htmlAppendix, when not
// null, encoded after its bytes. Writes nothing when there is no such part.
// Returns 1, or 0 as soon as one part file cannot be read.
int WriteAttachments(HostMessage *record, FILE *request, const char *partDirectory,
                      const char *htmlAppendix = nullptr);

// The <gwt:code> of a response file: 0 when it has none, 1 when it cannot be
// opened.
int ReadResponseCode(const char *responsePath);

// The content type of a file attachment by its name ("application/octet-stream"
// when no text of the table is in the name; the last text found wins).
const char *ContentTypeFor(const char *partName);
