// Logon and Logoff: the three login kinds (plain, proxy, trusted
// application), the lists read at logon (folders, categories, address books)
// and the end of the session with the hand-over of the failed-ids list.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "folders/address_books.h"
#include "folders/category_table.h"
#include "folders/folder_table.h"
#include "platform/bounded_text.h"
#include "platform/win_compat.h"
#include "platform/file_guard.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/recurrence_keys.h"
#include "transport/answer_store.h"
#include "transport/http_transfer.h"
#include "transport/response_scanner.h"
#include "transport/soap_call.h"

namespace {

const char kLoginPlainRequest[] =
    "<m:loginRequest>\n<m:auth type=\"t:PlainText\">\n<t:username>%s</t:username>\n"
    "<t:password>%s</t:password>\n</m:auth>\n<m:version>%s</m:version>\n"
    "<m:application>Movaro</m:application>\n</m:loginRequest>\n";
const char kLoginTrustedRequest[] =
    "<m:loginRequest>\n<m:auth type=\"t:TrustedApplication\">\n<t:username>%s</t:username>\n"
    "<t:name>%s</t:name>\n<t:key>%s</t:key>\n</m:auth>\n<m:version>%s</m:version>\n"
    "<m:application>Movaro</m:application>\n</m:loginRequest>\n";
const char kLoginProxyRequest[] =
    "<m:loginRequest>\n<m:auth type=\"t:Proxy\">\n<t:username>%s</t:username>\n"
    "<t:password>%s</t:password>\n<t:proxy>%s</t:proxy>\n</m:auth>\n"
    "<m:version>%s</m:version>\n<m:application>Movaro</m:application>\n</m:loginRequest>\n";
const char kFolderListRequest[] =
    "<m:getFolderListRequest>\n<t:parent>folders</t:parent>\n<t:view/>\n"
    "<t:recurse>true</t:recurse>\n<t:imap>false</t:imap>\n<t:nntp>false</t:nntp>\n"
    "</m:getFolderListRequest>\n";
const char kCategoryListRequest[] = "<m:getCategoryListRequest/>";
const char kAddressBookListRequest[] = "<m:getAddressBookListRequest />\n";
const char kLogoutRequest[] = "<m:logoutRequest/>\n";
const char kLoginVersion[] = "1.09";
const char kKeyFileName[] = "gwappkey.dat";

enum LogonResult {
  kLogonDone = 0,
  kLogonRefused = 1,      // mode 0, or unknown user (53505)
  kLogonBadPassword = 2,  // 53273
  kLogonHttpFailed = 3,   // the login's HTTP status was not 200
  kLogonFailed = 4,
};

enum {
  kErrorUnknownUser = 53505,  // 0xD101
  kErrorBadPassword = 53273,  // 0xD019
  kPasswordCredentialsLength = 80,  // longer passwords carry trusted-application credentials
  kKeyValueChars = 250,
  kEscapedSize = 6 * kSessionTextSize,  // every character may become "&quot;"
  kLoginBodySize = 5 * kEscapedSize + 512,
  kPathSize = 2 * kDirSize + 64,
  kLoginLineSize = 1024,
};

// "%s<name>" in the work directory.
void WorkPath(char *out, size_t cap, const char *name) {
  FormatText(out, cap, "%s%s", gSession.workDir, name);
}

// With the debug switch given, copies a response to the debug folder and says so.
void KeepDebugCopy(int wanted, const char *responsePath, const char *name, const char *what) {
  if (!wanted) return;
  char debugPath[kPathSize];
  FormatDebugPath(debugPath, sizeof debugPath, name);
  CopyAnswer(responsePath, debugPath);
  DebugLog("debug: copied %s response to %s", what, debugPath);
}

// The text as it may stand inside an XML element.
void EscapeInto(char *out, size_t cap, const char *text) {
  CopyText(out, cap, text);
  com_Escape(out, 1, cap);
}

void AddFakeFolders() {
  static const int kFakeClasses[] = {kFolderClassCalendar, kFolderClassAddressBook,
                                     kFolderClassMail, kFolderClassTaskList};
  for (int folderClass : kFakeClasses)
    AddFolderRecord(1, "FAKEFID", "FAKEPARENT", "Debug", folderClass, 1);
  com_Log("Fake login to GW server");
}

// A long password is a base64 block: application name, CR LF, key, CR.
void TakeCredentialsFromPassword(char *password) {
  std::vector<char> decoded(password, password + strlen(password) + 1);
  com_Decode_MimeLine(decoded.data());
  const char *name = decoded.data();
  const char *nameEnd = strchr(name, '\r');
  size_t nameLength = nameEnd != nullptr ? static_cast<size_t>(nameEnd - name) : strlen(name);
  CopyTextN(gGWTrustedApp, sizeof gGWTrustedApp, name, nameLength > 1000 ? 1000 : nameLength);

  gGWAppKey[0] = '\0';
  if (nameEnd != nullptr) {
    const char *key = nameEnd + (nameEnd[1] == '\n' ? 2 : 1);
    const char *keyEnd = strchr(key, '\r');
    size_t keyLength = keyEnd != nullptr ? static_cast<size_t>(keyEnd - key) : strlen(key);
    CopyTextN(gGWAppKey, sizeof gGWAppKey, key, keyLength > 500 ? 500 : keyLength);
  }
  password[0] = '\0';
  com_Log("gGWTrustedApp=%s, gGWAppKey=%s", gGWTrustedApp, gGWAppKey);
}

// Reads the application name and key from the key file. Returns 0 (logged,
// and the credentials left as they were) when the file cannot be opened or
// lacks either line.
int ReadKeyFile(const char *keyPath) {
  com_Log("Attempting to open trusted mode key file %s", keyPath);
  FilePtr file = OpenFile(keyPath, "r");
  if (!file) {
    com_Log("MV Error: Cannot open trusted app key file %s, error=%d\n", keyPath, errno);
    return 0;
  }
  char line[kLoginLineSize];
  char name[kKeyValueChars + 1] = "", key[kKeyValueChars + 1] = "";
  if (ReadTextLine(line, sizeof line, file.get())) CopyText(name, sizeof name, line);
  if (ReadTextLine(line, sizeof line, file.get())) CopyText(key, sizeof key, line);
  if (name[0] == '\0' || key[0] == '\0') {
    com_Log("MV Error: trusted app key file %s must hold the application name and the key "
            "on two lines",
            keyPath);
    return 0;
  }
  CopyText(gGWTrustedApp, sizeof gGWTrustedApp, name);
  CopyText(gGWAppKey, sizeof gGWAppKey, key);
  return 1;
}

// Settles /TRUSTED: keeps it only when a name and a key are at hand.
void ResolveTrustedMode() {
  if (!gRunSettings.trusted) return;
  if (gGWTrustedApp[0] == '\0' || gGWAppKey[0] == '\0') {
    char keyPath[kPathSize];
    if (gRunSettings.gwAppKey[0] == '\0') {
      char programDir[kDirSize];
      com_GetGlobal(kGlobalProgramDir, programDir);
      com_Log("ExeDir=%s|", programDir);
      FormatText(keyPath, sizeof keyPath, "%s%s", programDir, kKeyFileName);
    } else {
      CopyText(keyPath, sizeof keyPath, gRunSettings.gwAppKey);
    }
    if (!ReadKeyFile(keyPath)) gRunSettings.trusted = 0;
  }
  if (gRunSettings.trusted) com_Log("Running as trusted application");
}

void KeepSessionTexts(const char *user, const char *server, HostNotifyFn notify) {
  gSession.hostNotify = notify;
  FormatText(gSession.soapEndpoint, sizeof gSession.soapEndpoint, "%s/soap", server);
  CopyText(gSession.serverAddress, sizeof gSession.serverAddress, server);
  char userName[kDirSize];
  CopyText(userName, sizeof userName, user);
  com_MakeValidDosName(userName, 0);
  const char *subfolder = gRunSettings.dataDebugName[0] != '\0' ? gRunSettings.dataDebugName
                                                                  : userName;
  CopyText(gSession.debugSubfolder, sizeof gSession.debugSubfolder, subfolder);
}

void MakeDebugFolders() {
  if (!gRunSettings.calDebug && !gRunSettings.mailDebug && !gRunSettings.conDebug) return;
  char folder[kPathSize];
  FormatText(folder, sizeof folder, "%sdebug", gSession.dataDir);
  MakeDirectory(folder);  // an existing folder is fine
  FormatText(folder, sizeof folder, "%sdebug/%s", gSession.dataDir, gSession.debugSubfolder);
  MakeDirectory(folder);
}

// "alice for bob": alice logs on to bob's mailbox; the host's user buffer
// then holds bob. Returns 1 for a proxy login.
int SplitProxyUser(char *user, char *proxyUser, char *targetUser, size_t cap) {
  const char *separator = com_FindText(user, " for ", 0);
  if (separator == nullptr) return 0;
  CopyTextN(proxyUser, cap, user, static_cast<size_t>(separator - user));
  com_rtrim(proxyUser);
  CopyText(targetUser, cap, separator + 5);
  com_rtrim(targetUser);
  CopyText(user, strlen(user) + 1, targetUser);
  com_Log("Proxy user is %s, Target user is %s", proxyUser, targetUser);
  return proxyUser[0] != '\0';
}

// The login body: proxy wins over trusted, trusted over plain. Every text
// from the user is escaped, so a password holding "&" or "<" stays well-formed.
void BuildLoginBody(char *body, size_t cap, const char *user, const char *password, int proxy,
                    const char *proxyUser, const char *targetUser) {
  char first[kEscapedSize], second[kEscapedSize], third[kEscapedSize];
  if (proxy) {
    EscapeInto(first, sizeof first, proxyUser);
    EscapeInto(second, sizeof second, password);
    EscapeInto(third, sizeof third, targetUser);
    FormatText(body, cap, kLoginProxyRequest, first, second, third, kLoginVersion);
  } else if (gRunSettings.trusted) {
    EscapeInto(first, sizeof first, user);
    EscapeInto(second, sizeof second, gGWTrustedApp);
    EscapeInto(third, sizeof third, gGWAppKey);
    FormatText(body, cap, kLoginTrustedRequest, first, second, third, kLoginVersion);
  } else {
    EscapeInto(first, sizeof first, user);
    EscapeInto(second, sizeof second, password);
    FormatText(body, cap, kLoginPlainRequest, first, second, kLoginVersion);
  }
}

// Reads the login answer into the session. Returns the logon result.
int ReadLoginResponse(const char *responsePath) {
  FilePtr file = OpenAnswer(responsePath, "r");
  if (!file) return kLogonFailed;
  char codeText[32] = "", description[kSessionTextSize] = "";
  // The id and the user's texts must come from this answer, not from an
  // earlier session (another user's "Resource" type would change the folders).
  gSession.sessionId[0] = '\0';
  gSession.userDisplayName[0] = gSession.userEmail[0] = gSession.userRecipType[0] = '\0';
  gSession.gwVersionText[0] = '\0';
  const TagField fields[] = {
      {"<gwm:session>", kTagNoCase, gSession.sessionId, sizeof gSession.sessionId, -1, nullptr},
      {"<gwt:name>", kTagNoCase, gSession.userDisplayName, sizeof gSession.userDisplayName, -1,
       nullptr},
      {"<gwt:recipType>", kTagNoCase, gSession.userRecipType, sizeof gSession.userRecipType, -1,
       nullptr},
      {"<gwt:email>", kTagNoCase, gSession.userEmail, sizeof gSession.userEmail, -1, nullptr},
      {"<gwm:gwVersion>", kTagNoCase, gSession.gwVersionText, sizeof gSession.gwVersionText, -1,
       nullptr},
      {"<gwt:code>", kTagNoCase, codeText, sizeof codeText, -1, nullptr},
      {"<gwt:description>", kTagNoCase, description, sizeof description, -1, nullptr},
  };
  char line[kLoginLineSize];
  while (ReadResponseLine(line, sizeof line, file.get()))
    ScanTagTable(line, sizeof line, fields, sizeof fields / sizeof fields[0], file.get());
  file.reset();

  int code = ParseLeadingInt(codeText);
  if (code == 0) return kLogonDone;
  com_Log("MV Error: login error %d, description: %s", code, description);
  if (code == kErrorBadPassword) return kLogonBadPassword;
  if (code == kErrorUnknownUser) return kLogonRefused;
  return kLogonFailed;
}

// 1 when the answer to a list request (after HTTP 200) is a whole answer
// with status 0; else logs why and returns 0.
int ListAnswerGood(const char *requestName) {
  if (!SoapAnswerUsable()) {
    com_Log("MV Warning: %s failed, %s", requestName, SoapAnswerProblem());
    return 0;
  }
  if (gGWSError != 0) {
    com_Log("MV Warning: %s failed, code=%d", requestName, gGWSError);
    return 0;
  }
  return 1;
}

// The category list. The logon goes on without it, but every item read
// then loses its categories for good (it is recorded as exported), so a
// broken answer is asked for once more, and the host is told when the
// second one is no better.
void ReadCategoryList(const char *responsePath) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) com_Log("MV Info: asking for the category list again");
    SoapCall(kCategoryListRequest, "getCategoryListRequest", responsePath);
    if (gHTTPResponse != 200) {
      com_Log("MV Warning: getCategoryListRequest failed with httpResponse %d", gHTTPResponse);
      continue;
    }
    if (!ListAnswerGood("getCategoryListRequest")) continue;
    KeepDebugCopy(gRunSettings.mailDebug || gRunSettings.calDebug, responsePath, "categorylist.xml",
                  "getCategoryListRequest");
    ParseCategoryList(responsePath);
    return;
  }
  com_SetExtendedError(kExtNoticeCategoriesUnknown, 0,
                       "the category list could not be read: items are read without their categories");
}

