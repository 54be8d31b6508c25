// Tokens of the .x text and binary forms, delivered through one interface so that the object
// reader does not care which form a file uses.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "cursor.h"

namespace xfile {

// Converts a parsed number to float; values beyond the float range become infinities rather than
// the undefined result of a narrowing conversion.
inline float to_float(double v) {
  if (v != v) return std::numeric_limits<float>::quiet_NaN();
  if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

enum class token_kind {
  end,        // no bytes left
  name,       // identifier (object type, object name, template keyword in text files)
  string,     // quoted string; text holds the characters between the quotes
  integer,    // whole number; value and negative are set
  real,       // floating-point number; value is set
  guid,       // <...> in text, a 16-byte GUID in binary
  open_brace,
  close_brace,
  comma,
  semicolon,
  template_keyword,  // binary TOKEN_TEMPLATE
  other,      // punctuation and type keywords that only appear inside templates
};

struct token {
  token_kind kind = token_kind::end;
  std::string_view text;  // name or string characters; the raw word for numbers in text files
  double value = 0;       // numbers: the value (integers are exact up to 2^53)
  bool negative = false;  // integers: a leading minus sign
  std::size_t offset = 0; // where the token starts, as an offset in the (decompressed) file
};

// Splits a .x body (everything after the 16-byte header, decompressed) into tokens.
class lexer {
 public:
  // binary selects the token format; float_bits (32 or 64) sizes binary float lists; base is
  // the offset of data's first byte in the file, for messages.
  lexer(const std::uint8_t* data, std::size_t size, bool binary, int float_bits, std::size_t base);

  // Consumes and returns the next token.
  token next();
  // Consumes ',' and ';' tokens and returns the next token of any other kind.
  token next_value();
  // Consumes the tokens up to and including the '}' that closes a block whose '{' has been
  // consumed, and returns that brace; returns the end token when the data ends first. Tokens are
  // checked as next() checks them, but words are not classified and binary lists not decoded.
  token skip_block();
  // A number as next() would give it.
  struct number {
    double value = 0;
    bool integer = false;   // an integer token; otherwise a real
    bool negative = false;  // integers: a leading minus sign on a non-zero value
  };
  // The quick path of the value loops: when the next token after any separators is a number in
  // one of the common forms (or an element of a binary list), consumes it and returns true with
  // what next_value() would have given. Otherwise returns false, leaving the token to
  // next_value(), which decides, and describes it in a message where needed.
  bool next_plain_number(number& n) {
    if (has_peeked_) return false;
    if (list_left_ > 0) {
      --list_left_;
      n.integer = !list_is_float_;
      n.negative = false;
      if (!list_is_float_) n.value = static_cast<double>(in_.u32("integer list"));
      else if (float_bits_ == 64) n.value = in_.f64("float list");
      else n.value = static_cast<double>(in_.f32("float list"));
      return true;
    }
    return !binary_ && next_text_number(n);
  }
  // As next_plain_number, for a whole number from 0 to 2^32 - 1 only.
  bool next_dword(std::uint32_t& value) {
    if (has_peeked_) return false;
    if (list_left_ > 0) {
      if (list_is_float_) return false;
      --list_left_;
      value = in_.u32("integer list");
      return true;
    }
    return !binary_ && next_text_dword(value);
  }
  // When the next values are elements of a binary float list, consumes up to n of them and
  // returns a pointer to their bytes, with their number in count; otherwise returns nullptr. The
  // bytes decode with float_element().
  const std::uint8_t* take_float_elements(std::size_t n, std::size_t& count) {
    if (has_peeked_ || list_left_ == 0 || !list_is_float_) return nullptr;
    count = n < list_left_ ? n : list_left_;
    list_left_ -= static_cast<std::uint32_t>(count);
    return in_.take(count * static_cast<std::size_t>(float_bits_ / 8), "float list");
  }
  // Returns element i of bytes from take_float_elements().
  double float_element(const std::uint8_t* elements, std::size_t i) const {
    return float_bits_ == 64 ? cursor::le_f64(elements + 8 * i) : static_cast<double>(cursor::le_f32(elements + 4 * i));
  }
  // In the text form, reads up to n numbers in the common forms (as next_plain_number reads
  // them) straight into out as floats (to_float), and returns how many it read; it stops at the
  // first token that is anything else, leaving it to the token reader. Returns 0 in the binary
  // form and after a peek.
  std::size_t take_text_floats(float* out, std::size_t n);
  // Reads up to n whole numbers below limit, as next_dword reads them, into out, and returns how
  // many it read: text in the common form and elements of a binary integer list. Stops at the
  // first value that is anything else or not below limit, leaving it to next_dword.
  std::size_t take_dwords(std::uint32_t* out, std::size_t n, std::uint32_t limit);
  // Returns the next token without consuming it.
  const token& peek();
  // Returns the bytes not yet consumed, counting any peeked token as unconsumed.
  std::size_t remaining() const;
  // Returns the fewest bytes one number can occupy, for checking counts against remaining().
  std::size_t min_number_bytes() const { return binary_ ? 4 : 1; }
  // Returns true for the binary form.
  bool binary() const { return binary_; }
  // Describes a token for an error message ("'}'", "name 'Mesh'", "end of file").
  static std::string describe(const token& t);
  // Throws a parse_error whose message ends with the token's position.
  [[noreturn]] void fail(const std::string& message, const token& t) const;

 private:
  token read_text();
  token read_binary();
  token read_word(std::size_t start);
  // The text form's part of next_plain_number and next_dword.
  bool next_text_number(number& n);
  bool next_text_dword(std::uint32_t& value);
  // Consumes blanks and comments of the text form.
  void skip_blanks();
  // Returns the length of the run of name characters at the read position.
  std::size_t word_length() const;

  cursor in_;
  bool binary_;
  int float_bits_;
  std::size_t base_;
  // Elements still to deliver from the current binary integer or float list.
  std::uint32_t list_left_ = 0;
  bool list_is_float_ = false;
  bool has_peeked_ = false;
  token peeked_;
  std::size_t peeked_remaining_ = 0;
};

}  // namespace xfile
