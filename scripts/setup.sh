#!/usr/bin/env bash
# Installs what a bare Debian 12 machine lacks to build the engine for Windows and test it
# under Wine and Xvfb. Safe to run again: it installs only what is missing.
#
# Wine's 32-bit side is needed only to run 32-bit programs. Where the kernel runs them it is
# required; where it does not, it is installed with qemu-user emulation on (its packages'
# install scripts are 32-bit programs too), and a failure there only costs the 32-bit smoke.
set -euo pipefail
source "$(dirname "$0")/env.sh"
host32_check

packages=(
  cmake make ninja-build g++ python3 ccache
  mingw-w64 mingw-w64-tools g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  libz-mingw-w64-dev
  googletest
  wine wine64
  xvfb xdotool x11-utils imagemagick zip wixl msitools
  libgl1-mesa-dri libglx-mesa0
  zlib1g-dev libassimp-dev assimp-utils gnuplot-nox
  libtinygltf-dev nlohmann-json3-dev libtinyobjloader-dev
  clang libclang-rt-14-dev
)
packages32=(wine32:i386 libwine:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386 libgl1:i386)
[ "$DX8ENGINE_HOST32" = native ] || packages+=(qemu-user-static)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

install() {
  if [ -z "$updated" ]; then
    # A mirror caught mid-sync fails one index now and then; the install below says whether
    # what we need could still be had.
    $sudo apt-get update -q || echo "setup: apt-get update reported errors; installing from the lists it has."
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"
}

mapfile -t missing < <(missing_of "${packages[@]}")
[ ${#missing[@]} -eq 0 ] || install "${missing[@]}"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  updated=
fi

# A mirror mid-sync can leave the 32-bit lists behind the 64-bit ones, so that libraries both
# architectures share have no matching 32-bit version; then the versions both lists offer are
# chosen. If even that fails, the tests take the path of a machine without 32-bit programs
# and say why.
install32() {
  local twins
  install "$@" && return
  echo "setup: choosing library versions that both architectures' lists offer."
  twins=$(python3 "$(dirname "$0")/apt_twins.py" "$@") && install --allow-downgrades $twins
}

mapfile -t missing < <(missing_of "${packages32[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$DX8ENGINE_HOST32" = native ]; then
    install32 "${missing[@]}" || echo "setup: Wine's 32-bit side did not install; the 32-bit suite will not run."
  elif why=$(emulation_start); then
    install32 "${missing[@]}" || echo "setup: Wine's 32-bit side did not install; the 32-bit smoke will not run."
    emulation_stop
  else
    echo "setup: Wine's 32-bit side is not installed: $why."
  fi
fi
