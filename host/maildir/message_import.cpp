// One Maildir message file into a HostMessage, with GMime.
#include "host/maildir/message_import.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "host/maildir/base64_decoder.h"
#include "host/maildir/header_text.h"
#include "host/maildir/mail_date.h"
#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "platform/memory_stream.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"

namespace maildir {
namespace {

// A message header of more than this is not a header: the identity scan stops.
const size_t kMaxHeaderBytes = 1 << 20;
// Messages up to this size are read into memory once (see ConvertMessageFile).
const off_t kReadOnceBytes = 1 << 20;
// A larger one is read through a buffer of this size, and its parts
// decoded in blocks of this size.
const size_t kFileBufferBytes = 1 << 20;
const size_t kDecodeBlockBytes = 1 << 20;
// Seconds between 1601-01-01 and 1970-01-01.
const int64_t kEpochDifference = 11644473600LL;

struct GObjectUnref {
  void operator()(void *p) const {
    if (p != nullptr) g_object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
  void operator()(void *p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFreeDeleter>;

void InitGMimeOnce() {
  static bool done = false;
  if (!done) {
    g_mime_init();
    done = true;
  }
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// The unfolded value of the first Message-ID field of the header, or "".
std::string ScanMessageId(FILE *f) {
  std::string field, found;
  size_t total = 0;
  char line[4096];
  bool inField = false;
  auto finish = [&]() {
    if (inField && found.empty() && field.size() > 11 && EqualsNoCaseN(field.c_str(), "message-id:", 11))
      found = field.substr(11);
    field.clear();
  };
  while (fgets(line, sizeof line, f) != nullptr && total < kMaxHeaderBytes) {
    size_t len = strlen(line);
    total += len;
    std::string text(line, len);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) break;  // end of the header
    if (text[0] == ' ' || text[0] == '\t') {
      field += text;  // folded continuation
      continue;
    }
    finish();
    field = text;
    inField = true;
  }
  finish();
  found = Trim(found);
  size_t open = found.find('<');
  size_t close = found.find('>', open == std::string::npos ? 0 : open);
  if (open != std::string::npos && close != std::string::npos) found = found.substr(open + 1, close - open - 1);
  return Trim(found);
}

void CopyUtf8(char *dst, size_t cap, const char *src) {
  CopyText(dst, cap, src != nullptr ? src : "");
  TrimPartialUtf8(dst);
}

// Every raw value of the header fields called name, unfolded, joined with
// ", " (an address field given twice); "" when there is none.
std::string RawHeader(GMimeObject *object, const char *name) {
  GMimeHeaderList *list = g_mime_object_get_header_list(object);
  std::string joined;
  for (int i = 0; list != nullptr && i < g_mime_header_list_get_count(list); ++i) {
    GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
    if (!EqualsNoCase(g_mime_header_get_name(header), name)) continue;
    const char *raw = g_mime_header_get_raw_value(header);
    const std::string value = UnfoldHeader(raw != nullptr ? raw : "");
    if (value.empty()) continue;
    if (!joined.empty()) joined += ", ";
    joined += value;
  }
  return joined;
}

// An unstructured header (Subject) as mail readers show it.
std::string HeaderText(GMimeObject *object, const char *name) {
  return OneLine(DecodeHeaderText(RawHeader(object, name)));
}

// The addresses of a header, each encoded word of its names decoded alone.
using AddressListPtr = GPtr<InternetAddressList>;
AddressListPtr ParseAddresses(GMimeObject *object, const char *name) {
  const std::string raw = RawHeader(object, name);
  if (raw.empty()) return nullptr;
  GMimeParserOptions *options = g_mime_parser_options_new();
  const char *fallback[] = {"UTF-8", "windows-1252", nullptr};
  g_mime_parser_options_set_fallback_charsets(options, fallback);
  AddressListPtr list(internet_address_list_parse(options, DecodeAddressWords(raw).c_str()));
  g_mime_parser_options_free(options);
  return list;
}

std::string NameOf(InternetAddress *address) {
  const char *name = internet_address_get_name(address);
  return name != nullptr ? OneLine(name) : "";
}

void AddMailbox(HostMessage *record, InternetAddress *address, int kind) {
  if (INTERNET_ADDRESS_IS_GROUP(address)) {
    InternetAddressList *members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address));
    for (int i = 0; members != nullptr && i < internet_address_list_length(members); ++i)
      AddMailbox(record, internet_address_list_get_address(members, i), kind);
    return;
  }
  if (!INTERNET_ADDRESS_IS_MAILBOX(address)) return;
  if (record->recipCount >= kMaxRecipients || !com_AllocRecip(record)) {
    com_Log("MV Warning: too many recipients, cutting off after %d", record->recipCount);
    return;
  }
  HostRecipient *r = record->recips[record->recipCount];
  CopyUtf8(r->name, 251, NameOf(address).c_str());
  CopyUtf8(r->address, 251, internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
  r->kind = kind;
  record->recipCount++;
}

void FillSender(HostMessage *record, GMimeObject *header) {
  AddressListPtr from = ParseAddresses(header, "From");
  for (int i = 0; from && i < internet_address_list_length(from.get()); ++i) {
    InternetAddress *a = internet_address_list_get_address(from.get(), i);
    if (INTERNET_ADDRESS_IS_GROUP(a)) {
      InternetAddressList *members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a));
      if (members == nullptr || internet_address_list_length(members) == 0) continue;
      a = internet_address_list_get_address(members, 0);
    }
    if (!INTERNET_ADDRESS_IS_MAILBOX(a)) continue;
    CopyUtf8(record->fromName, sizeof record->fromName, NameOf(a).c_str());
    CopyUtf8(record->fromAddress, sizeof record->fromAddress,
             internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)));
    return;
  }
  // GMime drops a mailbox without an address ("MAILER DAEMON <>"); its name
  // is all the sender there is.
  CopyUtf8(record->fromName, sizeof record->fromName, EmptyAddressName(RawHeader(header, "From")).c_str());
}

