#include "assemble.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "cursor.h"

namespace xfile {
namespace {

constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t white_no_alpha = 0x00FFFFFFu;

// Returns the bit pattern of f with -0 folded into +0, so that equal values hash alike.
std::uint32_t value_bits(float f) {
  if (f == 0.0f) f = 0.0f;
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// A hash set of indices into the caller's own arrays, for the look-ups of vertex splitting: open
// addressing with linear probing, nothing ever removed, doubled when half full. key_of(index)
// gives the 64-bit key an index was filed under; `none` marks free slots.
template <class KeyOf>
class index_table {
 public:
  explicit index_table(KeyOf key_of) : key_of_(key_of), slots_(16, none), shift_(64 - 4) {}

  // Returns the stored index for which same(index) holds among those filed under key; when there
  // is none, files `index` and returns it.
  template <class Same>
  std::uint32_t find_or_add(std::uint64_t key, std::uint32_t index, Same same) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = slot_of(key);; at = (at + 1) & mask) {
      std::uint32_t& slot = slots_[at];
      if (slot == none) {
        slot = index;
        if (++size_ * 2 > slots_.size()) grow();
        return index;
      }
      if (same(slot)) return slot;
    }
  }

 private:
  // Fibonacci hashing: the top bits of the product depend on every bit of the key.
  std::size_t slot_of(std::uint64_t key) const { return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_); }

  void grow() {
    std::vector<std::uint32_t> old(slots_.size() * 2, none);
    old.swap(slots_);
    --shift_;
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t index : old) {
      if (index == none) continue;
      std::size_t at = slot_of(key_of_(index));
      while (slots_[at] != none) at = (at + 1) & mask;
      slots_[at] = index;
    }
  }

  KeyOf key_of_;
  std::vector<std::uint32_t> slots_;
  int shift_;
  std::size_t size_ = 0;
};

// Maps every normal to the first normal of equal value (NaN equals nothing, as in the platform's
// comparison), so that vertex splitting can look pairs up by index instead of walking chains.
std::vector<std::uint32_t> first_equal_normals(const std::vector<std::array<float, 3>>& normals) {
  auto bits = [&](std::uint32_t i) {
    const auto& n = normals[i];
    return std::array<std::uint32_t, 3>{value_bits(n[0]), value_bits(n[1]), value_bits(n[2])};
  };
  auto hash = [&](std::uint32_t i) {
    const std::array<std::uint32_t, 3> key = bits(i);
    return ((static_cast<std::uint64_t>(key[0]) << 32) | key[1]) ^ (key[2] * 0xC2B2AE3D27D4EB4Full);
  };
  index_table seen(hash);
  std::vector<std::uint32_t> first(normals.size());
  for (std::uint32_t i = 0; i < normals.size(); ++i) {
    const auto& n = normals[i];
    if (std::isnan(n[0]) || std::isnan(n[1]) || std::isnan(n[2])) {
      first[i] = i;
      continue;
    }
    const std::array<std::uint32_t, 3> key = bits(i);
    first[i] = seen.find_or_add(hash(i), i, [&](std::uint32_t j) { return bits(j) == key; });
  }
  return first;
}

// Returns true when m is exactly the identity, so that untransformed meshes keep exact values.
bool is_identity(const matrix& m) { return m == identity_matrix(); }

// Returns p * m with the division by w that D3DXVec3TransformCoord makes.
std::array<float, 3> transform_point(const std::array<float, 3>& p, const matrix& m) {
  float r[4];
  for (int c = 0; c < 4; ++c) r[c] = p[0] * m[c] + p[1] * m[4 + c] + p[2] * m[8 + c] + m[12 + c];
  if (r[3] != 0.0f && r[3] != 1.0f) return {r[0] / r[3], r[1] / r[3], r[2] / r[3]};
  return {r[0], r[1], r[2]};
}

// Returns the matrix that carries normals along with m: the cofactors of its 3x3 part, which are
// the inverse transpose scaled by the determinant, with the determinant's sign put back.
std::array<float, 9> normal_matrix(const matrix& m) {
  auto a = [&](int r, int c) { return m[r * 4 + c]; };
  std::array<float, 9> cof;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const int r0 = (r + 1) % 3, r1 = (r + 2) % 3, c0 = (c + 1) % 3, c1 = (c + 2) % 3;
      cof[r * 3 + c] = a(r0, c0) * a(r1, c1) - a(r0, c1) * a(r1, c0);
    }
  const float det = a(0, 0) * cof[0] + a(0, 1) * cof[1] + a(0, 2) * cof[2];
  if (det < 0)
    for (float& v : cof) v = -v;
  return cof;
}