// The folder, category and address-book lists. Returns the logon result.
int ReadMailboxLists(int allBooks) {
  char responsePath[kPathSize];
  WorkPath(responsePath, sizeof responsePath, "logonre.xml");

  SoapCall(kFolderListRequest, "getFolderListRequest", responsePath);
  KeepDebugCopy(gRunSettings.mailDebug || gRunSettings.calDebug, responsePath, "folderre.xml",
                "getFolderListRequest");
  if (gHTTPResponse != 200) {
    com_Log("MV Warning: getFolderListRequest failed with httpResponse %d", gHTTPResponse);
    return kLogonFailed;
  }
  // A broken or refused list read as a list would be an empty mailbox.
  if (!ListAnswerGood("getFolderListRequest")) return kLogonFailed;
  ParseGWFolders(responsePath);
  ForgetAnswer(responsePath);

  ReadCategoryList(responsePath);

  SoapCall(kAddressBookListRequest, "getAddressBookListRequest", responsePath);
  KeepDebugCopy(gRunSettings.mailDebug, responsePath, "ablistre.xml",
                "getAddressBookListRequest");
  if (gHTTPResponse != 200) {
    com_Log("MV Warning: getAddressBookListRequest failed with httpResponse %d", gHTTPResponse);
    return kLogonFailed;
  }
  if (!ListAnswerGood("getAddressBookListRequest")) return kLogonFailed;
  ParseGWABList(responsePath, allBooks);
  ForgetAnswer(responsePath);
  return kLogonDone;
}

