// Decoding of texture image files into 32-bit BGRA pixels: BMP, PNG, JPEG and GIF through the
// platform's Windows Imaging Component, TGA and DDS (uncompressed, DXT1/3/5) by our own readers
// (image_formats.h, which also has the resampler).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dx/image_formats.h"

namespace dx {

// Decodes bytes read from file (its name picks nothing: the content decides); false with
// detail set when the content is not an image this engine reads.
bool decode_image(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail);

}  // namespace dx
