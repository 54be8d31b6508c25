// Sampling, blending and skinning; see pose.h for the conventions.
#include "anim/pose.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

namespace anim {
namespace {

using vec3 = std::array<float, 3>;
using quat = std::array<float, 4>;
using readers::interpolation;

float dot(const quat& a, const quat& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]; }

// q at unit length; the identity for a quaternion of no length or that is not finite.
quat normalised(const quat& q) {
  const float length = std::sqrt(dot(q, q));
  if (!(length > 0) || !std::isfinite(length)) return {0, 0, 0, 1};
  return {q[0] / length, q[1] / length, q[2] / length, q[3] / length};
}

vec3 lerp(const vec3& a, const vec3& b, float t) {
  return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

// As D3DXQuaternionSlerp: along the shorter arc (b's sign flipped when the two are more than
// half a turn apart as quaternions), linearly when they are almost equal; the result is
// normalised, since the linear case leaves it a little short.
quat slerp(const quat& a, const quat& b, float t) {
  float d = dot(a, b);
  float tb = t;
  if (d < 0) d = -d, tb = -t;
  float ta = 1 - t;
  if (1 - d > 0.001f) {
    const float theta = std::acos(d), sine = std::sin(theta);
    ta = std::sin(ta * theta) / sine;
    tb = std::sin(tb * theta) / sine;
  }
  return normalised({ta * a[0] + tb * b[0], ta * a[1] + tb * b[1], ta * a[2] + tb * b[2], ta * a[3] + tb * b[3]});
}

// The quaternion of a rotation matrix in row-vector form, r[row][column]: the inverse of
// D3DXMatrixRotationQuaternion, from the largest of w, x, y, z for precision.
quat quaternion_of(const float r[3][3]) {
  const float trace = r[0][0] + r[1][1] + r[2][2];
  quat q;
  if (trace > 0) {
    const float s = std::sqrt(trace + 1) * 2;  // 4w
    q = {(r[1][2] - r[2][1]) / s, (r[2][0] - r[0][2]) / s, (r[0][1] - r[1][0]) / s, s / 4};
  } else if (r[0][0] >= r[1][1] && r[0][0] >= r[2][2]) {
    const float s = std::sqrt(1 + r[0][0] - r[1][1] - r[2][2]) * 2;  // 4x
    q = {s / 4, (r[0][1] + r[1][0]) / s, (r[0][2] + r[2][0]) / s, (r[1][2] - r[2][1]) / s};
  } else if (r[1][1] >= r[2][2]) {
    const float s = std::sqrt(1 + r[1][1] - r[0][0] - r[2][2]) * 2;  // 4y
    q = {(r[0][1] + r[1][0]) / s, s / 4, (r[1][2] + r[2][1]) / s, (r[2][0] - r[0][2]) / s};
  } else {
    const float s = std::sqrt(1 + r[2][2] - r[0][0] - r[1][1]) * 2;  // 4z
    q = {(r[0][2] + r[2][0]) / s, (r[1][2] + r[2][1]) / s, s / 4, (r[0][1] - r[1][0]) / s};
  }
  return normalised(q);
}

// A stored matrix as translation, rotation and scale; see pose.h. A matrix with a zero scale
// has no rotation to find and keeps the identity.
template <class Transform>
Transform decompose(const readers::matrix& m) {
  Transform x;
  x.translation = {m[12], m[13], m[14]};
  float r[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r[i][j] = m[i * 4 + j];
    x.scale[i] = std::sqrt(r[i][0] * r[i][0] + r[i][1] * r[i][1] + r[i][2] * r[i][2]);
  }
  const float det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) - r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                    r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
  if (det < 0) x.scale[0] = -x.scale[0];
  if (x.scale[0] == 0 || x.scale[1] == 0 || x.scale[2] == 0) return x;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] /= x.scale[i];
  x.rotation = quaternion_of(r);
  return x;
}

// S * R * T as an affine matrix: row i of the rotation matrix scaled by scale i, then the
// translation.
template <class Transform>
std::array<float, 12> compose(const Transform& x) {
  const auto& [qx, qy, qz, qw] = x.rotation;
  const float r[9] = {1 - 2 * (qy * qy + qz * qz), 2 * (qx * qy + qz * qw),     2 * (qx * qz - qy * qw),
                      2 * (qx * qy - qz * qw),     1 - 2 * (qx * qx + qz * qz), 2 * (qy * qz + qx * qw),
                      2 * (qx * qz + qy * qw),     2 * (qy * qz - qx * qw),     1 - 2 * (qx * qx + qy * qy)};
  std::array<float, 12> m;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i * 3 + j] = x.scale[i] * r[i * 3 + j];
  m[9] = x.translation[0], m[10] = x.translation[1], m[11] = x.translation[2];
  return m;
}

