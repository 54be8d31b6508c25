// The one description of a mesh that every model reader produces and the mesh builder takes:
// one merged, triangulated mesh in the engine's left-handed axes (+Y up, +Z into the screen,
// front faces wound clockwise), with one material index per triangle.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace readers {

// Where a material's texture image is to be found.
enum class texture_origin : std::uint8_t {
  client_folder,  // a file named relative to the folder the client passes (.x files)
  model_folder,   // a file named relative to the model file's own folder ('/' or '\\' between parts)
  embedded,       // bytes held in the model file itself, in image
};

struct material {
  float diffuse[4] = {0, 0, 0, 0};  // r, g, b, a
  float power = 0;
  float specular[3] = {0, 0, 0};
  float emissive[3] = {0, 0, 0};
  std::string texture;  // empty when the material has no texture; what the file calls it otherwise
  texture_origin origin = texture_origin::client_folder;
  std::shared_ptr<const std::vector<std::uint8_t>> image;  // the encoded image, when embedded
};

// A 4x4 matrix in Direct3D's convention: row-major, row vectors (v' = v * m), translation in
// elements 12, 13 and 14.
using matrix = std::array<float, 16>;

// A node of the model's frame hierarchy (a .x Frame, a glTF node).
struct frame {
  std::string name;  // as the file gives it; may be empty
  int parent = -1;   // index of the parent frame, always lower than this frame's own; -1 for a root
  matrix rest{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // relative to the parent, as stored
};

// What moves a vertex: the bone frame's combined matrix (its rest or animated transform times its
// parents', child first) after offset. offset takes the merged mesh's positions, as they stand in
// mesh::positions, into the bone frame's space, so that at the rest pose offset times the combined
// matrix is the identity for a rigid part, and for a skinned one whatever its file says.
struct bone {
  int frame = -1;  // index into mesh::frames
  matrix offset{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

// The influences kept per vertex, strongest first; a vertex with fewer has weight 0 in the rest.
constexpr int max_influences = 4;

enum class interpolation : std::uint8_t { linear, step, cubic_spline };

// A key of a channel: its time in seconds and its value. A cubic-spline channel also has the
// in and out tangents of each key, as the file stores them; other channels leave them zero.
template <std::size_t N>
struct key {
  float time = 0;
  std::array<float, N> value{};
  std::array<float, N> in{}, out{};
};

// One frame's keys in one animation. Rotations are quaternions x, y, z, w in D3DX's convention
// (D3DXMatrixRotationQuaternion turns one into the row-vector matrix). A channel with matrix
// keys (.x key type 4) gives the frame's whole transform; otherwise missing parts of the
// transform (no translation keys, say) come from the frame's rest transform.
struct channel {
  int frame = -1;  // index into mesh::frames
  interpolation mode = interpolation::linear;
  std::vector<key<3>> translation, scale;
  std::vector<key<4>> rotation;
  std::vector<key<16>> matrices;
};

struct animation {
  std::string name;  // as the file gives it; may be empty
  float length = 0;  // seconds: the time of the last key of any channel
  std::vector<channel> channels;
};

struct mesh {
  std::vector<std::array<float, 3>> positions;
  std::vector<std::array<float, 3>> normals;    // empty, or one per position
  std::vector<std::array<float, 2>> texcoords;  // empty, or one per position; (0,0) is the image's top left
  std::vector<std::uint32_t> colors;            // empty, or one ARGB per position
  std::vector<std::array<std::uint32_t, 3>> triangles;
  std::vector<std::uint32_t> attributes;        // one material index per triangle
  std::vector<material> materials;              // never empty after a successful read
  // The frame hierarchy, bones, per-vertex influences and animations. All empty for a model with
  // nothing to animate. influences and weights are either empty or one per position: up to
  // max_influences bone indices (into bones) and their weights, which sum to 1; a vertex whose
  // weights are all zero is not moved.
  std::vector<frame> frames;
  std::vector<bone> bones;
  std::vector<std::array<std::uint16_t, max_influences>> influences;
  std::vector<std::array<float, max_influences>> weights;
  std::vector<animation> animations;
  std::string skipped;  // what a tolerated fault made the reader pass over; empty when nothing
};

}  // namespace readers
