// What the fuzz targets of the model readers check of every input: a refusal says why, and a
// mesh has materials, arrays of one length and indices that all hold, frames whose parents come
// first, influences of existing bones whose weights sum to 1 (or are all zero), and animations of
// existing frames with finite times no later than their length.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "readers/mesh.h"

// normals: whether the reader always gives them (glTF and OBJ compute what a file lacks).
inline void check_read(bool read, const std::string& error, const readers::mesh& m, bool normals) {
  if (!read) {
    if (error.empty()) __builtin_trap();  // every refusal must say why
    return;
  }
  const std::size_t n = m.positions.size();
  auto fits = [n](std::size_t size) { return size == 0 || size == n; };
  if ((normals ? m.normals.size() != n : !fits(m.normals.size())) || !fits(m.texcoords.size()) ||
      !fits(m.colors.size()) || m.attributes.size() != m.triangles.size() || m.materials.empty())
    __builtin_trap();
  for (const auto& t : m.triangles)
    for (std::uint32_t v : t)
      if (v >= n) __builtin_trap();
  for (std::uint32_t a : m.attributes)
    if (a >= m.materials.size()) __builtin_trap();

  const auto frames = static_cast<int>(m.frames.size());
  for (int i = 0; i < frames; ++i)
    if (m.frames[i].parent < -1 || m.frames[i].parent >= i) __builtin_trap();
  for (const readers::bone& b : m.bones)
    if (b.frame < 0 || b.frame >= frames) __builtin_trap();
  if (!fits(m.influences.size()) || m.weights.size() != m.influences.size()) __builtin_trap();
  for (std::size_t v = 0; v < m.weights.size(); ++v) {
    float sum = 0;
    for (int k = 0; k < readers::max_influences; ++k) {
      const float w = m.weights[v][k];
      if (!std::isfinite(w) || w < 0 || (w > 0 && m.influences[v][k] >= m.bones.size())) __builtin_trap();
      sum += w;
    }
    if (sum != 0 && std::fabs(sum - 1) > 1e-4f) __builtin_trap();
  }
  for (const readers::animation& a : m.animations) {
    if (!std::isfinite(a.length)) __builtin_trap();
    auto check_keys = [&](const auto& keys) {
      for (const auto& k : keys)
        if (!std::isfinite(k.time) || k.time > a.length) __builtin_trap();
    };
    for (const readers::channel& c : a.channels) {
      if (c.frame < 0 || c.frame >= frames) __builtin_trap();
      check_keys(c.translation), check_keys(c.scale), check_keys(c.rotation), check_keys(c.matrices);
    }
  }
}
