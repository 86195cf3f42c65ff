// The request bodies' base64 writer.
#include "writer/base64_writer.h"

#include <algorithm>

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void FlushEncoded(Base64Writer *w) {
  if (w->encodedLength > 0) w->sink(w->context, w->encoded.data(), w->encodedLength);
  w->encodedLength = 0;
}

void EncodeGroup(Base64Writer *w, const unsigned char *in, size_t n) {
  if (w->encodedLength + 4 > w->encoded.size()) FlushEncoded(w);
  uint32_t bits = static_cast<uint32_t>(in[0]) << 16;
  if (n > 1) bits |= static_cast<uint32_t>(in[1]) << 8;
  if (n > 2) bits |= in[2];
  char *o = w->encoded.data() + w->encodedLength;
  o[0] = kBase64Alphabet[(bits >> 18) & 63];
  o[1] = kBase64Alphabet[(bits >> 12) & 63];
  o[2] = n > 1 ? kBase64Alphabet[(bits >> 6) & 63] : '=';
  o[3] = n > 2 ? kBase64Alphabet[bits & 63] : '=';
  w->encodedLength += 4;
}

}  // namespace

void Base64Begin(Base64Writer *w, Base64Sink sink, void *context, size_t blockInput) {
  w->sink = sink;
  w->context = context;
  w->carryLength = 0;
  w->encoded.assign(blockInput / 3 * 4 + 4, '\0');
  w->encodedLength = 0;
}

void Base64Feed(Base64Writer *w, const unsigned char *data, size_t n) {
  while (n > 0 && w->carryLength > 0 && w->carryLength < 3) {
    w->carry[w->carryLength++] = *data++;
    --n;
    if (w->carryLength == 3) {
      EncodeGroup(w, w->carry, 3);
      w->carryLength = 0;
    }
  }
  // Whole groups straight into the buffer, as many as it has room for.
  while (n >= 3) {
    if (w->encodedLength + 4 > w->encoded.size()) FlushEncoded(w);
    const size_t groups = std::min(n / 3, (w->encoded.size() - w->encodedLength) / 4);
    char *o = w->encoded.data() + w->encodedLength;
    for (size_t g = 0; g < groups; ++g, data += 3, o += 4) {
      const uint32_t bits = (uint32_t{data[0]} << 16) | (uint32_t{data[1]} << 8) | data[2];
      o[0] = kBase64Alphabet[bits >> 18];
      o[1] = kBase64Alphabet[(bits >> 12) & 63];
      o[2] = kBase64Alphabet[(bits >> 6) & 63];
      o[3] = kBase64Alphabet[bits & 63];
    }
    w->encodedLength += groups * 4;
    n -= groups * 3;
  }
  for (size_t i = 0; i < n; ++i) w->carry[w->carryLength++] = data[i];
}

void Base64Finish(Base64Writer *w) {
  if (w->carryLength > 0) EncodeGroup(w, w->carry, w->carryLength);
  w->carryLength = 0;
  FlushEncoded(w);
}

int64_t Base64Length(int64_t n) { return (n + 2) / 3 * 4; }
