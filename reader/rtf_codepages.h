// The characters of the single-byte Windows code pages RTF bodies are
// written in (1250 Central European, 1251 Cyrillic, 1252 Western), and
// UTF-8 encoding of one character.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
  kUtf8CharMax = 4,  // bytes EncodeUtf8 writes at most
};

// The Unicode character of byte in codePage: the byte itself below 0x80;
// U+FFFD for a byte the code page leaves undefined or a code page without
// a table.
uint32_t CodePageCharacter(int codePage, unsigned char byte);

// 1 when codePage has a table, 0 otherwise.
int KnownCodePage(int codePage);

// Writes character as UTF-8 into out (room for kUtf8CharMax bytes); a
// surrogate or a value past U+10FFFF is written as U+FFFD. Returns the
// bytes written.
size_t EncodeUtf8(uint32_t character, char *out);
