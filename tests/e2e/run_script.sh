#!/usr/bin/env bash
# Runs a VBScript test with Wine's cscript (CSCRIPT names the host) and passes only when
# the script's own summary line says that every check passed. Wine's cscript exits 0
# even on an unhandled script error, so the exit code alone proves nothing.
set -uo pipefail
source "$(dirname "$0")/../../scripts/winpath.sh"
script=$1
out=$($CSCRIPT //nologo "$(winpath "$script")" 2>&1)
printf '%s\n' "$out"
summary=$(printf '%s\n' "$out" | tr -d '\r' | grep -E '^summary: [0-9]+ passed, [0-9]+ failed$' | tail -n 1)
[ -n "$summary" ] || { echo "no summary line: the script did not run to its end"; exit 1; }
[[ $summary =~ ^summary:\ [1-9][0-9]*\ passed,\ 0\ failed$ ]]
