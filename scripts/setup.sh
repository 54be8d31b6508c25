#!/usr/bin/env bash
# Installs what a bare Debian 12 machine lacks to build the engine for Windows and test it
# under Wine and Xvfb. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake make ninja-build g++ python3
  mingw-w64 mingw-w64-tools g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  libz-mingw-w64-dev
  googletest
  wine wine32:i386 wine64 libwine:i386
  xvfb xdotool x11-utils imagemagick
  libgl1-mesa-dri libgl1-mesa-dri:i386 libglx-mesa0 libglx-mesa0:i386 libgl1:i386
  zlib1g-dev libassimp-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
