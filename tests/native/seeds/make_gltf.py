#!/usr/bin/env python3
"""Writes the fuzz seeds of the glTF reader into gltf/: a few tiny files that between them use
every part the reader reads (external, data: URI and GLB buffers; indexed and plain triangle
lists, strips and fans; normals, texture coordinates, colours; sparse accessors; node matrices
and TRS; materials with both kinds of texture source). The files are checked in; this is how
they were made."""
import base64
import json
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gltf")
os.makedirs(here, exist_ok=True)


def write(name, data):
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)


def doc(**members):
    d = {"asset": {"version": "2.0"}}
    d.update(members)
    return json.dumps(d, separators=(",", ":")).encode()


def floats(*v):
    return struct.pack("<%df" % len(v), *v)


def data_uri(b):
    return "data:application/octet-stream;base64," + base64.b64encode(b).decode()


# The fuzz target serves the same 44 bytes for every external buffer: a triangle's positions
# and then its 16-bit indices 0, 1, 2 (and a pad).
write("external.gltf", doc(
    scene=0, scenes=[{"nodes": [0]}],
    nodes=[{"mesh": 0, "translation": [1, 2, 3], "rotation": [0, 0.7071068, 0, 0.7071068], "scale": [1, 2, 1]}],
    meshes=[{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1, "material": 0}]}],
    materials=[{"pbrMetallicRoughness": {"baseColorFactor": [1, 0.5, 0.25, 1], "metallicFactor": 0.5,
                                         "roughnessFactor": 0.3}, "emissiveFactor": [0.1, 0, 0]}],
    accessors=[{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"},
               {"bufferView": 1, "componentType": 5123, "count": 3, "type": "SCALAR"}],
    bufferViews=[{"buffer": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36, "byteLength": 6}],
    buffers=[{"uri": "tri%20angle.bin", "byteLength": 44}]))

# Four vertices with normals, texture coordinates and byte colours, drawn as a strip under a
# parent with a matrix; a sparse accessor moves one position; a data: URI image.
pos = floats(0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0)
nrm = floats(*([0, 0, 1] * 4))
uv = floats(0, 0, 1, 0, 0, 1, 1, 1)
col = bytes([255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 128])
sparse_idx = struct.pack("<H", 3) + b"\0\0"
sparse_val = floats(2, 2, 0)
blob = pos + nrm + uv + col + sparse_idx + sparse_val
views, at = [], 0
for part in (pos, nrm, uv, col, sparse_idx, sparse_val):
    views.append({"buffer": 0, "byteOffset": at, "byteLength": len(part)})
    at += len(part)
write("embedded.gltf", doc(
    nodes=[{"children": [1], "matrix": [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1]}, {"mesh": 0}],
    meshes=[{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1, "TEXCOORD_0": 2, "COLOR_0": 3},
                             "mode": 5, "material": 0}]}],
    materials=[{"alphaMode": "BLEND", "pbrMetallicRoughness": {"baseColorTexture": {"index": 0}},
                "extensions": {"KHR_materials_pbrSpecularGlossiness": {
                    "diffuseFactor": [0.5, 0.5, 0.5, 0.5], "specularFactor": [1, 1, 1], "glossinessFactor": 0.5,
                    "diffuseTexture": {"index": 0}}}}],
    textures=[{"source": 0}],
    images=[{"uri": "data:image/png;base64," + base64.b64encode(b"\x89PNG\r\n\x1a\n").decode()}],
    accessors=[{"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3",
                "sparse": {"count": 1, "indices": {"bufferView": 4, "componentType": 5123},
                           "values": {"bufferView": 5}}},
               {"bufferView": 1, "componentType": 5126, "count": 4, "type": "VEC3"},
               {"bufferView": 2, "componentType": 5126, "count": 4, "type": "VEC2"},
               {"bufferView": 3, "componentType": 5121, "normalized": True, "count": 4, "type": "VEC4"}],
    bufferViews=views,
    buffers=[{"uri": data_uri(blob), "byteLength": len(blob)}],
    extensionsUsed=["KHR_materials_pbrSpecularGlossiness"]))

# A plain triangle list without normals or indices, in a data: URI buffer, no scene.
tri = floats(0, 0, 0, 0, 1, 0, 1, 0, 0)
write("plain.gltf", doc(
    nodes=[{"mesh": 0, "scale": [-1, 1, 1]}],
    meshes=[{"primitives": [{"attributes": {"POSITION": 0}}]}],
    accessors=[{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"}],
    bufferViews=[{"buffer": 0, "byteLength": 36}],
    buffers=[{"uri": data_uri(tri), "byteLength": 36}]))


def glb(document, binary):
    js = json.dumps(document, separators=(",", ":")).encode()
    js += b" " * (-len(js) % 4)
    binary += b"\0" * (-len(binary) % 4)
    body = struct.pack("<I4s", len(js), b"JSON") + js + struct.pack("<I4s", len(binary), b"BIN\0") + binary
    return struct.pack("<4sII", b"glTF", 2, 12 + len(body)) + body


# A GLB: a fan of four vertices with byte indices and a texture whose image is in the BIN chunk.
pos = floats(0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0)
idx = bytes([0, 1, 2, 3])
image = b"\x89PNG\r\n\x1a\n"
write("fan.glb", glb({
    "asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
    "nodes": [{"mesh": 0}],
    "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1, "mode": 6, "material": 0}]}],
    "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
    "textures": [{"source": 0}],
    "images": [{"bufferView": 2, "mimeType": "image/png", "name": "skin"}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3"},
                  {"bufferView": 1, "componentType": 5121, "count": 4, "type": "SCALAR"}],
    "bufferViews": [{"buffer": 0, "byteLength": 48}, {"buffer": 0, "byteOffset": 48, "byteLength": 4},
                    {"buffer": 0, "byteOffset": 52, "byteLength": 8}],
    "buffers": [{"byteLength": 60}]}, pos + idx + image))
