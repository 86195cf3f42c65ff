// The splicing stream: a GMimeStream subclass that writes through to a
// stdio file, holding back only what may be the start of a placeholder.
#include "host/maildir/large_part_splice.h"

#include <errno.h>

#include <cstring>

#include "host/maildir/base64_file_stream.h"
#include "host/maildir/early_writeback.h"
#include "platform/bounded_text.h"

namespace maildir {
namespace {

enum : size_t {
  kIndexDigits = 4,  // placeholders are numbered 0000-9999 within a message
};

struct SpliceState {
  FILE *out = nullptr;
  const LargeParts *large = nullptr;
  std::string pending;   // written by GMime, not yet passed on
  std::vector<int> met;  // times each placeholder was replaced
  int64_t size = 0;
  WritebackMark writeback;
  bool failed = false;
};

size_t PlaceholderLength(const LargeParts &large) { return large.prefix.size() + kIndexDigits + 1; }

}  // namespace
}  // namespace maildir

extern "C" {

typedef struct {
  GMimeStream parent;
  maildir::SpliceState *state;
} SplicingStream;

typedef struct {
  GMimeStreamClass parent;
} SplicingStreamClass;

}  // extern "C"

G_DEFINE_TYPE(SplicingStream, splicing_stream, GMIME_TYPE_STREAM)

namespace maildir {
namespace {

SpliceState *StateOf(GMimeStream *stream) {
  return G_TYPE_CHECK_INSTANCE_CAST(stream, splicing_stream_get_type(), SplicingStream)->state;
}

void Emit(SpliceState *s, const char *data, size_t n) {
  if (n == 0 || s->failed) return;
  if (fwrite(data, 1, n, s->out) != n) s->failed = true;
  s->size += static_cast<int64_t>(n);
  // The file is new, so its offsets are the sizes written.
  if (!s->failed && s->size - s->writeback.written >= WritebackInterval()) {
    if (fflush(s->out) != 0) s->failed = true;
    else NoteWritten(fileno(s->out), s->size - s->writeback.written, &s->writeback);
  }
}

// Writes part index's base64 text in place of its placeholder.
void EmitPart(SpliceState *s, size_t index) {
  GMimeStream *text = s->large->parts[index].text;
  if (g_mime_stream_reset(text) != 0) {
    s->failed = true;
    return;
  }
  const char *block = nullptr;
  ssize_t n = 0;
  while (!s->failed && (n = Base64FileStreamNextBlock(text, &block)) > 0) Emit(s, block, static_cast<size_t>(n));
  if (n < 0) s->failed = true;
  ++s->met[index];
}

// The part a complete placeholder at text names, or -1 when it names none.
long PlaceholderIndex(const SpliceState &s, const char *text) {
  const char *digits = text + s.large->prefix.size();
  long index = 0;
  for (size_t i = 0; i < kIndexDigits; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return -1;
    index = index * 10 + (digits[i] - '0');
  }
  if (digits[kIndexDigits] != '\n' || index >= static_cast<long>(s.large->parts.size())) return -1;
  return index;
}

// Passes on what is pending, replacing the placeholders in it; keeps back
// a tail that may be the start of one (nothing when last is set).
void Drain(SpliceState *s, bool last) {
  const std::string &prefix = s->large->prefix;
  const size_t whole = PlaceholderLength(*s->large);
  size_t from = 0;
  for (;;) {
    const size_t at = s->pending.find(prefix, from);
    if (at == std::string::npos) break;
    if (s->pending.size() - at < whole) {  // its rest is still to come
      if (last) break;
      Emit(s, s->pending.data() + from, at - from);
      s->pending.erase(0, at);
      return;
    }
    const long index = PlaceholderIndex(*s, s->pending.data() + at);
    if (index < 0) {  // the prefix alone: ordinary text
      Emit(s, s->pending.data() + from, at + 1 - from);
      from = at + 1;
      continue;
    }
    Emit(s, s->pending.data() + from, at - from);
    EmitPart(s, static_cast<size_t>(index));
    from = at + whole;
  }
  size_t keep = 0;
  if (!last) {
    keep = prefix.size() - 1;
    if (keep > s->pending.size() - from) keep = s->pending.size() - from;
  }
  Emit(s, s->pending.data() + from, s->pending.size() - from - keep);
  s->pending.erase(0, s->pending.size() - keep);
}

ssize_t StreamWrite(GMimeStream *stream, const char *buf, size_t len) {
  SpliceState *s = StateOf(stream);
  s->pending.append(buf, len);
  Drain(s, false);
  if (s->failed) {
    errno = EIO;
    return -1;
  }
  stream->position += static_cast<gint64>(len);
  return static_cast<ssize_t>(len);
}

ssize_t StreamRead(GMimeStream *, char *, size_t) {
  errno = EBADF;
  return -1;
}

int StreamFlush(GMimeStream *stream) {
  SpliceState *s = StateOf(stream);
  Drain(s, true);
  if (!s->failed && fflush(s->out) != 0) s->failed = true;
  return s->failed ? -1 : 0;
}

int StreamClose(GMimeStream *) { return 0; }
gboolean StreamEos(GMimeStream *) { return FALSE; }
int StreamReset(GMimeStream *) { return -1; }
gint64 StreamSeek(GMimeStream *, gint64, GMimeSeekWhence) { return -1; }
gint64 StreamTell(GMimeStream *stream) { return stream->position; }
gint64 StreamLength(GMimeStream *) { return -1; }
GMimeStream *StreamSubstream(GMimeStream *, gint64, gint64) { return nullptr; }

}  // namespace
}  // namespace maildir

