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
//
// Animation is kept when a node of the scene draws a skinned mesh or is moved by a channel;
// otherwise frames, bones, influences, weights and animations stay empty. Positions and every
// other field are the same either way: the static model, baked as above.
//   frames      every node visited, each after its parent; rest = the node's matrix or T * R * S,
//               mirrored as the vertices are (F M F, F negating Z: translation (x, y, -z), scale
//               as it is) and transposed for row vectors, so that the rests combined child first
//               are the world matrices baked into the positions
//   keys        every animation, in the file's order, with its translation, rotation and scale
//               channels, LINEAR, STEP or CUBICSPLINE, times in seconds: translations (x, y, -z);
//               rotations (x, y, z, w) as (-x, -y, z, w), the quaternion of the mirrored rotation
//               in D3DX's convention (glTF's column-vector matrix of a quaternion, transposed, is
//               D3DX's row-vector one; F R F negates the elements that mix Z with X or Y, as
//               negating x and y does); scales as they are.
//               Cubic-spline tangents turn like their values; LINEAR and STEP rotations are
//               normalised, as the nodes' own are. A node whose paths use different
//               interpolations has a channel for each. Morph targets are not played: "weights"
//               channels are skipped (the positions are the base shape), as are channels of
//               nodes outside the scene.
//   skins       a bone per joint of each skin, for each world matrix W of a node drawing with it:
//               glTF skinning ignores that node's transform, which the positions have baked in,
//               so offset = inverse(W) * inverseBindMatrix (row vectors, engine axes), identity
//               for a skin without inverse bind matrices
//   influences  the 4 strongest of JOINTS_n / WEIGHTS_n (n = 0 to 3), summing to 1; negative and
//               non-finite weights are dropped. A vertex left with none, and every vertex of an
//               unskinned primitive, follows its node: weight 1 on the node's bone, whose offset
//               is inverse(W). A node scaled to 0 (W singular, its vertices flattened) gets the
//               pseudo-inverse, which keeps the flattened vertices where they are at rest.
// What only animation reads never makes a file fail that shows without it: a fault there (a
// sampler whose output count does not match its input's, times that do not increase, a joint
// index beyond the skin's joints, a joint outside the scene) passes over the channel or skin
// (whose vertices then follow their node) and is named in mesh::skipped. Times must increase,
// as the format says; a channel whose times do not is not played rather than sorted, since
// reordering keys (and their tangents) would guess at what the writer meant. Node cycles are
// refused, as they always are.
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
#include <set>
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
// Influences name bones by 16 bits.
constexpr std::size_t max_bones = std::size_t{1} << 16;
// Keys of all animations: animations may share an accessor, so the bytes present do not bound them.
constexpr std::size_t max_keys = std::size_t{1} << 22;
// Faults that skipped names, at most: each primitive of a bad skin could add one.
constexpr std::size_t max_notes = 32;
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

// A glTF matrix in the engine's axes and Direct3D's convention: Z negated on both sides (the
// mirror M -> F M F, F = diag(1, 1, -1, 1), which keeps products: F A F F B F = F AB F), then
// transposed for row vectors, which glTF's column-major array already is when read row by row.
// So element i keeps its sign unless exactly one of its row and column is Z's.
readers::matrix to_engine(const mat4& m) {
  readers::matrix r;
  for (int i = 0; i < 16; ++i) r[i] = static_cast<float>((i / 4 == 2) != (i % 4 == 2) ? -m[i] : m[i]);
  return r;
}

