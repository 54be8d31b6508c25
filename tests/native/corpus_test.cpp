// The parser on real exporter files: counts and texture names worked out by reading the files,
// placement by their frames, and robustness against every file cut short.
#include <gtest/gtest.h>

#include <algorithm>

#include "support.h"

namespace {

using xfile_test::corpus_file;
using xfile_test::parse_ok;

struct expected_file {
  const char* name;
  std::size_t vertices;   // after splitting vertices whose faces give them different normals
  std::size_t triangles;  // polygons cut into fans
  std::vector<std::string> textures;  // one entry per material, "" for none
  bool normals, texcoords, colors;
};

// Counts read from the files: vertex and face lists, MeshNormals face lists, material lists.
const expected_file expected[] = {
    {"test_cube_text.x", 24, 12, {""}, true, true, false},
    {"test_cube_binary.x", 24, 12, {""}, true, true, false},
    {"test_cube_compressed.x", 24, 12, {""}, true, true, false},
    {"fromtruespace_bin32.x", 4132, 6656, {""}, true, true, false},
    {"kwxport_test_cubewithvcolors.x", 24, 12,
     {"C:\\\\code\\\\sourceforge\\\\kwxport\\\\trunkMerged\\\\test\\\\data\\\\bottom.tga",
      "C:\\\\code\\\\sourceforge\\\\kwxport\\\\trunkMerged\\\\test\\\\data\\\\top.tga",
      "C:\\\\code\\\\sourceforge\\\\kwxport\\\\trunkMerged\\\\test\\\\data\\\\updown.tga"},
     true, true, true},
    {"test.x", 24, 12, {".\\\\test.png"}, true, true, false},
    // Three meshes (1170 + 1196 + 648 vertices), no material list: one default material.
    {"BCN_Epileptic.X", 3014, 5126, {""}, true, true, false},
    {"Testwuson.X", 3205, 3732, {""}, true, true, false},
    {"anim_test.x", 1720, 840, {""}, true, true, false},
    // Its broken skin weights are never read: it loads as the cube it also holds.
    {"malformed_skinweights_oob.x", 24, 12, {""}, true, true, false},
};

TEST(Corpus, EveryFileHasItsCountsAndTextureNames) {
  for (const expected_file& e : expected) {
    SCOPED_TRACE(e.name);
    const xfile::mesh m = parse_ok(corpus_file(e.name));
    EXPECT_EQ(m.positions.size(), e.vertices);
    EXPECT_EQ(m.triangles.size(), e.triangles);
    EXPECT_EQ(m.attributes.size(), e.triangles);
    EXPECT_EQ(m.normals.size(), e.normals ? e.vertices : 0);
    EXPECT_EQ(m.texcoords.size(), e.texcoords ? e.vertices : 0);
    EXPECT_EQ(m.colors.size(), e.colors ? e.vertices : 0);
    ASSERT_EQ(m.materials.size(), e.textures.size());
    for (std::size_t i = 0; i < e.textures.size(); ++i) EXPECT_EQ(m.materials[i].texture, e.textures[i]);
    for (const auto& t : m.triangles)
      ASSERT_LT(*std::max_element(t.begin(), t.end()), m.positions.size());
    for (std::uint32_t a : m.attributes) ASSERT_LT(a, m.materials.size());
  }
}

TEST(Corpus, BinaryAndCompressedCubesMatchTheTextCube) {
  // The compressed file decompresses to exactly the binary file, which holds the text file's cube.
  const xfile::mesh text = parse_ok(corpus_file("test_cube_text.x"));
  const xfile::mesh binary = parse_ok(corpus_file("test_cube_binary.x"));
  const xfile::mesh compressed = parse_ok(corpus_file("test_cube_compressed.x"));
  ASSERT_EQ(text.positions.size(), binary.positions.size());
  ASSERT_EQ(binary.materials.size(), 1u);
  EXPECT_EQ(binary.positions, compressed.positions);
  EXPECT_EQ(binary.triangles, compressed.triangles);
  EXPECT_EQ(text.triangles, binary.triangles);
  for (std::size_t i = 0; i < text.positions.size(); ++i)
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(text.positions[i][k], binary.positions[i][k], 1e-5);
  // Material "Material": 0.639216 0.639216 0.639216 1, power 96.078430, specular 0.498039.
  EXPECT_NEAR(binary.materials[0].diffuse[0], 0.639216f, 1e-5);
  EXPECT_NEAR(binary.materials[0].power, 96.07843f, 1e-4);
  EXPECT_NEAR(binary.materials[0].specular[2], 0.498039f, 1e-5);
  // Its skin reads the same in all three forms.
  ASSERT_EQ(text.bones.size(), 1u);
  for (const xfile::mesh* other : {&binary, &compressed})
    EXPECT_TRUE(other->bones.size() == 1 && other->bones[0].offset == text.bones[0].offset && other->weights == text.weights);
}

TEST(Corpus, FramesPlaceTheCubeInModelSpace) {
  // Root's matrix swaps y and z; vertex 0 (-1, -1, 1) with normal (0, -1, 0) lands at
  // (-1, 1, -1) with normal (0, 0, -1).
  const xfile::mesh m = parse_ok(corpus_file("test_cube_text.x"));
  ASSERT_FALSE(m.normals.empty());
  EXPECT_FLOAT_EQ(m.positions[0][0], -1);
  EXPECT_FLOAT_EQ(m.positions[0][1], 1);
  EXPECT_FLOAT_EQ(m.positions[0][2], -1);
  EXPECT_NEAR(m.normals[0][0], 0, 1e-6);
  EXPECT_NEAR(m.normals[0][1], 0, 1e-6);
  EXPECT_NEAR(m.normals[0][2], -1, 1e-6);
  // kW Xport's frame moves everything down by 0.492126: vertex 0 (-0.492126, 0, -0.492126).
  const xfile::mesh k = parse_ok(corpus_file("kwxport_test_cubewithvcolors.x"));
  ASSERT_FALSE(k.positions.empty());
  EXPECT_NEAR(k.positions[0][1], -0.492126f, 1e-6);
}

TEST(Corpus, MaterialsColoursAndAttributesOfTheColouredCube) {
  const xfile::mesh m = parse_ok(corpus_file("kwxport_test_cubewithvcolors.x"));
  // Faces 0-1 use "bottom", 2-3 "top", the other eight "side".
  const std::vector<std::uint32_t> attributes = {0, 0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2};
  EXPECT_EQ(m.attributes, attributes);
  ASSERT_EQ(m.materials.size(), 3u);
  ASSERT_EQ(m.colors.size(), 24u);
  EXPECT_FLOAT_EQ(m.materials[0].power, 31);
  EXPECT_FLOAT_EQ(m.materials[1].specular[0], 0.78f);
  EXPECT_FLOAT_EQ(m.materials[2].diffuse[3], 1);
  EXPECT_EQ(m.colors[0], 0xFFFF0000u);  // vertex 0: 1 0 0 1
  EXPECT_EQ(m.colors[1], 0xFFFFFFFFu);  // vertex 1: 1 1 1 1
}

TEST(Corpus, MeshesWithoutMaterialsShareOneDefault) {
  const xfile::mesh m = parse_ok(corpus_file("BCN_Epileptic.X"));
  ASSERT_EQ(m.materials.size(), 1u);
  EXPECT_FLOAT_EQ(m.materials[0].diffuse[0], 0.5f);
  EXPECT_FLOAT_EQ(m.materials[0].specular[0], 0.5f);
  EXPECT_TRUE(std::all_of(m.attributes.begin(), m.attributes.end(), [](std::uint32_t a) { return a == 0; }));
  ASSERT_EQ(m.triangles.size(), 5126u);
  // The head's triangles (1966 to 4001) use only the head's vertices (1170 to 2365).
  for (std::size_t t = 1966; t < 1966 + 2036; ++t)
    for (std::uint32_t v : m.triangles[t]) {
      ASSERT_GE(v, 1170u);
      ASSERT_LT(v, 1170u + 1196u);
    }
}

TEST(Corpus, EmptyFileIsRefused) {
  const std::string error = xfile_test::parse_error(corpus_file("empty.x"));
  EXPECT_NE(error.find("empty"), std::string::npos) << error;
}

TEST(Corpus, EveryFileCutShortGivesAnErrorOrAMesh) {
  for (const expected_file& e : expected) {
    SCOPED_TRACE(e.name);
    const std::vector<std::uint8_t> whole = corpus_file(e.name);
    // Every offset of the small files; about 150 spread over the large ones, plus near each end.
    const std::size_t step = std::max<std::size_t>(1, whole.size() / 150);
    for (std::size_t cut = 0; cut < whole.size(); cut += (cut < 64 || whole.size() - cut < 64) ? 1 : step) {
      std::vector<std::uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      xfile::mesh m;
      std::string error;
      if (xfile::parse(part.data(), part.size(), m, error)) {
        for (const auto& t : m.triangles)
          ASSERT_LT(*std::max_element(t.begin(), t.end()), m.positions.size()) << "cut at " << cut;
      } else {
        ASSERT_FALSE(error.empty()) << "cut at " << cut;
      }
    }
  }
}

}  // namespace
