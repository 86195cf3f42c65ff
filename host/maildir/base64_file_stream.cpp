// The base64 file stream: a GMimeStream subclass that reads its file in
// blocks of whole lines (57 input bytes each) and encodes them as it is read.
#include "host/maildir/base64_file_stream.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

enum : size_t {
  kLineInput = 57,   // bytes per full line
  kLineOutput = 77,  // 76 characters and "\n"
  kBlockLines = 1024,
  kBlockInput = kLineInput * kBlockLines,
  kBlockOutput = kLineOutput * kBlockLines,
};

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

extern "C" {

typedef struct {
  GMimeStream parent;
  int fd;
  int inputDone;  // the file has been read to its end
  size_t outLength, outPosition;
  unsigned char *in;  // kBlockInput bytes (GObject instances must stay under 64 KB)
  char *out;          // kBlockOutput bytes
} Base64FileStream;

typedef struct {
  GMimeStreamClass parent;
} Base64FileStreamClass;

}  // extern "C"

G_DEFINE_TYPE(Base64FileStream, base64_file_stream, GMIME_TYPE_STREAM)

namespace {

Base64FileStream *Self(GMimeStream *stream) {
  return G_TYPE_CHECK_INSTANCE_CAST(stream, base64_file_stream_get_type(), Base64FileStream);
}

// Every pair of base64 digits, by the 12 bits they stand for: a group of
// three bytes is two lookups instead of four.
struct DigitPairs {
  char pair[4096][2];
  DigitPairs() {
    for (int v = 0; v < 4096; ++v) {
      pair[v][0] = kAlphabet[v >> 6];
      pair[v][1] = kAlphabet[v & 63];
    }
  }
};

const DigitPairs &Pairs() {
  static const DigitPairs pairs;
  return pairs;
}

#if defined(__x86_64__) && defined(__GNUC__)
// A whole line of 57 bytes, twelve at a time where the processor has SSSE3:
// each group of three bytes is spread over four lanes holding its four
// 6-bit values, which a table of distances turns into their digits. The
// last 16-byte load ends at byte 52 of the line. Writes the line's 76
// digits (not its line end).
__attribute__((target("ssse3"))) void EncodeLineSsse3(const unsigned char *in, char *out, const DigitPairs &pairs) {
  const __m128i spread = _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m128i distance = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                         '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  for (int k = 0; k < 4; ++k) {
    const __m128i bytes = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 12 * k)), spread);
    // Per lane, bytes s1 s0 s2 s1: the first and third values from the
    // high bits of each half, the second and fourth from the low bits.
    const __m128i high = _mm_mulhi_epu16(_mm_and_si128(bytes, _mm_set1_epi32(0x0fc0fc00)), _mm_set1_epi32(0x04000040));
    const __m128i low = _mm_mullo_epi16(_mm_and_si128(bytes, _mm_set1_epi32(0x003f03f0)), _mm_set1_epi32(0x01000010));
    const __m128i values = _mm_or_si128(high, low);
    // 0..25 pick entry 13, 26..51 entry 0, 52..63 entries 1..12.
    __m128i pick = _mm_subs_epu8(values, _mm_set1_epi8(51));
    pick = _mm_or_si128(pick, _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(26), values), _mm_set1_epi8(13)));
    const __m128i digits = _mm_add_epi8(values, _mm_shuffle_epi8(distance, pick));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * k), digits);
  }
  for (int i = 48; i < 57; i += 3) {
    const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
    memcpy(out + 64 + (i - 48) / 3 * 4, pairs.pair[v >> 12], 2);
    memcpy(out + 66 + (i - 48) / 3 * 4, pairs.pair[v & 4095], 2);
  }
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

// Encodes n input bytes (whole lines, and a shorter last one only at the
// file's end) into out; returns the characters written.
size_t EncodeLines(const unsigned char *in, size_t n, char *out) {
  const DigitPairs &pairs = Pairs();
  char *o = out;
  size_t i = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  if (HasSsse3()) {
    for (; n - i >= kLineInput; i += kLineInput, o += kLineOutput) {
      EncodeLineSsse3(in + i, o, pairs);
      o[kLineOutput - 1] = '\n';
    }
  }
#endif
  while (i < n) {
    const size_t line = n - i < kLineInput ? n - i : kLineInput;
    const size_t whole = i + line / 3 * 3;
    for (; i < whole; i += 3) {
      const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
      memcpy(o, pairs.pair[v >> 12], 2);
      memcpy(o + 2, pairs.pair[v & 4095], 2);
      o += 4;
    }
    const size_t rest = line % 3;
    if (rest > 0) {
      const uint32_t v = (uint32_t(in[i]) << 16) | (rest == 2 ? uint32_t(in[i + 1]) << 8 : 0);
      o[0] = kAlphabet[v >> 18];
      o[1] = kAlphabet[(v >> 12) & 63];
      o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
      o[3] = '=';
      o += 4;
      i += rest;
    }
    *o++ = '\n';
  }
  return static_cast<size_t>(o - out);
}

