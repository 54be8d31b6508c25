#!/usr/bin/env python3
"""Writes the demo's scene: three text .x meshes, the two texture images they name, and the
crate again as a glTF file that holds its own image.

    make_scene.py OUTPUT_FOLDER

crate.x     a 2 x 2 x 2 box on the origin, every face textured with crate.bmp
crate.gltf  the same box in glTF's right-handed axes, its texture a PNG inside the file
ground.x    a 16 x 16 plane at y = 0, finely divided so that spot and point lights, which the
            device computes per vertex, show as pools of light; textured with ground.bmp
ball.x      a smooth sphere of radius 1.2 in a plain gold material, no texture
figure.x    a skinned figure that waves and walks (make_figure.py)

Everything is computed here; the output is the same on every run.
"""
import base64
import json
import math
import os
import struct
import sys
import zlib


def bmp(path, width, height, pixel):
    """Writes a 24-bit bottom-up BMP; pixel(x, y) gives (r, g, b) with y = 0 at the top."""
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        data += line + bytes(row - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def png(width, height, pixel):
    """The bytes of an 8-bit RGB PNG; pixel(x, y) gives (r, g, b) with y = 0 at the top."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    rows = b''.join(b'\0' + bytes(c for x in range(width) for c in pixel(x, y)) for y in range(height))
    header = struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows, 9)) +
            chunk(b'IEND', b''))


def noise(x, y, seed):
    """A repeatable hash of a texel, 0 to 1: grain without a random generator."""
    n = (x * 374761393 + y * 668265263 + seed * 2147483647) & 0xFFFFFFFF
    n = ((n ^ (n >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((n ^ (n >> 16)) & 0xFFFF) / 65535.0


def crate_texel(x, y):
    """Planks with dark seams, a frame round the edge and a diagonal brace, on 64 x 64."""
    size = 64
    border = x < 6 or y < 6 or x >= size - 6 or y >= size - 6
    brace = abs(x - (size - 1 - y)) < 5 and not border
    seam = (y % 13) == 0
    grain = 0.85 + 0.15 * noise(x // 3, y, 1) + 0.08 * math.sin(x * 0.7 + y * 0.05)
    if border or brace:
        base = (150, 92, 40)
    elif seam:
        base = (70, 42, 20)
    else:
        base = (196, 140, 72)
    return tuple(max(0, min(255, int(c * grain))) for c in base)


def ground_texel(x, y):
    """A green and grey checkerboard of 8 x 8 squares on 64 x 64, with a little speckle."""
    square = ((x // 8) + (y // 8)) % 2
    base = (70, 140, 60) if square else (150, 150, 140)
    s = 0.9 + 0.1 * noise(x, y, 2)
    return tuple(int(c * s) for c in base)


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def sub(a, b):
    return tuple(p - q for p, q in zip(a, b))


def dot(a, b):
    return sum(p * q for p, q in zip(a, b))


def facing(positions, triangle, outward):
    """Orders a triangle clockwise as seen from the side outward points to: the front face
    of a left-handed Direct3D scene, which the default culling keeps."""
    a, b, c = (positions[i] for i in triangle)
    if dot(cross(sub(b, a), sub(c, a)), outward) < 0:
        return (triangle[0], triangle[2], triangle[1])
    return triangle


def number(v):
    return f'{v:.6f}'


def write_x(path, name, positions, normals, texcoords, triangles, material, texture=None):
    """Writes one Mesh with its normals, texture coordinates and a single material."""
    out = ['xof 0303txt 0032', '', f'Mesh {name} {{', f'  {len(positions)};']
    out += ['  ' + ';'.join(number(c) for c in p) + ';' + (';' if i == len(positions) - 1 else ',')
            for i, p in enumerate(positions)]
    out.append(f'  {len(triangles)};')
    out += [f'  3;{t[0]},{t[1]},{t[2]};' + (';' if i == len(triangles) - 1 else ',')
            for i, t in enumerate(triangles)]
    out += ['', '  MeshNormals {', f'    {len(normals)};']
    out += ['    ' + ';'.join(number(c) for c in n) + ';' + (';' if i == len(normals) - 1 else ',')
            for i, n in enumerate(normals)]
    out.append(f'    {len(triangles)};')
    out += [f'    3;{t[0]},{t[1]},{t[2]};' + (';' if i == len(triangles) - 1 else ',')
            for i, t in enumerate(triangles)]
    out.append('  }')
    if texcoords:
        out += ['', '  MeshTextureCoords {', f'    {len(texcoords)};']
        out += ['    ' + ';'.join(number(c) for c in t) + ';' + (';' if i == len(texcoords) - 1 else ',')
                for i, t in enumerate(texcoords)]
        out.append('  }')
    diffuse, power, specular, emissive = material
    out += ['', '  MeshMaterialList {', '    1;', f'    {len(triangles)};',
            '    ' + ','.join('0' for _ in triangles) + ';',
            '    Material {',
            '      ' + ';'.join(number(c) for c in diffuse) + ';;',
            f'      {number(power)};',
            '      ' + ';'.join(number(c) for c in specular) + ';;',
            '      ' + ';'.join(number(c) for c in emissive) + ';;']
    if texture:
        out += ['      TextureFilename {', f'        "{texture}";', '      }']
    out += ['    }', '  }', '}', '']
    with open(path, 'w', newline='\r\n') as f:
        f.write('\n'.join(out))


def gltf(name, positions, normals, texcoords, triangles, material, image=None):
    """A glTF 2.0 document of one mesh from left-handed data, as glTF's right-handed axes have
    it: z negated and every triangle wound the other way, so that it looks the same there.
    material is (diffuse rgba, emissive rgb); image, the bytes of a PNG the document holds as
    a data: URI. Returns the JSON object; its one buffer is a data: URI too."""
    blob = bytearray()
    views, accessors = [], []

    def add(values, kind, fmt, count, target, bounds=False):
        while len(blob) % 4:
            blob.append(0)
        start = len(blob)
        for v in values:
            blob.extend(struct.pack(fmt, *v))
        views.append({'buffer': 0, 'byteOffset': start, 'byteLength': len(blob) - start, 'target': target})
        accessor = {'bufferView': len(views) - 1, 'componentType': 5126 if 'f' in fmt else 5125,
                    'count': count, 'type': kind}
        if bounds:
            accessor['min'] = [min(v[k] for v in values) for k in range(3)]
            accessor['max'] = [max(v[k] for v in values) for k in range(3)]
        accessors.append(accessor)
        return len(accessors) - 1

    flip = lambda v: (v[0], v[1], -v[2])
    attributes = {'POSITION': add([flip(p) for p in positions], 'VEC3', '<3f', len(positions), 34962, True),
                  'NORMAL': add([flip(n) for n in normals], 'VEC3', '<3f', len(normals), 34962)}
    if texcoords:
        attributes['TEXCOORD_0'] = add(texcoords, 'VEC2', '<2f', len(texcoords), 34962)
    indices = add([(t[0], t[2], t[1]) for t in triangles], 'SCALAR', '<3I', 3 * len(triangles), 34963)
    diffuse, emissive = material
    pbr = {'baseColorFactor': list(diffuse), 'metallicFactor': 0.0, 'roughnessFactor': 1.0}
    doc = {'asset': {'version': '2.0', 'generator': 'make_scene.py'}, 'scene': 0,
           'scenes': [{'nodes': [0]}], 'nodes': [{'name': name, 'mesh': 0}],
           'meshes': [{'name': name, 'primitives': [{'attributes': attributes, 'indices': indices,
                                                     'material': 0}]}],
           'materials': [{'name': name, 'pbrMetallicRoughness': pbr, 'emissiveFactor': list(emissive)}]}
    if image:
        pbr['baseColorTexture'] = {'index': 0}
        doc['textures'] = [{'source': 0}]
        doc['images'] = [{'uri': 'data:image/png;base64,' + base64.b64encode(image).decode()}]
    doc['buffers'] = [{'byteLength': len(blob),
                       'uri': 'data:application/octet-stream;base64,' + base64.b64encode(bytes(blob)).decode()}]
    doc['bufferViews'] = views
    doc['accessors'] = accessors
    return doc


def write_gltf(path, *args, **kwargs):
    with open(path, 'w') as f:
        json.dump(gltf(*args, **kwargs), f, indent=1)


def crate():
    positions, normals, texcoords, triangles = [], [], [], []
    for axis in range(3):
        for sign in (-1, 1):
            n = [0.0, 0.0, 0.0]
            n[axis] = float(sign)
            u_axis, v_axis = [a for a in range(3) if a != axis]
            first = len(positions)
            for u, v in ((0, 0), (1, 0), (1, 1), (0, 1)):
                p = [0.0, 0.0, 0.0]
                p[axis] = float(sign)
                p[u_axis] = u * 2.0 - 1.0
                p[v_axis] = v * 2.0 - 1.0
                positions.append(tuple(p))
                normals.append(tuple(n))
                texcoords.append((float(u), float(1 - v)))
            for t in ((first, first + 1, first + 2), (first, first + 2, first + 3)):
                triangles.append(facing(positions, t, n))
    return positions, normals, texcoords, triangles


def ground(cells=24, size=16.0, repeat=4.0):
    positions, normals, texcoords, triangles = [], [], [], []
    for j in range(cells + 1):
        for i in range(cells + 1):
            positions.append((size * (i / cells - 0.5), 0.0, size * (j / cells - 0.5)))
            normals.append((0.0, 1.0, 0.0))
            texcoords.append((repeat * i / cells, repeat * j / cells))
    for j in range(cells):
        for i in range(cells):
            a = j * (cells + 1) + i
            b, c, d = a + 1, a + cells + 2, a + cells + 1
            triangles.append(facing(positions, (a, b, c), (0, 1, 0)))
            triangles.append(facing(positions, (a, c, d), (0, 1, 0)))
    return positions, normals, texcoords, triangles


def ball(radius=1.2, rings=14, segments=24):
    positions, normals, triangles = [], [], []
    for r in range(rings + 1):
        theta = math.pi * r / rings
        for s in range(segments + 1):
            phi = 2 * math.pi * s / segments
            n = (math.sin(theta) * math.cos(phi), math.cos(theta), math.sin(theta) * math.sin(phi))
            normals.append(n)
            positions.append(tuple(radius * c for c in n))
    for r in range(rings):
        for s in range(segments):
            a = r * (segments + 1) + s
            b, c, d = a + 1, a + segments + 2, a + segments + 1
            for t in ((a, b, c), (a, c, d)):
                if len(set(positions[i] for i in t)) < 3:
                    continue  # the slivers at the poles have no area
                centre = tuple(sum(positions[i][k] for i in t) / 3 for k in range(3))
                triangles.append(facing(positions, t, centre))
    return positions, normals, [], triangles


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    bmp(os.path.join(folder, 'crate.bmp'), 64, 64, crate_texel)
    bmp(os.path.join(folder, 'ground.bmp'), 64, 64, ground_texel)
    white = ((1.0, 1.0, 1.0, 1.0), 0.0, (0.0, 0.0, 0.0), (0.0, 0.0, 0.0))
    gold = ((1.0, 0.78, 0.25, 1.0), 20.0, (0.6, 0.6, 0.6), (0.0, 0.0, 0.0))
    write_x(os.path.join(folder, 'crate.x'), 'crate', *crate(), white, 'crate.bmp')
    write_gltf(os.path.join(folder, 'crate.gltf'), 'crate', *crate(), (white[0], white[3]), png(64, 64, crate_texel))
    write_x(os.path.join(folder, 'ground.x'), 'ground', *ground(), white, 'ground.bmp')
    write_x(os.path.join(folder, 'ball.x'), 'ball', *ball(), gold)
    import make_figure  # it builds on this module's helpers
    make_figure.write_x(os.path.join(folder, 'figure.x'))


if __name__ == '__main__':
    main()
