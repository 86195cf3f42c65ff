#!/usr/bin/env bash
# Long fuzz runs, one target at a time at the lowest priority: each target
# of build-fuzz runs until it has done RUNS executions (default 10 million)
# or finds something, growing its corpus in LOGDIR/corpus/<target> (seeded
# from fuzz/corpus, never committed); its log is LOGDIR/<target>.log (appended to) and a
# finding's input LOGDIR/<target>-crash-*.
# Usage: scripts/fuzz-long.sh [-r RUNS] [-t SECONDS] [-d LOGDIR] [TARGET...]
#   (defaults: every target, LOGDIR build-fuzz/long-runs, binaries from
#   build-fuzz/bin or FUZZ_BIN when set; -t also ends each
#   run after SECONDS, for a first pass over every target). The targets make
#   and delete several files per execution: a TMPDIR on a tmpfs makes them
#   several times faster than a disk's file system.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=10000000
logdir="$root/build-fuzz/long-runs"
limit=()
while getopts "r:t:d:" opt; do
  case $opt in
    r) runs=$OPTARG ;;
    t) limit=(-max_total_time="$OPTARG") ;;
    d) logdir=$OPTARG ;;
    *) exit 64 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi
mkdir -p "$logdir"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  case $target in
    fuzz_maildir_message) dict="$root/fuzz/maildir.dict" ;;
    fuzz_ical) dict="$root/fuzz/ical.dict" ;;
    fuzz_vcard) dict="$root/fuzz/vcard.dict" ;;
    *) dict="$root/fuzz/answers.dict" ;;
  esac
  mkdir -p "$logdir/corpus/$target"
  # The seeds are copied in rather than passed as a second corpus, so that
  # nothing the run finds or reduces can land in the source tree.
  cp -n "$root/fuzz/corpus/$target"/* "$logdir/corpus/$target"/ 2>/dev/null
  echo "$(date -u +%FT%TZ) $target: start" >> "$logdir/summary.txt"
  # -close_fd_mask=2: the host library repeats its error lines on stderr,
  # gigabytes over ten million runs; libFuzzer and the sanitizers still
  # report there.
  nice -n 19 "${FUZZ_BIN:-$root/build-fuzz/bin}/$target" "$logdir/corpus/$target" \
    -dict="$dict" -runs="$runs" "${limit[@]}" -close_fd_mask=2 -print_final_stats=1 \
    -artifact_prefix="$logdir/$target-" \
    >> "$logdir/$target.log" 2>&1
  rc=$?
  done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logdir/$target.log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$logdir/$target.log" | tail -1)
  echo "$(date -u +%FT%TZ) $target: exit $rc, ${done_runs:-?} executions, ${rate:-?}/s" >> "$logdir/summary.txt"
done
