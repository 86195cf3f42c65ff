// AddTextBodyFromHtml: a plain-text body made from an item's HTML body, for
// items (tasks, appointments) whose description the server keeps as HTML only.
#include "reader/html_text_body.h"

#include <cstdio>

#include "platform/bounded_text.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/session_state.h"
#include "reader/attachment_download.h"
#include "reader/body_conversion.h"

namespace {

enum { kPathSize = kDirSize + 64 };

int HasTextBody(const HostMessage *record) {
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    if (record->parts[i] != nullptr && record->parts[i]->kind == kPartTextBody) return 1;
  }
  return 0;
}

}  // namespace

int AddTextBodyFromHtml(HostMessage *record) {
  if (HasTextBody(record) || record->partCount >= kMaxParts) return 0;
  char copyPath[kPathSize];
  FormatPartFileName(copyPath, sizeof copyPath, gSession.workDir, record->msgSeq,
                     record->partCount);
  for (int i = 0; i < record->partCount && i < kMaxParts; ++i) {
    if (record->parts[i] == nullptr || record->parts[i]->kind != kPartHtmlBody) continue;
    char htmlPath[kPathSize];
    FormatPartFileName(htmlPath, sizeof htmlPath, gSession.workDir, record->msgSeq, i);
    if (com_fcopy(htmlPath, copyPath) != 0 || !HtmlToText(copyPath)) {
      remove(copyPath);
      continue;
    }
    return AddPartFile(record, copyPath, "Message.txt", kPartTextBody);
  }
  return 0;
}
