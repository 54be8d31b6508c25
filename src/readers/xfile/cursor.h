// A bounds-checked reader over a byte range, and the one error type of the .x parser.
// Every read checks the bytes left first, so no input can make a reader step outside its buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace xfile {

// A malformed, truncated or unsupported file; the message says what was wrong and where.
class parse_error : public std::runtime_error {
 public:
  explicit parse_error(const std::string& message) : std::runtime_error(message) {}
};

// Reads little-endian values from [data, data + size); offsets are reported relative to `base`,
// so that messages name positions in the file rather than in a sub-range of it.
class cursor {
 public:
  // Wraps size bytes at data; the first byte has offset base in error messages.
  cursor(const std::uint8_t* data, std::size_t size, std::size_t base = 0)
      : data_(data), size_(size), base_(base) {}

  // Returns the number of bytes not yet read.
  std::size_t remaining() const { return size_ - pos_; }
  // Returns true when every byte has been read.
  bool at_end() const { return pos_ == size_; }
  // Returns the position of the next byte, as an offset in the file.
  std::size_t offset() const { return base_ + pos_; }
  // Returns the next byte without consuming it; the caller checks at_end() first.
  std::uint8_t peek(std::size_t ahead = 0) const { return pos_ + ahead < size_ ? data_[pos_ + ahead] : 0; }
  // Returns a pointer to the next byte.
  const std::uint8_t* here() const { return data_ + pos_; }

  // Throws unless at least n bytes are left; `what` names the item being read.
  void need(std::size_t n, const char* what) const {
    if (n > remaining()) truncated(n, what);
  }
  // Consumes n bytes and returns a pointer to the first of them.
  const std::uint8_t* take(std::size_t n, const char* what) {
    need(n, what);
    const std::uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  // Consumes one byte.
  std::uint8_t u8(const char* what) { return *take(1, what); }
  // Consumes a little-endian 16-bit unsigned integer.
  std::uint16_t u16(const char* what) {
    const std::uint8_t* p = take(2, what);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  // Consumes a little-endian 32-bit unsigned integer.
  std::uint32_t u32(const char* what) { return le32(take(4, what)); }
  // Consumes a little-endian IEEE single.
  float f32(const char* what) { return le_f32(take(4, what)); }
  // Consumes a little-endian IEEE double.
  double f64(const char* what) { return le_f64(take(8, what)); }

  // Decode values from bytes already taken.
  static std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  static float le_f32(const std::uint8_t* p) {
    const std::uint32_t bits = le32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  static double le_f64(const std::uint8_t* p) {
    const std::uint64_t bits = le32(p) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  // Throws the error of need(); kept out of line so that need() stays small enough to inline.
  [[noreturn]] __attribute__((noinline, cold)) void truncated(std::size_t n, const char* what) const {
    throw parse_error(std::string("truncated ") + what + ": needs " + std::to_string(n) + " bytes at byte " +
                      std::to_string(offset()) + ", " + std::to_string(remaining()) + " left");
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t base_;
  std::size_t pos_ = 0;
};

}  // namespace xfile