void FillRecipients(HostMessage *record, GMimeObject *header) {
  const struct {
    const char *field;
    int kind;
  } kLists[] = {{"To", kRecipTo}, {"Cc", kRecipCc}, {"Bcc", kRecipBcc}};
  for (const auto &list : kLists) {
    AddressListPtr addresses = ParseAddresses(header, list.field);
    for (int i = 0; addresses && i < internet_address_list_length(addresses.get()); ++i)
      AddMailbox(record, internet_address_list_get_address(addresses.get(), i), list.kind);
  }
}

FILETIME FileTimeFromUnix(int64_t seconds) {
  return U64ToFileTime(static_cast<uint64_t>(seconds + kEpochDifference) * 10000000ULL);
}

// The newest date among the Received headers; false when none has one.
bool NewestReceived(GMimeObject *object, int64_t *unixSeconds) {
  GMimeHeaderList *list = g_mime_object_get_header_list(object);
  bool found = false;
  for (int i = 0; list != nullptr && i < g_mime_header_list_get_count(list); ++i) {
    GMimeHeader *header = g_mime_header_list_get_header_at(list, i);
    const char *raw = g_mime_header_get_raw_value(header);
    int64_t when = 0;
    if (!EqualsNoCase(g_mime_header_get_name(header), "Received") || raw == nullptr ||
        ReceivedDate(UnfoldHeader(raw), &when) != 0)
      continue;
    if (!found || when > *unixSeconds) *unixSeconds = when;
    found = true;
  }
  return found;
}

void FillDate(HostMessage *record, GMimeMessage *message, const std::string &path) {
  GMimeObject *header = GMIME_OBJECT(message);
  int64_t when = 0;
  bool known = ParseMailDate(RawHeader(header, "Date"), &when) == 0;
  if (!known) {
    GDateTime *date = g_mime_message_get_date(message);
    known = date != nullptr;
    if (known) when = g_date_time_to_unix(date);
  }
  if (!known || when <= -kEpochDifference) known = NewestReceived(header, &when) && when > -kEpochDifference;
  if (known) {
    record->sentTime = FileTimeFromUnix(when);
    return;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0) record->sentTime = FileTimeFromUnix(st.st_mtime);
}

// The file name of a part or attached message as mail readers show it:
// Content-Disposition's filename, else Content-Type's name; a plain value
// with encoded words is decoded here, word by word, an RFC 2231 value is
// GMime's. "" when neither names it.
std::string PartFileName(GMimeObject *object) {
  const struct {
    const char *field, *parameter;
    bool disposition;
  } kSources[] = {{"Content-Disposition", "filename", true}, {"Content-Type", "name", false}};
  for (const auto &source : kSources) {
    const std::string raw = RawHeader(object, source.field);
    std::string plain;
    if (!HasExtendedParameter(raw, source.parameter) && PlainParameter(raw, source.parameter, &plain) &&
        plain.find("=?") != std::string::npos)
      return OneLine(DecodeHeaderText(plain));
    const char *value = source.disposition ? g_mime_object_get_content_disposition_parameter(object, source.parameter)
                                           : g_mime_object_get_content_type_parameter(object, source.parameter);
    if (value != nullptr && value[0] != '\0') return OneLine(value);
  }
  return "";
}

std::string HeaderValue(GMimeObject *object, const char *name) {
  const char *value = g_mime_object_get_header(object, name);
  return value != nullptr ? Trim(value) : "";
}

// Walks the MIME tree and writes each part's file.
class PartWriter {
 public:
  PartWriter(HostMessage *record, const std::string &workDir) : record_(record), workDir_(workDir) {}

  // What of the structure could not be read ("" when all of it could).
  const std::string &unreadable() const { return unreadable_; }

