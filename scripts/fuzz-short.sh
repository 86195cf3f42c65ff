#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one briefly from its seeds:
# one line per target with the executions done; exits non-zero on the
# first finding (its input is kept in the temporary directory named).
# Usage: scripts/fuzz-short.sh [SECONDS_PER_TARGET]   (default 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
build="$root/build-fuzz"
launcher=()
if command -v ccache > /dev/null; then
  export CCACHE_BASEDIR="$root"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMVGWS_FUZZ=ON -DMVGWS_TESTS=OFF -DMVGWS_BENCH=OFF "${launcher[@]}" > /dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets > /dev/null
work=$(mktemp -d /tmp/mvgws-fuzz-short-XXXXXX)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for seeds in "$root"/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  mkdir -p "$work/$target"
  # Seeds are copied, never passed as a corpus: a run may write into its
  # corpus directories, and the tree must stay as it is.
  cp "$seeds"* "$work/$target"/
  case $target in
    fuzz_maildir_message) dict=(-dict="$root/fuzz/maildir.dict") ;;
    fuzz_ical) dict=(-dict="$root/fuzz/ical.dict") ;;
    fuzz_vcard) dict=(-dict="$root/fuzz/vcard.dict") ;;
    *) dict=(-dict="$root/fuzz/answers.dict") ;;
  esac
  log="$work/$target.log"
  if "$build/bin/$target" "$work/$target" "${dict[@]}" -max_total_time="$seconds" \
       -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$work/$target-" > "$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf '%-22s %10s executions, no finding\n' "$target" "${runs:-?}"
  else
    printf '%-22s FINDING (log and input in %s)\n' "$target" "$work"
    tail -40 "$log"
    status=1
  fi
done
[ $status -eq 0 ] && rm -rf "$work"
exit $status
