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

}  // namespace
