// Large attachments written into a message past GMime's filters. GMime
// writes the message with a one-line placeholder as the content of each
// large base64 attachment; the stream it writes into puts the attachment's
// base64 text (a base64 file stream) where its placeholder stands. GMime
// passes every part's content through its line-end filter byte by byte,
// which for an attachment of hundreds of megabytes took half the time of
// writing the message. The file written is the one GMime would have
// written: base64 text holds no line end for that filter to change.
#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace maildir {

struct SplicedPart {
  std::string placeholder;      // the line GMime writes as the part's content
  GMimeStream *text = nullptr;  // the part's base64 text (owned)
};

// The large parts of one message; placeholders carry a random number drawn
// for the message, so that no text of the message can pass for one.
struct LargeParts {
  std::string prefix;  // what every placeholder of the message starts with
  std::vector<SplicedPart> parts;
  LargeParts();
  ~LargeParts();
  LargeParts(const LargeParts &) = delete;
  LargeParts &operator=(const LargeParts &) = delete;
};

// Adds the part file at path: returns the stream to give GMime as the
// part's content (already base64: GMime copies it), or null when the file
// cannot be opened (errno set).
GMimeStream *AddLargePart(LargeParts *large, const std::string &path);

// A stream that writes into out what GMime writes into it, each placeholder
// replaced by its part's text. The caller owns the reference; out stays the
// caller's. Flushing it flushes out.
GMimeStream *OpenSplicingStream(FILE *out, const LargeParts *large);

// After the message is written and the stream flushed: the bytes written
// into out, or -1 when a write failed or a placeholder was not met exactly
// once.
int64_t SplicedSize(GMimeStream *stream);

}  // namespace maildir
