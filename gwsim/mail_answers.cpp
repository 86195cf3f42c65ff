// The simulator's mail content and attachment data: the mail elements of a
// full item in getItemResponse, and getAttachmentRequest.
#include <algorithm>
#include <string>

#include "gwsim/base64.h"
#include "gwsim/handlers.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

// The most bytes one getAttachmentResponse carries whatever was asked for
// (a length of -1 on a 200 MB attachment gets this much and the client
// asks again), so that one answer never needs more than about 45 MB.
const size_t kMaxPieceBytes = 32u * 1024 * 1024;

void AppendAttribute(std::string *out, const char *name, const std::string &value) {
  out->push_back(' ');
  out->append(name);
  out->append("=\"");
  AppendEscaped(out, value);
  out->push_back('"');
}

void AppendRecipient(const Recipient &recipient, std::string *out) {
  out->append("<gwt:recipient>");
  if (!recipient.displayName.empty()) {
    AppendElement(out, "gwt:displayName", recipient.displayName);
  }
  if (!recipient.email.empty()) AppendElement(out, "gwt:email", recipient.email);
  AppendElement(out, "gwt:distType", recipient.distType);
  if (!recipient.reply.empty()) {
    out->append("<gwt:recipientStatus>");
    AppendElement(out, ("gwt:" + recipient.reply).c_str(), recipient.replyDate);
    out->append("</gwt:recipientStatus>");
  }
  out->append("</gwt:recipient>");
}

// "Carol Clark; Dan Dorsey": the names (else addresses) of one kind.
std::string NamesOf(const Item &item, const char *distType) {
  std::string names;
  for (const Recipient &r : item.recipients) {
    if (r.distType != distType) continue;
    if (!names.empty()) names += "; ";
    names += r.displayName.empty() ? r.email : r.displayName;
  }
  return names;
}

void AppendDistribution(const Item &item, std::string *out) {
  if (item.fromName.empty() && item.fromEmail.empty() && item.recipients.empty()) return;
  out->append("<gwt:distribution>");
  if (!item.fromName.empty() || !item.fromEmail.empty()) {
    out->append("<gwt:from>");
    if (!item.fromName.empty()) AppendElement(out, "gwt:displayName", item.fromName);
    if (!item.fromEmail.empty()) AppendElement(out, "gwt:email", item.fromEmail);
    out->append("</gwt:from>");
  }
  const char *const kinds[][2] = {{"TO", "gwt:to"}, {"CC", "gwt:cc"}, {"BC", "gwt:bc"}};
  for (const auto &kind : kinds) {
    std::string names = NamesOf(item, kind[0]);
    if (!names.empty()) AppendElement(out, kind[1], names);
  }
  if (!item.recipients.empty()) {
    out->append("<gwt:recipients>");
    for (const Recipient &r : item.recipients) AppendRecipient(r, out);
    out->append("</gwt:recipients>");
  }
  out->append("</gwt:distribution>");
}

// Bodies up to kInlineBodyLimit bytes come inline; longer ones as an empty
// part with the id under which getAttachmentRequest serves them.
void AppendMessage(const Item &item, const AnswerOptions &options, std::string *out) {
  if (item.bodies.empty()) return;
  out->append("<gwt:message>");
  for (const BodyPart &body : item.bodies) {
    out->append("<gwt:part");
    const bool byId = body.data.size() > kInlineBodyLimit;
    if (byId && options.bodyIdFirst) AppendAttribute(out, "id", body.id);
    AppendAttribute(out, "contentType", body.contentType);
    if (!byId || !options.noBodyLength)
      AppendAttribute(out, "length", std::to_string(body.data.size()));
    if (byId) {
      if (!options.bodyIdFirst) AppendAttribute(out, "id", body.id);
      out->append(options.bodyIdEndTag ? "></gwt:part>" : "/>");
      continue;
    }
    out->push_back('>');
    AppendBase64(body.data.data(), body.data.size(), options.base64LineLength, out);
    out->append("</gwt:part>");
  }
  out->append("</gwt:message>");
}

// The size shown for an attached item: the bytes of its bodies.
int64_t ReferencedSize(Mailbox *mailbox, const Attachment &attachment) {
  const Item *target = mailbox->FindItem(attachment.id);
  int64_t size = 0;
  if (target != nullptr) {
    for (const BodyPart &body : target->bodies) size += static_cast<int64_t>(body.data.size());
  }
  return size;
}

void AppendAttachments(Mailbox *mailbox, const Item &item, const AnswerOptions &options,
                       std::string *out) {
  if (item.attachments.empty()) return;
  out->append("<gwt:attachments>");
  for (const Attachment &a : item.attachments) {
    out->append("<gwt:attachment>");
    if (a.itemReference) {
      out->append("<gwt:id itemReference=\"1\">");
      AppendEscaped(out, a.id);
      out->append("</gwt:id>");
    } else {
      AppendElement(out, "gwt:id", a.id);
    }
    AppendElement(out, "gwt:name", a.name);
    if (!a.contentType.empty()) AppendElement(out, "gwt:contentType", a.contentType);
    const int64_t size = a.itemReference ? ReferencedSize(mailbox, a) : a.Size();
    if (options.shownSizeCut >= 0)
      AppendElement(out, "gwt:size",
                    std::to_string(std::max<int64_t>(0, size - options.shownSizeCut)));
    if (a.hidden) AppendElement(out, "gwt:hidden", "1");
    out->append("</gwt:attachment>");
  }
  out->append("</gwt:attachments>");
}

