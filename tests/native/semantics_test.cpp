// What the parser makes of valid documents: triangulation, vertex splitting by normal, colours,
// materials and their ids across meshes, frame transforms, references, skipped objects, the
// three encodings, skins and animations.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "support.h"

namespace {

using xfile_test::binary_doc;
using xfile_test::bytes;
using xfile_test::parse_ok;
using tri = std::array<std::uint32_t, 3>;

const std::string text_header = "xof 0303txt 0032\n";
const std::string plain_material = "Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }";

TEST(Polygons, QuadsAndPentagonsBecomeFansWithTheirFaceAttribute) {
  const xfile::mesh m = parse_ok(bytes(text_header +
      "Mesh { 5; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;, 0;2;0;; 2; 4;0,1,2,3;, 5;4,3,2,1,0;;"
      " MeshMaterialList { 2; 2; 1, 0;; " + plain_material + plain_material + " } }"));
  const std::vector<tri> fans = {{0, 1, 2}, {0, 2, 3}, {4, 3, 2}, {4, 2, 1}, {4, 1, 0}};
  EXPECT_EQ(m.triangles, fans);
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1, 1, 0, 0, 0}));
}

TEST(Normals, AVertexWithTwoNormalsIsSplitAndNormalsAreUnitLength) {
  // Two triangles share vertices 1 and 2; the second gives them a different normal, so 1 and 2
  // are copied (as vertices 4 and 5), and vertex 3, which no face uses, gets a zero normal.
  const xfile::mesh m = parse_ok(bytes(text_header +
      "Mesh { 4; 0;0;0;, 1;0;0;, 0;1;0;, 5;5;5;; 2; 3;0,1,2;, 3;1,2,0;;"
      " MeshTextureCoords { 4; 0;0;, 0.25;0;, 0;0.75;, 1;1;; }"
      " MeshNormals { 2; 0;0;2;, 3;0;0;; 2; 3;0,0,0;, 3;1,1,0;; } }"));
  ASSERT_EQ(m.positions.size(), 6u);
  EXPECT_EQ(m.triangles, (std::vector<tri>{{0, 1, 2}, {4, 5, 0}}));
  EXPECT_EQ(m.normals[0], (std::array<float, 3>{0, 0, 1}));
  EXPECT_EQ(m.normals[3], (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(m.normals[4], (std::array<float, 3>{1, 0, 0}));
  EXPECT_EQ(m.positions[5], m.positions[2]);
  EXPECT_EQ(m.texcoords[4], (std::array<float, 2>{0.25f, 0}));
}

TEST(Colours, ComponentsAreClampedAndRoundedAndUnlistedVerticesStayWhite) {
  const xfile::mesh m = parse_ok(bytes(text_header +
      "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;"
      " MeshVertexColors { 2; 0; 0.5;2.0;-1;1;;, 2; 0.2;0.4;0.6;0.8;;; } }"));
  EXPECT_EQ(m.colors, (std::vector<std::uint32_t>{0xFF80FF00u, 0x00FFFFFFu, 0xCC336699u}));
}

// Returns the DWORD that holds f in DeclData data.
std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

TEST(DeclData, TexcoordsNormalsAndColoursComeFromTheDeclarationInTextAndBinary) {
  // Per vertex: texcoord 0 (FLOAT2), a tangent (FLOAT3), the normal (FLOAT3), colour 0
  // (D3DCOLOR) and texcoord 1 (FLOAT16_2); the tangent and texcoord 1 are passed over.
  std::vector<std::uint32_t> decl = {5, 1, 0, 5, 0, 2, 0, 6, 0, 2, 0, 3, 0, 4, 0, 10, 0, 15, 0, 5, 1, 30};
  for (std::uint32_t v = 0; v < 3; ++v) {
    for (float f : {0.25f * v, 1 - 0.25f * v, 9.f, 9.f, 9.f, 0.f, 0.f, 2.f}) decl.push_back(bits(f));
    decl.insert(decl.end(), {0x80FF0000u + v, 0x3C003C00u});
  }
  std::string text = text_header + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; DeclData { ";
  for (std::uint32_t d : decl) text += std::to_string(d) + ", ";
  binary_doc b;
  b.name("Mesh").open().ints({3}).floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).ints({1, 3, 0, 1, 2});
  b.name("DeclData").open().ints(decl).close().close();
  for (const xfile::mesh& m : {parse_ok(bytes(text + "; } }")), parse_ok(b.data())}) {
    EXPECT_EQ(m.texcoords, (std::vector<std::array<float, 2>>{{0, 1}, {0.25f, 0.75f}, {0.5f, 0.5f}}));
    EXPECT_EQ(m.normals, (std::vector<std::array<float, 3>>(3, {0, 0, 1})));
    EXPECT_EQ(m.colors, (std::vector<std::uint32_t>{0x80FF0000u, 0x80FF0001u, 0x80FF0002u}));
  }
}

TEST(DeclData, MeshObjectsWinAndSplitCopiesTakeTheirSourceVertexValues) {
  // SHORT2N texcoords, a normal and a D3DCOLOR per vertex. MeshNormals, indexed by face, wins
  // over the declared normals and splits vertices 1 and 2 into copies 4 and 5.
  std::string doc = text_header + "Mesh { 4; 0;0;0;, 1;0;0;, 0;1;0;, 5;5;5;; 2; 3;0,1,2;, 3;1,2,0;;"
      " MeshNormals { 2; 0;0;1;, 1;0;0;; 2; 3;0,0,0;, 3;1,1,0;; } DeclData { 3; 9,0,5,0, 2,0,3,0, 4,0,10,0; 20; ";
  for (std::uint32_t v = 0; v < 4; ++v)
    for (std::uint32_t d : {0x7FFF0000u + 0x2000u * v, 0u, 0u, bits(-1), 0xFF000000u + v})
      doc += std::to_string(d) + ",";
  const xfile::mesh m = parse_ok(bytes(doc + "; } }"));
  ASSERT_EQ(m.positions.size(), 6u);
  EXPECT_EQ(m.normals[0], (std::array<float, 3>{0, 0, 1}));
  EXPECT_EQ(m.colors, (std::vector<std::uint32_t>{0xFF000000u, 0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000001u,
                                                  0xFF000002u}));
  EXPECT_EQ(m.texcoords[5], m.texcoords[2]);
  EXPECT_NEAR(m.texcoords[2][0], 0.5f, 1e-4f);
  EXPECT_EQ(m.texcoords[2][1], 1.0f);
  // MeshTextureCoords wins too, even after the DeclData.
  EXPECT_EQ(parse_ok(bytes(doc + "; } MeshTextureCoords { 4; 0;0;, 0;0;, 0;0;, 0;0;; } }")).texcoords[2][0], 0.0f);
}

TEST(Materials, InlineAndReferencedMaterialsKeepTheirFieldsAndTextures) {
  const xfile::mesh m = parse_ok(bytes(text_header +
      "Material Shiny { 0.1;0.2;0.3;0.4;; 25; 0.5;0.6;0.7;; 0.8;0.9;1.0;;"
      " TextureFileName { \"dir\\\\shiny, one;bmp\"; } }\n"
      "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;"
      " MeshMaterialList { 2; 1; 1;; " + plain_material + " { Shiny } } }"));
  ASSERT_EQ(m.materials.size(), 2u);
  EXPECT_EQ(m.materials[0].texture, "");
  const xfile::material& shiny = m.materials[1];
  EXPECT_EQ(shiny.texture, "dir\\\\shiny, one;bmp");
  EXPECT_FLOAT_EQ(shiny.diffuse[3], 0.4f);
  EXPECT_FLOAT_EQ(shiny.power, 25);
  EXPECT_FLOAT_EQ(shiny.specular[2], 0.7f);
  EXPECT_FLOAT_EQ(shiny.emissive[0], 0.8f);
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1}));
}

