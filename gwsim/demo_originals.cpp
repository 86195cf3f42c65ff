// The demo mailbox's mail from the Internet, each with the message as it
// arrived: a PGP/MIME signed mail, an S/MIME signed mail and a thread of a
// mail and its reply (In-Reply-To, References). The signed ones come from
// demo_signed_mail.inc (scripts/make-demo-signed-mail.sh, throwaway keys).
#include "gwsim/demo_originals.h"

#include <string>

#include "gwsim/base64.h"
#include "gwsim/original_message.h"

namespace gwsim {
namespace {

#include "gwsim/demo_signed_mail.inc"

// The text with every "\n" made "\r\n": the form the signatures cover.
std::string CrLf(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The text between `start` and `end` in message ("" when absent).
std::string Between(const std::string &message, const std::string &start, const std::string &end) {
  size_t from = message.find(start);
  if (from == std::string::npos) return "";
  from += start.size();
  size_t to = message.find(end, from);
  return to == std::string::npos ? "" : message.substr(from, to - from);
}

// A signed mail as GroupWise keeps it: the signature as an attachment of
// the record, the message as it arrived as Mime.822.
void AddSigned(Mailbox *mailbox, Item mail, const std::string &original, const Attachment &signature) {
  mail.msgId = Between(original, "Message-ID: <", ">");
  mail.attachments.push_back(signature);
  Attachment whole;
  whole.name = "Mime.822";
  whole.contentType = "message/rfc822";
  whole.hidden = true;
  whole.data = original;
  mail.attachments.push_back(whole);
  mailbox->AddItem(mail);
}

}  // namespace

void AddDemoOriginals(Mailbox *mailbox, const std::string &inbox) {
  const std::string pgp = CrLf(kDemoPgpSigned);
  AddSigned(mailbox,
            DemoMail(inbox, "2026-03-23T09:30:00Z", "Release v2.4.0 (signed)", "Paula Pratt",
                     "paula.pratt@example.org",
                     "Hi Alice,\n\nthe release tag v2.4.0 is signed; this mail is too.\n\nPaula\n"),
            pgp,
            DemoFile("signature.asc", "application/pgp-signature",
                 "-----BEGIN PGP SIGNATURE-----" +
                     Between(pgp, "-----BEGIN PGP SIGNATURE-----", "-----END PGP SIGNATURE-----") +
                     "-----END PGP SIGNATURE-----\r\n"));

  const std::string smime = CrLf(kDemoSmimeSigned);
  std::string signature;
  DecodeBase64(Between(Between(smime, "name=\"smime.p7s\"", "\r\n------"), "\r\n\r\n", "\r\n\r\n") + "\r\n",
               &signature);
  AddSigned(mailbox,
            DemoMail(inbox, "2026-03-24T14:00:00Z", "Offer (S/MIME signed)", "Sam Smith", "sam.smith@example.net",
                     "Hi Alice,\n\nthe signed offer follows by post.\n\nSam\n"),
            smime, DemoFile("smime.p7s", "application/pkcs7-signature", signature));

  Item parent = DemoMail(inbox, "2026-03-25T08:00:00Z", "Kick-off agenda", "Pat Partner", "pat@partner.example.net",
                         "Hi Alice,\n\nthe agenda for the kick-off: scope, dates, team.\n\nPat\n");
  parent.msgId = "agenda-1.4410@partner.example.net";
  parent.attachments.push_back(OriginalAttachment(parent, ""));
  mailbox->AddItem(parent);
  Item reply = DemoMail(inbox, "2026-03-25T10:15:00Z", "Re: Kick-off agenda", "Quinn Partner",
                        "quinn@partner.example.net", "Hi Alice,\n\nplease add the budget to the agenda.\n\nQuinn\n");
  reply.msgId = "agenda-2.5521@partner.example.net";
  reply.attachments.push_back(OriginalAttachment(
      reply, "In-Reply-To: <agenda-1.4410@partner.example.net>\nReferences: <agenda-1.4410@partner.example.net>\n"));
  mailbox->AddItem(reply);
}

}  // namespace gwsim