  // Attaches the original message file whole, for a structure that could
  // not be read. Returns 0, or -1 with *reason set.
  int AddOriginal(const std::string &bytes, std::string *reason) {
    if (record_->partCount >= kMaxParts) return 0;
    if (WriteNextFile(bytes.data(), bytes.size(), reason) != 0) return -1;
    Append("Original message.eml", kPartFile, bytes.size());
    return 0;
  }

  // Returns 0, or -1 with *reason set when a part file cannot be written.
  int Walk(GMimeObject *object, std::string *reason) {
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart *multipart = GMIME_MULTIPART(object);
      if (g_mime_multipart_get_count(multipart) == 0) return AddUnreadableMultipart(object, reason);
      for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
        if (Walk(g_mime_multipart_get_part(multipart, i), reason) != 0) return -1;
      return 0;
    }
    if (GMIME_IS_MESSAGE_PART(object)) return AddAttachedMessage(object, reason);
    if (GMIME_IS_PART(object)) return AddLeaf(GMIME_PART(object), reason);
    return 0;
  }

 private:
  std::string PartPath(int index) const {
    char path[1024];
    FormatPartFileName(path, sizeof path, workDir_.c_str(), record_->msgSeq, index);
    return path;
  }

  // Writes bytes as the file of the next part. Returns 0, or -1 on a write error.
  int WriteNextFile(const char *bytes, size_t len, std::string *reason) {
    std::string path = PartPath(record_->partCount);
    // A host that keeps small parts in memory takes the bytes as they are.
    if (mvcom_PartKeep(path.c_str(), bytes, len)) return 0;
    FilePtr f = OpenFile(path.c_str(), "wb");
    if (!f || (len > 0 && fwrite(bytes, 1, len, f.get()) != len) || fflush(f.get()) != 0) {
      *reason = "cannot write part file " + path;
      f.reset();
      unlink(path.c_str());
      return -1;
    }
    return 0;
  }

  // Appends the part whose file was just written; drops it when the list is full.
  void Append(const char *name, int kind, size_t size) {
    if (record_->partCount >= kMaxParts || !com_AllocPart(record_)) {
      mvcom_PartRemove(PartPath(record_->partCount).c_str());
      com_Log("MV Info: too many message attachments (%d), cutting off", record_->partCount);
      return;
    }
    HostPart *part = record_->parts[record_->partCount];
    CopyUtf8(part->name, sizeof part->name, name);
    part->kind = kind;
    part->size = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(size);
    record_->partCount++;
  }

  // Writes the next part's file through write (false on failure) straight
  // onto the file, so that a large attachment never lies whole in memory.
  // *size gets the file's length. Returns 0, or -1 with *reason set.
  int StreamNextFile(const std::function<bool(GMimeStream *)> &write, int64_t *size, std::string *reason) {
    const std::string path = PartPath(record_->partCount);
    // Through a FILE*: GMime's stream over a descriptor flushes with fsync,
    // which a work file that is read back at once does not need (0.6 s for
    // a part of 200 MB, and one sync per attachment).
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FILE *out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (out == nullptr && fd >= 0) close(fd);
    GMimeStream *file = out != nullptr ? g_mime_stream_file_new(out) : nullptr;  // owns out
    if (file == nullptr && out != nullptr) fclose(out);
    bool written = file != nullptr && write(file) && g_mime_stream_flush(file) == 0;
    if (written) *size = g_mime_stream_tell(file);
    if (file != nullptr) {
      written = g_mime_stream_close(file) == 0 && written;
      g_object_unref(file);
    }
    if (!written || *size < 0) {
      *reason = "cannot write part file " + path;
      unlink(path.c_str());
      return -1;
    }
    return 0;
  }

  // Adds the part whose content write puts onto the stream given; with
  // dropEmpty, content that comes out empty adds no part.
  int AddStreamed(const std::function<bool(GMimeStream *)> &write, const std::string &name, int kind,
                  bool dropEmpty, std::string *reason) {
    if (record_->partCount >= kMaxParts) {
      com_Log("MV Info: too many message attachments (%d), cutting off", record_->partCount);
      return 0;
    }
    int64_t size = 0;
    if (StreamNextFile(write, &size, reason) != 0) return -1;
    if (dropEmpty && size == 0) {
      unlink(PartPath(record_->partCount).c_str());
      return 0;
    }
    Append(name.c_str(), kind, static_cast<size_t>(size));
    return 0;
  }

  // Writes the part's content with its transfer encoding undone, in large
  // blocks: GMime's own copy reads and writes a few kilobytes per system
  // call (with a seek before each read), some hundred thousand calls for an
  // attachment of a hundred megabytes. Uuencoded content, whose decoder
  // must first find its "begin" line, goes through GMime's copy.
  static bool WriteDecoded(GMimePart *part, GMimeStream *to) {
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (content == nullptr) return true;
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    GMimeStream *raw = g_mime_data_wrapper_get_stream(content);
    if (raw == nullptr || encoding == GMIME_CONTENT_ENCODING_UUENCODE)
      return g_mime_data_wrapper_write_to_stream(content, to) >= 0;
    const bool base64 = encoding == GMIME_CONTENT_ENCODING_BASE64;
    const bool decode = base64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    GMimeEncoding state = {};
    if (decode) g_mime_encoding_init_decode(&state, encoding);
    if (g_mime_stream_reset(raw) != 0) return false;
    std::vector<char> in(kDecodeBlockBytes), out;
    auto put = [to](const char *bytes, size_t n) {
      return n == 0 || g_mime_stream_write(to, bytes, n) == static_cast<ssize_t>(n);
    };
    // As GMime's own copy does: a stream read at its end fails, so the end
    // is asked first.
    while (!g_mime_stream_eos(raw)) {
      const ssize_t n = g_mime_stream_read(raw, in.data(), in.size());
      if (n < 0) return false;
      if (!decode) {
        if (!put(in.data(), static_cast<size_t>(n))) return false;
        continue;
      }
      out.resize(g_mime_encoding_outlen(&state, static_cast<size_t>(n)));
      const size_t made =
          base64 ? Base64DecodeStep(reinterpret_cast<const unsigned char *>(in.data()), static_cast<size_t>(n),
                                    reinterpret_cast<unsigned char *>(out.data()), &state.state, &state.save)
                 : g_mime_encoding_step(&state, in.data(), static_cast<size_t>(n), out.data());
      if (!put(out.data(), made)) return false;
    }
    g_mime_stream_reset(raw);
    if (!decode || base64) return true;  // base64 keeps nothing back for the end
    out.resize(g_mime_encoding_outlen(&state, 0) + 16);
    return put(out.data(), g_mime_encoding_flush(&state, nullptr, 0, out.data()));
  }

  // The part's content with its transfer encoding undone.
  static GByteArray *DecodedContent(GMimePart *part, GMimeStream *memory) {
    GMimeDataWrapper *content = g_mime_part_get_content(part);
    if (content != nullptr) g_mime_data_wrapper_write_to_stream(content, memory);
    return g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
  }

  // Text in UTF-8: converted from the declared charset; undeclared or
  // "us-ascii"/"utf-8" text that is no valid UTF-8 is taken as Windows-1252,
  // the usual charset of unlabelled 8-bit mail.
  static std::string ToUtf8(const GByteArray *bytes, const char *charset) {
    const char *data = reinterpret_cast<const char *>(bytes->data);
    std::string raw(data, bytes->len);
    bool declaredPlain = charset == nullptr || EqualsNoCase(charset, "us-ascii") ||
                         EqualsNoCase(charset, "utf-8") || EqualsNoCase(charset, "utf8");
    const char *from = charset;
    if (declaredPlain) {
      if (g_utf8_validate(data, static_cast<gssize>(bytes->len), nullptr)) return raw;
      from = "windows-1252";
    }
    iconv_t cd = g_mime_iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      com_Log("MV Warning: unknown charset %s, text body kept as it is", from);
      return raw;
    }
    GCharPtr converted(g_mime_iconv_strndup(cd, data, bytes->len));
    g_mime_iconv_close(cd);
    return converted ? std::string(converted.get()) : raw;
  }

  static bool IsAttachment(GMimeObject *object) {
    GMimeContentDisposition *disposition = g_mime_object_get_content_disposition(object);
    return disposition != nullptr && g_mime_content_disposition_is_attachment(disposition);
  }

  std::string FallbackName(GMimeContentType *type) const {
    struct Extension {
      const char *type, *subtype, *extension;
    };
    static const Extension kExtensions[] = {
        {"text", "plain", ".txt"}, {"text", "html", ".htm"}, {"message", "rfc822", ".eml"},
        {"text", "calendar", ".ics"}, {"image", "png", ".png"}, {"image", "jpeg", ".jpg"},
        {"image", "gif", ".gif"}, {"application", "pdf", ".pdf"},
    };
    const char *extension = ".dat";
    for (const Extension &e : kExtensions)
      if (type != nullptr && g_mime_content_type_is_type(type, e.type, e.subtype)) extension = e.extension;
    char name[64];
    FormatText(name, sizeof name, "attachment-%d%s", record_->partCount, extension);
    return name;
  }

  // text/plain, or a type mail readers take for it: a Content-Type without
  // a subtype ("text; charset=us-ascii") is invalid, which GMime reads as
  // application/octet-stream, and readers as text/plain (RFC 2045, 5.2).
  static bool IsPlainText(GMimeObject *object, GMimeContentType *type) {
    if (g_mime_content_type_is_type(type, "text", "plain")) return true;
    const char *raw = g_mime_object_get_header(object, "Content-Type");
    if (raw == nullptr) return false;
    const std::string value(raw);
    const size_t end = value.find(';');
    return value.substr(0, end).find('/') == std::string::npos;
  }

  int AddLeaf(GMimePart *part, std::string *reason) {
    GMimeObject *object = GMIME_OBJECT(part);
    GMimeContentType *type = g_mime_object_get_content_type(object);
    const std::string filename = PartFileName(object);
    const bool inlineText = !IsAttachment(object) && filename.empty();
    if (inlineText && !haveText_ && IsPlainText(object, type)) {
      // The text body is converted to UTF-8 whole.
      haveText_ = true;
      GPtr<GMimeStream> memory(g_mime_stream_mem_new());
      GByteArray *bytes = DecodedContent(part, memory.get());
      std::string text = ToUtf8(bytes, g_mime_content_type_get_parameter(type, "charset"));
      if (text.empty()) return 0;
      if (WriteNextFile(text.data(), text.size(), reason) != 0) return -1;
      Append("Message.txt", kPartTextBody, text.size());
      return 0;
    }
    auto decoded = [part](GMimeStream *to) { return WriteDecoded(part, to); };
    if (inlineText && !haveHtml_ && g_mime_content_type_is_type(type, "text", "html")) {
      haveHtml_ = true;
      return AddStreamed(decoded, "text.htm", kPartHtmlBody, true, reason);
    }
    return AddStreamed(decoded, !filename.empty() ? filename : FallbackName(type), kPartFile, false, reason);
  }

  // A multipart whose parts GMime could not find (its boundary cut or
  // missing): everything after its header is its prologue. Mail readers
  // show that as the text.
  int AddUnreadableMultipart(GMimeObject *object, std::string *reason) {
    char *type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object));
    if (unreadable_.empty()) unreadable_ = std::string(type != nullptr ? type : "multipart") + " without parts";
    g_free(type);
    const char *prologue = g_mime_multipart_get_prologue(GMIME_MULTIPART(object));
    if (haveText_ || prologue == nullptr || Trim(prologue).empty()) return 0;
    haveText_ = true;
    GByteArray bytes;
    bytes.data = reinterpret_cast<guint8 *>(const_cast<char *>(prologue));
    bytes.len = static_cast<guint>(strlen(prologue));
    std::string text = ToUtf8(&bytes, g_mime_object_get_content_type_parameter(object, "charset"));
    if (WriteNextFile(text.data(), text.size(), reason) != 0) return -1;
    Append("Message.txt", kPartTextBody, text.size());
    return 0;
  }

  int AddAttachedMessage(GMimeObject *object, std::string *reason) {
    GMimeMessage *embedded = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    std::string name = PartFileName(object);
    const std::string innerSubject = embedded != nullptr ? HeaderText(GMIME_OBJECT(embedded), "Subject") : "";
    if (name.empty()) name = !innerSubject.empty() ? innerSubject + ".eml" : FallbackName(g_mime_object_get_content_type(object));
    auto whole = [embedded](GMimeStream *to) {
      return embedded == nullptr || g_mime_object_write_to_stream(GMIME_OBJECT(embedded), nullptr, to) >= 0;
    };
    return AddStreamed(whole, name, kPartFile, false, reason);
  }

  HostMessage *record_;
  std::string workDir_;
  bool haveText_ = false;
  bool haveHtml_ = false;
  std::string unreadable_;
};

