#include "readers/obj/obj.h"

namespace obj {

bool parse(const std::uint8_t*, std::size_t, const readers::side_files&, readers::mesh&, std::string& error) {
  error = "OBJ files are not read yet";
  return false;
}

}  // namespace obj
