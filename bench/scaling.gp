# The picture of the scaling benchmark (docs/scaling.png), from the columns that
# bench/scaling_report.py writes into the folder `data`:
#   gnuplot -e "data='build/scaling'" bench/scaling.gp > docs/scaling.png
set terminal pngcairo size 1500,1000 font "sans,9" noenhanced
set multiplot layout 2,3 title "Cost as the work grows: the engine against raw d3d8, Wine's d3dx9 and Assimp (medians)" font "sans,12"
set grid
set key top left
forms = "text binary assimp"
form_colour(i) = i == 1 ? "#1f77b4" : i == 2 ? "#d62728" : "#2ca02c"
file(f) = sprintf("%s/load-%s.dat", data, f)
set logscale x
set format x "%.0s%cB"

# 1: frame cost
unset logscale x
set format x "% g"
set title "frame cost, engine / reference (goal: at most 1.03)\nlights at 100 draws, meshes at 1 draw, text against d3dx9; raw/raw: two raw devices"
set style fill solid 0.6
set boxwidth 0.6
set yrange [0:*]
set xtics rotate by 60 right font "sans,7"
set key top right
plot sprintf("%s/frame.dat", data) using 1:3:xtic(2) with boxes lc rgb "#1f77b4" title "median", \
     "" using 1:4 with points pt 7 lc rgb "#ff7f0e" title "fastest rounds", \
     1.03 with lines dt 2 lc rgb "black" title "1.03"
set xtics norotate font "sans,9"
set yrange [*:*]
set key top left

# 2: how many times faster
set logscale x
set format x "%.0s%cB"
set title "times faster than the reference, by file size (goal: at least 3)"
set xlabel "file size"
plot for [i=1:3] file(word(forms, i)) using 1:2 with linespoints lc rgb form_colour(i) pt 7 title "model_load / D3DXLoadMeshFromX, ".word(forms, i), \
     for [i=1:3] file(word(forms, i)) using 1:3 with linespoints lc rgb form_colour(i) dt 2 pt 5 title "parser / Assimp, ".word(forms, i), \
     3 with lines dt 3 lc rgb "black" title "3"

# 3: MB/s
set title "MB/s by file size (goal: largest file at least 80 % of 1 MB's)"
set logscale y
plot for [i=1:3] file(word(forms, i)) using 1:4 with linespoints lc rgb form_colour(i) pt 7 title "model_load, ".word(forms, i), \
     for [i=1:3] file(word(forms, i)) using 1:5 with linespoints lc rgb form_colour(i) dt 2 pt 5 title "parser, ".word(forms, i)

# 4: peak memory of one load
set title "peak resident memory of one load, MB (goal: engine at most d3dx9)"
plot for [i=1:3] file(word(forms, i)) using 1:($6 > 0 ? $6 / 1e6 : 1/0) with linespoints lc rgb form_colour(i) pt 7 title "model_load, ".word(forms, i), \
     for [i=1:3] file(word(forms, i)) using 1:($7 > 0 ? $7 / 1e6 : 1/0) with linespoints lc rgb form_colour(i) dt 2 pt 5 title "D3DXLoadMeshFromX, ".word(forms, i)

# 5: the parsers' peak memory
set title "peak resident memory of one parse (native), MB"
plot for [i=1:3] file(word(forms, i)) using 1:($8 > 0 ? $8 / 1e6 : 1/0) with linespoints lc rgb form_colour(i) pt 7 title "parser, ".word(forms, i), \
     for [i=1:3] file(word(forms, i)) using 1:($9 > 0 ? $9 / 1e6 : 1/0) with linespoints lc rgb form_colour(i) dt 2 pt 5 title "Assimp, ".word(forms, i)

# 6: a full table
set title "resident memory with the table full of test.x, MB (goal: at most 1.1 x raw)"
set xlabel "models"
set format x "%g"
unset logscale y
set yrange [0:*]
plot sprintf("%s/table.dat", data) using 1:2 with linespoints pt 7 lc rgb "#1f77b4" title "engine", \
     "" using 1:3 with linespoints pt 5 dt 2 lc rgb "#d62728" title "raw d3d8"
unset multiplot
