#!/usr/bin/env bash
# Builds the engine, registers it in the private prefix and runs the benchmarks under Xvfb,
# printing their figures and ratios: the 32-bit engine where this machine runs 32-bit
# programs, the 64-bit one otherwise. SOAK_LIVES sets the soak's lives per kind (90).
# The scaling benchmark (bench/scaling.sh) runs last; SCALING=0 leaves it out, SCALING=only runs
# it alone. ANIM=only runs the animation benchmark (bench/anim_bench.cpp) alone.
set -euo pipefail
source "$(dirname "$0")/../scripts/env.sh"
host32_check
"$root/scripts/setup.sh"
ensure_prefix
arch=$(client_arch)
echo "benchmarks: the $arch engine"
build_arch "$arch" >/dev/null
cmake --build "$build/$arch" --target benchmarks -j"$(nproc)" >/dev/null
loader=$(loader_of "$arch")
trap 'stop_xvfb; wineserver -k 2>/dev/null || true' EXIT
start_xvfb
start_wine_services
# The DLL as it ships, without the debug information of a development build: Wine's loader
# reads every section of a DLL into memory, so those 8 MB would count as the engine's own.
shipped="$build/$arch/bench-dll"
mkdir -p "$shipped"
"$arch-w64-mingw32-objcopy" --strip-debug "$build/$arch/bin/dx8engine.dll" "$shipped/dx8engine.dll"
"$loader" "$(system_dir_of "$arch")\\regsvr32.exe" /s "$(winpath "$shipped/dx8engine.dll")"
# A benchmark that fails is named and the others still run; the script then exits with 1.
failed=()
source "$root/bench/scaling.sh"
app_d3d() { echo "HKCU\Software\Wine\AppDefaults\$1\Direct3D"; }
bench() {
  local status=0
  "$@" || status=$?
  [ "$status" -eq 0 ] || { echo "benchmark failed with exit $status: $*" >&2; failed+=("$*"); }
}
# model_animate against d3dx9's skinning, and frames of animated draws against static ones, with
# Direct3D and llvmpipe on the calling thread as for the frame cost below.
anim_benchmark() {
  "$loader" reg add "$(app_d3d anim_bench.exe)" /v csmt /t REG_DWORD /d 0 /f >/dev/null
  echo "animation, Direct3D on the calling thread:"
  bench env LP_NUM_THREADS=0 "$loader" "$build/$arch/bin/anim_bench.exe"
  "$loader" reg delete "$(app_d3d anim_bench.exe)" /f >/dev/null || true
}
if [ "${ANIM:-}" = only ]; then
  anim_benchmark
  [ "${#failed[@]}" -eq 0 ] || exit 1
  exit 0
fi
if [ "${SCALING:-1}" = only ]; then
  xfiles=$(cd "$root/../shared/xfiles" && pwd)
  scaling_benchmark
  [ "${#failed[@]}" -eq 0 ] || exit 1
  exit 0
fi
bench "$loader" "$build/$arch/bin/frame_text_bench.exe" "${1:-500}"
# The demo as a user runs it, for 12 seconds in which nobody presses a key: its frame rate, with
# the keyboard read on a thread of its own.
demo_rate() {
  local out status=0
  out=$(bash "$root/samples/run_demo.sh" "$loader" "$build/$arch/bin/demo_client.exe" 12 \
    "$build/$arch/bench-demo-pictures") || status=$?
  grep -E '^(frame rate|run_demo|demo):' <<<"$out" | uniq
  return "$status"
}
echo "demo, 640 x 480: four models, three lights, five texts a frame:"
bench demo_rate
xfiles=$(cd "$root/../shared/xfiles" && pwd)
bench env XFILES=$xfiles "$loader" "$build/$arch/bin/loader_bench.exe" 5
# The same mesh from binary .x, GLB and OBJ through model_load.
python3 "$root/bench/make_scaling_files.py" "$build/scaling/files" --quick
echo "model_load of one mesh in three formats:"
bench "$loader" "$build/$arch/bin/loader_bench.exe" --formats "$build/scaling/files/formats" 5

# The engine's own frame cost and late binding. Wine's Direct3D runs its GL work on a thread
# of its own by default (CSMT); every wait for that thread then costs whatever the scheduler
# of a busy machine makes it cost, which swamps the few microseconds these figures are about.
# So they run with Direct3D on the calling thread, set for these two programs alone, and the
# frame benchmark once more with Wine's default. Mesa's llvmpipe rasterises on the calling
# thread too (LP_NUM_THREADS=0): each side then pays for its own pixels at its own Present
# instead of for whatever the rasteriser threads are still doing for the other.
for program in frame_cost_bench.exe dispatch_bench.exe; do
  "$loader" reg add "$(app_d3d $program)" /v csmt /t REG_DWORD /d 0 /f >/dev/null
done
echo "frame cost, Direct3D on the calling thread:"
bench env XFILES=$xfiles LP_NUM_THREADS=0 "$loader" "$build/$arch/bin/frame_cost_bench.exe" 60
echo "frame cost, models only (the raw side never switches to d3dx9's device), Direct3D on the calling thread:"
bench env XFILES=$xfiles LP_NUM_THREADS=0 "$loader" "$build/$arch/bin/frame_cost_bench.exe" 60 models
echo "late binding, Direct3D on the calling thread:"
bench env XFILES=$xfiles LP_NUM_THREADS=0 "$loader" "$build/$arch/bin/dispatch_bench.exe" 30
"$loader" reg delete "$(app_d3d frame_cost_bench.exe)" /f >/dev/null || true
echo "frame cost, Wine's default Direct3D (its own command thread):"
bench env XFILES=$xfiles "$loader" "$build/$arch/bin/frame_cost_bench.exe" 60
"$loader" reg delete "$(app_d3d dispatch_bench.exe)" /f >/dev/null || true
anim_benchmark
# Client lives one after another (SOAK_LIVES of each kind): growth per life, engine and raw d3d8,
# after 30 lives in which the host's C library fills its allocation arenas (fewer on 64-bit).
bench env XFILES=$xfiles "$loader" "$build/$arch/bin/soak_bench.exe" "${SOAK_LIVES:-90}" --warm-up 30
cmake -S "$root/bench/native" -B "$build/bench-native" >/dev/null
cmake --build "$build/bench-native" -j"$(nproc)" >/dev/null
bench "$build/bench-native/parser_bench" "$xfiles" 20
[ "${SCALING:-1}" = 0 ] || scaling_benchmark
[ "${#failed[@]}" -eq 0 ] || exit 1