bool HasVisibleAttachment(const Item &item) {
  for (const Attachment &a : item.attachments) {
    if (!a.hidden) return true;
  }
  return false;
}

// Reads <offset> and <length>; false (59905 in *answer) when unusable. An
// absent or negative length reads to the end.
bool ReadRange(pugi::xml_node request, int64_t *offset, int64_t *length, Answer *answer) {
  const std::string offsetText = ChildText(request, "offset");
  const std::string lengthText = ChildText(request, "length");
  char *end = nullptr;
  *offset = offsetText.empty() ? 0 : strtoll(offsetText.c_str(), &end, 10);
  bool ok = offsetText.empty() || (*end == '\0' && *offset >= 0);
  *length = lengthText.empty() ? -1 : strtoll(lengthText.c_str(), &end, 10);
  ok = ok && (lengthText.empty() || *end == '\0');
  if (ok) return true;
  answer->code = kCodeBadParameter;
  answer->description = "Bad offset or length";
  return false;
}

// A piece of `total` bytes read from `data` (or the attachment) as
// <gwm:part length=".." offset="..">.
void AppendPiece(const Attachment &attachment, int64_t total, int64_t offset, int64_t length,
                 const AnswerOptions &options, std::string *out) {
  size_t wanted = kMaxPieceBytes;
  if (length >= 0) wanted = static_cast<size_t>(std::min<int64_t>(length, kMaxPieceBytes));
  if (options.pieceCap > 0) wanted = std::min(wanted, options.pieceCap);
  if (options.ignoreOffset) offset = 0;
  std::string bytes;
  ReadAttachmentBytes(attachment, offset, wanted, &bytes);
  if (bytes.empty() && offset >= total && options.noPartPastEnd) return;
  out->append("<gwm:part");
  AppendAttribute(out, "length", std::to_string(bytes.size()));
  AppendAttribute(out, "offset", std::to_string(offset));
  if (bytes.empty()) {
    out->append("/>");
    return;
  }
  out->push_back('>');
  AppendBase64(bytes.data(), bytes.size(), options.base64LineLength, out);
  out->append("</gwm:part>");
}

// True when an attachment of some item refers to the item `id`.
bool IsAttachedItem(const Mailbox &mailbox, const std::string &id) {
  for (const Item &holder : mailbox.items) {
    for (const Attachment &a : holder.attachments) {
      if (a.itemReference && a.id == id) return true;
    }
  }
  return false;
}

}  // namespace

void AppendBoxEntry(const Item &item, std::string *out) {
  if (item.read || item.appointment.isPrivate) {
    out->append("<gwt:status>");
    if (item.appointment.isPrivate) out->append("<gwt:private>1</gwt:private>");
    if (item.read) out->append("<gwt:read>1</gwt:read>");
    out->append("</gwt:status>");
  }
  if (!item.msgId.empty()) AppendElement(out, "gwt:msgId", item.msgId);
  if (!item.source.empty()) AppendElement(out, "gwt:source", item.source);
  if (!item.delivered.empty()) AppendElement(out, "gwt:delivered", item.delivered);
}

void AppendMailContent(Mailbox *mailbox, const Item &item, const AnswerOptions &options,
                       std::string *out) {
  AppendDistribution(item, out);
  AppendMessage(item, options, out);
  AppendAttachments(mailbox, item, options, out);
  if (!item.priority.empty()) {
    out->append("<gwt:options>");
    AppendElement(out, "gwt:priority", item.priority);
    out->append("</gwt:options>");
  }
  if (HasVisibleAttachment(item)) AppendElement(out, "gwt:hasAttachment", "1");
  if (!item.threadId.empty() || !item.threadParent.empty()) {
    out->append("<gwt:threading>");
    if (!item.threadId.empty()) AppendElement(out, "gwt:id", item.threadId);
    if (!item.threadParent.empty()) AppendElement(out, "gwt:parent", item.threadParent);
    out->append("</gwt:threading>");
  }
  if (!item.viewName.empty()) AppendElement(out, "gwt:viewName", item.viewName);
}

void AnswerGetAttachment(const HandlerCall &call, Answer *answer) {
  const std::string id = ChildText(call.request, "id");
  if (id.empty()) {
    answer->code = kCodeBadParameter;
    answer->description = "The attachment id is missing";
    return;
  }
  int64_t offset = 0;
  int64_t length = -1;
  if (!ReadRange(call.request, &offset, &length, answer)) return;
  Mailbox *mailbox = call.state->mailbox;
  const Attachment *attachment = nullptr;
  const BodyPart *body = nullptr;
  const Item *holder = mailbox->FindAttachment(id, &attachment, &body);
  Answer containerCheck;
  if (holder != nullptr && CheckContainer(call, holder->container, &containerCheck)) {
    if (body != nullptr) {  // a long body: served as an attachment of its bytes
      Attachment bodyData;
      bodyData.data = body->data;
      AppendPiece(bodyData, bodyData.Size(), offset, length, call.state->answers, &answer->inner);
    } else {
      AppendPiece(*attachment, attachment->Size(), offset, length, call.state->answers,
                  &answer->inner);
    }
    return;
  }
  // An attached item (a task...) has no data: no part, and the item itself
  // so that its subject and dates can be shown.
  const Item *referenced = mailbox->FindItem(id);
  if (referenced != nullptr && IsAttachedItem(*mailbox, id) &&
      CheckContainer(call, referenced->container, &containerCheck)) {
    AppendItem(mailbox, call.state->answers, *referenced, true, "gwm:item", &answer->inner);
    return;
  }
  answer->code = kCodeNotFound;
  answer->description = "The attachment was not found";
}

}  // namespace gwsim
