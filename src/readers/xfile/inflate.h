// Decompression of the MSZIP body of compressed .x files ("tzip" and "bzip").
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace xfile {

// The most decompressed data a file may declare; larger files are refused rather than allocated.
inline constexpr std::size_t max_decompressed_size = 256u * 1024u * 1024u;

// Decompresses the part of a compressed .x file after its 16-byte header: a 32-bit total size
// (which counts the header) followed by MSZIP blocks. Returns the decompressed token stream;
// throws parse_error when the data is truncated, corrupt or not the size it declares.
std::vector<std::uint8_t> inflate_mszip(const std::uint8_t* data, std::size_t size);

}  // namespace xfile
