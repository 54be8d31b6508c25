// What the fuzz targets of the model readers check of every input: a refusal says why, and a
// mesh has materials, arrays of one length and indices that all hold.
#pragma once
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
}
