// The pose of an animated model and the skinning of its vertices on the processor, both portable.
//
// A pose is made once from a model's description and keeps what it needs of it (the frames,
// bones, animations and the rest positions and normals of its vertices), so the description may
// be given away afterwards. Everything it works in is allocated then: animate() and skin() never
// allocate.
//
// Conventions, those of D3DX: row vectors (v' = v * m); quaternions x, y, z, w turned into
// matrices as D3DXMatrixRotationQuaternion does; a frame's local matrix is S * R * T and its
// combined matrix its local matrix times its parent's combined one; a bone moves vertices by
// offset * combined(bone frame).
//
// The current pose is held per frame as a local translation, rotation (a unit quaternion) and
// scale, so that poses blend part by part: translations and scales linearly, rotations by slerp
// along the shorter arc. Rest matrices and matrix keys are split into those parts once, as
// D3DXMatrixDecompose does (scales are the lengths of the first three rows, the rotation that of
// the rows divided by them; no shear is assumed), except that a matrix with a negative
// determinant, a mirror, gets a negative x scale instead of a rotation that is not one.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "readers/mesh.h"

namespace anim {

class pose {
 public:
  // Takes the frames, bones, influences, animations, positions and normals of description and
  // starts at the rest pose. What does not hold together is passed over rather than trusted:
  // a channel or bone naming no frame, a parent that is not an earlier frame (the frame becomes
  // a root), an influence naming no bone or with a weight that is zero or not finite (dropped),
  // influences, weights or normals not one per position (all ignored).
  explicit pose(const readers::mesh& description);

  int animation_count() const { return static_cast<int>(clips_.size()); }
  // The name and length in seconds of animation 0 <= index < animation_count().
  const std::string& name(int animation) const;
  float length(int animation) const;

  int vertex_count() const { return static_cast<int>(vertices_.size()); }
  int frame_count() const { return static_cast<int>(parents_.size()); }
  int bone_count() const { return static_cast<int>(bones_.size()); }
  // Whether skin() writes normals: whether the description has one per position.
  bool has_normals() const { return has_normals_; }

  // Samples animation (-1 for the rest pose) at seconds and blends the result over the current
  // pose with weight: 1 replaces it, 0 leaves it, 0.3 moves it 30% of the way. Time wraps
  // around the animation's length, negative times too; an animation of length 0 is sampled at 0.
  // Frames the animation does not move take their rest transform in the sampled pose, and parts
  // of a frame's transform it has no keys for (a channel of rotations alone) their rest parts.
  // The caller checks that animation is -1 or an animation's index and that seconds and weight
  // are finite, weight in [0, 1].
  void animate(int animation, float seconds, float weight = 1);

  // Writes each output vertex's position, and its normal when has_normals() and normals is not
  // null, under the current pose: position = sum of w * (p * bone), normal = the normalised sum
  // of w * (n * the bone's normal matrix), where the normal matrix is the inverse transpose of
  // the bone's 3x3 part scaled by |det|^(2/3): the 3x3 part itself for a rotation with uniform
  // scale, and still perpendicular to the surface under non-uniform scale. A vertex with no
  // weight keeps its rest position and normal. Positions may be null too. Output vertex i goes to positions + i * position_stride (three floats) and
  // normals + i * normal_stride; it comes from description vertex source[i], or from vertex i
  // when source is empty, so the caller may write straight into a vertex buffer whose vertices
  // it reordered or duplicated. Indices in source must be below vertex_count() (an output
  // vertex of another is left unwritten). The bone matrices are brought up to the current pose
  // once per call, only when animate() changed it.
  void skin(void* positions, std::size_t position_stride, void* normals, std::size_t normal_stride,
            std::span<const std::uint32_t> source = {});

  // The combined matrix of a frame and the matrix of a bone (offset * combined) in the current
  // pose, for what the engine draws by frame rather than by skinning; not const, as they bring
  // the matrices up to the current pose as skin() does.
  readers::matrix frame_matrix(int frame);
  readers::matrix bone_matrix(int bone);

 private:
  struct transform {
    std::array<float, 3> translation{};
    std::array<float, 4> rotation{0, 0, 0, 1};
    std::array<float, 3> scale{1, 1, 1};
  };
  // The first three columns of a row-vector matrix whose last column is (0, 0, 0, 1), row by row.
  using affine = std::array<float, 12>;
  // What a bone does to a vertex, as rows of four floats whose last is zero, so that a row is
  // one vector operation: the four rows of the affine matrix for positions, then the three of
  // the matrix for normals.
  struct skin_matrix {
    float row[7][4];
  };
  // A vertex at rest with its influences, those of non-zero weight first.
  struct vertex {
    float position[3];
    float normal[3];
    float weight[readers::max_influences];
    std::uint16_t bone[readers::max_influences];
  };
  template <std::size_t N>
  struct curve {
    readers::interpolation mode = readers::interpolation::linear;
    std::vector<readers::key<N>> keys;  // empty when the channel does not move this part
  };
  struct track {
    int frame = 0;
    curve<3> translation, scale;
    curve<4> rotation;  // unit quaternions
  };
  struct clip {
    std::string name;
    float length = 0;
    std::vector<track> tracks;
  };

  void sample(int animation, float seconds, std::vector<transform>& out) const;
  void update();  // brings combined_ and skin_ up to the current pose

  std::vector<int> parents_;
  std::vector<transform> rest_;
  std::vector<transform> current_, sampled_;
  std::vector<affine> combined_;
  std::vector<int> bone_frames_;  // -1 for a bone naming no frame
  std::vector<affine> bones_;     // offsets
  std::vector<skin_matrix> skin_;
  std::vector<vertex> vertices_;
  std::vector<clip> clips_;
  bool has_normals_ = false;
  bool dirty_ = true;  // combined_ and skin_ are not yet those of current_
};

}  // namespace anim
