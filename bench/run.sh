#!/usr/bin/env bash
# Builds the 32-bit engine, registers it in the private prefix and runs the benchmarks under
# Xvfb, printing their figures and ratios.
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
"$root/scripts/setup.sh"
ensure_prefix
build_arch i686 >/dev/null
trap 'stop_xvfb; wineserver -k 2>/dev/null || true' EXIT
start_xvfb
start_wine_services
"$wine32" 'c:\windows\syswow64\regsvr32.exe' /s "$(winepath -w "$build/i686/bin/dx8engine.dll")"
"$wine32" "$build/i686/bin/frame_text_bench.exe" "${1:-500}"
xfiles=$(cd "$root/../shared/xfiles" && pwd)
XFILES=$xfiles "$wine32" "$build/i686/bin/loader_bench.exe" 5
cmake -S "$root/bench/native" -B "$build/bench-native" >/dev/null
cmake --build "$build/bench-native" -j"$(nproc)" >/dev/null
"$build/bench-native/parser_bench" "$xfiles" 20
