#!/usr/bin/env bash
# The demo with its scene missing: a copy of the client in a folder without demo_assets. Every
# failing engine call must be printed once with the engine's own description, the demo must
# keep running to its time limit (drawing its text) and then report the failures with exit
# code 1 rather than crash.
#   demo_missing_models.sh CLIENT.EXE   (REGSVR32 names the regsvr32 command, whose loader runs it)
set -uo pipefail
client=$1
loader=${REGSVR32%% *}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$client" "$dir/demo_client.exe"

out=$("$loader" "$dir/demo_client.exe" 3 2>&1 </dev/null | tr -d '\r')
status=${PIPESTATUS[0]}
printf '%s\n' "$out"
failed=0
fail() { echo "FAIL: $1"; failed=1; }
[ "$status" -eq 1 ] || fail "exit code $status, expected 1"
for model in ground.x crate.x crate.gltf ball.x figure.x; do
  line=$(grep -E "^demo: model_load $model failed: " <<<"$out")
  [ -n "$line" ] || { fail "no failure printed for $model"; continue; }
  grep -q 'demo_assets' <<<"$line" || fail "the description does not name the missing file: $line"
  grep -Eq '\(0x8[0-9A-F]{7}\)$' <<<"$line" || fail "no HRESULT in: $line"
done
grep -q '^time is up$' <<<"$out" || fail "the demo did not run to its time limit"
grep -Eq '^frame rate: FrameRate [0-9]+, Frameratemax [1-9]' <<<"$out" || fail "no frames measured"
grep -Eq '^demo: [1-9][0-9]* calls failed$' <<<"$out" || fail "no count of failed calls"
[ "$failed" = 0 ] && echo "every check passed"
exit "$failed"