void DiscardParts(HostMessage *record) { com_Deallocate_All(record, nullptr); }

bool ReadAll(FILE *f, std::string *bytes) {
  bytes->clear();
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  return ferror(f) == 0;
}

bool ReadWholeFile(const std::string &path, std::string *bytes) {
  FilePtr f = OpenFile(path.c_str(), "rb");
  return f && ReadAll(f.get(), bytes);
}

// A header field line: a name of printable characters, then ":".
bool IsFieldLine(const std::string &line) {
  size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  size_t end = colon;
  while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  if (end == 0) return false;
  for (size_t i = 0; i < end; ++i)
    if (line[i] < 33 || line[i] > 126) return false;
  return true;
}

// The offset of the first line of the header that is neither a field nor a
// continuation, when no blank line comes before it; -1 when the header ends
// as it should. A stray line followed by a field is a damaged field,
// skipped as GMime skips it; one followed by text, a blank line or the end
// is the body. A message's header without any field is no header to
// repair; a MIME part's (`part`) is a part without header lines, whose text
// begins at once.
long BodyWithoutBlankLine(FILE *f, bool part = false) {
  char *line = nullptr;
  size_t cap = 0;
  ssize_t n;
  long offset = 0, stray = -1, found = -1;
  bool haveField = false;
  while (offset < static_cast<long>(kMaxHeaderBytes) && (n = getline(&line, &cap, f)) > 0) {
    std::string text(line, static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const bool field = !text.empty() && IsFieldLine(text);
    if (stray >= 0 && !field) {
      found = stray;
      break;
    }
    stray = -1;
    if (text.empty()) break;
    const bool mboxLine = !part && offset == 0 && text.compare(0, 5, "From ") == 0;
    const bool continuation = haveField && (text[0] == ' ' || text[0] == '\t');
    if (field) {
      haveField = true;
    } else if (!mboxLine && !continuation) {
      if (!haveField) {
        if (part) found = offset;
        break;
      }
      stray = offset;
    }
    offset += static_cast<long>(n);
  }
  if (stray >= 0) found = stray;  // the stray line was the last one
  free(line);
  return found;
}

// GMime drops the lines of a header block that are no fields, up to the
// blank line: so the text of a MIME part that begins right after its
// boundary, without header lines (as `openssl smime -sign` writes a plain
// text), is lost. The parser tells where each such header block begins.
void NoteInvalidHeader(gint64 offset, GMimeParserWarning code, const gchar *, gpointer user) {
  if (code != GMIME_CRIT_INVALID_HEADER_NAME) return;
  auto *blocks = static_cast<std::vector<gint64> *>(user);
  if (blocks->empty() || blocks->back() != offset) blocks->push_back(offset);
}

GPtr<GMimeMessage> ParseMessage(GMimeStream *stream, std::vector<gint64> *damagedBlocks) {
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  GMimeParserOptions *options = g_mime_parser_options_new();
  const char *fallback[] = {"UTF-8", "windows-1252", nullptr};
  g_mime_parser_options_set_fallback_charsets(options, fallback);
  g_mime_parser_options_set_warning_callback(options, &NoteInvalidHeader, damagedBlocks);
  GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options));
  g_mime_parser_options_free(options);
  return message;
}

