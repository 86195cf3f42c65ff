// Host parameters, host globals and the test pause as the plug-in asks for them.
#include "host/mvcom/mvcom_state.h"
#include "platform/bounded_text.h"

int com_GetParm(int index, char *buf) {
  if (buf == nullptr) return 0;
  buf[0] = '\0';
  if (index < 0 || static_cast<size_t>(index) >= gMvcom.params.size()) return 0;
  CopyText(buf, kParmTextCap, gMvcom.params[static_cast<size_t>(index)].c_str());
  return 1;
}

int com_GetGlobal(int id, char *buf) {
  if (buf == nullptr) return 0;
  const std::string *value = nullptr;
  switch (id) {
    case kGlobalProgramDir: value = &gMvcom.programDir; break;
    case kGlobalDataDir: value = &gMvcom.dataDir; break;
    case kGlobalWorkDir: value = &gMvcom.workDir; break;
    default: break;
  }
  CopyText(buf, kGlobalTextCap, value != nullptr ? value->c_str() : "");
  return value != nullptr;
}

int com_SetGlobal(int id, int value, const char *text) {
  switch (id) {
    case kGlobalLineBuffer:
      gMvcom.lineBuffer = value == 1 ? text : nullptr;
      return 1;
    case kGlobalFailedCount:
      gMvcom.failedCount = value;
      return 1;
    default:
      return 0;
  }
}

void com_MessageBox(const char *text, const char *caption) {
  if (gMvcom.messageBoxHook != nullptr) gMvcom.messageBoxHook(text != nullptr ? text : "", caption != nullptr ? caption : "");
}
