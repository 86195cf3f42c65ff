// The demo mailbox's mail from the Internet with its original messages.
#pragma once

#include <string>

#include "gwsim/mailbox.h"

namespace gwsim {

// Adds to the folder `inbox` a PGP/MIME signed mail, an S/MIME signed mail
// and a mail with its reply, each with its Mime.822.
void AddDemoOriginals(Mailbox *mailbox, const std::string &inbox);

}  // namespace gwsim
