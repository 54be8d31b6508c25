// libFuzzer entry point for the DDS reader: any input gives a refusal with a reason or a whole image.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<unsigned char> bytes(data, data + size);
  dx::image img;
  std::wstring detail;
  const bool ok = dx::decode_dds(bytes, img, detail);
  image_fuzz::check_decoded(ok, img, detail);
  return 0;
}
