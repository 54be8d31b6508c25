#!/usr/bin/env bash
# Builds the engine DLL in release form and packs one zip archive and one Windows Installer
# package per architecture into build/package, for Windows users:
#
#   dx8engine-VERSION-ARCH/dx8engine.dll                  optimised, without debug information
#                         dx8engine.tlb                   the type library (also inside the DLL)
#                         Quellbrook.dx8engine.manifest   the assembly manifest, for use without registering
#                         include/dx8engine_iface.h       the C++ interfaces and GUIDs
#                         samples/*.vbs, hello.cpp, hello.exe.manifest
#                         README.txt
#                         REFERENCE.md                    the member reference (docs/reference.md)
#
# dx8engine-VERSION-x86.msi and dx8engine-VERSION-x64.msi install the same files for the current
# user or, with ALLUSERS=1, for all users, and write the registration as registry rows
# (tools/gen_installer.py, built with wixl; its WiX source is left beside it as .wxs).
#
# The debug information of each DLL goes to build/package/debug/ARCH/dx8engine.dll.debug,
# which the DLL names (.gnu_debuglink), for debuggers. Each archive is checked after packing
# (tests/package/check_archive.py).
#
#   package.sh [ARCH...]        i686 and x86_64 by default
#
# It installs what is missing first, as the other scripts do, so one command makes the
# archives on a fresh machine. The DLL is built in the usual tree build/ARCH (optimised, with
# debug information), so an up-to-date tree costs nothing; only the DLL and what it needs are
# built.
set -euo pipefail
source "$(dirname "$0")/env.sh"
host32_check >/dev/null
"$root/scripts/setup.sh" >/dev/null

[ $# -gt 0 ] || set -- "${arches[@]}"
out=$build/package
version=$(awk '$1 == "assembly" { print $3 }' "$root/interface/dx8engine.iface")
assembly=$(awk '$1 == "assembly" { print $2 }' "$root/interface/dx8engine.iface")
[ -n "$version" ] && [ -n "$assembly" ] || { echo "package: no assembly line in interface/dx8engine.iface" >&2; exit 1; }
for tool in zip wixl msibuild; do
  command -v $tool >/dev/null || { echo "package: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
licence=$(find "$root" -maxdepth 1 -type f \( -iname 'licen[cs]e*' -o -iname 'copying*' \) | head -n 1)

ensure_prefix
mkdir -p "$out"
for arch in "$@"; do
  case $arch in i686 | x86_64) ;; *) echo "package: unknown architecture $arch" >&2; exit 1 ;; esac
  tree=$build/$arch
  if [ ! -f "$tree/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
      -DWINE_PREFIX="$WINEPREFIX" >/dev/null
  fi
  # No build type given means the project's default, RelWithDebInfo.
  type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$tree/CMakeCache.txt")
  case ${type:-RelWithDebInfo} in RelWithDebInfo | Release) ;;
    *) echo "package: $tree is a $type build; a release needs RelWithDebInfo or Release" >&2; exit 1 ;;
  esac
  cmake --build "$tree" --target dx8engine reference -j2 >/dev/null

  name=dx8engine-$version-$arch
  stage=$out/stage/$name
  debug=$out/debug/$arch
  rm -rf "$stage" "$out/$name.zip"
  mkdir -p "$stage/include" "$stage/samples" "$debug"

  # The debug information stays here; the packed DLL names its file for debuggers.
  objcopy=$arch-w64-mingw32-objcopy
  $objcopy --only-keep-debug "$tree/bin/dx8engine.dll" "$debug/dx8engine.dll.debug"
  (cd "$debug" && $objcopy --strip-all --add-gnu-debuglink=dx8engine.dll.debug \
    "$tree/bin/dx8engine.dll" "$stage/dx8engine.dll")

  gen=$tree/generated
  cp "$gen/dx8engine.tlb" "$gen/$assembly.manifest" "$stage/"
  cp "$gen/public/dx8engine_iface.h" "$stage/include/"
  cp "$root"/samples/*.vbs "$root/samples/hello.cpp" "$stage/samples/"
  cp "$gen/application.manifest" "$stage/samples/hello.exe.manifest"
  sed 's/$/\r/' "$root/docs/windows-readme.txt" >"$stage/README.txt"
  sed 's/$/\r/' "$gen/reference.md" >"$stage/REFERENCE.md"
  [ -z "$licence" ] || cp "$licence" "$stage/"

  (cd "$out/stage" && zip -q -X -r "$out/$name.zip" "$name")
  python3 "$root/tests/package/check_archive.py" "$out/$name.zip" "$arch" "$debug/dx8engine.dll.debug"
  echo "package: $out/$name.zip"

  msi=$out/dx8engine-$version-$([ "$arch" = i686 ] && echo x86 || echo x64).msi
  python3 "$root/tools/gen_installer.py" "$root/interface/dx8engine.iface" "$stage/dx8engine.dll" "$arch" "$stage" "$msi"
  echo "package: $msi"
done
[ -n "$licence" ] || echo "package: the repository has no licence file, so the archives carry none."