// a * b for affine matrices (row vectors: a applies first).
std::array<float, 12> multiply(const std::array<float, 12>& a, const std::array<float, 12>& b) {
  std::array<float, 12> m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j)
      m[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j] + (i == 3 ? b[9 + j] : 0);
  return m;
}

constexpr std::array<float, 12> identity{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

// Four floats as one vector, for skinning (a GCC and Clang extension: SSE registers on x86,
// plain floats where there are no vectors). Rows are loaded from floats of any alignment.
using float4 = float __attribute__((vector_size(16)));
float4 load(const float (&row)[4]) {
  float4 v;
  std::memcpy(&v, row, sizeof v);
  return v;
}

// The value of a curve's keys at time: the first key's before it, the last key's after it,
// between two keys as the curve's interpolation says. Keys out of order give some key's value
// rather than reading outside them.
template <std::size_t N>
std::array<float, N> value_at(interpolation mode, const std::vector<readers::key<N>>& keys, float time) {
  if (!(time > keys.front().time)) return keys.front().value;
  if (!(time < keys.back().time)) return keys.back().value;
  const auto next = std::upper_bound(keys.begin(), keys.end(), time,
                                     [](float t, const readers::key<N>& k) { return t < k.time; });
  if (next == keys.begin() || next == keys.end()) return keys.back().value;
  const readers::key<N>& a = next[-1];
  const readers::key<N>& b = *next;
  const float span = b.time - a.time;
  if (mode == interpolation::step || !(span > 0)) return a.value;
  const float u = (time - a.time) / span;
  std::array<float, N> v;
  if (mode == interpolation::cubic_spline) {
    // glTF's cubic Hermite spline: tangents are per second, so scaled by the keys' interval.
    const float u2 = u * u, u3 = u2 * u;
    const float h00 = 2 * u3 - 3 * u2 + 1, h10 = (u3 - 2 * u2 + u) * span, h01 = -2 * u3 + 3 * u2,
                h11 = (u3 - u2) * span;
    for (std::size_t i = 0; i < N; ++i) v[i] = h00 * a.value[i] + h10 * a.out[i] + h01 * b.value[i] + h11 * b.in[i];
    if constexpr (N == 4) v = normalised(v);
  } else if constexpr (N == 4) {
    v = slerp(a.value, b.value, u);
  } else {
    v = lerp(a.value, b.value, u);
  }
  return v;
}

}  // namespace

