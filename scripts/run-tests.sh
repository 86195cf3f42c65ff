#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: a
# normal build, one with AddressSanitizer and UndefinedBehaviorSanitizer, and
# one with ThreadSanitizer (for the host's threads).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/check-banned.sh" "$root"
jobs=$(nproc)
# ccache (installed with the dependencies) makes a rebuild in another clone
# of the tree cheap; paths below the root are hashed relative to it.
launcher=()
if command -v ccache > /dev/null; then
  export CCACHE_BASEDIR="$root"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

echo "== normal build =="
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVGWS_BENCH=ON "${launcher[@]}"
cmake --build "$root/build" -j "$jobs"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build =="
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMVGWS_SANITIZE=ON -DMVGWS_BENCH=OFF "${launcher[@]}"
cmake --build "$root/build-asan" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs")

echo "== thread sanitizer build =="
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVGWS_TSAN=ON -DMVGWS_BENCH=OFF "${launcher[@]}"
cmake --build "$root/build-tsan" -j "$jobs"
# A race found stops the program (exit 66), which fails its test.
(cd "$root/build-tsan" && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j "$jobs")

echo "== fuzz targets, a short run of each =="
"$root/scripts/fuzz-short.sh"