// Returns n carried by the normal matrix and scaled back to unit length (zero stays zero).
std::array<float, 3> transform_normal(const std::array<float, 3>& n, const std::array<float, 9>& cof) {
  std::array<float, 3> r;
  for (int c = 0; c < 3; ++c) r[c] = n[0] * cof[c] + n[1] * cof[3 + c] + n[2] * cof[6 + c];
  const float length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  if (length > 0 && std::isfinite(length))
    for (float& v : r) v /= length;
  return r;
}

// Transforms a mesh's positions and normals by the world matrix of its frame, if it has one.
void place(placed_mesh& m, const std::vector<matrix>& world) {
  if (m.frame < 0 || is_identity(world[m.frame])) return;
  const matrix& w = world[m.frame];
  const std::array<float, 9> n = normal_matrix(w);
  for (auto& p : m.geometry.positions) p = transform_point(p, w);
  for (auto& v : m.geometry.normals) v = transform_normal(v, n);
}

// Returns the material of meshes that the file gives none.
material default_material() {
  material fallback;
  fallback.diffuse[0] = fallback.diffuse[1] = fallback.diffuse[2] = 0.5f;
  fallback.specular[0] = fallback.specular[1] = fallback.specular[2] = 0.5f;
  return fallback;
}

}  // namespace

matrix identity_matrix() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

matrix multiply(const matrix& a, const matrix& b) {
  matrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[i * 4 + k] * b[k * 4 + j];
      r[i * 4 + j] = sum;
    }
  return r;
}

bool invert(const matrix& m, matrix& out) {
  // The adjugate over the determinant, from the 2x2 minors of the top and bottom row pairs, in
  // double precision.
  auto a = [&](int r, int c) { return static_cast<double>(m[r * 4 + c]); };
  const double s0 = a(0, 0) * a(1, 1) - a(1, 0) * a(0, 1), s1 = a(0, 0) * a(1, 2) - a(1, 0) * a(0, 2);
  const double s2 = a(0, 0) * a(1, 3) - a(1, 0) * a(0, 3), s3 = a(0, 1) * a(1, 2) - a(1, 1) * a(0, 2);
  const double s4 = a(0, 1) * a(1, 3) - a(1, 1) * a(0, 3), s5 = a(0, 2) * a(1, 3) - a(1, 2) * a(0, 3);
  const double c5 = a(2, 2) * a(3, 3) - a(3, 2) * a(2, 3), c4 = a(2, 1) * a(3, 3) - a(3, 1) * a(2, 3);
  const double c3 = a(2, 1) * a(3, 2) - a(3, 1) * a(2, 2), c2 = a(2, 0) * a(3, 3) - a(3, 0) * a(2, 3);
  const double c1 = a(2, 0) * a(3, 2) - a(3, 0) * a(2, 2), c0 = a(2, 0) * a(3, 1) - a(3, 0) * a(2, 1);
  const double det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (det == 0 || !std::isfinite(det)) return false;
  const double adjugate[16] = {
      a(1, 1) * c5 - a(1, 2) * c4 + a(1, 3) * c3,  -a(0, 1) * c5 + a(0, 2) * c4 - a(0, 3) * c3,
      a(3, 1) * s5 - a(3, 2) * s4 + a(3, 3) * s3,  -a(2, 1) * s5 + a(2, 2) * s4 - a(2, 3) * s3,
      -a(1, 0) * c5 + a(1, 2) * c2 - a(1, 3) * c1, a(0, 0) * c5 - a(0, 2) * c2 + a(0, 3) * c1,
      -a(3, 0) * s5 + a(3, 2) * s2 - a(3, 3) * s1, a(2, 0) * s5 - a(2, 2) * s2 + a(2, 3) * s1,
      a(1, 0) * c4 - a(1, 1) * c2 + a(1, 3) * c0,  -a(0, 0) * c4 + a(0, 1) * c2 - a(0, 3) * c0,
      a(3, 0) * s4 - a(3, 1) * s2 + a(3, 3) * s0,  -a(2, 0) * s4 + a(2, 1) * s2 - a(2, 3) * s0,
      -a(1, 0) * c3 + a(1, 1) * c1 - a(1, 2) * c0, a(0, 0) * c3 - a(0, 1) * c1 + a(0, 2) * c0,
      -a(3, 0) * s3 + a(3, 1) * s1 - a(3, 2) * s0, a(2, 0) * s3 - a(2, 1) * s1 + a(2, 2) * s0};
  matrix r;
  for (int i = 0; i < 16; ++i) {
    r[i] = static_cast<float>(adjugate[i] / det);
    if (!std::isfinite(r[i])) return false;
  }
  out = r;
  return true;
}

