// The base64 decoder of attachment and body data in a response file.
#pragma once

#include <cstdio>

// Decodes one group of up to 4 characters into out (3 bytes). Returns 3
// less the number of "=" characters.
int DecodeBase64Group(const char *group, unsigned char *out);

// Decodes the base64 text run that starts at the input's position into
// output, up to the next tag ("<", left unread) or the end of the input;
// line ends and blanks inside the run, raw or as references ("&#13;&#10;",
// as the response writer keeps a run on one line), are skipped (the server
// may break the text over lines). An incomplete last group is dropped. With /D331 bytes of
// 0x80 and above are mapped or dropped (the count still includes them).
// Returns the number of decoded bytes; 0 when output is null. *writeFailed,
// when given, is set to 1 when a write to output failed.
long DecodeBase64Line(FILE *input, FILE *output, int *writeFailed = nullptr);
