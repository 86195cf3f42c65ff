#!/usr/bin/env bash
# Builds the 32-bit Windows MVGWS.dll (with MVCOM.dll and the test host
# mvwinhost.exe) into build-windows/bin/, checks its export and import tables
# and runs mvwinhost.exe under Wine against the Linux gwsim (the Windows
# build's own ctest). As root on Debian 12; installs what is missing:
# mingw-w64, Wine (32-bit, with the i386 architecture) and the deb-src entries
# for Debian's curl and SQLite sources, which are built once into
# /var/cache/mvgws (MVGWS_CACHE) and reused after that.
#
# Usage: scripts/build-windows.sh [--no-run]    (--no-run: build and table checks only)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run_wine=1
[ "${1:-}" = --no-run ] && run_wine=0
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# Debian's source packages of the libraries we build for Windows.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  cat > /etc/apt/sources.list.d/mvgws-deb-src.sources <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  need_update=1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
packages=(g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 cmake ninja-build make gcc tcl patch xz-utils ccache)
[ $run_wine -eq 1 ] && packages+=(wine wine32 libgnutls30:i386)
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ "${need_update:-0}" = 1 ] || [ ${#missing[@]} -gt 0 ]; then apt-get update -qq; fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

toolchain="$root/cmake/mingw-i686.cmake"
start=$(date +%s)
curl_prefix=$("$root/scripts/build-curl-windows.sh" "$toolchain" | tail -n 1)
sqlite_prefix=$("$root/scripts/build-sqlite-windows.sh" | tail -n 1)
echo "== static libraries ready after $(( $(date +%s) - start )) s"

# The Wine run talks to the Linux simulator: use the normal build's, or build
# just that target there. MVGWS_GWSIM names another one.
gwsim="${MVGWS_GWSIM:-$root/build/bin/gwsim}"
if [ $run_wine -eq 1 ] && [ ! -x "$gwsim" ]; then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$root/build" --target gwsim -j "$(nproc)"
fi

launcher=()
command -v ccache > /dev/null && export CCACHE_BASEDIR="$root" && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$root/build-windows" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
  -DMVGWS_CURL_PREFIX="$curl_prefix" -DMVGWS_SQLITE_PREFIX="$sqlite_prefix" \
  -DMVGWS_GWSIM="$([ $run_wine -eq 1 ] && echo "$gwsim")"
cmake --build "$root/build-windows" -j "$(nproc)"
echo "== built after $(( $(date +%s) - start )) s: $root/build-windows/bin/MVGWS.dll ($(stat -c %s "$root/build-windows/bin/MVGWS.dll") bytes), MVCOM.dll, mvwinhost.exe"

if [ $run_wine -eq 1 ]; then
  (cd "$root/build-windows" && ctest --output-on-failure)
else
  (cd "$root/build-windows" && ctest --output-on-failure -R windows_dll)
fi
