// The simulator's dispatch: finds the handler of a request by its name,
// refuses requests without a valid session, and wraps the handler's answer.
#include "gwsim/handlers.h"

#include <cstring>

#include "gwsim/rule_answers.h"

namespace gwsim {
namespace {

using Handler = void (*)(const HandlerCall &call, Answer *answer);

struct HandlerEntry {
  const char *requestName;
  Handler handler;
  bool needsSession;
};

const HandlerEntry kHandlers[] = {
    {"loginRequest", AnswerLogin, false},
    {"logoutRequest", AnswerLogout, true},
    {"getFolderListRequest", AnswerFolderList, true},
    {"getCategoryListRequest", AnswerCategoryList, true},
    {"getAddressBookListRequest", AnswerAddressBookList, true},
    {"getItemsRequest", AnswerGetItems, true},
    {"getItemRequest", AnswerGetItem, true},
    {"getAttachmentRequest", AnswerGetAttachment, true},
    {"createItemRequest", AnswerCreateItem, true},
    {"createCursorRequest", AnswerCreateCursor, true},
    {"readCursorRequest", AnswerReadCursor, true},
    {"destroyCursorRequest", AnswerDestroyCursor, true},
    {"getRuleListRequest", AnswerRuleList, true},
};

const HandlerEntry *FindHandler(const std::string &name) {
  for (const HandlerEntry &entry : kHandlers) {
    if (name == entry.requestName) return &entry;
  }
  return nullptr;
}

}  // namespace

bool CheckContainer(const HandlerCall &call, const std::string &container, Answer *answer) {
  if (container.empty()) {
    answer->code = kCodeBadParameter;
    answer->description = "The container is missing";
    return false;
  }
  Mailbox *mailbox = call.state->mailbox;
  const Folder *folder = mailbox->FindFolder(container);
  if (folder != nullptr && folder->owner == call.session->mailbox) return true;
  const AddressBook *book = mailbox->FindAddressBook(container);
  if (book != nullptr && (book->owner.empty() || book->owner == call.session->mailbox)) {
    return true;
  }
  answer->code = kCodeNotFound;
  answer->description = "The container was not found";
  return false;
}

int AnswerSoapRequest(ServiceState *state, const SoapRequest &request, std::string *answer) {
  if (!request.wellFormed || request.name.empty()) {
    *answer = FaultEnvelope("SOAP-ENV:Client", "The request is not a SOAP envelope with a body");
    return 500;
  }
  const HandlerEntry *entry = FindHandler(request.name);
  if (entry == nullptr) {
    *answer = FaultEnvelope("SOAP-ENV:Client", "Unknown request " + request.name);
    return 500;
  }
  const std::string responseName = ResponseNameFor(request.name);
  const Session *session = nullptr;
  if (entry->needsSession) {
    auto found = state->sessions.find(request.session);
    if (request.session.empty() || found == state->sessions.end()) {
      *answer = ResponseEnvelope(responseName, "", kCodeInvalidSession, "Invalid session");
      return 200;
    }
    session = &found->second;
  }
  HandlerCall call{state, session, &request.session, request.element};
  Answer result;
  entry->handler(call, &result);
  *answer = ResponseEnvelope(responseName, result.inner, result.code, result.description);
  return 200;
}

}  // namespace gwsim
