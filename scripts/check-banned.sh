#!/usr/bin/env bash
# Fails when an unbounded or unsafe C string function appears in our sources.
# Run by the build (target banned_functions) and by CI.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
pattern='\b(strcpy|strncpy|strcat|sprintf|vsprintf|gets|sscanf|atoi|strtok)[[:space:]]*\('
dirs=()
for d in plugin transport folders reader writer platform host gwsim tests bench fuzz; do
  [ -d "$d" ] && dirs+=("$d")
done
# Comments may name the functions (to say what not to use); code may not.
hits=$(grep -rnE --include='*.c' --include='*.cc' --include='*.cpp' --include='*.h' --include='*.hpp' \
         "$pattern" "${dirs[@]}" | grep -vE '^[^:]+:[0-9]+:[[:space:]]*(//|\*)' || true)
if [ -n "$hits" ]; then
  echo "Banned string functions found (use platform/bounded_text.h):" >&2
  echo "$hits" >&2
  exit 1
fi
exit 0
