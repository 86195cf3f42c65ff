// The process-wide state of one logon, read by every part of the plug-in.
#pragma once

#include "platform/printf_format.h"

#include <cstdint>

#include "plugin/mv_api.h"

typedef void CURL;
struct curl_slist;

enum {
  kDirSize = 256,
  kLineBufferSize = 30000,
  kSessionTextSize = 1024,
};

struct SessionState {
  char workDir[kDirSize];         // host global 6, ends with "/"
  char dataDir[kDirSize];         // host global 2, ends with "/"
  char debugSubfolder[kDirSize];  // /DATADEBUG name, else the user name made a file name
  char lineBuffer[kLineBufferSize];  // shared buffer for response lines and log texts
  char soapEndpoint[kSessionTextSize];  // "%s/soap" of the server address
  char serverAddress[kSessionTextSize];
  int32_t loggedOn;
  char sessionId[kSessionTextSize];
  char userDisplayName[kSessionTextSize];
  char userEmail[kSessionTextSize];
  char userRecipType[256];
  char gwVersionText[256];
  int32_t gwVersion;
  char dateFilter[kSessionTextSize];  // server-side date filter of the last listing
  int32_t listingFailed;              // 1 when the last listing did not read the whole folder
  int32_t itemLimit;                  // 6th argument of the last InitRead
  char targetContainer[256];          // container of the current write
  char lastOrganizer[kSessionTextSize];  // organizer address of the appointment being read
  int32_t failedCount;                // failed ids recorded this session
  HostNotifyFn hostNotify;
  CURL *curl;                 // the session's transfer handle
  struct curl_slist *headers;  // request headers of the running call
};

extern SessionState gSession;

// HTTP status of the last response; 0 before each attempt.
extern int gHTTPResponse;
// GroupWise status code (<gwt:code>) of the last response; 0 when none.
extern int gGWSError;
// Trusted-application name and key.
extern char gGWTrustedApp[1024];
extern char gGWAppKey[1024];

// Logs through com_Log only with /DEBUG; the format must begin with "debug:".
void DebugLog(const char *format, ...) MV_PRINTF_FORMAT(1, 2);

// Path of a debug copy: "<data dir>debug/<subfolder>/<name>".
void FormatDebugPath(char *out, unsigned long cap, const char *name);