// Inverts the 3x3 matrix a (column-major) into out; false when it is singular.
bool invert3(const double* a, double* out) {
  const double c0 = a[4] * a[8] - a[7] * a[5], c1 = a[7] * a[2] - a[1] * a[8], c2 = a[1] * a[5] - a[4] * a[2];
  const double det = a[0] * c0 + a[3] * c1 + a[6] * c2;
  if (det == 0 || !std::isfinite(1 / det)) return false;
  const double r[9] = {c0, c1, c2, a[6] * a[5] - a[3] * a[8], a[0] * a[8] - a[6] * a[2], a[3] * a[2] - a[0] * a[5],
                       a[3] * a[7] - a[6] * a[4], a[6] * a[1] - a[0] * a[7], a[0] * a[4] - a[3] * a[1]};
  for (int i = 0; i < 9; ++i) out[i] = r[i] / det;
  return true;
}

// The inverse of an affine matrix, its last row taken as 0 0 0 1 as the bake takes it. A singular
// one (a node scaled to 0 along some axis, whose vertices the bake flattened) gets its
// pseudo-inverse, approximated as (AtA + eI)^-1 At, which takes the flattened vertices back into
// the node's space along the axes that remain; all zero for a node scaled to 0 altogether.
mat4 affine_inverse(const mat4& m) {
  const double a[9] = {m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]};
  double inv[9] = {};
  if (!invert3(a, inv)) {
    double ata[9], trace = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        ata[j * 3 + i] = a[i * 3] * a[j * 3] + a[i * 3 + 1] * a[j * 3 + 1] + a[i * 3 + 2] * a[j * 3 + 2];
        if (i == j) trace += ata[j * 3 + i];
      }
    for (int i = 0; i < 3; ++i) ata[i * 4] += trace * 1e-12;
    double b[9];
    if (trace > 0 && invert3(ata, b))
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)  // (b At)[i][j], At[k][j] being a[k * 3 + j]
          inv[j * 3 + i] = b[i] * a[j] + b[3 + i] * a[j + 3] + b[6 + i] * a[j + 6];
  }
  mat4 r = identity;
  for (int col = 0; col < 3; ++col)
    for (int row = 0; row < 3; ++row) r[col * 4 + row] = inv[col * 3 + row];
  for (int row = 0; row < 3; ++row)
    r[12 + row] = -(inv[row] * m[12] + inv[3 + row] * m[13] + inv[6 + row] * m[14]);
  return r;
}

// A mesh drawn by a node, with the node's world matrix.
struct instance {
  int mesh;
  mat4 world;
  int node;
  int frame;  // the node's place in scene::nodes
};

// What the walk of the scene meets: the nodes that draw meshes, and every node in the order
// visited, each after its parent (the frames of an animated model, in this order).
struct scene {
  std::vector<instance> instances;
  std::vector<int> nodes;
  std::vector<int> parents;  // the place in nodes of each node's parent; -1 for a root
};

