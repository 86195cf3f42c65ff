// Base64 for request bodies: one continuous run, no line breaks, fed in
// pieces (up to two bytes wait for the next piece so that the groups run on
// across pieces) and handed on in blocks to a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

typedef void (*Base64Sink)(void *context, const char *text, size_t length);

struct Base64Writer {
  Base64Sink sink;
  void *context;
  unsigned char carry[3];
  size_t carryLength;
  std::vector<char> encoded;  // one block of output, handed on when full
  size_t encodedLength;
};

// A writer whose blocks hold up to blockInput bytes of input.
void Base64Begin(Base64Writer *w, Base64Sink sink, void *context, size_t blockInput);
void Base64Feed(Base64Writer *w, const unsigned char *data, size_t n);
// Encodes what waits (padded) and hands on the rest.
void Base64Finish(Base64Writer *w);

// Characters of the base64 text of n bytes.
int64_t Base64Length(int64_t n);
