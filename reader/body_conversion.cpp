// Body text converters: RTF to a small HTML file that keeps the outer
// group's text and its paragraph breaks, and HTML to plain text with line
// breaks at paragraphs, breaks and divisions and at 120 columns.
#include "reader/body_conversion.h"

#include <cstdio>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "reader/rtf_codepages.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"

namespace {

const char kRtfHtmlHead[] =
    "<html>\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
    "<head>\n</head>\n<body>\n";
const char kRtfHtmlTail[] = "</body>\n</html>\n";
const char kRtfLineBreak[] = "<br>\n";

enum {
  kRtfWordMax = 251,  // bytes of a control word kept
};

// Closes a file we wrote; 0 when a write or the close failed.
int CloseWritten(FilePtr *file) {
  int failed = ferror(file->get()) != 0;
  if (fclose(file->release()) != 0) failed = 1;
  return !failed;
}

// Leaves input so that the next read returns the backslash and then next.
void PushBackControlWord(FILE *input, int next) {
  if (next == EOF) {
    ungetc('\\', input);
    return;
  }
  // Two bytes of push-back are not portable (Windows keeps one); the input
  // is a binary file, so step back over both instead.
  if (fseek(input, -2, SEEK_CUR) != 0) {
    ungetc(next, input);
    ungetc('\\', input);
  }
}

// Leaves input so that the next read returns next again (a peek after it
// may have pushed a byte back already, so no second ungetc).
void PushBackByte(FILE *input, int next) {
  if (next == EOF) return;
  if (fseek(input, -1, SEEK_CUR) != 0) ungetc(next, input);
}

}  // namespace

void ReadRtfControlWord(FILE *input, char *word, int *stoppedAtDelimiter) {
  *stoppedAtDelimiter = 0;
  int length = 0;
  int c;
  while (length < kRtfWordMax && (c = getc(input)) != EOF) {
    if (c == '\\' || c == '{' || c == '}') {
      ungetc(c, input);  // the caller reads the delimiter next
      *stoppedAtDelimiter = 1;
      break;
    }
    if (c == ' ' || c == '\r' || c == '\n') break;
    word[length++] = static_cast<char>(c);
  }
  word[length] = '\0';
}

namespace {

// Reads the two hex digits of a \'xx escape. Returns the byte, or -1 when
// a digit is missing (what was read is then dropped).
int ReadRtfHexByte(FILE *input) {
  int value = 0;
  for (int i = 0; i < 2; ++i) {
    int c = getc(input);
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                     : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) {
      if (c != EOF) ungetc(c, input);
      return -1;
    }
    value = value * 16 + digit;
  }
  return value;
}

// Reads the signed number of a \uN or \ucN word and its delimiter (a blank
// is part of the word; anything else is left for the next read).
long ReadRtfNumber(FILE *input) {
  int c = getc(input);
  bool negative = c == '-';
  if (negative) c = getc(input);
  long value = 0;
  for (int digits = 0; c >= '0' && c <= '9'; c = getc(input))
    if (++digits <= 7) value = value * 10 + (c - '0');
  if (c != ' ' && c != EOF) ungetc(c, input);
  return negative ? -value : value;
}

// Writes one decoded character as UTF-8. Control characters are not text
// (as line ends in RTF are not); a high surrogate waits for its low half.
void WriteRtfCharacter(uint32_t character, RtfTextState *state, FILE *output) {
  char bytes[kUtf8CharMax];
  if (state->highSurrogate != 0) {
    uint32_t high = state->highSurrogate;
    state->highSurrogate = 0;
    if (character >= 0xDC00 && character <= 0xDFFF) {
      character = 0x10000 + ((high - 0xD800) << 10) + (character - 0xDC00);
    } else {
      fwrite(bytes, 1, EncodeUtf8(0xFFFD, bytes), output);
    }
  }
  if (character >= 0xD800 && character <= 0xDBFF) {
    state->highSurrogate = character;
    return;
  }
  if (character < 0x20 && character != '\t') return;
  fwrite(bytes, 1, EncodeUtf8(character, bytes), output);
}

// Writes one byte of plain text; a high surrogate still waiting before it
// had no low half and is written as U+FFFD.
void PutRtfText(int c, RtfTextState *state, FILE *output) {
  if (state->highSurrogate != 0) WriteRtfCharacter(c, state, output);
  else putc(c, output);
}

// Passes over the characters a reader without Unicode shows in place of a
// \uN character: count of them, a \'xx escape counting as one. A group
// or another control word ends them early.
void SkipRtfFallback(FILE *input, int count) {
  while (count > 0) {
    int c = getc(input);
    if (c == EOF) return;
    if (c == '{' || c == '}') {
      ungetc(c, input);
      return;
    }
    if (c == '\r' || c == '\n') continue;
    if (c == '\\') {
      int next = getc(input);
      if (next != '\'') {
        PushBackControlWord(input, next);
        return;
      }
      ReadRtfHexByte(input);
    }
    --count;
  }
}

