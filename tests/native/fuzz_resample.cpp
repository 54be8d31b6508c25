// libFuzzer entry point for the bilinear resampler. The input's first four bytes give the source
// width and height and the target width and height, each 0 to 15 (the low four bits): the edges,
// the ratios and the rounding that go wrong all show at small sizes, and small images keep each
// execution short enough for tens of millions of them. The rest, repeated, fills the source pixels.
// Every target pixel is a weighted mean of source pixels, so each of its channels must lie
// between the smallest and largest value of that channel in the source; a source without
// texels gives transparent black.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  dx::image in;
  in.width = data[0] & 15u;
  in.height = data[1] & 15u;
  const std::uint32_t width = data[2] & 15u, height = data[3] & 15u;
  in.has_alpha = (data[0] ^ data[3]) & 1;
  in.pixels.resize(static_cast<std::size_t>(in.width) * in.height);
  const std::uint8_t* fill = data + 4;
  const std::size_t fill_size = size - 4;
  std::uint32_t low[4] = {255, 255, 255, 255}, high[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < in.pixels.size(); ++i) {
    std::uint32_t p = 0;
    for (std::size_t k = 0; k < 4 && fill_size > 0; ++k) p |= static_cast<std::uint32_t>(fill[(4 * i + k) % fill_size]) << (8 * k);
    if (!in.has_alpha) p |= 0xFF000000u;
    in.pixels[i] = p;
    for (int c = 0; c < 4; ++c) {
      low[c] = std::min(low[c], (p >> (8 * c)) & 255);
      high[c] = std::max(high[c], (p >> (8 * c)) & 255);
    }
  }
  const dx::image out = dx::resample_linear(in, width, height);
  if (out.width != width || out.height != height) __builtin_trap();
  image_fuzz::check_image(out);
  if (in.pixels.empty()) {
    // Nothing to sample: transparent black.
    if (!out.has_alpha || std::any_of(out.pixels.begin(), out.pixels.end(), [](std::uint32_t p) { return p != 0; }))
      __builtin_trap();
    return 0;
  }
  if (out.has_alpha != in.has_alpha) __builtin_trap();
  for (std::uint32_t p : out.pixels)
    for (int c = 0; c < 4; ++c) {
      const std::uint32_t v = (p >> (8 * c)) & 255;
      if (v < low[c] || v > high[c]) __builtin_trap();
    }
  return 0;
}