void notes::add(std::string note) {
  if (std::find(kept_.begin(), kept_.end(), note) != kept_.end()) return;  // copies of a mesh repeat theirs
  if (kept_.size() < 8) kept_.push_back(std::move(note));
  else ++more_;
}

std::string notes::text(std::string first) const {
  for (const std::string& note : kept_) first += (first.empty() ? "" : "; ") + note;
  if (more_ > 0) first += "; and " + std::to_string(more_) + " more";
  return first;
}

mesh triangulate(polygon_mesh&& in, std::vector<std::uint32_t>& copied_from) {
  mesh out;
  copied_from.clear();
  out.positions = std::move(in.positions);
  out.texcoords = std::move(in.texcoords);
  out.colors = std::move(in.colors);
  out.materials = std::move(in.materials);
  std::vector<std::uint32_t> corners = std::move(in.corners);

  // Exporters mostly index normals exactly as the positions. Then no vertex is ever split, and
  // as long as no component is -0 (which equals +0 in value but not in bits), each vertex's first
  // equal normal is bit for bit its own: the general path below would give the same result.
  const bool indexed_as_positions =
      !in.normal_corners.empty() && in.normal_corners.size() == corners.size() &&
      std::equal(corners.begin(), corners.end(), in.normal_corners.begin()) &&
      std::none_of(in.normals.begin(), in.normals.end(), [](const std::array<float, 3>& n) {
        return (n[0] == 0.0f && std::signbit(n[0])) || (n[1] == 0.0f && std::signbit(n[1])) ||
               (n[2] == 0.0f && std::signbit(n[2]));
      });
  if (in.normals_per_vertex) {
    out.normals = std::move(in.normals);
  } else if (indexed_as_positions) {
    out.normals.assign(out.positions.size(), {0, 0, 0});  // a vertex no face uses keeps a zero normal
    for (std::uint32_t v : corners) out.normals[v] = in.normals[v];
  } else if (!in.normal_corners.empty()) {
    // A vertex keeps the first normal a face gives it; each further distinct normal makes a copy
    // of the vertex, appended in the order the faces ask for it.
    const std::vector<std::uint32_t> first = first_equal_normals(in.normals);
    std::vector<std::uint32_t> normal_of(out.positions.size(), none);
    std::vector<std::uint32_t> origin;  // source vertex of every copy
    const auto first_copy = static_cast<std::uint32_t>(normal_of.size());
    auto copy_hash = [](std::uint32_t vertex, std::uint32_t normal) {
      return (static_cast<std::uint64_t>(vertex) << 32) | normal;
    };
    // Copies filed by their source vertex and normal.
    index_table copies([&](std::uint32_t c) { return copy_hash(origin[c - first_copy], normal_of[c]); });
    for (std::size_t i = 0; i < corners.size(); ++i) {
      const std::uint32_t v = corners[i];
      const std::uint32_t n = first[in.normal_corners[i]];
      if (normal_of[v] == none) {
        normal_of[v] = n;
        continue;
      }
      if (normal_of[v] == n) continue;
      if (normal_of.size() >= none) throw parse_error("mesh needs more than 2^32 - 1 vertices");
      const auto fresh = static_cast<std::uint32_t>(normal_of.size());
      // Filed before the lookup, so that growing the table can hash the new copy too.
      normal_of.push_back(n);
      origin.push_back(v);
      const std::uint32_t copy = copies.find_or_add(copy_hash(v, n), fresh, [&](std::uint32_t c) {
        return origin[c - first_copy] == v && normal_of[c] == n;
      });
      if (copy != fresh) {
        normal_of.pop_back();
        origin.pop_back();
      }
      corners[i] = copy;
    }
    for (std::uint32_t v : origin) {
      out.positions.push_back(out.positions[v]);
      if (!out.texcoords.empty()) out.texcoords.push_back(out.texcoords[v]);
      if (!out.colors.empty()) out.colors.push_back(out.colors[v]);
    }
    copied_from = std::move(origin);
    out.normals.reserve(normal_of.size());
    for (std::uint32_t n : normal_of)
      out.normals.push_back(n == none ? std::array<float, 3>{0, 0, 0} : in.normals[n]);
  }

  // Polygons become fans around their first corner, as the platform's loader cuts them.
  std::size_t triangles = 0;
  for (std::uint32_t count : in.face_sizes) triangles += count - 2;
  out.triangles.reserve(triangles);
  out.attributes.reserve(triangles);
  std::size_t at = 0;
  for (std::size_t f = 0; f < in.face_sizes.size(); ++f) {
    const std::uint32_t count = in.face_sizes[f];
    const std::uint32_t attribute = in.has_material_list ? in.face_materials[f] : 0;
    for (std::uint32_t k = 1; k + 1 < count; ++k) {
      out.triangles.push_back({corners[at], corners[at + k], corners[at + k + 1]});
      out.attributes.push_back(attribute);
    }
    at += count;
  }
  return out;
}

