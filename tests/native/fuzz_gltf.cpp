// libFuzzer entry point for the glTF reader: any input must give an error or a mesh whose
// indices all hold. Every buffer the file names by URI reads as the same small buffer (a
// triangle's positions, then its 16-bit indices), so that external buffers are fuzzed too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_mesh.h"
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
  const bool read = gltf::parse(data, size, binary, files, m, error);
  check_read(read, error, m, true);
  return 0;
}
