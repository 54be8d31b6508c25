// The OBJ reader: the engine's axes and texture rows, materials from libraries in other
// folders, welding and computed normals, and one refusal per fault.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "readers/obj/obj.h"

namespace {

// Serves the files of `library` by name and records every name asked for.
struct side_files {
  std::map<std::string, std::string> library;
  std::vector<std::string> asked;
  readers::side_files callback() {
    return [this](const std::string& name, std::vector<std::uint8_t>& out, std::string& error) {
      asked.push_back(name);
      const auto found = library.find(name);
      if (found == library.end()) return error = "no such file", false;
      out.assign(found->second.begin(), found->second.end());
      return true;
    };
  }
};

bool read(const std::string& text, readers::mesh& m, std::string& error, side_files files = {}) {
  return obj::parse(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), files.callback(), m, error);
}

readers::mesh read_ok(const std::string& text, side_files* files = nullptr) {
  side_files none;
  readers::mesh m;
  std::string error;
  side_files& f = files ? *files : none;
  EXPECT_TRUE(obj::parse(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), f.callback(), m, error))
      << error;
  return m;
}

// Twice the signed area of a triangle as the default camera sees it (from -Z, +X to the right,
// +Y up): negative when its corners turn clockwise on the screen.
float screen_turn(const readers::mesh& m, const std::array<std::uint32_t, 3>& t) {
  const auto &a = m.positions[t[0]], &b = m.positions[t[1]], &c = m.positions[t[2]];
  return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

TEST(Obj, MaterialsComeFromEveryLibraryWithTexturesNamedFromTheModelsFolder) {
  side_files files;
  files.library["mats/a.mtl"] =
      "newmtl red\nKd 1 0 0\nKa 0.5 0.5 0.5\nKs 0.25 0.5 0.75\nNs 32\nKe 0 0.125 0\nd 0.5\n"
      "map_Kd -s 2 2 1 -bm 0.5 tex/brick wall.png\n"
      "newmtl clear\nKd 0 1 0\nTr 0.75\n";
  files.library["b.mtl"] = "newmtl blue\nKd 0 0 1\nmap_Kd C:\\textures\\sky.bmp\n";
  const readers::mesh m = read_ok(
      "mtllib mats/a.mtl gone.mtl b.mtl\nmtllib mats/a.mtl\n"
      "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
      "f 1 2 3\nusemtl red\nf 1 2 3\nusemtl blue\nf 1 2 3\nusemtl clear\nf 1 2 3\nusemtl nowhere\nf 1 2 3\n",
      &files);
  EXPECT_EQ(files.asked, (std::vector<std::string>{"mats/a.mtl", "gone.mtl", "b.mtl"}));
  ASSERT_EQ(m.materials.size(), 4u);  // red, clear, blue, then the default
  const readers::material &red = m.materials[0], &clear = m.materials[1], &blue = m.materials[2],
                          &plain = m.materials[3];
  EXPECT_EQ(std::vector<float>(red.diffuse, red.diffuse + 4), (std::vector<float>{1, 0, 0, 0.5f}));
  EXPECT_EQ(std::vector<float>(red.specular, red.specular + 3), (std::vector<float>{0.25f, 0.5f, 0.75f}));
  EXPECT_EQ(std::vector<float>(red.emissive, red.emissive + 3), (std::vector<float>{0, 0.125f, 0}));
  EXPECT_EQ(red.power, 32);
  EXPECT_EQ(red.texture, "mats/tex/brick wall.png");
  EXPECT_EQ(red.origin, readers::texture_origin::model_folder);
  EXPECT_EQ(clear.diffuse[3], 0.25f);
  EXPECT_TRUE(clear.texture.empty());
  EXPECT_EQ(blue.texture, "C:\\textures\\sky.bmp");
  EXPECT_EQ(std::vector<float>(plain.diffuse, plain.diffuse + 4), (std::vector<float>{0.8f, 0.8f, 0.8f, 1}));
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{3, 0, 2, 1, 3}));
  EXPECT_NE(m.skipped.find("gone.mtl was not read (no such file)"), std::string::npos) << m.skipped;
  EXPECT_NE(m.skipped.find("'nowhere'"), std::string::npos) << m.skipped;
}

