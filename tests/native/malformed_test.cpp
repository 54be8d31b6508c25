// Tiny documents, one per fault, each refused with a message that names the fault.
#include <gtest/gtest.h>

#include "support.h"

namespace {

using xfile_test::binary_doc;
using xfile_test::bytes;

// A one-triangle mesh; the documents below break it in one place each.
const std::string triangle = "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }";

// Expects data to be refused with a message containing `words`.
void expect_refused(const std::vector<std::uint8_t>& data, const std::string& words) {
  const std::string error = xfile_test::parse_error(data);
  EXPECT_NE(error.find(words), std::string::npos) << "message: " << error;
}

TEST(Header, WrongMagicVersionFormatOrFloatSizeIsRefused) {
  expect_refused(bytes("xog 0303txt 0032" + triangle), "bad magic");
  expect_refused(bytes("xof 0304txt 0032" + triangle), "version \"0304\"");
  expect_refused(bytes("xof 0303cmp 0032" + triangle), "format \"cmp \"");
  expect_refused(bytes("xof 0303txt 0016" + triangle), "float size \"0016\"");
  expect_refused(bytes("xof 0303txt"), "shorter than the 16-byte");
}

TEST(Header, BothVersionsAndFloatSizesAreRead) {
  for (const char* header : {"xof 0302txt 0032", "xof 0303txt 0064"})
    EXPECT_EQ(xfile_test::parse_ok(bytes(header + triangle)).triangles.size(), 1u) << header;
}

TEST(Counts, CountsBeyondTheDataAreRefusedBeforeAllocating) {
  expect_refused(bytes("xof 0303txt 0032 Mesh { 4000000000; 0;0;0;; 0;; }"), "Mesh vertex count 4000000000");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 900000000; 3;0,1,2;; }"),
                 "Mesh face count 900000000");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 70000000;0,1,2;; }"),
                 "face vertex count 70000000");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;"
                       " MeshVertexColors { 100000000; 0;1;1;1;1;; } }"),
                 "MeshVertexColors count 100000000");
  binary_doc b;
  b.name("Mesh").open().u16(6).u32(0x40000000).u32(3);  // an integer list claiming 2^30 entries
  expect_refused(b.data(), "truncated integer list");
}

TEST(Counts, CountsThatDisagreeWithTheMeshAreRefused) {
  const std::string head = "xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; ";
  expect_refused(bytes(head + "MeshTextureCoords { 2; 0;0;, 1;1;; } }"), "2 coordinates for 3 vertices");
  expect_refused(bytes(head + "MeshNormals { 1; 0;0;1;; 2; 3;0,0,0;, 3;0,0,0;; } }"), "MeshNormals has 2 faces");
  expect_refused(bytes(head + "MeshNormals { 1; 0;0;1;; 1; 3;0,0,1;; } }"), "uses normal 1 of 1");
  expect_refused(bytes(head + "MeshMaterialList { 1; 1; 1; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }"),
                 "uses material 1 of 1");
  expect_refused(bytes(head + "MeshMaterialList { 2; 1; 0; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }"),
                 "declares 2 materials and gives 1");
  expect_refused(bytes(head + "MeshMaterialList { 1; 1; 0; { Nowhere } } }"), "'Nowhere' names no material");
  expect_refused(bytes(head + "DeclData { 2; 1,0,5,0, 4,0,10,0; 8; 0,0,0,0,0,0,0,0; } }"),
                 "DeclData has 8 DWORDs for 3 vertices of 3 DWORDs each");
  expect_refused(bytes(head + "DeclData { 1; 17,0,5,0; 3; 0,0,0; } }"), "DeclData has 3 DWORDs for 3 vertices of 0");
  expect_refused(bytes(head + "DeclData { 1; 18,0,5,0; 3; 0,0,0; } }"), "DeclData element 0 has unknown type 18");
  expect_refused(bytes(head + "DeclData { 900000000; 1,0,5,0; 0; } }"), "DeclData element count 900000000");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,3;; }"), "uses vertex 3 of 3");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 2; 0;0;0;, 1;0;0;; 1; 2;0,1;; }"), "fewer than 3");
}

TEST(Tokens, GarbageIsRefusedWithItsPosition) {
  expect_refused(bytes("xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;@;0;, 0;1;0;; 1; 3;0,1,2;; }"),
                 "unexpected character '@' (at byte 37)");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;zero;0;, 0;1;0;; 1; 3;0,1,2;; }"),
                 "expected Mesh vertex coordinate, found name 'zero'");
  expect_refused(bytes("xof 0303txt 0032 Mesh { -3; }"), "Mesh vertex count out of range");
  expect_refused(bytes("xof 0303txt 0032 Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; 7; }"), "unexpected number 7");
  expect_refused(bytes("xof 0303txt 0032 Frame { <1234> }"), "malformed GUID");
  expect_refused(bytes("xof 0303txt 0032 } "), "no mesh with vertices before the stray '}' at the top level");
  binary_doc b;
  b.name("Frame").open().token(99).close();
  expect_refused(b.data(), "unknown binary token 99");
}

