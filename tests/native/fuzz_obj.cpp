// libFuzzer entry point of the OBJ reader: any input must give an error or a mesh whose indices
// all hold. Every material library it names reads as the same small library, so that the
// materials and their textures are reached too.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_mesh.h"
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
  const bool read = obj::parse(data, size, files, m, error);
  check_read(read, error, m, true);
  if (!read) return 0;
  if (m.triangles.empty()) __builtin_trap();
  for (std::size_t i = 0; i < m.positions.size(); ++i)
    if (!finite(m.positions[i]) || !finite(m.normals[i])) __builtin_trap();
  return 0;
}
