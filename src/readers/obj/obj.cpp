// Wavefront OBJ text is read by Debian's tinyobjloader, compiled in here and nowhere else; this
// file guards it against what it leaves unchecked and turns its result into the engine's mesh.
//
// What tinyobjloader does not do, and is done here:
// - a first pass over the text (survey) refuses coordinates that are not numbers ("nan", "inf",
//   "1.#QNAN", which tinyobjloader would read as 0 or as their leading digits), notes vertex
//   colours, counts faces, lines and points, and finds the lines that the engine has no use
//   for and tinyobjloader reads unsafely, which are turned into comments: tags ("t"), each of
//   which it gives up to 3 x 8192 values whatever the line holds, copying all tags into every
//   group, so that a small file of them would take gigabytes; and skin weights ("vw"), whose
//   joint numbers it converts to int unchecked, undefined for "1e99" or "nan";
// - faces are taken as tinyobjloader read them, untriangulated (its triangulation skips faces
//   with bad indices without a word and reads positions by unchecked indices), every index is
//   checked here, and each polygon becomes a fan of triangles;
// - every material library that an mtllib line names is read (tinyobjloader stops at the first
//   that it can read), each once, through the caller's side_files;
// - numbers too large for a float come out as infinities and are refused.
#include "readers/obj/obj.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <istream>
#include <map>
#include <new>
#include <set>
#include <streambuf>
#include <string_view>
#include <unordered_set>
#include <vector>

#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

namespace obj {
namespace {

// Material libraries and materials beyond these are passed over (and said so in skipped): every
// library is read whole and each of its materials is a large structure in tinyobjloader, so a
// short OBJ naming many libraries would otherwise take memory far beyond its size.
constexpr std::size_t max_libraries = 64;
constexpr std::size_t max_materials = 65536;

bool is_space(char c) { return c == ' ' || c == '\t'; }

// Returns a token of the file as printable text for a description, shortened when long.
std::string printable(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 24)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) {
      out += c;
    } else {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 15];
    }
  }
  if (s.size() > 24) out += "...";
  return out;
}

// Calls f(begin, end, number) for each line, split as tinyobjloader splits them (at "\r\n", "\n"
// or a lone "\r"), numbered from 1, until f returns false.
template <class F>
void for_each_line(const char* p, const char* end, F&& f) {
  std::size_t number = 0;
  while (p < end) {
    const char* e = p;
    while (e < end && *e != '\n' && *e != '\r') ++e;
    if (!f(p, e, ++number)) return;
    if (e + 1 < end && e[0] == '\r' && e[1] == '\n') ++e;
    p = e + 1;
  }
}

// The kinds of lines that the reader tells apart, found as tinyobjloader finds them: the
// keyword after leading blanks, followed by a blank.
enum class line_kind { other, vertex, normal, texcoord, face, line_or_point, unsafe, use_material };

line_kind kind_of(const char*& p, const char* end) {
  while (p < end && is_space(*p)) ++p;
  const auto n = end - p;
  auto blank_at = [&](std::ptrdiff_t i) { return i < n && is_space(p[i]); };
  if (n < 2) return line_kind::other;
  switch (p[0]) {
    case 'v':
      if (blank_at(1)) return p += 2, line_kind::vertex;
      if (p[1] == 'n' && blank_at(2)) return p += 3, line_kind::normal;
      if (p[1] == 't' && blank_at(2)) return p += 3, line_kind::texcoord;
      if (p[1] == 'w' && blank_at(2)) return line_kind::unsafe;
      return line_kind::other;
    case 'f': return blank_at(1) ? (p += 2, line_kind::face) : line_kind::other;
    case 'l':
    case 'p': return blank_at(1) ? line_kind::line_or_point : line_kind::other;
    case 't': return blank_at(1) ? line_kind::unsafe : line_kind::other;
    // tinyobjloader takes "usemtl" with no blank after it too, and so does the survey
    case 'u': return n >= 6 && std::memcmp(p, "usemtl", 6) == 0 ? (p += 6, line_kind::use_material) : line_kind::other;
    default: return line_kind::other;
  }
}

// The corners of a face line: its blank-separated fields up to the line's end or a NUL byte,
// where tinyobjloader stops reading the line.
std::size_t corners_of(const char* p, const char* end) {
  std::size_t n = 0;
  while (p < end && *p) {
    while (p < end && is_space(*p)) ++p;
    if (p == end || !*p) break;
    ++n;
    while (p < end && *p && !is_space(*p)) ++p;
  }
  return n;
}

