#!/usr/bin/env bash
# Export of N Internet mails with attachments from gwsim, once as received
# (each mail's original message) and once converted (--no-originals): the
# items per second of a plain run, then the bytes the simulator sent and
# received in a second run with strace counting its socket calls. Run from
# the source tree after a build:
#   scripts/bench-originals.sh [N] [ATTACHMENTS] [BYTES]
set -euo pipefail
n=${1:-1000}
per=${2:-2}
size=${3:-20000}
bin=${BIN:-"$(dirname "$0")/../build/bin"}
work=$(mktemp -d)
gwsim_pid=""
trap '[ -n "$gwsim_pid" ] && kill "$gwsim_pid" 2>/dev/null; rm -rf "$work"' EXIT
"$bin/gwsim" --port 0 --generate-items "$n" --attachments-per-item "$per" --attachment-size "$size" --originals \
  > "$work/gwsim.out" 2>&1 &
gwsim_pid=$!
for _ in $(seq 1 600); do grep -q '^http' "$work/gwsim.out" && break; sleep 0.1; done
url=$(grep -m1 '^http' "$work/gwsim.out")
printf 'secret\n' > "$work/pw"
chmod 600 "$work/pw"
export_run() {  # mode, output directory
  local extra=()
  [ "$1" = converted ] && extra=(--no-originals)
  "$bin/mvmigrate" -q --out "$2" export --server "$url" --user alice --password-file "$work/pw" \
    --no-rules "${extra[@]}" > "$2.summary"
}
echo "$n mails, $per attachments of $size bytes each"
for mode in received converted; do
  start=$(date +%s.%N)
  export_run "$mode" "$work/$mode"
  end=$(date +%s.%N)
  strace -f -qq -e trace=sendto,sendmsg,recvfrom,recvmsg -e signal=none -o "$work/$mode.trace" -p "$gwsim_pid" &
  strace_pid=$!
  sleep 1
  export_run "$mode" "$work/$mode-traced"
  kill "$strace_pid"
  wait "$strace_pid" 2>/dev/null || true
  sent=$(awk '/^[0-9]+ +send/ && $NF ~ /^[0-9]+$/ {s += $NF} END {print s + 0}' "$work/$mode.trace")
  got=$(awk '/^[0-9]+ +recv/ && $NF ~ /^[0-9]+$/ {s += $NF} END {print s + 0}' "$work/$mode.trace")
  awk -v m="$mode" -v n="$n" -v s="$start" -v e="$end" -v sent="$sent" -v got="$got" \
    'BEGIN { printf "%-10s %7.1f items/s  %6.2f s  server sent %.1f MB, received %.2f MB\n", m, n / (e - s), e - s, sent / 1e6, got / 1e6 }'
  du -sb "$work/$mode/mail" | awk -v m="$mode" '{ printf "%-10s Maildir %.1f MB\n", m, $1 / 1e6 }'
done