// Walks the scene. Every node may have at most one parent and the parent links may not loop, so
// the walk (iterative, never recursive) meets every node at most once.
scene walk_scene(const tinygltf::Model& model) {
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

  scene found;
  std::vector<bool> seen(count, false);
  std::vector<std::tuple<int, mat4, int>> stack;  // node, its parent's world matrix and place
  for (auto r = roots.rbegin(); r != roots.rend(); ++r) stack.emplace_back(*r, identity, -1);
  while (!stack.empty()) {
    const auto [n, parent_world, parent_place] = stack.back();
    stack.pop_back();
    if (seen[static_cast<std::size_t>(n)])
      throw parse_error("node " + std::to_string(n) + " is named twice among the scene's roots");
    seen[static_cast<std::size_t>(n)] = true;
    const int place = static_cast<int>(found.nodes.size());
    found.nodes.push_back(n);
    found.parents.push_back(parent_place);
    const tinygltf::Node& node = model.nodes[static_cast<std::size_t>(n)];
    const mat4 world = parent_world * local_matrix(node, n);
    if (node.mesh >= 0) {
      if (static_cast<std::size_t>(node.mesh) >= model.meshes.size())
        throw parse_error("node " + std::to_string(n) + " names mesh " + std::to_string(node.mesh) + " of " +
                          std::to_string(model.meshes.size()));
      found.instances.push_back({node.mesh, world, n, place});
    }
    for (auto c = node.children.rbegin(); c != node.children.rend(); ++c) stack.emplace_back(*c, world, place);
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
  const tinygltf::Primitive* primitive;
  const mat4* world;
  int node;   // the node drawing it
  int frame;  // the node's frame
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
    const scene walked = walk_scene(model_);
    const std::vector<instance>& instances = walked.instances;
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
        plan.node = in.node;
        plan.frame = in.frame;
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
    if (animated(walked)) make_frames(walked, vertices);
    for (const primitive_plan& plan : plans) emit(plan, texcoords, colors);
    if (animated_) read_animations();
    if (animated_) check_finite();
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
    plan.primitive = &p;
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
    if (animated_) bind(plan, n);
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
        if (animated_) influence(i);
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
        if (animated_) influence(t[corner]);
      }
      out_.triangles.push_back({base, base + 1, base + 2});
      out_.attributes.push_back(plan.material);
    }
  }


  // Animation: frames, bones, influences and keys, kept only when the scene has something to
  // animate. What only animation reads (skins, samplers and their accessors) never makes a file
  // fail that shows without it: a fault there passes over what it touches, named in skipped.

  void note(const std::string& what) {
    if (noted_.size() < max_notes && noted_.insert(what).second)
      out_.skipped += (out_.skipped.empty() ? "" : "; ") + what;
  }

  // Drops everything kept for animation, when it cannot be kept whole.
  void give_up(const std::string& why) {
    note(why + ": the model's animation is not kept");
    animated_ = false;
    out_.frames.clear(), out_.bones.clear(), out_.influences.clear(), out_.weights.clear(), out_.animations.clear();
  }

  int frame_of(int node) const {
    return node >= 0 && static_cast<std::size_t>(node) < frame_of_.size() ? frame_of_[static_cast<std::size_t>(node)] : -1;
  }

  // Channels of these paths move nodes; "weights" ones (morph targets) and extensions' are not played.
  static int path_of(const std::string& path) {
    return path == "translation" ? 0 : path == "rotation" ? 1 : path == "scale" ? 2 : -1;
  }

  // True when a node of the scene draws a skinned mesh or is moved by a channel.
  bool animated(const scene& walked) {
    frame_of_.assign(model_.nodes.size(), -1);
    for (std::size_t f = 0; f < walked.nodes.size(); ++f)
      frame_of_[static_cast<std::size_t>(walked.nodes[f])] = static_cast<int>(f);
    for (const instance& in : walked.instances)
      if (model_.nodes[static_cast<std::size_t>(in.node)].skin >= 0) return true;
    for (const tinygltf::Animation& a : model_.animations)
      for (const tinygltf::AnimationChannel& c : a.channels)
        if (path_of(c.target_path) >= 0 && frame_of(c.target_node) >= 0) return true;
    return false;
  }

  // A frame for each node visited, in the walk's order, its rest matrix its local one.
  void make_frames(const scene& walked, std::size_t vertices) {
    animated_ = true;
    out_.frames.resize(walked.nodes.size());
    for (std::size_t f = 0; f < walked.nodes.size(); ++f) {
      const int n = walked.nodes[f];
      const tinygltf::Node& node = model_.nodes[static_cast<std::size_t>(n)];
      out_.frames[f].name = node.name;
      out_.frames[f].parent = walked.parents[f];
      out_.frames[f].rest = to_engine(local_matrix(node, n));
    }
    rigid_bone_.assign(walked.nodes.size(), -1);
    bad_skin_.assign(model_.skins.size(), false);
    out_.influences.reserve(vertices);
    out_.weights.reserve(vertices);
  }

  void influence(std::size_t v) {
    out_.influences.push_back(bones_[v]);
    out_.weights.push_back(weights_[v]);
  }

  // Sets bones_ and weights_ for the n vertices of plan: from its node's skin where it has one,
  // all on its node's frame otherwise.
  void bind(const primitive_plan& plan, std::size_t n) {
    bones_.assign(n, {});
    weights_.assign(n, {});
    const int skin = model_.nodes[static_cast<std::size_t>(plan.node)].skin;
    if (skin >= 0) {
      try {
        if (!skinned(plan, skin, n)) return;
      } catch (const parse_error& e) {
        note(e.what());
        weights_.assign(n, {});
      }
    }
    // Unskinned vertices follow their node: offset undoes the world matrix baked into them.
    int& bone = rigid_bone_[static_cast<std::size_t>(plan.frame)];
    if (bone < 0) {
      if (out_.bones.size() >= max_bones)
        return give_up("the model needs more than " + std::to_string(max_bones) + " bones");
      bone = static_cast<int>(out_.bones.size());
      out_.bones.push_back({plan.frame, to_engine(affine_inverse(*plan.world))});
    }
    for (std::size_t v = 0; v < n; ++v)
      if (weights_[v][0] == 0) bones_[v] = {static_cast<std::uint16_t>(bone), 0, 0, 0}, weights_[v] = {1, 0, 0, 0};
  }

  // Sets the influences of plan's vertices from JOINTS_k and WEIGHTS_k (k = 0 to 3): the
  // max_influences strongest, summing to 1; negative, zero and non-finite weights are dropped.
  // Returns whether a vertex is left without any (no skin attributes, or all weights dropped).
  bool skinned(const primitive_plan& plan, int skin, std::size_t n) {
    const int first = skin_bones(skin, *plan.world);
    const std::size_t joints = model_.skins[static_cast<std::size_t>(skin)].joints.size();
    std::size_t sets = 0;
    for (; sets < 4; ++sets) {
      const std::string j = "JOINTS_" + std::to_string(sets), w = "WEIGHTS_" + std::to_string(sets);
      const accessor_view* jv = attribute(*plan.primitive, j.c_str(), plan.name);
      const accessor_view* wv = attribute(*plan.primitive, w.c_str(), plan.name);
      if (!jv && !wv) break;
      if (!jv || !wv) throw parse_error(plan.name + " has " + (jv ? j + " without " + w : w + " without " + j));
      const int jc = jv->component_type(), wc = wv->component_type();
      if (jv->type() != TINYGLTF_TYPE_VEC4 || jv->normalized() ||
          (jc != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE && jc != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT))
        throw parse_error(jv->name() + " is not VEC4 of unsigned bytes or shorts");
      if (wv->type() != TINYGLTF_TYPE_VEC4 ||
          (wc != TINYGLTF_COMPONENT_TYPE_FLOAT &&
           !(wv->normalized() && (wc == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE || wc == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT))))
        throw parse_error(wv->name() + " is not VEC4 of floats or normalized unsigned bytes or shorts");
      for (const accessor_view* v : {jv, wv})
        if (v->count() != n)
          throw parse_error(v->name() + " has " + std::to_string(v->count()) + " elements for " + std::to_string(n) +
                            " positions");
      joints_.resize((sets + 1) * n * 4);
      joint_weights_.resize((sets + 1) * n * 4);
      jv->read_floats(joints_.data() + sets * n * 4);
      wv->read_floats(joint_weights_.data() + sets * n * 4, false);
    }
    if (sets == 0) return true;
    bool left = false;
    std::array<std::pair<float, std::uint32_t>, 16> found;  // weight, joint
    for (std::size_t v = 0; v < n; ++v) {
      std::size_t m = 0;
      for (std::size_t k = 0; k < sets * 4; ++k) {
        const std::size_t at = (k / 4) * n * 4 + v * 4 + k % 4;
        const float w = joint_weights_[at];
        if (!(w > 0) || !std::isfinite(w)) continue;
        const auto j = static_cast<std::uint32_t>(joints_[at]);
        if (j >= joints)
          throw parse_error(plan.name + "'s JOINTS_" + std::to_string(k / 4) + " names joint " + std::to_string(j) +
                            " of the " + std::to_string(joints) + " of skin " + std::to_string(skin) +
                            ": it is not skinned");
        std::size_t i = 0;
        while (i < m && found[i].second != j) ++i;  // a joint named twice has its weights added
        if (i == m) found[m++] = {0.0f, j};
        found[i].first += w;
      }
      std::stable_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(m),
                       [](const auto& a, const auto& b) { return a.first > b.first; });
      m = std::min<std::size_t>(m, readers::max_influences);
      float sum = 0;
      for (std::size_t i = 0; i < m; ++i) sum += found[i].first;
      if (!(sum > 0) || !std::isfinite(sum)) {
        left = true;
        continue;
      }
      for (std::size_t i = 0; i < m; ++i) {
        bones_[v][i] = static_cast<std::uint16_t>(static_cast<std::uint32_t>(first) + found[i].second);
        weights_[v][i] = found[i].first / sum;
      }
    }
    return left;
  }

  // The first of the bones of skin s's joints, made once for each skin and world matrix of a node
  // using it: a bone's offset takes vertices baked with that matrix back to the mesh's own space
  // (glTF skins ignore the skinned node's transform), then into the joint's by its inverse bind
  // matrix. Throws when the skin cannot be used.
  int skin_bones(int s, const mat4& world) {
    const std::string name = "skin " + std::to_string(s);
    if (static_cast<std::size_t>(s) >= model_.skins.size())
      throw parse_error("a node names " + name + " of " + std::to_string(model_.skins.size()) + ": it is not skinned");
    if (bad_skin_[static_cast<std::size_t>(s)]) throw parse_error(name + " is not used");
    std::pair<int, std::array<std::uint64_t, 16>> key{s, {}};  // by bits: NaN would break the map's order
    std::memcpy(key.second.data(), world.data(), sizeof key.second);
    const auto known = skin_bones_.find(key);
    if (known != skin_bones_.end()) return known->second;
    bad_skin_[static_cast<std::size_t>(s)] = true;  // until it is known to be usable
    const tinygltf::Skin& skin = model_.skins[static_cast<std::size_t>(s)];
    const std::size_t joints = skin.joints.size();
    if (joints == 0) throw parse_error(name + " has no joints: it is not used");
    if (joints > max_bones - out_.bones.size())
      throw parse_error(name + " would make the model more than " + std::to_string(max_bones) + " bones: it is not used");
    for (std::size_t j = 0; j < joints; ++j)
      if (frame_of(skin.joints[j]) < 0)
        throw parse_error(name + " names node " + std::to_string(skin.joints[j]) + ", which is not in the scene, as joint " +
                          std::to_string(j) + ": it is not used");
    std::vector<float> ibm;
    if (skin.inverseBindMatrices >= 0) {
      const accessor_view& v = view(skin.inverseBindMatrices, "inverseBindMatrices of " + name);
      if (v.type() != TINYGLTF_TYPE_MAT4 || v.component_type() != TINYGLTF_COMPONENT_TYPE_FLOAT)
        throw parse_error(v.name() + " is not MAT4 of floats: " + name + " is not used");
      if (v.count() < joints)
        throw parse_error(v.name() + " has " + std::to_string(v.count()) + " matrices for " + std::to_string(joints) +
                          " joints: " + name + " is not used");
      ibm.resize(v.count() * 16);
      v.read_floats(ibm.data());
    }
    const mat4 unbake = affine_inverse(world);
    const int first = static_cast<int>(out_.bones.size());
    for (std::size_t j = 0; j < joints; ++j) {
      mat4 m = identity;
      if (!ibm.empty()) std::copy(ibm.begin() + static_cast<std::ptrdiff_t>(16 * j),
                                  ibm.begin() + static_cast<std::ptrdiff_t>(16 * j + 16), m.begin());
      out_.bones.push_back({frame_of(skin.joints[j]), to_engine(m * unbake)});
    }
    bad_skin_[static_cast<std::size_t>(s)] = false;
    skin_bones_.emplace(key, first);
    return first;
  }

  // Every animation of the file, in its order (so that numbers match the file's), with the
  // channels that move nodes of the scene; one that moves none has no channels.
  void read_animations() {
    out_.animations.resize(model_.animations.size());
    for (std::size_t a = 0; a < model_.animations.size(); ++a) {
      const tinygltf::Animation& from = model_.animations[a];
      readers::animation& to = out_.animations[a];
      to.name = from.name;
      std::map<std::pair<int, readers::interpolation>, std::size_t> channel_of;  // by frame and mode
      std::set<std::pair<int, int>> moved;                                       // frame and path
      for (std::size_t c = 0; c < from.channels.size(); ++c) {
        const std::string name = "animation " + std::to_string(a) + " channel " + std::to_string(c);
        try {
          read_channel(from, from.channels[c], name, to, channel_of, moved);
        } catch (const parse_error& e) {
          note(name + " is not played: " + e.what());
        }
      }
    }
  }

  void read_channel(const tinygltf::Animation& from, const tinygltf::AnimationChannel& c, const std::string& name,
                    readers::animation& to, std::map<std::pair<int, readers::interpolation>, std::size_t>& channel_of,
                    std::set<std::pair<int, int>>& moved) {
    const int path = path_of(c.target_path);
    if (path < 0) return;
    if (c.target_node < 0 || static_cast<std::size_t>(c.target_node) >= model_.nodes.size())
      throw parse_error("it names node " + std::to_string(c.target_node) + " of " + std::to_string(model_.nodes.size()));
    const int frame = frame_of(c.target_node);
    if (frame < 0) return;  // a node of another scene
    if (c.sampler < 0 || static_cast<std::size_t>(c.sampler) >= from.samplers.size())
      throw parse_error("it names sampler " + std::to_string(c.sampler) + " of " + std::to_string(from.samplers.size()));
    if (!moved.insert({frame, path}).second)
      throw parse_error("an earlier channel moves the same node the same way");
    const tinygltf::AnimationSampler& sampler = from.samplers[static_cast<std::size_t>(c.sampler)];
    readers::interpolation mode;
    if (sampler.interpolation == "LINEAR") mode = readers::interpolation::linear;
    else if (sampler.interpolation == "STEP") mode = readers::interpolation::step;
    else if (sampler.interpolation == "CUBICSPLINE") mode = readers::interpolation::cubic_spline;
    else throw parse_error("its interpolation is \"" + sampler.interpolation + "\"");
    const bool cubic = mode == readers::interpolation::cubic_spline;

    const accessor_view& input = view(sampler.input, "input of " + name);
    const accessor_view& output = view(sampler.output, "output of " + name);
    if (input.type() != TINYGLTF_TYPE_SCALAR || input.component_type() != TINYGLTF_COMPONENT_TYPE_FLOAT)
      throw parse_error(input.name() + " is not SCALAR of floats");
    const int oc = output.component_type();
    if (output.type() != (path == 1 ? TINYGLTF_TYPE_VEC4 : TINYGLTF_TYPE_VEC3) ||
        (oc != TINYGLTF_COMPONENT_TYPE_FLOAT && !(path == 1 && output.normalized())))
      throw parse_error(output.name() + (path == 1 ? " is not VEC4 of floats or normalized integers" : " is not VEC3 of floats"));
    const std::size_t n = input.count(), per = cubic ? 3 : 1;
    if (output.count() / per != n || output.count() % per != 0)
      throw parse_error(output.name() + " has " + std::to_string(output.count()) + " elements for " + std::to_string(n) +
                        (cubic ? " cubic-spline keys, not three a key" : " keys"));
    if (n > max_keys - keys_)
      throw parse_error("the animations hold more than " + std::to_string(max_keys) + " keys");
    times_.resize(n);
    input.read_floats(times_.data());
    for (std::size_t k = 1; k < n; ++k)
      if (!(times_[k] > times_[k - 1]))
        throw parse_error(input.name() + " does not increase at key " + std::to_string(k) + " (" +
                          std::to_string(times_[k - 1]) + " then " + std::to_string(times_[k]) + ")");
    values_.resize(output.count() * static_cast<std::size_t>(output.components()));
    output.read_floats(values_.data());
    if (n == 0) return;
    keys_ += n;

    const auto slot = channel_of.try_emplace({frame, mode}, to.channels.size());
    if (slot.second) to.channels.push_back({frame, mode, {}, {}, {}, {}});
    readers::channel& ch = to.channels[slot.first->second];
    if (path == 1) fill(ch.rotation, path, cubic);
    else fill(path == 0 ? ch.translation : ch.scale, path, cubic);
    to.length = std::max(to.length, times_.back());
  }

  // Keys from times_ and values_ in the engine's axes: translations with Z negated; rotations
  // (x, y, z, w) as (-x, -y, z, w), the quaternion of the mirrored rotation F R F in D3DX's
  // convention (glTF's column-vector matrix of a quaternion is, transposed, D3DX's row-vector
  // one); scales as they are. Cubic-spline tangents turn the same way, being differences of
  // values. Linear and step rotations are normalised, as the node's own are.
  template <std::size_t N>
  void fill(std::vector<readers::key<N>>& keys, int path, bool cubic) {
    auto value = [&](std::size_t element) {
      std::array<float, N> v;
      std::copy_n(values_.begin() + static_cast<std::ptrdiff_t>(element * N), N, v.begin());
      if (path == 0) v[2] = -v[2];
      if (path == 1) v[0] = -v[0], v[1] = -v[1];
      return v;
    };
    keys.resize(times_.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
      keys[k].time = times_[k];
      if (!cubic) {
        keys[k].value = value(k);
        if constexpr (N == 4) normalise(keys[k].value);
        continue;
      }
      keys[k].in = value(3 * k);
      keys[k].value = value(3 * k + 1);
      keys[k].out = value(3 * k + 2);
    }
  }

  static void normalise(std::array<float, 4>& q) {
    double len = 0;
    for (float x : q) len += static_cast<double>(x) * x;
    len = std::sqrt(len);
    if (len > 0)
      for (float& x : q) x = static_cast<float>(x / len);
    else
      q = {0, 0, 0, 1};
  }

  // Matrices too large for floats (a huge scale under a tiny one, say) would poison everything.
  void check_finite() {
    auto finite = [](const readers::matrix& m) {
      return std::all_of(m.begin(), m.end(), [](float x) { return std::isfinite(x); });
    };
    for (const readers::frame& f : out_.frames)
      if (!finite(f.rest)) return give_up("a node's matrix does not fit single-precision numbers");
    for (const readers::bone& b : out_.bones)
      if (!finite(b.offset)) return give_up("a node's world matrix cannot be inverted in single-precision numbers");
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
  // Animation, when the scene has any.
  bool animated_ = false;
  std::vector<int> frame_of_;               // each node's frame, -1 for a node not visited
  std::vector<int> rigid_bone_;             // each frame's bone for the vertices that follow it, -1 until one does
  std::vector<bool> bad_skin_;              // skins found unusable
  std::map<std::pair<int, std::array<std::uint64_t, 16>>, int> skin_bones_;  // first bone of each skin and world
  std::vector<std::array<std::uint16_t, readers::max_influences>> bones_;  // of the primitive's vertices
  std::vector<std::array<float, readers::max_influences>> weights_;
  std::vector<float> joints_, joint_weights_, times_, values_;
  std::size_t keys_ = 0;      // keys kept, of all animations
  std::set<std::string> noted_;
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
