// libFuzzer entry point of the OBJ reader: any input must give an error or a mesh whose indices
// all hold. Every material library it names reads as the same small library, so that the
// materials and their textures are reached too.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "readers/obj/obj.h"

namespace {

const char library[] =
    "newmtl a\nKd 1 0.5 0\nKs 0.2 0.2 0.2\nNs 12\nd 0.5\nmap_Kd -s 1 1 1 -o 0 0 0 tex/a.png\n"
    "newmtl b\nKd 0 0 1\nTr 0.25\nKe 0.1 0 0\nmap_Kd b b.tga\n";

bool finite(const std::array<float, 3>& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const readers::side_files files = [](const std::string& name, std::vector<std::uint8_t>& out, std::string& error) {
    if (name.size() > 1 && name[0] == 'x') {  // some names are missing, as they may be
      error = "not found";
      return false;
    }
    out.assign(library, library + sizeof library - 1);
    return true;
  };
  readers::mesh m;
  std::string error;
  if (!obj::parse(data, size, files, m, error)) {
    if (error.empty()) __builtin_trap();  // every refusal must say why
    return 0;
  }
  const std::size_t n = m.positions.size();
  if (m.normals.size() != n || (!m.texcoords.empty() && m.texcoords.size() != n) ||
      (!m.colors.empty() && m.colors.size() != n) || m.attributes.size() != m.triangles.size() || m.materials.empty() ||
      m.triangles.empty())
    __builtin_trap();
  for (std::size_t i = 0; i < n; ++i)
    if (!finite(m.positions[i]) || !finite(m.normals[i])) __builtin_trap();
  for (const auto& t : m.triangles)
    for (std::uint32_t v : t)
      if (v >= n) __builtin_trap();
  for (std::uint32_t a : m.attributes)
    if (a >= m.materials.size()) __builtin_trap();
  return 0;
}
