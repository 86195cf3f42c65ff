// Writing one item record as a message file into a Maildir folder with GMime.
#include "host/maildir/maildir_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "host/maildir/base64_file_stream.h"
#include "host/maildir/early_writeback.h"
#include "host/maildir/large_part_splice.h"
#include "host/maildir/original_store.h"
#include "host/mvcom/mvcom_host.h"
#include "plugin/host_message.h"
#include "platform/bounded_text.h"

namespace maildir {
namespace {

// Seconds between 1601-01-01 and 1970-01-01, and FILETIME ticks per second.
const int64_t kEpochDifference = 11644473600LL;
const int64_t kTicksPerSecond = 10000000LL;
const size_t kMaxLineOctets = 998;  // longest line a 7bit part may carry

// Safe from any thread: the export writes its messages from a thread of its own.
void InitGMimeOnce() {
  static const bool done = (g_mime_init(), true);
  (void)done;
}

std::string Sha256Hex(const std::string &text) {
  gchar *hex = g_compute_checksum_for_string(G_CHECKSUM_SHA256, text.c_str(),
                                             static_cast<gssize>(text.size()));
  std::string out = hex != nullptr ? hex : "";
  g_free(hex);
  return out;
}

std::string FieldText(const char *field, size_t cap) { return std::string(field, strnlen(field, cap)); }
#define FIELD(record, name) FieldText((record).name, sizeof (record).name)

// Text from the record as UTF-8: valid UTF-8 stays; a sequence cut at the
// end (the reader bounds fields by bytes) is dropped; anything else is read
// as Windows-1252, the code page GroupWise clients write.
std::string ToUtf8(const std::string &text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  const gchar *end = nullptr;
  g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &end);
  size_t valid = static_cast<size_t>(end - text.data());
  bool utf8Before = false;  // the valid part already holds a multi-byte sequence
  for (size_t i = 0; i < valid; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) utf8Before = true;
  if (text.size() - valid < 4 && (utf8Before || text.size() >= 250)) {
    std::string head = text.substr(0, valid);
    // Only a truncated multi-byte sequence at the very end: cut it.
    if ((static_cast<unsigned char>(text[valid]) & 0xC0) == 0xC0) {
      bool onlyContinuations = true;
      for (size_t i = valid + 1; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) onlyContinuations = false;
      if (onlyContinuations) return head;
    }
  }
  gchar *converted = g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                               "WINDOWS-1252", nullptr, nullptr, nullptr);
  if (converted == nullptr) {
    converted = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  }
  std::string out = converted;
  g_free(converted);
  return out;
}

// What a scan of a text part file tells about how to label and encode it.
struct TextShape {
  bool ascii = true;     // no byte above 0x7F
  bool utf8 = true;      // valid UTF-8 throughout
  bool control = false;  // NUL or other control bytes besides tab, CR, LF, FF
  bool nul = false;      // a NUL byte
  size_t longestLine = 0;
};

// A part file as the message is built from it: a small one is read once
// and every look at it (HTML probe, text scan, type probe, content) uses
// those bytes; a larger one is read from the file each time.
struct PartFile {
  std::string path;
  bool held = false;  // bytes hold the whole file
  std::string bytes;
};

// Part files up to this size are held, up to kHeldMessageBytes per message.
const int64_t kHeldPartBytes = 256 * 1024;
const int64_t kHeldMessageBytes = 4 * 1024 * 1024;
// Whether large attachments are spliced in as the message is written.
bool gSplicing = true;
// The write buffer of a message too large to be made in memory.
const size_t kMessageWriteBuffer = 1024 * 1024;

