// Checks shared by the image fuzz targets: what every image a reader or the resampler returns
// must satisfy. A violation stops the fuzzer with a trap, which it reports as a crash.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dx/image_formats.h"

namespace image_fuzz {

// Traps unless the image has one pixel per texel and, when it claims no alpha, is opaque.
inline void check_image(const dx::image& img) {
  if (img.pixels.size() != static_cast<std::size_t>(img.width) * img.height) __builtin_trap();
  if (!img.has_alpha)
    for (std::uint32_t p : img.pixels)
      if ((p >> 24) != 0xFF) __builtin_trap();
}

// Traps unless a reader's result is a refusal with a reason or a checked image of a size the
// readers accept.
inline void check_decoded(bool ok, const dx::image& img, const std::wstring& detail) {
  if (!ok) {
    if (detail.empty()) __builtin_trap();  // every refusal must say why
    return;
  }
  if (img.width == 0 || img.height == 0 || img.width > dx::max_image_side || img.height > dx::max_image_side)
    __builtin_trap();
  check_image(img);
}

}  // namespace image_fuzz
