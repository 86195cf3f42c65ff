// The simulator's loginRequest (plain, proxy and trusted-application
// logins) and logoutRequest.
#include <cstdio>
#include <ctime>
#include <string>

#include "gwsim/handlers.h"
#include "platform/bounded_text.h"

namespace gwsim {
namespace {

const char kGwVersion[] = "8.0.2";
const char kGwBuild[] = "98038";

void Refuse(Answer *answer, int code, const char *description) {
  answer->code = code;
  answer->description = description;
}

std::string NowDateTime() {
  time_t now = time(nullptr);
  struct tm parts;
  gmtime_r(&now, &parts);
  char text[64];
  strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string NewSessionId(ServiceState *state) {
  char id[64];
  unsigned n = state->nextSession++;
  FormatText(id, sizeof(id), "%08X%04X%04X", state->sessionSalt, n & 0xFFFFu,
             (n * 40503u) & 0xFFFFu);
  return id;
}

// Authenticates a user by password; null (and the refusal in *answer) when
// the user is unknown or the password wrong.
User *Authenticate(Mailbox *mailbox, pugi::xml_node auth, Answer *answer) {
  User *user = mailbox->FindUser(ChildText(auth, "username"));
  if (user == nullptr) {
    Refuse(answer, kCodeUnknownUser, "The user was not found");
    return nullptr;
  }
  if (user->password != ChildText(auth, "password")) {
    Refuse(answer, kCodeBadPassword, "Invalid password");
    return nullptr;
  }
  return user;
}

// Picks the mailbox a login opens by its auth type; null with the refusal
// in *answer. *actor receives who authenticated.
User *OpenedMailbox(Mailbox *mailbox, pugi::xml_node auth, User **actor, Answer *answer) {
  std::string type = LocalName(AttributeValue(auth, "type").c_str());
  if (type == "PlainText") {
    *actor = Authenticate(mailbox, auth, answer);
    return *actor;
  }
  if (type == "Proxy") {
    *actor = Authenticate(mailbox, auth, answer);
    if (*actor == nullptr) return nullptr;
    User *target = mailbox->FindUser(ChildText(auth, "proxy"));
    if (target == nullptr) {
      Refuse(answer, kCodeUnknownUser, "The proxy target was not found");
      return nullptr;
    }
    if (!mailbox->CanOpen((*actor)->name, target->name)) {
      Refuse(answer, kCodeProxyRefused, "No proxy access to this mailbox");
      return nullptr;
    }
    return target;
  }
  if (type == "TrustedApplication") {
    const TrustedApp *app = mailbox->FindTrustedApp(ChildText(auth, "name"));
    if (app == nullptr || app->key != ChildText(auth, "key")) {
      Refuse(answer, kCodeBadPassword, "Invalid trusted application name or key");
      return nullptr;
    }
    *actor = mailbox->FindUser(ChildText(auth, "username"));
    if (*actor == nullptr) {
      Refuse(answer, kCodeUnknownUser, "The user was not found");
      return nullptr;
    }
    return *actor;
  }
  Refuse(answer, kCodeBadParameter, "Unknown authentication type");
  return nullptr;
}

void AppendUserInfo(const User &user, std::string *out) {
  out->append("<gwm:userinfo>");
  AppendElement(out, "gwt:name", user.displayName.empty() ? user.name : user.displayName);
  AppendElement(out, "gwt:email", user.email);
  AppendElement(out, "gwt:userid", user.name);
  AppendElement(out, "gwt:domain", "domain1");
  AppendElement(out, "gwt:postOffice", "po1");
  AppendElement(out, "gwt:recipType", user.recipType);
  out->append("</gwm:userinfo>");
}

}  // namespace

void AnswerLogin(const HandlerCall &call, Answer *answer) {
  pugi::xml_node auth = Child(call.request, "auth");
  if (!auth) {
    Refuse(answer, kCodeBadParameter, "The auth element is missing");
    return;
  }
  User *actor = nullptr;
  User *opened = OpenedMailbox(call.state->mailbox, auth, &actor, answer);
  if (opened == nullptr) return;
  std::string sessionId = NewSessionId(call.state);
  call.state->sessions[sessionId] = Session{actor->name, opened->name};
  AppendElement(&answer->inner, "gwm:session", sessionId);
  AppendUserInfo(*opened, &answer->inner);
  AppendElement(&answer->inner, "gwm:gwVersion", kGwVersion);
  AppendElement(&answer->inner, "gwm:build", kGwBuild);
  AppendElement(&answer->inner, "gwm:serverUTCTime", NowDateTime());
}

void AnswerLogout(const HandlerCall &call, Answer *) {
  ServiceState *state = call.state;
  for (auto it = state->cursors.begin(); it != state->cursors.end();) {
    if (it->second.session == *call.sessionId) {
      it = state->cursors.erase(it);
    } else {
      ++it;
    }
  }
  state->sessions.erase(*call.sessionId);
}

}  // namespace gwsim
