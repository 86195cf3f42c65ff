#!/usr/bin/env bash
# Runs mvwinhost.exe under Wine against a gwsim started here on loopback.
#   run_wine_host.sh GWSIM HOST_EXE WORK_DIR [--tls] -- HOST_ARGS...
# gwsim is the Linux simulator; it prints its URL, which is handed to the host
# as --server, with --dir WORK_DIR (as a Windows path). Wine uses a private
# prefix under WORK_DIR's parent. Exits with the host's exit code.
set -euo pipefail
gwsim=$1 host=$2 work=$3
shift 3
sim_args=(--port 0)
if [ "${1:-}" = --tls ]; then sim_args+=(--tls); shift; fi
[ "${1:-}" = -- ] && shift

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$(dirname "$work")/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine || true)
[ -n "$wine" ] || { echo "wine is not installed (scripts/build-windows.sh installs it)"; exit 1; }

"$gwsim" "${sim_args[@]}" > "$work/gwsim.out" 2> "$work/gwsim.err" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
url=
for _ in $(seq 1 100); do
  url=$(head -n 1 "$work/gwsim.out" 2>/dev/null || true)
  [ -n "$url" ] && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
[ -n "$url" ] || { echo "gwsim printed no URL:"; cat "$work/gwsim.err"; exit 1; }
echo "gwsim at $url"

windir="Z:$(printf '%s' "$work/host" | tr '/' '\\')"
cd "$(dirname "$host")"
status=0
"$wine" "$(basename "$host")" --server "$url" --dir "$windir" "$@" || status=$?
if [ $status -ne 0 ] && [ -f "$work/host/data/mvmigrate.log" ]; then
  echo "--- the host's log:"
  tail -n 40 "$work/host/data/mvmigrate.log"
fi
exit $status
