// The glTF reader on small files written here: axes and winding, node transforms, sparse
// accessors, embedded images, and one refusal per kind of fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "readers/gltf/gltf.h"

namespace {

using bytes = std::vector<std::uint8_t>;

template <class... T>
bytes pack(const std::vector<T>&... parts) {
  bytes b;
  (b.insert(b.end(), reinterpret_cast<const std::uint8_t*>(parts.data()),
            reinterpret_cast<const std::uint8_t*>(parts.data() + parts.size())),
   ...);
  return b;
}

std::string base64(const bytes& b) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  for (std::size_t i = 0; i < b.size(); i += 3) {
    const std::uint32_t v = b[i] << 16 | (i + 1 < b.size() ? b[i + 1] << 8 : 0) | (i + 2 < b.size() ? b[i + 2] : 0);
    for (std::size_t k = 0; k < 4; ++k) s += i + k <= b.size() ? digits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return s;
}

// A .gltf document: `members` follow "asset"; "$BUFFER" in them becomes blob as a data: URI.
bytes gltf(std::string members, const bytes& blob = {}) {
  const auto at = members.find("$BUFFER");
  if (at != std::string::npos)
    members.replace(at, 7, "\"data:application/octet-stream;base64," + base64(blob) + "\"");
  const std::string text = "{\"asset\":{\"version\":\"2.0\"}," + members + "}";
  return bytes(text.begin(), text.end());
}

// A GLB container of json and bin, each padded to 4 bytes.
bytes glb(std::string json, bytes bin) {
  json.append((4 - json.size() % 4) % 4, ' ');
  bin.resize((bin.size() + 3) / 4 * 4);
  auto u32 = [](bytes& b, std::uint32_t v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}); };
  bytes out = {'g', 'l', 'T', 'F'};
  u32(out, 2);
  u32(out, static_cast<std::uint32_t>(28 + json.size() + bin.size()));
  u32(out, static_cast<std::uint32_t>(json.size()));
  out.insert(out.end(), {'J', 'S', 'O', 'N'});
  out.insert(out.end(), json.begin(), json.end());
  u32(out, static_cast<std::uint32_t>(bin.size()));
  out.insert(out.end(), {'B', 'I', 'N', 0});
  out.insert(out.end(), bin.begin(), bin.end());
  return out;
}

const readers::side_files no_files = [](const std::string& name, bytes&, std::string& error) {
  error = "no file " + name;
  return false;
};

readers::mesh read_ok(const bytes& file, const readers::side_files& files = no_files) {
  readers::mesh m;
  std::string error;
  EXPECT_TRUE(gltf::parse(file.data(), file.size(), file.size() >= 4 && !std::memcmp(file.data(), "glTF", 4), files, m,
                          error))
      << error;
  return m;
}

// One triangle facing glTF's +Z (counter-clockwise seen from +Z) at z = 2, drawn by the nodes
// given, with or without a NORMAL of +Z.
bytes triangle(const std::string& nodes, bool normals) {
  const bytes blob = pack(std::vector<float>{0, 0, 2, 1, 0, 2, 0, 1, 2, 0, 0, 1, 0, 0, 1, 0, 0, 1});
  return gltf("\"nodes\":" + nodes + ",\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0" +
                  (normals ? ",\"NORMAL\":1" : "") +
                  "}}]}],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\"},"
                  "{\"bufferView\":0,\"byteOffset\":36,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\"}],"
                  "\"bufferViews\":[{\"buffer\":0,\"byteLength\":72}],\"buffers\":[{\"uri\":$BUFFER,\"byteLength\":72}]",
              blob);
}