// What the first pass learns of the text.
struct survey {
  std::size_t faces = 0;          // face lines (tinyobjloader drops those with fewer than three corners)
  std::size_t lines_points = 0;   // l and p lines, which are not drawn
  bool colours = false;           // some v line has a colour after its coordinates
  bool unsafe = false;            // some line is a tag or skin weight line
  std::set<std::string> used;     // the material names that usemtl lines give
};

// Checks the numbers of a v, vn or vt line: every field before a comment must be made of the
// characters of a decimal number, which rules out "nan", "inf" and "1.#INF". Counts the fields.
bool numbers_ok(const char* p, const char* end, std::size_t& fields, std::string& bad) {
  static const auto number_char = [] {
    std::array<bool, 256> t{};
    for (const char* c = "0123456789+-.eE"; *c; ++c) t[static_cast<unsigned char>(*c)] = true;
    return t;
  }();
  fields = 0;
  while (p < end) {
    while (p < end && is_space(*p)) ++p;
    if (p == end || *p == '#') break;  // a comment after the numbers
    const char* start = p;
    while (p < end && !is_space(*p)) {
      if (!number_char[static_cast<unsigned char>(*p)]) {
        while (p < end && !is_space(*p)) ++p;
        bad.assign(start, p);
        return false;
      }
      ++p;
    }
    ++fields;
  }
  return true;
}

bool survey_text(const char* data, const char* end, survey& s, std::string& error) {
  for_each_line(data, end, [&](const char* p, const char* e, std::size_t number) {
    const line_kind kind = kind_of(p, e);
    switch (kind) {
      case line_kind::vertex:
      case line_kind::normal:
      case line_kind::texcoord: {
        std::size_t fields = 0;
        std::string bad;
        if (!numbers_ok(p, e, fields, bad)) {
          error = "line " + std::to_string(number) + ": '" + printable(bad) + "' is not a number";
          return false;
        }
        // "v x y z r g b"; a fourth field alone is the homogeneous w, which is not a colour.
        if (kind == line_kind::vertex && fields >= 6) s.colours = true;
        break;
      }
      case line_kind::face: ++s.faces; break;
      case line_kind::line_or_point: ++s.lines_points; break;
      case line_kind::unsafe: s.unsafe = true; break;
      case line_kind::use_material: {
        // The name as tinyobjloader takes it: the first field after the keyword.
        while (p < e && is_space(*p)) ++p;
        const char* name = p;
        while (p < e && *p && !is_space(*p)) ++p;
        s.used.emplace(name, p);
        break;
      }
      case line_kind::other: break;
    }
    return true;
  });
  return error.empty();
}

// The number of the line that holds the index-th (from 0) line of the given kind; faces count
// only those with three corners or more, the ones tinyobjloader keeps. Used when describing a
// fault, so it reads the text again rather than keeping a line number for everything.
std::size_t line_of(const char* data, const char* end, line_kind wanted, std::size_t index) {
  std::size_t found = 0;
  for_each_line(data, end, [&](const char* p, const char* e, std::size_t number) {
    const line_kind kind = kind_of(p, e);
    if (kind != wanted || (kind == line_kind::face && corners_of(p, e) < 3)) return true;
    if (index-- > 0) return true;
    found = number;
    return false;
  });
  return found;
}

std::string at_line(std::size_t number) { return number ? "line " + std::to_string(number) + ": " : ""; }

// Lets tinyobjloader read bytes held in memory as a stream, without copying them.
class memory_buffer : public std::streambuf {
 public:
  memory_buffer(const char* data, std::size_t size) {
    char* p = const_cast<char*>(data);  // a get area only: the bytes are never written
    setg(p, p, p + size);
  }
};

// The folder part of a name as the model spells it, with its last separator; empty for none.
std::string folder_of(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// A texture name that a material library gives, relative to the library's folder, as a name
// relative to the model's folder. Names that are absolute already stay as they are.
std::string texture_name(const std::string& folder, const std::string& name) {
  const bool absolute = name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':');
  return absolute ? name : folder + name;
}

