// Reads glTF 2.0 into the engine's mesh description: Debian's tinygltf parses the JSON and the
// GLB container and fetches buffers through side_files; this file checks every index and
// accessor against the bytes present, flattens the node hierarchy into one mesh and converts
// axes, winding and materials.
//
// Axes: glTF is right-handed with +Y up and its front towards +Z; the engine is left-handed and
// its camera looks from -Z towards +Z. Each vertex is taken through its node's world matrix in
// glTF space, then Z is negated, so that a model's front faces the engine's camera, unmirrored
// (+X stays right, +Y up). The mirror turns glTF's counter-clockwise front faces into the
// engine's clockwise ones as seen from the front, so every triangle's winding is reversed too,
// except under a node whose world matrix has a negative determinant, which glTF says already
// reverses it.
//
// Materials (glTF's physically based model onto the engine's diffuse/specular/power):
//   diffuse   = baseColorFactor; alpha = 1 when alphaMode is OPAQUE (the engine draws without
//               blending), baseColorFactor's alpha for MASK and BLEND
//   emissive  = emissiveFactor
//   specular  = lerp(0.04, baseColor.rgb, metallic) * (1 - roughness): dielectrics reflect 4%,
//               metals their own colour, and rough surfaces spread it too wide to show a highlight
//   power     = 2 / roughness^4 - 2, clamped to 2..128: the Blinn-Phong exponent whose lobe
//               matches the GGX lobe of alpha = roughness^2
//   texture   = baseColorTexture's image, when it uses TEXCOORD_0
// KHR_materials_pbrSpecularGlossiness, where a material has it, wins over the core values: its
// diffuse and specular colours and glossiness are the engine's own model (specular =
// specularFactor * glossiness, power from roughness = 1 - glossiness), and writers that give
// both put the core values there as the fallback for readers without the extension.
// A primitive without a material uses glTF's default: white, metallic 1, roughness 1.
#include "readers/gltf/gltf.h"

#define TINYGLTF_IMPLEMENTATION
#include "readers/gltf/tinygltf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <tuple>

#include "readers/gltf/accessor.h"

namespace gltf {
namespace {

// The merged mesh may hold at most this many vertices and triangles: instancing lets a small
// file name far more geometry than it holds, and a 32-bit process could not hold much more.
constexpr std::size_t max_vertices = std::size_t{1} << 24;
constexpr std::size_t max_triangles = std::size_t{1} << 24;
// Primitives drawn, counting each node's instance: a million already makes a mesh no one draws.
constexpr std::size_t max_primitives = std::size_t{1} << 20;
// JSON nested deeper than this is refused before parsing: the loader reads "extras" recursively.
constexpr int max_json_depth = 64;

constexpr std::uint32_t glb_json = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t glb_bin = 0x004E4942;   // "BIN\0"

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Checks the GLB container (header, JSON chunk, optional BIN chunk) and returns the length it
// gives, so that the loader never reads past a chunk; sets json to the JSON chunk.
std::size_t check_glb(const std::uint8_t* data, std::size_t size, const std::uint8_t*& json, std::size_t& json_size) {
  if (size < 20) throw parse_error("the GLB file is " + std::to_string(size) + " bytes, too short for its header");
  if (std::memcmp(data, "glTF", 4) != 0) throw parse_error("the GLB file does not begin with \"glTF\"");
  if (le32(data + 4) != 2) throw parse_error("GLB version " + std::to_string(le32(data + 4)) + "; only 2 is read");
  const std::size_t length = le32(data + 8);
  if (length > size)
    throw parse_error("the GLB header gives a length of " + std::to_string(length) + " bytes but the file holds " +
                      std::to_string(size));
  if (length < 20) throw parse_error("the GLB header gives a length of " + std::to_string(length) + " bytes");
  json_size = le32(data + 12);
  if (le32(data + 16) != glb_json) throw parse_error("the first GLB chunk is not JSON");
  if (json_size > length - 20)
    throw parse_error("the GLB JSON chunk of " + std::to_string(json_size) + " bytes runs past the end of the file");
  json = data + 20;
  const std::size_t rest = length - 20 - json_size;
  if (rest >= 8) {
    const std::size_t bin_size = le32(data + 20 + json_size);
    if (le32(data + 24 + json_size) == glb_bin && bin_size > rest - 8)
      throw parse_error("the GLB BIN chunk of " + std::to_string(bin_size) + " bytes runs past the end of the file");
  }
  return length;
}

// Refuses JSON whose arrays and objects nest deeper than max_json_depth.
void check_json_depth(const std::uint8_t* p, std::size_t n) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = p[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_json_depth)
        throw parse_error("the JSON nests arrays and objects more than " + std::to_string(max_json_depth) + " deep");
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

// Base64 data: URIs of a .gltf are decoded here rather than by the loader, whose decoder looks
// each character up in a string and reads large embedded buffers several times slower than the
// JSON around them. The text handed to the loader names each URI by a placeholder, which
// read_file (buffers) and the material table (images) resolve.
const char placeholder[] = "<data: URI ";

// True when the JSON string starting at text[i] is the value of a "uri" member.
bool is_uri_value(const char* text, std::size_t i) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i > 0 && space(text[i - 1])) --i;
  if (i == 0 || text[i - 1] != ':') return false;
  --i;
  while (i > 0 && space(text[i - 1])) --i;
  return i >= 5 && std::memcmp(text + i - 5, "\"uri\"", 5) == 0;
}

