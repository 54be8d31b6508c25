#!/usr/bin/env python3
"""Writes a blocky figure that waves and walks, skinned to a frame hierarchy, as a text .x file
and as a glTF 2.0 file:

    make_figure.py OUTPUT_FOLDER

figure.x     frames, SkinWeights and two AnimationSets ("wave", "walk") at 100 ticks a second
figure.gltf  the same figure in glTF's right-handed axes: nodes, a skin and two animations

The figure stands on y = 0 facing -z (towards the engine's default camera), 2.8 units tall. Its
right arm (on the +x side) hangs from the shoulder at (0.55, 2.1, 0) in the rest pose. "wave"
(2 s) turns that arm about z: down at 0 s, out along +x at 0.5 s, straight up at 1 s, out again
at 1.5 s, down at 2 s. "walk" (1 s) swings the legs and the left arm and bobs the body. The
vertices of each arm next to its shoulder follow the arm and the body half and half.

Everything is computed here; the output is the same on every run.
"""
import base64
import json
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_scene import facing, number  # noqa: E402

# Matrices are the engine's: row vectors (v' = v * M), row-major lists of 16 numbers.


def mul(a, b):
    return [sum(a[i * 4 + k] * b[k * 4 + j] for k in range(4)) for i in range(4) for j in range(4)]


def translation(x, y, z):
    return [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1]