// Reads the material libraries that mtllib lines name, each once, through the caller's
// side_files, into tinyobjloader's material list. A library that cannot be read leaves the
// faces that use its materials with the default material, as most viewers do, and is noted.
class library_reader : public tinyobj::MaterialReader {
 public:
  explicit library_reader(const readers::side_files& files) : files_(files) {}

  bool operator()(const std::string& name, std::vector<tinyobj::material_t>* materials,
                  std::map<std::string, int>* names, std::string*, std::string*) override {
    // Returning false makes tinyobjloader go on to the line's next name, which is wanted:
    // every name of an mtllib line is a library to read, not a choice among them.
    if (name.empty() || !tried_.insert(name).second) return false;
    if (tried_.size() > max_libraries) {
      note("material libraries after the first " + std::to_string(max_libraries) + " were not read");
      return false;
    }
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!files_ || !files_(name, bytes, why)) {
      note("material library " + name + " was not read" + (why.empty() ? "" : " (" + why + ")") +
           "; its materials are the default");
      return false;
    }
    const char* text = reinterpret_cast<const char*>(bytes.data());
    std::size_t count = 1;  // tinyobjloader keeps the material after the last newmtl line too
    for_each_line(text, text + bytes.size(), [&](const char* p, const char* e, std::size_t) {
      while (p < e && is_space(*p)) ++p;
      count += e - p > 6 && std::memcmp(p, "newmtl", 6) == 0 && is_space(p[6]);
      return true;
    });
    if (materials->size() + count > max_materials) {
      note("material library " + name + " was not read: more than " + std::to_string(max_materials) +
           " materials in all");
      return false;
    }
    memory_buffer buffer(text, bytes.size());
    std::istream in(&buffer);
    std::string warn, err;
    tinyobj::LoadMtl(names, materials, &in, &warn, &err);
    folders.resize(materials->size(), folder_of(name));
    libraries.resize(materials->size(), name);
    return false;
  }

  std::vector<std::string> folders;    // per material: the folder of its library, as the model names it
  std::vector<std::string> libraries;  // per material: its library's name
  std::string skipped;

 private:
  void note(const std::string& s) {
    if (skipped.find(s) != std::string::npos) return;
    skipped += (skipped.empty() ? "" : "; ") + s;
  }
  const readers::side_files& files_;
  std::set<std::string> tried_;
};

// Describes why tinyobjloader refused the text: it names the line in its message.
std::string load_failure(const char* data, const char* end, const std::string& err) {
  const std::size_t at = err.find("line ");
  std::size_t number = 0;
  for (std::size_t i = at == std::string::npos ? err.size() : at + 5; i < err.size() && number < 1000000000; ++i) {
    if (err[i] < '0' || err[i] > '9') break;
    number = number * 10 + static_cast<std::size_t>(err[i] - '0');
  }
  if (number == 0) {
    std::string text = err.substr(0, err.find('\n'));
    return text.empty() ? "the file cannot be read as OBJ" : "the file cannot be read as OBJ: " + text;
  }
  line_kind kind = line_kind::other;
  for_each_line(data, end, [&](const char* p, const char* e, std::size_t n) {
    if (n < number) return true;
    kind = kind_of(p, e);
    return false;
  });
  if (kind == line_kind::face || kind == line_kind::line_or_point)
    return at_line(number) + "an index is 0 or is not a number (indices count from 1)";
  return at_line(number) + "the line cannot be read";
}

// Returns the index of the first group of `per` numbers holding one that is not finite, or npos.
std::size_t first_not_finite(const std::vector<float>& v, std::size_t per) {
  for (std::size_t i = 0; i < v.size(); ++i)
    if (!std::isfinite(v[i])) return i / per;
  return std::string::npos;
}

// Converts a colour component to a byte: clamped to 0..1, then rounded.
std::uint32_t color_byte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<std::uint32_t>(v * 255.0f + 0.5f);
}

// An open-addressing hash table from three 32-bit numbers to a 32-bit number; it maps each
// distinct corner to its engine vertex, and each position of a smoothing group to its computed
// normal. It starts at about the size the distinct keys usually come to and doubles when half
// full, so that a table much larger than needed does not miss the cache on every lookup.
class key_table {
 public:
  explicit key_table(std::size_t expected) { rehash(std::max<std::size_t>(16, expected * 2)); }

