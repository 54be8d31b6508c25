// Damage that exporters leave after the last object is read past, and reading stops at a stray
// top-level brace; anything that could be a cut or an object closed early is still refused.
#include <gtest/gtest.h>

#include <algorithm>

#include "support.h"

namespace {

using xfile_test::binary_doc;
using xfile_test::bytes;
using xfile_test::corpus_file;
using xfile_test::parse_ok;

const std::string triangle = "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }";

// Returns data with tail appended.
std::vector<std::uint8_t> with(std::vector<std::uint8_t> data, const std::string& tail) {
  data.insert(data.end(), tail.begin(), tail.end());
  return data;
}

// Expects the damaged copy of a file to give exactly the mesh of the intact file.
void expect_same_mesh(const std::vector<std::uint8_t>& intact, const std::vector<std::uint8_t>& damaged) {
  const xfile::mesh a = parse_ok(intact);
  const xfile::mesh b = parse_ok(damaged);
  EXPECT_FALSE(a.positions.empty());
  EXPECT_EQ(a.positions, b.positions);
  EXPECT_EQ(a.normals, b.normals);
  EXPECT_EQ(a.triangles, b.triangles);
  EXPECT_EQ(a.attributes, b.attributes);
  EXPECT_EQ(a.materials.size(), b.materials.size());
}

// Expects data to be refused with a message containing `words`.
void expect_refused(const std::vector<std::uint8_t>& data, const std::string& words) {
  const std::string error = xfile_test::parse_error(data);
  EXPECT_NE(error.find(words), std::string::npos) << "message: " << error;
}

const std::string brace_token("\x0b\x00", 2);  // the binary form's '}'

TEST(Tolerance, SurplusClosingBracesAfterTheLastObjectAreRead) {
  for (const char* name : {"test_cube_text.x", "kwxport_test_cubewithvcolors.x", "test.x"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> whole = corpus_file(name);
    for (const char* tail : {"}", "}\r\n", "\n}\n}\n", " } ; } , "}) {
      SCOPED_TRACE(tail);
      expect_same_mesh(whole, with(whole, tail));
    }
  }
  for (const char* name : {"test_cube_binary.x", "fromtruespace_bin32.x"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> whole = corpus_file(name);
    expect_same_mesh(whole, with(whole, brace_token));
    expect_same_mesh(whole, with(whole, brace_token + brace_token + brace_token));
  }
  // The compressed form holds the same binary tokens: the brace is inside the compressed data.
  const std::vector<std::uint8_t> binary = corpus_file("test_cube_binary.x");
  expect_same_mesh(binary, xfile_test::mszip(with(binary, brace_token), "xof 0303bzip0032"));
  // Nothing else needs to precede the braces than one object.
  EXPECT_EQ(parse_ok(bytes("xof 0303txt 0032 " + triangle + " }")).triangles.size(), 1u);
}

TEST(Tolerance, ZeroPaddingAndEndOfFileMarksAfterTheDataAreRead) {
  const std::vector<std::uint8_t> text = corpus_file("test_cube_text.x");
  for (const std::string tail : {std::string(1, '\0'), std::string(100, '\0'), std::string("\x1a"),
                                 std::string("\r\n\x1a\x1a\x1a"), std::string("\x1a\0\0", 3)}) {
    SCOPED_TRACE(testing::PrintToString(tail));
    expect_same_mesh(text, with(text, tail));
  }
  for (const char* name : {"test_cube_binary.x", "fromtruespace_bin32.x"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> whole = corpus_file(name);
    for (std::size_t zeros : {1, 2, 7, 512}) expect_same_mesh(whole, with(whole, std::string(zeros, '\0')));
  }
  // Zeros after the last compressed block, once the declared size is complete.
  const std::vector<std::uint8_t> compressed = corpus_file("test_cube_compressed.x");
  for (std::size_t zeros : {1, 6, 300}) expect_same_mesh(compressed, with(compressed, std::string(zeros, '\0')));
}

TEST(Tolerance, BracesAndPaddingTogetherAreRead) {
  const std::vector<std::uint8_t> text = corpus_file("kwxport_test_cubewithvcolors.x");
  expect_same_mesh(text, with(text, std::string("}\n\0\0\0", 5)));
  expect_same_mesh(text, with(text, "}\r\n\x1a"));
  const std::vector<std::uint8_t> binary = corpus_file("test_cube_binary.x");
  expect_same_mesh(binary, with(binary, brace_token + std::string(5, '\0')));
}

TEST(Tolerance, ReadingStopsAtAStrayBraceAndSaysWhatItPassedOver) {
  // A converter's surplus brace before its animation: the meshes before it are the model, even
  // when more follow, and what follows is never read, even bytes that are no tokens.
  const std::string head = "xof 0303txt 0032\n" + triangle + "\n";
  for (const std::string& tail :
       std::vector<std::string>{"} " + triangle, "}\r\nAnimationSet { { A } } 7;", "} { A }", "} @ \"", "} } ; x"}) {
    SCOPED_TRACE(tail);
    const xfile::mesh m = parse_ok(bytes(head + tail));
    EXPECT_EQ(m.triangles.size(), 1u);
    EXPECT_EQ(m.skipped, "a stray '}' at the top level (line 3) and everything after it");
  }
  EXPECT_EQ(parse_ok(bytes(head + "} }\n")).skipped, "");  // surplus braces at the end pass over nothing
  binary_doc b;
  b.name("Mesh").open().ints({3}).floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).ints({1, 3, 0, 1, 2}).close();
  b.close().name("Frame").open().close();
  EXPECT_EQ(parse_ok(b.data()).skipped, "a stray '}' at the top level (byte 108) and everything after it");
  // Without a mesh before the brace there is no model, whatever follows.
  expect_refused(bytes("xof 0303txt 0032 Frame A { Frame B { } } }\n Frame C { " + triangle + " }"),
                 "no mesh with vertices before the stray '}' at the top level (line 1)");
  // A brace that closes a mesh before its faces leaves the face data where it cannot be read.
  expect_refused(bytes("xof 0303txt 0032 Frame F { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; } 1; 3;0,1,2;; } }"),
                 "expected Mesh face count, found '}'");
}

TEST(Tolerance, OtherBytesAfterTheLastObjectAreRefused) {
  const std::vector<std::uint8_t> text = bytes("xof 0303txt 0032 " + triangle);
  expect_refused(with(text, " @"), "unexpected character '@'");
  expect_refused(with(text, " garbage"), "expected '{' after 'garbage'");
  expect_refused(with(text, "\x1a trailing words"), "unexpected byte 0x1a");
  const std::vector<std::uint8_t> binary = corpus_file("test_cube_binary.x");
  expect_refused(with(binary, std::string("\0\0\x01\0", 4)), "unknown binary token 0");
  expect_refused(with(binary, "\x0b"), "truncated token");
  const std::vector<std::uint8_t> compressed = corpus_file("test_cube_compressed.x");
  expect_refused(with(compressed, "\x01"), "truncated compressed block header");
}

// A corpus file and the first offset inside its last top-level object, counted from the file.
struct last_object {
  const char* name;
  std::size_t inside;
};

TEST(Tolerance, FilesCutInsideTheirLastObjectAreStillRefused) {
  // Cut anywhere from the last top-level object's opening brace up to its closing brace, with
  // nothing, zero padding or an end-of-file mark after the cut: always refused.
  const last_object files[] = {
      {"test_cube_text.x", 798}, {"kwxport_test_cubewithvcolors.x", 2713}, {"test.x", 32},
      {"Testwuson.X", 825384},   {"test_cube_binary.x", 699},            {"fromtruespace_bin32.x", 85},
  };
  for (const last_object& f : files) {
    SCOPED_TRACE(f.name);
    const std::vector<std::uint8_t> whole = corpus_file(f.name);
    ASSERT_GT(whole.size(), 16u);
    const bool binary = std::equal(whole.begin() + 8, whole.begin() + 12, "bin ");
    // The last cut keeps all but the last closing brace, in the binary files the final token.
    // (Keeping its first byte and padding with a zero would give back the intact file.)
    const std::size_t end = binary ? whole.size() - 2
                                   : whole.size() - 1 - static_cast<std::size_t>(
                                                            std::find(whole.rbegin(), whole.rend(), '}') - whole.rbegin());
    ASSERT_LT(f.inside, end);
    const std::size_t step = std::max<std::size_t>(1, (end - f.inside) / 120);
    const std::vector<std::string> tails =
        binary ? std::vector<std::string>{"", std::string(1, '\0'), std::string(6, '\0')}
               : std::vector<std::string>{"", std::string(4, '\0'), "\r\n\x1a"};
    for (std::size_t cut = f.inside; cut <= end; cut += (end - cut < 64) ? 1 : step) {
      const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      for (const std::string& tail : tails) {
        const std::vector<std::uint8_t> damaged = with(part, tail);
        xfile::mesh m;
        std::string error;
        ASSERT_FALSE(xfile::parse(damaged.data(), damaged.size(), m, error))
            << "cut at " << cut << " followed by " << testing::PrintToString(tail);
      }
    }
  }
  // A compressed file cut short and padded with zeros has fewer bytes than it declares.
  const std::vector<std::uint8_t> compressed = corpus_file("test_cube_compressed.x");
  std::vector<std::uint8_t> cut(compressed.begin(), compressed.end() - 40);
  expect_refused(with(cut, std::string(40, '\0')), "compressed");
}

}  // namespace