// The engine's front of each triangle: clockwise, so (b - a) x (c - a) points out of the front.
std::array<float, 3> front(const readers::mesh& m, std::size_t t) {
  const auto &a = m.positions[m.triangles[t][0]], &b = m.positions[m.triangles[t][1]], &c = m.positions[m.triangles[t][2]];
  const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

TEST(Gltf, FrontFacesTheEngineCameraUnmirroredThroughNestedAndMirroringNodes) {
  // Without a node transform: +X stays +X and +Y up, z = 2 becomes -2 (towards the camera at
  // -Z), and the front is clockwise seen from -Z, as every normal faces.
  for (bool normals : {false, true}) {
    const readers::mesh m = read_ok(triangle("[{\"mesh\":0}]", normals));
    ASSERT_EQ(m.triangles.size(), 1u);
    EXPECT_EQ(std::count(m.positions.begin(), m.positions.end(), std::array<float, 3>{1, 0, -2}), 1);
    EXPECT_EQ(std::count(m.positions.begin(), m.positions.end(), std::array<float, 3>{0, 1, -2}), 1);
    EXPECT_LT(front(m, 0)[2], 0) << normals;
    for (auto v : m.triangles[0]) EXPECT_EQ(m.normals[v], (std::array<float, 3>{0, 0, -1})) << normals;
    EXPECT_EQ(m.materials.at(0).diffuse[0], 1);  // glTF's default material is white
  }
  // Parent: translate (10,0,0), rotate 90 degrees about Z, scale 2; child: a matrix moving +Y 1.
  const std::string nested =
      "[{\"children\":[1],\"translation\":[10,0,0],\"rotation\":[0,0,0.70710678,0.70710678],\"scale\":[2,2,2]},"
      "{\"mesh\":0,\"matrix\":[1,0,0,0,0,1,0,0,0,0,1,0,0,1,0,1]}]";
  for (bool normals : {false, true}) {
    const readers::mesh m = read_ok(triangle(nested, normals));
    // glTF (1,0,2) -> child (1,1,2) -> scaled (2,2,4) -> rotated (-2,2,4) -> moved (8,2,4) -> engine (8,2,-4).
    bool found = false;
    for (const auto& p : m.positions)
      found = found || (std::abs(p[0] - 8) < 1e-5 && std::abs(p[1] - 2) < 1e-5 && std::abs(p[2] + 4) < 1e-5);
    EXPECT_TRUE(found) << normals;
    EXPECT_LT(front(m, 0)[2], 0);
  }
  // Mirrors in X (negative determinant), alone and under a node: glTF's front stays the same
  // side of the surface, which keeps facing the camera; winding and normal agree.
  for (const char* nodes : {"[{\"mesh\":0,\"scale\":[-1,1,1]}]", "[{\"children\":[1],\"scale\":[-1,1,1]},{\"mesh\":0}]"})
    for (bool normals : {false, true}) {
      const readers::mesh m = read_ok(triangle(nodes, normals));
      ASSERT_EQ(m.triangles.size(), 1u);
      EXPECT_LT(front(m, 0)[2], 0) << nodes << normals;
      EXPECT_LT(m.normals[m.triangles[0][0]][2], 0) << nodes << normals;
      EXPECT_EQ(m.positions[m.triangles[0][0]][0] + m.positions[m.triangles[0][1]][0] +
                    m.positions[m.triangles[0][2]][0], -1);
    }
}

TEST(Gltf, SparseAccessorsReplaceElementsOfTheBaseOrOfZeros) {
  // Base positions of a quad as a fan; sparse replaces vertex 2; a second primitive is all
  // sparse over zeros with byte colours.
  const bytes blob = pack(std::vector<float>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 5, 5, 0},
                          std::vector<std::uint16_t>{2, 0}, std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255});
  const readers::mesh m = read_ok(gltf(
      "\"nodes\":[{\"mesh\":0}],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0},\"mode\":6},"
      "{\"attributes\":{\"POSITION\":1,\"COLOR_0\":2}}]}],\"accessors\":["
      "{\"bufferView\":0,\"componentType\":5126,\"count\":4,\"type\":\"VEC3\",\"sparse\":{\"count\":1,"
      "\"indices\":{\"bufferView\":2,\"componentType\":5123},\"values\":{\"bufferView\":1}}},"
      "{\"componentType\":5126,\"count\":3,\"type\":\"VEC3\",\"sparse\":{\"count\":1,"
      "\"indices\":{\"bufferView\":2,\"componentType\":5123},\"values\":{\"bufferView\":1}}},"
      "{\"bufferView\":3,\"componentType\":5121,\"normalized\":true,\"count\":3,\"type\":\"VEC3\"}],"
      "\"bufferViews\":[{\"buffer\":0,\"byteLength\":48},{\"buffer\":0,\"byteOffset\":48,\"byteLength\":12},"
      "{\"buffer\":0,\"byteOffset\":60,\"byteLength\":4},{\"buffer\":0,\"byteOffset\":64,\"byteLength\":9}],"
      "\"buffers\":[{\"uri\":$BUFFER,\"byteLength\":73}]",
      blob));
  ASSERT_EQ(m.triangles.size(), 3u);  // two of the fan, one of the list
  std::vector<std::array<float, 3>> p;
  for (const auto& t : m.triangles)
    for (auto v : t) p.push_back(m.positions[v]);
  EXPECT_NE(std::find(p.begin(), p.end(), std::array<float, 3>{5, 5, 0}), p.end());  // replaced in the base
  EXPECT_EQ(std::find(p.begin(), p.end(), std::array<float, 3>{1, 1, 0}), p.end());
  EXPECT_EQ(std::count(p.begin() + 6, p.end(), std::array<float, 3>{0, 0, 0}), 2);  // zeros but one
  for (std::size_t t = 0; t < 2; ++t) EXPECT_LT(front(m, t)[2], 0);
  ASSERT_EQ(m.colors.size(), m.positions.size());
  EXPECT_EQ(m.colors[m.triangles[0][0]], 0xFFFFFFFFu);  // no COLOR_0: opaque white
  std::vector<std::uint32_t> c;
  for (auto v : m.triangles[2]) c.push_back(m.colors[v]);
  std::sort(c.begin(), c.end());
  EXPECT_EQ(c, (std::vector<std::uint32_t>{0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u}));
}