TEST(Materials, AShortFaceIndexListRepeatsItsLastIndex) {
  const xfile::mesh m = parse_ok(bytes(text_header +
      "Mesh { 4; 0;0;0;, 1;0;0;, 0;1;0;, 1;1;0;; 3; 3;0,1,2;, 3;1,3,2;, 3;0,1,3;;"
      " MeshMaterialList { 2; 1; 1;; " + plain_material + plain_material + " } }"));
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1, 1, 1}));
}

TEST(Merging, LaterMeshesOffsetTheirVerticesAndMaterialIds) {
  const std::string lit = "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 2; 1; 1;; " +
                          plain_material + plain_material + " } }";
  const std::string bare = "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;2,1,0;; }";
  const xfile::mesh m = parse_ok(bytes(text_header + lit + bare + lit));
  EXPECT_EQ(m.triangles, (std::vector<tri>{{0, 1, 2}, {5, 4, 3}, {6, 7, 8}}));
  // Four listed materials, then the default one that the bare mesh uses.
  ASSERT_EQ(m.materials.size(), 5u);
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1, 4, 3}));
  EXPECT_FLOAT_EQ(m.materials[4].diffuse[0], 0.5f);
}

TEST(Frames, ChildTransformsApplyBeforeTheirParentsWhereverTheMatrixStands) {
  // The outer frame moves by 10 along x, the inner one scales by 2, and its matrix comes after
  // the mesh: (1, 0, 0) * scale * move = (12, 0, 0).
  const xfile::mesh m = parse_ok(bytes(text_header +
      "Frame Outer { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 10,0,0,1;; }"
      " Frame Inner { Mesh { 3; 1;0;0;, 0;1;0;, 0;0;1;; 1; 3;0,1,2;; MeshNormals { 1; 0;1;0;; 1; 3;0,0,0;; } }"
      " FrameTransformMatrix { 2,0,0,0, 0,4,0,0, 0,0,2,0, 0,0,0,1;; } } }"));
  ASSERT_EQ(m.normals.size(), 3u);
  EXPECT_EQ(m.positions[0], (std::array<float, 3>{12, 0, 0}));
  EXPECT_EQ(m.positions[1], (std::array<float, 3>{10, 4, 0}));
  EXPECT_EQ(m.normals[0], (std::array<float, 3>{0, 1, 0}));  // scaled normals are renormalised
}