// Reads the part file at path into part when it is small and *budget
// allows. Returns 0, or -1 when it cannot be read (errno set).
int LoadPart(const std::string &path, int64_t *budget, PartFile *part) {
  part->path = path;
  part->held = false;
  part->bytes.clear();
  // A part the plug-in handed over in memory is small: always held.
  if (ReadKeptPart(path.c_str(), &part->bytes)) {
    part->held = true;
    *budget -= static_cast<int64_t>(part->bytes.size());
    return 0;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size > kHeldPartBytes || st.st_size > *budget) {
    close(fd);
    return 0;
  }
  part->bytes.resize(static_cast<size_t>(st.st_size) + 1);  // one more: a file grown since is seen
  size_t got = 0;
  ssize_t n = 0;
  while (got < part->bytes.size() && (n = read(fd, &part->bytes[got], part->bytes.size() - got)) > 0)
    got += static_cast<size_t>(n);
  int savedErrno = errno;
  close(fd);
  if (n < 0) {
    errno = savedErrno;
    return -1;
  }
  if (got > static_cast<size_t>(st.st_size)) return 0;  // grew: read from the file
  part->bytes.resize(got);
  part->held = true;
  *budget -= static_cast<int64_t>(got);
  return 0;
}

// Looks at the bytes of one block of a text scan; *line is the length of
// the line so far.
void ScanBlock(const char *data, size_t begin, size_t len, TextShape *shape, size_t *line) {
  for (size_t i = begin; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 0x80) shape->ascii = false;
    if (c == '\n') {
      if (*line > shape->longestLine) shape->longestLine = *line;
      *line = 0;
      continue;
    }
    ++*line;
    if (c < 0x20 && c != '\t' && c != '\r' && c != '\f') shape->control = true;
    if (c == 0) shape->nul = true;
  }
}

int ScanFile(const std::string &path, TextShape *shape);

// Scans the part. Returns 0, or -1 when it cannot be read.
int ScanText(const PartFile &part, TextShape *shape) {
  if (!part.held) return ScanFile(part.path, shape);
  size_t line = 0;
  ScanBlock(part.bytes.data(), 0, part.bytes.size(), shape, &line);
  shape->utf8 = g_utf8_validate(part.bytes.data(), static_cast<gssize>(part.bytes.size()), nullptr);
  if (line > shape->longestLine) shape->longestLine = line;
  return 0;
}

// Scans the file at path. Returns 0, or -1 when it cannot be read.
int ScanFile(const std::string &path, TextShape *shape) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  // Left uninitialised (no 64 KB zero-fill per part): only what read() filled is looked at.
  std::unique_ptr<char[]> block(new char[65536 + 4]);
  char *const data = block.get();
  size_t carry = 0;  // bytes of an unfinished UTF-8 sequence from the last block
  size_t line = 0;
  ssize_t n;
  while ((n = read(fd, data + carry, 65536)) > 0) {
    size_t len = carry + static_cast<size_t>(n);
    ScanBlock(data, carry, len, shape, &line);
    const gchar *end = nullptr;
    if (shape->utf8 && !g_utf8_validate(data, static_cast<gssize>(len), &end)) {
      size_t valid = static_cast<size_t>(end - data);
      // A sequence may run across the block boundary: keep its start for the next block.
      if (len - valid < 4 && (static_cast<unsigned char>(data[valid]) & 0xC0) == 0xC0) {
        carry = len - valid;
        memmove(data, data + valid, carry);
        continue;
      }
      shape->utf8 = false;
    }
    carry = 0;
  }
  close(fd);
  if (n < 0) return -1;
  if (carry > 0) shape->utf8 = false;
  if (line > shape->longestLine) shape->longestLine = line;
  return 0;
}

std::string PartPath(const std::string &workDir, const HostMessage &record, int index) {
  char path[4096];
  FormatPartFileName(path, sizeof path, workDir.c_str(), record.msgSeq, index);
  return path;
}