std::vector<matrix> world_matrices(const std::vector<frame_node>& frames) {
  // Frames are numbered in file order, so a parent's world matrix is ready before its children's.
  std::vector<matrix> world(frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i)
    world[i] = frames[i].parent < 0 ? frames[i].local : multiply(frames[i].local, world[frames[i].parent]);
  return world;
}

mesh merge(std::vector<placed_mesh>& meshes, const std::vector<matrix>& world) {
  bool any_normals = false, any_texcoords = false, any_colors = false, any_list = false, any_without = false;
  std::uint64_t vertices = 0, triangles = 0, listed_materials = 0;
  for (const placed_mesh& m : meshes) {
    any_normals |= !m.geometry.normals.empty();
    any_texcoords |= !m.geometry.texcoords.empty();
    any_colors |= !m.geometry.colors.empty();
    any_list |= m.has_material_list;
    any_without |= !m.has_material_list;
    vertices += m.geometry.positions.size();
    triangles += m.geometry.triangles.size();
    listed_materials += m.geometry.materials.size();
  }
  if (vertices >= none) throw parse_error("merged mesh needs more than 2^32 - 1 vertices");
  const auto shared_default = static_cast<std::uint32_t>(listed_materials);

  if (meshes.size() == 1) {
    // A single mesh needs no offsets: it is placed by its frame and handed out whole, as the loop
    // below would copy it.
    placed_mesh& m = meshes.front();
    place(m, world);
    mesh out = std::move(m.geometry);
    if (!m.has_material_list) out.materials.push_back(default_material());
    return out;
  }

  mesh out;
  out.positions.reserve(vertices);
  if (any_normals) out.normals.reserve(vertices);
  if (any_texcoords) out.texcoords.reserve(vertices);
  if (any_colors) out.colors.reserve(vertices);
  out.triangles.reserve(triangles);
  out.attributes.reserve(triangles);
  std::uint32_t material_base = 0;
  for (placed_mesh& m : meshes) {
    mesh& g = m.geometry;
    const auto base = static_cast<std::uint32_t>(out.positions.size());
    const std::size_t count = g.positions.size();
    place(m, world);
    out.positions.insert(out.positions.end(), g.positions.begin(), g.positions.end());
    if (any_normals) {
      if (g.normals.empty()) out.normals.resize(out.normals.size() + count, {0, 0, 0});
      else out.normals.insert(out.normals.end(), g.normals.begin(), g.normals.end());
    }
    if (any_texcoords) {
      if (g.texcoords.empty()) out.texcoords.resize(out.texcoords.size() + count, {0, 0});
      else out.texcoords.insert(out.texcoords.end(), g.texcoords.begin(), g.texcoords.end());
    }
    if (any_colors) {
      if (g.colors.empty()) out.colors.resize(out.colors.size() + count, white_no_alpha);
      else out.colors.insert(out.colors.end(), g.colors.begin(), g.colors.end());
    }
    for (const auto& t : g.triangles) out.triangles.push_back({t[0] + base, t[1] + base, t[2] + base});
    for (std::uint32_t a : g.attributes)
      out.attributes.push_back(m.has_material_list ? a + material_base : (any_list ? shared_default : 0));
    for (material& mat : g.materials) out.materials.push_back(std::move(mat));
    material_base += static_cast<std::uint32_t>(g.materials.size());
    g = mesh();  // free each part as soon as it is copied, to keep the peak low
  }
  if (!any_list || any_without) out.materials.push_back(default_material());
  return out;
}