void LogFolderTable() {
  static const struct {
    int folderClass;
    const char *format;
  } kClassLines[] = {
      {kFolderClassMail, "GroupWise folder: %s, count=%d"},
      {kFolderClassCalendar, "GroupWise calendar: %s, count=%d"},
      {kFolderClassAddressBook, "GroupWise contacts: %s, count=%d"},
      {kFolderClassTaskList, "GroupWise Tasklist: %s, count=%d"},
  };
  for (const auto &kind : kClassLines) {
    for (int i = 0; i < gFolderTable.count; ++i) {
      const FolderRecord *record = gFolderTable.records[i];
      if (record->folderClass != kind.folderClass) continue;
      char line[kFolderTextSize + 64];
      FormatText(line, sizeof line, kind.format, record->path, record->itemCount);
      com_Log("%s", line);
    }
  }
}

// Logs on to the server once the session texts are in place. Returns the
// logon result.
int LogonToServer(char *user, char *password, int allBooks) {
  if (gSession.curl == nullptr && !StartTransfer()) {
    com_Log("MV Error: Error in curl init");
    com_SetExtendedError(101, 0, "MV Error: Error in curl init");
    return kLogonFailed;
  }

  char proxyUser[kSessionTextSize] = "", targetUser[kSessionTextSize] = "";
  int proxy = SplitProxyUser(user, proxyUser, targetUser, sizeof proxyUser);
  char body[kLoginBodySize];
  BuildLoginBody(body, sizeof body, user, password, proxy, proxyUser, targetUser);

  char responsePath[kPathSize];
  WorkPath(responsePath, sizeof responsePath, "logonre.xml");
  SoapCall(body, "loginRequest", responsePath);
  KeepDebugCopy(gRunSettings.mailDebug, responsePath, "logonre.xml", "logon");
  if (gHTTPResponse != 200) {
    com_Log("MV Warning: LoginRequest failed with httpResponse %d", gHTTPResponse);
    return kLogonHttpFailed;
  }
  // A refusal is a whole answer with its code; anything else is no answer.
  if (!SoapAnswerUsable()) {
    com_Log("MV Warning: LoginRequest failed, %s", SoapAnswerProblem());
    return kLogonFailed;
  }

  int result = ReadLoginResponse(responsePath);
  if (result != kLogonDone) return result;
  gSession.loggedOn = 1;
  if (gSession.sessionId[0] == '\0') {
    com_Log("MV Error: unable to obtain GW session ID");
    return kLogonFailed;
  }
  gSession.gwVersion = ParseLeadingInt(gSession.gwVersionText);
  com_Log("Logged on to GroupWise version %s (%d), for user: %s <%s>, type=%s",
          gSession.gwVersionText, gSession.gwVersion, gSession.userDisplayName,
          gSession.userEmail, gSession.userRecipType);

  result = ReadMailboxLists(allBooks);
  if (result != kLogonDone) return result;

  if (gRunSettings.d327) {
    char failedIds[kPathSize];
    WorkPath(failedIds, sizeof failedIds, "failedIds.tmp");
    remove(failedIds);  // the conversion starts a new list
    gSession.failedCount = 0;
  }
  LogFolderTable();
  return kLogonDone;
}

