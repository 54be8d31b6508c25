#!/usr/bin/env bash
# Sets up the machine, builds the engine, registers it in the private Wine prefix and runs the
# demo client under Xvfb: the 32-bit engine where this machine runs 32-bit programs, the
# 64-bit one otherwise.
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

trap 'stop_xvfb; wineserver -k 2>/dev/null || true' EXIT
start_xvfb
start_wine_services
"$loader" "$system\\regsvr32.exe" /s "$(winpath "$build/$arch/bin/dx8engine.dll")"
"$loader" "$system\\cscript.exe" //nologo "$(winpath "$root/samples/hello.vbs")"
"$loader" "$build/$arch/bin/demo_client.exe" "${1:-5}"