// A read stream over the part, or null when its file cannot be opened.
GMimeStream *OpenPartStream(const PartFile &part) {
  if (part.held)
    return g_mime_stream_mem_new_with_buffer(part.bytes.data(), part.bytes.size());
  int fd = open(part.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return g_mime_stream_fs_new(fd);  // owns fd
}

void SetContent(GMimePart *part, GMimeStream *stream,
                GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_DEFAULT) {
  GMimeDataWrapper *wrapper = g_mime_data_wrapper_new_with_stream(stream, encoding);
  g_mime_part_set_content(part, wrapper);
  g_object_unref(wrapper);
  g_object_unref(stream);
}

// A text/plain or text/html body part from a part file, line ends made LF
// (the message file's own), labelled with the charset the bytes are in.
GMimeObject *BuildTextPart(const PartFile &part, const char *subtype, std::string *error) {
  TextShape shape;
  GMimeStream *file = nullptr;
  if (ScanText(part, &shape) != 0 || (file = OpenPartStream(part)) == nullptr) {
    *error = "cannot read body part file " + part.path + ": " + strerror(errno);
    return nullptr;
  }
  GMimeStream *filtered = g_mime_stream_filter_new(file);
  GMimeFilter *dos2unix = g_mime_filter_dos2unix_new(FALSE);
  g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered), dos2unix);
  g_object_unref(dos2unix);
  g_object_unref(file);

  GMimeTextPart *text = g_mime_text_part_new_with_subtype(subtype);
  g_mime_text_part_set_charset(text, shape.ascii ? "us-ascii" : shape.utf8 ? "utf-8" : "windows-1252");
  SetContent(GMIME_PART(text), filtered);
  bool plain = shape.ascii && !shape.control && shape.longestLine <= kMaxLineOctets;
  g_mime_part_set_content_encoding(GMIME_PART(text), plain ? GMIME_CONTENT_ENCODING_7BIT
                                                           : GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  return GMIME_OBJECT(text);
}