// Prepares .gltf text for the loader: replaces each JSON string that is a base64 data: URI
// (without escapes) with the placeholder "<data: URI N>", N its index in uris, which keeps the
// URI's text; and writes '+' in other URIs as "%2B", since the loader decodes URIs as form
// fields, '+' as a space.
std::string without_data_uris(const std::uint8_t* p, std::size_t n, std::vector<std::string_view>& uris) {
  std::string out;
  out.reserve(n);
  const char* text = reinterpret_cast<const char*>(p);
  std::size_t copied = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (in_string) {
      if (text[i] == '\\') ++i;
      else if (text[i] == '"') in_string = false;
      continue;
    }
    if (text[i] != '"') continue;
    in_string = true;
    std::size_t end = i + 1;
    while (end < n && text[end] != '"' && text[end] != '\\') ++end;
    if (end == n || text[end] != '"') continue;
    if (end - i - 1 < 5 || std::memcmp(text + i + 1, "data:", 5) != 0) {
      if (std::memchr(text + i + 1, '+', end - i - 1) != nullptr && is_uri_value(text, i)) {
        out.append(text + copied, i + 1 - copied);
        for (std::size_t k = i + 1; k < end; ++k) {
          if (text[k] == '+') out += "%2B";
          else out += text[k];
        }
        copied = end;
        i = end;
        in_string = false;
      }
      continue;
    }
    const std::string_view uri(text + i + 1, end - i - 1);
    const std::size_t comma = uri.find(',');
    if (comma == std::string_view::npos || comma < 7 || uri.substr(comma - 7, 7) != ";base64") continue;
    out.append(text + copied, i + 1 - copied);
    out += placeholder + std::to_string(uris.size()) + ">\"";
    uris.push_back(uri);
    copied = end + 1;
    i = end;
    in_string = false;
  }
  out.append(text + copied, n - copied);
  return out;
}

// The index of the data: URI a placeholder names; -1 when name is not one.
long placeholder_index(const std::string& name, std::size_t uris) {
  const std::size_t prefix = sizeof placeholder - 1;
  if (name.size() < prefix + 2 || name.compare(0, prefix, placeholder) != 0 || name.back() != '>') return -1;
  std::size_t v = 0;
  for (std::size_t i = prefix; i + 1 < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || v >= uris) return -1;
    v = v * 10 + static_cast<std::size_t>(name[i] - '0');
  }
  return v < uris ? static_cast<long>(v) : -1;
}

// Decodes the base64 after the comma of a data: URI; false when it is not base64.
bool decode_base64(std::string_view uri, std::vector<std::uint8_t>& out) {
  static const auto table = [] {
    std::array<std::int8_t, 256> t;
    t.fill(-1);
    const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(digits[i])] = static_cast<std::int8_t>(i);
    return t;
  }();
  std::string_view b = uri.substr(uri.find(',') + 1);
  while (!b.empty() && b.back() == '=') b.remove_suffix(1);
  if (b.size() % 4 == 1) return false;
  const std::size_t whole = b.size() / 4, rest = b.size() % 4;
  out.resize(whole * 3 + (rest ? rest - 1 : 0));
  const auto* in = reinterpret_cast<const unsigned char*>(b.data());
  std::uint8_t* to = out.data();
  for (std::size_t q = 0; q < whole; ++q, in += 4, to += 3) {
    const int a = table[in[0]], b1 = table[in[1]], c = table[in[2]], d = table[in[3]];
    if ((a | b1 | c | d) < 0) return false;
    const std::uint32_t bits = static_cast<std::uint32_t>(a << 18 | b1 << 12 | c << 6 | d);
    to[0] = static_cast<std::uint8_t>(bits >> 16), to[1] = static_cast<std::uint8_t>(bits >> 8);
    to[2] = static_cast<std::uint8_t>(bits);
  }
  std::uint32_t bits = 0;
  for (std::size_t k = 0; k < rest; ++k) {
    const int v = table[in[k]];
    if (v < 0) return false;
    bits = bits << 6 | static_cast<std::uint32_t>(v);
  }
  if (rest == 2) to[0] = static_cast<std::uint8_t>(bits >> 4);
  if (rest == 3) to[0] = static_cast<std::uint8_t>(bits >> 10), to[1] = static_cast<std::uint8_t>(bits >> 2);
  return true;
}

// What the loader's file callbacks read from.
struct sources {
  const readers::side_files& files;
  const std::vector<std::string_view>& uris;
};

// The loader's file callbacks: a placeholder reads its data: URI, any other name goes to
// side_files as the file spells it, decoded.
bool file_exists(const std::string&, void*) { return true; }
std::string expand_path(const std::string& path, void*) { return path; }
bool read_file(std::vector<unsigned char>* out, std::string* error, const std::string& name, void* user) {
  const sources& from = *static_cast<const sources*>(user);
  const long uri = placeholder_index(name, from.uris.size());
  if (uri >= 0) {
    if (decode_base64(from.uris[static_cast<std::size_t>(uri)], *out)) return true;
    *error = "its base64 is malformed";
    return false;
  }
  std::string why;
  if (from.files && from.files(name, *out, why)) return true;
  *error = why.empty() ? "it cannot be read" : why;
  return false;
}
bool write_file(std::string* error, const std::string&, const std::vector<unsigned char>&, void*) {
  *error = "files are never written";
  return false;
}

