// File-to-file converters for body parts: RTF to a small HTML file (its
// escaped characters decoded to UTF-8), HTML to plain text in place.
#pragma once

#include <cstdint>
#include <cstdio>

enum {
  kRtfWordSize = 256,  // control word buffer of ReadRtfControlWord
};

// Results of RtfToHtml.
enum {
  kRtfOk = 0,
  kRtfNoInput = 1,    // the input cannot be opened
  kRtfNoOutput = 2,   // the output cannot be created or a write to it failed
  kRtfNotRtf = 3,     // the input does not begin with "{" (the output holds the head only)
};

// Converts the RTF file at inputPath into HTML at outputPath (text mode).
int RtfToHtml(const char *inputPath, const char *outputPath);

// Reads one control word after its backslash into word (kRtfWordSize
// bytes); *stoppedAtDelimiter is 1 when a backslash or brace ended it (that
// byte is pushed back), 0 otherwise.
void ReadRtfControlWord(FILE *input, char *word, int *stoppedAtDelimiter);

// What the text of an RTF document is read with: its code page for \'xx
// escapes and how many fallback characters follow a \uN character.
struct RtfTextState {
  int codePage = 1252;        // \ansicpgN; Windows-1252 when the document names none
  int fallbackCount = 1;      // \ucN
  uint32_t highSurrogate = 0; // first half of a character past U+FFFF, waiting
};

// Copies plain RTF text up to the next control word, escaped bytes (\'xx,
// read in the document's code page) and Unicode characters (\uN, its
// fallback characters passed over) written as UTF-8.
void CopyRtfText(FILE *input, FILE *output, RtfTextState *state);

// When next (the byte after a backslash) starts a \'xx escape or a \uN
// word, writes its character as UTF-8 and returns 1; else returns 0 with
// the input left where it was.
int CopyRtfCharacter(FILE *input, FILE *output, int next, RtfTextState *state);

// Replaces the HTML file at path by its plain-text form (scratch file
// "tasktxt.tmp" in the work directory; gSession.lineBuffer is overwritten).
// Returns 1 on success, 0 on failure: the file is then unchanged, unless the
// failure came while a Latin-1 body was being rewritten as UTF-8.
int HtmlToText(const char *path);
