// Composing a received mail's original message from its record.
#include "gwsim/original_message.h"

#include <ctime>

#include "gwsim/base64.h"
#include "gwsim/item_filter.h"

namespace gwsim {
namespace {

const char kCrLf[] = "\r\n";

bool IsAscii(const std::string &text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// A header text, as an encoded word when it is not ASCII.
std::string HeaderText(const std::string &text) {
  if (IsAscii(text)) return text;
  std::string out = "=?utf-8?B?";
  AppendBase64(text.data(), text.size(), 0, &out);
  return out + "?=";
}

std::string AddressText(const std::string &name, const std::string &email) {
  if (name.empty() || name == email) return "<" + email + ">";
  if (!IsAscii(name)) return HeaderText(name) + " <" + email + ">";
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\" <" + email + ">";
}

// "Mon, 05 Jan 2026 09:00:05 +0000"; "" when the time cannot be read.
std::string MailDate(const std::string &dateTime) {
  long long seconds = 0;
  if (!ParseDateTime(dateTime, &seconds)) return "";
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (gmtime_r(&t, &tm) == nullptr) return "";
  char text[64];
  strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &tm);
  return text;
}

// Line ends made CR LF.
std::string WithCrLf(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// Base64 in lines of 76 with CR LF.
std::string Base64Lines(const std::string &data) {
  std::string encoded;
  AppendBase64(data.data(), data.size(), 76, &encoded);
  std::string out = WithCrLf(encoded);
  if (!out.empty()) out += kCrLf;
  return out;
}

// A text part: 7bit when it is ASCII with short lines, else base64.
std::string TextPart(const std::string &subtype, const std::string &text) {
  bool shortLines = true;
  size_t line = 0;
  for (char c : text) {
    line = c == '\n' ? 0 : line + 1;
    if (line > 998) shortLines = false;
  }
  std::string body = WithCrLf(text);
  if (!body.empty() && body.back() != '\n') body += kCrLf;
  const bool plain = IsAscii(text) && shortLines;
  return "Content-Type: text/" + subtype + "; charset=" + (IsAscii(text) ? "us-ascii" : "utf-8") + kCrLf +
         "Content-Transfer-Encoding: " + (plain ? "7bit" : "base64") + kCrLf + kCrLf +
         (plain ? body : Base64Lines(body));
}

std::string FilePart(const Attachment &a) {
  std::string data;
  ReadAttachmentBytes(a, 0, static_cast<size_t>(a.Size()), &data);
  std::string name = HeaderText(a.name);
  return "Content-Type: " + a.contentType + "; name=\"" + name + "\"" + kCrLf +
         "Content-Disposition: attachment; filename=\"" + name + "\"" + kCrLf +
         "Content-Transfer-Encoding: base64" + kCrLf + kCrLf + Base64Lines(data);
}

// A multipart of the given parts (each with its own headers).
std::string Multipart(const std::string &subtype, const std::string &boundary, const std::vector<std::string> &parts) {
  std::string out = "Content-Type: multipart/" + subtype + "; boundary=\"" + boundary + "\"" + kCrLf + kCrLf;
  for (const std::string &part : parts) out += "--" + boundary + kCrLf + part + kCrLf;
  return out + "--" + boundary + "--" + kCrLf;
}

}  // namespace

std::string ComposeOriginal(const Item &item, const std::string &extraHeaders) {
  std::string head = "From: " + AddressText(item.fromName, item.fromEmail) + kCrLf;
  std::string to, cc;
  for (const Recipient &r : item.recipients) {
    std::string *list = r.distType == "CC" ? &cc : r.distType == "TO" ? &to : nullptr;
    if (list == nullptr) continue;  // blind copies are not in the message
    *list += (list->empty() ? "" : ",\r\n ") + AddressText(r.displayName, r.email);
  }
  if (!to.empty()) head += "To: " + to + kCrLf;
  if (!cc.empty()) head += "Cc: " + cc + kCrLf;
  head += "Subject: " + HeaderText(item.subject) + kCrLf;
  const std::string date = MailDate(item.delivered.empty() ? item.created : item.delivered);
  if (!date.empty()) head += "Date: " + date + kCrLf;
  if (!item.msgId.empty()) head += "Message-ID: <" + item.msgId + ">" + kCrLf;
  head += WithCrLf(extraHeaders);
  head += std::string("MIME-Version: 1.0") + kCrLf;

  std::string text, html;
  bool hasText = false, hasHtml = false;
  std::vector<std::string> files;
  for (const BodyPart &b : item.bodies) {
    if (b.contentType == "text/plain" && !hasText) {
      text = b.data;
      hasText = true;
    }
  }
  for (const Attachment &a : item.attachments) {
    if (a.itemReference || a.name == "Mime.822") continue;
    if (a.hidden && a.name == "text.htm") {
      html = a.data;
      hasHtml = true;
      continue;
    }
    files.push_back(FilePart(a));
  }
  std::string body;
  if (hasText && hasHtml)
    body = Multipart("alternative", "=_alt_" + item.id, {TextPart("plain", text), TextPart("html", html)});
  else
    body = hasHtml ? TextPart("html", html) : TextPart("plain", text);
  if (files.empty()) return head + body;
  files.insert(files.begin(), body);
  return head + Multipart("mixed", "=_mixed_" + item.id, files);
}

Attachment OriginalAttachment(const Item &item, const std::string &extraHeaders) {
  Attachment original;
  original.name = "Mime.822";
  original.contentType = "message/rfc822";
  original.hidden = true;
  original.data = ComposeOriginal(item, extraHeaders);
  return original;
}

}  // namespace gwsim
