#!/usr/bin/env bash
# Builds the static SQLite that the Windows MVCOM.dll links, from Debian's own
# source package of the SQLite that the Linux build uses: the amalgamation is
# made from the patched source tree with the native compiler and tclsh, then
# compiled for i686 Windows. The result is cached outside the work tree; a
# second run with the same version does nothing.
#
# Usage: build-sqlite-windows.sh
# Prints the install prefix (include/, lib/) on its last line. Needs
# mingw-w64, gcc, make, tclsh and a deb-src entry (build-windows.sh sees to those).
set -euo pipefail

# Pinned: Debian 12's libsqlite3-dev. Change it together with the suite.
SQLITE_PINNED_VERSION=3.40.1-2+deb12u2
cache=${MVGWS_CACHE:-/var/cache/mvgws}
SQLITE_DEBIAN_VERSION=$SQLITE_PINNED_VERSION
# The security archive keeps only a package's newest version: once the pinned
# one is gone, the suite's current one (the one the Linux build installs) is
# built instead, and said so.
if [ ! -f "$cache/sqlite-$SQLITE_PINNED_VERSION-i686/.built" ]; then
  available=$(apt-cache showsrc sqlite3 2>/dev/null | awk '/^Version:/ {print $2}')
  if [ -n "$available" ] && ! grep -qxF "$SQLITE_PINNED_VERSION" <<< "$available"; then
    SQLITE_DEBIAN_VERSION=$(sort -V <<< "$available" | tail -n 1)
    echo "warning: sqlite3 $SQLITE_PINNED_VERSION is no longer in the archive; building $SQLITE_DEBIAN_VERSION" >&2
  fi
fi
SQLITE_UPSTREAM_VERSION=${SQLITE_DEBIAN_VERSION%%-*}
prefix="$cache/sqlite-$SQLITE_DEBIAN_VERSION-i686"
stamp="$prefix/.built"
cc=i686-w64-mingw32-gcc-win32

if [ -f "$stamp" ]; then
  echo "SQLite $SQLITE_DEBIAN_VERSION for i686 is cached in $prefix" >&2
  echo "$prefix"
  exit 0
fi

src="$cache/src"
mkdir -p "$src"
cd "$src"
if [ ! -f "sqlite3_$SQLITE_UPSTREAM_VERSION.orig.tar.xz" ] || [ ! -f "sqlite3_$SQLITE_DEBIAN_VERSION.debian.tar.xz" ]; then
  apt-get source --download-only "sqlite3=$SQLITE_DEBIAN_VERSION" >&2
fi

work="$cache/build-sqlite-$SQLITE_DEBIAN_VERSION-i686"
rm -rf "$work"
mkdir -p "$work"
tar -xJf "sqlite3_$SQLITE_UPSTREAM_VERSION.orig.tar.xz" -C "$work"
tree="$work/sqlite3-$SQLITE_UPSTREAM_VERSION"
tar -xJf "sqlite3_$SQLITE_DEBIAN_VERSION.debian.tar.xz" -C "$tree"
(cd "$tree" &&
  sed -e 's/#.*//' -e '/^[[:space:]]*$/d' debian/patches/series |
  while read -r p; do patch -p1 -s -N < "debian/patches/$p" >&2; done)

# The amalgamation is generated on the build machine (native tools).
mkdir -p "$work/native"
(cd "$work/native" && "$tree/configure" --disable-tcl --disable-readline >&2 && make sqlite3.c >&2)

# Single-threaded use inside one host process; no extension loading.
sqlite_flags=(-O2 -DSQLITE_THREADSAFE=0 -DSQLITE_OMIT_LOAD_EXTENSION)
echo "SQLite compile flags: ${sqlite_flags[*]}" >&2
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"
"$cc" "${sqlite_flags[@]}" -c "$work/native/sqlite3.c" -o "$work/sqlite3.o"
i686-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" "$work/sqlite3.o"
cp "$work/native/sqlite3.h" "$prefix/include/"
printf '%s\n' "${sqlite_flags[@]}" > "$prefix/compile-flags.txt"
rm -rf "$work"
touch "$stamp"
echo "$prefix"
