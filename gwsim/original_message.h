// The message as it arrived from the Internet, which GroupWise keeps beside
// its record of a received mail as the hidden attachment "Mime.822": made
// here from the record itself, so that the two always agree.
#pragma once

#include <string>

#include "gwsim/mailbox.h"

namespace gwsim {

// The RFC 5322 message of a received mail (CR LF line ends): From, To, Cc,
// Subject, Date (the delivery time), Message-ID (msgId), `extraHeaders`
// (lines "Name: value", each ended by a line end, e.g. In-Reply-To), then
// the text body, the HTML body (the hidden text.htm) as its alternative,
// and every file attachment with its type and bytes. Attached items and an
// existing Mime.822 are left out.
std::string ComposeOriginal(const Item &item, const std::string &extraHeaders);

// The attachment "Mime.822" (message/rfc822) holding ComposeOriginal.
Attachment OriginalAttachment(const Item &item, const std::string &extraHeaders);

}  // namespace gwsim