def rotation_x(degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return [1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1]


def rotation_z(degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return [c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1]


def inverse_rigid(m):
    """The inverse of a rotation followed by a translation."""
    r = [m[j * 4 + i] for i in range(3) for j in range(3)]  # the 3 x 3 part transposed
    t = m[12:15]
    out = [r[0], r[1], r[2], 0, r[3], r[4], r[5], 0, r[6], r[7], r[8], 0]
    out += [-sum(t[k] * r[k * 3 + j] for k in range(3)) for j in range(3)] + [1]
    return out


def quaternion(m):
    """The unit quaternion (x, y, z, w) of a rotation matrix, as D3DXQuaternionRotationMatrix
    gives it: the rotation that D3DXMatrixRotationQuaternion turns back into m."""
    # m is row-vector; its transpose is the usual column-vector matrix of the same rotation.
    r = [[m[j * 4 + i] for j in range(3)] for i in range(3)]
    trace = r[0][0] + r[1][1] + r[2][2]
    if trace > 0:
        s = math.sqrt(trace + 1) * 2
        q = ((r[2][1] - r[1][2]) / s, (r[0][2] - r[2][0]) / s, (r[1][0] - r[0][1]) / s, s / 4)
    else:
        i = max(range(3), key=lambda k: r[k][k])
        j, k = (i + 1) % 3, (i + 2) % 3
        s = math.sqrt(1 + r[i][i] - r[j][j] - r[k][k]) * 2
        v = [0, 0, 0]
        v[i] = s / 4
        v[j] = (r[j][i] + r[i][j]) / s
        v[k] = (r[k][i] + r[i][k]) / s
        q = (v[0], v[1], v[2], (r[k][j] - r[j][k]) / s)
    return q if q[3] >= 0 else tuple(-c for c in q)


# The frames: name, parent, rest rotation (row-vector matrix) and translation from the parent.
FRAMES = [('figure', None, rotation_z(0), (0, 0, 0)),
          ('body', 'figure', rotation_z(0), (0, 1.0, 0)),
          ('arm_right', 'body', rotation_z(-90), (0.55, 1.1, 0)),
          ('arm_left', 'body', rotation_z(-90), (-0.55, 1.1, 0)),
          ('leg_right', 'body', rotation_z(-90), (0.2, 0, 0)),
          ('leg_left', 'body', rotation_z(-90), (-0.2, 0, 0))]
BONES = ['body', 'arm_right', 'arm_left', 'leg_right', 'leg_left']
MATERIALS = [((0.25, 0.45, 0.95, 1.0), 'shirt'), ((0.95, 0.75, 0.6, 1.0), 'skin'), ((0.5, 0.5, 0.55, 1.0), 'trousers')]


def local(frame, rotation=None, position=None):
    _, _, rest, t = frame
    return mul(rotation if rotation is not None else rest, translation(*(position if position else t)))


def combined(name):
    frame = next(f for f in FRAMES if f[0] == name)
    m = local(frame)
    return m if frame[1] is None else mul(m, combined(frame[1]))


def transform(p, m):
    return tuple(sum(p[k] * m[k * 4 + j] for k in range(3)) + m[12 + j] for j in range(3))


def figure():
    """Positions, normals, triangles, material per triangle and influences per vertex (pairs of
    bone index and weight), in the rest pose, in the engine's axes."""
    positions, normals, triangles, materials, influences = [], [], [], [], []

    def box(lo, hi, bone, material, frame=None, shared_below=None):
        # A box given in the frame's own axes (or the figure's), placed by the frame's rest
        # matrix; vertices with x below shared_below are shared half and half with the body.
        place = combined(frame) if frame else translation(0, 0, 0)
        for axis in range(3):
            for sign in (-1, 1):
                n = [0.0, 0.0, 0.0]
                n[axis] = float(sign)
                u_axis, v_axis = [a for a in range(3) if a != axis]
                first = len(positions)
                for u, v in ((0, 0), (1, 0), (1, 1), (0, 1)):
                    p = [0.0, 0.0, 0.0]
                    p[axis] = hi[axis] if sign > 0 else lo[axis]
                    p[u_axis] = hi[u_axis] if u else lo[u_axis]
                    p[v_axis] = hi[v_axis] if v else lo[v_axis]
                    positions.append(transform(p, place))
                    normals.append(tuple(c - o for c, o in zip(transform(n, place), transform((0, 0, 0), place))))
                    half = shared_below is not None and p[0] < shared_below
                    influences.append([(bone, 0.5), (0, 0.5)] if half else [(bone, 1.0)])
                world_normal = normals[-1]
                for t in ((first, first + 1, first + 2), (first, first + 2, first + 3)):
                    triangles.append(facing(positions, t, world_normal))
                    materials.append(material)

    box((-0.4, 1.0, -0.2), (0.4, 2.2, 0.2), 0, 0)           # body
    box((-0.25, 2.3, -0.25), (0.25, 2.8, 0.25), 0, 1)       # head
    limb_lo, limb_hi = (0.05, -0.15, -0.15), (1.05, 0.15, 0.15)
    box(limb_lo, limb_hi, 1, 0, 'arm_right', shared_below=0.06)
    box(limb_lo, limb_hi, 2, 0, 'arm_left', shared_below=0.06)
    box((0.0, -0.15, -0.15), (1.0, 0.15, 0.15), 3, 2, 'leg_right')
    box((0.0, -0.15, -0.15), (1.0, 0.15, 0.15), 4, 2, 'leg_left')
    return positions, normals, triangles, materials, influences


def animations():
    """name -> (length, {frame: [(time, rotation matrix, translation)]}), every animated frame
    keyed in full, as exporters write them."""
    def keys(frame, angles, turn=rotation_z, positions=None):
        f = next(x for x in FRAMES if x[0] == frame)
        out = []
        for i, (time, angle) in enumerate(angles):
            r = mul(f[2], turn(angle)) if turn is not rotation_z else rotation_z(angle)
            out.append((time, r, positions[i] if positions else f[3]))
        return out

    wave = {'arm_right': keys('arm_right', [(0, -90), (0.5, 0), (1.0, 90), (1.5, 0), (2.0, -90)])}
    swing = [(0, 30), (0.5, -30), (1.0, 30)]
    walk = {'leg_right': keys('leg_right', swing, rotation_x),
            'leg_left': keys('leg_left', [(t, -a) for t, a in swing], rotation_x),
            'arm_left': keys('arm_left', [(t, a * 2 / 3) for t, a in swing], rotation_x),
            'body': keys('body', [(0, 0), (0.25, 0), (0.5, 0), (0.75, 0), (1.0, 0)],
                         positions=[(0, 1.0, 0), (0, 1.06, 0), (0, 1.0, 0), (0, 1.06, 0), (0, 1.0, 0)])}
    return {'wave': (2.0, wave), 'walk': (1.0, walk)}


def row(values):
    return ','.join(number(v + 0.0) for v in values)  # + 0.0: no negative zeros


def write_x(path):
    positions, normals, triangles, materials, influences = figure()
    ticks = 100
    out = ['xof 0303txt 0032', '', 'AnimTicksPerSecond {', f'  {ticks};', '}', '']

    def frame(name, depth):
        f = next(x for x in FRAMES if x[0] == name)
        pad = '  ' * depth
        lines = [f'{pad}Frame {name} {{', f'{pad}  FrameTransformMatrix {{', f'{pad}    {row(local(f))};;', f'{pad}  }}']
        if name == 'figure':
            lines += mesh(pad + '  ')
        for child in (x[0] for x in FRAMES if x[1] == name):
            lines += frame(child, depth + 1)
        return lines + [f'{pad}}}']

    def listed(items, pad):
        return [pad + item + (';' if i == len(items) - 1 else ',') for i, item in enumerate(items)]

    def mesh(pad):
        lines = [f'{pad}Mesh figure_mesh {{', f'{pad}  {len(positions)};']
        lines += listed([row(p) + ';' for p in positions], pad + '  ')
        lines.append(f'{pad}  {len(triangles)};')
        lines += listed([f'3;{t[0]},{t[1]},{t[2]};' for t in triangles], pad + '  ')
        lines += [f'{pad}  MeshNormals {{', f'{pad}    {len(normals)};']
        lines += listed([row(n) + ';' for n in normals], pad + '    ')
        lines.append(f'{pad}    {len(triangles)};')
        lines += listed([f'3;{t[0]},{t[1]},{t[2]};' for t in triangles], pad + '    ')
        lines += [f'{pad}  }}', f'{pad}  MeshMaterialList {{', f'{pad}    {len(MATERIALS)};', f'{pad}    {len(triangles)};',
                  f'{pad}    ' + ','.join(str(m) for m in materials) + ';']
        for diffuse, _ in MATERIALS:
            lines += [f'{pad}    Material {{', f'{pad}      {row(diffuse)};;', f'{pad}      10.000000;',
                      f'{pad}      0.200000,0.200000,0.200000;;', f'{pad}      0.000000,0.000000,0.000000;;', f'{pad}    }}']
        per_vertex = max(len(i) for i in influences)
        lines += [f'{pad}  }}', f'{pad}  XSkinMeshHeader {{', f'{pad}    {per_vertex};', f'{pad}    {per_vertex * 3};',
                  f'{pad}    {len(BONES)};', f'{pad}  }}']
        for b, name in enumerate(BONES):
            pairs = [(v, w) for v, inf in enumerate(influences) for bone, w in inf if bone == b]
            lines += [f'{pad}  SkinWeights {{', f'{pad}    "{name}";', f'{pad}    {len(pairs)};',
                      f'{pad}    ' + ','.join(str(v) for v, _ in pairs) + ';',
                      f'{pad}    ' + ','.join(number(w) for _, w in pairs) + ';',
                      f'{pad}    {row(inverse_rigid(combined(name)))};;', f'{pad}  }}']
        return lines + [f'{pad}}}']

    out += frame('figure', 0)
    for name, (_, channels) in animations().items():
        out += ['', f'AnimationSet {name} {{']
        for target, keys in channels.items():
            out += ['  Animation {', f'    {{{target}}}']

            def key(kind, values):
                lines = ['    AnimationKey {', f'      {kind};', f'      {len(values)};']
                lines += listed([f'{round(t * ticks)};{len(v)};{row(v)};;' for t, v in values], '      ')
                return lines + ['    }']
            # The file's quaternions are (w, x, y, z) of the inverse rotation, as D3DX reads them.
            out += key(0, [(t, (q[3], -q[0], -q[1], -q[2])) for t, r, _ in keys for q in [quaternion(r)]])
            out += key(1, [(t, (1, 1, 1)) for t, _, _ in keys])
            out += key(2, [(t, p) for t, _, p in keys])
            out.append('  }')
        out.append('}')
    with open(path, 'w', newline='\r\n') as f:
        f.write('\n'.join(out) + '\n')


def write_gltf(path):
    """The figure in glTF's right-handed axes: z negated, so every point (x, y, z) is (x, y, -z),
    a rotation's quaternion (x, y, z, w) is (-x, -y, z, w), and triangles wind the other way."""
    positions, normals, triangles, materials, influences = figure()
    blob = bytearray()
    views, accessors = [], []

    def add(values, kind, fmt, component, target=None, bounds=False):
        while len(blob) % 4:
            blob.append(0)
        start = len(blob)
        for v in values:
            blob.extend(struct.pack(fmt, *v))
        view = {'buffer': 0, 'byteOffset': start, 'byteLength': len(blob) - start}
        if target:
            view['target'] = target
        views.append(view)
        accessor = {'bufferView': len(views) - 1, 'componentType': component, 'count': len(values), 'type': kind}
        if bounds:
            accessor['min'] = [min(v[k] for v in values) for k in range(len(values[0]))]
            accessor['max'] = [max(v[k] for v in values) for k in range(len(values[0]))]
        accessors.append(accessor)
        return len(accessors) - 1

    flip = lambda v: (v[0], v[1], -v[2])
    turn = lambda q: (-q[0], -q[1], q[2], q[3])
    mirror = lambda m: [m[i] * (-1 if (i // 4 == 2) != (i % 4 == 2) else 1) for i in range(16)]
    joints = [tuple((inf + [(0, 0.0)] * 4)[k][0] for k in range(4)) for inf in influences]
    weights = [tuple((inf + [(0, 0.0)] * 4)[k][1] for k in range(4)) for inf in influences]
    attributes = {'POSITION': add([flip(p) for p in positions], 'VEC3', '<3f', 5126, 34962, True),
                  'NORMAL': add([flip(n) for n in normals], 'VEC3', '<3f', 5126, 34962),
                  'JOINTS_0': add(joints, 'VEC4', '<4B', 5121, 34962),
                  'WEIGHTS_0': add(weights, 'VEC4', '<4f', 5126, 34962)}
    primitives = []
    for m in range(len(MATERIALS)):
        chosen = [(t[0], t[2], t[1]) for t, mat in zip(triangles, materials) if mat == m]
        primitives.append({'attributes': attributes, 'material': m,
                           'indices': add([(i,) for t in chosen for i in t], 'SCALAR', '<I', 5125, 34963)})
    # Inverse bind matrices: glTF's column-major order of a column-vector matrix is the row-major
    # order of the same matrix for row vectors, so the engine's inverse, mirrored, goes as it is.
    ibm = add([tuple(mirror(inverse_rigid(combined(b)))) for b in BONES], 'MAT4', '<16f', 5126)
    nodes = []
    for name, parent, rest, t in FRAMES:
        node = {'name': name, 'children': [i for i, f in enumerate(FRAMES) if f[1] == name]}
        if not node['children']:
            del node['children']
        if name != 'figure':
            node['translation'] = list(flip(t))
            node['rotation'] = list(turn(quaternion(rest)))
        nodes.append(node)
    nodes.append({'name': 'figure_mesh', 'mesh': 0, 'skin': 0})
    nodes[0]['children'].append(len(nodes) - 1)
    index_of = {f[0]: i for i, f in enumerate(FRAMES)}
    anims = []
    for name, (_, channels) in animations().items():
        samplers, targets = [], []
        for target, keys in channels.items():
            times = add([(t,) for t, _, _ in keys], 'SCALAR', '<f', 5126, bounds=True)
            rotations = add([turn(quaternion(r)) for _, r, _ in keys], 'VEC4', '<4f', 5126)
            moves = add([flip(p) for _, _, p in keys], 'VEC3', '<3f', 5126)
            for output, path_name in ((rotations, 'rotation'), (moves, 'translation')):
                samplers.append({'input': times, 'output': output, 'interpolation': 'LINEAR'})
                targets.append({'sampler': len(samplers) - 1, 'target': {'node': index_of[target], 'path': path_name}})
        anims.append({'name': name, 'samplers': samplers, 'channels': targets})
    doc = {'asset': {'version': '2.0', 'generator': 'make_figure.py'}, 'scene': 0, 'scenes': [{'nodes': [0]}],
           'nodes': nodes, 'meshes': [{'name': 'figure_mesh', 'primitives': primitives}],
           'skins': [{'joints': [index_of[b] for b in BONES], 'inverseBindMatrices': ibm, 'skeleton': 0}],
           'animations': anims,
           'materials': [{'name': n, 'pbrMetallicRoughness': {'baseColorFactor': list(d), 'metallicFactor': 0.0,
                                                               'roughnessFactor': 1.0}} for d, n in MATERIALS],
           'buffers': [{'byteLength': len(blob),
                        'uri': 'data:application/octet-stream;base64,' + base64.b64encode(bytes(blob)).decode()}],
           'bufferViews': views, 'accessors': accessors}
    with open(path, 'w') as f:
        json.dump(doc, f, indent=1)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    write_x(os.path.join(folder, 'figure.x'))
    write_gltf(os.path.join(folder, 'figure.gltf'))


if __name__ == '__main__':
    main()
