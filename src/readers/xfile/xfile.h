// Reads DirectX .x mesh files into one merged, triangulated mesh with its materials.
//
// Reads the text, binary and MSZIP-compressed ("tzip", "bzip") forms, versions 0302 and 0303, with
// 32- or 64-bit floats. Follows the Frame hierarchy (row vectors, v' = v * M, a child's transform
// applied before its parent's), reads Mesh, MeshNormals, MeshTextureCoords, MeshVertexColors,
// MeshMaterialList, Material, TextureFilename, SkinWeights, AnimationSet, Animation, AnimationKey,
// AnimationOptions and AnimTicksPerSecond, and skips everything else (templates, XSkinMeshHeader,
// whose counts the SkinWeights give again, and unknown objects) by matching braces. A Mesh's
// DeclData gives texture coordinates 0, normals and colour 0 (of any vertex declaration type)
// where those objects do not: they win wherever they stand in the mesh. A DeclData whose data
// does not hold one set of its elements per vertex is refused.
//
// Animation and skinning (mesh::frames, bones, influences, weights, animations) are kept only for
// a file with an animation or a skin; a static file leaves them all empty. Then:
// - every Frame is a frame, in file order (parents first), rest = its FrameTransformMatrix (the
//   product of several, identity without one);
// - an AnimationSet is an animation, each Animation in it a channel; an Animation outside any set
//   is an animation of its own, named as it is. An Animation names its frame by a reference
//   "{ Name }" or by a Frame object inside it; names are matched exactly, the first frame of a
//   name counting, as D3DXFrameFind finds it. Channels naming no frame, skins naming no frame and
//   channels without keys are passed over; an animation left without channels is dropped;
// - AnimationKey types 0 (rotation), 1 (scale), 2 (position) and 4 (matrix; also 3, the number
//   D3DX's documentation gives for it). Rotations are stored w, x, y, z and turn the other way
//   from D3DX's quaternions: they are kept conjugated, x, y, z, w, ready for
//   D3DXMatrixRotationQuaternion. (In the exporters' files at hand the rotation key at time 0
//   equals the frame's FrameTransformMatrix only when read so.) Key times are ticks over the
//   AnimTicksPerSecond read last before the animation (D3DX's 4800 before any); keys are sorted
//   stably by time, duplicates kept in file order; an animation's length is its last key time,
//   0 when every key is at time 0. AnimationOptions is read and has no effect: keys interpolate
//   linearly;
// - a SkinWeights is one bone per mesh placement; its offset is inverse(C) * matrixOffset, where C
//   is the rest transform of the mesh's frame chain, because mesh::positions are already placed
//   by C while D3DX skins the mesh's own vertices. Vertex indexes count the file's vertices of its
//   Mesh; copies made by normal splitting take their source vertex's influences. Per vertex the
//   four strongest influences are kept (one bone listed twice counts once, its weights summed)
//   and scaled to sum to 1; zero, negative, infinite and NaN weights and indexes beyond the mesh
//   are dropped (the latter noted in mesh::skipped);
// - every other vertex (of a mesh without skin, or that no SkinWeights gives a weight) follows its
//   mesh's frame, through a bone of offset inverse(C); vertices of meshes outside every frame, or
//   in a frame whose rest transform has no inverse, get all-zero weights and do not move.
// A malformed SkinWeights, AnimationSet, Animation, AnimationKey, AnimationOptions or
// AnimTicksPerSecond object (wrong values, counts beyond the data, a key with the wrong number of
// values, 0 ticks per second) is passed over as a skipped object would be, with a note in
// mesh::skipped, so that every file loads as it did before these objects were read. A file needing
// more than 65536 bones is refused.
//
// It does what D3DXLoadMeshFromX does (as Wine's d3dx9 implements it) where that is not a fault:
// - normals indexed differently from the positions split a vertex once per distinct normal value,
//   the copies appended after the file's vertices; normals are normalised; a vertex that no face
//   uses gets a zero normal;
// - vertices a MeshVertexColors list leaves out are 0x00FFFFFF; colours are clamped to 0..1;
// - texture names are kept exactly as the file spells them (no path or escape processing);
// - meshes without vertices are dropped; a file without any mesh is an error;
// - a file in which no mesh has a material list gets one default material (diffuse 0.5 0.5 0.5 0,
//   specular 0.5 0.5 0.5, power 0, emissive 0) and attribute 0 on every triangle;
// - attribute ids of each mesh are offset by the number of materials of the meshes before it.
//
// Intended differences from that loader:
// - the combined transform is child * parent; Wine multiplies parent * child, which differs only
//   for nested frames with non-commuting matrices. A frame's transform applies to all its meshes,
//   whether the FrameTransformMatrix comes before or after them;
// - normals are transformed by the inverse transpose of the matrix's 3x3 part and renormalised;
//   Wine transforms them as points, translation included;
// - merged triangles are offset by the vertex count of the meshes before them (Wine offsets by
//   three times their face count, which breaks files with more than one mesh);
// - when some meshes have material lists and others do not, the ones without share one default
//   material appended after all the others (Wine lets their attribute 0 point at whatever
//   material comes next);
// - objects that are skipped are not checked against their templates, and malformed skin and
//   animation data is passed over (see above), so such a file still loads; the platform loader
//   refuses it;
// - a MeshMaterialList with fewer face indexes than faces repeats its last index (Wine refuses);
// - text strings may contain ',' ';' and braces; Wine ends a string at any of them;
// - when meshes lack normals, texture coordinates or colours that others have, their vertices get
//   zero normals, zero coordinates and 0x00FFFFFF.
// Faces keep file order: grouping triangles by attribute is left to the mesh builder.
//
// Harmless damage that exporters leave is tolerated:
// - closing braces after the last top-level object that close nothing, zero bytes after the last
//   token or the last compressed block, and DOS end-of-file marks (0x1a) ending a text file;
// - a stray closing brace at the top level followed by more objects (a converter writes one too
//   many before its animation): as the platform's loader does, reading stops at the brace and
//   the meshes before it are the model, even if more follow; mesh::skipped then says where it
//   stood ("a stray '}' at the top level (line N) and everything after it"). Without a mesh
//   before the brace the file is refused as having no mesh.
// Still refused: a file cut inside an object and any other bytes after the last object that no
// stray brace comes before.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "readers/mesh.h"

namespace xfile {

using readers::material;
using readers::mesh;

// Parses a whole file held in memory into out; on failure returns false and sets error to a
// description of what was wrong and where. Never throws.
bool parse(const std::uint8_t* data, std::size_t size, mesh& out, std::string& error);

}  // namespace xfile
