#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds with, when missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config binutils
  libcurl4-openssl-dev libsqlite3-dev libcli11-dev libgtest-dev libgmock-dev
  libcpp-httplib-dev libpugixml-dev libbenchmark-dev libssl-dev zlib1g-dev libbrotli-dev
  libgmime-3.0-dev ccache libical-dev libicu-dev tzdata khal todoman)
# The vCard and Sieve tests read exports with khard, Python's vobject and sievec.
packages+=(khard python3-vobject dovecot-sieve)
# The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
packages+=(clang libclang-rt-14-dev)
missing=()
# Attachment types by name (GIO's shared MIME database) and the Python email
# test corpus the round trip over real mail reads.
packages+=(shared-mime-info libpython3.11-testsuite)
# Received mail exported as it arrived: its signatures checked with gpg and
# openssl, its threads with notmuch.
packages+=(gnupg openssl notmuch)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
