// File-to-file converters for body parts: RTF to a small HTML file, HTML
// to plain text in place. Both work byte by byte on 8-bit text.
#pragma once

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

// Copies plain RTF text up to the next control word.
void CopyRtfText(FILE *input, FILE *output);

// Replaces the HTML file at path by its plain-text form (scratch file
// "tasktxt.tmp" in the work directory; gSession.lineBuffer is overwritten).
// Returns 1 on success, 0 on failure: the file is then unchanged, unless the
// failure came while a Latin-1 body was being rewritten as UTF-8.
int HtmlToText(const char *path);