  // Returns the value of the key; a new key gets `value`, and added says so.
  std::uint32_t find_or_add(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t value, bool& added) {
    if (2 * (used_ + 1) > slots_.size()) rehash(slots_.size() * 2);
    for (std::size_t i = home(a, b, c);; i = (i + 1) & mask_) {
      slot& s = slots_[i];
      if (s.value == empty) {
        s = {a, b, c, value};
        ++used_;
        added = true;
        return value;
      }
      if (s.a == a && s.b == b && s.c == c) {
        added = false;
        return s.value;
      }
    }
  }

 private:
  static constexpr std::uint32_t empty = 0xFFFFFFFFu;
  struct slot {
    std::uint32_t a = 0, b = 0, c = 0, value = empty;
  };

  std::size_t home(std::uint32_t a, std::uint32_t b, std::uint32_t c) const {
    std::uint64_t h = a * 0x9E3779B97F4A7C15ull + b * 0xC2B2AE3D27D4EB4Full + c * 0x165667B19E3779F9ull;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return static_cast<std::size_t>(h) & mask_;
  }

  void rehash(std::size_t at_least) {
    std::size_t capacity = 16;
    while (capacity < at_least) capacity *= 2;
    std::vector<slot> old(capacity);
    old.swap(slots_);
    mask_ = capacity - 1;
    for (const slot& s : old)
      if (s.value != empty)
        for (std::size_t i = home(s.a, s.b, s.c);; i = (i + 1) & mask_)
          if (slots_[i].value == empty) {
            slots_[i] = s;
            break;
          }
  }

  std::vector<slot> slots_;
  std::size_t mask_ = 0;
  std::size_t used_ = 0;
};

// The material of faces without one, or with a name that no library defines: the light grey
// that most viewers give them, opaque.
readers::material default_material() {
  readers::material m;
  m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 0.8f;
  m.diffuse[3] = 1.0f;
  return m;
}

readers::material engine_material(const tinyobj::material_t& t, const std::string& folder) {
  readers::material m;
  for (int i = 0; i < 3; ++i) {
    m.diffuse[i] = t.diffuse[i];
    m.specular[i] = t.specular[i];
    m.emissive[i] = t.emission[i];
  }
  m.diffuse[3] = t.dissolve;  // d, or 1 - Tr; 1 when neither is given
  m.power = t.shininess;
  // Ka is not kept: the engine's materials take their ambient colour from the diffuse one.
  if (!t.diffuse_texname.empty()) {
    m.texture = texture_name(folder, t.diffuse_texname);
    m.origin = readers::texture_origin::model_folder;
    // A texture under a black diffuse colour would draw black. tinyobjloader gives 0.6 to a
    // textured material without Kd, but only until some earlier material of the library has
    // had one; the same value is given here to every textured material left black.
    if (m.diffuse[0] == 0 && m.diffuse[1] == 0 && m.diffuse[2] == 0) m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 0.6f;
  }
  return m;
}

bool material_finite(const tinyobj::material_t& t) {
  const float all[] = {t.diffuse[0],  t.diffuse[1],  t.diffuse[2],  t.specular[0], t.specular[1], t.specular[2],
                       t.emission[0], t.emission[1], t.emission[2], t.dissolve,    t.shininess};
  return std::all_of(std::begin(all), std::end(all), [](float f) { return std::isfinite(f); });
}

// Newell's normal of a polygon, in the file's axes: its length is twice the polygon's area,
// which weighs the normals summed at a shared position by the areas of their faces.
std::array<double, 3> polygon_normal(const std::vector<float>& v, const tinyobj::index_t* corners, std::size_t n) {
  std::array<double, 3> sum{0, 0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    const float* a = &v[3 * static_cast<std::size_t>(corners[i].vertex_index)];
    const float* b = &v[3 * static_cast<std::size_t>(corners[i + 1 == n ? 0 : i + 1].vertex_index)];
    sum[0] += (static_cast<double>(a[1]) - b[1]) * (static_cast<double>(a[2]) + b[2]);
    sum[1] += (static_cast<double>(a[2]) - b[2]) * (static_cast<double>(a[0]) + b[0]);
    sum[2] += (static_cast<double>(a[0]) - b[0]) * (static_cast<double>(a[1]) + b[1]);
  }
  return sum;
}

// A unit normal in the engine's axes from a sum in the file's; a degenerate sum (a face of no
// area) gives the file's +Z, the model's front.
std::array<float, 3> engine_normal(const std::array<double, 3>& n) {
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 1e-300) || !std::isfinite(length)) return {0, 0, -1};
  return {static_cast<float>(n[0] / length), static_cast<float>(n[1] / length), static_cast<float>(-n[2] / length)};
}

