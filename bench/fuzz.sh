#!/usr/bin/env bash
# Builds the native fuzz targets (the .x parser, the TGA and DDS readers, the resampler, the glTF
# and OBJ readers) and runs each for SECONDS (60 if not given), or until it has made EXECUTIONS
# executions when that is given, whichever comes first, with the same options, seeds and corpus
# as their CTest tests.
# A target that crashes is started again for the rest of its time, so that one run can find more
# than one fault. Prints executions, time and rate and crashes per target; the crashing inputs
# are in build/native/fuzz-artifacts/<target>. Exits with 1 when any target crashed.
#
#   bench/fuzz.sh [SECONDS [EXECUTIONS]]
#
# FUZZ_ONLY=REGEX runs only the targets whose test name matches; FUZZ_OPTIONS adds libFuzzer
# options after the test's own (the later one wins, e.g. FUZZ_OPTIONS=-max_len=1024).
# JOBS sets the parallel build jobs (default: the number of processors).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
goal=${2:-0}
read -r -a extra <<<"${FUZZ_OPTIONS:-}"
build=${BUILD_DIR:-$root/build}/native
max_crashes=10  # per target: a fault that every start hits again would otherwise loop

cmake -S "$root/tests/native" -B "$build" >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}" --target xfile_fuzz tga_fuzz dds_fuzz resample_fuzz gltf_fuzz obj_fuzz >/dev/null

# The fuzz tests' command lines as CTest knows them, one a line, arguments separated by 0x1f.
commands=$(cd "$build" && ctest --show-only=json-v1 | python3 -c '
import json, re, sys
for test in json.load(sys.stdin)["tests"]:
    if test["name"].startswith("native.fuzz") and re.search(sys.argv[1], test["name"]):
        print(test["name"] + "\x1f" + "\x1f".join(test["command"]))' "${FUZZ_ONLY:-.}")
if [ -z "$commands" ]; then
  echo "no fuzz targets: clang++ was not found when $build was configured" >&2
  exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
any_crash=0
printf '%-22s %12s %8s %10s %8s\n' target executions seconds 'per second' crashes
while IFS=$'\x1f' read -r -a command; do
  name=${command[0]}
  command=("${command[@]:1}")
  executions=0
  crashes=0
  found=()
  started=$SECONDS
  deadline=$((SECONDS + seconds))
  while remaining=$((deadline - SECONDS)); [ "$remaining" -gt 0 ] && [ "$crashes" -lt "$max_crashes" ] &&
    { [ "$goal" -eq 0 ] || [ "$executions" -lt "$goal" ]; }; do
    run=()
    for arg in "${command[@]}"; do
      case $arg in
        -max_total_time=*) run+=("-max_total_time=$remaining") ;;
        *) run+=("$arg") ;;
      esac
    done
    [ "$goal" -eq 0 ] || run+=("-runs=$((goal - executions))")
    run+=("${extra[@]}")
    if "${run[@]}" </dev/null >"$log" 2>&1; then status=0; else status=$?; fi
    n=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -1)
    executions=$((executions + ${n:-0}))
    if [ "$status" -ne 0 ]; then
      crashes=$((crashes + 1))
      found+=("$(grep -o 'Test unit written to .*' "$log" | tail -1 || echo "no input written (exit $status)")")
      found+=("  $(grep -m1 -E 'ERROR|runtime error|SUMMARY' "$log" || true)")
    fi
  done
  spent=$((SECONDS - started))
  printf '%-22s %12d %8d %10d %8d\n' "$name" "$executions" "$spent" "$((executions / (spent > 0 ? spent : 1)))" "$crashes"
  for line in "${found[@]}"; do echo "    $line"; done
  [ "$crashes" -eq 0 ] || any_crash=1
done <<<"$commands"
exit "$any_crash"
