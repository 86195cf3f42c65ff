#!/usr/bin/env bash
# Makes gwsim/demo_signed_mail.inc: the demo mailbox's PGP/MIME and S/MIME
# signed mails as they arrived, signed with keys made for this run only and
# thrown away at its end (no key of anybody's). Line ends are written as LF;
# the simulator serves the mails with CR LF, the form the signatures cover.
set -euo pipefail
out=${1:-"$(dirname "$0")/../gwsim/demo_signed_mail.inc"}
work=$(mktemp -d)
trap 'GNUPGHOME="$work/gnupg" gpgconf --kill gpg-agent 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -m 700 "$work/gnupg"
export GNUPGHOME="$work/gnupg"

# PGP/MIME (RFC 3156): the signature covers the first part, CR LF line ends.
gpg --batch --quiet --passphrase '' --quick-gen-key 'Paula Pratt <paula.pratt@example.org>' ed25519 sign never
printf 'Content-Type: text/plain; charset=us-ascii\r\n\r\nHi Alice,\r\n\r\nthe release tag v2.4.0 is signed; this mail is too.\r\n\r\nPaula\r\n' \
  > "$work/part.txt"
gpg --batch --quiet --armor --detach-sign --digest-algo SHA512 --local-user paula.pratt@example.org --output "$work/part.asc" "$work/part.txt"
gpg --batch --quiet --armor --export paula.pratt@example.org > "$work/key.asc"
{
  printf 'From: Paula Pratt <paula.pratt@example.org>\nTo: Alice Anders <alice@example.com>\n'
  printf 'Subject: Release v2.4.0 (signed)\nDate: Mon, 23 Mar 2026 09:30:00 +0000\n'
  printf 'Message-ID: <release-2.4.0.7f3a@example.org>\nMIME-Version: 1.0\n'
  printf 'Content-Type: multipart/signed; micalg=pgp-sha512;\n protocol="application/pgp-signature"; boundary="=-pgp-signed-1"\n\n'
  printf -- '--=-pgp-signed-1\n'
  tr -d '\r' < "$work/part.txt"
  printf -- '\n--=-pgp-signed-1\nContent-Type: application/pgp-signature; name="signature.asc"\n'
  printf 'Content-Description: OpenPGP digital signature\n\n'
  cat "$work/part.asc"
  printf -- '\n--=-pgp-signed-1--\n'
} > "$work/pgp.eml"

# S/MIME: a self-signed certificate, a detached signature (multipart/signed).
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "$work/smime.key" -out "$work/smime.pem" \
  -subj '/CN=Sam Smith/emailAddress=sam.smith@example.net' 2>/dev/null
printf 'Hi Alice,\n\nthe signed offer follows by post.\n\nSam\n' > "$work/smime.txt"
openssl smime -sign -in "$work/smime.txt" -signer "$work/smime.pem" -inkey "$work/smime.key" \
  -from 'Sam Smith <sam.smith@example.net>' -to 'Alice Anders <alice@example.com>' -subject 'Offer (S/MIME signed)' \
  -out "$work/smime-signed.eml"
{
  printf 'Date: Tue, 24 Mar 2026 14:00:00 +0000\nMessage-ID: <offer-2026-03.91c2@example.net>\n'
  tr -d '\r' < "$work/smime-signed.eml"
} > "$work/smime.eml"

{
  echo "// The demo mailbox's signed mails as they arrived. Made by"
  echo "// scripts/make-demo-signed-mail.sh with throwaway keys; do not edit."
  printf 'const char kDemoPgpSigned[] = R"eml('; cat "$work/pgp.eml"; printf ')eml";\n'
  printf 'const char kDemoPgpKey[] = R"eml('; cat "$work/key.asc"; printf ')eml";\n'
  printf 'const char kDemoSmimeSigned[] = R"eml('; cat "$work/smime.eml"; printf ')eml";\n'
  printf 'const char kDemoSmimeCertificate[] = R"eml('; cat "$work/smime.pem"; printf ')eml";\n'
} > "$out"
echo "wrote $out"