TEST(Gltf, ImagesInTheBinChunkReachTheMaterialsSharedAndUrisAreDecoded) {
  const bytes image = {0x89, 'P', 'N', 'G', 1, 2, 3, 4};
  const bytes bin = pack(std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}, image);
  const std::string json =
      "{\"asset\":{\"version\":\"2.0\"},\"nodes\":[{\"mesh\":0}],\"meshes\":[{\"primitives\":["
      "{\"attributes\":{\"POSITION\":0},\"material\":0},{\"attributes\":{\"POSITION\":0},\"material\":1},"
      "{\"attributes\":{\"POSITION\":0},\"material\":2}]}],\"materials\":["
      "{\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0}}},"
      "{\"pbrMetallicRoughness\":{\"baseColorFactor\":[1,0,0,0.5]},\"extensions\":{\"KHR_materials_pbrSpecularGlossiness\":"
      "{\"diffuseFactor\":[0,1,0,0.5],\"diffuseTexture\":{\"index\":0}}},\"alphaMode\":\"BLEND\"},"
      "{\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":1}}}],"
      "\"textures\":[{\"source\":0},{\"source\":1}],"
      "\"images\":[{\"bufferView\":1,\"mimeType\":\"image/png\"},{\"uri\":\"tex%20dir/wood%2B.png\"}],"
      "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\"}],"
      "\"bufferViews\":[{\"buffer\":0,\"byteLength\":36},{\"buffer\":0,\"byteOffset\":36,\"byteLength\":8}],"
      "\"buffers\":[{\"byteLength\":44}]}";
  const readers::mesh m = read_ok(glb(json, bin));
  ASSERT_EQ(m.materials.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(m.materials[i].origin, readers::texture_origin::embedded);
    ASSERT_TRUE(m.materials[i].image);
    EXPECT_EQ(*m.materials[i].image, image);
  }
  EXPECT_EQ(m.materials[0].image, m.materials[1].image);  // one copy of the bytes
  // Specular-glossiness wins over the core colour; BLEND keeps the alpha.
  EXPECT_EQ(std::vector<float>(m.materials[1].diffuse, m.materials[1].diffuse + 4), (std::vector<float>{0, 1, 0, 0.5f}));
  EXPECT_EQ(m.materials[2].origin, readers::texture_origin::model_folder);
  EXPECT_EQ(m.materials[2].texture, "tex dir/wood+.png");
}

