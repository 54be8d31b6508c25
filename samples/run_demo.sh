#!/usr/bin/env bash
# Runs the demo client on the current X display and saves its pictures. With --drive it plays
# the user with xdotool, for a display nobody watches: it waits for the first picture (solid
# fill), then holds W, P, S and L in turn, each until the demo has saved the picture of the
# state it leads to, and finally Escape. Prints the pictures' paths and the frame-rate line;
# exits with the demo's exit code.
#
#   run_demo.sh [--drive] LOADER CLIENT.EXE SECONDS PICTURE_FOLDER
set -uo pipefail
source "$(dirname "$0")/../scripts/winpath.sh"
drive=0
if [ "${1:-}" = --drive ]; then drive=1; shift; fi
loader=$1 client=$2 seconds=$3 pictures=$4

mkdir -p "$pictures"
rm -f "$pictures"/*.png
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$loader" "$client" "$seconds" "$(winpath "$pictures")" >"$out" 2>&1 </dev/null &
pid=$!
tail -n +1 -f --pid="$pid" "$out" | tr -d '\r' &
shown=$!

# Waits up to $2 seconds for a line of the demo's output matching $1.
wait_for() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    tr -d '\r' <"$out" | grep -Eq "$1" && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Holds a key long enough for the demo's keyboard thread, which polls every 50 ms or so, to see
# it down; a key pressed and released between two polls raises nothing.
press() {
  xdotool keydown "$1"
  sleep 0.3
  xdotool keyup "$1"
}

if [ "$drive" = 1 ]; then
  wid=
  for _ in $(seq 120); do
    wid=$(xdotool search --onlyvisible --name '^Quellbrook dx 8engine demo$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
  done
  if [ -z "$wid" ]; then
    echo "run_demo: the demo's window did not appear"
  elif ! wait_for '^picture: solid ' 60; then
    echo "run_demo: the demo saved no picture of its first frames"
  else
    timeout 10 xdotool windowfocus --sync "$wid" || xdotool windowfocus "$wid"
    sleep 0.5
    for step in w:wireframe p:point s:solid l:solid-light-off; do
      key=${step%%:*} picture=${step#*:}
      press "$key"
      # Solid fill was pictured at the start: S is seen in the demo's key line instead.
      if [ "$picture" = solid ]; then
        wait_for '^key 31: fill solid' 10 || echo "run_demo: S changed nothing"
      else
        wait_for "^picture: $picture " 10 || echo "run_demo: no picture after pressing ${key^^}"
      fi
    done
    press Escape
  fi
fi

wait "$pid"
status=$?
wait "$shown" 2>/dev/null
echo "pictures:"
found=0
for f in "$pictures"/*.png; do
  [ -e "$f" ] || continue
  echo "  $f"
  found=1
done
[ "$found" = 1 ] || echo "  none"
tr -d '\r' <"$out" | grep -E '^frame rate:' || echo "run_demo: the demo printed no frame rate"
exit "$status"
