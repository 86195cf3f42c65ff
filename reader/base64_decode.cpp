// The base64 decoder of attachment and body data: one 256-entry table for
// the alphabet and the characters the server puts between and after the
// data, one for the /D331 punctuation mapping, and block writes.
#include "reader/base64_decode.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

#if defined(__SSE2__) && defined(__x86_64__)
#define MVGWS_DECODE_SIXTEEN 1
#include <emmintrin.h>

#include <cstring>
#endif

#include "plugin/run_settings.h"

namespace {

// Classes in kBase64Class besides the values 0..63.
enum : uint8_t {
  kB64Pad = 64,    // "=": padding, contributes 0
  kB64Skip = 65,   // CR, LF, blank, tab: the server breaks long runs over lines
  kB64Stop = 66,   // "<": the element's end tag begins
  kB64Other = 67,  // any other character: counts in its group as 0
};

struct Base64Tables {
  uint8_t charClass[256];
  int16_t d331[256];  // the byte written with /D331, or -1 when dropped
};

constexpr Base64Tables MakeTables() {
  Base64Tables t{};
  for (int i = 0; i < 256; ++i) t.charClass[i] = kB64Other;
  for (int i = 0; i < 26; ++i) {
    t.charClass['A' + i] = static_cast<uint8_t>(i);
    t.charClass['a' + i] = static_cast<uint8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) t.charClass['0' + i] = static_cast<uint8_t>(52 + i);
  t.charClass['+'] = 62;
  t.charClass['/'] = 63;
  t.charClass['='] = kB64Pad;
  t.charClass['\r'] = kB64Skip;
  t.charClass['\n'] = kB64Skip;
  t.charClass[' '] = kB64Skip;
  t.charClass['\t'] = kB64Skip;
  t.charClass['<'] = kB64Stop;

  // Windows-1252 quotes and dashes that the target cannot show become ASCII;
  // every other byte of 0x80 and above is dropped.
  for (int i = 0; i < 256; ++i) t.d331[i] = i < 0x80 ? static_cast<int16_t>(i) : -1;
  for (int b : {0x91, 0x92, 0x9C, 0x9D}) t.d331[b] = '\'';
  for (int b : {0xD8, 0xB7, 0x95, 0x96, 0x94, 0x97}) t.d331[b] = '-';
  t.d331[0xAE] = ' ';
  t.d331[0xE0] = '>';
  return t;
}

constexpr Base64Tables kTables = MakeTables();

enum { kDecodeBufferSize = 48 * 1024 };

enum { kReadBlockSize = 32 * 1024 };

// The run is read a block at a time. At its end the bytes read past it go
// back to the input (one seek), so the caller's next line is the end tag
// as if the run had been read a character at a time. The answer is always
// a file or a memory stream, both of which seek.
struct BlockReader {
  FILE *input;
  size_t pos, len;
  int ended;  // the input has no more bytes
  unsigned char bytes[kReadBlockSize];
};

int Refill(BlockReader *reader) {
  if (reader->ended) return 0;
  reader->pos = 0;
  reader->len = fread(reader->bytes, 1, sizeof reader->bytes, reader->input);
  if (reader->len == 0) reader->ended = 1;
  return reader->len > 0;
}

inline int ReadCharacter(BlockReader *reader) {
  if (reader->pos == reader->len && !Refill(reader)) return EOF;
  return reader->bytes[reader->pos++];
}

// The last character read goes back (the "<" of the end tag).
inline void UnreadCharacter(BlockReader *reader) { --reader->pos; }

// Hands the bytes read but not taken back to the input.
void ReturnUnread(BlockReader *reader) {
  const long unread = static_cast<long>(reader->len - reader->pos);
  if (unread > 0) fseek(reader->input, -unread, SEEK_CUR);
  reader->pos = reader->len = 0;
}

// Decoded bytes waiting for one fwrite.
struct DecodeBuffer {
  FILE *output;
  int failed;
  size_t used;
  unsigned char bytes[kDecodeBufferSize];
};

void FlushDecoded(DecodeBuffer *buffer) {
  if (buffer->used == 0) return;
  if (!buffer->failed && fwrite(buffer->bytes, 1, buffer->used, buffer->output) != buffer->used)
    buffer->failed = 1;
  buffer->used = 0;
}

// Stores the first count of the three bytes in value as /D331 maps them;
// returns how many were kept. Every byte is stored; only the kept ones
// advance the end.
size_t MapD331(unsigned char *out, uint32_t value, int count) {
  size_t kept = 0;
  for (int i = 0; i < count; ++i) {
    int16_t mapped = kTables.d331[(value >> (16 - 8 * i)) & 0xFF];
    out[kept] = static_cast<unsigned char>(mapped);
    kept += mapped >= 0;
  }
  return kept;
}

// Decodes 4 classified characters (values 0..63 or kB64Pad/kB64Other) into
// the buffer; returns the byte count the group stands for.
int PutGroup(DecodeBuffer *buffer, const uint8_t group[4], int mapD331) {
  uint32_t value = 0;
  int padding = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t c = group[i];
    if (c == kB64Pad) ++padding;
    value = (value << 6) | (c < 64 ? c : 0u);
  }
  int count = padding >= 3 ? 0 : 3 - padding;
  if (kDecodeBufferSize - buffer->used < 3) FlushDecoded(buffer);
  unsigned char *out = buffer->bytes + buffer->used;
  if (!mapD331) {
    out[0] = static_cast<unsigned char>(value >> 16);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value);
    buffer->used += static_cast<size_t>(count);
    return count;
  }
  buffer->used += MapD331(out, value, count);
  return count;
}

}  // namespace

