// The process-wide session state and the small logging helpers every part
// of the plug-in shares.
#include "plugin/session_state.h"

#include <cstdarg>

#include "platform/bounded_text.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"

SessionState gSession;
int gHTTPResponse = 0;
int gGWSError = 0;
char gGWTrustedApp[1024];
char gGWAppKey[1024];

void DebugLog(const char *format, ...) {
  if (!gRunSettings.debug) return;
  char line[2048];
  va_list ap;
  va_start(ap, format);
  FormatTextV(line, sizeof line, format, ap);
  va_end(ap);
  com_Log("%s", line);
}

void FormatDebugPath(char *out, unsigned long cap, const char *name) {
  FormatText(out, cap, "%sdebug/%s/%s", gSession.dataDir, gSession.debugSubfolder, name);
}
