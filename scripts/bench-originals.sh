#!/usr/bin/env bash
# Export of N Internet mails with attachments from gwsim, once as received
# (each mail's original message) and once converted (--no-originals): the
# items per second and the bytes the simulator sent and received, read from
# its /proc/PID/io (wchar, rchar) around each export. Run from the source
# tree after a build: scripts/bench-originals.sh [N] [ATTACHMENTS] [BYTES].
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
io() { awk -v k="$1" '$1 == k":" {print $2}' "/proc/$gwsim_pid/io"; }
echo "$n mails, $per attachments of $size bytes each"
for mode in received converted; do
  extra=()
  [ "$mode" = converted ] && extra=(--no-originals)
  sent0=$(io wchar); got0=$(io rchar); start=$(date +%s.%N)
  "$bin/mvmigrate" -q --out "$work/$mode" export --server "$url" --user alice --password-file "$work/pw" \
    --no-rules "${extra[@]}" > "$work/$mode.summary"
  end=$(date +%s.%N); sent1=$(io wchar); got1=$(io rchar)
  awk -v m="$mode" -v n="$n" -v s="$start" -v e="$end" -v sent=$((sent1 - sent0)) -v got=$((got1 - got0)) \
    'BEGIN { printf "%-10s %7.1f items/s  %6.2f s  server sent %.1f MB, received %.2f MB\n", m, n / (e - s), e - s, sent / 1e6, got / 1e6 }'
  du -sb "$work/$mode/mail" | awk -v m="$mode" '{ printf "%-10s Maildir %.1f MB\n", m, $1 / 1e6 }'
done