TEST(Frames, AReferencedMeshIsPlacedAgainInTheReferencingFrame) {
  const xfile::mesh m = parse_ok(bytes(text_header +
      "Mesh 01 { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }"  // exporters write names like numbers
      " Frame { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,5,1;; } { 01 } }"));
  ASSERT_EQ(m.positions.size(), 6u);
  EXPECT_EQ(m.positions[4], (std::array<float, 3>{1, 0, 5}));
  EXPECT_EQ(m.triangles[1], (tri{3, 4, 5}));
}

TEST(Frames, ReferencesCannotMultiplyAMeshFarBeyondTheFileSize) {
  // 2000 references of a 1000-vertex mesh would copy two million vertices out of 30 kB.
  std::string doc = text_header + "Mesh Big { 1000; ";
  for (int i = 0; i < 1000; ++i) doc += "0;0;0;,";
  doc += "; 1; 3;0,1,2;; } Frame { ";
  for (int i = 0; i < 2000; ++i) doc += "{ Big } ";
  doc += "}";
  const std::string error = xfile_test::parse_error(bytes(doc));
  EXPECT_NE(error.find("more often than the file size allows"), std::string::npos) << error;
}

TEST(Skipping, TemplatesAndUnknownObjectsAreSkippedInTextBinaryAndCompressedForms) {
  const std::string text = text_header +
      "template Odd { <11111111-2222-3333-4444-555555555555> DWORD n; array STRING s[n]; [...] }\n"
      "Odd { 2; \"}\", \"{\"; Odd { 1; \"x\"; } }\n"
      "Frame { Odd { 0; } Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; Odd { Mesh { 1; } } } }";
  EXPECT_EQ(parse_ok(bytes(text)).triangles.size(), 1u);

  binary_doc b;
  b.token(31).name("Odd").open().token(5).u32(1).u32(2).u32(3).u32(4).token(41).name("n").token(20).close();
  b.name("Odd").open().ints({7}).name("Odd").open().string("}").close().close();
  b.name("Frame").open().name("Mesh").open().ints({3}).floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
  b.ints({1, 3, 0, 1, 2}).name("Odd").open().floats({1, 2}).close().close().close();
  EXPECT_EQ(parse_ok(b.data()).positions.size(), 3u);
  EXPECT_EQ(parse_ok(xfile_test::mszip(b.data(), "xof 0303bzip0032")).positions.size(), 3u);
  // The same text in 40-byte blocks, each inflated with the previous ones as its dictionary.
  EXPECT_EQ(parse_ok(xfile_test::mszip(bytes(text), "xof 0303tzip0032", 40)).triangles.size(), 1u);
}