// The loader's image callback: keeps a data: URI's decoded bytes as they are; images in a
// bufferView are read later, once the bufferView has been checked.
bool keep_image_bytes(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                      const unsigned char* bytes, int size, void*) {
  if (image->bufferView < 0 && bytes != nullptr && size > 0) image->image.assign(bytes, bytes + size);
  return true;
}

// The loader's messages as one line.
std::string one_line(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ';';
  return s;
}

// Decodes %XX escapes of a URI; anything else, '/' included, stays as it is.
std::string percent_decoded(const std::string& uri) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && hex(uri[i + 1]) >= 0 && hex(uri[i + 2]) >= 0) {
      out += static_cast<char>(hex(uri[i + 1]) * 16 + hex(uri[i + 2]));
      i += 2;
    } else {
      out += uri[i];
    }
  }
  return out;
}

// A 4x4 matrix in glTF's layout: column-major, for column vectors.
using mat4 = std::array<double, 16>;
constexpr mat4 identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

mat4 operator*(const mat4& a, const mat4& b) {
  mat4 r{};
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 4; ++row) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[col * 4 + k];
      r[col * 4 + row] = s;
    }
  return r;
}

// Node n's own matrix: its matrix, or translation * rotation * scale.
mat4 local_matrix(const tinygltf::Node& node, int n) {
  const std::string name = "node " + std::to_string(n);
  auto check = [&](const std::vector<double>& v, std::size_t size, const char* what) {
    if (!v.empty() && v.size() != size)
      throw parse_error(name + " has a " + what + " of " + std::to_string(v.size()) + " numbers, not " +
                        std::to_string(size));
    for (double x : v)
      if (!std::isfinite(x)) throw parse_error(name + " has a " + what + " that is not a finite number");
  };
  check(node.matrix, 16, "matrix");
  check(node.translation, 3, "translation");
  check(node.rotation, 4, "rotation");
  check(node.scale, 3, "scale");
  if (!node.matrix.empty()) {
    mat4 m;
    std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
    return m;
  }
  mat4 m = identity;
  if (!node.rotation.empty()) {
    double x = node.rotation[0], y = node.rotation[1], z = node.rotation[2], w = node.rotation[3];
    // glTF requires unit quaternions; writers round, so normalise rather than refuse.
    const double len = std::sqrt(x * x + y * y + z * z + w * w);
    if (len > 0) x /= len, y /= len, z /= len, w /= len;
    m = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),     0,
         2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),     0,
         2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y), 0,
         0,                       0,                       0,                       1};
  }
  if (!node.scale.empty())
    for (int col = 0; col < 3; ++col)
      for (int row = 0; row < 3; ++row) m[col * 4 + row] *= node.scale[static_cast<std::size_t>(col)];
  if (!node.translation.empty())
    for (int row = 0; row < 3; ++row) m[12 + row] = node.translation[static_cast<std::size_t>(row)];
  return m;
}

// A mesh drawn by a node, with the node's world matrix.
struct instance {
  int mesh;
  mat4 world;
};

// The nodes of the scene that draw meshes. Every node may have at most one parent and the
// parent links may not loop, so the walk (iterative, never recursive) meets every node at most
// once.
std::vector<instance> scene_instances(const tinygltf::Model& model) {
  const std::size_t count = model.nodes.size();
  std::vector<int> parent(count, -1);
  for (std::size_t i = 0; i < count; ++i)
    for (int child : model.nodes[i].children) {
      if (child < 0 || static_cast<std::size_t>(child) >= count)
        throw parse_error("node " + std::to_string(i) + " names child " + std::to_string(child) + " of " +
                          std::to_string(count) + " nodes");
      if (parent[static_cast<std::size_t>(child)] != -1)
        throw parse_error("node " + std::to_string(child) + " has two parents, nodes " +
                          std::to_string(parent[static_cast<std::size_t>(child)]) + " and " + std::to_string(i));
      parent[static_cast<std::size_t>(child)] = static_cast<int>(i);
    }
  // Follows parent links from each node, marking the nodes on the current path (1) and those
  // known to lead to a root (2): meeting a node of the current path is a loop.
  std::vector<std::uint8_t> state(count, 0);
  std::vector<int> path;
  for (std::size_t i = 0; i < count; ++i) {
    path.clear();
    int at = static_cast<int>(i);
    while (at != -1 && state[static_cast<std::size_t>(at)] == 0) {
      state[static_cast<std::size_t>(at)] = 1;
      path.push_back(at);
      at = parent[static_cast<std::size_t>(at)];
    }
    if (at != -1 && state[static_cast<std::size_t>(at)] == 1)
      throw parse_error("node " + std::to_string(at) + " is its own ancestor: the node hierarchy loops");
    for (int n : path) state[static_cast<std::size_t>(n)] = 2;
  }

  std::vector<int> roots;
  if (!model.scenes.empty()) {
    const int s = model.defaultScene >= 0 ? model.defaultScene : 0;
    if (static_cast<std::size_t>(s) >= model.scenes.size())
      throw parse_error("the default scene is " + std::to_string(s) + " of " + std::to_string(model.scenes.size()));
    for (int n : model.scenes[static_cast<std::size_t>(s)].nodes) {
      if (n < 0 || static_cast<std::size_t>(n) >= count)
        throw parse_error("scene " + std::to_string(s) + " names node " + std::to_string(n) + " of " +
                          std::to_string(count));
      if (parent[static_cast<std::size_t>(n)] != -1)
        throw parse_error("scene " + std::to_string(s) + " names node " + std::to_string(n) +
                          ", a child of node " + std::to_string(parent[static_cast<std::size_t>(n)]) +
                          ", among its roots");
      roots.push_back(n);
    }
  } else {
    for (std::size_t i = 0; i < count; ++i)
      if (parent[i] == -1) roots.push_back(static_cast<int>(i));
  }

  std::vector<instance> found;
  std::vector<bool> seen(count, false);
  std::vector<std::pair<int, mat4>> stack;
  for (auto r = roots.rbegin(); r != roots.rend(); ++r) stack.emplace_back(*r, identity);
  while (!stack.empty()) {
    const auto [n, parent_world] = stack.back();
    stack.pop_back();
    if (seen[static_cast<std::size_t>(n)])
      throw parse_error("node " + std::to_string(n) + " is named twice among the scene's roots");
    seen[static_cast<std::size_t>(n)] = true;
    const tinygltf::Node& node = model.nodes[static_cast<std::size_t>(n)];
    const mat4 world = parent_world * local_matrix(node, n);
    if (node.mesh >= 0) {
      if (static_cast<std::size_t>(node.mesh) >= model.meshes.size())
        throw parse_error("node " + std::to_string(n) + " names mesh " + std::to_string(node.mesh) + " of " +
                          std::to_string(model.meshes.size()));
      found.push_back({node.mesh, world});
    }
    for (auto c = node.children.rbegin(); c != node.children.rend(); ++c) stack.emplace_back(*c, world);
  }
  return found;
}

