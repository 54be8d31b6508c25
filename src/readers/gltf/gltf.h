// Reads glTF 2.0 files (.gltf JSON with external or data: URI buffers, and binary .glb) into
// the engine's mesh description, with the node hierarchy, skins and animations that animation
// needs (gltf.cpp says how they are converted).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "readers/reader.h"

namespace gltf {

// Parses a whole file held in memory (binary: a .glb container); buffers and images that the
// file names by relative URI are read through files. Never throws.
bool parse(const std::uint8_t* data, std::size_t size, bool binary, const readers::side_files& files,
           readers::mesh& out, std::string& error);

}  // namespace gltf
