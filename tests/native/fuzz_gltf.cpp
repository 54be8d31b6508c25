// libFuzzer entry point for the glTF reader: any input must give an error or a mesh whose
// indices all hold. Every buffer the file names by URI reads as the same small buffer (a
// triangle's positions, then its 16-bit indices), so that external buffers are fuzzed too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "readers/gltf/gltf.h"

namespace {

std::vector<std::uint8_t> side_buffer() {
  const float positions[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const std::uint16_t indices[4] = {0, 1, 2, 0};
  std::vector<std::uint8_t> b(sizeof positions + sizeof indices);
  std::memcpy(b.data(), positions, sizeof positions);
  std::memcpy(b.data() + sizeof positions, indices, sizeof indices);
  return b;  // 44 bytes
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint8_t> buffer = side_buffer();
  const readers::side_files files = [](const std::string& name, std::vector<std::uint8_t>& out, std::string& error) {
    if (name == "missing.bin") {
      error = "no such file";
      return false;
    }
    out = buffer;
    return true;
  };
  const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;
  readers::mesh m;
  std::string error;
  if (!gltf::parse(data, size, binary, files, m, error)) {
    if (error.empty()) __builtin_trap();  // every refusal must say why
    return 0;
  }
  const std::size_t n = m.positions.size();
  if (m.normals.size() != n || (!m.texcoords.empty() && m.texcoords.size() != n) ||
      (!m.colors.empty() && m.colors.size() != n) || m.attributes.size() != m.triangles.size() || m.materials.empty())
    __builtin_trap();
  for (const auto& t : m.triangles)
    for (std::uint32_t v : t)
      if (v >= n) __builtin_trap();
  for (std::uint32_t a : m.attributes)
    if (a >= m.materials.size()) __builtin_trap();
  return 0;
}