float unit(double v) { return v > 0 ? (v < 1 ? static_cast<float>(v) : 1.0f) : 0.0f; }  // NaN counts as 0

// The Blinn-Phong exponent that stands for a roughness, as the comment at the top says.
float power_of(double roughness) {
  const double r = std::clamp(std::isnan(roughness) ? 1.0 : roughness, 0.0, 1.0);
  const double r4 = r * r * r * r;
  return static_cast<float>(r4 < 2.0 / 130 ? 128.0 : std::clamp(2 / r4 - 2, 2.0, 128.0));
}

// Reads n numbers of a JSON array value into out; false when it is not such an array.
bool numbers(const tinygltf::Value& v, std::size_t n, double* out) {
  if (!v.IsArray() || v.ArrayLen() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const tinygltf::Value& x = v.Get(static_cast<int>(i));
    if (!x.IsNumber()) return false;
    out[i] = x.GetNumberAsDouble();
  }
  return true;
}

// Turns the file's materials, textures and images into the engine's, each material once, as
// primitives ask for them.
class material_table {
 public:
  material_table(tinygltf::Model& model, const std::vector<std::string_view>& uris, readers::mesh& out)
      : model_(model), uris_(uris), out_(out) {
    index_.assign(model.materials.size(), -1);
    images_.resize(model.images.size());
  }

  // The engine's index of glTF material m (-1 for the default material).
  std::uint32_t index_of(int m) {
    if (m < 0) {
      if (default_ < 0) {
        default_ = static_cast<int>(out_.materials.size());
        readers::material d;
        std::fill(d.diffuse, d.diffuse + 4, 1.0f);
        d.power = power_of(1);
        out_.materials.push_back(d);
      }
      return static_cast<std::uint32_t>(default_);
    }
    if (static_cast<std::size_t>(m) >= index_.size())
      throw parse_error("a primitive names material " + std::to_string(m) + " of " + std::to_string(index_.size()));
    int& slot = index_[static_cast<std::size_t>(m)];
    if (slot < 0) {
      slot = static_cast<int>(out_.materials.size());
      out_.materials.push_back(convert(m));
    }
    return static_cast<std::uint32_t>(slot);
  }

 private:
  readers::material convert(int m) {
    const tinygltf::Material& mat = model_.materials[static_cast<std::size_t>(m)];
    const std::string name = "material " + std::to_string(m);
    const auto& pbr = mat.pbrMetallicRoughness;
    double base[4] = {1, 1, 1, 1};
    if (pbr.baseColorFactor.size() != 4)
      throw parse_error(name + " has a baseColorFactor of " + std::to_string(pbr.baseColorFactor.size()) + " numbers");
    std::copy(pbr.baseColorFactor.begin(), pbr.baseColorFactor.end(), base);
    double metallic = pbr.metallicFactor, roughness = pbr.roughnessFactor;
    int texture = pbr.baseColorTexture.index, tex_coord = pbr.baseColorTexture.texCoord;

    readers::material r;
    const auto ext = mat.extensions.find("KHR_materials_pbrSpecularGlossiness");
    if (ext != mat.extensions.end() && ext->second.IsObject()) {
      const tinygltf::Value& sg = ext->second;
      double diffuse[4] = {1, 1, 1, 1}, specular[3] = {1, 1, 1}, glossiness = 1;
      if (sg.Has("diffuseFactor") && !numbers(sg.Get("diffuseFactor"), 4, diffuse))
        throw parse_error(name + " has a diffuseFactor that is not 4 numbers");
      if (sg.Has("specularFactor") && !numbers(sg.Get("specularFactor"), 3, specular))
        throw parse_error(name + " has a specularFactor that is not 3 numbers");
      if (sg.Has("glossinessFactor")) {
        if (!sg.Get("glossinessFactor").IsNumber())
          throw parse_error(name + " has a glossinessFactor that is not a number");
        glossiness = sg.Get("glossinessFactor").GetNumberAsDouble();
      }
      std::copy(diffuse, diffuse + 4, base);
      texture = -1, tex_coord = 0;
      if (sg.Has("diffuseTexture")) {
        const tinygltf::Value& t = sg.Get("diffuseTexture");
        if (!t.IsObject() || !t.Get("index").IsInt())
          throw parse_error(name + " has a diffuseTexture without an index");
        texture = t.Get("index").GetNumberAsInt();
        if (t.Has("texCoord")) tex_coord = t.Get("texCoord").IsInt() ? t.Get("texCoord").GetNumberAsInt() : -1;
      }
      for (int i = 0; i < 3; ++i) r.specular[i] = unit(specular[i]) * unit(glossiness);
      r.power = power_of(1 - unit(glossiness));
    } else {
      const float rough = unit(roughness), metal = unit(metallic);
      for (int i = 0; i < 3; ++i) r.specular[i] = (0.04f + (unit(base[i]) - 0.04f) * metal) * (1 - rough);
      r.power = power_of(rough);
    }
    for (int i = 0; i < 4; ++i) r.diffuse[i] = unit(base[i]);
    if (mat.alphaMode != "MASK" && mat.alphaMode != "BLEND") r.diffuse[3] = 1;
    if (!mat.emissiveFactor.empty()) {
      if (mat.emissiveFactor.size() != 3)
        throw parse_error(name + " has an emissiveFactor of " + std::to_string(mat.emissiveFactor.size()) + " numbers");
      for (int i = 0; i < 3; ++i) r.emissive[i] = unit(mat.emissiveFactor[static_cast<std::size_t>(i)]);
    }
    // Only TEXCOORD_0 is read: a texture on another set would be laid on the wrong coordinates,
    // so it is left out.
    if (texture >= 0 && tex_coord == 0) set_texture(r, texture, name);
    return r;
  }

