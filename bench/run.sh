#!/usr/bin/env bash
# Builds the engine, registers it in the private prefix and runs the benchmarks under Xvfb,
# printing their figures and ratios: the 32-bit engine where this machine runs 32-bit
# programs, the 64-bit one otherwise.
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
host32_check
"$root/scripts/setup.sh"
ensure_prefix
arch=$(client_arch)
echo "benchmarks: the $arch engine"
build_arch "$arch" >/dev/null
loader=$(loader_of "$arch")
trap 'stop_xvfb; wineserver -k 2>/dev/null || true' EXIT
start_xvfb
start_wine_services
"$loader" "$(system_dir_of "$arch")\\regsvr32.exe" /s "$(winpath "$build/$arch/bin/dx8engine.dll")"
"$loader" "$build/$arch/bin/frame_text_bench.exe" "${1:-500}"
xfiles=$(cd "$root/../shared/xfiles" && pwd)
XFILES=$xfiles "$loader" "$build/$arch/bin/loader_bench.exe" 5
cmake -S "$root/bench/native" -B "$build/bench-native" >/dev/null
cmake --build "$build/bench-native" -j"$(nproc)" >/dev/null
"$build/bench-native/parser_bench" "$xfiles" 20
