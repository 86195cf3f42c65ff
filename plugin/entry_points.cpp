// The small entry points that need no subsystem of their own:
// GetLogonParameters, InitRead, CloseRead and TestFile.
#include "plugin/host_message.h"
#include "plugin/mv_api.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "platform/bounded_text.h"
#include "platform/win_compat.h"

namespace {

#if !defined(_WIN32)
// On Linux there is no system message box: the plug-in's test pauses go to
// our host library, which decides how to show them. On Windows they are the
// system's MessageBoxA, so the DLL imports nothing from the host library
// that a real host's MVCOM lacks.
void ForwardMessageBoxToHost(const char *text, const char *caption) {
  com_MessageBox(text, caption);
}

struct MessageBoxForwarding {
  MessageBoxForwarding() { SetMessageBoxHook(&ForwardMessageBoxToHost); }
} gMessageBoxForwarding;
#endif

// Host label buffers are kHostLabelSize bytes at least; a null one is skipped.
void SetLabel(char *buffer, const char *text) {
  if (buffer != nullptr) CopyText(buffer, kHostLabelSize, text);
}

}  // namespace

extern "C" {

MV_EXPORT int MV_CALL GetLogonParameters(int kind, void *, void *, char *userLabel,
                                         char *passwordLabel, char *serverLabel, char *a7,
                                         char *a8, void *, void *, void *, char *serverText,
                                         char *a13, void *, char *a15) {
  ParseOptions();
  SetLabel(a15, "");
  SetLabel(a7, "");
  SetLabel(a8, "");
  SetLabel(a13, "");
  SetLabel(userLabel, "User Id:");
  SetLabel(passwordLabel, "Password:");
  SetLabel(serverLabel, "Server Name:");
  if (serverText != nullptr && serverText[0] == '\0')
    CopyText(serverText, kHostServerSize, "https://<GroupWise server name or IP address>:7191");
  if (kind == 4) SetLabel(a8, "Upcoming events only");
  return 0;
}

MV_EXPORT int MV_CALL InitRead(HostMessage *record, void *, void *, void *, void *,
                               int itemLimit) {
  gSession.itemLimit = itemLimit;
  if (record != nullptr) CopyText(record->groupFolder, sizeof record->groupFolder, gRunSettings.gn);
  return 0;
}

MV_EXPORT int MV_CALL CloseRead(int) { return 0; }

MV_EXPORT int MV_CALL TestFile(void *, void *) { return 0; }

}  // extern "C"