  void set_texture(readers::material& r, int t, const std::string& name) {
    if (static_cast<std::size_t>(t) >= model_.textures.size())
      throw parse_error(name + " names texture " + std::to_string(t) + " of " + std::to_string(model_.textures.size()));
    const int i = model_.textures[static_cast<std::size_t>(t)].source;
    // No source: the image is given only through an extension (KTX2, WebP), which is not read.
    if (i < 0) return;
    if (static_cast<std::size_t>(i) >= model_.images.size())
      throw parse_error("texture " + std::to_string(t) + " names image " + std::to_string(i) + " of " +
                        std::to_string(model_.images.size()));
    tinygltf::Image& image = model_.images[static_cast<std::size_t>(i)];
    auto& bytes = images_[static_cast<std::size_t>(i)];
    const long uri = placeholder_index(image.uri, uris_.size());
    if (uri >= 0 && !bytes) {
      std::vector<std::uint8_t> decoded;
      if (!decode_base64(uris_[static_cast<std::size_t>(uri)], decoded))
        throw parse_error("the data: URI of image " + std::to_string(i) + " is not base64");
      bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(decoded));
    }
    if (image.bufferView < 0 && image.image.empty() && uri < 0) {
      if (image.uri.rfind("data:", 0) == 0) {  // a data: URI of a kind the loader does not decode
        out_.skipped += (out_.skipped.empty() ? "" : "; ") + ("the data: URI of image " + std::to_string(i));
        return;
      }
      r.origin = readers::texture_origin::model_folder;
      r.texture = percent_decoded(image.uri);
      return;
    }
    if (!bytes) {
      if (image.bufferView >= 0) {
        std::size_t size = 0;
        const std::uint8_t* p = buffer_view_bytes(model_, image.bufferView, "image " + std::to_string(i), size);
        bytes = std::make_shared<const std::vector<std::uint8_t>>(p, p + size);
      } else {
        bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(image.image));
      }
    }
    r.origin = readers::texture_origin::embedded;
    r.image = bytes;
    r.texture = image.name.empty() ? "image " + std::to_string(i) : image.name;
  }

  tinygltf::Model& model_;
  const std::vector<std::string_view>& uris_;
  readers::mesh& out_;
  std::vector<int> index_;  // the engine's index of each glTF material, -1 until used
  int default_ = -1;
  std::vector<std::shared_ptr<const std::vector<std::uint8_t>>> images_;
};

// One primitive of one instance, checked and counted before anything is written.
struct primitive_plan {
  const accessor_view* positions;
  const accessor_view* normals;
  const accessor_view* texcoords;
  const accessor_view* colors;
  const accessor_view* indices;
  const mat4* world;
  int mode;
  std::size_t triangles;
  std::uint32_t material;
  std::string name;
};

std::uint32_t color_byte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<std::uint32_t>(v * 255.0f + 0.5f);
}

// Builds the merged mesh of the model's scene.
class builder {
 public:
  builder(tinygltf::Model& model, const std::vector<std::string_view>& uris, std::size_t zero_fill_limit,
          readers::mesh& out)
      : model_(model), limit_(zero_fill_limit), out_(out), materials_(model, uris, out),
        views_(model.accessors.size()) {}