pose::pose(const readers::mesh& description) {
  const std::size_t frames = description.frames.size();
  parents_.resize(frames);
  rest_.resize(frames);
  for (std::size_t f = 0; f < frames; ++f) {
    const readers::frame& frame = description.frames[f];
    parents_[f] = frame.parent >= 0 && static_cast<std::size_t>(frame.parent) < f ? frame.parent : -1;
    rest_[f] = decompose<transform>(frame.rest);
  }
  current_ = rest_;
  sampled_.resize(frames);
  combined_.resize(frames);

  const std::size_t bones = description.bones.size();
  bone_frames_.resize(bones);
  bones_.resize(bones);
  skin_.resize(bones);
  for (std::size_t b = 0; b < bones; ++b) {
    const readers::bone& bone = description.bones[b];
    bone_frames_[b] = bone.frame >= 0 && static_cast<std::size_t>(bone.frame) < frames ? bone.frame : -1;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 3; ++j) bones_[b][i * 3 + j] = bone.offset[i * 4 + j];
  }

  const std::size_t count = description.positions.size();
  has_normals_ = count > 0 && description.normals.size() == count;
  const bool influenced = description.influences.size() == count && description.weights.size() == count;
  vertices_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    vertex& v = vertices_[i];
    v = {};
    std::memcpy(v.position, description.positions[i].data(), sizeof v.position);
    if (has_normals_) std::memcpy(v.normal, description.normals[i].data(), sizeof v.normal);
    if (!influenced) continue;
    int kept = 0;
    for (int k = 0; k < readers::max_influences; ++k) {
      const float w = description.weights[i][k];
      const std::uint16_t b = description.influences[i][k];
      if (w == 0 || !std::isfinite(w) || b >= bones) continue;
      v.weight[kept] = w;
      v.bone[kept++] = b;
    }
  }

  clips_.resize(description.animations.size());
  for (std::size_t a = 0; a < clips_.size(); ++a) {
    const readers::animation& from = description.animations[a];
    clip& c = clips_[a];
    c.name = from.name;
    c.length = std::isfinite(from.length) && from.length > 0 ? from.length : 0;
    for (const readers::channel& ch : from.channels) {
      if (ch.frame < 0 || static_cast<std::size_t>(ch.frame) >= frames) continue;
      track t;
      t.frame = ch.frame;
      t.translation = {ch.mode, ch.translation};
      t.scale = {ch.mode, ch.scale};
      t.rotation = {ch.mode, ch.rotation};
      for (readers::key<4>& k : t.rotation.keys) k.value = normalised(k.value);
      // Matrix keys give the parts the channel has no keys of its own for, interpolated part by
      // part like any other keys (they have no tangents, so a spline of them is taken linearly).
      if (!ch.matrices.empty()) {
        const interpolation mode = ch.mode == interpolation::cubic_spline ? interpolation::linear : ch.mode;
        const bool t_free = t.translation.keys.empty(), r_free = t.rotation.keys.empty(), s_free = t.scale.keys.empty();
        if (t_free) t.translation.mode = mode;
        if (r_free) t.rotation.mode = mode;
        if (s_free) t.scale.mode = mode;
        if (t_free) t.translation.keys.reserve(ch.matrices.size());
        if (r_free) t.rotation.keys.reserve(ch.matrices.size());
        if (s_free) t.scale.keys.reserve(ch.matrices.size());
        for (const readers::key<16>& k : ch.matrices) {
          const transform x = decompose<transform>(k.value);
          if (t_free) t.translation.keys.push_back({k.time, x.translation, {}, {}});
          if (r_free) t.rotation.keys.push_back({k.time, x.rotation, {}, {}});
          if (s_free) t.scale.keys.push_back({k.time, x.scale, {}, {}});
        }
      }
      if (!t.translation.keys.empty() || !t.rotation.keys.empty() || !t.scale.keys.empty())
        c.tracks.push_back(std::move(t));
    }
  }
}

const std::string& pose::name(int animation) const {
  assert(animation >= 0 && animation < animation_count());
  return clips_[animation].name;
}

float pose::length(int animation) const {
  assert(animation >= 0 && animation < animation_count());
  return clips_[animation].length;
}

void pose::sample(int animation, float seconds, std::vector<transform>& out) const {
  std::copy(rest_.begin(), rest_.end(), out.begin());
  if (animation < 0) return;
  const clip& c = clips_[animation];
  float time = 0;
  if (c.length > 0) {
    time = std::fmod(seconds, c.length);
    if (time < 0) time += c.length;
    if (!(time < c.length)) time = 0;  // a tiny negative remainder rounds up to the length itself
  }
  for (const track& t : c.tracks) {
    transform& x = out[t.frame];
    if (!t.translation.keys.empty()) x.translation = value_at(t.translation.mode, t.translation.keys, time);
    if (!t.rotation.keys.empty()) x.rotation = value_at(t.rotation.mode, t.rotation.keys, time);
    if (!t.scale.keys.empty()) x.scale = value_at(t.scale.mode, t.scale.keys, time);
  }
}

void pose::animate(int animation, float seconds, float weight) {
  assert(animation >= -1 && animation < animation_count());
  assert(std::isfinite(seconds) && weight >= 0 && weight <= 1);
  if (animation < -1 || animation >= animation_count() || !(weight > 0)) return;
  dirty_ = true;
  if (weight >= 1) return sample(animation, seconds, current_);
  sample(animation, seconds, sampled_);
  for (std::size_t f = 0; f < current_.size(); ++f) {
    transform& to = current_[f];
    const transform& from = sampled_[f];
    to.translation = lerp(to.translation, from.translation, weight);
    to.rotation = slerp(to.rotation, from.rotation, weight);
    to.scale = lerp(to.scale, from.scale, weight);
  }
}

