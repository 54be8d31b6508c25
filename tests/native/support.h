// Shared helpers of the native parser tests: corpus files, parsing with a readable failure, and
// builders for binary and compressed documents.
#pragma once
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xfile.h"

namespace xfile_test {

// Returns the bytes of a file of the test corpus; fails the test if it cannot be read.
inline std::vector<std::uint8_t> corpus_file(const std::string& name) {
  std::ifstream in(std::string(XFILE_CORPUS_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open corpus file " << name << " in " << XFILE_CORPUS_DIR;
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Returns the bytes of a string, for documents written inline.
inline std::vector<std::uint8_t> bytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// Parses data; reports the parser's message as a test failure when it refuses the data.
inline xfile::mesh parse_ok(const std::vector<std::uint8_t>& data) {
  xfile::mesh m;
  std::string error;
  EXPECT_TRUE(xfile::parse(data.data(), data.size(), m, error)) << error;
  return m;
}

// Parses data that must be refused and returns the message.
inline std::string parse_error(const std::vector<std::uint8_t>& data) {
  xfile::mesh m;
  std::string error;
  EXPECT_FALSE(xfile::parse(data.data(), data.size(), m, error)) << "accepted a malformed document";
  EXPECT_FALSE(error.empty());
  return error;
}

// Builds a document in the binary token format.
class binary_doc {
 public:
  explicit binary_doc(const char* header = "xof 0303bin 0032") { data_.assign(header, header + 16); }
  binary_doc& token(std::uint16_t t) { return u16(t); }
  binary_doc& name(const std::string& s) {
    token(1).u32(static_cast<std::uint32_t>(s.size()));
    data_.insert(data_.end(), s.begin(), s.end());
    return *this;
  }
  binary_doc& string(const std::string& s) {
    token(2).u32(static_cast<std::uint32_t>(s.size()));
    data_.insert(data_.end(), s.begin(), s.end());
    return token(20);
  }
  binary_doc& open() { return token(10); }
  binary_doc& close() { return token(11); }
  binary_doc& ints(const std::vector<std::uint32_t>& v) {
    token(6).u32(static_cast<std::uint32_t>(v.size()));
    for (auto x : v) u32(x);
    return *this;
  }
  binary_doc& floats(const std::vector<float>& v) {
    token(7).u32(static_cast<std::uint32_t>(v.size()));
    for (float f : v) {
      std::uint32_t b;
      std::memcpy(&b, &f, 4);
      u32(b);
    }
    return *this;
  }
  binary_doc& doubles(const std::vector<double>& v) {
    token(7).u32(static_cast<std::uint32_t>(v.size()));
    for (double d : v) {
      std::uint64_t b;
      std::memcpy(&b, &d, 8);
      u32(static_cast<std::uint32_t>(b)).u32(static_cast<std::uint32_t>(b >> 32));
    }
    return *this;
  }
  binary_doc& u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  binary_doc& u16(std::uint16_t v) {
    data_.push_back(static_cast<std::uint8_t>(v));
    data_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  const std::vector<std::uint8_t>& data() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
};

// Compresses the body of an uncompressed document (after its 16-byte header) into MSZIP blocks
// of at most block_size bytes, each using the previous output as its dictionary, and puts the
// given 16-byte header in front.
inline std::vector<std::uint8_t> mszip(const std::vector<std::uint8_t>& plain, const char* header,
                                       std::size_t block_size = 32768) {
  std::vector<std::uint8_t> out(header, header + 16);
  const std::uint32_t total = static_cast<std::uint32_t>(plain.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(total >> (8 * i)));
  for (std::size_t at = 16; at < plain.size(); at += block_size) {
    const std::size_t n = std::min(block_size, plain.size() - at);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    const std::size_t dict = std::min<std::size_t>(at - 16, 32768);
    if (dict) deflateSetDictionary(&z, plain.data() + at - dict, static_cast<uInt>(dict));
    std::vector<std::uint8_t> packed(deflateBound(&z, static_cast<uLong>(n)) + 16);
    z.next_in = const_cast<Bytef*>(plain.data() + at);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    const std::size_t with_ck = packed.size() + 2;
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(with_ck));
    out.push_back(static_cast<std::uint8_t>(with_ck >> 8));
    out.push_back('C');
    out.push_back('K');
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

}  // namespace xfile_test