// Reads the next block (whole lines unless the file ends) and encodes it.
// Returns 0, or -1 on a read error.
int Refill(Base64FileStream *s) {
  size_t got = 0;
  while (got < kBlockInput) {
    const ssize_t n = read(s->fd, s->in + got, kBlockInput - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) {
      s->inputDone = 1;
      break;
    }
    got += static_cast<size_t>(n);
  }
  s->outLength = EncodeLines(s->in, got, s->out);
  s->outPosition = 0;
  return 0;
}

ssize_t StreamRead(GMimeStream *stream, char *buf, size_t len) {
  Base64FileStream *s = Self(stream);
  size_t given = 0;
  while (given < len) {
    if (s->outPosition == s->outLength) {
      if (s->inputDone) break;
      if (Refill(s) != 0) return given > 0 ? static_cast<ssize_t>(given) : -1;
      if (s->outLength == 0) break;
    }
    size_t n = s->outLength - s->outPosition;
    if (n > len - given) n = len - given;
    memcpy(buf + given, s->out + s->outPosition, n);
    s->outPosition += n;
    given += n;
  }
  stream->position += static_cast<gint64>(given);
  return static_cast<ssize_t>(given);
}

ssize_t StreamWrite(GMimeStream *, const char *, size_t) {
  errno = EBADF;
  return -1;
}

int StreamFlush(GMimeStream *) { return 0; }

int StreamClose(GMimeStream *stream) {
  Base64FileStream *s = Self(stream);
  if (s->fd >= 0) close(s->fd);
  s->fd = -1;
  return 0;
}

gboolean StreamEos(GMimeStream *stream) {
  Base64FileStream *s = Self(stream);
  return s->inputDone && s->outPosition == s->outLength;
}

int StreamReset(GMimeStream *stream) {
  Base64FileStream *s = Self(stream);
  if (s->fd < 0 || lseek(s->fd, 0, SEEK_SET) != 0) return -1;
  s->inputDone = 0;
  s->outLength = s->outPosition = 0;
  stream->position = 0;
  return 0;
}

// Only the start and the place already reached can be sought: the text is
// made as it is read.
gint64 StreamSeek(GMimeStream *stream, gint64 offset, GMimeSeekWhence whence) {
  const gint64 target = whence == GMIME_STREAM_SEEK_SET ? offset
                        : whence == GMIME_STREAM_SEEK_CUR ? stream->position + offset
                                                          : -1;
  if (target == stream->position) return target;
  if (target == 0) return StreamReset(stream) == 0 ? 0 : -1;
  return -1;
}

gint64 StreamTell(GMimeStream *stream) { return stream->position; }

gint64 StreamLength(GMimeStream *stream) {
  Base64FileStream *s = Self(stream);
  struct stat st;
  if (s->fd < 0 || fstat(s->fd, &st) != 0) return -1;
  return Base64LinesLength(st.st_size);
}

GMimeStream *StreamSubstream(GMimeStream *, gint64, gint64) { return nullptr; }

}  // namespace

static void base64_file_stream_finalize(GObject *object) {
  StreamClose(GMIME_STREAM(object));
  Base64FileStream *s = Self(GMIME_STREAM(object));
  g_free(s->in);
  g_free(s->out);
  G_OBJECT_CLASS(base64_file_stream_parent_class)->finalize(object);
}

static void base64_file_stream_class_init(Base64FileStreamClass *klass) {
  GMimeStreamClass *stream = GMIME_STREAM_CLASS(klass);
  G_OBJECT_CLASS(klass)->finalize = base64_file_stream_finalize;
  stream->read = StreamRead;
  stream->write = StreamWrite;
  stream->flush = StreamFlush;
  stream->close = StreamClose;
  stream->eos = StreamEos;
  stream->reset = StreamReset;
  stream->seek = StreamSeek;
  stream->tell = StreamTell;
  stream->length = StreamLength;
  stream->substream = StreamSubstream;
}

static void base64_file_stream_init(Base64FileStream *s) {
  s->in = static_cast<unsigned char *>(g_malloc(kBlockInput));
  s->out = static_cast<char *>(g_malloc(kBlockOutput));
  s->fd = -1;
  s->inputDone = 0;
  s->outLength = s->outPosition = 0;
}

ssize_t Base64FileStreamNextBlock(GMimeStream *stream, const char **text) {
  Base64FileStream *s = Self(stream);
  if (s->outPosition == s->outLength) {
    if (s->inputDone) return 0;
    if (Refill(s) != 0) return -1;
  }
  *text = s->out + s->outPosition;
  const size_t n = s->outLength - s->outPosition;
  s->outPosition = s->outLength;
  stream->position += static_cast<gint64>(n);
  return static_cast<ssize_t>(n);
}

GMimeStream *OpenBase64FileStream(const char *path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  Base64FileStream *s = static_cast<Base64FileStream *>(g_object_new(base64_file_stream_get_type(), nullptr));
  s->fd = fd;
  g_mime_stream_construct(GMIME_STREAM(s), 0, -1);
  return GMIME_STREAM(s);
}

int64_t Base64LinesLength(int64_t inputLength) {
  if (inputLength <= 0) return 0;
  const int64_t lines = (inputLength + static_cast<int64_t>(kLineInput) - 1) / static_cast<int64_t>(kLineInput);
  return (inputLength + 2) / 3 * 4 + lines;
}