// The byte after a backslash that starts a \uN word: 'u' and then a digit
// or a minus sign. Returns 1 for one (the input is left after the 'u'),
// else 0 with the input as it was.
int StartsUnicodeWord(FILE *input, int next) {
  if (next != 'u') return 0;
  int c = getc(input);
  if (c != EOF) ungetc(c, input);
  return (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

int CopyRtfCharacter(FILE *input, FILE *output, int next, RtfTextState *state) {
  if (next == '\'') {
    int byte = ReadRtfHexByte(input);
    if (byte >= 0)
      WriteRtfCharacter(CodePageCharacter(state->codePage, static_cast<unsigned char>(byte)), state, output);
    return 1;
  }
  if (!StartsUnicodeWord(input, next)) return 0;
  long value = ReadRtfNumber(input);
  // Values past 32767 are written as negative 16-bit numbers.
  WriteRtfCharacter(static_cast<uint32_t>(value < 0 ? value + 65536 : value), state, output);
  SkipRtfFallback(input, state->fallbackCount);
  return 1;
}

void CopyRtfText(FILE *input, FILE *output, RtfTextState *state) {
  int c;
  while ((c = getc(input)) != EOF) {
    if (c != '\\') {
      // Braces here are not counted as groups; line ends in RTF are not text.
      if (c != '{' && c != '}' && c != '\r' && c != '\n') PutRtfText(c, state, output);
      continue;
    }
    int next = getc(input);
    if (next == '\\' || next == '{' || next == '}') {
      PutRtfText(next, state, output);
      continue;
    }
    if (CopyRtfCharacter(input, output, next, state)) continue;
    PushBackControlWord(input, next);
    return;
  }
}

namespace {

// Notes the document's code page (\ansicpgN) and the fallback count of
// \uN characters (\ucN) from a control word.
void NoteRtfSetting(const char *word, RtfTextState *state) {
  long value = 0;
  const char *digits = StartsWithNoCase(word, "ansicpg") ? word + 7
                       : StartsWithNoCase(word, "uc")    ? word + 2
                                                         : nullptr;
  if (digits == nullptr || *digits < '0' || *digits > '9') return;
  for (const char *p = digits; *p >= '0' && *p <= '9' && value < 100000; ++p) value = value * 10 + (*p - '0');
  if (digits == word + 7)
    state->codePage = static_cast<int>(value);
  else
    state->fallbackCount = static_cast<int>(value);
}

}  // namespace

int RtfToHtml(const char *inputPath, const char *outputPath) {
  FilePtr input = OpenFile(inputPath, "rb");
  if (!input) return kRtfNoInput;
  // Text mode: each "\n" is stored as the platform's line end.
  FilePtr output = OpenFile(outputPath, "w");
  if (!output) return kRtfNoOutput;
  fputs(kRtfHtmlHead, output.get());
  if (getc(input.get()) != '{') return CloseWritten(&output) ? kRtfNotRtf : kRtfNoOutput;

  RtfTextState state;
  int depth = 0;  // the opening brace read above is not counted
  int c;
  while ((c = getc(input.get())) != EOF) {
    if (c == '{') {
      ++depth;
    } else if (c == '}') {
      --depth;
    } else if (c == '\\') {
      // A character escape is text of the outer group, as the text around it.
      int next = getc(input.get());
      FILE *text = depth == 0 ? output.get() : nullptr;
      if (text != nullptr && CopyRtfCharacter(input.get(), text, next, &state)) {
        CopyRtfText(input.get(), text, &state);
        continue;
      }
      PushBackByte(input.get(), next);
      char word[kRtfWordSize];
      int stopped = 0;
      ReadRtfControlWord(input.get(), word, &stopped);
      NoteRtfSetting(word, &state);
      if (EqualsNoCase(word, "PAR")) fputs(kRtfLineBreak, output.get());
      if (depth == 0 && !stopped) CopyRtfText(input.get(), output.get(), &state);
    }
  }
  fputs(kRtfHtmlTail, output.get());
  // A short output must not replace the RTF: the caller keeps it on failure.
  return CloseWritten(&output) ? kRtfOk : kRtfNoOutput;
}

namespace {

enum {
  kCharsetProbeSize = 2000,  // bytes searched for the charset declaration
  kHtmlTagSize = 9010,
  kHtmlTagLastSlot = 9000,  // a longer tag keeps overwriting this slot
  kHtmlEntitySize = 256,
  kHtmlEntityMax = 251,  // bytes of an entity collected
  kTextColumns = 120,    // a blank after this column breaks the line
  // A Latin-1 byte becomes at most two UTF-8 bytes: a piece of this size
  // still fits the line buffer after conversion.
  kLatin1PieceSize = kLineBufferSize / 2 - 1,
};

const char kScratchName[] = "tasktxt.tmp";
const char kTextLineEnd[] = "\r\n";

// Tags that end a line, and the tags that open and close a style element
// (whose text is dropped), each compared on its first characters.
const char *const kLineBreakTags[] = {"</p>", "<br>", "</div>"};
const char kStyleOpen[] = "<style";
const char kStyleClose[] = "</style";

struct HtmlEntity {
  const char *text;
  char character;
};
const HtmlEntity kHtmlEntities[] = {
    {"&amp;", '&'}, {"&nbsp;", ' '}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'},
};

// Collects a tag after its "<" up to the first ">" (kept) or the end of the
// input.
void ReadHtmlTag(FILE *input, char *tag) {
  size_t slot = 0;
  tag[slot] = '<';
  int c;
  while ((c = getc(input)) != EOF) {
    if (slot < kHtmlTagLastSlot) ++slot;
    tag[slot] = static_cast<char>(c);
    if (c == '>') break;
  }
  tag[slot + 1] = '\0';
}

int StartsWithTag(const char *tag, const char *name) {
  return EqualsNoCaseN(tag, name, strlen(name));
}

// Collects an entity after its "&" up to ";" (kept), a "<" (consumed, stored
// as ";"), 251 bytes or the end of the input. Returns the last byte read
// (EOF at the end of the input).
int ReadHtmlEntity(FILE *input, char *entity) {
  size_t length = 0;
  entity[length++] = '&';
  int c = '&';
  while (length < kHtmlEntityMax) {
    c = getc(input);
    if (c == EOF) break;
    if (c == '<') {
      entity[length++] = ';';
      break;
    }
    entity[length++] = static_cast<char>(c);
    if (c == ';') break;
  }
  entity[length] = '\0';
  return c;
}

// The known entity's character; an unknown one leaves only its last byte.
void WriteHtmlEntity(FILE *input, FILE *output) {
  char entity[kHtmlEntitySize];
  int last = ReadHtmlEntity(input, entity);
  for (const HtmlEntity &known : kHtmlEntities) {
    if (EqualsNoCase(entity, known.text)) {
      putc(known.character, output);
      return;
    }
  }
  if (last != EOF) putc(last, output);
}

// The text of the HTML in input, written to output.
void WriteHtmlText(FILE *input, FILE *output) {
  char tag[kHtmlTagSize];
  int column = 0;
  int inStyle = 0;
  int c;
  while ((c = getc(input)) != EOF) {
    if (c == '<') {
      ReadHtmlTag(input, tag);
      for (const char *lineBreak : kLineBreakTags) {
        if (StartsWithTag(tag, lineBreak)) {
          fputs(kTextLineEnd, output);
          column = 0;
          break;
        }
      }
      if (StartsWithTag(tag, kStyleOpen)) inStyle = 1;
      if (StartsWithTag(tag, kStyleClose)) inStyle = 0;
      continue;
    }
    if (c == '\r' || c == '\n' || inStyle) continue;
    ++column;
    if (column > kTextColumns && c == ' ') {
      fputs(kTextLineEnd, output);
      column = 0;
    } else if (c == '&') {
      WriteHtmlEntity(input, output);
    } else {
      putc(c, output);
    }
  }
}

// Rewrites path as the UTF-8 form of the Latin-1 text in scratch. Returns 1
// on success, 0 when a file cannot be opened or a write fails.
int WriteLatin1AsUtf8(const char *scratch, const char *path) {
  FilePtr text = OpenFile(scratch, "rb");
  if (!text) return 0;
  FilePtr output = OpenFile(path, "wb");
  if (!output) return 0;
  char piece[kLatin1PieceSize];
  char *converted = gSession.lineBuffer;
  size_t count;
  while ((count = fread(piece, 1, sizeof piece, text.get())) > 0) {
    // The conversion works on terminated text: a NUL byte is passed through
    // between the runs around it.
    size_t start = 0;
    while (start < count) {
      size_t run = strnlen(piece + start, count - start);
      CopyTextN(converted, kLineBufferSize, piece + start, run);
      com_CodepageToWindows(converted, 28591, 65001, kLineBufferSize);
      fwrite(converted, 1, strlen(converted), output.get());
      start += run;
      if (start < count) {
        putc('\0', output.get());
        ++start;
      }
    }
  }
  return CloseWritten(&output);
}

}  // namespace

int HtmlToText(const char *path) {
  FilePtr input = OpenFile(path, "rb");
  if (!input) return 0;
  char *probe = gSession.lineBuffer;
  size_t probed = fread(probe, 1, kCharsetProbeSize, input.get());
  probe[probed] = '\0';
  // HTML charset names are case-blind: ISO-8859-1 is the usual spelling.
  int latin1 = com_FindText(probe, "charset=iso-8859-1", 1) != nullptr;
  rewind(input.get());

  char scratch[kDirSize + sizeof kScratchName];
  FormatText(scratch, sizeof scratch, "%s%s", gSession.workDir, kScratchName);
  FilePtr text = OpenFile(scratch, "wb");
  if (!text) return 0;
  WriteHtmlText(input.get(), text.get());
  input.reset();
  if (!CloseWritten(&text)) {
    remove(scratch);
    return 0;
  }

  int done = latin1 ? WriteLatin1AsUtf8(scratch, path) : com_fcopy(scratch, path) == 0;
  remove(scratch);
  return done;
}
