# The scaling benchmark, sourced by bench/run.sh once the engine is built and registered, Xvfb
# and Wine's services running ($loader, $arch, $build, $root and $xfiles set there). Each point is
# measured side by side with its reference in one run, and the ratios printed:
#   frame cost against raw d3d8 (draws, lights, mesh size) and d3dx9's font (text);
#   loading generated text, binary and assimp-exported .x files from 10 KB to about 50 MB:
#   model_load under Wine against Wine's D3DXLoadMeshFromX, our parser natively against the Open
#   Asset Import Library natively: time, MB/s and peak resident memory during one load;
#   the resident memory of a table of 1, 100 and 800 models against raw d3d8 holding the same.
# The figures go to build/scaling/figures.tsv, the summary with the goals to
# build/scaling/summary.md, and the picture to docs/scaling.png (gnuplot).
# SCALING_QUICK=1 leaves out the 50 MB files; SCALING_SECONDS (2) is the time a side gets at
# each frame point; SCALING_LOADS (3) the timed loads of each file of 2 MB and more by each side
# under Wine, three times as many for smaller files, whose loads take milliseconds.
scaling_benchmark() {
  local out=$build/scaling files
  files=$out/files
  scaling_figures=$out/figures.tsv
  mkdir -p "$out"
  : >"$scaling_figures"
  echo "scaling: generating the files (once; kept in $files)"
  python3 "$root/bench/make_scaling_files.py" "$files" ${SCALING_QUICK:+--quick}
  cp "$xfiles/test.png" "$files/frame/"
  cmake -S "$root/bench/native" -B "$build/bench-native" >/dev/null
  cmake --build "$build/bench-native" -j"$(nproc)" >/dev/null
  local source label
  for source in "$files"/source/source-*.x; do
    label=$(basename "$source" .x)
    label=${label#source-}
    [ "$source" -ot "$files/load/assimp-$label.x" ] ||
      "$build/bench-native/parser_bench" --export-x "$source" "$files/load/assimp-$label.x"
  done
  [ -z "${SCALING_QUICK:-}" ] || rm -f "$files"/load/*-50m.x

  echo "scaling: frame cost, Direct3D on the calling thread"
  "$loader" reg add "$(app_d3d frame_cost_bench.exe)" /v csmt /t REG_DWORD /d 0 /f >/dev/null
  scaling_run env XFILES="$xfiles" SCALING_MESHES="$files/frame" LP_NUM_THREADS=0 \
    "$loader" "$build/$arch/bin/frame_cost_bench.exe" --scaling "${SCALING_SECONDS:-2}"
  "$loader" reg delete "$(app_d3d frame_cost_bench.exe)" /f >/dev/null || true

  echo "scaling: memory of a full table (test.x and its texture per model)"
  local count side
  for count in 1 100 800; do
    for side in engine raw; do
      scaling_run env XFILES="$xfiles" "$loader" "$build/$arch/bin/frame_cost_bench.exe" --table "$count" "$side" --tag "scaling-$$-$count-$side"
    done
  done

  echo "scaling: our parser against the Open Asset Import Library, natively"
  scaling_run "$build/bench-native/parser_bench" --scaling "$files/load" 5

  echo "scaling: model_load against Wine's D3DXLoadMeshFromX, under Wine"
  local file name peak loads
  while read -r file; do
    name=$(basename "$file")
    loads=${SCALING_LOADS:-3}
    [ "$(stat -c %s "$file")" -ge 2000000 ] || loads=$((3 * loads))
    scaling_run "$loader" "$build/$arch/bin/loader_bench.exe" --scaling "$file" "$loads"
    for side in engine d3dx9; do
      peak=$("$loader" "$build/$arch/bin/loader_bench.exe" --peak "$side" "$file" --tag "scaling-$$-$RANDOM" | awk -F'\t' '$1 == "peak" { print $2 }') || true
      printf 'peak\t%s\t%s\t%s\n' "$name" "$side" "${peak:--1}" >>"$scaling_figures"
    done
  done < <(ls -Sr "$files"/load/*.x)

  python3 "$root/bench/scaling_report.py" "$scaling_figures" "$out" "$arch"
  gnuplot -e "data='$out'" "$root/bench/scaling.gp" >"$root/docs/scaling.png" &&
    echo "scaling: the picture is $root/docs/scaling.png"
}

# Runs a benchmark as bench does, prints its lines and keeps its tab-separated figure lines.
scaling_run() {
  local log=$build/scaling/run.log
  bench "$@" >"$log"
  grep -vP '^(frame|table|parse|load)\t' "$log" || true
  grep -P '^(frame|table|parse|load)\t' "$log" >>"$scaling_figures" || true
}
