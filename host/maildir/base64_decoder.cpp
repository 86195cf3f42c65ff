#include "host/maildir/base64_decoder.h"

namespace maildir {
namespace {

const unsigned char kNotBase64 = 0xff;
const unsigned char kPad = 0x80;  // in the quick table only: '=' ends the text

// Each byte's value as a base64 digit ('=' counting as 0, as in GMime's
// table), and the same with '=' marked, for the loop that takes four at once.
struct RankTables {
  unsigned char rank[256];
  unsigned char quick[256];
  RankTables() {
    for (unsigned char &r : rank) r = kNotBase64;
    const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned i = 0; i < 64; ++i) rank[static_cast<unsigned char>(digits[i])] = static_cast<unsigned char>(i);
    rank[static_cast<unsigned char>('=')] = 0;
    for (unsigned i = 0; i < 256; ++i) quick[i] = rank[i];
    quick[static_cast<unsigned char>('=')] = kPad;
  }
};

const RankTables kTables;

}  // namespace

size_t Base64DecodeStep(const unsigned char *in, size_t inlen, unsigned char *out, int *state, uint32_t *save) {
  int n = *state;
  if (n == -1) return 0;  // the text ended with its '=' in an earlier block
  const unsigned char *rank = kTables.rank, *quick = kTables.quick;
  const unsigned char *at = in;
  const unsigned char *const end = in + inlen;
  unsigned char *put = out;
  uint32_t saved = *save;
  bool ended = false;
  while (at < end) {
    if (n == 0) {
      // Between groups: four digits at once while there is no '=' or other
      // byte among them.
      while (end - at >= 4) {
        const unsigned a = quick[at[0]], b = quick[at[1]], c = quick[at[2]], d = quick[at[3]];
        if ((a | b | c | d) & 0x80) break;
        const uint32_t v = a << 18 | b << 12 | c << 6 | d;
        put[0] = static_cast<unsigned char>(v >> 16);
        put[1] = static_cast<unsigned char>(v >> 8);
        put[2] = static_cast<unsigned char>(v);
        put += 3;
        at += 4;
      }
      if (at >= end) break;
    }
    const unsigned char byte = *at++;
    const unsigned char r = rank[byte];
    if (r == kNotBase64) continue;
    saved = (saved << 6) | r;
    ++n;
    if (byte == '=') {  // the end of the text: nothing after it counts
      ended = true;
      break;
    }
    if (n == 4) {
      *put++ = static_cast<unsigned char>(saved >> 16);
      *put++ = static_cast<unsigned char>(saved >> 8);
      *put++ = static_cast<unsigned char>(saved);
      saved = 0;
      n = 0;
    }
  }
  if (ended) {
    // Two or three digits before the '=' give one or two bytes; fewer are
    // a broken encoder's and give none.
    if (n > 2) {
      const int pads = 5 - n;
      if (n < 4) {
        saved <<= 6;
        ++n;
      }
      *put++ = static_cast<unsigned char>(saved >> 16);
      if (pads < 2) *put++ = static_cast<unsigned char>(saved >> 8);
    }
    n = -1;
  }
  *save = saved;
  *state = n;
  return static_cast<size_t>(put - out);
}

}  // namespace maildir
