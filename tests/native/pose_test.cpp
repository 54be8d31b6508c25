// The pose evaluator and skinning: D3DX's rotation direction, interpolation and wrap-around,
// blending, and skinned positions and normals, with no allocation once made.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "anim/pose.h"
#include "new_counter.h"

namespace {

using vec3 = std::array<float, 3>;
constexpr float pi = 3.14159265f;

readers::matrix transform(vec3 scale, vec3 translation) {
  return {scale[0], 0, 0, 0, 0, scale[1], 0, 0, 0, 0, scale[2], 0, translation[0], translation[1], translation[2], 1};
}

// A rotation key of `degrees` about unit axis, as D3DXQuaternionRotationAxis makes it.
readers::key<4> turn(float time, vec3 axis, float degrees, float sign = 1) {
  const float s = std::sin(degrees * pi / 360) * sign, c = std::cos(degrees * pi / 360) * sign;
  return {time, {axis[0] * s, axis[1] * s, axis[2] * s, c}};
}

vec3 apply(const readers::matrix& m, vec3 p) {
  vec3 out;
  for (int j = 0; j < 3; ++j) out[j] = p[0] * m[j] + p[1] * m[4 + j] + p[2] * m[8 + j] + m[12 + j];
  return out;
}

void expect_near(vec3 actual, vec3 expected, const char* what) {
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(actual[j], expected[j], 1e-4f) << what << ", component " << j;
}

TEST(Pose, RotationKeysTurnAsD3DXSlerpTheShortWayAndTimeWraps) {
  // One frame at rest scaled by 2 and raised by 5, turned about +Y: to 90 degrees at 1 second,
  // then to 180 degrees at 2 seconds by a key of the opposite sign; rest scale and translation
  // stay, as the channel has rotations alone.
  readers::mesh m;
  m.frames.push_back({"root", -1, transform({2, 2, 2}, {0, 5, 0})});
  m.frames.push_back({"mirror", -1, transform({-1, 2, 3}, {})});
  m.animations.push_back({"turn", 2, {{0, readers::interpolation::linear, {}, {},
                                       {turn(0, {0, 1, 0}, 0), turn(1, {0, 1, 0}, 90), turn(2, {0, 1, 0}, 180, -1)}}}});
  anim::pose p(m);
  ASSERT_EQ(p.animation_count(), 1);
  EXPECT_EQ(p.name(0), "turn");
  EXPECT_EQ(p.length(0), 2);
  const float h = std::sqrt(0.5f);
  const struct {
    float time;
    vec3 x;  // where (1, 0, 0) goes
  } cases[] = {{1, {0, 5, -2}},  // D3DXMatrixRotationY(+90 degrees) takes +X to -Z
               {0.5f, {2 * h, 5, -2 * h}}, {2.5f, {2 * h, 5, -2 * h}}, {-1.5f, {2 * h, 5, -2 * h}},
               {1.5f, {-2 * h, 5, -2 * h}}};  // 135 degrees, not the long way's -45
  for (const auto& c : cases) {
    p.animate(0, c.time, 1);
    expect_near(apply(p.frame_matrix(0), {1, 0, 0}), c.x, "turn");
  }
  p.animate(-1, 0, 1);
  expect_near(apply(p.frame_matrix(0), {1, 0, 0}), {2, 5, 0}, "rest");
  expect_near(apply(p.frame_matrix(1), {1, 1, 1}), {-1, 2, 3}, "mirrored rest");
}

TEST(Pose, StepHoldsAndCubicSplineFollowsItsTangentsPerSecond) {
  readers::mesh m;
  m.frames.push_back({});
  m.frames.push_back({});
  readers::animation a{"both", 2, {}};
  a.channels.push_back({0, readers::interpolation::step, {{0, {0, 0, 0}}, {1, {4, 0, 0}}}, {}, {}, {}});
  // x = 0 leaving at 3 per second, x = 1 arriving flat, two seconds apart: at u = 1/2,
  // 1/2 * 0 + 1/8 * 2 * 3 + 1/2 * 1 - 1/8 * 2 * 0 = 1.25.
  a.channels.push_back({1, readers::interpolation::cubic_spline, {{0, {}, {}, {3, 0, 0}}, {2, {1, 0, 0}}}, {}, {}, {}});
  m.animations.push_back(a);
  anim::pose p(m);
  p.animate(0, 0.9f);
  expect_near(apply(p.frame_matrix(0), {}), {0, 0, 0}, "step");
  p.animate(0, 1);
  expect_near(apply(p.frame_matrix(0), {}), {4, 0, 0}, "step");
  expect_near(apply(p.frame_matrix(1), {}), {1.25f, 0, 0}, "cubic spline");
}

TEST(Pose, CrossfadeBlendsTranslationLinearlyAndRotationBySlerpOverMatrixKeys) {
  readers::mesh m;
  m.frames.push_back({});
  m.animations.push_back({"walk", 0, {{0, readers::interpolation::linear, {{0, {10, 0, 0}}}, {}, {}, {}}}});
  // A matrix key: 90 degrees about +Y (rows (0 0 -1), (0 1 0), (1 0 0)), moved 10 along +Z.
  readers::key<16> run{0, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 10, 1}};
  m.animations.push_back({"run", 1, {{0, readers::interpolation::linear, {}, {}, {}, {run}}}});
  anim::pose p(m);
  p.animate(0, 0);
  p.animate(1, 0.5f, 0.3f);
  const readers::matrix r = p.frame_matrix(0);
  expect_near({r[12], r[13], r[14]}, {7, 0, 3}, "translation");
  expect_near({r[0], r[1], r[2]}, {std::cos(27 * pi / 180), 0, -std::sin(27 * pi / 180)}, "rotation by 27 degrees");
}

