#include "inflate.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "cursor.h"

namespace xfile {
namespace {

// Deflate looks back at most this far, so this much earlier output is enough as a dictionary.
constexpr std::size_t window_size = 32768;

// Frees a zlib stream however the block decoder leaves.
struct inflate_stream {
  z_stream z{};
  bool open = false;
  ~inflate_stream() {
    if (open) inflateEnd(&z);
  }
};

// Inflates one raw deflate block of `packed` bytes into exactly `unpacked` bytes appended to out,
// with the output so far as the dictionary, as MSZIP chains its blocks.
void inflate_block(const std::uint8_t* packed, std::size_t packed_size, std::size_t unpacked,
                   std::vector<std::uint8_t>& out, std::size_t block_offset) {
  const std::string where = " in the compressed block at byte " + std::to_string(block_offset);
  inflate_stream s;
  if (inflateInit2(&s.z, -MAX_WBITS) != Z_OK) throw parse_error("cannot start the decompressor" + where);
  s.open = true;
  if (!out.empty()) {
    std::size_t dictionary = std::min(out.size(), window_size);
    if (inflateSetDictionary(&s.z, out.data() + out.size() - dictionary, static_cast<uInt>(dictionary)) != Z_OK)
      throw parse_error("cannot set the decompression dictionary" + where);
  }
  const std::size_t start = out.size();
  out.resize(start + unpacked);
  s.z.next_in = const_cast<Bytef*>(packed);
  s.z.avail_in = static_cast<uInt>(packed_size);
  s.z.next_out = out.data() + start;
  s.z.avail_out = static_cast<uInt>(unpacked);
  int rc = inflate(&s.z, Z_FINISH);
  if (rc != Z_STREAM_END) {
    // Z_BUF_ERROR with no output room left means the block holds more than it declares.
    if (rc == Z_BUF_ERROR && s.z.avail_out == 0) throw parse_error("compressed block larger than declared" + where);
    if (rc == Z_BUF_ERROR) throw parse_error("compressed block ends early" + where);
    throw parse_error(std::string("corrupt compressed data (") + (s.z.msg ? s.z.msg : "zlib error") + ")" + where);
  }
  if (s.z.avail_out != 0) throw parse_error("compressed block smaller than declared" + where);
}

}  // namespace

std::vector<std::uint8_t> inflate_mszip(const std::uint8_t* data, std::size_t size) {
  cursor in(data, size, 16);
  const std::uint32_t total = in.u32("compressed file size");
  if (total < 16) throw parse_error("compressed file declares " + std::to_string(total) + " bytes, less than its header");
  const std::size_t expected = total - 16u;
  if (expected > max_decompressed_size)
    throw parse_error("compressed file declares " + std::to_string(total) + " bytes, more than the " +
                      std::to_string(max_decompressed_size) + " accepted");
  std::vector<std::uint8_t> out;
  // The declared size is only trusted as a cap; the buffer grows with what really decompresses.
  while (!in.at_end()) {
    // Zero bytes after the last block, once the declared size is complete, are padding.
    if (out.size() == expected &&
        std::all_of(in.here(), in.here() + in.remaining(), [](std::uint8_t b) { return b == 0; }))
      break;
    const std::size_t block_offset = in.offset();
    const std::uint16_t unpacked = in.u16("compressed block header");
    const std::uint16_t packed = in.u16("compressed block header");
    if (packed < 2) throw parse_error("compressed block at byte " + std::to_string(block_offset) + " is too short");
    const std::uint8_t* body = in.take(packed, "compressed block");
    if (body[0] != 'C' || body[1] != 'K')
      throw parse_error("compressed block at byte " + std::to_string(block_offset) + " lacks its \"CK\" signature");
    if (unpacked > expected - out.size())
      throw parse_error("compressed blocks hold more than the declared " + std::to_string(total) + " bytes");
    inflate_block(body + 2, packed - 2u, unpacked, out, block_offset);
  }
  if (out.size() != expected)
    throw parse_error("compressed data holds " + std::to_string(out.size() + 16) + " bytes, header declares " +
                      std::to_string(total));
  return out;
}

}  // namespace xfile
