// Reads Wavefront OBJ files with their MTL material libraries into the engine's mesh description.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "readers/reader.h"

namespace obj {

// Parses a whole file held in memory; material libraries (mtllib) are read through files.
// Never throws.
bool parse(const std::uint8_t* data, std::size_t size, const readers::side_files& files, readers::mesh& out,
           std::string& error);

}  // namespace obj