TEST(Encodings, BinaryFilesWithDoublesAndVersion0302AreRead) {
  binary_doc b("xof 0302bin 0064");
  b.name("Mesh").open().ints({3}).doubles({0, 0, 0, 1.5, 0, 0, 0, 1, 0}).ints({1, 3, 0, 1, 2});
  b.name("MeshMaterialList").open().ints({1, 1, 0});
  b.name("Material").open().doubles({1, 0.5, 0.25, 1, 8, 0, 0, 0, 0, 0, 0});
  b.name("TextureFilename").open().string("wood.bmp").close().close().close().close();
  const xfile::mesh m = parse_ok(b.data());
  ASSERT_EQ(m.positions.size(), 3u);
  EXPECT_EQ(m.positions[1], (std::array<float, 3>{1.5f, 0, 0}));
  ASSERT_EQ(m.materials.size(), 1u);
  EXPECT_EQ(m.materials[0].texture, "wood.bmp");
  EXPECT_FLOAT_EQ(m.materials[0].diffuse[2], 0.25f);
  EXPECT_FLOAT_EQ(m.materials[0].power, 8);
}

TEST(Animation, FramesSkinBonesRigidVerticesAndKeysInSeconds) {
  // The mesh sits in Root (moved up by 1); vertex 1 is 3:1 Arm:Root, vertex 2 all Arm (Root's 0
  // is dropped), vertices 0 and 3 follow Root; normal splitting copies 0 and 2 as 4 and 5.
  const xfile::mesh m = parse_ok(bytes(text_header + "AnimTicksPerSecond { 24; }"
      " Frame Root { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,1,0,1;; }"
      " Frame Arm { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 2,0,0,1;; } }"
      " Mesh { 4; 0;0;0;, 2;0;0;, 2;1;0;, 0;1;0;; 2; 3;0,1,2;, 3;0,2,3;;"
      " MeshNormals { 2; 0;0;-1;, 0;0;1;; 2; 3;0,0,0;, 3;1,1,1;; } XSkinMeshHeader { 2; 2; 2; }"
      " SkinWeights { \"Arm\"; 2; 1,2; 3,1; 1,0,0,0, 0,1,0,0, 0,0,1,0, -2,-1,0,1;; }"
      " SkinWeights { \"Root\"; 2; 1,2; 1,0; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,-1,0,1;; } } }"
      " AnimationSet Wave { Animation { { Arm } AnimationOptions { 1; 0; }"
      " AnimationKey { 0; 2; 24;4;0.6,0.8,0,0;;, 0;4;1,0,0,0;;; } AnimationKey { 2; 1; 48;3;2,0,0;;; } }"
      " Animation { { Missing } AnimationKey { 1; 1; 0;3;1,1,1;;; } } }"));
  ASSERT_EQ(m.frames.size(), 2u);
  EXPECT_TRUE(m.frames[1].name == "Arm" && m.frames[1].parent == 0 && m.frames[1].rest[12] == 2);
  // Bones: Arm's skin, Root's skin, Root's rigid bone; offsets first undo Root's move that
  // mesh::positions already hold.
  ASSERT_EQ(m.bones.size(), 3u);
  EXPECT_EQ(m.bones[0].frame, 1);
  EXPECT_EQ(m.bones[0].offset, (readers::matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -2, -2, 0, 1}));
  EXPECT_EQ(m.bones[2].offset, (readers::matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1}));
  using inf = std::array<std::uint16_t, 4>;
  using wt = std::array<float, 4>;
  EXPECT_EQ(m.influences, (std::vector<inf>{{2, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 0}, {2, 0, 0, 0}, {2, 0, 0, 0}, {0, 0, 0, 0}}));
  EXPECT_EQ(m.weights, (std::vector<wt>{{1, 0, 0, 0}, {0.75f, 0.25f, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}}));
  // One channel (Missing names no frame); rotations sorted by time and conjugated; 24 ticks a second.
  ASSERT_EQ(m.animations.size(), 1u);
  ASSERT_EQ(m.animations[0].channels.size(), 1u);
  const readers::channel& c = m.animations[0].channels[0];
  ASSERT_EQ(c.rotation.size(), 2u);
  EXPECT_TRUE(c.frame == 1 && c.rotation[1].time == 1 && c.translation.at(0).time == 2 && m.animations[0].length == 2);
  EXPECT_EQ(c.rotation[1].value, (std::array<float, 4>{-0.8f, 0, 0, 0.6f}));
  EXPECT_NE(m.skipped.find("'Missing', which names no frame"), std::string::npos) << m.skipped;
}

