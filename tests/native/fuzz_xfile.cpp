// libFuzzer entry point: any input must give an error or a mesh whose indices all hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "xfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xfile::mesh m;
  std::string error;
  if (!xfile::parse(data, size, m, error)) {
    if (error.empty()) __builtin_trap();  // every refusal must say why
    return 0;
  }
  const std::size_t n = m.positions.size();
  if ((!m.normals.empty() && m.normals.size() != n) || (!m.texcoords.empty() && m.texcoords.size() != n) ||
      (!m.colors.empty() && m.colors.size() != n) || m.attributes.size() != m.triangles.size() || m.materials.empty())
    __builtin_trap();
  for (const auto& t : m.triangles)
    for (std::uint32_t v : t)
      if (v >= n) __builtin_trap();
  for (std::uint32_t a : m.attributes)
    if (a >= m.materials.size()) __builtin_trap();
  return 0;
}
