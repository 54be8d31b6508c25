// How text numbers read: every decimal form gives the double the C library's strtod gives, and
// the float that double rounds to; the odd forms exporters write keep their meaning; objects that
// are skipped without reading their numbers are still checked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>

#include "lexer.h"
#include "support.h"

namespace {

using xfile_test::bytes;

// Reads `literal` as the first coordinate of a one-triangle mesh; the separator after it stands
// on the next line, so that a literal ending in a comment ("1.#QNAN0") leaves the document whole.
float read_coordinate(const std::string& literal) {
  const xfile::mesh m = xfile_test::parse_ok(
      bytes("xof 0303txt 0032\nMesh { 3; " + literal + "\n;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }"));
  return m.positions.empty() ? std::numeric_limits<float>::quiet_NaN() : m.positions[0][0];
}

// Compares bit patterns, so that -0 and +0 differ and NaN equals NaN.
template <class T>
::testing::AssertionResult same_bits(T a, T b) {
  if (std::memcmp(&a, &b, sizeof a) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::hexfloat << a << " and " << b << " differ";
}

// Checks that the lexer reads `literal` as strtod does, to the bit of the double, both as a token
// and on the value loops' quick path.
void expect_strtod_value(const std::string& literal) {
  const double expected = std::strtod(literal.c_str(), nullptr);
  const auto* data = reinterpret_cast<const std::uint8_t*>(literal.data());
  xfile::lexer tokens(data, literal.size(), false, 32, 0);
  const xfile::token t = tokens.next();
  EXPECT_TRUE(t.kind == xfile::token_kind::real || t.kind == xfile::token_kind::integer) << literal;
  EXPECT_TRUE(same_bits(t.value, expected)) << literal;
  EXPECT_EQ(tokens.next().kind, xfile::token_kind::end) << literal;
  xfile::lexer values(data, literal.size(), false, 32, 0);
  xfile::lexer::number n;
  if (values.next_plain_number(n)) EXPECT_TRUE(same_bits(n.value, expected)) << literal << " (quick path)";
  // Through the parser, the double is then rounded to float.
  const float coordinate = read_coordinate(literal);
  if (std::fabs(expected) <= std::numeric_limits<float>::max())
    EXPECT_TRUE(same_bits(coordinate, static_cast<float>(expected))) << literal << " (coordinate)";
}

TEST(Numbers, DecimalFormsReadAsStrtodReadsThem) {
  const char* literals[] = {
      "0.1", "-0.000001", "123456.789", ".5", "5.", "+1.5", "-.25", "1e5", "1E-5", "-.5e+3", "2.5E+04",
      "00012.50", "0.30000000000000004", "9007199254740993.0", "3.14159265358979323846", "1e22", "1e23",
      "5e-23", "123456.7e22", "0.1e-22", "4503599627370497.5", "1e-38", "1.17549435e-38", "3.4028234e38",
      "0.000000000000000000000000000000000000000000001", "-0", "-0.0", "-0e5", "1.000000",
      "100000000000000000000.0", "12345678901234567890123.0", "7.038531e-26", "1.7976931348623157e308",
      "4.9e-324", "2.2250738585072014e-308", "123456789012345"};
  for (const char* literal : literals) expect_strtod_value(literal);

  // Random literals of every length up to 20 digits, with and without a point and an exponent:
  // the short ones take the quick path, the long ones std::from_chars; both must round as strtod.
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 3000; ++i) {
    std::string literal = random() % 2 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % 20);
    const int point = static_cast<int>(random() % (digits + 2));  // past the end: no point
    for (int d = 0; d < digits; ++d) {
      if (d == point) literal += '.';
      literal += static_cast<char>('0' + random() % 10);
    }
    if (random() % 3 == 0) literal += "e" + std::to_string(static_cast<int>(random() % 61) - 30);
    // Whole numbers past 15 digits saturate instead (see below).
    if (point >= digits && literal.find('e') == std::string::npos && digits > 15) continue;
    expect_strtod_value(literal);
  }
}