TEST(Animation, BinarySkinsAndKeysAndStaticFilesWithoutAnyOfIt) {
  binary_doc b;
  b.name("Frame").name("F").open().name("Mesh").open().ints({3}).floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).ints({1, 3, 0, 1, 2});
  b.name("SkinWeights").open().string("F").ints({1, 2}).floats({0.5, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  b.close().close().close().name("AnimationSet").open().name("Animation").open().open().name("F").close();
  b.name("AnimationKey").open().ints({0, 1, 9600, 4}).floats({0.6f, 0, 0.8f, 0}).close().close().close();
  const xfile::mesh m = parse_ok(b.data());
  EXPECT_EQ(m.weights[2][0], 1);
  EXPECT_EQ(m.influences[0], m.influences[1]);  // both follow F through its rigid bone
  ASSERT_EQ(m.animations.size(), 1u);
  const readers::key<4>& k = m.animations[0].channels.at(0).rotation.at(0);
  EXPECT_EQ(k.time, 2);  // 4800 ticks a second
  EXPECT_EQ(k.value, (std::array<float, 4>{-0.0f, -0.8f, -0.0f, 0.6f}));
  // A static file gets none of it.
  const xfile::mesh still = parse_ok(xfile_test::corpus_file("kwxport_test_cubewithvcolors.x"));
  EXPECT_TRUE(still.frames.empty() && still.bones.empty() && still.influences.empty() && still.animations.empty());
}

TEST(Animation, RotationKeysAtTimeZeroTurnAsTheirFramesRestMatrices) {
  // Exporters key the rest pose at time 0 (Testwuson's bind pose, every bone of BCN_Epileptic):
  // D3DXMatrixRotationQuaternion of the kept key must give the rest matrix's rows, scale aside.
  for (const auto& [name, set] : {std::pair{"Testwuson.X", 2}, std::pair{"BCN_Epileptic.X", 0}}) {
    const xfile::mesh m = parse_ok(xfile_test::corpus_file(name));
    ASSERT_GT(m.animations.size(), static_cast<std::size_t>(set)) << name;
    for (const readers::channel& c : m.animations[set].channels) {
      const auto [x, y, z, w] = c.rotation.at(0).value;
      const float q[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w),
                          2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                          2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
      const readers::matrix& rest = m.frames[c.frame].rest;
      for (int r = 0; r < 3; ++r) {
        const float scale = std::hypot(rest[4 * r], rest[4 * r + 1], rest[4 * r + 2]);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(rest[4 * r + k] / scale, q[3 * r + k], 2e-3) << name << " " << m.frames[c.frame].name;
      }
    }
  }
}

}  // namespace
