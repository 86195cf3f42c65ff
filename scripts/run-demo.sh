#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: mvmigrate against the
# built-in GroupWise simulator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" --target mvmigrate MVGWS gwsim
out=$(mktemp -d /tmp/mvmigrate-demo-XXXXXX)
"$root/build/bin/mvmigrate" --out "$out" demo "$@"
echo "Log: $out/data/mvmigrate.log"
