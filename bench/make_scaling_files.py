#!/usr/bin/env python3
"""Writes the .x files of the scaling benchmark into a folder of the build tree.

    make_scaling_files.py OUTPUT_FOLDER [--quick]

load/   one mesh per size and form, as large exporters write them: a wavy grid of shared
        vertices with normals (indexed like the faces), texture coordinates, vertex colours and
        four materials in bands, no texture. Text files of about 10 KB, 100 KB, 1 MB, 10 MB and
        50 MB (text-SIZE.x) and binary files of the same sizes (binary-SIZE.x). --quick stops at
        10 MB.
source/ the same text form at about a fifth of each size, which bench/scaling.sh has the Open
        Asset Import Library read and write again as load/assimp-SIZE.x: one mesh per material,
        one vertex per corner, nine decimals, as the large .x files that it exports are.
formats/ one grid of about 1 MB and 10 MB as binary .x (grid-SIZE.x), as binary glTF
        (grid-SIZE.glb) and as OBJ with its MTL (grid-SIZE.obj), the same vertices, faces and
        materials in each, each in its format's own axes, for model_load of the three formats.
frame/  the meshes the frame benchmark draws, textured with test.png (copied there by the
        caller): mesh-1000.x (968 triangles) and mesh-100000.x (100,352 triangles); the
        12-triangle point draws the corpus's test.x.

Everything is computed here; the output is the same on every run, and a file already there with
the size it would get is not written again.
"""
import json
import math
import os
import struct
import sys

SIZES = [("10k", 10_000), ("100k", 100_000), ("1m", 1_000_000), ("10m", 10_000_000), ("50m", 50_000_000)]
MATERIALS = [(0.8, 0.2, 0.2), (0.2, 0.8, 0.2), (0.2, 0.2, 0.8), (0.8, 0.8, 0.2)]