TEST(Numbers, OddFormsKeepTheirMeaning) {
  // What some exporters write for NaN: the number ends at '#', which starts a comment.
  EXPECT_EQ(read_coordinate("1.#QNAN0"), 1.0f);
  EXPECT_EQ(read_coordinate("-1.#IND00"), -1.0f);
  EXPECT_TRUE(std::signbit(read_coordinate("-0")));
  EXPECT_EQ(read_coordinate("-inf"), -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(read_coordinate("+nan")));
  // Beyond the float range: infinity; beyond the double range: kept finite, as zero.
  EXPECT_EQ(read_coordinate("1.7976931348623157e308"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(read_coordinate("1e400"), 0.0f);
  EXPECT_EQ(read_coordinate("1e-400"), 0.0f);
  // Whole numbers (digits alone) are read for counts and saturate above 10^18; past 15 digits
  // they need not round as strtod would.
  const float huge = read_coordinate("123456789012345678901234");
  EXPECT_GE(huge, 1e18f);
  EXPECT_LT(huge, 1e20f);
  // A sign after a leading '+' is the number's own.
  EXPECT_EQ(read_coordinate("+-5"), -5.0f);
}

TEST(Numbers, SeparatorsBlanksAndCommentsMayStandBetweenNumbers) {
  const xfile::mesh m = xfile_test::parse_ok(bytes(
      "xof 0303txt 0032\nMesh { +3;;\t0,0,0,,\r\n1 # one\n;0 // zero\n;0;, 0;1;0;; 0001;\f3;0,+1,\v2;; }"));
  ASSERT_EQ(m.positions.size(), 3u);
  EXPECT_EQ(m.positions[1], (std::array<float, 3>{1, 0, 0}));
  EXPECT_EQ(m.triangles, (std::vector<std::array<std::uint32_t, 3>>{{0, 1, 2}}));
}

TEST(Numbers, WordsThatAreNoNumbersOrNoDwordsAreRefused) {
  const std::string head = "xof 0303txt 0032\nMesh { ";
  for (const char* bad : {"1a", "1.5.5", "1e", "-", ".", "0x10", "1e+"}) {
    const std::string error = xfile_test::parse_error(bytes(head + "3; " + bad + ";0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }"));
    EXPECT_NE(error.find(std::string("found name '") + bad + "'"), std::string::npos) << error;
  }
  for (const char* count : {"3.0", "-3", "4294967296", "99999999999999999999", "3e0"}) {
    const std::string error = xfile_test::parse_error(bytes(head + count + "; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }"));
    EXPECT_NE(error.find("Mesh vertex count"), std::string::npos) << count << ": " << error;
  }
}

TEST(Skipping, SkippedObjectsAreStillChecked) {
  const std::string mesh = "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }";
  const std::string head = "xof 0303txt 0032\n";
  auto refused = [&](const std::string& skipped, const std::string& words) {
    const std::string error = xfile_test::parse_error(bytes(head + skipped + mesh));
    EXPECT_NE(error.find(words), std::string::npos) << skipped << ": " << error;
  };
  refused("Odd { 1; 2; <1234> }", "malformed GUID");
  refused("Odd { 1; \"open ", "unterminated string");
  refused("Odd { 1; @; }", "unexpected character '@' (at byte 26)");
  refused("Odd { Odd { 1;2;3; }", "file ends inside the Odd object that starts at byte 17");
  // The same objects, well formed, are passed over.
  EXPECT_EQ(xfile_test::parse_ok(bytes(head + "Odd { 1.5e3; x-1; \"}\"; <11111111-2222-3333-4444-555555555555> # }\n }" + mesh))
                .triangles.size(),
            1u);

  xfile_test::binary_doc b;
  b.name("Odd").open().floats({1, 2, 3}).ints({4, 5}).close();
  b.name("Mesh").open().ints({3}).floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).ints({1, 3, 0, 1, 2}).close();
  EXPECT_EQ(xfile_test::parse_ok(b.data()).positions.size(), 3u);
  xfile_test::binary_doc cut;
  cut.name("Odd").open().u16(7).u32(1000).u32(0);  // a float list in a skipped object, cut short
  const std::string error = xfile_test::parse_error(cut.data());
  EXPECT_NE(error.find("truncated float list"), std::string::npos) << error;
}

TEST(Normals, ManyNormalsOnOneVertexMakeOneCopyPerDistinctValue) {
  // Triangles 0..39 fan around vertex 0, which gets normal j % 20 in triangle j, normal n being
  // (1, n, 0); normals 20 and 21 repeat normals 0 (with -0) and 1 by value, so they make no copies
  // of their own.
  std::string doc = "xof 0303txt 0032\nMesh { 42; ";
  for (int v = 0; v < 42; ++v) doc += "0;" + std::to_string(v) + ";0;" + (v < 41 ? "," : ";");
  doc += " 40; ";
  for (int j = 0; j < 40; ++j) doc += "3;0," + std::to_string(j + 1) + "," + std::to_string(j + 2) + ";" + (j < 39 ? "," : ";");
  doc += " MeshNormals { 22; ";
  for (int n = 0; n < 20; ++n) doc += "1;" + std::to_string(n) + ";0;,";
  doc += "1;-0;0;, 1;1;0;; 40; ";
  for (int j = 0; j < 40; ++j) {
    const int n = j % 20 == 0 ? (j == 20 ? 20 : 0) : (j == 21 ? 21 : j % 20);
    doc += "3;" + std::to_string(n) + ",0,0;" + (j < 39 ? "," : ";");
  }
  doc += " } }";
  const xfile::mesh m = xfile_test::parse_ok(bytes(doc));
  ASSERT_EQ(m.positions.size(), 42u + 19u);
  for (int j = 0; j < 40; ++j) {
    const std::uint32_t expected = j % 20 == 0 ? 0u : 42u + static_cast<std::uint32_t>(j % 20) - 1u;
    EXPECT_EQ(m.triangles[j][0], expected) << "triangle " << j;
  }
  for (std::uint32_t c = 42; c < m.positions.size(); ++c) EXPECT_EQ(m.positions[c], m.positions[0]);
  EXPECT_EQ(m.normals[0], (std::array<float, 3>{1, 0, 0}));
  EXPECT_FLOAT_EQ(m.normals[42][0], std::sqrt(0.5f));  // normal 1, scaled to unit length
  EXPECT_FLOAT_EQ(m.normals[42][1], std::sqrt(0.5f));
}

}  // namespace