void pose::update() {
  if (!dirty_) return;
  dirty_ = false;
  for (std::size_t f = 0; f < current_.size(); ++f) {
    const affine local = compose(current_[f]);
    combined_[f] = parents_[f] < 0 ? local : multiply(local, combined_[parents_[f]]);
  }
  for (std::size_t b = 0; b < bones_.size(); ++b) {
    const affine m = bone_frames_[b] < 0 ? identity : multiply(bones_[b], combined_[bone_frames_[b]]);
    skin_matrix& s = skin_[b];
    for (int i = 0; i < 4; ++i) s.row[i][0] = m[i * 3], s.row[i][1] = m[i * 3 + 1], s.row[i][2] = m[i * 3 + 2], s.row[i][3] = 0;
    // Normals go through the inverse transpose, whose rows are the cross products of the
    // matrix's rows over its determinant, so that non-uniform scale leaves them perpendicular
    // to the surface. It is scaled by the cube root of the determinant squared, which makes it
    // the matrix itself for a rotation with uniform scale: bones then weigh in a vertex's normal
    // as they do in its position. A degenerate matrix keeps itself.
    const float* r = m.data();
    const float c[9] = {r[4] * r[8] - r[5] * r[7], r[5] * r[6] - r[3] * r[8], r[3] * r[7] - r[4] * r[6],
                        r[7] * r[2] - r[8] * r[1], r[8] * r[0] - r[6] * r[2], r[6] * r[1] - r[7] * r[0],
                        r[1] * r[5] - r[2] * r[4], r[2] * r[3] - r[0] * r[5], r[0] * r[4] - r[1] * r[3]};
    const float det = r[0] * c[0] + r[1] * c[1] + r[2] * c[2];
    const float root = std::cbrt(det);
    const bool invertible = det != 0 && std::isfinite(root);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) s.row[4 + i][j] = invertible ? c[i * 3 + j] / root : r[i * 3 + j];
      s.row[4 + i][3] = 0;
    }
  }
}

void pose::skin(void* positions, std::size_t position_stride, void* normals, std::size_t normal_stride,
                std::span<const std::uint32_t> source) {
  update();
  auto* const position_out = static_cast<std::byte*>(positions);
  auto* const normal_out = has_normals_ ? static_cast<std::byte*>(normals) : nullptr;
  const vertex* const vertices = vertices_.data();
  const skin_matrix* const matrices = skin_.data();
  const std::size_t vertex_count = vertices_.size();

  const auto run = [&](std::size_t count, auto source_of) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t from = source_of(i);
      assert(from < vertex_count);
      if (from >= vertex_count) continue;
      const vertex& v = vertices[from];
      std::byte* const position = position_out ? position_out + i * position_stride : nullptr;
      std::byte* const normal = normal_out ? normal_out + i * normal_stride : nullptr;
      if (v.weight[0] == 0) {
        if (position) std::memcpy(position, v.position, sizeof v.position);
        if (normal) std::memcpy(normal, v.normal, sizeof v.normal);
        continue;
      }
      // Each bone's transform of the vertex, weighted, a row of four floats at a time: fewer
      // operations than blending the matrices first for the one or two bones most vertices have.
      const float x = v.position[0], y = v.position[1], z = v.position[2];
      const float a = v.normal[0], b = v.normal[1], c = v.normal[2];
      float4 sp = {}, sn = {};
      for (int k = 0; k < readers::max_influences && v.weight[k] != 0; ++k) {
        const float w = v.weight[k];
        const auto& m = matrices[v.bone[k]].row;
        sp += w * (x * load(m[0]) + y * load(m[1]) + z * load(m[2]) + load(m[3]));
        sn += w * (a * load(m[4]) + b * load(m[5]) + c * load(m[6]));
      }
      if (position) std::memcpy(position, &sp, 3 * sizeof(float));
      if (normal) {
        const float length2 = sn[0] * sn[0] + sn[1] * sn[1] + sn[2] * sn[2];
        if (length2 > 0) sn *= 1 / std::sqrt(length2);
        std::memcpy(normal, &sn, 3 * sizeof(float));
      }
    }
  };
  if (source.empty())
    run(vertex_count, [](std::size_t i) { return i; });
  else
    run(source.size(), [source](std::size_t i) { return static_cast<std::size_t>(source[i]); });
}

readers::matrix pose::frame_matrix(int frame) {
  assert(frame >= 0 && frame < frame_count());
  update();
  const affine& m = combined_[frame];
  return {m[0], m[1], m[2], 0, m[3], m[4], m[5], 0, m[6], m[7], m[8], 0, m[9], m[10], m[11], 1};
}

readers::matrix pose::bone_matrix(int bone) {
  assert(bone >= 0 && bone < bone_count());
  update();
  const auto& m = skin_[bone].row;
  return {m[0][0], m[0][1], m[0][2], 0, m[1][0], m[1][1], m[1][2], 0,
          m[2][0], m[2][1], m[2][2], 0, m[3][0], m[3][1], m[3][2], 1};
}

}  // namespace anim
