// Our texture image readers and the resampling that brings every texture to 128 x 128.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "dx/image.h"

namespace {

std::vector<unsigned char> corpus_file(const char* name) {
    const char* folder = getenv("XFILES");
    std::string path = std::string("Z:") + (folder ? folder : "") + "/" + name;
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Images, ATgaFromTheCorpusDecodesAndResamples) {
    auto bytes = corpus_file("top.tga");
    if (bytes.empty()) GTEST_SKIP() << "XFILES does not name the corpus folder";
    dx::image img;
    std::wstring why;
    ASSERT_TRUE(dx::decode_image(bytes, img, why));
    EXPECT_EQ(256u, img.width);
    EXPECT_EQ(256u, img.height);
    EXPECT_FALSE(img.has_alpha);
    EXPECT_EQ(0xFF000000u, img.pixels[0] & 0xFF000000u);
    auto small = dx::resample_linear(img, 128, 128);
    EXPECT_EQ(128u * 128u, small.pixels.size());
}

TEST(Images, PngThroughTheImagingComponent) {
    auto bytes = corpus_file("test.png");
    if (bytes.empty()) GTEST_SKIP() << "XFILES does not name the corpus folder";
    dx::image img;
    std::wstring why;
    ASSERT_TRUE(dx::decode_image(bytes, img, why));
    EXPECT_EQ(512u, img.width);
    EXPECT_EQ(512u, img.height);
    EXPECT_FALSE(img.has_alpha);  // an RGB file
}

// A 4 x 4 DXT file of one block, from its header fields.
std::vector<unsigned char> dds(std::uint32_t fourcc, const std::vector<unsigned char>& block) {
    std::vector<unsigned char> b(128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    auto put = [&](size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
    put(4, 124);
    put(12, 4);       // height
    put(16, 4);       // width
    put(76, 32);      // pixel format size
    put(80, 0x4);     // FOURCC
    put(84, fourcc);
    b.insert(b.end(), block.begin(), block.end());
    return b;
}

TEST(Images, Dxt1BlocksDecodeToTheirEndpointColours) {
    // Colour 0 pure red (0xF800), colour 1 pure blue (0x001F); indices: row 0 all 0, row 1 all 1.
    auto bytes = dds(0x31545844, {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0x00, 0x00});
    dx::image img;
    std::wstring why;
    ASSERT_TRUE(dx::decode_image(bytes, img, why)) << std::string(why.begin(), why.end());
    EXPECT_EQ(0xFFFF0000u, img.pixels[0]);
    EXPECT_EQ(0xFF0000FFu, img.pixels[4]);
    EXPECT_FALSE(img.has_alpha);
}

TEST(Images, Dxt5KeepsItsAlpha) {
    // Alpha endpoints 255 and 0, all codes 1 (alpha 0); colour block all colour 0 (white).
    auto bytes = dds(0x35545844, {255, 0, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0});
    dx::image img;
    std::wstring why;
    ASSERT_TRUE(dx::decode_image(bytes, img, why));
    EXPECT_TRUE(img.has_alpha);
    EXPECT_EQ(0x00FFFFFFu, img.pixels[0]);
}

TEST(Images, MalformedFilesAreRefusedWithAReason) {
    const std::vector<std::vector<unsigned char>> bad = {
        {},                                                     // empty
        {'D', 'D', 'S', ' ', 1, 2, 3},                          // truncated DDS header
        dds(0x31545844, {0x00, 0xF8}),                          // truncated DXT block
        dds(0x12345678, {0, 0, 0, 0, 0, 0, 0, 0}),              // unknown compression
        {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0x10, 0, 24, 0},  // TGA header, no pixels
        {0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 8, 0},  // colour-mapped TGA
        {0x89, 'P', 'N', 'G', 0, 0},                            // PNG magic, nothing behind it
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        dx::image img;
        std::wstring why;
        EXPECT_FALSE(dx::decode_image(bad[i], img, why)) << "case " << i;
        EXPECT_FALSE(why.empty()) << "case " << i;
    }
}

TEST(Images, ResamplingKeepsAFlatColourAndBlendsNeighbours) {
    dx::image two;
    two.width = 2;
    two.height = 1;
    two.pixels = {0xFF000000u, 0xFFFFFFFFu};
    auto wide = dx::resample_linear(two, 4, 1);
    EXPECT_EQ(0xFF000000u, wide.pixels[0]);
    EXPECT_EQ(0xFFFFFFFFu, wide.pixels[3]);
    EXPECT_GT(wide.pixels[1] & 0xFF, 0u);
    EXPECT_LT(wide.pixels[1] & 0xFF, 255u);
    dx::image flat;
    flat.width = flat.height = 3;
    flat.pixels.assign(9, 0x80402010u);
    for (auto p : dx::resample_linear(flat, 128, 128).pixels) ASSERT_EQ(0x80402010u, p);
}

}  // namespace
