// The process-wide run settings that the option switches (host parameters)
// set, and the option parser that sets them.
#pragma once

#include <cstdint>

enum {
  kSettingTextSize = 256,
  kDefaultStallSeconds = 120,
};

struct RunSettings {
  int32_t hpw;         // /HPW: hide the password in the logon line
  int32_t logUuid;     // /LOGUUID
  int32_t mailRules;   // /MAILRULES: export the rules once
  int32_t debug;       // /DEBUG
  int32_t curlDebug;   // /CURLDEBUG
  int32_t d331;        // /D331: map Windows-1252 punctuation in attachment data
  int32_t d114;        // /D114: folder structure only
  int32_t lsub;        // /LSUB: a log line per item
  int32_t d179;        // /D179: no recurrence handling
  int32_t mailDebug;   // /MAILDEBUG
  int32_t calDebug;    // /CALDEBUG
  int32_t conDebug;    // /CONDEBUG
  int32_t calTest;     // /CALTEST
  int32_t fakeServer;  // /FAKESERVER
  int32_t trusted;     // /TRUSTED
  int32_t d300;        // /D300: resource mailbox calendar
  int32_t d332;        // /D332: check containers
  int32_t dataDebug;   // /DATADEBUG
  char dataDebugName[kSettingTextSize];  // the /DATADEBUG subfolder name
  char gwAppKey[kSettingTextSize];       // /GWAPPKEY key file path
  int32_t d327;                          // /D327: keep failed ids
  char d327Path[kSettingTextSize];       // ... in this file
  int32_t d328;                          // /D328: convert only failed ids
  int32_t maxAttachSize;                 // /MAXATTACHSIZE, thousands of bytes
  int32_t d70;                           // /D70 folder filter bits
  int32_t d340;                          // /D340 recurrence span in days
  char gn[kSettingTextSize];             // /GN group folder name
  char gwcf[kSettingTextSize];           // /GWCF contact folder for writing
  char gwcaf[kSettingTextSize];          // /GWCAF calendar folder for writing
  char gwtf[kSettingTextSize];           // /GWTF task folder for writing
  char d159[kSettingTextSize];           // /D159 organizer to match
  // /LOSTATTACHTEXT: under /D328, an attachment the server answers but
  // will not deliver (an HTTP error, pieces that make no progress) no longer
  // fails the mail retried: it is stored with a text part in the
  // attachment's place and the host is told (kExtNoticeAttachmentLost).
  // Off by default; a host sets it when it retries the items that failed.
  int32_t lostAttachText;
  // /STALLSECONDS: a transfer attempt that receives and sends no byte for
  // this long fails (and is retried); 120 unless set, for tests.
  int32_t stallSeconds;
  int32_t mime822;  // /MIME822: received mail goes to the host as its original message
  // /TLSVERIFY: the server's certificate and host name are checked against
  // the system's certificate authorities; /TLSCAFILE names a PEM file of the
  // certificates to trust instead (and turns the checks on). Off by default:
  // GroupWise servers often have self-signed certificates.
  int32_t tlsVerify;
  char tlsCaFile[kSettingTextSize];
};

extern RunSettings gRunSettings;

// Reads the host parameters with com_GetParm and applies every switch found.
// Flags are only ever set; a value switch takes the next parameter (which is
// itself compared again); texts longer than their field are cut.
void ParseOptions();

// Back to the load-time defaults (for tests and a fresh host session).
void ResetRunSettings();
