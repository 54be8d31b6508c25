// The portable TGA and DDS readers and the resampler, on small files made by ImageMagick
// (seeds/make.sh: 8 x 8 gradients, from red to blue or white to black, rows made top first), on
// the corpus's TGA textures and on inputs the fuzz targets found.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "dx/image_formats.h"

// The largest single allocation since it was last reset, so that tests can check that a reader
// sizes its buffers by the data a file holds rather than by the size its header claims.
static std::size_t largest_allocation = 0;

void* operator new(std::size_t size) {
  if (size > largest_allocation) largest_allocation = size;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> seed(const std::string& name) {
  return read_file(std::string(IMAGE_SEED_DIR) + "/" + name.substr(name.size() - 3) + "/" + name);
}

// Decodes with the reader the file's extension names.
bool decode(const std::string& name, const std::vector<unsigned char>& bytes, dx::image& img, std::wstring& detail) {
  return name.ends_with(".dds") ? dx::decode_dds(bytes, img, detail) : dx::decode_tga(bytes, img, detail);
}

dx::image decode_ok(const std::string& name) {
  dx::image img;
  std::wstring detail;
  EXPECT_TRUE(decode(name, seed(name), img, detail)) << name << ": " << std::string(detail.begin(), detail.end());
  return img;
}

std::uint32_t channel(std::uint32_t pixel, int shift) { return (pixel >> shift) & 255; }

const char* const tga_seeds[] = {"rgb24.tga", "rgb24_rle.tga", "grey.tga", "grey_rle.tga", "rgba32.tga", "rgba32_rle.tga"};
const char* const dds_seeds[] = {"rgb.dds", "rgba.dds", "dxt1.dds", "dxt3.dds", "dxt5.dds"};

TEST(ImageFormats, TgaFilesStoredBottomUpDecodeTopRowFirstWithTheirAlpha) {
  // ImageMagick writes the gradient's rows in the order it made them, top first, but marks the
  // files as stored bottom up: the decoded images have the gradient's first row at the bottom.
  for (const char* name : tga_seeds) {
    SCOPED_TRACE(name);
    const dx::image img = decode_ok(name);
    ASSERT_EQ(img.width, 8u);
    ASSERT_EQ(img.height, 8u);
    ASSERT_EQ(img.pixels.size(), 64u);
    const std::uint32_t top = img.pixels[0], bottom = img.pixels[63];
    if (std::string(name).starts_with("grey")) {
      EXPECT_EQ(top, 0xFF000000u);
      EXPECT_EQ(bottom, 0xFFFFFFFFu);
    } else {
      EXPECT_EQ(top & 0x00FFFFFFu, 0x000000FFu);
      EXPECT_EQ(bottom & 0x00FFFFFFu, 0x00FF0000u);
    }
    EXPECT_EQ(img.has_alpha, std::string(name).starts_with("rgba"));
    if (img.has_alpha) {
      EXPECT_NEAR(channel(top, 24), 51.0, 1.0);  // alpha 0.2
      EXPECT_EQ(channel(bottom, 24), 255u);
    } else {
      EXPECT_EQ(channel(top, 24), 255u);
    }
  }
  // Run-length packets give the same pixels as the plain form.
  EXPECT_EQ(decode_ok("rgb24.tga").pixels, decode_ok("rgb24_rle.tga").pixels);
  EXPECT_EQ(decode_ok("grey.tga").pixels, decode_ok("grey_rle.tga").pixels);
  EXPECT_EQ(decode_ok("rgba32.tga").pixels, decode_ok("rgba32_rle.tga").pixels);
}

// The colour of each row of a seed, as ImageMagick decodes the same file: r, g, b, a.
struct dds_rows {
  const char* name;
  bool alpha;
  int tolerance;  // 0 for uncompressed files; block decoders may round 565 colours differently
  std::uint8_t rows[8][4];
};

TEST(ImageFormats, DdsFilesDecodeAsImageMagickDecodesThem) {
  const dds_rows files[] = {
      {"rgb.dds", false, 0, {{255, 0, 0, 255}, {219, 0, 36, 255}, {182, 0, 73, 255}, {146, 0, 109, 255},
                             {109, 0, 146, 255}, {73, 0, 182, 255}, {36, 0, 219, 255}, {0, 0, 255, 255}}},
      {"rgba.dds", true, 0, {{255, 0, 0, 255}, {247, 0, 8, 226}, {236, 0, 19, 197}, {222, 0, 33, 168},
                             {201, 0, 54, 138}, {170, 0, 85, 109}, {116, 0, 139, 80}, {0, 0, 255, 51}}},
      {"dxt1.dds", false, 1, {{255, 0, 0, 255}, {219, 0, 35, 255}, {183, 0, 71, 255}, {148, 0, 107, 255},
                              {107, 0, 148, 255}, {71, 0, 183, 255}, {35, 0, 219, 255}, {0, 0, 255, 255}}},
      {"dxt3.dds", true, 1, {{255, 0, 0, 255}, {244, 0, 11, 226}, {233, 0, 22, 202}, {222, 0, 33, 168},
                             {198, 0, 57, 138}, {198, 0, 57, 113}, {198, 0, 57, 75}, {198, 0, 57, 51}}},
      {"dxt5.dds", true, 1, {{255, 0, 0, 255}, {244, 0, 11, 226}, {233, 0, 22, 202}, {222, 0, 33, 168},
                             {198, 0, 57, 138}, {198, 0, 57, 113}, {198, 0, 57, 75}, {198, 0, 57, 51}}},
  };
  for (const dds_rows& f : files) {
    SCOPED_TRACE(f.name);
    const dx::image img = decode_ok(f.name);
    ASSERT_EQ(img.width, 8u);
    ASSERT_EQ(img.height, 8u);
    ASSERT_EQ(img.pixels.size(), 64u);
    EXPECT_EQ(img.has_alpha, f.alpha);
    for (std::size_t i = 0; i < 64; ++i) {
      const std::uint8_t* want = f.rows[i / 8];  // rows stored top first
      const std::uint32_t p = img.pixels[i];
      ASSERT_NEAR(channel(p, 16), want[0], f.tolerance) << "pixel " << i;
      ASSERT_NEAR(channel(p, 8), want[1], f.tolerance) << "pixel " << i;
      ASSERT_NEAR(channel(p, 0), want[2], f.tolerance) << "pixel " << i;
      ASSERT_EQ(channel(p, 24), want[3]) << "pixel " << i;
    }
  }
}

TEST(ImageFormats, TheCorpusTexturesDecode) {
  for (const char* name : {"top.tga", "bottom.tga", "updown.tga"}) {
    SCOPED_TRACE(name);
    dx::image img;
    std::wstring detail;
    ASSERT_TRUE(dx::decode_tga(read_file(std::string(XFILE_CORPUS_DIR) + "/" + name), img, detail));
    EXPECT_EQ(img.pixels.size(), static_cast<std::size_t>(img.width) * img.height);
    EXPECT_GT(img.width, 0u);
  }
}

TEST(ImageFormats, EveryFileCutShortIsRefusedWithAReason) {
  for (const char* const* names : {std::begin(tga_seeds), std::begin(dds_seeds)}) {
    const std::size_t count = names == std::begin(tga_seeds) ? std::size(tga_seeds) : std::size(dds_seeds);
    for (std::size_t n = 0; n < count; ++n) {
      const std::vector<unsigned char> whole = seed(names[n]);
      for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const std::vector<unsigned char> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        dx::image img;
        std::wstring detail;
        ASSERT_FALSE(decode(names[n], part, img, detail)) << names[n] << " cut at " << cut;
        ASSERT_FALSE(detail.empty()) << names[n] << " cut at " << cut;
      }
    }
  }
}

