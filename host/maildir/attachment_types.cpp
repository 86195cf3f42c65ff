// Guessing an exported attachment's MIME type from its content and name.
#include "host/maildir/attachment_types.h"

#include <gio/gio.h>

#include <cstring>
#include <vector>

#include "platform/bounded_text.h"

namespace maildir {
namespace {

const char kOctetStream[] = "application/octet-stream";

// Whether a name has an extension (a dot that is neither first nor last).
bool HasExtension(const std::string &name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > 0 && dot + 1 < name.size() && name.find('/', dot) == std::string::npos;
}

// The text with blank lines and blanks around it taken away.
std::string Trimmed(const std::string &text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

// Armoured PGP blocks by their first line.
struct ArmourType {
  const char *firstLine, *type;
};
const ArmourType kArmour[] = {
    {"-----BEGIN PGP SIGNATURE-----", "application/pgp-signature"},
    {"-----BEGIN PGP PUBLIC KEY BLOCK-----", "application/pgp-keys"},
};

// DER: SEQUENCE { OID signedData (1.2.840.113549.1.7.2), ... } with a
// definite or indefinite length.
bool IsDerSignedData(const std::string &head) {
  static const unsigned char kSignedData[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
  if (head.size() < 2 + sizeof kSignedData || static_cast<unsigned char>(head[0]) != 0x30) return false;
  unsigned char length = static_cast<unsigned char>(head[1]);
  size_t at = length == 0x80 || length < 0x80 ? 2 : length >= 0x81 && length <= 0x84 ? 2 + (length & 0x7F) : 0;
  return at != 0 && head.size() >= at + sizeof kSignedData &&
         memcmp(head.data() + at, kSignedData, sizeof kSignedData) == 0;
}

// The header block at the start of text as field names (lower case); false
// when a line before the first blank one is neither a field nor a folded
// continuation. *rest gets what follows the blank line ("" without one).
bool ReadHeaderNames(const std::string &text, std::vector<std::string> *names, std::string *rest) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    if (line.empty()) {
      *rest = at < text.size() ? text.substr(at) : "";
      return !names->empty();
    }
    if (line[0] == ' ' || line[0] == '\t') {
      if (names->empty()) return false;
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      if (c <= 0x20 || c >= 0x7F) return false;
    }
    std::string name = line.substr(0, colon);
    for (char &c : name) c = static_cast<char>(g_ascii_tolower(c));
    names->push_back(name);
  }
  rest->clear();
  return !names->empty();
}

bool Has(const std::vector<std::string> &names, const char *name) {
  for (const std::string &n : names)
    if (n == name) return true;
  return false;
}

// A delivery-status body: per-message fields, a blank line, per-recipient
// fields.
bool IsDeliveryStatus(const std::vector<std::string> &names, const std::string &rest) {
  std::vector<std::string> recipient;
  std::string after;
  if (!Has(names, "reporting-mta") && !Has(names, "original-envelope-id")) return false;
  return ReadHeaderNames(Trimmed(rest) + "\n", &recipient, &after) &&
         (Has(recipient, "final-recipient") || Has(recipient, "original-recipient")) && Has(recipient, "action") &&
         Has(recipient, "status");
}

// Fields only a mail's own header has; a summary of a mail ("Subject:",
// "From:", "Date:") has none of them.
bool HasMailOnlyField(const std::vector<std::string> &names) {
  for (const char *name : {"received", "message-id", "mime-version", "return-path", "content-type"})
    if (Has(names, name)) return true;
  return false;
}

}  // namespace

std::string MailPartType(const std::string &head, bool whole) {
  if (IsDerSignedData(head)) return "application/pkcs7-signature";
  const std::string text = Trimmed(head);
  for (const ArmourType &a : kArmour)
    if (text.compare(0, strlen(a.firstLine), a.firstLine) == 0) return a.type;
  if (whole && text == "Version: 1") return "application/pgp-encrypted";
  if (StartsWithNoCase(text.c_str(), "<!doctype html") || StartsWithNoCase(text.c_str(), "<html")) return "text/html";
  std::vector<std::string> names;
  std::string rest;
  if (!ReadHeaderNames(head, &names, &rest)) return "";
  if (IsDeliveryStatus(names, rest)) return "message/delivery-status";
  if (!HasMailOnlyField(names) || !(Has(names, "from") || Has(names, "received"))) return "";
  if (whole && Trimmed(rest).empty()) return "text/rfc822-headers";
  return "message/rfc822";
}

std::string GuessContentType(const std::string &name) {
  static const struct {
    const char *extension, *type;
  } kTypes[] = {
      {"txt", "text/plain"}, {"log", "text/plain"}, {"csv", "text/csv"},
      {"htm", "text/html"}, {"html", "text/html"}, {"xml", "application/xml"},
      {"ics", "text/calendar"}, {"vcf", "text/vcard"}, {"rtf", "application/rtf"},
      {"pdf", "application/pdf"}, {"zip", "application/zip"}, {"gz", "application/gzip"},
      {"json", "application/json"}, {"eml", "message/rfc822"},
      {"doc", "application/msword"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"xls", "application/vnd.ms-excel"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"odt", "application/vnd.oasis.opendocument.text"},
      {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
      {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"gif", "image/gif"},
      {"bmp", "image/bmp"}, {"tif", "image/tiff"}, {"tiff", "image/tiff"}, {"svg", "image/svg+xml"},
      {"mp3", "audio/mpeg"}, {"wav", "audio/wav"}, {"mp4", "video/mp4"},
  };
  if (!HasExtension(name)) return kOctetStream;
  std::string extension = name.substr(name.rfind('.') + 1);
  for (const auto &t : kTypes)
    if (EqualsNoCase(extension.c_str(), t.extension)) return t.type;
  // The system's shared MIME database, by name alone.
  gboolean uncertain = TRUE;
  gchar *guess = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
  gchar *mime = guess != nullptr ? g_content_type_get_mime_type(guess) : nullptr;
  std::string type = mime != nullptr && !uncertain ? mime : kOctetStream;
  g_free(mime);
  g_free(guess);
  return type;
}

std::string GuessAttachmentType(const std::string &name, const std::string &head, bool whole) {
  std::string type = MailPartType(head, whole);
  const std::string byName = GuessContentType(name);
  // A mail with an empty body looks like a header block: an ".eml" name
  // says which it is.
  if (type == "text/rfc822-headers" && byName == "message/rfc822") return byName;
  if (!type.empty()) return type;
  type = byName;
  if (type != kOctetStream || head.empty()) return type;
  // By content where the name says nothing: magic numbers of the shared
  // MIME database (images, archives, documents), only when it is sure. Its
  // text rules take any "Subject:" line for a mail: text is left to the
  // caller.
  gboolean uncertain = TRUE;
  gchar *guess = g_content_type_guess(nullptr, reinterpret_cast<const guchar *>(head.data()), head.size(), &uncertain);
  gchar *mime = guess != nullptr ? g_content_type_get_mime_type(guess) : nullptr;
  if (mime != nullptr && !uncertain && strncmp(mime, "text/", 5) != 0 && strncmp(mime, "message/", 8) != 0)
    type = mime;
  g_free(mime);
  g_free(guess);
  return type;
}

}  // namespace maildir