int DecodeBase64Group(const char *group, unsigned char *out) {
  uint32_t value = 0;
  int padding = 0;
  // A group shorter than 4 characters counts its missing characters as 0.
  int ended = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t c = 0;
    if (!ended && group[i] == '\0') ended = 1;
    if (!ended) {
      c = kTables.charClass[static_cast<unsigned char>(group[i])];
      if (c == kB64Pad) ++padding;
      if (c >= 64) c = 0;
    }
    value = (value << 6) | c;
  }
  out[0] = static_cast<unsigned char>(value >> 16);
  out[1] = static_cast<unsigned char>(value >> 8);
  out[2] = static_cast<unsigned char>(value);
  // More than two "=" would give a negative count; no bytes then.
  return padding >= 3 ? 0 : 3 - padding;
}

namespace {

// The decoder's progress through one text run.
struct Base64Run {
  DecodeBuffer *buffer;
  int mapD331;
  long total;
  uint8_t group[4];
  int inGroup;
};

// Takes one character of the run; returns 0 at the "<" that ends it.
int TakeCharacter(Base64Run *run, int c, BlockReader *input) {
  uint8_t cls = kTables.charClass[c];
  if (cls == kB64Skip) return 1;
  if (cls == kB64Stop) {
    UnreadCharacter(input);  // the caller's next line is the end tag
    return 0;
  }
  run->group[run->inGroup++] = cls;
  if (run->inGroup == 4) {
    run->total += PutGroup(run->buffer, run->group, run->mapD331);
    run->inGroup = 0;
  }
  return 1;
}

// The code point of a numeric character reference ("&#10;", "&#xA;"), or -1.
long ReferencedCharacter(const char *ref, int n) {
  if (n < 4 || ref[1] != '#' || ref[n - 1] != ';') return -1;
  const int hex = ref[2] == 'x' || ref[2] == 'X';
  long value = 0;
  for (int i = hex ? 3 : 2; i < n - 1; ++i) {
    const char c = ref[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return -1;
    value = value * (hex ? 16 : 10) + digit;
  }
  return value;
}

// At "&": a reference to a line break or a blank (the response writer
// writes the line breaks of a text run so, and servers may too) is skipped
// like the character itself; anything else is taken as it comes. Returns 0
// at the "<" that ends the run.
int TakeReference(Base64Run *run, BlockReader *input) {
  char ref[10] = {'&'};
  int n = 1;
  int c;
  while (n < static_cast<int>(sizeof ref) && (c = ReadCharacter(input)) != EOF) {
    ref[n++] = static_cast<char>(c);
    if (c == ';' || c == '<') break;
  }
  const long referenced = ReferencedCharacter(ref, n);
  if (referenced >= 0 && referenced < 256 &&
      kTables.charClass[static_cast<unsigned char>(referenced)] == kB64Skip)
    return 1;
  // Only the last character read can be the "<" that ends the run.
  for (int i = 0; i < n; ++i) {
    if (!TakeCharacter(run, static_cast<unsigned char>(ref[i]), input)) return 0;
  }
  return 1;
}

#if MVGWS_DECODE_SIXTEEN
// Sixteen characters at once, when all sixteen are of the alphabet: their
// twelve bytes go to out (which has room for 14) and 1 is returned;
// otherwise nothing is written and the groups are left to the table, which
// knows every other character. Bytes of 0x80 and above compare as negative
// and so fall in no range.
inline int DecodeSixteen(const unsigned char *in, unsigned char *out) {
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
  const auto within = [&c](char low, char high) {
    return _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(static_cast<char>(low - 1))),
                         _mm_cmplt_epi8(c, _mm_set1_epi8(static_cast<char>(high + 1))));
  };
  const __m128i upper = within('A', 'Z'), lower = within('a', 'z'), digit = within('0', '9');
  const __m128i plus = _mm_cmpeq_epi8(c, _mm_set1_epi8('+')), slash = _mm_cmpeq_epi8(c, _mm_set1_epi8('/'));
  const __m128i data = _mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(_mm_or_si128(digit, plus), slash));
  if (_mm_movemask_epi8(data) != 0xFFFF) return 0;
  // Each character plus the distance from its code to its value.
  __m128i shift = _mm_and_si128(upper, _mm_set1_epi8(-'A'));
  shift = _mm_or_si128(shift, _mm_and_si128(lower, _mm_set1_epi8(26 - 'a')));
  shift = _mm_or_si128(shift, _mm_and_si128(digit, _mm_set1_epi8(52 - '0')));
  shift = _mm_or_si128(shift, _mm_and_si128(plus, _mm_set1_epi8(62 - '+')));
  shift = _mm_or_si128(shift, _mm_and_si128(slash, _mm_set1_epi8(63 - '/')));
  const __m128i values = _mm_add_epi8(c, shift);
  // Two values (the first in the low byte) make 12 bits, two of those 24.
  const __m128i pairs = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 6),
                                     _mm_srli_epi16(values, 8));
  const __m128i groups = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(pairs, _mm_set1_epi32(0xFFFF)), 12),
                                      _mm_srli_epi32(pairs, 16));
  // The first byte of a group is the highest of its lane: turned around,
  // each lane holds its three bytes in their order, and two 8-byte stores
  // put the four groups side by side (the second store runs 2 bytes past
  // the 12, which the caller leaves room for).
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i ordered = _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(groups, 16), byte),
                                                    _mm_and_si128(groups, _mm_set1_epi32(0xFF00))),
                                       _mm_slli_epi32(_mm_and_si128(groups, byte), 16));
  const uint64_t low = static_cast<uint64_t>(_mm_cvtsi128_si64(ordered));
  const uint64_t high = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(ordered, ordered)));
  const uint64_t first = (low & 0xFFFFFF) | ((low >> 32) << 24);
  const uint64_t second = (high & 0xFFFFFF) | ((high >> 32) << 24);
  memcpy(out, &first, sizeof first);
  memcpy(out + 6, &second, sizeof second);
  return 1;
}
#endif

