#!/usr/bin/env bash
# The 32-bit smoke under qemu-user emulation, in a Wine prefix of its own made while the
# emulation is on (one made without it has no working 32-bit side).
#   emulated32.sh setup DLL      emulation on, the prefix made, the DLL registered
#   emulated32.sh program EXE …  a 32-bit program, with its arguments
#   emulated32.sh script FILE    a script client run by the 32-bit script host
#   emulated32.sh cleanup        the prefix's wineserver stopped, emulation off
set -euo pipefail
source "$(dirname "$0")/../../scripts/env.sh"
export WINEPREFIX=$build/wineprefix-i686-emulated
host=c:/windows/syswow64

case $1 in
setup)
  why=$(emulation_start) || { echo "emulation could not be set up: $why"; exit 1; }
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  start=$SECONDS
  "$wine64" wineboot -i >/dev/null 2>&1 </dev/null || true
  wineserver -w
  [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || { echo "the prefix has no 32-bit side"; exit 1; }
  echo "prefix made in $((SECONDS - start)) s"
  # A wineserver kept running for the tests, its output away from CTest's pipes.
  wineserver -p </dev/null >/dev/null 2>&1
  "$wine64" wineboot </dev/null >/dev/null 2>&1 || true
  start=$SECONDS
  "$wine32" "$host/regsvr32.exe" /s "$(winpath "$2")"
  echo "registered with the 32-bit regsvr32 in $((SECONDS - start)) s"
  ;;
program)
  shift
  exec "$wine32" "$@" </dev/null
  ;;
script)
  CSCRIPT="$wine32 $host/cscript.exe" exec bash "$(dirname "$0")/run_script.sh" "$2"
  ;;
cleanup)
  wineserver -k 2>/dev/null || true
  emulation_stop
  ;;
*)
  echo "usage: emulated32.sh setup DLL | program EXE [ARG...] | script FILE | cleanup" >&2
  exit 2
  ;;
esac
