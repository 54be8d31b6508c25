#!/usr/bin/env bash
# Sets up the machine, builds the 32-bit engine, registers it in the private Wine prefix and
# runs the demo client under Xvfb.
set -euo pipefail
source "$(dirname "$0")/env.sh"

"$root/scripts/setup.sh"
ensure_prefix
build_arch i686

trap 'stop_xvfb; wineserver -k 2>/dev/null || true' EXIT
start_xvfb
start_wine_services
"$wine32" 'c:\windows\syswow64\regsvr32.exe' /s "$(winepath -w "$build/i686/bin/dx8engine.dll")"
"$wine32" 'c:\windows\syswow64\cscript.exe' //nologo "$(winepath -w "$root/samples/hello.vbs")"
"$wine32" "$build/i686/bin/demo_client.exe" "${1:-5}"
