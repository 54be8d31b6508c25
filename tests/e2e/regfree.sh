#!/usr/bin/env bash
# Registration-free use of the release archive, in a Wine prefix where the engine was never
# registered (made here once, and kept): regfree_client.cpp, built against the archive's
# header with the archive's application manifest embedded, runs beside the DLL and the
# engine's assembly manifest; then the archive's C++ sample runs the same way with the
# application manifest as a file beside it, and, as a control, without any manifest.
#   regfree.sh PACKAGE-DIR ARCH CXX WINDRES CLIENT.cpp PREFIX      (REGSVR32 names the loader first)
set -euo pipefail
source "$(dirname "$0")/../../scripts/env.sh"
package_dir=$1 arch=$2 cxx=$3 windres=$4 client=$5
export WINEPREFIX=$6
loader=${REGSVR32%% *}
archive=$(ls "$package_dir"/dx8engine-*-"$arch".zip)
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
python3 -m zipfile -e "$archive" "$work"
pkg=$work/$(basename "$archive" .zip)

ensure_prefix
if grep -qi 'Quellbrook_dx_8engine' "$WINEPREFIX"/*.reg; then
  echo "FAIL: $WINEPREFIX has the engine registered; it must be a prefix where it never was"
  exit 1
fi

app=$work/app
mkdir -p "$app"
cp "$pkg/dx8engine.dll" "$pkg/Quellbrook.dx8engine.manifest" "$app/"
# The application manifest as the program's own manifest resource (RT_MANIFEST 24, ID 1).
printf '1 24 "%s"\n' "$pkg/samples/hello.exe.manifest" >"$work/manifest.rc"
"$windres" "$work/manifest.rc" -O coff -o "$work/manifest.o"
flags=(-std=c++17 -O1 -Wall -Wextra -I"$pkg/include" -static -static-libgcc -static-libstdc++)
libs=(-lole32 -loleaut32 -luuid -ladvapi32)
"$cxx" "${flags[@]}" "$client" "$work/manifest.o" "${libs[@]}" -o "$app/regfree_client.exe"
"$cxx" "${flags[@]}" "$pkg/samples/hello.cpp" "${libs[@]}" -o "$app/hello.exe"
cp "$pkg/samples/hello.exe.manifest" "$app/"
# The same sample without a manifest, beside the same DLL: it must find no class, which shows
# that the manifests, not some registration, serve the runs above.
cp "$app/hello.exe" "$app/plain.exe"

cd "$app"
status=0
out=$("$loader" regfree_client.exe 2>&1 | tr -d '\r') || status=1
printf '%s\n' "$out"
grep -Eq '^summary: [1-9][0-9]* passed, 0 failed$' <<<"$out" || status=1
out=$("$loader" hello.exe 2>&1 | tr -d '\r') || status=1
printf '%s\n' "$out"
grep -qx 'hello: done' <<<"$out" || { echo "FAIL: the sample with its manifest beside it did not run to its end"; status=1; }
out=$("$loader" plain.exe 2>&1 | tr -d '\r') && status=1
printf '%s\n' "$out"
# An unknown ProgID is CO_E_CLASSSTRING; a ProgID left from elsewhere without its class would
# be REGDB_E_CLASSNOTREG. Either way no class is found.
grep -Eq 'not available \(0x(800401F3|80040154)\)' <<<"$out" ||
  { echo "FAIL: without a manifest the sample should find no class (CO_E_CLASSSTRING or REGDB_E_CLASSNOTREG)"; status=1; }
exit $status
