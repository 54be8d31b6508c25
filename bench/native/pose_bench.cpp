// The pose evaluator and processor skinning on a made-up skinned model: a tube of 64 rings of 64
// vertices (4096) bent by a chain of 20 bones, each ring weighted between its two nearest bones,
// under an animation that turns every bone with linear keys. Reports nanoseconds per call of
// animate() + skin() (and of a crossfade, two animate() calls + skin(), and of skinning through
// a vertex map) into an interleaved buffer of position, normal and texture coordinates, and the
// heap allocations per call after the first.
//
//   pose_bench [iterations]     (2000 if not given)
//
// Built by bench/native's CMakeLists.txt, or alone:
//   g++ -std=c++20 -O2 -Isrc -Itests/native bench/native/pose_bench.cpp src/anim/pose.cpp -o pose_bench
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "anim/pose.h"
#include "new_counter.h"

namespace {

constexpr int rings = 64, around = 64, bones = 20;
constexpr float height = 10, radius = 1;

readers::matrix translation(float x, float y, float z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }

readers::mesh tube() {
  readers::mesh m;
  const float step = height / bones;
  for (int b = 0; b < bones; ++b) {
    m.frames.push_back({"bone", b - 1, translation(0, b ? step : 0, 0)});
    m.bones.push_back({b, translation(0, -step * b, 0)});
  }
  for (int r = 0; r < rings; ++r) {
    const float y = height * r / (rings - 1);
    const float along = y / step;  // which bones, and how far between them
    const int first = std::min(static_cast<int>(along), bones - 1), second = std::min(first + 1, bones - 1);
    const float w = std::min(along - first, 1.f);
    for (int a = 0; a < around; ++a) {
      const float angle = 2 * 3.14159265f * a / around;
      m.positions.push_back({radius * std::cos(angle), y, radius * std::sin(angle)});
      m.normals.push_back({std::cos(angle), 0, std::sin(angle)});
      m.texcoords.push_back({float(a) / around, float(r) / rings});
      if (second == first) m.influences.push_back({std::uint16_t(first), 0, 0, 0}), m.weights.push_back({1, 0, 0, 0});
      else m.influences.push_back({std::uint16_t(first), std::uint16_t(second), 0, 0}), m.weights.push_back({1 - w, w, 0, 0});
    }
  }
  // Every bone sways about Z and twists about Y, with keys every quarter second for 2 seconds.
  for (const char* name : {"sway", "twist"}) {
    readers::animation a{name, 2, {}};
    for (int b = 0; b < bones; ++b) {
      readers::channel c;
      c.frame = b;
      for (int k = 0; k <= 8; ++k) {
        const float half = 0.1f * std::sin(k * 0.785f + b * 0.3f);
        const bool sway = name[0] == 's';
        c.rotation.push_back({k * 0.25f, {0, sway ? 0 : std::sin(half), sway ? std::sin(half) : 0, std::cos(half)}});
      }
      a.channels.push_back(c);
    }
    m.animations.push_back(a);
  }
  return m;
}

// Runs call `iterations` times after one first call, in batches of 50, and prints the time per
// call of the fastest batch (the machine may be shared: slower batches were interrupted) and the
// allocations per call over them all.
template <class F>
void measure(const char* what, int iterations, F call) {
  call(0);
  allocations = 0;
  double best = 1e300;
  for (int done = 0; done < iterations;) {
    const int batch = std::min(50, iterations - done);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < batch; ++i) call(done + i);
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, ns / batch);
    done += batch;
  }
  std::printf("%-34s %10.0f ns/call %8.2f ns/vertex %6.2f allocations/call\n", what, best, best / (rings * around),
              double(allocations) / iterations);
}

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (iterations <= 0) return std::fprintf(stderr, "usage: pose_bench [iterations]\n"), 2;
  const readers::mesh m = tube();
  anim::pose p(m);
  const std::size_t vertices = m.positions.size();
  std::printf("%zu vertices, %d bones, %d animations\n", vertices, p.bone_count(), p.animation_count());

  struct out_vertex {
    float position[3], normal[3], uv[2];
  };
  std::vector<out_vertex> buffer(vertices);
  std::vector<std::uint32_t> map(vertices);  // every ring's vertices in reverse order
  for (std::size_t i = 0; i < vertices; ++i) map[i] = static_cast<std::uint32_t>(i / around * around + around - 1 - i % around);
  float sink = 0;

  const auto skin = [&](std::span<const std::uint32_t> source) {
    p.skin(&buffer[0].position, sizeof(out_vertex), &buffer[0].normal, sizeof(out_vertex), source);
    sink += buffer[vertices / 2].position[0];
  };
  measure("animate + skin", iterations, [&](int i) {
    p.animate(0, i * 0.016f);
    skin({});
  });
  measure("crossfade (animate x2) + skin", iterations, [&](int i) {
    p.animate(0, i * 0.016f);
    p.animate(1, i * 0.016f, 0.3f);
    skin({});
  });
  measure("animate + skin through a map", iterations, [&](int i) {
    p.animate(0, i * 0.016f);
    skin(map);
  });
  measure("animate alone (no matrices)", iterations, [&](int i) { p.animate(0, i * 0.016f); });
  std::printf("(checksum %g)\n", sink);
}