  void build() {
    if (model_.meshes.empty()) throw parse_error("the file has no mesh");
    const std::vector<instance> instances = scene_instances(model_);
    std::vector<primitive_plan> plans;
    std::size_t vertices = 0, triangles = 0;
    bool texcoords = false, colors = false;
    for (const instance& in : instances) {
      const tinygltf::Mesh& mesh = model_.meshes[static_cast<std::size_t>(in.mesh)];
      for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
        // Empty primitives add no triangles but cost a plan each, and instancing multiplies them.
        if (plans.size() >= max_primitives)
          throw parse_error("the scene draws more than " + std::to_string(max_primitives) + " primitives");
        primitive_plan plan = plan_of(mesh.primitives[p], "mesh " + std::to_string(in.mesh) + " primitive " + std::to_string(p));
        plan.world = &in.world;
        // Each count is checked before it is added, so that no sum can overflow.
        const std::size_t own = plan.normals ? plan.positions->count() : plan.triangles;
        if (own > max_vertices || plan.triangles > max_triangles)
          throw parse_error(plan.name + " makes more than " + std::to_string(max_vertices) +
                            " vertices or triangles, more than this reader takes");
        triangles += plan.triangles;
        vertices += plan.normals ? own : 3 * own;
        if (vertices > max_vertices || triangles > max_triangles)
          throw parse_error("the scene's meshes make more than " + std::to_string(max_vertices) +
                            " vertices or triangles, more than this reader takes");
        texcoords = texcoords || plan.texcoords;
        colors = colors || plan.colors;
        plans.push_back(std::move(plan));
      }
    }
    if (plans.empty()) throw parse_error("no node of the scene draws a mesh");
    out_.positions.reserve(vertices);
    out_.normals.reserve(vertices);
    // glTF's default texture coordinate is 0 and its default vertex colour opaque white (unlike
    // the .x reader, whose files leave alpha 0), for the primitives that lack them.
    if (texcoords) out_.texcoords.reserve(vertices);
    if (colors) out_.colors.reserve(vertices);
    out_.triangles.reserve(triangles);
    out_.attributes.reserve(triangles);
    for (const primitive_plan& plan : plans) emit(plan, texcoords, colors);
  }

 private:
  const accessor_view& view(int index, const std::string& what) {
    if (index < 0 || static_cast<std::size_t>(index) >= views_.size())
      throw parse_error(what + " names accessor " + std::to_string(index) + " of " + std::to_string(views_.size()));
    auto& v = views_[static_cast<std::size_t>(index)];
    if (!v) v = std::make_unique<accessor_view>(model_, index, what, limit_);
    return *v;
  }

  const accessor_view* attribute(const tinygltf::Primitive& p, const char* semantic, const std::string& name) {
    const auto it = p.attributes.find(semantic);
    return it == p.attributes.end() ? nullptr : &view(it->second, semantic + (" of " + name));
  }

  primitive_plan plan_of(const tinygltf::Primitive& p, const std::string& name) {
    primitive_plan plan{};
    plan.name = name;
    plan.mode = p.mode < 0 ? TINYGLTF_MODE_TRIANGLES : p.mode;
    if (plan.mode != TINYGLTF_MODE_TRIANGLES && plan.mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
        plan.mode != TINYGLTF_MODE_TRIANGLE_FAN) {
      static const char* const kinds[] = {"points", "lines", "a line loop", "a line strip"};
      throw parse_error(name + " draws " + (plan.mode <= 3 ? kinds[plan.mode] : "in an unknown way") + " (mode " +
                        std::to_string(plan.mode) + "); only triangles are read");
    }
    plan.positions = attribute(p, "POSITION", name);
    if (!plan.positions) throw parse_error(name + " has no POSITION");
    const std::size_t n = plan.positions->count();
    plan.normals = attribute(p, "NORMAL", name);
    plan.texcoords = attribute(p, "TEXCOORD_0", name);
    plan.colors = attribute(p, "COLOR_0", name);
    auto expect = [&](const accessor_view* v, bool type_ok, const char* type_text) {
      if (!v) return;
      if (!type_ok) throw parse_error(v->name() + " is not " + type_text);
      if (v->count() != n)
        throw parse_error(v->name() + " has " + std::to_string(v->count()) + " elements for " + std::to_string(n) +
                          " positions");
    };
    expect(plan.positions, plan.positions->type() == TINYGLTF_TYPE_VEC3, "VEC3");
    expect(plan.normals, plan.normals && plan.normals->type() == TINYGLTF_TYPE_VEC3, "VEC3");
    expect(plan.texcoords, plan.texcoords && plan.texcoords->type() == TINYGLTF_TYPE_VEC2, "VEC2");
    if (plan.colors) {
      const int c = plan.colors->component_type();
      expect(plan.colors,
             (plan.colors->type() == TINYGLTF_TYPE_VEC3 || plan.colors->type() == TINYGLTF_TYPE_VEC4) &&
                 (c == TINYGLTF_COMPONENT_TYPE_FLOAT ||
                  (plan.colors->normalized() &&
                   (c == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE || c == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT))),
             "VEC3 or VEC4 of floats or normalized unsigned bytes or shorts");
    }
    std::size_t k = n;
    if (p.indices >= 0) {
      plan.indices = &view(p.indices, "indices of " + name);
      const int c = plan.indices->component_type();
      if (plan.indices->type() != TINYGLTF_TYPE_SCALAR ||
          (c != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE && c != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
           c != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT))
        throw parse_error(plan.indices->name() + " is not SCALAR of unsigned bytes, shorts or ints");
      k = plan.indices->count();
    }
    // Triangle lists leave out a last incomplete triangle.
    plan.triangles = plan.mode == TINYGLTF_MODE_TRIANGLES ? k / 3 : (k >= 3 ? k - 2 : 0);
    plan.material = materials_.index_of(p.material);
    return plan;
  }

  void emit(const primitive_plan& plan, bool want_texcoords, bool want_colors) {
    const std::size_t n = plan.positions->count();
    const std::size_t first = out_.positions.size();
    const mat4& m = *plan.world;
    // Normals go through the inverse transpose of the upper 3x3: its cofactor matrix, divided by
    // the determinant's sign only, since they are normalised after.
    const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[4] * (m[1] * m[10] - m[2] * m[9]) +
                       m[8] * (m[1] * m[6] - m[2] * m[5]);
    const double sign = det < 0 ? -1 : 1;
    const double cof[9] = {sign * (m[5] * m[10] - m[6] * m[9]), sign * (m[6] * m[8] - m[4] * m[10]),
                           sign * (m[4] * m[9] - m[5] * m[8]),  sign * (m[2] * m[9] - m[1] * m[10]),
                           sign * (m[0] * m[10] - m[2] * m[8]), sign * (m[1] * m[8] - m[0] * m[9]),
                           sign * (m[1] * m[6] - m[2] * m[5]),  sign * (m[2] * m[4] - m[0] * m[6]),
                           sign * (m[0] * m[5] - m[1] * m[4])};
    // Mirrored by the Z flip, so reversed, unless the node mirrors it back.
    const bool reverse = det >= 0;

    // Primitives of one instance that share their vertex accessors (one per material, as
    // exporters write a mesh) share their vertices too, as they do in the file.
    const vertex_set key{plan.positions, plan.normals, plan.texcoords, plan.colors, plan.world};
    const auto known = plan.normals ? emitted_.find(key) : emitted_.end();
    const bool shared = known != emitted_.end();

    positions_.resize(shared ? 0 : n * 3);
    if (!shared) plan.positions->read_floats(positions_.data());
    // In engine space: world transform, then Z negated.
    std::vector<std::array<float, 3>>& moved = moved_;
    moved.resize(shared ? 0 : n);
    for (std::size_t i = 0; i < moved.size(); ++i) {
      const double x = positions_[3 * i], y = positions_[3 * i + 1], z = positions_[3 * i + 2];
      moved[i] = {static_cast<float>(m[0] * x + m[4] * y + m[8] * z + m[12]),
                  static_cast<float>(m[1] * x + m[5] * y + m[9] * z + m[13]),
                  static_cast<float>(-(m[2] * x + m[6] * y + m[10] * z + m[14]))};
      if (!std::isfinite(moved[i][0]) || !std::isfinite(moved[i][1]) || !std::isfinite(moved[i][2]))
        throw parse_error("a position of " + plan.name + " is not finite after its node's transform");
    }

    // The primitive's vertex numbers, then its triangles in engine winding.
    const std::size_t k = plan.indices ? plan.indices->count() : n;
    indices_.resize(k);
    if (plan.indices) {
      plan.indices->read_indices(indices_.data());
      for (std::size_t i = 0; i < k; ++i)
        if (indices_[i] >= n)
          throw parse_error(plan.indices->name() + " uses vertex " + std::to_string(indices_[i]) + " of " +
                            std::to_string(n));
    } else {
      for (std::size_t i = 0; i < k; ++i) indices_[i] = static_cast<std::uint32_t>(i);
    }
    triangles_.resize(plan.triangles);
    for (std::size_t t = 0; t < plan.triangles; ++t) {
      std::uint32_t a, b, c;
      switch (plan.mode) {
        case TINYGLTF_MODE_TRIANGLES: a = indices_[3 * t], b = indices_[3 * t + 1], c = indices_[3 * t + 2]; break;
        case TINYGLTF_MODE_TRIANGLE_STRIP:  // every other triangle of a strip is wound the other way
          a = indices_[t], b = indices_[t + 1 + t % 2], c = indices_[t + 2 - t % 2];
          break;
        default: a = indices_[t + 1], b = indices_[t + 2], c = indices_[0]; break;  // fan
      }
      triangles_[t] = reverse ? std::array<std::uint32_t, 3>{a, c, b} : std::array<std::uint32_t, 3>{a, b, c};
    }

    std::vector<float> texcoords, colors;
    if (plan.texcoords) {
      texcoords.resize(n * 2);
      plan.texcoords->read_floats(texcoords.data());
    }
    if (plan.colors) {
      colors.resize(n * static_cast<std::size_t>(plan.colors->components()));
      plan.colors->read_floats(colors.data());
    }
    auto texcoord = [&](std::uint32_t v) {
      return plan.texcoords ? std::array<float, 2>{texcoords[2 * v], texcoords[2 * v + 1]} : std::array<float, 2>{0, 0};
    };
    auto color = [&](std::uint32_t v) {
      if (!plan.colors) return 0xFFFFFFFFu;
      const int w = plan.colors->components();
      const float* c = colors.data() + static_cast<std::size_t>(w) * v;
      const std::uint32_t alpha = w == 4 ? color_byte(c[3]) : 255;
      return alpha << 24 | color_byte(c[0]) << 16 | color_byte(c[1]) << 8 | color_byte(c[2]);
    };

    if (shared) {
      for (const auto& t : triangles_) {
        out_.triangles.push_back({static_cast<std::uint32_t>(known->second + t[0]),
                                  static_cast<std::uint32_t>(known->second + t[1]),
                                  static_cast<std::uint32_t>(known->second + t[2])});
        out_.attributes.push_back(plan.material);
      }
      return;
    }
    if (plan.normals) {
      // Shared vertices with the file's normals.
      emitted_.emplace(key, first);
      normals_.resize(n * 3);
      plan.normals->read_floats(normals_.data());
      out_.positions.insert(out_.positions.end(), moved.begin(), moved.end());
      for (std::size_t i = 0; i < n; ++i) {
        const double x = normals_[3 * i], y = normals_[3 * i + 1], z = normals_[3 * i + 2];
        double nx = cof[0] * x + cof[3] * y + cof[6] * z, ny = cof[1] * x + cof[4] * y + cof[7] * z,
               nz = cof[2] * x + cof[5] * y + cof[8] * z;
        const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (len > 0 && std::isfinite(len)) nx /= len, ny /= len, nz /= len;
        else nx = ny = nz = 0;
        out_.normals.push_back({static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(-nz)});
        if (want_texcoords) out_.texcoords.push_back(texcoord(static_cast<std::uint32_t>(i)));
        if (want_colors) out_.colors.push_back(color(static_cast<std::uint32_t>(i)));
      }
      for (const auto& t : triangles_) {
        out_.triangles.push_back({static_cast<std::uint32_t>(first + t[0]), static_cast<std::uint32_t>(first + t[1]),
                                  static_cast<std::uint32_t>(first + t[2])});
        out_.attributes.push_back(plan.material);
      }
      return;
    }
    // No normals: flat shading as glTF asks, each triangle with three vertices of its own that
    // carry its face normal (front faces are clockwise here, so (b - a) x (c - a) points out).
    for (const auto& t : triangles_) {
      const auto& a = moved[t[0]];
      const auto& b = moved[t[1]];
      const auto& c = moved[t[2]];
      const double ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
      const double vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
      double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
      const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
      if (len > 0 && std::isfinite(len)) nx /= len, ny /= len, nz /= len;
      else nx = ny = nz = 0;
      const std::array<float, 3> normal = {static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(nz)};
      const auto base = static_cast<std::uint32_t>(out_.positions.size());
      for (int corner = 0; corner < 3; ++corner) {
        out_.positions.push_back(moved[t[corner]]);
        out_.normals.push_back(normal);
        if (want_texcoords) out_.texcoords.push_back(texcoord(t[corner]));
        if (want_colors) out_.colors.push_back(color(t[corner]));
      }
      out_.triangles.push_back({base, base + 1, base + 2});
      out_.attributes.push_back(plan.material);
    }
  }

  tinygltf::Model& model_;
  std::size_t limit_;
  readers::mesh& out_;
  material_table materials_;
  std::vector<std::unique_ptr<accessor_view>> views_;  // each accessor checked once, however often used
  // The first vertex of each set of vertices already emitted with the file's normals.
  using vertex_set = std::tuple<const accessor_view*, const accessor_view*, const accessor_view*, const accessor_view*,
                                const mat4*>;
  std::map<vertex_set, std::size_t> emitted_;
  std::vector<float> positions_, normals_;
  std::vector<std::array<float, 3>> moved_;
  std::vector<std::uint32_t> indices_;
  std::vector<std::array<std::uint32_t, 3>> triangles_;
};

