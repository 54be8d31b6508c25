#!/usr/bin/env python3
"""Turns the scaling benchmark's figures into its summary and the data of its picture.

    scaling_report.py FIGURES.tsv OUTPUT_FOLDER ARCH

Prints the tables with the ratios and whether each goal is met, writes them as Markdown to
OUTPUT_FOLDER/summary.md and the columns that bench/scaling.gp plots to OUTPUT_FOLDER/*.dat.
Times are medians (the fastest rounds or loads beside them where they differ in kind); a ratio of
times is the reference's over the engine's for loads and parses (above 1 ours is faster) and the
engine's over the reference's for frames (below 1 the engine is cheaper), as the goals read.
"""
import collections
import os
import sys

FORMS = ("text", "binary", "assimp")


def read(path):
    rows = collections.defaultdict(list)
    with open(path) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            rows[fields[0]].append(fields[1:])
    return rows


def form_of(name):
    return name.split("-")[0]


def mb(x):
    return float(x) / 1e6


def main():
    rows = read(sys.argv[1])
    out, arch = sys.argv[2], sys.argv[3]
    md = ["Scaling benchmark, the %s engine; times are medians, \"fastest\" the ratio of the fastest "
          "rounds or loads.\n" % arch]
    verdicts = []

    def goal(ok, text):
        verdicts.append(("met" if ok else "NOT MET") + ": " + text)

    # Frames.
    md.append("| frame point | engine ms | reference ms | engine / reference | fastest |")
    md.append("| --- | ---: | ---: | ---: | ---: |")
    labels = {"draws": "%s model_draw", "lights": "%s lights, 100 draws", "mesh": "%s triangles, 1 draw",
              "text": "%s text_draw (reference d3dx9)", "same": "%s draws, raw d3d8 against raw d3d8"}
    worst, floor = 0, 0
    with open(os.path.join(out, "frame.dat"), "w") as dat:
        for i, (axis, value, e, r, ef, rf) in enumerate(rows["frame"]):
            ratio, fast = float(e) / float(r), float(ef) / float(rf)
            if axis == "same":
                # Two raw devices doing the same work: how far apart equal sides come out here.
                floor = max(floor, abs(ratio - 1))
            else:
                worst = max(worst, ratio)
            label = labels[axis] % value
            md.append("| %s | %.3f | %.3f | %.3f | %.3f |" % (label, float(e), float(r), ratio, fast))
            short = {"draws": "%s draws", "lights": "%s lights", "mesh": "%s tri.", "text": "%s texts",
                     "same": "raw/raw %s"}[axis] % value
            dat.write('%d "%s" %.4f %.4f\n' % (i, short, ratio, fast))
    goal(worst <= 1.03 and rows["frame"], "frame cost engine / raw at most 1.03 at every point (worst %.3f; "
         "two raw devices doing the same work came out up to %.3f apart)" % (worst, floor))

    # Loads: model_load against d3dx9 under Wine, our parser against assimp natively.
    loads = {name: row for name, *row in rows["load"]}
    parses = {name: row for name, *row in rows["parse"]}
    peaks = {(name, side): float(v) for name, side, v in rows["peak"]}
    names = sorted(set(loads) | set(parses), key=lambda n: (FORMS.index(form_of(n)) if form_of(n) in FORMS else 9,
                                                            float((loads.get(n) or parses.get(n))[0])))
    md.append("")
    md.append("| file | MB | model_load ms | d3dx9 ms | d3dx9 / model_load | model_load MB/s | peak MB engine "
              "| peak MB d3dx9 | parser ms | Assimp ms | Assimp / parser | parser MB/s | peak MB parser | peak MB Assimp |")
    md.append("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    worst_load = worst_parse = 1e9
    peak_over = []
    speed = collections.defaultdict(dict)  # form -> {name: (bytes, load MB/s, parse MB/s)}
    dats = {form: open(os.path.join(out, "load-%s.dat" % form), "w") for form in FORMS}
    for name in names:
        form = form_of(name)
        load, parse = loads.get(name), parses.get(name)
        size = float((load or parse)[0])
        cells = ["%s" % name, "%.2f" % (size / 1e6)]
        lr = pr = l_mbs = p_mbs = float("nan")
        pe, pd = peaks.get((name, "engine"), -1), peaks.get((name, "d3dx9"), -1)
        if load:
            lo, lt = float(load[1]), float(load[3])
            lr, l_mbs = lt / lo, size / lo / 1e6
            worst_load = min(worst_load, lr)
            cells += ["%.1f" % (lo * 1e3), "%.1f" % (lt * 1e3), "%.2f" % lr, "%.0f" % l_mbs,
                      "%.1f" % mb(pe), "%.1f" % mb(pd)]
            if pe > pd >= 0 or pe < 0:
                peak_over.append(name)
        else:
            cells += ["-"] * 6
        if parse:
            po, pt = float(parse[1]), float(parse[3])
            pr, p_mbs = pt / po, size / po / 1e6
            worst_parse = min(worst_parse, pr)
            cells += ["%.2f" % (po * 1e3), "%.2f" % (pt * 1e3), "%.2f" % pr, "%.0f" % p_mbs,
                      "%.1f" % mb(parse[5]), "%.1f" % mb(parse[6])]
        else:
            cells += ["-"] * 6
        md.append("| " + " | ".join(cells) + " |")
        speed[form][name] = (size, l_mbs, p_mbs)
        if form in dats:
            dats[form].write("%.0f %.4f %.4f %.2f %.2f %.0f %.0f %s %s\n" % (
                size, lr, pr, l_mbs, p_mbs, pe, pd, parse[5] if parse else -1, parse[6] if parse else -1))
    for f in dats.values():
        f.close()
    goal(worst_load >= 3, "model_load at least 3 times as fast as D3DXLoadMeshFromX at every size (worst %.2f)"
         % worst_load)
    goal(worst_parse >= 3, "parser at least 3 times as fast as Assimp at every size (worst %.2f)" % worst_parse)
    goal(not peak_over, "peak memory of model_load at most d3dx9's for the same file%s"
         % (" (over: " + ", ".join(peak_over) + ")" if peak_over else ""))
    for form, files in speed.items():
        if not files:
            continue
        ordered = sorted(files.values())
        largest = ordered[-1]
        one_mb = min(ordered, key=lambda v: abs(v[0] - 1e6))
        for column, what in ((1, "model_load"), (2, "parser")):
            if largest[column] == largest[column] and one_mb[column] == one_mb[column]:
                share = largest[column] / one_mb[column]
                goal(share >= 0.8, "%s MB/s of %s files: the largest (%.1f MB) at %.0f %% of 1 MB's"
                     % (what, form, largest[0] / 1e6, 100 * share))

    # Memory of a full table.
    tables = {(side, int(n)): (float(rss), float(opened)) for side, n, rss, opened in rows["table"]}
    md.append("")
    md.append("| models in the table | engine resident MB | raw d3d8 resident MB | engine / raw | engine growth MB "
              "| raw growth MB |")
    md.append("| ---: | ---: | ---: | ---: | ---: | ---: |")
    worst_table = 0
    with open(os.path.join(out, "table.dat"), "w") as dat:
        for n in sorted({n for _, n in tables}):
            if ("engine", n) not in tables or ("raw", n) not in tables:
                continue
            (e, eo), (r, ro) = tables[("engine", n)], tables[("raw", n)]
            worst_table = max(worst_table, e / r)
            md.append("| %d | %.1f | %.1f | %.3f | %.1f | %.1f |" % (n, e / 1e6, r / 1e6, e / r, (e - eo) / 1e6,
                                                                   (r - ro) / 1e6))
            dat.write("%d %.2f %.2f\n" % (n, e / 1e6, r / 1e6))
    goal(worst_table and worst_table <= 1.1, "memory of a full table at most 1.1 times raw d3d8's (worst %.3f)"
         % worst_table)

    md.append("")
    md += ["- " + v for v in verdicts]
    text = "\n".join(md) + "\n"
    with open(os.path.join(out, "summary.md"), "w") as f:
        f.write(text)
    print(text)


if __name__ == "__main__":
    main()