TEST(Gltf, MalformedFilesAreRefusedWithTheReason) {
  const bytes tri = pack(std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}, std::vector<std::uint16_t>{0, 1, 3, 0});
  // A triangle with 16-bit indices; each case replaces one piece of it.
  auto file = [&](std::string nodes, std::string accessor0 = "\"bufferView\":0", std::string buffer = "$BUFFER",
                  std::string extra = "", bytes blob = {}) {
    return gltf(extra + "\"nodes\":" + nodes + ",\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0}," +
                    "\"indices\":1}]}],\"accessors\":[{" + accessor0 +
                    ",\"componentType\":5126,\"count\":3,\"type\":\"VEC3\"},{\"bufferView\":1,\"componentType\":5123,"
                    "\"count\":3,\"type\":\"SCALAR\"}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":36},"
                    "{\"buffer\":0,\"byteOffset\":36,\"byteLength\":8}],\"buffers\":[{\"uri\":" + buffer +
                    ",\"byteLength\":44}]",
                blob.empty() ? tri : blob);
  };
  bytes nan_blob = tri;
  const float nan = std::nanf("");
  std::memcpy(nan_blob.data() + 16, &nan, 4);
  bytes short_glb = glb("{\"asset\":{\"version\":\"2.0\"}}", bytes(8));
  short_glb[48] = 200;  // the BIN chunk's length, past the end
  const struct {
    const char* what;
    bytes file;
    const char* words;
  } cases[] = {
      {"empty", {}, "the file is empty"},
      {"no mesh", gltf("\"nodes\":[]"), "the file has no mesh"},
      {"cycle", file("[{\"children\":[1]},{\"children\":[0],\"mesh\":0}]"), "the node hierarchy loops"},
      {"two parents", file("[{\"children\":[2]},{\"children\":[2]},{\"mesh\":0}]"), "node 2 has two parents"},
      {"child out of range", file("[{\"children\":[7],\"mesh\":0}]"), "names child 7 of 1"},
      {"index beyond vertices", file("[{\"mesh\":0}]"), "uses vertex 3 of 3"},
      {"accessor beyond buffer", file("[{\"mesh\":0}]", "\"bufferView\":0,\"byteOffset\":4"), "lie beyond the 36 bytes"},
      {"missing bin", file("[{\"mesh\":0}]", "\"bufferView\":0", "\"missing%20file+1.bin\""), "missing file+1.bin"},
      {"bad base64", file("[{\"mesh\":0}]", "\"bufferView\":0", "\"data:application/octet-stream;base64,@AAA\""),
       "its base64 is malformed"},
      {"NaN position", file("[{\"mesh\":0}]", "\"bufferView\":0", "$BUFFER", "", nan_blob), "not a finite number"},
      {"infinite world matrix", file("[{\"children\":[1],\"scale\":[1e300,1,1]},{\"mesh\":0,\"scale\":[1e300,1,1]}]"),
       "not finite after its node's transform"},
      {"draco", file("[{\"mesh\":0}]", "\"bufferView\":0", "$BUFFER", "\"extensionsRequired\":[\"KHR_draco_mesh_compression\"],"),
       "requires the extension KHR_draco_mesh_compression"},
      {"wrong JSON type", gltf("\"accessors\":[{\"componentType\":\"float\",\"count\":3,\"type\":\"VEC3\"}]"),
       "'componentType' property is not a positive integer"},
      {"lines", gltf("\"nodes\":[{\"mesh\":0}],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0},\"mode\":1}]}]"),
       "draws lines (mode 1)"},
      {"GLB chunk past the end", short_glb, "BIN chunk of 200 bytes runs past the end"},
  };
  const readers::side_files files = [&](const std::string& name, bytes& out, std::string& error) {
    if (name != "tri.bin") return no_files(name, out, error);
    out = tri;
    return true;
  };
  for (const auto& c : cases) {
    readers::mesh m;
    std::string error;
    const bool binary = c.file.size() >= 4 && !std::memcmp(c.file.data(), "glTF", 4);
    EXPECT_FALSE(gltf::parse(c.file.data(), c.file.size(), binary, files, m, error)) << c.what;
    EXPECT_NE(error.find(c.words), std::string::npos) << c.what << ": " << error;
  }
}