TEST(ImageFormats, ResamplingAveragesNeighboursAndKeepsEdges) {
  dx::image two;
  two.width = 2;
  two.height = 1;
  two.pixels = {0xFF000000u, 0xFFFFFFFFu};
  const dx::image wide = dx::resample_linear(two, 4, 1);
  ASSERT_EQ(wide.pixels.size(), 4u);
  // Target texel centres at 0.25, 0.75, 1.25 and 1.75 source texels, less the half texel.
  EXPECT_EQ(wide.pixels[0], 0xFF000000u);
  EXPECT_EQ(wide.pixels[1], 0xFF404040u);  // a quarter of the way: 63.75 rounds to 64
  EXPECT_EQ(wide.pixels[2], 0xFFBFBFBFu);  // three quarters: 191.25 rounds to 191
  EXPECT_EQ(wide.pixels[3], 0xFFFFFFFFu);
  // Halving a 2 x 2 image gives the mean of its four texels.
  dx::image square;
  square.width = square.height = 2;
  square.pixels = {0x00000000u, 0x40404040u, 0x80808080u, 0xC0C0C0C0u};
  EXPECT_EQ(dx::resample_linear(square, 1, 1).pixels, std::vector<std::uint32_t>{0x60606060u});
}

// A TGA or DDS header of the given size followed by `data` bytes of zeros.
std::vector<unsigned char> tga_header(std::uint8_t type, std::uint16_t width, std::uint16_t height, std::uint8_t depth,
                                      std::size_t data) {
  std::vector<unsigned char> b(18 + data, 0);
  b[2] = type;
  b[12] = static_cast<unsigned char>(width), b[13] = static_cast<unsigned char>(width >> 8);
  b[14] = static_cast<unsigned char>(height), b[15] = static_cast<unsigned char>(height >> 8);
  b[16] = depth;
  return b;
}

