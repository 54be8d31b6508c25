#!/usr/bin/env bash
# Sets up the machine, builds the engine for 32- and 64-bit Windows and runs every test
# under Wine and Xvfb. Ends with CTest's summary.
set -euo pipefail
source "$(dirname "$0")/env.sh"

"$root/scripts/setup.sh"

# A fresh private prefix for every run, so no registration survives from an earlier one.
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
ensure_prefix

for arch in "${arches[@]}"; do build_arch "$arch"; done
# The portable .x parser, natively, with its fuzz target.
cmake -S "$root/tests/native" -B "$build/native" >/dev/null
cmake --build "$build/native" -j"$(nproc)"

cat > "$build/CTestTestfile.cmake" <<CT
subdirs("native" "i686" "x86_64")
CT

trap 'stop_xvfb; wineserver -k 2>/dev/null || true' EXIT
start_xvfb
start_wine_services
cd "$build"
ctest --output-on-failure "$@"