// Extensions that the file may require: this reader reads them.
bool readable_extension(const std::string& name) {
  return name == "KHR_materials_pbrSpecularGlossiness" ||  // read for the materials
         name == "KHR_mesh_quantization";                  // integer attributes are read as glTF says
}

void read_model(const std::uint8_t* data, std::size_t size, bool binary, const readers::side_files& files,
                readers::mesh& out) {
  if (size == 0) throw parse_error("the file is empty");
  const std::uint8_t* json = data;
  std::size_t json_size = size;
  if (binary) size = check_glb(data, size, json, json_size);
  if (size > std::numeric_limits<unsigned int>::max()) throw parse_error("the file is larger than 4 GB");
  check_json_depth(json, json_size);

  // GLB files keep their buffers in the BIN chunk, so only .gltf text has its data: URIs taken out.
  std::vector<std::string_view> uris;
  const std::string text = binary ? std::string() : without_data_uris(data, size, uris);
  sources from{files, uris};
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(keep_image_bytes, nullptr);
  loader.SetFsCallbacks({file_exists, expand_path, read_file, write_file, &from});
  tinygltf::Model model;
  std::string error, warning;
  const bool loaded =
      binary ? loader.LoadBinaryFromMemory(&model, &error, &warning, data, static_cast<unsigned int>(size), "",
                                           tinygltf::REQUIRE_VERSION)
             : loader.LoadASCIIFromString(&model, &error, &warning, text.data(), static_cast<unsigned int>(text.size()),
                                          "", tinygltf::REQUIRE_VERSION);
  if (!loaded) throw parse_error(error.empty() ? "the glTF loader refused the file" : one_line(error));
  for (const std::string& name : model.extensionsRequired)
    if (!readable_extension(name))
      throw parse_error("the file requires the extension " + name + ", which this reader does not read");

  std::size_t present = size;
  for (const tinygltf::Buffer& b : model.buffers) present += b.data.size();
  builder(model, uris, present, out).build();
}

}  // namespace

bool parse(const std::uint8_t* data, std::size_t size, bool binary, const readers::side_files& files,
           readers::mesh& out, std::string& error) {
  try {
    readers::mesh m;
    read_model(data, size, binary, files, m);
    out = std::move(m);
    return true;
  } catch (const parse_error& e) {
    error = e.what();
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  } catch (const std::exception& e) {
    error = std::string("the glTF loader failed: ") + e.what();
  } catch (...) {
    error = "the glTF loader failed";
  }
  return false;
}

}  // namespace gltf