// Checks a face corner's index as tinyobjloader gives it (from 0; -1 for an absent texture
// coordinate or normal; below that, a relative index that reaches back before the first).
bool index_ok(int index, std::size_t count, bool optional, const char* what, std::string& error) {
  if (index >= 0 && static_cast<std::size_t>(index) < count) return true;
  if (index == -1 && optional) return true;
  if (index < 0)
    error = std::string("a relative ") + what + " index reaches back before the first " + what;
  else
    error = std::string("a face uses ") + what + " " + std::to_string(static_cast<long long>(index) + 1) +
            " and the file has " + std::to_string(count);
  return false;
}

bool parse_obj(const std::uint8_t* data, std::size_t size, const readers::side_files& files, readers::mesh& out,
               std::string& error) {
  const char* text = reinterpret_cast<const char*>(data);
  const char* end = text + size;
  // A UTF-8 mark, which tinyobjloader would take as part of the first line and so lose it.
  if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) text += 3;

  survey s;
  if (!survey_text(text, end, s, error)) return false;
  if (s.faces == 0) {
    error = s.lines_points ? "the file has only lines and points, which are not drawn" : "the file has no faces";
    return false;
  }
  std::vector<char> defused;
  if (s.unsafe) {
    defused.assign(text, end);
    char* base = defused.data();
    for_each_line(base, base + defused.size(), [&](const char* p, const char* e, std::size_t) {
      if (kind_of(p, e) == line_kind::unsafe) base[p - base] = '#';
      return true;
    });
    text = base;
    end = base + defused.size();
  }

  tinyobj::attrib_t attrib;
  std::vector<tinyobj::shape_t> shapes;
  std::vector<tinyobj::material_t> materials;
  library_reader libraries(files);
  {
    std::string warn, err;
    memory_buffer buffer(text, static_cast<std::size_t>(end - text));
    std::istream in(&buffer);
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &in, &libraries, false, true)) {
      error = load_failure(text, end, err);
      return false;
    }
  }

  // Numbers too large for a float.
  struct numbers {
    const std::vector<float>& values;
    std::size_t per;
    line_kind kind;
  };
  for (const numbers& n : {numbers{attrib.vertices, 3, line_kind::vertex}, numbers{attrib.colors, 3, line_kind::vertex},
                           numbers{attrib.normals, 3, line_kind::normal}, numbers{attrib.texcoords, 2, line_kind::texcoord}}) {
    const std::size_t bad = first_not_finite(n.values, n.per);
    if (bad != std::string::npos) {
      error = at_line(line_of(text, end, n.kind, bad)) + "a number is too large for a float";
      return false;
    }
  }
  for (std::size_t i = 0; i < materials.size(); ++i)
    if (!material_finite(materials[i])) {
      error = "material " + printable(materials[i].name) + " of " + libraries.libraries[i] +
              " has a number too large for a float";
      return false;
    }

  // Every index, before anything is made.
  const std::size_t nv = attrib.vertices.size() / 3, nt = attrib.texcoords.size() / 2, nn = attrib.normals.size() / 3;
  std::size_t corners = 0, triangles = 0, face = 0;
  bool textured = false;
  for (const tinyobj::shape_t& shape : shapes) {
    const tinyobj::mesh_t& m = shape.mesh;
    std::size_t sum = 0;
    for (unsigned char n : m.num_face_vertices) sum += n;
    if (sum != m.indices.size() || m.material_ids.size() != m.num_face_vertices.size() ||
        m.smoothing_group_ids.size() != m.num_face_vertices.size()) {
      // tinyobjloader keeps each face's corner count in a byte.
      error = "a face has more than 255 corners, which the OBJ reader does not take";
      return false;
    }
    std::size_t at = 0;
    for (unsigned char n : m.num_face_vertices) {
      for (std::size_t k = at; k < at + n; ++k) {
        const tinyobj::index_t& i = m.indices[k];
        if (!index_ok(i.vertex_index, nv, false, "vertex", error) ||
            !index_ok(i.texcoord_index, nt, true, "texture coordinate", error) ||
            !index_ok(i.normal_index, nn, true, "normal", error)) {
          error = at_line(line_of(text, end, line_kind::face, face)) + error;
          return false;
        }
        textured |= i.texcoord_index >= 0;
      }
      at += n;
      ++face;
      triangles += n - 2u;
    }
    corners += sum;
  }
  if (face == 0) {
    error = "the file has no face with three corners or more";
    return false;
  }
  if (corners >= 0xFFFFFFFFu || triangles >= 0xFFFFFFFFu) {
    error = "the file has more face corners than a mesh can index";
    return false;
  }

  // Each distinct (position, texture coordinate, normal) becomes one engine vertex; faces of
  // different materials share vertices, as in .x files. Normals are numbered the file's first,
  // then the computed ones: where a face has no normal of its own, a face outside any
  // smoothing group ("s off", "s 0" or none) gets its own flat normal, and a face in smoothing
  // group N shares, at each position, the area-weighted sum of the normals of the faces of
  // group N at that position.
  std::vector<std::array<double, 3>> computed;
  // The first key met at each position is found by the position alone, which walks memory in
  // about the file's order; only the others (a seam of texture coordinates or of normals)
  // need the hash table, whose lookups miss the cache.
  constexpr std::uint32_t none = 0xFFFFFFFFu;
  std::vector<std::uint32_t> first_vertex(nv, none), first_smooth(nv, none);
  key_table smooth(16);
  key_table vertices(16);
  std::vector<std::array<std::uint32_t, 3>> keys;  // per engine vertex: position, texcoord + 1, normal
  std::vector<std::uint32_t> ids;                  // the engine vertices of one face
  std::vector<std::uint32_t> smooth_ids;           // the computed normals of one face's corners
  std::vector<unsigned> smooth_groups;             // per computed normal: its smoothing group (0: flat)
  const auto material_count = static_cast<std::uint32_t>(materials.size());
  bool uses_default = materials.empty();
  out.triangles.reserve(triangles);
  out.attributes.reserve(triangles);
  for (const tinyobj::shape_t& shape : shapes) {
    const tinyobj::mesh_t& m = shape.mesh;
    std::size_t at = 0;
    for (std::size_t f = 0; f < m.num_face_vertices.size(); ++f) {
      const std::size_t n = m.num_face_vertices[f];
      const tinyobj::index_t* c = &m.indices[at];
      at += n;
      const unsigned group = m.smoothing_group_ids[f];
      std::uint32_t flat = 0;
      if (std::any_of(c, c + n, [](const tinyobj::index_t& i) { return i.normal_index < 0; })) {
        const std::array<double, 3> normal = polygon_normal(attrib.vertices, c, n);
        if (group == 0) {
          flat = static_cast<std::uint32_t>(computed.size());
          computed.push_back(normal);
          smooth_groups.push_back(0);
        } else {
          smooth_ids.clear();
          for (std::size_t k = 0; k < n; ++k) {
            if (c[k].normal_index >= 0) {
              smooth_ids.push_back(0xFFFFFFFFu);  // a corner with its own normal
              continue;
            }
            bool added = false;
            const auto next = static_cast<std::uint32_t>(computed.size());
            const auto v = static_cast<std::uint32_t>(c[k].vertex_index);
            std::uint32_t& first = first_smooth[v];
            std::uint32_t id;
            if (first == none) {
              id = first = next;
              smooth_groups.push_back(group);
              added = true;
            } else if (smooth_groups[first] == group) {
              id = first;
            } else {
              id = smooth.find_or_add(v, group, 0, next, added);
              if (added) smooth_groups.push_back(group);
            }
            if (added) computed.push_back({0, 0, 0});
            // A position met twice in one polygon takes the polygon's normal once.
            if (std::find(smooth_ids.begin(), smooth_ids.end(), id) == smooth_ids.end() || added)
              for (int j = 0; j < 3; ++j) computed[id][j] += normal[j];
            smooth_ids.push_back(id);
          }
        }
      }
      ids.clear();
      for (std::size_t k = 0; k < n; ++k) {
        const tinyobj::index_t& i = c[k];
        std::uint32_t normal;
        if (i.normal_index >= 0)
          normal = static_cast<std::uint32_t>(i.normal_index);
        else
          normal = static_cast<std::uint32_t>(nn) + (group == 0 ? flat : smooth_ids[k]);
        const std::array<std::uint32_t, 3> key{static_cast<std::uint32_t>(i.vertex_index),
                                               static_cast<std::uint32_t>(i.texcoord_index + 1), normal};
        const auto next = static_cast<std::uint32_t>(keys.size());
        std::uint32_t& first = first_vertex[key[0]];
        if (first == none) {
          ids.push_back(first = next);
          keys.push_back(key);
        } else if (keys[first] == key) {
          ids.push_back(first);
        } else {
          bool added = false;
          ids.push_back(vertices.find_or_add(key[0], key[1], key[2], next, added));
          if (added) keys.push_back(key);
        }
      }
      // A fan; OBJ's front faces turn counter-clockwise, the engine's clockwise once Z is
      // negated, so each triangle is taken in the other order.
      std::uint32_t material = static_cast<std::uint32_t>(m.material_ids[f]);
      if (m.material_ids[f] < 0 || material >= material_count) {
        material = material_count;
        uses_default = true;
      }
      for (std::size_t k = 1; k + 1 < n; ++k) {
        out.triangles.push_back({ids[0], ids[k + 1], ids[k]});
        out.attributes.push_back(material);
      }
    }
  }

  // The engine's axes: Z negated, as the engine is left-handed and sees the model's front
  // (the file's +Z side) from its own -Z; texture rows counted from the top.
  const std::size_t count = keys.size();
  out.positions.resize(count);
  out.normals.resize(count);
  if (textured) out.texcoords.resize(count);
  if (s.colours) out.colors.resize(count);
  std::vector<std::array<float, 3>> computed_normals(computed.size());
  std::transform(computed.begin(), computed.end(), computed_normals.begin(), engine_normal);
  for (std::size_t i = 0; i < count; ++i) {
    const auto& [v, t, n] = keys[i];
    const float* p = &attrib.vertices[3 * static_cast<std::size_t>(v)];
    out.positions[i] = {p[0], p[1], -p[2]};
    if (n < nn) {
      const float* q = &attrib.normals[3 * static_cast<std::size_t>(n)];
      out.normals[i] = {q[0], q[1], -q[2]};
    } else {
      out.normals[i] = computed_normals[n - nn];
    }
    if (textured && t > 0) {
      const float* q = &attrib.texcoords[2 * static_cast<std::size_t>(t - 1)];
      out.texcoords[i] = {q[0], 1.0f - q[1]};
    }
    if (s.colours) {
      // tinyobjloader gives 1 1 1 to vertices without a colour of their own.
      const float* q = &attrib.colors[3 * static_cast<std::size_t>(v)];
      out.colors[i] = 0xFF000000u | color_byte(q[0]) << 16 | color_byte(q[1]) << 8 | color_byte(q[2]);
    }
  }

  out.materials.reserve(materials.size() + 1);
  for (std::size_t i = 0; i < materials.size(); ++i)
    out.materials.push_back(engine_material(materials[i], libraries.folders[i]));
  if (uses_default) out.materials.push_back(default_material());

  // What was passed over.
  std::string skipped = libraries.skipped;
  auto note = [&](const std::string& what) { skipped += (skipped.empty() ? "" : "; ") + what; };
  std::string unknown;
  std::size_t unknown_count = 0;
  std::unordered_set<std::string> defined;
  for (const tinyobj::material_t& m : materials) defined.insert(m.name);
  for (const std::string& name : s.used) {
    if (name.empty() || defined.count(name)) continue;
    if (++unknown_count <= 5) unknown += (unknown.empty() ? "'" : ", '") + printable(name) + "'";
  }
  if (unknown_count)
    note("no material library defines " + unknown + (unknown_count > 5 ? " and others" : "") +
         ": their faces have the default material");
  if (s.faces > face) note(std::to_string(s.faces - face) + " faces with fewer than three corners");
  if (s.lines_points) note(std::to_string(s.lines_points) + " lines and points, which are not drawn");
  out.skipped = std::move(skipped);
  return true;
}

}  // namespace

bool parse(const std::uint8_t* data, std::size_t size, const readers::side_files& files, readers::mesh& out,
           std::string& error) {
  out = readers::mesh{};
  error.clear();
  try {
    if (parse_obj(data, size, files, out, error)) return true;
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  } catch (const std::exception& e) {
    error = std::string("the file cannot be read: ") + e.what();
  } catch (...) {
    error = "the file cannot be read";
  }
  out = readers::mesh{};
  return false;
}

}  // namespace obj
