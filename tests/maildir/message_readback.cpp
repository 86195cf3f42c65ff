// Reading an exported message file back with GMime.
#include "maildir/message_readback.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <algorithm>

namespace readback {
namespace {

std::vector<Address> Addresses(InternetAddressList *list) {
  std::vector<Address> out;
  if (list == nullptr) return out;
  for (int i = 0; i < internet_address_list_length(list); ++i) {
    InternetAddress *a = internet_address_list_get_address(list, i);
    Address entry;
    const char *name = internet_address_get_name(a);
    entry.name = name != nullptr ? name : "";
    if (INTERNET_ADDRESS_IS_MAILBOX(a)) {
      const char *addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
      entry.address = addr != nullptr ? addr : "";
    }
    out.push_back(entry);
  }
  return out;
}

std::string Header(GMimeObject *object, const char *name) {
  const char *value = g_mime_object_get_header(object, name);
  return value != nullptr ? value : "";
}

std::string TypeOf(GMimeObject *object) {
  GMimeContentType *type = g_mime_object_get_content_type(object);
  return std::string(g_mime_content_type_get_media_type(type)) + "/" +
         g_mime_content_type_get_media_subtype(type);
}

void Walk(GMimeObject *object, Message *message, std::string *structure) {
  *structure += TypeOf(object);
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart *multipart = GMIME_MULTIPART(object);
    *structure += "(";
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
      if (i > 0) *structure += ",";
      Walk(g_mime_multipart_get_part(multipart, i), message, structure);
    }
    *structure += ")";
    return;
  }
  if (GMIME_IS_MESSAGE_PART(object)) {
    // An attached message: its text as GMime writes it back, and how it was encoded.
    Leaf leaf;
    leaf.type = TypeOf(object);
    const char *filename = g_mime_object_get_content_disposition_parameter(object, "filename");
    leaf.filename = filename != nullptr ? filename : "";
    const char *disposition = g_mime_object_get_disposition(object);
    leaf.disposition = disposition != nullptr ? disposition : "";
    leaf.encoding = Header(object, "Content-Transfer-Encoding");
    GMimeMessage *inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    if (inner != nullptr) {
      GMimeStream *memory = g_mime_stream_mem_new();
      g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, memory);
      GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
      leaf.bytes.assign(reinterpret_cast<const char *>(bytes->data), bytes->len);
      g_object_unref(memory);
    }
    message->leaves.push_back(leaf);
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  Leaf leaf;
  leaf.encoding = Header(object, "Content-Transfer-Encoding");
  leaf.type = TypeOf(object);
  const char *charset = g_mime_object_get_content_type_parameter(object, "charset");
  leaf.charset = charset != nullptr ? charset : "";
  const char *filename = g_mime_part_get_filename(GMIME_PART(object));
  leaf.filename = filename != nullptr ? filename : "";
  const char *disposition = g_mime_object_get_disposition(object);
  leaf.disposition = disposition != nullptr ? disposition : "";
  GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(object));
  if (content != nullptr) {
    GMimeStream *memory = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, memory);
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
    leaf.bytes.assign(reinterpret_cast<const char *>(bytes->data), bytes->len);
    g_object_unref(memory);
  }
  message->leaves.push_back(leaf);
}

}  // namespace

Message ReadMessageFile(const std::string &path) {
  static bool initialised = false;
  if (!initialised) {
    g_mime_init();
    initialised = true;
  }
  Message out;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  GMimeStream *stream = g_mime_stream_fs_new(fd);
  GMimeParser *parser = g_mime_parser_new_with_stream(stream);
  g_object_unref(stream);
  GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  if (message == nullptr) return out;
  GMimeObject *object = GMIME_OBJECT(message);
  out.parsed = true;
  out.from = Addresses(g_mime_message_get_from(message));
  out.to = Addresses(g_mime_message_get_to(message));
  out.cc = Addresses(g_mime_message_get_cc(message));
  out.bcc = Addresses(g_mime_message_get_bcc(message));
  const char *subject = g_mime_message_get_subject(message);
  out.subject = subject != nullptr ? subject : "";
  GMimeHeader *raw = g_mime_header_list_get_header(g_mime_object_get_header_list(object), "Subject");
  if (raw != nullptr && g_mime_header_get_raw_value(raw) != nullptr) out.rawSubject = g_mime_header_get_raw_value(raw);
  GDateTime *date = g_mime_message_get_date(message);
  if (date != nullptr) out.date = g_date_time_to_unix(date);
  const char *id = g_mime_message_get_message_id(message);
  out.messageId = id != nullptr ? id : "";
  out.importance = Header(object, "Importance");
  out.xPriority = Header(object, "X-Priority");
  out.keywords = Header(object, "Keywords");
  out.groupwiseId = Header(object, "X-GroupWise-Id");
  GMimeObject *body = g_mime_message_get_mime_part(message);
  if (body != nullptr) Walk(body, &out, &out.structure);
  g_object_unref(message);
  return out;
}

std::string AddressList(const std::vector<Address> &list) {
  std::string out;
  for (const Address &a : list) out += a.name + " <" + a.address + ">;";
  return out;
}

std::vector<std::string> ListDirectory(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace readback