static void splicing_stream_finalize(GObject *object) {
  SplicingStream *self = G_TYPE_CHECK_INSTANCE_CAST(object, splicing_stream_get_type(), SplicingStream);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(splicing_stream_parent_class)->finalize(object);
}

static void splicing_stream_class_init(SplicingStreamClass *klass) {
  GMimeStreamClass *stream = GMIME_STREAM_CLASS(klass);
  G_OBJECT_CLASS(klass)->finalize = splicing_stream_finalize;
  stream->read = maildir::StreamRead;
  stream->write = maildir::StreamWrite;
  stream->flush = maildir::StreamFlush;
  stream->close = maildir::StreamClose;
  stream->eos = maildir::StreamEos;
  stream->reset = maildir::StreamReset;
  stream->seek = maildir::StreamSeek;
  stream->tell = maildir::StreamTell;
  stream->length = maildir::StreamLength;
  stream->substream = maildir::StreamSubstream;
}

static void splicing_stream_init(SplicingStream *self) { self->state = new maildir::SpliceState(); }

namespace maildir {

LargeParts::LargeParts() {
  char number[40];
  FormatText(number, sizeof number, "%08x%08x%08x%08x", g_random_int(), g_random_int(), g_random_int(),
             g_random_int());
  prefix = std::string("MVGWS-LARGE-PART-") + number + "-";
}

LargeParts::~LargeParts() {
  for (SplicedPart &part : parts)
    if (part.text != nullptr) g_object_unref(part.text);
}

GMimeStream *AddLargePart(LargeParts *large, const std::string &path) {
  if (large->parts.size() >= 10000) return OpenBase64FileStream(path.c_str());  // past the numbering
  GMimeStream *text = OpenBase64FileStream(path.c_str());
  if (text == nullptr) return nullptr;
  char index[16];
  FormatText(index, sizeof index, "%04u", static_cast<unsigned>(large->parts.size()));
  SplicedPart part;
  part.placeholder = large->prefix + index + "\n";
  part.text = text;
  large->parts.push_back(part);
  const std::string &placeholder = large->parts.back().placeholder;
  return g_mime_stream_mem_new_with_buffer(placeholder.data(), placeholder.size());
}

GMimeStream *OpenSplicingStream(FILE *out, const LargeParts *large) {
  GMimeStream *stream = GMIME_STREAM(g_object_new(splicing_stream_get_type(), nullptr));
  g_mime_stream_construct(stream, 0, -1);
  SpliceState *s = StateOf(stream);
  s->out = out;
  s->large = large;
  s->met.assign(large->parts.size(), 0);
  return stream;
}

int64_t SplicedSize(GMimeStream *stream) {
  const SpliceState *s = StateOf(stream);
  if (s->failed || !s->pending.empty()) return -1;
  for (int times : s->met)
    if (times != 1) return -1;
  return s->size;
}

}  // namespace maildir
