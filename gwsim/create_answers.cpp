// The simulator's createItemRequest: new folders and new mail items, stored
// in the same form as the fixture gives them, so that every later answer
// shows them as it shows received items.
#include <string>

#include "gwsim/base64.h"
#include "gwsim/handlers.h"
#include "gwsim/item_filter.h"
#include "gwsim/task_answers.h"

namespace gwsim {
namespace {

void Refuse(Answer *answer, int code, const std::string &description) {
  answer->code = code;
  answer->description = description;
}

// "1" and "true" are true (xs:boolean).
bool IsTrue(const std::string &text) { return text == "1" || text == "true"; }

Recipient ReadAddress(pugi::xml_node node) {
  Recipient address;
  address.displayName = ChildText(node, "displayName");
  address.email = ChildText(node, "email");
  std::string distType = ChildText(node, "distType");
  if (!distType.empty()) address.distType = distType;
  return address;
}

// The message parts: text/plain and text/rtf become bodies, text/html the
// hidden text.htm attachment (as the server keeps an HTML body). False
// (59905 in *answer) for data that is not base64.
bool ReadMessage(pugi::xml_node message, Item *item, Answer *answer) {
  for (pugi::xml_node part = Child(message, "part"); part; part = part.next_sibling()) {
    if (part.type() != pugi::node_element || std::string(LocalName(part.name())) != "part") {
      continue;
    }
    std::string data;
    if (!DecodeBase64(part.text().get(), &data)) {
      Refuse(answer, kCodeBadParameter, "The message part is not base64");
      return false;
    }
    std::string contentType = AttributeValue(part, "contentType");
    if (contentType.empty()) contentType = "text/plain";
    if (contentType == "text/html") {
      Attachment html;
      html.name = "text.htm";
      html.contentType = contentType;
      html.hidden = true;
      html.data = data;
      item->attachments.insert(item->attachments.begin(), html);
      continue;
    }
    BodyPart body;
    body.contentType = contentType;
    body.data = data;
    item->bodies.push_back(body);
  }
  return true;
}

bool ReadAttachments(pugi::xml_node list, Item *item, Answer *answer) {
  for (pugi::xml_node node = list.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_element ||
        std::string(LocalName(node.name())) != "attachment") {
      continue;
    }
    Attachment attachment;
    attachment.name = ChildText(node, "name");
    attachment.contentType = ChildText(node, "contentType");
    if (attachment.contentType.empty()) attachment.contentType = "application/octet-stream";
    attachment.hidden = IsTrue(ChildText(node, "hidden"));
    if (!DecodeBase64(Child(node, "data").text().get(), &attachment.data)) {
      Refuse(answer, kCodeBadParameter, "The data of attachment " + attachment.name +
                                            " is not base64");
      return false;
    }
    item->attachments.push_back(attachment);
  }
  return true;
}

// Fills *item from the request's mail; false with the code in *answer.
bool ReadMail(pugi::xml_node request, Item *item, Answer *answer) {
  item->kind = "Mail";
  item->subject = ChildText(request, "subject");
  item->delivered = ChildText(request, "delivered");
  item->created = ChildText(request, "created");
  item->source = ChildText(request, "source");
  item->msgId = ChildText(request, "msgId");
  for (const std::string *date : {&item->delivered, &item->created}) {
    long long seconds = 0;
    if (!date->empty() && !ParseDateTime(date->c_str(), &seconds)) {
      Refuse(answer, kCodeBadParameter, "Unreadable date " + *date);
      return false;
    }
  }
  if (item->created.empty()) item->created = item->delivered;
  item->read = IsTrue(ChildText(Child(request, "status"), "read"));
  item->priority = ChildText(Child(request, "options"), "priority");
  pugi::xml_node distribution = Child(request, "distribution");
  Recipient from = ReadAddress(Child(distribution, "from"));
  item->fromName = from.displayName;
  item->fromEmail = from.email;
  pugi::xml_node recipients = Child(distribution, "recipients");
  for (pugi::xml_node r = recipients.first_child(); r; r = r.next_sibling()) {
    if (r.type() == pugi::node_element && std::string(LocalName(r.name())) == "recipient") {
      item->recipients.push_back(ReadAddress(r));
    }
  }
  return ReadMessage(Child(request, "message"), item, answer) &&
         ReadAttachments(Child(request, "attachments"), item, answer);
}

void CreateFolder(const HandlerCall &call, pugi::xml_node request, Answer *answer) {
  const std::string parent = ChildText(request, "parent");
  const std::string name = ChildText(request, "name");
  if (parent.empty() || name.empty()) {
    Refuse(answer, kCodeBadParameter, parent.empty() ? "The parent is missing"
                                                     : "The name is missing");
    return;
  }
  const Folder *parentFolder = call.state->mailbox->FindFolder(parent);
  if (parentFolder == nullptr || parentFolder->owner != call.session->mailbox) {
    Refuse(answer, kCodeNotFound, "The parent folder was not found");
    return;
  }
  Folder folder;
  folder.parentId = parent;
  folder.owner = call.session->mailbox;
  folder.name = name;
  AppendElement(&answer->inner, "gwm:id", call.state->mailbox->AddFolder(folder));
}

void CreateMail(const HandlerCall &call, pugi::xml_node request, Answer *answer) {
  Item item;
  item.container = ChildText(request, "container");
  if (!CheckContainer(call, item.container, answer)) return;
  if (!ReadMail(request, &item, answer)) return;
  const std::string id = call.state->mailbox->AddItem(item);
  // The server gives every mail it creates a message id of its own when the
  // request brings none, as it does for mail it receives.
  Item *added = call.state->mailbox->FindItem(id);
  if (added != nullptr && added->msgId.empty()) added->msgId = id.substr(0, id.find('.')) + ".domain1.po1.100.1.1.1@example.com";
  AppendElement(&answer->inner, "gwm:id", id);
}

}  // namespace

bool ReadCreatedMail(pugi::xml_node request, Item *item, Answer *answer) {
  return ReadMail(request, item, answer);
}

void AnswerCreateItem(const HandlerCall &call, Answer *answer) {
  pugi::xml_node item = Child(call.request, "item");
  if (!item) {
    Refuse(answer, kCodeBadParameter, "The item is missing");
    return;
  }
  const std::string type = LocalName(AttributeValue(item, "type").c_str());
  if (type == "Folder") {
    CreateFolder(call, item, answer);
  } else if (type == "Mail") {
    CreateMail(call, item, answer);
  } else if (type == "Task") {
    CreateTaskItem(call, item, answer);
  } else if (type == "Appointment") {
    CreateAppointmentItem(call, item, answer);
  } else if (type == "Contact" || type == "Group") {
    AnswerCreateContact(call, item, answer);
  } else {
    Refuse(answer, kCodeBadParameter, "The simulator does not create items of type \"" + type +
                                          "\"");
  }
}

}  // namespace gwsim