// Whether the file starts (after blanks) with "<html": the reader hands an
// RTF body converted to HTML as a text body part.
bool LooksLikeHtml(const PartFile &part) {
  char head[256];
  ssize_t n;
  if (part.held) {
    n = static_cast<ssize_t>(std::min(part.bytes.size(), sizeof head - 1));
    memcpy(head, part.bytes.data(), static_cast<size_t>(n));
  } else {
    int fd = open(part.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    n = read(fd, head, sizeof head - 1);
    close(fd);
  }
  if (n <= 0) return false;
  head[n] = '\0';
  const char *p = head;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  return StartsWithNoCase(p, "<html");
}

// The name of a body converted from RTF to HTML that is kept as an
// attachment: the reader calls every text body "Message.txt", but mail
// programs (and an import of this file) type an attachment by its name, so
// ".txt" becomes ".htm" and the HTML is not taken for plain text.
std::string HtmlAttachmentName(const std::string &name) {
  const size_t n = name.size();
  if (n >= 4 && EqualsNoCase(name.substr(n - 4).c_str(), ".txt")) return name.substr(0, n - 4) + ".htm";
  return name;
}

// Whether a name has an extension (a dot that is neither first nor last).
bool HasExtension(const std::string &name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > 0 && dot + 1 < name.size() &&
         name.find('/', dot) == std::string::npos;
}

// The first bytes of a part file (up to kTypeProbeBytes); *whole is set
// when they are all of it. "" when it cannot be read.
std::string ReadHead(const PartFile &part, bool *whole) {
  if (part.held) {
    *whole = part.bytes.size() <= kTypeProbeBytes;
    return part.bytes.substr(0, kTypeProbeBytes);
  }
  const std::string &path = part.path;
  std::string head(kTypeProbeBytes + 1, '\0');
  *whole = true;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  size_t got = 0;
  ssize_t n;
  while (got < head.size() && (n = read(fd, &head[got], head.size() - got)) > 0) got += static_cast<size_t>(n);
  close(fd);
  *whole = got <= kTypeProbeBytes;
  head.resize(got <= kTypeProbeBytes ? got : kTypeProbeBytes);
  return head;
}

// A message/* part may only be 7bit, 8bit or binary: never base64, or
// readers cannot open the message inside.
GMimeContentEncoding MessageEncoding(const TextShape &shape) {
  if (shape.nul || shape.longestLine > kMaxLineOctets) return GMIME_CONTENT_ENCODING_BINARY;
  return shape.ascii ? GMIME_CONTENT_ENCODING_7BIT : GMIME_CONTENT_ENCODING_8BIT;
}

// An attachment from a part file: exact bytes, named, typed by what its
// content is or else by its name; base64 except for an attached message.
// A name without extension whose bytes are clean UTF-8 text (the summary
// the reader writes for an attached mail) is labelled text/plain.
GMimeObject *BuildAttachment(const PartFile &file, const std::string &name, bool html, LargeParts *large,
                             std::string *error) {
  const std::string &path = file.path;
  bool whole = true;
  std::string type = html ? "text/html" : GuessAttachmentType(name, ReadHead(file, &whole), whole);
  std::string charset;
  TextShape shape;
  const bool message = type.compare(0, 8, "message/") == 0;
  if ((message || (type == "application/octet-stream" && !HasExtension(name))) && ScanText(file, &shape) != 0) {
    *error = "cannot read attachment file " + path + " (" + name + "): " + strerror(errno);
    return nullptr;
  }
  if (type == "application/octet-stream" && !HasExtension(name) && shape.utf8 && !shape.control) {
    type = "text/plain";
    charset = shape.ascii ? "us-ascii" : "utf-8";
  }
  // A large attachment comes encoded from its file, in blocks (GMime's
  // encoding filter took a quarter of a large export's time), and is
  // spliced into the message as it is written. Same text.
  const bool encoded = !message && !file.held;
  GMimeStream *content = !encoded                          ? OpenPartStream(file)
                         : large != nullptr && gSplicing ? AddLargePart(large, path)
                                                         : OpenBase64FileStream(path.c_str());
  if (content == nullptr) {
    *error = "cannot read attachment file " + path + " (" + name + "): " + strerror(errno);
    return nullptr;
  }
  size_t slash = type.find('/');
  GMimePart *part = g_mime_part_new_with_type(type.substr(0, slash).c_str(), type.substr(slash + 1).c_str());
  if (!charset.empty()) g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", charset.c_str());
  g_mime_object_set_disposition(GMIME_OBJECT(part), GMIME_DISPOSITION_ATTACHMENT);
  g_mime_part_set_filename(part, name.c_str());
  SetContent(part, content, encoded ? GMIME_CONTENT_ENCODING_BASE64 : GMIME_CONTENT_ENCODING_DEFAULT);
  g_mime_part_set_content_encoding(part, message ? MessageEncoding(shape) : GMIME_CONTENT_ENCODING_BASE64);
  return GMIME_OBJECT(part);
}

void AddAddress(GMimeMessage *message, GMimeAddressType type, const std::string &name,
                const std::string &address) {
  if (name.empty() && address.empty()) return;
  std::string n = ToUtf8(name);
  // A GroupWise-internal sender may come without an address: keep its name.
  g_mime_message_add_mailbox(message, type, n.empty() || n == address ? nullptr : n.c_str(),
                             address.c_str());
}

// The headers that carry the export's own state (categories, the GroupWise
// id): written into converted messages and put before an original's headers.
void AddExportHeaders(GMimeObject *object, const HostMessage &record) {
  std::string keywords, categories = FIELD(record, categories);
  size_t start = 0;
  while (start < categories.size()) {
    size_t end = categories.find(';', start);
    if (end == std::string::npos) end = categories.size();
    if (end > start) keywords += (keywords.empty() ? "" : ", ") + categories.substr(start, end - start);
    start = end + 1;
  }
  if (!keywords.empty()) g_mime_object_set_header(object, "Keywords", ToUtf8(keywords).c_str(), "utf-8");
  std::string id = FIELD(record, messageId);
  if (!id.empty()) g_mime_object_set_header(object, "X-GroupWise-Id", ToUtf8(id).c_str(), "utf-8");
}

void SetHeaders(GMimeMessage *message, const HostMessage &record, const std::string &messageId) {
  GMimeObject *object = GMIME_OBJECT(message);
  AddAddress(message, GMIME_ADDRESS_TYPE_FROM, FIELD(record, fromName), FIELD(record, fromAddress));
  for (int i = 0; i < record.recipCount && i < kMaxRecipients; ++i) {
    const HostRecipient *r = record.recips[i];
    if (r == nullptr) continue;
    GMimeAddressType type;
    switch (r->kind) {
      case kRecipTo: type = GMIME_ADDRESS_TYPE_TO; break;
      case kRecipCc: type = GMIME_ADDRESS_TYPE_CC; break;
      case kRecipBcc: type = GMIME_ADDRESS_TYPE_BCC; break;
      default: continue;  // an organizer is no mail recipient
    }
    AddAddress(message, type, FIELD(*r, name), FIELD(*r, address));
  }
  g_mime_message_set_subject(message, ToUtf8(FIELD(record, subject)).c_str(), "utf-8");
  uint64_t ticks = FileTimeToU64(record.sentTime);
  if (ticks != 0) {
    GDateTime *date = g_date_time_new_from_unix_utc(static_cast<gint64>(ticks) / kTicksPerSecond - kEpochDifference);
    if (date != nullptr) {
      g_mime_message_set_date(message, date);
      g_date_time_unref(date);
    }
  }
  g_mime_message_set_message_id(message, messageId.c_str());
  static const struct {
    const char *importance, *priority;
  } kPriorities[] = {{"low", "5 (Lowest)"}, {"normal", "3 (Normal)"}, {"high", "1 (Highest)"}};
  // Standard priority is what a mail without these headers has already.
  if (record.importance == 0 || record.importance == 2) {
    g_mime_object_set_header(object, "Importance", kPriorities[record.importance].importance, nullptr);
    g_mime_object_set_header(object, "X-Priority", kPriorities[record.importance].priority, nullptr);
  }
  AddExportHeaders(object, record);
}

// The MIME tree of the record: the text body, the HTML body (alternatives
// of each other when both are there), then the attachments. The first part
// of kind 1 is the text body and the first of kind 9 the HTML body; further
// ones are attachments under their names. Returns null with *error set
// when a part file cannot be read.
GMimeObject *BuildBody(const HostMessage &record, const std::string &workDir, bool *small, LargeParts *large,
                       std::string *error) {
  int textIndex = -1, htmlIndex = -1, convertedIndex = -1;
  std::vector<int> attachments;
  std::vector<bool> htmlText(kMaxParts, false);  // text body parts that hold HTML
  const int count = record.partCount < 0 ? 0 : record.partCount > kMaxParts ? kMaxParts : record.partCount;
  std::vector<PartFile> files(static_cast<size_t>(count));
  int64_t budget = kHeldMessageBytes;
  *small = true;
  for (int i = 0; i < count; ++i) {
    if (record.parts[i] == nullptr) continue;
    // A file that cannot be read now is not held: the step that needs it
    // meets the same error and says which part it was.
    LoadPart(PartPath(workDir, record, i), &budget, &files[static_cast<size_t>(i)]);
    if (!files[static_cast<size_t>(i)].held) *small = false;
  }
  for (int i = 0; i < count; ++i) {
    const HostPart *p = record.parts[i];
    if (p == nullptr) continue;
    if (p->kind == kPartTextBody) htmlText[i] = LooksLikeHtml(files[static_cast<size_t>(i)]);
    if (p->kind == kPartTextBody && !htmlText[i] && textIndex < 0)
      textIndex = i;
    else if (p->kind == kPartTextBody && htmlText[i] && convertedIndex < 0)
      convertedIndex = i;
    else if (p->kind == kPartHtmlBody && htmlIndex < 0)
      htmlIndex = i;
    else
      attachments.push_back(i);
  }
  // A body converted from RTF stands in for a missing HTML body; next to a
  // real one it is kept as an attachment.
  if (htmlIndex < 0) {
    htmlIndex = convertedIndex;
  } else if (convertedIndex >= 0) {
    attachments.push_back(convertedIndex);
    std::sort(attachments.begin(), attachments.end());
  }
  GMimeObject *text = nullptr, *html = nullptr;
  if (textIndex >= 0 && (text = BuildTextPart(files[static_cast<size_t>(textIndex)], "plain", error)) == nullptr)
    return nullptr;
  if (htmlIndex >= 0 && (html = BuildTextPart(files[static_cast<size_t>(htmlIndex)], "html", error)) == nullptr) {
    if (text != nullptr) g_object_unref(text);
    return nullptr;
  }
  GMimeObject *body;
  if (text != nullptr && html != nullptr) {
    GMimeMultipart *alternative = g_mime_multipart_new_with_subtype("alternative");
    g_mime_multipart_add(alternative, text);
    g_mime_multipart_add(alternative, html);
    g_object_unref(text);
    g_object_unref(html);
    body = GMIME_OBJECT(alternative);
  } else if (text != nullptr || html != nullptr) {
    body = text != nullptr ? text : html;
  } else {
    GMimeTextPart *empty = g_mime_text_part_new_with_subtype("plain");
    g_mime_text_part_set_text(empty, "");
    body = GMIME_OBJECT(empty);
  }
  if (attachments.empty()) return body;
  GMimeMultipart *mixed = g_mime_multipart_new_with_subtype("mixed");
  g_mime_multipart_add(mixed, body);
  g_object_unref(body);
  for (int index : attachments) {
    std::string name = ToUtf8(FIELD(*record.parts[index], name));
    if (name.empty()) name = "attachment-" + std::to_string(index + 1);
    if (htmlText[index]) name = HtmlAttachmentName(name);
    GMimeObject *part = BuildAttachment(files[static_cast<size_t>(index)], name, htmlText[index], large, error);
    if (part == nullptr) {
      g_object_unref(mixed);
      return nullptr;
    }
    g_mime_multipart_add(mixed, part);
    g_object_unref(part);
  }
  return GMIME_OBJECT(mixed);
}

// Writes message into fd: a small one (every part held in memory) is made
// in memory and written with one call, a larger one through a stdio buffer
// of 1 MiB (GMime's buffer stream writes 4 KB at a time: tens of thousands
// of system calls for an attachment of hundreds of megabytes). Returns its
// size, or -1 with errno set.
ssize_t WriteMessageTo(GMimeMessage *message, int fd, bool small, const LargeParts &large) {
  if (small) {
    GMimeStream *memory = g_mime_stream_mem_new();
    ssize_t written = g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, memory);
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
    if (written >= 0 && WriteAll(fd, bytes->data, bytes->len) != 0) written = -1;
    int savedErrno = errno;
    g_object_unref(memory);
    errno = savedErrno;
    return written;
  }
  // Through a second descriptor, so that the caller's stays open for its
  // fsync. A file stream flushes without syncing: the one fsync after it
  // is enough.
  const int copy = dup(fd);
  FILE *file = copy >= 0 ? fdopen(copy, "wb") : nullptr;
  if (file == nullptr) {
    int savedErrno = errno;
    if (copy >= 0) close(copy);
    errno = savedErrno;
    return -1;
  }
  setvbuf(file, nullptr, _IOFBF, kMessageWriteBuffer);
  GMimeStream *out = g_mime_stream_file_new(file);  // owns file
  ssize_t written = -1;
  if (large.parts.empty()) {
    written = g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out);
    if (g_mime_stream_flush(out) != 0) written = -1;
  } else {
    GMimeStream *splicing = OpenSplicingStream(file, &large);
    if (g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, splicing) >= 0 &&
        g_mime_stream_flush(splicing) == 0)
      written = static_cast<ssize_t>(SplicedSize(splicing));
    if (written < 0 && errno == 0) errno = EIO;
    g_object_unref(splicing);
  }
  int savedErrno = errno;
  g_object_unref(out);
  errno = savedErrno;
  return written;
}