std::vector<unsigned char> dds_header(std::uint32_t width, std::uint32_t height, std::uint32_t format_flags,
                                      std::uint32_t fourcc_or_bits, std::size_t data) {
  std::vector<unsigned char> b(128 + data, 0);
  auto put = [&](std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
  std::memcpy(b.data(), "DDS ", 4);
  put(4, 124);
  put(12, height);
  put(16, width);
  put(76, 32);
  put(80, format_flags);
  if (format_flags & 0x4) put(84, fourcc_or_bits);
  else put(88, fourcc_or_bits), put(92, 0xFF0000), put(96, 0xFF00), put(100, 0xFF);
  return b;
}

TEST(ImageFormats, HeadersClaimingMoreThanTheFileHoldsAreRefusedBeforeAllocating) {
  // Found by fuzzing: a 142-byte run-length TGA claiming 8224 x 8224 texels made the reader
  // allocate two buffers of 270 MB before finding that its runs were missing.
  const std::vector<std::pair<std::vector<unsigned char>, std::wstring>> cases = {
      {tga_header(10, 8224, 8224, 32, 124), L"truncated TGA run"},
      {tga_header(11, 16384, 16384, 8, 4), L"truncated TGA run"},
      {tga_header(2, 16384, 16384, 24, 4), L"truncated TGA pixels"},
      {dds_header(16384, 16384, 0x4, 0x31545844, 8), L"truncated DDS blocks"},
      {dds_header(16384, 16384, 0x40, 32, 4), L"truncated DDS pixels"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    dx::image img;
    std::wstring detail;
    largest_allocation = 0;
    const std::vector<unsigned char>& bytes = cases[i].first;
    EXPECT_FALSE(bytes[0] == 'D' ? dx::decode_dds(bytes, img, detail) : dx::decode_tga(bytes, img, detail)) << i;
    EXPECT_EQ(detail, cases[i].second) << "case " << i;
    EXPECT_LT(largest_allocation, 65536u) << "case " << i;
  }
  // A run-length file whose runs do cover the image is still read: 128 texels per packet.
  std::vector<unsigned char> runs = tga_header(11, 256, 2, 8, 0);
  for (int packet = 0; packet < 4; ++packet) runs.insert(runs.end(), {0xFF, 0x80});
  dx::image img;
  std::wstring detail;
  ASSERT_TRUE(dx::decode_tga(runs, img, detail));
  EXPECT_EQ(img.pixels, std::vector<std::uint32_t>(512, 0xFF808080u));
}

TEST(ImageFormats, ResamplingAnEmptyImageGivesTransparentBlack) {
  // Found by fuzzing: a source without texels was read at index 0.
  for (const auto& [w, h] : {std::pair<std::uint32_t, std::uint32_t>{0, 0}, {0, 5}, {7, 0}}) {
    dx::image empty;
    empty.width = w;
    empty.height = h;
    empty.pixels.resize(static_cast<std::size_t>(w) * h);
    const dx::image out = dx::resample_linear(empty, 4, 3);
    EXPECT_EQ(out.width, 4u);
    EXPECT_EQ(out.height, 3u);
    EXPECT_TRUE(out.has_alpha);
    EXPECT_EQ(out.pixels, std::vector<std::uint32_t>(12, 0u));
  }
  // So is a source whose pixels do not fill its size.
  dx::image short_of_pixels;
  short_of_pixels.width = short_of_pixels.height = 4;
  short_of_pixels.pixels.assign(3, 0xFFFFFFFFu);
  EXPECT_EQ(dx::resample_linear(short_of_pixels, 2, 2).pixels, std::vector<std::uint32_t>(4, 0u));
}

}  // namespace
