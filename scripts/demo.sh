#!/usr/bin/env bash
# Sets up the machine, builds the engine, registers it in the private Wine prefix and runs the
# demo: the 32-bit engine where this machine runs 32-bit programs, the 64-bit one otherwise.
#
#   demo.sh [SECONDS]      (20 when left out; Escape ends it sooner)
#
# On the user's display when there is one that answers: the user drives it with the keys
# (W wireframe, S solid, P points, L light, Escape). Otherwise under an Xvfb display of its
# own, with the keys sent by xdotool. Either way the pictures of the running demo are saved
# under the build tree, in build/ARCH/demo-pictures, and their paths printed with the
# frame-rate figures.
set -euo pipefail
source "$(dirname "$0")/env.sh"
host32_check

"$root/scripts/setup.sh"
ensure_prefix
arch=$(client_arch)
echo "demo: the $arch engine"
build_arch "$arch"
loader=$(loader_of "$arch")
system=$(system_dir_of "$arch")
seconds=${1:-20}

trap 'stop_xvfb; wineserver -k 2>/dev/null || true' EXIT
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "demo: on display $DISPLAY for $seconds seconds"
  drive=()
else
  start_xvfb
  echo "demo: no display to show it on; running under Xvfb ($DISPLAY), keys sent with xdotool"
  drive=(--drive)
fi
start_wine_services
"$loader" "$system\\regsvr32.exe" /s "$(winpath "$build/$arch/bin/dx8engine.dll")"
"$loader" "$system\\cscript.exe" //nologo "$(winpath "$root/samples/script_client.vbs")"
bash "$root/samples/run_demo.sh" "${drive[@]}" "$loader" "$build/$arch/bin/demo_client.exe" "$seconds" \
  "$build/$arch/demo-pictures"
