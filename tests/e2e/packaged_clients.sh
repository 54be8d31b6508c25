#!/usr/bin/env bash
# Builds two C++ clients the way a user of the release archive builds them, against the
# archive's header alone, and runs them with the registered DLL: the archive's own sample
# (samples/hello.cpp, which must end with "hello: done") and packaged_client.cpp, which binds
# through the header and through the archive's type library file.
#   packaged_clients.sh PACKAGE-DIR ARCH CXX CLIENT.cpp      (REGSVR32 names the loader first)
set -euo pipefail
source "$(dirname "$0")/../../scripts/winpath.sh"
package_dir=$1 arch=$2 cxx=$3 client=$4
loader=${REGSVR32%% *}
archive=$(ls "$package_dir"/dx8engine-*-"$arch".zip)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -m zipfile -e "$archive" "$work"
pkg=$work/$(basename "$archive" .zip)

flags=(-std=c++17 -O1 -Wall -Wextra -I"$pkg/include" -static -static-libgcc -static-libstdc++)
libs=(-lole32 -loleaut32 -luuid)
"$cxx" "${flags[@]}" "$pkg/samples/hello.cpp" "${libs[@]}" -o "$work/hello.exe"
"$cxx" "${flags[@]}" "$client" "${libs[@]}" -o "$work/packaged_client.exe"

out=$("$loader" "$work/hello.exe" 2>&1 | tr -d '\r')
printf '%s\n' "$out"
grep -qx 'hello: done' <<<"$out" || { echo "FAIL: the sample did not run to its end"; exit 1; }
"$loader" "$work/packaged_client.exe" "$(winpath "$pkg/dx8engine.tlb")"