// The start of the MIME part's header block that holds offset: the line
// after the boundary line above it. npos when no boundary line comes before
// a blank line (the message's own header, an attached message's).
size_t PartHeaderStart(const std::string &bytes, size_t offset) {
  size_t pos = std::min(offset, bytes.size());
  while (pos > 0 && bytes[pos - 1] != '\n') --pos;
  while (pos > 0 && offset - pos <= kMaxHeaderBytes) {
    const size_t end = pos - 1;  // the previous line's '\n'
    const size_t newline = end > 0 ? bytes.rfind('\n', end - 1) : std::string::npos;
    const size_t previous = newline == std::string::npos ? 0 : newline + 1;
    if (bytes.compare(previous, 2, "--") == 0) return pos;
    if (end == previous || (end == previous + 1 && bytes[previous] == '\r')) return std::string::npos;
    pos = previous;
  }
  return std::string::npos;
}

// Bytes [from, from + len) of stream, fewer at its end.
std::string ReadRange(GMimeStream *stream, gint64 from, size_t len) {
  std::string bytes(len, '\0');
  size_t got = 0;
  if (g_mime_stream_seek(stream, from, GMIME_STREAM_SEEK_SET) == from) {
    while (got < len) {
      const ssize_t n = g_mime_stream_read(stream, &bytes[got], len - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  }
  g_mime_stream_reset(stream);
  bytes.resize(got);
  return bytes;
}

// The lines of stream before each offset of `at` (ascending), from 1.
std::vector<long> LineNumbers(GMimeStream *stream, const std::vector<size_t> &at) {
  std::vector<long> lines;
  long line = 1;
  size_t position = 0;
  std::vector<char> block(64 * 1024);
  g_mime_stream_reset(stream);
  for (size_t offset : at) {
    while (position < offset) {
      const ssize_t n = g_mime_stream_read(stream, block.data(), std::min(block.size(), offset - position));
      if (n <= 0) break;
      line += static_cast<long>(std::count(block.data(), block.data() + n, '\n'));
      position += static_cast<size_t>(n);
    }
    lines.push_back(line);
  }
  g_mime_stream_reset(stream);
  return lines;
}

// Where a blank line makes GMime keep the text of each damaged header block
// of a MIME part, ascending. The parser names a line of the block, or its
// start; the block is looked at in a window of the stream, so that a large
// message is not read whole. The message's own header is repaired before
// it is parsed.
std::vector<size_t> PartBodiesWithoutBlankLine(GMimeStream *stream, const std::vector<gint64> &blocks) {
  const size_t kBack = 64 * 1024, kMostBlocks = 1000;
  std::set<gint64> starts;
  for (gint64 block : blocks) {
    if (block <= 0 || starts.size() >= kMostBlocks) continue;
    const gint64 base = block > static_cast<gint64>(kBack) ? block - static_cast<gint64>(kBack) : 0;
    const std::string before = ReadRange(stream, base, static_cast<size_t>(block - base));
    const size_t start = PartHeaderStart(before, before.size());
    if (start != std::string::npos) starts.insert(base + static_cast<gint64>(start));
  }
  std::vector<size_t> at;
  for (gint64 start : starts) {
    // BodyWithoutBlankLine looks no further than kMaxHeaderBytes.
    const std::string header = ReadRange(stream, start, kMaxHeaderBytes + 1);
    FilePtr memory(OpenMemoryReader(header.data(), header.size(), nullptr, nullptr));
    if (!memory) continue;
    const long body = BodyWithoutBlankLine(memory.get(), true);
    if (body >= 0) at.push_back(static_cast<size_t>(start) + static_cast<size_t>(body));
  }
  std::sort(at.begin(), at.end());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  return at;
}

// A stream that reads source with a blank line at each offset of `at`
// (ascending), in the line ends the text has there.
GMimeStream *WithBlankLines(GMimeStream *source, const std::vector<size_t> &at) {
  GMimeStream *cat = g_mime_stream_cat_new();
  gint64 from = 0;
  auto add = [cat](GMimeStream *piece) {
    g_mime_stream_cat_add_source(GMIME_STREAM_CAT(cat), piece);
    g_object_unref(piece);
  };
  for (size_t offset : at) {
    const gint64 to = static_cast<gint64>(offset);
    const bool crlf = offset >= 2 && ReadRange(source, to - 2, 1) == "\r";
    add(g_mime_stream_substream(source, from, to));
    add(g_mime_stream_mem_new_with_buffer(crlf ? "\r\n" : "\n", crlf ? 2 : 1));
    from = to;
  }
  add(g_mime_stream_substream(source, from, -1));
  return cat;
}

}  // namespace

int MessageIdentity(const std::string &path, std::string *key, std::string *legacyKey, std::string *reason,
                    std::string *bytes) {
  FilePtr f = OpenFile(path.c_str(), "rb");
  if (!f) {
    *reason = "cannot open " + path;
    return -1;
  }
  if (bytes != nullptr) {
    bytes->clear();
    struct stat st;
    if (fstat(fileno(f.get()), &st) == 0 && st.st_size > 0 && st.st_size <= kReadOnceBytes) {
      if (!ReadAll(f.get(), bytes)) {
        *reason = "cannot read " + path;
        return -1;
      }
      FilePtr memory(OpenMemoryReader(bytes->data(), bytes->size(), nullptr, nullptr));
      if (memory) f = std::move(memory);
      else bytes->clear();
    }
    rewind(f.get());
  }
  const std::string id = ScanMessageId(f.get());
  *legacyKey = id.empty() ? "" : "mid:" + id;
  rewind(f.get());
  // OpenSSL's digest uses the processor's SHA instructions: several times
  // GLib's rate on a message of hundreds of megabytes. Same SHA-256. The
  // algorithm is fetched once: EVP_sha256() looks it up on every init.
  static EVP_MD *const kSha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> sum(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  bool failed = !sum || kSha256 == nullptr || EVP_DigestInit_ex(sum.get(), kSha256, nullptr) != 1;
  if (bytes != nullptr && !bytes->empty()) {
    failed = failed || EVP_DigestUpdate(sum.get(), bytes->data(), bytes->size()) != 1;
  } else {
    unsigned char buffer[65536];
    size_t n;
    while (!failed && (n = fread(buffer, 1, sizeof buffer, f.get())) > 0)
      failed = EVP_DigestUpdate(sum.get(), buffer, n) != 1;
    failed = failed || ferror(f.get()) != 0;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  failed = failed || EVP_DigestFinal_ex(sum.get(), digest, &length) != 1;
  if (failed) {
    *reason = "cannot read " + path;
    return -1;
  }
  static const char kHex[] = "0123456789abcdef";
  *key = "sha256:";
  for (unsigned int i = 0; i < length; ++i) {
    *key += kHex[digest[i] >> 4];
    *key += kHex[digest[i] & 15];
  }
  return 0;
}

int ImportanceFromHeaders(const std::string &importance, const std::string &xPriority) {
  if (EqualsNoCase(importance.c_str(), "high")) return 2;
  if (EqualsNoCase(importance.c_str(), "low")) return 0;
  if (EqualsNoCase(importance.c_str(), "normal")) return 1;
  if (!xPriority.empty()) {
    char digit = xPriority[0];
    if (digit == '1' || digit == '2') return 2;
    if (digit == '4' || digit == '5') return 0;
  }
  return 1;
}

int ConvertMessageFile(const std::string &path, bool seen, HostMessage *record, std::string *subject,
                       std::vector<std::string> *warnings, std::string *reason, const std::string *bytes) {
  InitGMimeOnce();
  com_ResetObject(record);
  subject->clear();
  char workDir[256];
  com_GetGlobal(kGlobalWorkDir, workDir);
  auto warn = [warnings](const std::string &line) {
    if (warnings != nullptr) warnings->push_back(line);
  };

  // A message of common size is read once, and the header check and GMime
  // both work on those bytes: reading the file three times (the check, then
  // GMime's own reads and seeks) cost a dozen system calls per message.
  std::string repaired;
  bool whole = false;
  long bodyStart = -1;
  if (bytes != nullptr && !bytes->empty()) {
    repaired = *bytes;
    FilePtr memory(OpenMemoryReader(repaired.data(), repaired.size(), nullptr, nullptr));
    whole = memory != nullptr;
    if (whole) bodyStart = BodyWithoutBlankLine(memory.get());
  }
  if (!whole) {
    FilePtr f = OpenFile(path.c_str(), "rb");
    struct stat st;
    if (!f || fstat(fileno(f.get()), &st) != 0) {
      *reason = "cannot open " + path;
      return -1;
    }
    if (st.st_size == 0) {
      *reason = "empty file";
      return -1;
    }
    if (st.st_size <= kReadOnceBytes) {
      whole = ReadAll(f.get(), &repaired);
      if (!whole) {
        *reason = "cannot read " + path;
        return -1;
      }
      FilePtr memory(OpenMemoryReader(repaired.data(), repaired.size(), nullptr, nullptr));
      if (memory) bodyStart = BodyWithoutBlankLine(memory.get());
      else whole = false;
    }
    if (!whole) {
      rewind(f.get());
      bodyStart = BodyWithoutBlankLine(f.get());
    }
  }
  // A header not ended by a blank line gets one where its fields end, so
  // that GMime reads the rest as the body instead of dropping it.
  std::vector<char> fileBuffer;  // outlives the stream that reads through it
  GPtr<GMimeStream> stream;
  auto headerWarning = [&warn](long line) {
    warn("the header is not ended by a blank line; the text from line " + std::to_string(line) +
         " on is kept as the body");
  };
  if (whole) {
    if (bodyStart > 0) {
      const bool crlf = bodyStart >= 2 && repaired[static_cast<size_t>(bodyStart) - 2] == '\r';
      repaired.insert(static_cast<size_t>(bodyStart), crlf ? "\r\n" : "\n");
      headerWarning(1 + static_cast<long>(std::count(repaired.begin(), repaired.begin() + bodyStart, '\n')));
    }
    stream.reset(g_mime_stream_mem_new_with_buffer(repaired.data(), repaired.size()));
  } else {
    // GMime reads a few kilobytes at a time and seeks before each read: a
    // large buffer makes those reads and seeks land in memory.
    FILE *file = fopen(path.c_str(), "rbe");
    if (file == nullptr) {
      *reason = "cannot open " + path + ": " + strerror(errno);
      return -1;
    }
    fileBuffer.resize(kFileBufferBytes);
    setvbuf(file, fileBuffer.data(), _IOFBF, fileBuffer.size());
    stream.reset(g_mime_stream_file_new(file));  // closes the file when it goes
    if (!stream) {
      fclose(file);
      *reason = "cannot open " + path;
      return -1;
    }
    if (bodyStart > 0) {
      const std::vector<size_t> at = {static_cast<size_t>(bodyStart)};
      headerWarning(LineNumbers(stream.get(), at)[0]);
      stream.reset(WithBlankLines(stream.get(), at));
    }
  }
  // The same for each MIME part whose header GMime found damaged.
  std::vector<gint64> damaged;
  GPtr<GMimeMessage> message = ParseMessage(stream.get(), &damaged);
  if (message && !damaged.empty()) {
    const std::vector<size_t> at = PartBodiesWithoutBlankLine(stream.get(), damaged);
    if (!at.empty()) {
      // Lines as the file has them: the header's blank line, when one was
      // added, comes before.
      for (long line : LineNumbers(stream.get(), at))
        warn("a MIME part has no blank line before its text; the text from line " +
             std::to_string(line - (bodyStart > 0 ? 1 : 0)) + " on is kept as the part's content");
      message.reset();
      stream.reset(WithBlankLines(stream.get(), at));
      damaged.clear();
      message = ParseMessage(stream.get(), &damaged);
    }
  }
  if (!message) {
    *reason = "not a mail message";
    return -1;
  }

  GMimeObject *header = GMIME_OBJECT(message.get());
  record->itemKind = kItemMail;
  record->unread = seen ? 0 : 1;
  CopyUtf8(record->subject, sizeof record->subject, HeaderText(header, "Subject").c_str());
  *subject = record->subject;
  FillSender(record, header);
  FillRecipients(record, header);
  int bcc = 0;
  for (int i = 0; i < record->recipCount; ++i) bcc += record->recips[i]->kind == kRecipBcc ? 1 : 0;
  if (bcc > 0)
    warn("Bcc recipients (" + std::to_string(bcc) + ") are not kept: GroupWise creates the mail without them");
  FillDate(record, message.get(), path);
  record->importance =
      ImportanceFromHeaders(HeaderValue(header, "Importance"), HeaderValue(header, "X-Priority"));

  GMimeObject *body = g_mime_message_get_mime_part(message.get());
  if (body != nullptr) {
    PartWriter writer(record, workDir);
    if (writer.Walk(body, reason) != 0) {
      DiscardParts(record);
      return -1;
    }
    if (!writer.unreadable().empty()) {
      std::string original;
      if (!ReadWholeFile(path, &original)) {
        *reason = "cannot read " + path;
        DiscardParts(record);
        return -1;
      }
      if (writer.AddOriginal(original, reason) != 0) {
        DiscardParts(record);
        return -1;
      }
      warn("the MIME structure cannot be read (" + writer.unreadable() +
           "); its text is kept as the body and the original message is attached");
    }
  }
  return 0;
}

}  // namespace maildir
