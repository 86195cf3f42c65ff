// Body text converters: RTF to a small HTML file that keeps the outer
// group's text and its paragraph breaks, and HTML to plain text with line
// breaks at paragraphs, breaks and divisions and at 120 columns.
#include "reader/body_conversion.h"

#include <cstdio>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
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

void CopyRtfText(FILE *input, FILE *output) {
  int c;
  while ((c = getc(input)) != EOF) {
    if (c != '\\') {
      // Braces here are not counted as groups; line ends in RTF are not text.
      if (c != '{' && c != '}' && c != '\r' && c != '\n') putc(c, output);
      continue;
    }
    int next = getc(input);
    if (next == '\\' || next == '{' || next == '}') {
      putc(next, output);
      continue;
    }
    PushBackControlWord(input, next);
    return;
  }
}

int RtfToHtml(const char *inputPath, const char *outputPath) {
  FilePtr input = OpenFile(inputPath, "rb");
  if (!input) return kRtfNoInput;
  // Text mode: each "\n" is stored as the platform's line end.
  FilePtr output = OpenFile(outputPath, "w");
  if (!output) return kRtfNoOutput;
  fputs(kRtfHtmlHead, output.get());
  if (getc(input.get()) != '{') return CloseWritten(&output) ? kRtfNotRtf : kRtfNoOutput;

  int depth = 0;  // the opening brace read above is not counted
  int c;
  while ((c = getc(input.get())) != EOF) {
    if (c == '{') {
      ++depth;
    } else if (c == '}') {
      --depth;
    } else if (c == '\\') {
      char word[kRtfWordSize];
      int stopped = 0;
      ReadRtfControlWord(input.get(), word, &stopped);
      if (EqualsNoCase(word, "PAR")) fputs(kRtfLineBreak, output.get());
      if (depth == 0 && !stopped) CopyRtfText(input.get(), output.get());
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