// Writes message into a new file at path, synced when sync is set. Returns
// the size, or -1 with *error set (the file is then removed).
int64_t WriteMessageFile(GMimeMessage *message, const std::string &path, bool sync, bool small,
                         const LargeParts &large, std::string *error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + strerror(errno);
    return -1;
  }
  errno = 0;
  ssize_t written = WriteMessageTo(message, fd, small, large);
  int flushed = written >= 0 ? 0 : -1;
  int savedErrno = errno;
  bool ok = written >= 0 && flushed == 0 && (!sync || fsync(fd) == 0);
  if (!ok && savedErrno == 0) savedErrno = errno;
  if (ok && !sync) StartWriteback(fd, written);
  if (close(fd) != 0) ok = false;
  if (!ok) {
    *error = "cannot write " + path + ": " + strerror(savedErrno != 0 ? savedErrno : EIO);
    unlink(path.c_str());
    return -1;
  }
  return static_cast<int64_t>(written);
}

int SyncDirectory(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  int rc = fsync(fd);
  close(fd);
  return rc;
}

int MakeDirectories(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : -1;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && MakeDirectories(path.substr(0, slash)) != 0) return -1;
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST ? 0 : -1;
}

// Adds the name base (the name up to ":") of every entry in dir to *bases.
void IndexNames(const std::string &dir, std::unordered_set<std::string> *bases) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string name = e->d_name;
    bases->insert(name.substr(0, name.find(':')));
  }
  closedir(d);
}

