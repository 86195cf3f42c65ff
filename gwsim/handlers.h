// The simulator's answers: one handler per GroupWise request, each building
// its answer from the store, and the dispatch that checks the session first.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "gwsim/gwsim.h"
#include "gwsim/mailbox.h"
#include "gwsim/soap_xml.h"

namespace gwsim {

// GroupWise status codes the simulator answers with.
constexpr int kCodeOk = 0;
constexpr int kCodeBadPassword = 53273;   // 0xD019
constexpr int kCodeUnknownUser = 53505;   // 0xD101
// The simulator's answer to a proxy login by a user without rights to the
// target mailbox (any non-zero code other than the two above).
constexpr int kCodeProxyRefused = 53507;
constexpr int kCodeBadParameter = 59905;
constexpr int kCodeNotFound = 59906;
constexpr int kCodeInvalidSession = 59910;

// One logged-on session.
struct Session {
  std::string user;     // who authenticated (the proxy user for a proxy login)
  std::string mailbox;  // whose mailbox is open
};

// One open cursor: the ids it will hand out, taken when it was created.
struct Cursor {
  std::string session;
  std::string container;
  std::vector<std::string> itemIds;
  size_t position = 0;
};

// Everything the handlers work on; guarded by the mailbox's lock.
struct ServiceState {
  Mailbox *mailbox = nullptr;
  std::map<std::string, Session> sessions;
  std::map<int, Cursor> cursors;
  int nextCursor = 1;
  unsigned nextSession = 1;
  unsigned sessionSalt = 0;  // mixed into session ids
  AnswerOptions answers;
};

// What a handler hands back: the children of the response before its
// status, and the status.
struct Answer {
  std::string inner;
  int code = kCodeOk;
  std::string description;
};

// `session` is null only for loginRequest. `sessionId` is the id the
// request carried.
struct HandlerCall {
  ServiceState *state;
  const Session *session;
  const std::string *sessionId;
  pugi::xml_node request;  // the request element (m:loginRequest ...)
};

// Builds the whole answer envelope for one request into *answer and
// returns the HTTP status: 200 for every GroupWise answer (errors are
// status codes inside it, 59910 when the session is missing or unknown),
// 500 with a SOAP fault for a body that is not a SOAP request or names a
// request the simulator does not know. The caller holds the mailbox lock.
int AnswerSoapRequest(ServiceState *state, const SoapRequest &request, std::string *answer);

// The handlers (login_answers.cpp, list_answers.cpp, item_answers.cpp,
// mail_answers.cpp, create_answers.cpp).
void AnswerLogin(const HandlerCall &call, Answer *answer);
void AnswerLogout(const HandlerCall &call, Answer *answer);
void AnswerFolderList(const HandlerCall &call, Answer *answer);
void AnswerCategoryList(const HandlerCall &call, Answer *answer);
void AnswerAddressBookList(const HandlerCall &call, Answer *answer);
void AnswerGetItems(const HandlerCall &call, Answer *answer);
void AnswerGetItem(const HandlerCall &call, Answer *answer);
void AnswerGetAttachment(const HandlerCall &call, Answer *answer);
void AnswerCreateItem(const HandlerCall &call, Answer *answer);
void AnswerCreateCursor(const HandlerCall &call, Answer *answer);
void AnswerReadCursor(const HandlerCall &call, Answer *answer);
void AnswerDestroyCursor(const HandlerCall &call, Answer *answer);

// createItemRequest pieces (create_answers.cpp, appointment_create.cpp):
// the mail fields of a created item (false with the refusal in *answer),
// and the creation of an appointment with its occurrences.
bool ReadCreatedMail(pugi::xml_node request, Item *item, Answer *answer);
void CreateAppointmentItem(const HandlerCall &call, pugi::xml_node request, Answer *answer);

// One item as lists show it (id first, then its container), or in full
// (`full`) with its categories, mail content and further content. `element`
// is "gwt:item" inside lists, "gwm:item" as the direct child of a response.
// Cannot fail.
void AppendItem(Mailbox *mailbox, const AnswerOptions &options, const Item &item, bool full,
                const char *element, std::string *out);

// The mail content of a full item (mail_answers.cpp): AppendBoxEntry adds
// what comes between gwt:created and gwt:subject (status, msgId, source,
// delivered), AppendMailContent what follows gwt:subject (distribution,
// message, attachments, options, threading). Cannot fail.
void AppendBoxEntry(const Item &item, std::string *out);
void AppendMailContent(Mailbox *mailbox, const Item &item, const AnswerOptions &options,
                       std::string *out);

// Shared by the handlers: whether `container` is a folder of the open
// mailbox or an address book it sees. Sets answer's code and description
// (59905 for an empty id, 59906 for an unknown one) and returns false when
// it is not.
bool CheckContainer(const HandlerCall &call, const std::string &container, Answer *answer);

}  // namespace gwsim
