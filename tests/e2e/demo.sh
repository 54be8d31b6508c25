#!/usr/bin/env bash
# The demo end to end, as scripts/demo.sh runs it where nobody watches: the demo client on
# the Xvfb display, driven with xdotool (W, P, S, L, then Escape). Passes when the demo quit
# on Escape with exit code 0 and printed its frame rate, and its pictures show what each key
# should have done.
#   demo.sh CLIENT.EXE PICTURE_FOLDER   (REGSVR32 names the regsvr32 command, whose loader runs it)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
client=$1 pictures=$2
loader=${REGSVR32%% *}

out=$(bash "$here/../../samples/run_demo.sh" --drive "$loader" "$client" 60 "$pictures")
status=$?
printf '%s\n' "$out"
failed=0
fail() { echo "FAIL: $1"; failed=1; }
[ "$status" -eq 0 ] || fail "the demo exited with $status"
grep -q '^Escape: quitting$' <<<"$out" || fail "Escape did not end the demo"
grep -Eq '^display modes: [1-9]' <<<"$out" || fail "no display modes listed"
grep -Eq '^frame rate: FrameRate [0-9]+, Frameratemax [1-9][0-9]*, frameratemin [0-9]+ ' <<<"$out" ||
  fail "no frame rate measured"
grep -Eq '^(demo|run_demo): ' <<<"$out" && fail "the demo or its driver reported errors"
python3 "$here/demo_pictures.py" "$pictures" || failed=1
exit "$failed"
