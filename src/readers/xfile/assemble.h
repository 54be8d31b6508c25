// Geometry steps between reading a file and handing out its mesh: splitting vertices by normal,
// triangulating polygons, placing meshes by their frames, merging them into one and giving every
// vertex the bones that move it.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "xfile.h"

namespace xfile {

using matrix = std::array<float, 16>;  // row-major, row vectors: v' = v * M

// Returns the identity matrix.
matrix identity_matrix();
// Returns a * b, so that v * (a * b) applies a first.
matrix multiply(const matrix& a, const matrix& b);
// Sets out to the inverse of m and returns true, or returns false when m has no finite inverse.
bool invert(const matrix& m, matrix& out);

// What tolerated faults made the reader pass over, for mesh::skipped: the first few notes in
// full, then only how many more there were, so that a hostile file cannot make the text huge.
class notes {
 public:
  void add(std::string note);
  // Returns the notes joined by "; ", after `first` when that is not empty.
  std::string text(std::string first) const;

 private:
  std::vector<std::string> kept_;
  std::size_t more_ = 0;
};

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

// One SkinWeights object: the frame that moves the listed vertices of its mesh (by index among
// the file's vertices of that mesh), their weights, and the matrix that takes the mesh's own
// vertices into the frame's space at the rest pose.
struct skin_weights {
  std::string frame_name;
  int frame = -1;  // index into the frame table once the name is found; -1 when no frame has it
  std::vector<std::uint32_t> vertices;
  std::vector<float> weights;  // one per vertex index
  matrix offset = identity_matrix();
};

// A mesh ready for merging: triangles in model space of its own, frame not yet applied.
struct placed_mesh {
  mesh geometry;        // geometry.materials empty when the file gave no material list
  bool has_material_list = false;
  int frame = -1;       // index into the frame table, -1 for a mesh outside every frame
  std::vector<std::uint32_t> copies;  // the file vertex of each copy appended by normal splitting
  std::vector<skin_weights> skin;
};

// A frame: its name, its parent (-1 at the top) and the product of its FrameTransformMatrix
// objects.
struct frame_node {
  std::string name;
  int parent = -1;
  matrix local = identity_matrix();
};

// Turns a polygon mesh into triangles, one vertex per distinct position and normal pair; takes
// over in's vertex data rather than copying it. copied_from receives the file vertex of every
// copy appended after the file's vertices. Throws parse_error if the result would need more than
// 2^32 - 1 vertices.
mesh triangulate(polygon_mesh&& in, std::vector<std::uint32_t>& copied_from);

// Returns every frame's rest transform in model space: its own matrix times its parents', child
// first. Frames are numbered so that parents come before their children.
std::vector<matrix> world_matrices(const std::vector<frame_node>& frames);

// The bones and per-vertex influences of the merged mesh, vertices in merge order.
struct rigging {
  std::vector<readers::bone> bones;
  std::vector<std::array<std::uint16_t, readers::max_influences>> influences;
  std::vector<std::array<float, readers::max_influences>> weights;
};

// Gives every vertex of the meshes the bones that move it, as xfile.h describes: skinned
// vertices their strongest SkinWeights, other vertices their mesh's frame, vertices of meshes
// outside every frame nothing. Skin frames must be resolved. Notes what it passes over in
// skipped; throws parse_error when more bones are needed than influences can index.
rigging rig(const std::vector<placed_mesh>& meshes, const std::vector<matrix>& world, notes& skipped);

// Places every mesh by the world matrix of its frame (from world_matrices) and merges them,
// offsetting vertex indices and material ids; supplies the default material described in
// xfile.h. meshes must not be empty.
mesh merge(std::vector<placed_mesh>& meshes, const std::vector<matrix>& world);

}  // namespace xfile