// Row-vector helpers: a frame's combined rest matrix, and a point through a matrix.
readers::matrix combined(const readers::mesh& m, int f) {
  readers::matrix c = m.frames[f].rest;
  for (int p = m.frames[f].parent; p >= 0; p = m.frames[p].parent) {
    readers::matrix r{};
    for (int i = 0; i < 16; ++i)
      for (int k = 0; k < 4; ++k) r[i] += c[i / 4 * 4 + k] * m.frames[p].rest[k * 4 + i % 4];
    c = r;
  }
  return c;
}
std::array<float, 3> through(const std::array<float, 3>& p, const readers::matrix& m) {
  return {p[0] * m[0] + p[1] * m[4] + p[2] * m[8] + m[12], p[0] * m[1] + p[1] * m[5] + p[2] * m[9] + m[13],
          p[0] * m[2] + p[1] * m[6] + p[2] * m[10] + m[14]};
}
// Where vertex v of m stands through its bones at the rest pose.
std::array<float, 3> skinned(const readers::mesh& m, std::size_t v) {
  std::array<float, 3> s{};
  for (int i = 0; i < readers::max_influences; ++i) {
    const readers::bone& b = m.bones.at(m.influences[v][i]);
    const auto p = through(through(m.positions[v], b.offset), combined(m, b.frame));
    for (int c = 0; c < 3; ++c) s[c] += m.weights[v][i] * p[c];
  }
  return s;
}

