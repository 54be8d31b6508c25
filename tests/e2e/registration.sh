#!/usr/bin/env bash
# Registers the DLL with regsvr32, checks the registry, unregisters and checks again, then
# registers once more for the tests that use the registered classes.
#   registration.sh DLL REGISTRY_CHECK.EXE      (REGSVR32 names the regsvr32 command)
set -euo pipefail
source "$(dirname "$0")/../../scripts/winpath.sh"
dll=$1
check=$2
loader=${REGSVR32%% *}
wine_dll=$(winpath "$dll")
name=$(basename "$dll")

$REGSVR32 /s "$wine_dll"
"$loader" "$check" registered "$name"
$REGSVR32 /u /s "$wine_dll"
"$loader" "$check" unregistered "$name"
$REGSVR32 /s "$wine_dll"
"$loader" "$check" registered "$name" >/dev/null
