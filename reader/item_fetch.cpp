// FetchItemAnswer: one item's getItemRequest for any folder reader.
#include "reader/item_fetch.h"

#include "platform/bounded_text.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "plugin/session_state.h"
#include "reader/folder_driver.h"
#include "transport/answer_store.h"
#include "transport/soap_call.h"

namespace {

const char kGetItemRequest[] =
    "<m:getItemRequest>\n<id>%s</id>\n<view>%s</view>\n</m:getItemRequest>\n";
const char kGetItemNoViewRequest[] = "<m:getItemRequest>\n<id>%s</id>\n</m:getItemRequest>\n";

enum {
  kIdSize = 2400,  // the longest id line a reader passes (address books)
  kEscapedIdSize = 6 * kIdSize,
  kRequestSize = kEscapedIdSize + 256,
  kPathSize = kDirSize + 64,
  kLabelSize = 2 * kIdSize,
};

int DebugCopyDue(const ItemFetchKind &kind) {
  for (int32_t RunSettings::*debugSwitch : kind.debugSwitch) {
    if (debugSwitch != nullptr && gRunSettings.*debugSwitch) return 1;
  }
  return 0;
}

void KeepItemDebugCopy(const ItemFetchKind &kind, const char *responsePath) {
  char name[64], debugPath[kPathSize + kDirSize];
  FormatText(name, sizeof name, "%s%d.xml", kind.copyPrefix, gItemCopyCounter++);
  FormatDebugPath(debugPath, sizeof debugPath, name);
  CopyAnswer(responsePath, debugPath);
  DebugLog("debug: copied %s response to %s", kind.copyWhat, debugPath);
}

void FormatLabel(char *out, size_t cap, ItemLabel label, const char *id, int position) {
  if (label == kLabelId) CopyText(out, cap, id);
  else FormatText(out, cap, "%d", label == kLabelLastCopy ? gItemCopyCounter - 1 : position);
}

}  // namespace

int FetchItemAnswer(const ItemFetchKind &kind, const char *id, int position,
                    const char *responsePath, char *reason, size_t cap) {
  static char escapedId[kEscapedIdSize];
  static char body[kRequestSize];
  CopyText(escapedId, sizeof escapedId, id);
  com_Escape(escapedId, 1, sizeof escapedId);
  if (kind.view != nullptr) FormatText(body, sizeof body, kGetItemRequest, escapedId, kind.view);
  else FormatText(body, sizeof body, kGetItemNoViewRequest, escapedId);
  SoapCall(body, "getItemRequest", responsePath);
  if (DebugCopyDue(kind)) KeepItemDebugCopy(kind, responsePath);
  static char label[kLabelSize];
  if (gHTTPResponse != 200) {
    FormatLabel(label, sizeof label, kind.httpLabel, id, position);
    com_Log("MV Warning: failed to retrieve %s %s, httpResponse=%d", kind.noun, label,
            gHTTPResponse);
    FormatText(reason, cap, "getItemRequest failed, httpResponse=%d", gHTTPResponse);
    return 0;
  }
  // An HTML page, a cut answer or a Fault sent with HTTP 200 is no item: it
  // would be stored empty and never fetched again.
  if (!SoapAnswerUsable()) {
    FormatLabel(label, sizeof label, kind.httpLabel, id, position);
    com_Log("MV Warning: failed to retrieve %s %s, %s", kind.noun, label, SoapAnswerProblem());
    FormatText(reason, cap, "getItemRequest failed, %s", SoapAnswerProblem());
    return 0;
  }
  if (gGWSError != 0) {
    FormatLabel(label, sizeof label, kind.codeLabel, id, position);
    com_Log("MV Warning: failed to retrieve %s %s, code=%d", kind.noun, label, gGWSError);
    FormatText(reason, cap, "getItemRequest failed, code=%d", gGWSError);
    return 0;
  }
  return 1;
}
