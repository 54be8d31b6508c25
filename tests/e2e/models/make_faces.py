#!/usr/bin/env python3
"""Writes a cube whose faces show six colours through one texture, in the formats that
model_load reads besides .x, each as its own format has it:

    make_faces.py OUTPUT_FOLDER

faces.gltf             the image a PNG in a data: URI, the buffer too
faces.obj              with materials/faces.mtl, whose map_Kd names materials/faces.png
figure.x, figure.gltf  the demo's waving, walking figure (samples/assets/make_figure.py)

Seen by the engine's default camera, from -z towards +z, the face in front is green (glTF's and
OBJ's front, their +z side); seen from +x, the face is blue; a model mirrored in x would show
yellow there instead.
"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'samples', 'assets'))
import make_scene  # noqa: E402
import make_figure  # noqa: E402

# The engine's (left-handed) outward normal of each face, its colour, and its cell of the
# 4 x 2 atlas.
FACES = [((0, 0, -1), (0, 200, 0), 0), ((1, 0, 0), (0, 0, 220), 1), ((-1, 0, 0), (220, 220, 0), 2),
         ((0, 1, 0), (220, 0, 220), 3), ((0, -1, 0), (0, 220, 220), 4), ((0, 0, 1), (220, 0, 0), 5)]
CELL = 16


def atlas_texel(x, y):
    cell = (y // CELL) * 4 + x // CELL
    return next((c for _, c, i in FACES if i == cell), (40, 40, 40))


def cube():
    """The cube in the engine's axes: positions, normals, texture coordinates (each face inside
    its cell, a texel in from the edges) and clockwise triangles."""
    positions, normals, texcoords, triangles = [], [], [], []
    for normal, _, cell in FACES:
        axis = next(k for k in range(3) if normal[k])
        u_axis, v_axis = [a for a in range(3) if a != axis]
        first = len(positions)
        u0, v0 = (cell % 4) / 4, (cell // 4) / 2
        for u, v in ((0, 0), (1, 0), (1, 1), (0, 1)):
            p = [0.0, 0.0, 0.0]
            p[axis] = float(normal[axis])
            p[u_axis], p[v_axis] = u * 2.0 - 1.0, v * 2.0 - 1.0
            positions.append(tuple(p))
            normals.append(tuple(float(c) for c in normal))
            texcoords.append((u0 + (0.1 + 0.8 * u) / 4, v0 + (0.1 + 0.8 * v) / 2))
        for t in ((first, first + 1, first + 2), (first, first + 2, first + 3)):
            triangles.append(make_scene.facing(positions, t, normal))
    return positions, normals, texcoords, triangles


def write_obj(folder, positions, normals, texcoords, triangles):
    """OBJ's right-handed axes: z negated, counter-clockwise faces, v counted from the bottom."""
    os.makedirs(os.path.join(folder, 'materials'), exist_ok=True)
    with open(os.path.join(folder, 'materials', 'faces.mtl'), 'w') as f:
        f.write('newmtl faces\nKd 1 1 1\nKa 1 1 1\nKs 0 0 0\nNs 0\nd 1\nmap_Kd faces.png\n')
    lines = ['# a cube of six colours', 'mtllib materials/faces.mtl']
    lines += [f'v {p[0]} {p[1]} {-p[2]}' for p in positions]
    lines += [f'vt {t[0]} {1 - t[1]}' for t in texcoords]
    lines += [f'vn {n[0]} {n[1]} {-n[2]}' for n in normals]
    lines.append('usemtl faces')
    lines += ['f ' + ' '.join(f'{i + 1}/{i + 1}/{i + 1}' for i in (t[0], t[2], t[1])) for t in triangles]
    with open(os.path.join(folder, 'faces.obj'), 'w') as f:
        f.write('\n'.join(lines) + '\n')


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    image = make_scene.png(4 * CELL, 2 * CELL, atlas_texel)
    white = ((1.0, 1.0, 1.0, 1.0), (0.0, 0.0, 0.0))
    doc = make_scene.gltf('faces', *cube(), white, image)
    with open(os.path.join(folder, 'faces.gltf'), 'w') as f:
        json.dump(doc, f)
    write_obj(folder, *cube())
    with open(os.path.join(folder, 'materials', 'faces.png'), 'wb') as f:
        f.write(image)
    make_figure.main()


if __name__ == '__main__':
    main()