// Root (0,0,1) > hip (1,0,0, turned 120 degrees about (1,1,1)) > knee (0,2,0) drawing a rigid
// triangle; root > body (0,0,5) drawing a triangle skinned to hip and knee, whose inverse bind
// matrices undo the joints' rest transforms. One animation moves all three ways.
std::string skinned_members(int joint_type, int weight_type, bytes& blob) {
  auto encode = [](int type, const std::vector<double>& v, bool normalized, std::size_t size) {
    bytes b;
    for (double x : v) {
      if (type == 5126) b = pack(b, std::vector<float>{static_cast<float>(x)});
      if (type == 5121) b.push_back(static_cast<std::uint8_t>(normalized ? x * 255 + 0.5 : x));
      if (type == 5123) b = pack(b, std::vector<std::uint16_t>{static_cast<std::uint16_t>(normalized ? x * 65535 + 0.5 : x)});
    }
    b.resize(size);
    return b;
  };
  blob = pack(std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1},             // positions, normals
              std::vector<float>{0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -1, -1, 1,                 // hip's IBM
                                 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -3, -1, 1},                // knee's
              std::vector<float>{0, 2.5f, 0.5, 0.5, 0.5, 0.5, 0, 0, 0, 1},                        // times, rotations
              std::vector<float>{1, 2, 3, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 3, 4, 0, 0, 0},           // cubic
              std::vector<float>{1, 1, 1, 2, 2, 2}, encode(joint_type, {0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0}, false, 24),
              encode(weight_type, {1, 0, 0, 0, 0.5, 0.5, 0, 0, 0, 0, 0, 0}, true, 48));
  auto accessor = [](int offset, int type, int count, const char* kind, bool normalized = false) {
    return "{\"bufferView\":0,\"byteOffset\":" + std::to_string(offset) + ",\"componentType\":" + std::to_string(type) +
           ",\"count\":" + std::to_string(count) + ",\"type\":\"" + kind + "\"" + (normalized ? ",\"normalized\":true}" : "}");
  };
  return "\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"name\":\"root\",\"children\":[3,1],\"translation\":[0,0,1]},"
         "{\"name\":\"hip\",\"children\":[2],\"translation\":[1,0,0],\"rotation\":[0.5,0.5,0.5,0.5]},"
         "{\"name\":\"knee\",\"translation\":[0,2,0],\"mesh\":1},{\"name\":\"body\",\"mesh\":0,\"skin\":0,"
         "\"translation\":[0,0,5]},{\"name\":\"elsewhere\"}],\"skins\":[{\"joints\":[1,2],\"inverseBindMatrices\":2}],"
         "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"NORMAL\":1,\"JOINTS_0\":7,\"WEIGHTS_0\":8}}]},"
         "{\"primitives\":[{\"attributes\":{\"POSITION\":0}}]}],\"animations\":[{\"name\":\"wave\",\"samplers\":["
         "{\"input\":3,\"output\":4},{\"input\":3,\"output\":5,\"interpolation\":\"CUBICSPLINE\"},"
         "{\"input\":3,\"output\":6,\"interpolation\":\"STEP\"}],\"channels\":[{\"sampler\":0,\"target\":{\"node\":1,"
         "\"path\":\"rotation\"}},{\"sampler\":1,\"target\":{\"node\":2,\"path\":\"translation\"}},{\"sampler\":2,"
         "\"target\":{\"node\":0,\"path\":\"scale\"}},{\"sampler\":2,\"target\":{\"node\":4,\"path\":\"scale\"}},"
         "{\"sampler\":0,\"target\":{\"node\":3,\"path\":\"weights\"}}]}],\"accessors\":[" +
         accessor(0, 5126, 3, "VEC3") + "," + accessor(36, 5126, 3, "VEC3") + "," + accessor(72, 5126, 2, "MAT4") + "," +
         accessor(200, 5126, 2, "SCALAR") + "," + accessor(208, 5126, 2, "VEC4") + "," + accessor(240, 5126, 6, "VEC3") +
         "," + accessor(312, 5126, 2, "VEC3") + "," + accessor(336, joint_type, 3, "VEC4") + "," +
         accessor(360, weight_type, 3, "VEC4", weight_type != 5126) +
         "],\"bufferViews\":[{\"buffer\":0,\"byteLength\":408}],\"buffers\":[{\"uri\":$BUFFER,\"byteLength\":408}]";
}