// Deletes every file in dir. Returns the number deleted.
int RemoveFiles(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] == '.' && (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0')))
      continue;
    if (unlink((dir + "/" + e->d_name).c_str()) == 0) ++removed;
  }
  closedir(d);
  return removed;
}

}  // namespace

int OpenMaildirFolder(const std::string &directory, const std::string &folderPath,
                      MaildirFolder *folder, std::string *error) {
  *folder = MaildirFolder();
  folder->directory = directory;
  folder->folderPath = folderPath;
  for (const char *sub : {"/cur", "/new", "/tmp"}) {
    if (MakeDirectories(directory + sub) != 0) {
      *error = "cannot create Maildir " + directory + sub + ": " + strerror(errno);
      return -1;
    }
  }
  folder->staleRemoved = RemoveFiles(directory + "/tmp");
  IndexNames(directory + "/cur", &folder->present);
  IndexNames(directory + "/new", &folder->present);
  return 0;
}

std::string ItemKey(const HostMessage &record, const std::string &workDir) {
  std::string id = FIELD(record, messageId);
  if (!id.empty()) return "id:" + id;
  std::string fields = FIELD(record, subject) + "\n" + FIELD(record, fromAddress) + "\n" +
                       std::to_string(FileTimeToU64(record.sentTime));
  // Notices, protected-header mail and message fragments share subject,
  // sender and time: recipients and content tell them apart.
  char fingerprint[40];
  if (mvcom_ItemFingerprint(&record, workDir.c_str(), fingerprint, sizeof fingerprint) == 0)
    fields += "\n" + std::string(fingerprint);
  return "digest:" + Sha256Hex(fields);
}

