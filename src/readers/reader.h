// Model files of every format the engine reads, told apart by their content, each read by its
// own reader into the one mesh description.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "readers/mesh.h"

namespace readers {

// Reads another file that a model file names (a glTF buffer, an OBJ material library) by its
// name relative to the model file's folder, as the model file spells it; false with error set
// when it cannot.
using side_files = std::function<bool(const std::string& name, std::vector<std::uint8_t>& out, std::string& error)>;

enum class format { xfile, gltf, glb, obj, unknown };

// The format of a file: "xof " begins a .x file and "glTF" a binary glTF; a JSON object with an
// "asset" member is glTF; OBJ has no mark of its own and is known by the ".obj" ending of name.
format format_of(const std::uint8_t* data, std::size_t size, std::string_view name);

// Reads a whole model file held in memory, of whichever format it is, into out; name is the
// file's name, for its format and its descriptions. On failure returns false with error set to
// what was wrong. Never throws.
bool read(const std::uint8_t* data, std::size_t size, std::string_view name, const side_files& files, mesh& out,
          std::string& error);

}  // namespace readers