TEST(Gltf, SkinsAndAnimationsKeepFramesBonesInfluencesAndKeys) {
  for (int joint_type : {5121, 5123})
    for (int weight_type : {5126, 5121, 5123}) {
      bytes blob;
      const readers::mesh m = read_ok(gltf(skinned_members(joint_type, weight_type, blob), blob));
      const std::string types = std::to_string(joint_type) + "/" + std::to_string(weight_type);
      EXPECT_EQ(m.skipped, "") << types;  // the node of another scene and the weights channel pass quietly
      std::string tree;  // names and parents
      for (const readers::frame& f : m.frames) tree += f.name + std::to_string(f.parent) + " ";
      ASSERT_EQ(tree, "root-1 body0 hip0 knee2 ") << types;
      // Skinned vertices 0-2 land where glTF's skinning puts them, z negated, not where the body node
      // baked them (z - 6); the rigid triangle's, where they are. Vertex 2 has no weight: it follows body.
      ASSERT_EQ(m.weights.size(), m.positions.size());
      const std::array<float, 3> expected[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
      for (std::size_t v = 0; v < m.positions.size(); ++v)
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(skinned(m, v)[c], v < 2 ? expected[v][c] : m.positions[v][c], 1e-5) << types << " " << v;
      EXPECT_EQ(m.weights[0], (std::array<float, 4>{1, 0, 0, 0}));
      EXPECT_EQ(m.weights[1], (std::array<float, 4>{0.5f, 0.5f, 0, 0}));
      EXPECT_EQ(m.frames[m.bones[m.influences[1][1]].frame].name, "knee");
      EXPECT_EQ(m.frames[m.bones[m.influences[2][0]].frame].name, "body");
      // Keys: the rotation key equal to hip's rest turns, through D3DX's formula, into hip's rest matrix.
      ASSERT_EQ(m.animations.size(), 1u);
      const readers::animation& a = m.animations[0];
      EXPECT_EQ(a.name, "wave");
      EXPECT_EQ(a.length, 2.5f);
      ASSERT_EQ(a.channels.size(), 3u);
      EXPECT_EQ(a.channels[0].frame, 2);
      const auto [x, y, z, w] = a.channels[0].rotation.at(0).value;
      const float d3dx[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w),
                             2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                             2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
      for (int i = 0; i < 9; ++i) EXPECT_NEAR(d3dx[i], m.frames[2].rest[i / 3 * 4 + i % 3], 1e-6) << i;
      EXPECT_EQ(a.channels[1].mode, readers::interpolation::cubic_spline);
      EXPECT_EQ(a.channels[1].translation.at(0).in, (std::array<float, 3>{1, 2, -3}));
      EXPECT_EQ(a.channels[1].translation.at(1).value, (std::array<float, 3>{0, 3, -4}));
      EXPECT_EQ(a.channels[1].translation.at(0).out, (std::array<float, 3>{0, 0, -1}));
      EXPECT_EQ(a.channels[2].mode, readers::interpolation::step);
      EXPECT_EQ(a.channels[2].scale.at(1).value, (std::array<float, 3>{2, 2, 2}));
    }
}

TEST(Gltf, FaultsOfSkinsAndAnimationsPassOverWhatTheyTouchAndNodeCyclesAreRefused) {
  const struct {
    std::vector<std::pair<std::string, std::string>> edits;
    const char* words;  // in skipped, or in the error when refused
  } cases[] = {
      {{{"208,\"componentType\":5126,\"count\":2", "208,\"componentType\":5126,\"count\":1"}},
       "channel 0 is not played: accessor 4 (output of animation 0 channel 0) has 1 elements for 2 keys"},
      {{{"200,", "212,"}}, "accessor 3 (input of animation 0 channel 0) does not increase at key 1 (0.500000 then 0.500000)"},
      {{{"[1,2]", "[1]"}}, "mesh 0 primitive 0's JOINTS_0 names joint 1 of the 1 of skin 0"},
      {{{"[1,2]", "[1,4]"}}, "skin 0 names node 4, which is not in the scene"},
      {{{"[3,1]", "[3]"}, {"\"mesh\":1", "\"mesh\":1,\"children\":[1]"}}, "the node hierarchy loops"},
  };
  for (const auto& c : cases) {
    bytes blob;
    std::string members = skinned_members(5121, 5126, blob);
    for (const auto& [from, to] : c.edits) members.replace(members.find(from), from.size(), to);
    const bytes file = gltf(members, blob);
    readers::mesh m;
    std::string error;
    if (!gltf::parse(file.data(), file.size(), false, no_files, m, error)) {
      EXPECT_NE(error.find(c.words), std::string::npos) << error;
      continue;
    }
    EXPECT_NE(m.skipped.find(c.words), std::string::npos) << m.skipped;
    ASSERT_EQ(m.weights.size(), m.positions.size());
    for (std::size_t v = 0; c.edits[0].second == "[1]" && v < m.positions.size(); ++v)  // an unused skin: all on body
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(skinned(m, v)[k], m.positions[v][k], 1e-5) << v;
  }
}

}  // namespace
