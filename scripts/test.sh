#!/usr/bin/env bash
# Sets up the machine, builds the engine for 32- and 64-bit Windows and runs every test
# under Wine and Xvfb, several at once. Ends with CTest's summary.
#
# Where this machine does not run 32-bit programs (or DX8ENGINE_NO_NATIVE32=1 says to act as
# if), the 32-bit suite is replaced by a smoke under qemu-user emulation, or, where that cannot
# be set up, by one skipped test that says why.
set -euo pipefail
source "$(dirname "$0")/env.sh"
host32_check

"$root/scripts/setup.sh"
if [ "$DX8ENGINE_HOST32" = native ] && ! wine32_installed; then
  DX8ENGINE_HOST32=none
  DX8ENGINE_HOST32_WHY="Wine's 32-bit side could not be installed"
  echo "32-bit programs: not run here after all: $DX8ENGINE_HOST32_WHY."
fi

# A fresh private prefix for every run, so no registration survives from an earlier one.
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
ensure_prefix

for arch in "${arches[@]}"; do build_arch "$arch"; done
# The portable .x parser, natively, with its fuzz target.
cmake -S "$root/tests/native" -B "$build/native" >/dev/null
cmake --build "$build/native" -j"$(nproc)"

if [ "$DX8ENGINE_HOST32" = native ]; then
  suites=(native i686 x86_64)
else
  suites=(native x86_64 emulated32)
  mode=skipped
  if ! wine32_installed; then
    why="Wine's 32-bit side is not installed"
  elif ! why=$(emulation_start); then
    :
  else
    emulation_stop
    mode=emulated
    why=
  fi
  [ -z "$why" ] || why="$DX8ENGINE_HOST32_WHY, and qemu-user emulation is not available ($why)"
  cmake -S "$root/tests/emulated32" -B "$build/emulated32" -DMODE="$mode" -DWHY="$why" \
    -DBIN32="$build/i686/bin" >/dev/null
  if [ "$mode" = emulated ]; then
    echo "32-bit programs: the 32-bit engine runs as a smoke under qemu-user emulation."
  else
    echo "32-bit programs: the 32-bit DLL is built and its type library checked, but not run: $why."
  fi
fi
printf 'subdirs(' >"$build/CTestTestfile.cmake"
printf '"%s" ' "${suites[@]}" >>"$build/CTestTestfile.cmake"
printf ')\n' >>"$build/CTestTestfile.cmake"

trap 'stop_xvfb; wineserver -k 2>/dev/null || true; WINEPREFIX=$build/wineprefix-i686-emulated wineserver -k 2>/dev/null || true; emulation_stop' EXIT
# One test more at once than the machine has cores: Wine's tests wait on the wineserver, the X
# server and their scripts' pauses often enough to leave a core idle. Under qemu the emulated
# smoke keeps every core busy, so there it is one test per core. CTEST_PARALLEL_LEVEL sets
# another number. Each test that opens windows has a display of its own, listed in displays.json.
if [ "${mode:-}" = emulated ]; then jobs=$(nproc); else jobs=$(($(nproc) + 1)); fi
jobs=${CTEST_PARALLEL_LEVEL:-$jobs}
start_displays "$jobs" "$build/displays.json"
start_wine_services
cd "$build"
ctest -j"$jobs" --resource-spec-file "$build/displays.json" --output-on-failure "$@"
