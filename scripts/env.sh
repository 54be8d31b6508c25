# Shared settings of the build and test scripts: where things go, how Wine is run, and
# whether this machine runs 32-bit programs. Sourced, not executed.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
# ccache, where the build uses it, takes paths below the repository as relative ones, and
# leaves the working directory out of what it hashes for objects with debug information, so
# that a clone in another folder compiles only what differs.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# The loaders are started directly: Debian's wine, wine-stable and winepath wrappers all go
# through the 32-bit loader, which some kernels refuse to start.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
arches=(i686 x86_64)
# The binfmt_misc entry through which qemu-user runs 32-bit programs where the kernel cannot.
emulation_entry=dx8engine-i386
binfmt=/proc/sys/fs/binfmt_misc

source "$root/scripts/winpath.sh"

# Tells once per run whether this machine runs 32-bit x86 programs natively, and exports the
# answer for every script the run starts: DX8ENGINE_HOST32 is "native" or "none", with the
# reason in DX8ENGINE_HOST32_WHY. DX8ENGINE_NO_NATIVE32=1 takes the "none" path on any machine.
host32_check() {
  if [ -z "${DX8ENGINE_HOST32:-}" ]; then
    if [ "${DX8ENGINE_NO_NATIVE32:-0}" = 1 ]; then
      DX8ENGINE_HOST32=none
      DX8ENGINE_HOST32_WHY="DX8ENGINE_NO_NATIVE32=1 asks for the path of a machine without 32-bit programs"
    else
      emulation_stop
      local foreign
      foreign=$(foreign_i386_entry)
      if [ -n "$foreign" ]; then
        DX8ENGINE_HOST32=none
        DX8ENGINE_HOST32_WHY="32-bit programs run here only through the binfmt_misc entry $foreign"
      elif probe32; then
        DX8ENGINE_HOST32=native
        DX8ENGINE_HOST32_WHY="the kernel runs 32-bit programs"
      else
        DX8ENGINE_HOST32=none
        DX8ENGINE_HOST32_WHY="the kernel refuses 32-bit programs (Exec format error)"
      fi
    fi
    export DX8ENGINE_HOST32 DX8ENGINE_HOST32_WHY
    if [ "$DX8ENGINE_HOST32" = native ]; then
      echo "32-bit programs: this machine runs them; the 32-bit engine is tested natively."
    else
      echo "32-bit programs: not run natively here: $DX8ENGINE_HOST32_WHY."
    fi
  fi
}

# Runs a 52+32+12-byte static i386 ELF program that exits with 42.
probe32() {
  local probe rc
  probe=$(mktemp)
  base64 -d >"$probe" <<'ELF'
f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAA
AAAAAIAECACABAhgAAAAYAAAAAUAAAAAEAAAuAEAAAC7KgAAAM2A
ELF
  chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -f "$probe"
  [ "$rc" -eq 42 ]
}

# Names an enabled binfmt_misc entry of someone else's that takes i386 ELF programs, if any.
foreign_i386_entry() {
  local e
  [ -r "$binfmt/status" ] || return 0
  for e in "$binfmt"/*; do
    case $(basename "$e") in register | status | "$emulation_entry") continue ;; esac
    grep -qx enabled "$e" 2>/dev/null || continue
    grep -Eq '^magic 7f454c46[0-9a-f]{24}0[23]000300' "$e" 2>/dev/null && { basename "$e"; return 0; }
  done
  return 0
}

# Lets qemu-user run 32-bit x86 programs through an entry of our own. Fails, saying why, where
# that cannot be done (not root, no qemu-i386-static, no binfmt_misc) or where
# DX8ENGINE_NO_EMULATION=1 says not to.
emulation_start() {
  [ "${DX8ENGINE_NO_EMULATION:-0}" != 1 ] || { echo "DX8ENGINE_NO_EMULATION=1 turns it off"; return 1; }
  [ -e "$binfmt/$emulation_entry" ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "setting up emulation needs root"; return 1; }
  [ -x /usr/bin/qemu-i386-static ] || { echo "qemu-i386-static is not installed"; return 1; }
  if [ ! -w "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
      { echo "binfmt_misc cannot be mounted here"; return 1; }
  fi
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":$emulation_entry:M::$magic:$mask:/usr/bin/qemu-i386-static:FP" >"$binfmt/register" 2>/dev/null ||
    { echo "binfmt_misc refused the qemu-i386 entry"; return 1; }
}

emulation_stop() {
  if [ -e "$binfmt/$emulation_entry" ]; then echo -1 >"$binfmt/$emulation_entry" 2>/dev/null || true; fi
}

# Whether Wine's 32-bit side is installed.
wine32_installed() {
  [ -x "$wine32" ] && [ -d /usr/lib/i386-linux-gnu/wine/i386-windows ]
}

# The architecture the demo and the benchmarks use: the primary 32-bit engine where it runs
# natively (and Wine's 32-bit side is installed), the 64-bit one otherwise.
client_arch() {
  if [ "${DX8ENGINE_HOST32:-}" = native ] && wine32_installed; then echo i686; else echo x86_64; fi
}

# The loader, regsvr32 and script host of one architecture's programs.
loader_of() { if [ "$1" = i686 ]; then echo "$wine32"; else echo "$wine64"; fi; }
system_dir_of() { if [ "$1" = i686 ]; then echo 'c:\windows\syswow64'; else echo 'c:\windows\system32'; fi; }

# Creates the private Wine prefix if it is not there yet, or anew if it was made before Wine's
# 32-bit side was installed (it then lacks the 32-bit system folder). Where the kernel refuses
# 32-bit programs, wineboot cannot fill that folder either, so a prefix without it is kept there:
# remaking it would drop the registration the tests made in it.
ensure_prefix() {
  if [ "${DX8ENGINE_HOST32:-}" = native ] && wine32_installed &&
    [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine64" wineboot -i >/dev/null 2>&1 </dev/null || true
    wineserver -w
  fi
}

# Starts Xvfb on the first free display; sets DISPLAY to it and adds its pid to xvfb_pids.
xvfb_pids=()
start_xvfb() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
}

# Starts one Xvfb per test CTest runs at once and writes the CTest resource file that lists them
# (tests/on_display.sh reads a test's display from it): start_displays COUNT FILE. DISPLAY is left
# at the first, for Wine's services.
start_displays() {
  local i ids=() first
  for ((i = 0; i < $1; i++)); do
    start_xvfb || return 1
    ids+=("{\"id\": \"d${DISPLAY#:}\", \"slots\": 1}")
    first=${first:-$DISPLAY}
  done
  export DISPLAY=$first
  local IFS=,
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"displays": [%s]}]}\n' "${ids[*]}" >"$2"
}

# Keeps one wineserver and Wine's background services running for the whole run, started
# with their output away from the caller's: services that inherit a test's output pipe would
# keep CTest waiting for it to close.
start_wine_services() {
  wineserver -p
  "$wine64" wineboot >/dev/null 2>&1 </dev/null || true
}

stop_xvfb() {
  local pid
  for pid in "${xvfb_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  xvfb_pids=()
}

# Builds the engine and its tests for one architecture.
build_arch() {
  local arch=$1
  cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DWINE_PREFIX="$WINEPREFIX" >/dev/null
  cmake --build "$build/$arch" -j"$(nproc)"
}
