// The text part that stands in for an attachment the server would not
// deliver, and the notice that tells the host about it.
#include "reader/lost_attachment.h"

#include <cstdio>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/file_guard.h"
#include "plugin/host_message.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"
#include "reader/attachment_download.h"
#include "reader/attachments.h"

namespace {

// Set while the mail loop reads the ids an earlier run listed as failed.
int gLostAttachmentsAllowed = 0;

}  // namespace

void AllowLostAttachments(int allowed) { gLostAttachmentsAllowed = allowed; }

int StoreLostAttachment(HostMessage *record, const char *partPath, const char *name,
                        const char *reason) {
  // A first failure fails the item, to be tried again; only an attachment
  // that fails once more on the retry is given up.
  if (!gRunSettings.lostAttachText || !gLostAttachmentsAllowed) return kAttachFailed;
  char text[kAttachmentNameSize + kFailureTextSize + 64];
  FormatText(text, sizeof text, "The attachment %s could not be read from the server: %s\r\n", name,
             reason);
  {
    FilePtr part = OpenFile(partPath, "wb");
    if (!part) return kAttachFailed;
    if (fputs(text, part.get()) == EOF || fflush(part.get()) != 0) {
      part.reset();
      remove(partPath);
      return kAttachFailed;
    }
  }
  char partName[kAttachmentNameSize + 16];
  FormatText(partName, sizeof partName, "%s (not read).txt", name);
  com_Log("MV Warning: attachment %s could not be read from the server (%s), a text part stands "
          "in its place",
          name, reason);
  // The host hears of it before the item reaches SaveItem, so that it can
  // list the item as stored with a lost attachment.
  char notice[kAttachmentNameSize + kFailureTextSize + 2];
  FormatText(notice, sizeof notice, "%s\t%s", name, reason);
  com_SetExtendedError(kExtNoticeAttachmentLost, 0, notice);
  return AddPartFile(record, partPath, partName, kPartFile) ? kAttachDone : kAttachFull;
}

int ConvertWithoutOriginal(const char *reason) {
  if (!gRunSettings.lostAttachText || !gLostAttachmentsAllowed) return 0;
  com_Log("MV Warning: the original message could not be read from the server (%s), the mail is "
          "converted from its record",
          reason);
  // The failure text names the attachment already; the notice names it apart.
  const char *prefix = "attachment \"Mime.822\": ";
  if (strncmp(reason, prefix, strlen(prefix)) == 0) reason += strlen(prefix);
  char notice[kAttachmentNameSize + kFailureTextSize + 2];
  FormatText(notice, sizeof notice, "Mime.822\t%s", reason);
  com_SetExtendedError(kExtNoticeAttachmentLost, 0, notice);
  return 1;
}