TEST(Obj, CornersWeldAndMissingNormalsFollowTheSmoothingGroups) {
  // Two triangles folded along the edge 1-3, a pentagon far off, relative indices, and
  // colours on some vertices only.
  const std::string fold = "v 0 0 0 1 0 0\nv 1 0 0\nv 1 1 0 0 0.5 1\nv 0 1 1\n";
  const readers::mesh smooth = read_ok(fold + "s 1\nf 1 2 3\nf -4 -2 -1\n");
  ASSERT_EQ(smooth.positions.size(), 4u);
  ASSERT_EQ(smooth.colors.size(), 4u);
  EXPECT_EQ(smooth.colors[0], 0xFFFF0000u);
  EXPECT_EQ(smooth.colors[1], 0xFFFFFFFFu);
  EXPECT_EQ(smooth.colors[2], 0xFF0080FFu);
  // At the shared corners, the area-weighted mean of (0,0,1) (area 1/2) and (1,-1,1)/sqrt 3
  // (area sqrt 3/2): (1,-1,2)/sqrt 6, Z negated.
  const float s6 = 1 / std::sqrt(6.0f);
  for (int i : {0, 2}) {
    EXPECT_NEAR(smooth.normals[i][0], s6, 1e-6);
    EXPECT_NEAR(smooth.normals[i][1], -s6, 1e-6);
    EXPECT_NEAR(smooth.normals[i][2], -2 * s6, 1e-6);
  }
  EXPECT_EQ(smooth.normals[1], (std::array<float, 3>{0, 0, -1}));
  for (const char* flat : {"", "s off\n", "s 1\ns 0\n"}) {
    const readers::mesh m = read_ok(fold + flat + "f 1 2 3\nf 1 3 4\n");
    EXPECT_EQ(m.positions.size(), 6u) << "faces outside a smoothing group share no computed normal: " << flat;
  }
  // Different groups keep their own normals; a pentagon is a fan of three triangles.
  EXPECT_EQ(read_ok(fold + "s 1\nf 1 2 3\ns 2\nf 1 3 4\n").positions.size(), 6u);
  const readers::mesh five = read_ok("v 0 0 0\nv 2 0 0\nv 3 1 0\nv 1 2 0\nv -1 1 0\nf 1 2 3 4 5\n");
  ASSERT_EQ(five.triangles.size(), 3u);
  for (const auto& t : five.triangles) EXPECT_LT(screen_turn(five, t), 0);
}

TEST(Obj, FaultsAreRefusedWithTheirLine) {
  const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\n";
  const struct {
    std::string text, words;
  } cases[] = {
      {tri + "f 1 2 4\n", "line 5: a face uses vertex 4 and the file has 3"},
      {tri + "f 1 2 0\n", "line 5: an index is 0"},
      {tri + "f 1 2 -4\n", "line 5: a relative vertex index reaches back before the first"},
      {tri + "f 1/1 2/1 3/2\n", "line 5: a face uses texture coordinate 2 and the file has 1"},
      {tri + "f 1//1 2//1 3//1\n", "a face uses normal 1 and the file has 0"},
      {tri + "f 1 2 99999999999\n", "line 5: a face uses vertex"},
      {"v 0 0 0\nv 1 nan 0\nv 0 1 0\nf 1 2 3\n", "line 2: 'nan' is not a number"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 1.#QNAN\nf 1 2 3\n", "line 3: '1.#QNAN' is not a number"},
      {tri + "vn 0 0 1e999\nf 1//1 2//1 3//1\n", "line 5: a number is too large for a float"},
      {"v 0 0 0\nv 1 0 0\nl 1 2\np 1\n", "only lines and points"},
      {"v 0 0 0\nv 1 0 0\nf 1 2\n", "no face with three corners or more"},
      {tri + "f" + [] { std::string c; for (int i = 0; i < 86; ++i) c += " 1 2 3"; return c; }() + "\n",
       "more than 255 corners"},
      {"", "the file has no faces"},
      {"# a comment\n\n", "the file has no faces"},
  };
  for (const auto& c : cases) {
    readers::mesh m;
    std::string error;
    EXPECT_FALSE(read(c.text, m, error)) << c.text;
    EXPECT_NE(error.find(c.words), std::string::npos) << "message: " << error;
    EXPECT_TRUE(m.positions.empty() && m.materials.empty());
  }
}

// A UTF-8 mark must not cost the first vertex, a tag line claiming the most values tinyobjloader
// takes must not be allocated, and a joint number too large for an int must not be converted.
TEST(Obj, AMarkTagsAndWeightsAreReadPast) {
  EXPECT_EQ(read_ok("\xEF\xBB\xBFv 0 0 0\nv 1 0 0\nv 0 1 0\nt crease 8192/8192/8192\nvw 1 1e99 1\ng a\nf 1 2 3\n")
                .triangles.size(),
            1u);
}

}  // namespace