namespace {

std::string FileBaseOfKey(const std::string &folderPath, const std::string &key) {
  return "gw-" + Sha256Hex(folderPath + "\n" + key).substr(0, 32);
}

std::string MessageIdOfKey(const std::string &key) { return Sha256Hex(key).substr(0, 32) + "@groupwise.invalid"; }

}  // namespace

std::string MessageFileBase(const std::string &folderPath, const HostMessage &record, const std::string &workDir) {
  return FileBaseOfKey(folderPath, ItemKey(record, workDir));
}

std::string StableMessageId(const HostMessage &record, const std::string &workDir) {
  return MessageIdOfKey(ItemKey(record, workDir));
}

std::string ExportHeaderBlock(const HostMessage &record) {
  InitGMimeOnce();
  GMimePart *holder = g_mime_part_new();
  GMimeObject *object = GMIME_OBJECT(holder);
  g_mime_header_list_clear(object->headers);
  AddExportHeaders(object, record);
  char *text = g_mime_header_list_to_string(object->headers, nullptr);
  std::string block = text != nullptr ? text : "";
  g_free(text);
  g_object_unref(holder);
  return block;
}

std::string MessageFlags(const HostMessage &record) { return record.unread ? "" : "S"; }

int WriteMaildirMessage(MaildirFolder *folder, const HostMessage &record,
                        const std::string &workDir, int64_t *bytes, std::string *error) {
  if (bytes != nullptr) *bytes = 0;
  // The key once: for an item without an id it reads every part file.
  const std::string key = ItemKey(record, workDir);
  const std::string base = FileBaseOfKey(folder->folderPath, key);
  if (folder->present.count(base) != 0) return kWriteAlreadyPresent;
  InitGMimeOnce();
  const std::string tmpPath = folder->directory + "/tmp/" + base;
  const std::string curPath = folder->directory + "/cur/" + base + ":2," + MessageFlags(record);
  int64_t size = 0;
  const int original = FindOriginalPart(record);
  if (original >= 0) {
    size = WriteOriginalFile(ExportHeaderBlock(record), PartPath(workDir, record, original), tmpPath,
                             !folder->deferSync, error);
  } else {
    bool small = false;
    LargeParts large;
    GMimeObject *body = BuildBody(record, workDir, &small, &large, error);
    if (body == nullptr) return kWriteFailed;
    GMimeMessage *message = g_mime_message_new(TRUE);
    SetHeaders(message, record, MessageIdOfKey(key));
    g_mime_message_set_mime_part(message, body);
    g_object_unref(body);
    size = WriteMessageFile(message, tmpPath, !folder->deferSync, small, large, error);
    g_object_unref(message);
  }
  if (size < 0) return kWriteFailed;
  uint64_t ticks = FileTimeToU64(record.sentTime);
  if (ticks != 0) {
    // Mail programs take a Maildir message's arrival time from the file.
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks) / kTicksPerSecond - kEpochDifference);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, tmpPath.c_str(), times, 0);
  }
  if (rename(tmpPath.c_str(), curPath.c_str()) != 0) {
    *error = "cannot move " + tmpPath + " into cur/: " + strerror(errno);
    unlink(tmpPath.c_str());
    return kWriteFailed;
  }
  // The rename must be on disk before the caller records the item as done.
  if (folder->deferSync) {
    ++folder->unsynced;
  } else if (SyncDirectory(folder->directory + "/cur") != 0) {
    *error = "cannot sync " + folder->directory + "/cur: " + strerror(errno);
    unlink(curPath.c_str());
    return kWriteFailed;
  }
  folder->present.insert(base);
  if (bytes != nullptr) *bytes = size;
  return kWriteStored;
}

int SyncMaildirFolder(MaildirFolder *folder, std::string *error) {
  if (folder->unsynced == 0) return 0;
  int fd = open((folder->directory + "/cur").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || syncfs(fd) != 0) {
    *error = "cannot sync " + folder->directory + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  close(fd);
  folder->unsynced = 0;
  return 0;
}

void SetLargePartSplicing(bool on) { gSplicing = on; }

}  // namespace maildir
