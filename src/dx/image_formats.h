// Image pixels and the parts of image reading that need nothing from the platform: the TGA and
// DDS readers and the bilinear resampler. Plain C++, so that they are also built natively and
// fuzzed there.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace dx {

struct image {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // 0xAARRGGBB, rows top to bottom
    bool has_alpha = false;
};

// Images wider or taller than this are refused by every reader.
constexpr std::uint32_t max_image_side = 16384;

// Decodes an uncompressed or run-length TGA file (true colour 24/32-bit or 8-bit grey); false
// with detail set when the bytes are not such a file or are cut short.
bool decode_tga(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail);

// Decodes a DDS file (24/32-bit RGB with masks, or DXT1/3/5 blocks); its first level only. False
// with detail set when the bytes are not such a file or are cut short.
bool decode_dds(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail);

// The image resampled to width x height with a linear (bilinear) filter.
image resample_linear(const image& in, std::uint32_t width, std::uint32_t height);

}  // namespace dx
