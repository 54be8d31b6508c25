// Geometry steps between reading a file and handing out its mesh: splitting vertices by normal,
// triangulating polygons, placing meshes by their frames and merging them into one.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "xfile.h"

namespace xfile {

using matrix = std::array<float, 16>;  // row-major, row vectors: v' = v * M

// Returns the identity matrix.
matrix identity_matrix();
// Returns a * b, so that v * (a * b) applies a first.
matrix multiply(const matrix& a, const matrix& b);

// One Mesh object as the file gives it, polygons not yet triangulated.
struct polygon_mesh {
  std::vector<std::array<float, 3>> positions;
  std::vector<std::uint32_t> face_sizes;  // corners of each polygon, at least 3
  std::vector<std::uint32_t> corners;     // vertex index of every corner, polygon after polygon
  std::vector<std::array<float, 3>> normals;       // MeshNormals or DeclData normals, normalised
  std::vector<std::uint32_t> normal_corners;       // normal index of every corner, or empty
  bool normals_per_vertex = false;                 // normals: one per position, without corners
  std::vector<std::array<float, 2>> texcoords;     // empty or one per position
  std::vector<std::uint32_t> colors;               // empty or one per position
  bool has_material_list = false;
  std::vector<std::uint32_t> face_materials;       // one per polygon when has_material_list
  std::vector<material> materials;
};

// A mesh ready for merging: triangles in model space of its own, frame not yet applied.
struct placed_mesh {
  mesh geometry;        // geometry.materials empty when the file gave no material list
  bool has_material_list = false;
  int frame = -1;       // index into the frame table, -1 for a mesh outside every frame
};

// A frame: its parent (-1 at the top) and the product of its FrameTransformMatrix objects.
struct frame_node {
  int parent = -1;
  matrix local = identity_matrix();
};

// Turns a polygon mesh into triangles, one vertex per distinct position and normal pair; takes
// over in's vertex data rather than copying it. Throws parse_error if the result would need more
// than 2^32 - 1 vertices.
mesh triangulate(polygon_mesh&& in);

// Places every mesh by its frame chain and merges them, offsetting vertex indices and material
// ids; supplies the default material described in xfile.h. meshes must not be empty.
mesh merge(std::vector<placed_mesh>& meshes, const std::vector<frame_node>& frames);

}  // namespace xfile
