// The demo mailbox's mail from the Internet with its original messages.
#pragma once

#include <string>

#include "gwsim/mailbox.h"

namespace gwsim {

// A received mail to alice with a text body (the demo mailbox's mails are
// made from it).
Item DemoMail(const std::string &container, const char *created, const char *subject,
              const char *fromName, const char *fromEmail, const char *text);

// An attachment of the demo mailbox.
Attachment DemoFile(const char *name, const char *contentType, const std::string &data,
                    bool hidden = false);

// Adds to the folder `inbox` a PGP/MIME signed mail, an S/MIME signed mail
// and a mail with its reply, each with its Mime.822.
void AddDemoOriginals(Mailbox *mailbox, const std::string &inbox);

}  // namespace gwsim
