// What the parser makes of valid documents: triangulation, vertex splitting by normal, colours,
// materials and their ids across meshes, frame transforms, references, skipped objects and the
// three encodings.
#include <gtest/gtest.h>

#include <bit>

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

}  // namespace