// Moves the failed-ids list of this session to the /D327 path.
void HandOverFailedIds() {
  com_SetGlobal(kGlobalFailedCount, gSession.failedCount, "");
  char failedIds[kPathSize];
  WorkPath(failedIds, sizeof failedIds, "failedIds.tmp");
  remove(gRunSettings.d327Path);
  com_fcopy(failedIds, gRunSettings.d327Path);
  remove(failedIds);
  gRunSettings.d327 = 0;
}

}  // namespace

extern "C" MV_EXPORT int MV_CALL Logon(char *user, char *password, const char *server,
                                       void * /*a4*/, void * /*a5*/, void * /*a6*/,
                                       void * /*a7*/, void * /*a8*/, void * /*a9*/,
                                       void * /*a10*/, void * /*a11*/, void * /*a12*/, int mode,
                                       int allBooks, void * /*a15*/, void * /*a16*/,
                                       HostNotifyFn notify) {
  com_GetGlobal(kGlobalWorkDir, gSession.workDir);
  com_GetGlobal(kGlobalDataDir, gSession.dataDir);
  com_SetGlobal(kGlobalLineBuffer, 1, gSession.lineBuffer);

  char shownPassword[kSessionTextSize];
  CopyText(shownPassword, sizeof shownPassword, password);
  _encrypt2(1, shownPassword);
  if (gRunSettings.hpw) CopyText(shownPassword, sizeof shownPassword, "*****");
  if (mode == 1)
    com_Log("Logon for GroupWise Web Services, database=%s, user=%s/%s", server, user,
            shownPassword);
  if (mode == 0) return kLogonRefused;

  ParseOptions();
  ClearRecurrenceKeys();
  // A new session starts its own count: a logon that fails before its lists
  // are read must not hand the last session's failures over again.
  gSession.failedCount = 0;
  if (gRunSettings.fakeServer) {
    AddFakeFolders();
    return kLogonDone;
  }

  if (strlen(password) > kPasswordCredentialsLength) TakeCredentialsFromPassword(password);
  ResolveTrustedMode();
  KeepSessionTexts(user, server, notify);
  MakeDebugFolders();
  return LogonToServer(user, password, allBooks);
}

extern "C" MV_EXPORT int MV_CALL Logoff(int /*a1*/) {
  DebugLog("debug: at Logoff for GWS");
  FreeFolderTable();
  FreeCategoryTable();
  if (gSession.loggedOn) {
    char responsePath[kPathSize];
    WorkPath(responsePath, sizeof responsePath, "logout.xml");
    SoapCall(kLogoutRequest, "logoutRequest", responsePath);
    KeepDebugCopy(gRunSettings.mailDebug, responsePath, "logoffre.xml", "logoff");
    if (gHTTPResponse != 200)
      com_Log("MV Warning: failed to log off, httpResponse=%d", gHTTPResponse);
    gSession.loggedOn = 0;
    if (gRunSettings.d327) HandOverFailedIds();
  }
  if (gSession.curl != nullptr) EndTransfer();
  ForgetAllAnswers();  // the session's answers are of no use to the next one
  return 0;
}
