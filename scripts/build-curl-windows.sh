#!/usr/bin/env bash
# Builds the static libcurl that MVGWS.dll links on 32-bit Windows, from
# Debian's own source package of the curl that the Linux build uses, with
# Schannel (Windows' TLS) and no other library, so that the DLL needs nothing
# but system DLLs. The result is cached outside the work tree; a second run
# with the same version does nothing.
#
# Usage: build-curl-windows.sh TOOLCHAIN_FILE
# Prints the install prefix on its last line. Needs mingw-w64, cmake, ninja
# and a deb-src entry for the suite (build-windows.sh sees to those).
set -euo pipefail

toolchain=${1:?toolchain file}
# Pinned: Debian 12's libcurl4-openssl-dev. Change it together with the suite.
CURL_PINNED_VERSION=7.88.1-10+deb12u15
cache=${MVGWS_CACHE:-/var/cache/mvgws}
CURL_DEBIAN_VERSION=$CURL_PINNED_VERSION
# The security archive keeps only a package's newest version: once the pinned
# one is gone, the suite's current one (the one the Linux build installs) is
# built instead, and said so.
if [ ! -f "$cache/curl-$CURL_PINNED_VERSION-i686/.built" ]; then
  available=$(apt-cache showsrc curl 2>/dev/null | awk '/^Version:/ {print $2}')
  if [ -n "$available" ] && ! grep -qxF "$CURL_PINNED_VERSION" <<< "$available"; then
    CURL_DEBIAN_VERSION=$(sort -V <<< "$available" | tail -n 1)
    echo "warning: curl $CURL_PINNED_VERSION is no longer in the archive; building $CURL_DEBIAN_VERSION" >&2
  fi
fi
CURL_UPSTREAM_VERSION=${CURL_DEBIAN_VERSION%%-*}
prefix="$cache/curl-$CURL_DEBIAN_VERSION-i686"
stamp="$prefix/.built"

if [ -f "$stamp" ]; then
  echo "libcurl $CURL_DEBIAN_VERSION for i686 is cached in $prefix" >&2
  echo "$prefix"
  exit 0
fi

src="$cache/src"
mkdir -p "$src"
cd "$src"
if [ ! -f "curl_$CURL_UPSTREAM_VERSION.orig.tar.gz" ] || [ ! -f "curl_$CURL_DEBIAN_VERSION.debian.tar.xz" ]; then
  apt-get source --download-only "curl=$CURL_DEBIAN_VERSION" >&2
fi

work="$cache/build-curl-$CURL_DEBIAN_VERSION-i686"
rm -rf "$work"
mkdir -p "$work"
tar -xzf "curl_$CURL_UPSTREAM_VERSION.orig.tar.gz" -C "$work"
tree="$work/curl-$CURL_UPSTREAM_VERSION"
tar -xJf "curl_$CURL_DEBIAN_VERSION.debian.tar.xz" -C "$tree"

# Debian's patches in their order (security fixes among them), without the two
# last ones, which only rename the library for the GnuTLS and NSS flavours
# (Debian's own OpenSSL flavour leaves them out the same way).
(cd "$tree" &&
  sed -e 's/#.*//' -e '/^[[:space:]]*$/d' debian/patches/series |
  grep -v -e '^90_gnutls' -e '^99_nss' |
  while read -r p; do patch -p1 -s -N < "debian/patches/$p" >&2; done)

# HTTP and HTTPS only, TLS through Schannel, static, no compression, IDN,
# PSL, HTTP/2, SSH or LDAP libraries.
curl_flags=(
  -DCMAKE_TOOLCHAIN_FILE="$toolchain"
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$prefix"
  -DBUILD_SHARED_LIBS=OFF
  -DBUILD_CURL_EXE=OFF
  -DBUILD_TESTING=OFF
  -DHTTP_ONLY=ON
  -DCURL_USE_SCHANNEL=ON
  -DCURL_USE_OPENSSL=OFF
  -DCURL_USE_LIBSSH2=OFF
  -DCURL_USE_LIBSSH=OFF
  -DCURL_USE_GSSAPI=OFF
  -DCURL_ZLIB=OFF
  -DCURL_BROTLI=OFF
  -DCURL_ZSTD=OFF
  -DUSE_NGHTTP2=OFF
  -DUSE_LIBIDN2=OFF
  -DUSE_WIN32_IDN=OFF
  -DCURL_DISABLE_LDAP=ON
  -DCURL_DISABLE_LDAPS=ON
  -DENABLE_MANUAL=OFF
  -DENABLE_UNIX_SOCKETS=OFF
  -DCURL_CA_BUNDLE=none
  -DCURL_CA_PATH=none
)
echo "libcurl configure flags: ${curl_flags[*]}" >&2
cmake -S "$tree" -B "$work/build" -G Ninja "${curl_flags[@]}" >&2
cmake --build "$work/build" -j "$(nproc)" >&2
rm -rf "$prefix"
cmake --install "$work/build" >&2
printf '%s\n' "${curl_flags[@]}" > "$prefix/configure-flags.txt"
rm -rf "$work"
touch "$stamp"
echo "$prefix"