rigging rig(const std::vector<placed_mesh>& meshes, const std::vector<matrix>& world, notes& skipped) {
  rigging out;
  std::size_t vertices = 0;
  for (const placed_mesh& m : meshes) vertices += m.geometry.positions.size();
  out.influences.assign(vertices, {});
  out.weights.assign(vertices, {});  // all zero: not moved
  auto add_bone = [&](int frame, const matrix& offset) {
    if (out.bones.size() > std::numeric_limits<std::uint16_t>::max())
      throw parse_error("the meshes need more than 65536 bones");
    out.bones.push_back(readers::bone{frame, offset});
    return static_cast<std::uint16_t>(out.bones.size() - 1);
  };
  std::vector<int> rigid(world.size(), -1);  // the bone that moves a frame's unskinned vertices
  struct influence {
    std::uint32_t vertex;
    std::uint16_t bone;
    float weight;
  };
  std::vector<influence> listed;
  std::vector<std::pair<double, std::uint16_t>> strongest;  // weight and bone
  std::size_t base = 0;
  for (const placed_mesh& m : meshes) {
    const std::size_t count = m.geometry.positions.size(), file_vertices = count - m.copies.size();
    // Positions are already placed by the frame's world matrix; offsets take them back first.
    matrix unplace = identity_matrix();
    if (m.frame >= 0 && !invert(world[m.frame], unplace)) {
      skipped.add("a mesh whose frame's rest transform has no inverse is not animated");
      base += count;
      continue;
    }
    listed.clear();
    for (const skin_weights& s : m.skin) {
      if (s.frame < 0) continue;
      const std::uint16_t bone = add_bone(s.frame, multiply(unplace, s.offset));
      std::size_t outside = 0;
      for (std::size_t i = 0; i < s.vertices.size(); ++i) {
        const float w = s.weights[i];
        if (s.vertices[i] >= file_vertices) ++outside;
        else if (w > 0 && std::isfinite(w)) listed.push_back({s.vertices[i], bone, w});
      }
      if (outside > 0)
        skipped.add("SkinWeights '" + s.frame_name.substr(0, 64) + "': " + std::to_string(outside) +
                    " vertex indexes beyond the " + std::to_string(file_vertices) + " vertices of the mesh");
    }
    std::stable_sort(listed.begin(), listed.end(), [](const influence& a, const influence& b) {
      return a.vertex != b.vertex ? a.vertex < b.vertex : a.bone < b.bone;
    });
    auto next = listed.begin();
    for (std::size_t v = 0; v < file_vertices; ++v) {
      strongest.clear();
      for (; next != listed.end() && next->vertex == v; ++next) {  // a bone listed twice counts once, summed
        if (!strongest.empty() && strongest.back().second == next->bone) strongest.back().first += next->weight;
        else strongest.emplace_back(next->weight, next->bone);
      }
      auto& bones = out.influences[base + v];
      auto& weights = out.weights[base + v];
      const std::size_t kept = std::min<std::size_t>(strongest.size(), readers::max_influences);
      if (kept > 0) {
        std::partial_sort(strongest.begin(), strongest.begin() + static_cast<std::ptrdiff_t>(kept), strongest.end(),
                          [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
        double sum = 0;
        for (std::size_t k = 0; k < kept; ++k) sum += strongest[k].first;
        for (std::size_t k = 0; k < kept; ++k) {
          bones[k] = strongest[k].second;
          weights[k] = static_cast<float>(strongest[k].first / sum);
        }
      } else if (m.frame >= 0) {
        if (rigid[m.frame] < 0) rigid[m.frame] = add_bone(m.frame, unplace);
        bones[0] = static_cast<std::uint16_t>(rigid[m.frame]);
        weights[0] = 1;
      }
    }
    // Copies made by normal splitting move as their file vertex.
    for (std::size_t c = 0; c < m.copies.size(); ++c) {
      out.influences[base + file_vertices + c] = out.influences[base + m.copies[c]];
      out.weights[base + file_vertices + c] = out.weights[base + m.copies[c]];
    }
    base += count;
  }
  return out;
}

}  // namespace xfile