def grid(n):
    """A wavy n x n grid on [-1, 1]^2: positions, normals, uvs, colours, triangles, bands."""
    positions, normals, uvs, colors = [], [], [], []
    for j in range(n + 1):
        for i in range(n + 1):
            u, v = i / n, j / n
            x, z = 2 * u - 1, 2 * v - 1
            y = 0.1 * math.sin(7 * x) * math.cos(5 * z)
            dx = 0.7 * math.cos(7 * x) * math.cos(5 * z)
            dz = -0.5 * math.sin(7 * x) * math.sin(5 * z)
            length = math.sqrt(dx * dx + 1 + dz * dz)
            positions.append((x, y, z))
            normals.append((-dx / length, 1 / length, -dz / length))
            uvs.append((u, v))
            colors.append((u, v, 1 - u, 1.0))
    triangles, bands = [], []
    for j in range(n):
        for i in range(n):
            a = j * (n + 1) + i
            b, c, d = a + 1, a + n + 1, a + n + 2
            band = min(3, 4 * j // n)
            triangles += [(a, c, b), (b, c, d)]
            bands += [band, band]
    return positions, normals, uvs, colors, triangles, bands


def text_x(mesh, texture=None):
    positions, normals, uvs, colors, triangles, bands = mesh
    out = ["xof 0303txt 0032\n\nFrame Root {\n  FrameTransformMatrix {\n"
           "    1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,"
           "0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,0.000000,1.000000;;\n  }\n"
           "  Mesh Grid {\n"]
    def vectors(rows):
        return ",\n".join("    " + ";".join("%f" % c for c in row) + ";" for row in rows) + ";\n"
    def faces():
        return ",\n".join("    3;%d,%d,%d;" % t for t in triangles) + ";\n"
    out.append("    %d;\n" % len(positions) + vectors(positions))
    out.append("    %d;\n" % len(triangles) + faces())
    out.append("    MeshNormals {\n    %d;\n" % len(normals) + vectors(normals))
    out.append("    %d;\n" % len(triangles) + faces() + "    }\n")
    out.append("    MeshTextureCoords {\n    %d;\n" % len(uvs) + vectors(uvs) + "    }\n")
    out.append("    MeshVertexColors {\n    %d;\n" % len(colors) +
               ",\n".join("    %d;%f;%f;%f;%f;;" % ((k,) + c) for k, c in enumerate(colors)) + ";\n    }\n")
    materials = [MATERIALS[0]] if texture else MATERIALS
    out.append("    MeshMaterialList {\n    %d;\n    %d;\n" % (len(materials), len(bands)) +
               ",\n".join("    %d" % (0 if texture else b) for b in bands) + ";\n")
    for r, g, b in materials:
        out.append("    Material {\n      %f;%f;%f;1.000000;;\n      20.000000;\n"
                   "      0.300000;0.300000;0.300000;;\n      0.000000;0.000000;0.000000;;\n" % (r, g, b))
        if texture:
            out.append('      TextureFilename {\n        "%s";\n      }\n' % texture)
        out.append("    }\n")
    out.append("    }\n  }\n}\n")
    return "".join(out).encode()


def binary_x(mesh):
    """The same object tree in the binary form: names, integer lists and float lists."""
    positions, normals, uvs, colors, triangles, bands = mesh
    out = bytearray(b"xof 0303bin 0032")
    def name(s):
        out.extend(struct.pack("<HI", 1, len(s)) + s.encode())
    def brace(open_):
        out.extend(struct.pack("<H", 10 if open_ else 11))
    def ints(values):
        out.extend(struct.pack("<HI%dI" % len(values), 6, len(values), *values))
    def floats(values):
        out.extend(struct.pack("<HI%df" % len(values), 7, len(values), *values))
    def face_list():
        return [len(triangles)] + [k for t in triangles for k in (3,) + t]
    name("Frame"); name("Root"); brace(True)
    name("FrameTransformMatrix"); brace(True); floats([1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1]); brace(False)
    name("Mesh"); name("Grid"); brace(True)
    ints([len(positions)]); floats([c for p in positions for c in p]); ints(face_list())
    name("MeshNormals"); brace(True)
    ints([len(normals)]); floats([c for p in normals for c in p]); ints(face_list()); brace(False)
    name("MeshTextureCoords"); brace(True); ints([len(uvs)]); floats([c for p in uvs for c in p]); brace(False)
    name("MeshVertexColors"); brace(True); ints([len(colors)])
    for k, c in enumerate(colors):
        ints([k]); floats(list(c))
    brace(False)
    name("MeshMaterialList"); brace(True); ints([len(MATERIALS), len(bands)] + bands)
    for r, g, b in MATERIALS:
        name("Material"); brace(True); floats([r, g, b, 1, 20, 0.3, 0.3, 0.3, 0, 0, 0]); brace(False)
    brace(False)
    brace(False)
    brace(False)
    return bytes(out)


def glb(mesh):
    """The same mesh as binary glTF, in glTF's right-handed axes (z negated, faces rewound): one
    primitive per material, sharing the vertex accessors."""
    positions, normals, uvs, colors, triangles, bands = mesh
    blob = bytearray()
    views, accessors = [], []
    def add(data, kind, component, count, target):
        views.append({"buffer": 0, "byteOffset": len(blob), "byteLength": len(data), "target": target})
        blob.extend(data)
        accessors.append({"bufferView": len(views) - 1, "componentType": component, "count": count, "type": kind})
        return len(accessors) - 1
    flip = lambda rows: [c for p in rows for c in (p[0], p[1], -p[2])]
    position = add(struct.pack("<%df" % (3 * len(positions)), *flip(positions)), "VEC3", 5126, len(positions), 34962)
    accessors[position]["min"] = [min(p[k] * (-1 if k == 2 else 1) for p in positions) for k in range(3)]
    accessors[position]["max"] = [max(p[k] * (-1 if k == 2 else 1) for p in positions) for k in range(3)]
    attributes = {"POSITION": position,
                  "NORMAL": add(struct.pack("<%df" % (3 * len(normals)), *flip(normals)), "VEC3", 5126, len(normals), 34962),
                  "TEXCOORD_0": add(struct.pack("<%df" % (2 * len(uvs)), *[c for p in uvs for c in p]), "VEC2", 5126,
                                    len(uvs), 34962),
                  "COLOR_0": add(struct.pack("<%df" % (4 * len(colors)), *[c for p in colors for c in p]), "VEC4", 5126,
                                 len(colors), 34962)}
    primitives = []
    for m in range(len(MATERIALS)):
        faces = [c for t, b in zip(triangles, bands) if b == m for c in (t[0], t[2], t[1])]
        if faces:
            index = add(struct.pack("<%dI" % len(faces), *faces), "SCALAR", 5125, len(faces), 34963)
            primitives.append({"attributes": attributes, "indices": index, "material": m})
    materials = [{"pbrMetallicRoughness": {"baseColorFactor": [r, g, b, 1.0], "metallicFactor": 0.0}}
                 for r, g, b in MATERIALS]
    doc = {"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0}],
           "meshes": [{"primitives": primitives}], "materials": materials, "buffers": [{"byteLength": len(blob)}],
           "bufferViews": views, "accessors": accessors}
    text = json.dumps(doc).encode()
    text += b" " * (-len(text) % 4)
    body = struct.pack("<I4s", len(text), b"JSON") + text + struct.pack("<I4s", len(blob), b"BIN\0") + bytes(blob)
    return struct.pack("<4sII", b"glTF", 2, 12 + len(body)) + body


def obj(mesh, mtl):
    """The same mesh as OBJ in its right-handed axes (z negated, faces rewound, v from the
    bottom), vertex colours after the positions, one usemtl run per material."""
    positions, normals, uvs, colors, triangles, bands = mesh
    out = ["mtllib %s\n" % mtl]
    out += ["v %f %f %f %f %f %f\n" % (p[0], p[1], -p[2], c[0], c[1], c[2]) for p, c in zip(positions, colors)]
    out += ["vt %f %f\n" % (u, 1 - v) for u, v in uvs]
    out += ["vn %f %f %f\n" % (n[0], n[1], -n[2]) for n in normals]
    for m in range(len(MATERIALS)):
        out.append("usemtl band%d\n" % m)
        out += ["f %d/%d/%d %d/%d/%d %d/%d/%d\n" % ((t[0] + 1,) * 3 + (t[2] + 1,) * 3 + (t[1] + 1,) * 3)
                for t, b in zip(triangles, bands) if b == m]
    return "".join(out).encode()


def mtl():
    return "".join("newmtl band%d\nKd %f %f %f\nKs 0.3 0.3 0.3\nNs 20\n" % ((m,) + c)
                   for m, c in enumerate(MATERIALS)).encode()


def write(path, data):
    if os.path.exists(path) and os.path.getsize(path) == len(data):
        return
    with open(path, "wb") as f:
        f.write(data)


def grid_for(target, writer):
    """The grid side whose file comes to about target bytes (bytes grow with the quads)."""
    small = len(writer(grid(20)))
    per_quad = (small - len(writer(grid(10)))) / (400 - 100)
    return max(2, round(math.sqrt(max(target - (small - 400 * per_quad), per_quad) / per_quad)))


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    quick = "--quick" in sys.argv
    if len(args) != 1:
        sys.exit(__doc__)
    out = args[0]
    os.makedirs(os.path.join(out, "load"), exist_ok=True)
    os.makedirs(os.path.join(out, "frame"), exist_ok=True)
    os.makedirs(os.path.join(out, "source"), exist_ok=True)
    for label, target in SIZES:
        if quick and target > 10_000_000:
            continue
        for form, writer, share in (("text", text_x, 1), ("binary", binary_x, 1), ("source", text_x, 0.21)):
            folder = "source" if form == "source" else "load"
            path = os.path.join(out, folder, "%s-%s.x" % (form, label))
            n = grid_for(target * share, writer)
            key = path + ".grid"
            if os.path.exists(path) and os.path.exists(key) and open(key).read() == str(n):
                continue
            write(path, writer(grid(n)))
            with open(key, "w") as f:
                f.write(str(n))
    os.makedirs(os.path.join(out, "formats"), exist_ok=True)
    for label, target in SIZES[2:4]:
        n = grid_for(target, binary_x)
        mesh = grid(n)
        write(os.path.join(out, "formats", "grid-%s.x" % label), binary_x(mesh))
        write(os.path.join(out, "formats", "grid-%s.glb" % label), glb(mesh))
        write(os.path.join(out, "formats", "grid-%s.obj" % label), obj(mesh, "grid-%s.mtl" % label))
        write(os.path.join(out, "formats", "grid-%s.mtl" % label), mtl())
    for label, n in (("1000", 22), ("100000", 224)):
        write(os.path.join(out, "frame", "mesh-%s.x" % label), text_x(grid(n), texture="test.png"))


if __name__ == "__main__":
    main()