TEST(Pose, TwoBonesSkinAVertexHalfEachIntoAStridedMapWithoutAllocating) {
  // The root stands at x = 5; frame 1 sits 1 above it and turns 90 degrees about +Z; frame 2
  // is the root scaled by 2 along X. Each bone's offset undoes its frame's rest.
  readers::mesh m;
  m.frames = {{"root", -1, transform({1, 1, 1}, {5, 0, 0})}, {"arm", 0, transform({1, 1, 1}, {0, 1, 0})},
              {"wide", 0, transform({2, 1, 1}, {})}};
  m.bones = {{0, transform({1, 1, 1}, {-5, 0, 0})}, {1, transform({1, 1, 1}, {-5, -1, 0})},
             {2, transform({1, 1, 1}, {-5, 0, 0})}};
  const float h = std::sqrt(0.5f);
  m.positions = {{6, 1, 0}, {3, 3, 3}, {6, 0, 0}};
  m.normals = {{1, 0, 0}, {0, 0, 1}, {h, h, 0}};
  m.influences = {{0, 1, 0, 0}, {0, 0, 0, 0}, {2, 0, 0, 0}};
  m.weights = {{0.5f, 0.5f, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 0}};
  m.animations.push_back({"bend", 0, {{1, readers::interpolation::linear, {}, {}, {turn(0, {0, 0, 1}, 90)}, {}}}});
  anim::pose p(m);
  float out[4][6];
  const std::uint32_t source[] = {1, 0, 2, 0};
  p.animate(0, 0);
  allocations = 0;
  for (int i = 0; i < 3; ++i) {
    p.animate(0, i * 0.1f);
    p.animate(-1, 0, 0.5f);
    p.animate(0, 0, 1);
    p.skin(out, sizeof out[0], &out[0][3], sizeof out[0], source);
  }
  const long made = allocations;
  EXPECT_EQ(made, 0);
  expect_near({out[0][0], out[0][1], out[0][2]}, {3, 3, 3}, "unweighted vertex");
  expect_near({out[0][3], out[0][4], out[0][5]}, {0, 0, 1}, "its normal");
  // Bone 0 leaves (6, 1, 0); bone 1 takes it to (5, 2, 0). Normals (1, 0, 0) and (0, 1, 0).
  expect_near({out[1][0], out[1][1], out[1][2]}, {5.5f, 1.5f, 0}, "half each");
  expect_near({out[1][3], out[1][4], out[1][5]}, {h, h, 0}, "unit normal half way");
  expect_near({out[3][0], out[3][1], out[3][2]}, {5.5f, 1.5f, 0}, "the same vertex again");
  // Stretched along X, a 45-degree surface leans towards Y: the normal goes by the inverse
  // transpose, (1/2, 1, 0), not by the matrix, (2, 1, 0).
  expect_near({out[2][0], out[2][1], out[2][2]}, {7, 0, 0}, "scaled");
  expect_near({out[2][3], out[2][4], out[2][5]}, {1 / std::sqrt(5.f), 2 / std::sqrt(5.f), 0}, "inverse transpose");
}

}  // namespace
