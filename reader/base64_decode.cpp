// The base64 decoder of attachment and body data: one 256-entry table for
// the alphabet and the characters the server puts between and after the
// data, one for the /D331 punctuation mapping, and block writes.
#include "reader/base64_decode.h"

#include <cstdint>
#include <initializer_list>

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

// The answer file is read a character at a time, and the plug-in runs on
// the host's one thread: the stream's lock would cost more than the read.
inline int ReadCharacter(FILE *input) {
#if defined(_WIN32)
  return _getc_nolock(input);
#else
  return getc_unlocked(input);
#endif
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
  // Every byte is stored; only the kept ones advance the end.
  size_t kept = 0;
  for (int i = 0; i < count; ++i) {
    int16_t mapped = kTables.d331[(value >> (16 - 8 * i)) & 0xFF];
    out[kept] = static_cast<unsigned char>(mapped);
    kept += mapped >= 0;
  }
  buffer->used += kept;
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
int TakeCharacter(Base64Run *run, int c, FILE *input) {
  uint8_t cls = kTables.charClass[c];
  if (cls == kB64Skip) return 1;
  if (cls == kB64Stop) {
    ungetc(c, input);  // the caller's next line is the end tag
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
int TakeReference(Base64Run *run, FILE *input) {
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
  for (int i = 0; i < n; ++i) {
    if (!TakeCharacter(run, static_cast<unsigned char>(ref[i]), input)) return 0;
  }
  return 1;
}

}  // namespace

long DecodeBase64Line(FILE *input, FILE *output, int *writeFailed) {
  if (writeFailed != nullptr) *writeFailed = 0;
  if (output == nullptr || input == nullptr) return 0;
  // Static: the buffer is too large for a Windows thread's stack, and the
  // plug-in runs on the host's one thread.
  static DecodeBuffer buffer;
  buffer.output = output;
  buffer.failed = 0;
  buffer.used = 0;
  Base64Run run = {&buffer, gRunSettings.d331 != 0, 0, {0, 0, 0, 0}, 0};
  int c;
  while ((c = ReadCharacter(input)) != EOF) {
    // Most characters are data: they go straight into the group.
    const uint8_t cls = kTables.charClass[c];
    if (cls < 64) {
      run.group[run.inGroup++] = cls;
      if (run.inGroup < 4) continue;
      run.inGroup = 0;
      // Four data characters (every class below 64 leaves bit 6 clear)
      // make three bytes as they stand.
      const uint8_t *g = run.group;
      if (((g[0] | g[1] | g[2]) & 0x40) == 0 && !run.mapD331 &&
          kDecodeBufferSize - buffer.used >= 3) {
        const uint32_t value = (uint32_t{g[0]} << 18) | (uint32_t{g[1]} << 12) |
                               (uint32_t{g[2]} << 6) | cls;
        unsigned char *out = buffer.bytes + buffer.used;
        out[0] = static_cast<unsigned char>(value >> 16);
        out[1] = static_cast<unsigned char>(value >> 8);
        out[2] = static_cast<unsigned char>(value);
        buffer.used += 3;
        run.total += 3;
        continue;
      }
      run.total += PutGroup(run.buffer, run.group, run.mapD331);
      continue;
    }
    const int goOn = c == '&' ? TakeReference(&run, input) : TakeCharacter(&run, c, input);
    if (!goOn) break;
  }
  FlushDecoded(&buffer);
  if (writeFailed != nullptr) *writeFailed = buffer.failed;
  return run.total;
}
