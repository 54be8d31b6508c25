// libFuzzer entry point: any input must give an error or a mesh whose indices all hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_mesh.h"
#include "xfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xfile::mesh m;
  std::string error;
  const bool read = xfile::parse(data, size, m, error);
  check_read(read, error, m, false);
  return 0;
}
