#!/usr/bin/env python3
"""Makes a .x file written by assimp's exporter right for the engine: turns its normals outward,
and scales the whole model if asked.

Usage: fix_assimp_x.py MODEL.x [OUT.x] [--scale FACTOR]     (without OUT.x, MODEL.x is rewritten)

`assimp export model.obj model.x` converts a right-handed model to the left-handed axes of
Direct3D (z negated, faces rewound) and then writes every normal negated once more, so each
points into the model: lights then light the faces turned away from them, and the faces turned
towards them stay dark. This negates every vector of every MeshNormals object. With --scale, it
also multiplies the matrix of the exporter's root frame, DXCC_ROOT, by FACTOR in x, y and z, so
that the engine, which applies the frames' matrices, loads the model FACTOR times as large
(model_move only moves a model).

Nothing else changes; the text keeps its layout. The file is marked with a comment, and a file
that carries the mark is refused, so that a second run cannot turn the normals back in. Binary
and compressed files are refused, and so are files assimp's exporter did not write (they have
no frame DXCC_ROOT), whose normals may be right.
"""
import argparse
import re
from pathlib import Path

MARK = "// normals turned outward by fix_assimp_x.py"
NUMBER = re.compile(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")


def numbers_after(text, pos, count, what):
    """The next count numbers from pos, as match objects, all before the object's closing brace."""
    found = []
    for _ in range(count):
        number = NUMBER.search(text, pos)
        if not number or "}" in text[pos:number.start()]:
            raise SystemExit(f"{what} has fewer numbers than it should")
        found.append(number)
        pos = number.end()
    return found


def replaced(text, changes):
    """The text with each (match, new text) pair put in place of its match."""
    out, pos = [], 0
    for match, new in sorted(changes, key=lambda c: c[0].start()):
        out += [text[pos:match.start()], new]
        pos = match.end()
    return "".join(out) + text[pos:]


def normals(text):
    """The sign changes that turn every MeshNormals vector around, and how many vectors."""
    changes, vectors = [], 0
    for block in re.finditer(r"\bMeshNormals\b[^{]*\{", text):
        if text[:block.start()].rstrip().endswith("template"):
            continue  # the template's declaration
        what = f"MeshNormals at character {block.start()}"
        (count,) = numbers_after(text, block.end(), 1, what)
        if not count.group().isdigit():
            raise SystemExit(f"{what} does not begin with its count")
        n = int(count.group())
        for number in numbers_after(text, count.end(), 3 * n, what):
            value = number.group()
            changes.append((number, value[1:] if value.startswith("-") else "-" + value.lstrip("+")))
        vectors += n
    return changes, vectors


def root_scale(text, factor):
    """The changes that multiply the root frame's matrix by factor in x, y and z."""
    root = re.search(r"\bFrame\s+DXCC_ROOT\s*\{\s*FrameTransformMatrix\s*\{", text)
    if not root:
        raise SystemExit("the root frame DXCC_ROOT does not begin with its FrameTransformMatrix")
    matrix = numbers_after(text, root.end(), 16, "the root frame's FrameTransformMatrix")
    # Row vectors: v' = v M. Scaling the result scales the first three columns of every row.
    return [(m, f"{float(m.group()) * factor:.9f}") for i, m in enumerate(matrix) if i % 4 < 3]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("model")
    parser.add_argument("out", nargs="?")
    parser.add_argument("--scale", type=float)
    args = parser.parse_args()
    source = Path(args.model)
    target = Path(args.out) if args.out else source
    text = source.read_bytes().decode("latin-1")
    if not re.match(r"xof 030[23]txt ", text):
        raise SystemExit(f"{source}: not a text .x file (assimp writes text)")
    if MARK in text:
        raise SystemExit(f"{source}: its normals were turned outward already")
    if "DXCC_ROOT" not in text:
        raise SystemExit(f"{source}: not written by assimp's exporter (no frame DXCC_ROOT); its normals may be right")
    changes, vectors = normals(text)
    if args.scale is not None:
        changes += root_scale(text, args.scale)
    header, _, rest = replaced(text, changes).partition("\n")
    target.write_bytes(f"{header}\n{MARK}\n{rest}".encode("latin-1"))
    print(f"{target}: {vectors} normals turned outward" +
          (f", scaled by {args.scale:g}" if args.scale is not None else ""))


if __name__ == "__main__":
    main()
