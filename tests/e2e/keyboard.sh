#!/usr/bin/env bash
# Runs the keyboard client under Wine and Xvfb and types at it with xdotool: focuses its
# window, holds 'A', releases it, then presses Escape, which ends the client's loop. Passes
# when the client's own summary says every check passed.
#   keyboard.sh CLIENT.EXE      (REGSVR32 names the regsvr32 command, whose loader runs it)
set -uo pipefail
client=$1
loader=${REGSVR32%% *}
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$loader" "$client" >"$out" 2>&1 </dev/null &
pid=$!

# The window is shown once the keyboard is open. A search can fail outright when another
# window goes away while it runs, so it is simply tried again.
wid=
for _ in $(seq 120); do
  wid=$(xdotool search --onlyvisible --name '^dx8engine keyboard client$' 2>/dev/null | head -n 1)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$wid" ]; then
  echo "the client's window did not appear"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; cat "$out"; exit 1
fi
timeout 10 xdotool windowfocus --sync "$wid" || xdotool windowfocus "$wid"
sleep 1
# Held for less than the X server's auto-repeat delay, so the key goes down once.
xdotool keydown a
sleep 0.5
xdotool keyup a
sleep 0.5
# Escape is held across a poll too: a key pressed and released between two polls raises
# nothing.
xdotool keydown Escape
sleep 0.3
xdotool keyup Escape

# The client ends by itself after Escape, or after its own time limit.
for _ in $(seq 60); do kill -0 "$pid" 2>/dev/null || break; sleep 1; done
kill "$pid" 2>/dev/null
wait "$pid"
tr -d '\r' <"$out"
summary=$(tr -d '\r' <"$out" | grep -E '^summary: [0-9]+ passed, [0-9]+ failed$' | tail -n 1)
[ -n "$summary" ] || { echo "no summary line: the client did not run to its end"; exit 1; }
[[ $summary =~ ^summary:\ [1-9][0-9]*\ passed,\ 0\ failed$ ]]