TEST(Truncation, FilesEndingInsideAnObjectAreRefused) {
  expect_refused(bytes("xof 0303txt 0032 Frame { Frame { " + triangle + " }"), "file ends inside the Frame object");
  expect_refused(bytes("xof 0303txt 0032 Unknown { { {"), "file ends inside the Unknown object");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1"), "expected Mesh vertex coordinate");
  expect_refused(bytes("xof 0303txt 0032 Material m { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"a.bmp"),
                 "unterminated string");
  binary_doc b;
  b.name("Mesh").open().u16(7).u32(9).u32(0);  // a float list cut after its first element
  expect_refused(b.data(), "truncated float list");
}

TEST(Structure, FilesWithoutAnyMeshOrTooDeepAreRefused) {
  expect_refused(bytes("xof 0303txt 0032 Frame { }"), "no mesh");
  expect_refused(bytes("xof 0303txt 0032 Mesh { 0; 0; }"), "no mesh");
  std::string deep = "xof 0303txt 0032 ";
  for (int i = 0; i < 300; ++i) deep += "Frame {";
  expect_refused(bytes(deep), "nested more than 256 deep");
}

TEST(Compression, CorruptOrMissizedBlocksAreRefused) {
  const std::vector<std::uint8_t> plain = bytes("xof 0303txt 0032" + triangle);
  std::vector<std::uint8_t> packed = xfile_test::mszip(plain, "xof 0303tzip0032");
  EXPECT_EQ(xfile_test::parse_ok(packed).triangles.size(), 1u);

  std::vector<std::uint8_t> wrong_total = packed;
  wrong_total[16] += 1;  // the declared size counts one byte more than the blocks hold
  expect_refused(wrong_total, "header declares");
  std::vector<std::uint8_t> no_signature = packed;
  no_signature[24] = 'X';
  expect_refused(no_signature, "\"CK\" signature");
  std::vector<std::uint8_t> corrupt = packed;
  for (std::size_t i = 26; i < corrupt.size(); ++i) corrupt[i] = 0xFF;
  expect_refused(corrupt, "compressed");
  std::vector<std::uint8_t> cut(packed.begin(), packed.end() - 3);
  expect_refused(cut, "truncated compressed block");
  std::vector<std::uint8_t> huge = packed;
  huge[19] = 0x7F;  // declares almost 2 GiB
  expect_refused(huge, "more than the");
}

TEST(Animation, MalformedSkinAndAnimationObjectsArePassedOverWithANote) {
  const std::string head = "xof 0303txt 0032 Frame F { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; ";
  const std::string key = " AnimationKey { 1; 1; 0;3;2,2,2;;; } } ";
  const struct {
    std::string body, note;
    std::size_t animations;
  } cases[] = {
      {"SkinWeights { \"F\"; 900000000; 0; 1; } } } Animation Solo { { F }" + key, "SkinWeights weight count 900000000", 1},
      {"} } AnimationSet { Animation { { F } AnimationKey { 0; 900000000; 0;4;1,0,0,0;;; }" + key + "}",
       "AnimationKey key count 900000000", 1},
      {"} } AnimationSet { Animation { { F } AnimationKey { 2; 1; 0;4;1,0,0,0;;; } } }", "has 4 values, its type 3", 0},
      {"} } AnimTicksPerSecond { 0; } Animation { { G }" + key, "0 ticks per second", 0},
  };
  for (const auto& c : cases) {
    const xfile::mesh m = xfile_test::parse_ok(bytes(head + c.body));
    EXPECT_EQ(m.positions.size(), 3u);
    EXPECT_NE(m.skipped.find(c.note), std::string::npos) << m.skipped;
    EXPECT_EQ(m.animations.size(), c.animations) << c.body;
    EXPECT_EQ(m.frames.size(), c.animations);  // nothing to animate: nothing kept
  }
  // The corpus file's index beyond the mesh loses that influence alone: vertex 23 follows its frame.
  const xfile::mesh m = xfile_test::parse_ok(xfile_test::corpus_file("malformed_skinweights_oob.x"));
  EXPECT_NE(m.skipped.find("1 vertex indexes beyond the 24 vertices"), std::string::npos) << m.skipped;
  ASSERT_EQ(m.bones.size(), 2u);
  EXPECT_EQ(m.influences[23][0], 1);
  EXPECT_EQ(m.weights[22][0], 1);
}

}  // namespace