// Decodes whole groups of four data characters straight from the block
// while they last; returns at the first other character (a line break, a
// reference, the end tag) with the block positioned on it.
void DecodeGroups(BlockReader *input, DecodeBuffer *buffer, Base64Run *run) {
  const unsigned char *in = input->bytes;
  size_t pos = input->pos;
  const size_t len = input->len;
  while (len - pos >= 4) {
    if (kDecodeBufferSize - buffer->used < 3) FlushDecoded(buffer);
    // As many groups as the block holds and the buffer has room for; the
    // loop checks nothing else per group.
    const size_t groups = std::min((len - pos) / 4, (kDecodeBufferSize - buffer->used) / 3);
    unsigned char *out = buffer->bytes + buffer->used;
    size_t g = 0;
#if MVGWS_DECODE_SIXTEEN
    // Five groups ahead: the four decoded and the room the stores run into.
    if (!run->mapD331) {
      for (; g + 5 <= groups && DecodeSixteen(in + pos, out); g += 4, pos += 16) out += 12;
    }
#endif
    for (; g < groups; ++g, pos += 4) {
      const uint8_t a = kTables.charClass[in[pos]], b = kTables.charClass[in[pos + 1]],
                    c = kTables.charClass[in[pos + 2]], d = kTables.charClass[in[pos + 3]];
      // Every data class is below 64: bit 6 or 7 set marks anything else.
      if (((a | b | c | d) & 0xC0) != 0) break;
      const uint32_t value = (uint32_t{a} << 18) | (uint32_t{b} << 12) | (uint32_t{c} << 6) | d;
      if (run->mapD331) {
        out += MapD331(out, value, 3);
      } else {
        out[0] = static_cast<unsigned char>(value >> 16);
        out[1] = static_cast<unsigned char>(value >> 8);
        out[2] = static_cast<unsigned char>(value);
        out += 3;
      }
    }
    buffer->used = static_cast<size_t>(out - buffer->bytes);
    run->total += static_cast<long>(3 * g);
    if (g < groups) break;  // at a character that is not data
  }
  input->pos = pos;
}

}  // namespace

long DecodeBase64Line(FILE *input, FILE *output, int *writeFailed) {
  if (writeFailed != nullptr) *writeFailed = 0;
  if (output == nullptr || input == nullptr) return 0;
  // Static: the buffers are too large for a Windows thread's stack, and the
  // plug-in runs on the host's one thread.
  static DecodeBuffer buffer;
  static BlockReader reader;
  buffer.output = output;
  buffer.failed = 0;
  buffer.used = 0;
  reader.input = input;
  reader.pos = reader.len = 0;
  reader.ended = 0;
  Base64Run run = {&buffer, gRunSettings.d331 != 0, 0, {0, 0, 0, 0}, 0};
  for (;;) {
    // Most of a run is whole groups of data, the server's line breaks
    // falling between groups.
    if (run.inGroup == 0) DecodeGroups(&reader, &buffer, &run);
    const int c = ReadCharacter(&reader);
    if (c == EOF) break;
    const int goOn = c == '&' ? TakeReference(&run, &reader) : TakeCharacter(&run, c, &reader);
    if (!goOn) break;
  }
  ReturnUnread(&reader);
  FlushDecoded(&buffer);
  if (writeFailed != nullptr) *writeFailed = buffer.failed;
  return run.total;
}
