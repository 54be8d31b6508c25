# Shared settings of the build and test scripts: where things go and how Wine is run.
# Sourced, not executed.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
arches=(i686 x86_64)

# Creates the private Wine prefix if it is not there yet.
ensure_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine64" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
}

# Starts Xvfb on the first free display; sets DISPLAY and xvfb_pid.
start_xvfb() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
}

# Keeps one wineserver and Wine's background services running for the whole run, started
# with their output away from the caller's: services that inherit a test's output pipe would
# keep CTest waiting for it to close.
start_wine_services() {
  wineserver -p
  "$wine64" wineboot >/dev/null 2>&1 </dev/null || true
}

stop_xvfb() {
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}

# Builds the engine and its tests for one architecture.
build_arch() {
  local arch=$1
  cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DWINE_PREFIX="$WINEPREFIX" >/dev/null
  cmake --build "$build/$arch" -j"$(nproc)"
}
