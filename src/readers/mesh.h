// The one description of a mesh that every model reader produces and the mesh builder takes:
// one merged, triangulated mesh in the engine's left-handed axes (+Y up, +Z into the screen,
// front faces wound clockwise), with one material index per triangle.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace readers {

// Where a material's texture image is to be found.
enum class texture_origin : std::uint8_t {
  client_folder,  // a file named relative to the folder the client passes (.x files)
  model_folder,   // a file named relative to the model file's own folder ('/' or '\\' between parts)
  embedded,       // bytes held in the model file itself, in image
};

struct material {
  float diffuse[4] = {0, 0, 0, 0};  // r, g, b, a
  float power = 0;
  float specular[3] = {0, 0, 0};
  float emissive[3] = {0, 0, 0};
  std::string texture;  // empty when the material has no texture; what the file calls it otherwise
  texture_origin origin = texture_origin::client_folder;
  std::shared_ptr<const std::vector<std::uint8_t>> image;  // the encoded image, when embedded
};

struct mesh {
  std::vector<std::array<float, 3>> positions;
  std::vector<std::array<float, 3>> normals;    // empty, or one per position
  std::vector<std::array<float, 2>> texcoords;  // empty, or one per position; (0,0) is the image's top left
  std::vector<std::uint32_t> colors;            // empty, or one ARGB per position
  std::vector<std::array<std::uint32_t, 3>> triangles;
  std::vector<std::uint32_t> attributes;        // one material index per triangle
  std::vector<material> materials;              // never empty after a successful read
  std::string skipped;  // what a tolerated fault made the reader pass over; empty when nothing
};

}  // namespace readers
