// Decoding of texture image files into 32-bit BGRA pixels: BMP, PNG, JPEG and GIF through the
// platform's Windows Imaging Component, TGA and DDS (uncompressed, DXT1/3/5) by our own readers.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dx {

struct image {
    UINT width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // 0xAARRGGBB, rows top to bottom
    bool has_alpha = false;
};

// Decodes bytes read from file (its name picks nothing: the content decides); false with
// detail set when the content is not an image this engine reads.
bool decode_image(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail);

// The image resampled to width x height with a linear (bilinear) filter.
image resample_linear(const image& in, UINT width, UINT height);

}  // namespace dx
