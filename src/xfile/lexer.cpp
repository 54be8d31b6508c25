#include "lexer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace xfile {
namespace {

// Token codes of the binary form.
enum : std::uint16_t {
  bin_name = 1,
  bin_string = 2,
  bin_integer = 3,
  bin_guid = 5,
  bin_integer_list = 6,
  bin_float_list = 7,
  bin_open_brace = 10,
  bin_close_brace = 11,
  bin_comma = 19,
  bin_semicolon = 20,
  bin_template = 31,
};

// Returns true for the bytes the text form treats as blanks (NUL included, as the platform does).
bool is_blank(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == 0;
}

// Returns true for bytes that may form names and numbers; bytes above 0x7f are allowed because
// exporters write names in local code pages.
bool is_word_char(std::uint8_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '+' || c == '.' || c >= 0x80;
}

// Returns true for a well-formed GUID body: 8-4-4-4-12 hexadecimal digits.
bool is_guid_text(std::string_view s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Returns true when every byte of [p, p + n) is zero.
bool all_zero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

// Returns true when [p, p + n) starts with the DOS end-of-file mark (0x1a) and holds nothing but
// more of them and blanks: old tools end text files so, or pad them to a record size with it.
bool is_end_of_file_mark(const std::uint8_t* p, std::size_t n) {
  return n > 0 && p[0] == 0x1a && std::all_of(p, p + n, [](std::uint8_t b) { return b == 0x1a || is_blank(b); });
}

}  // namespace

lexer::lexer(const std::uint8_t* data, std::size_t size, bool binary, int float_bits, std::size_t base)
    : in_(data, size, base), binary_(binary), float_bits_(float_bits), base_(base) {}

token lexer::next() {
  if (has_peeked_) {
    has_peeked_ = false;
    return peeked_;
  }
  return binary_ ? read_binary() : read_text();
}

const token& lexer::peek() {
  if (!has_peeked_) {
    peeked_remaining_ = in_.remaining();
    peeked_ = binary_ ? read_binary() : read_text();
    has_peeked_ = true;
  }
  return peeked_;
}

std::size_t lexer::remaining() const { return has_peeked_ ? peeked_remaining_ : in_.remaining(); }

std::string lexer::describe(const token& t) {
  switch (t.kind) {
    case token_kind::end: return "end of file";
    case token_kind::name: return "name '" + std::string(t.text.substr(0, 64)) + "'";
    case token_kind::string: return "string \"" + std::string(t.text.substr(0, 64)) + "\"";
    case token_kind::integer:
    case token_kind::real: {
      if (!t.text.empty()) return "number " + std::string(t.text.substr(0, 64));
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "number %g", t.value);
      return buffer;
    }
    case token_kind::guid: return "GUID";
    case token_kind::open_brace: return "'{'";
    case token_kind::close_brace: return "'}'";
    case token_kind::comma: return "','";
    case token_kind::semicolon: return "';'";
    case token_kind::template_keyword: return "template";
    case token_kind::other: return "punctuation or type keyword";
  }
  return "token";
}

void lexer::fail(const std::string& message, const token& t) const {
  throw parse_error(message + " (at byte " + std::to_string(t.offset) + ")");
}

// Reads one word (a run of name characters) and classifies it as an integer, a real or a name.
token lexer::read_word(std::size_t start) {
  const std::uint8_t* begin = in_.here();
  std::size_t length = 0;
  while (length < in_.remaining() && is_word_char(in_.peek(length))) ++length;
  in_.take(length, "word");
  token t;
  t.offset = start;
  t.text = std::string_view(reinterpret_cast<const char*>(begin), length);
  std::string_view digits = t.text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  const char first = t.text[0];
  if (!(first == '-' || first == '+' || first == '.' || (first >= '0' && first <= '9'))) {
    t.kind = token_kind::name;
    return t;
  }
  bool all_digits = !digits.empty();
  for (char c : digits) all_digits = all_digits && c >= '0' && c <= '9';
  if (all_digits) {
    // Whole numbers saturate well above 2^32, which is enough for every range check made on them.
    double value = 0;
    for (char c : digits) value = value < 1e18 ? value * 10 + (c - '0') : value;
    t.kind = token_kind::integer;
    t.value = negative ? -value : value;
    t.negative = negative && value != 0;
    return t;
  }
  double value = 0;
  const char* text_begin = digits.data();
  const char* text_end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(text_begin, text_end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // A literal beyond the double range is still a number; keep it finite rather than refuse it.
    value = 0;
    ec = std::errc();
    ptr = text_end;
  }
  if (ec != std::errc() || ptr != text_end || digits.empty()) {
    t.kind = token_kind::name;  // words such as "1a" or "-" are names, as the platform reads them
    return t;
  }
  t.kind = token_kind::real;
  t.value = negative ? -value : value;
  return t;
}

token lexer::read_text() {
  for (;;) {
    token t;
    t.offset = in_.offset();
    if (in_.at_end()) return t;
    const std::uint8_t c = in_.peek();
    if (is_blank(c)) {
      in_.take(1, "blank");
      continue;
    }
    if (c == '#' || (c == '/' && in_.peek(1) == '/')) {
      while (!in_.at_end() && in_.peek() != '\n') in_.take(1, "comment");
      continue;
    }
    switch (c) {
      case '{': in_.take(1, "brace"); t.kind = token_kind::open_brace; return t;
      case '}': in_.take(1, "brace"); t.kind = token_kind::close_brace; return t;
      case ',': in_.take(1, "comma"); t.kind = token_kind::comma; return t;
      case ';': in_.take(1, "semicolon"); t.kind = token_kind::semicolon; return t;
      case '[': case ']': case '(': case ')': in_.take(1, "bracket"); t.kind = token_kind::other; return t;
      case '"': {
        in_.take(1, "string");
        std::size_t length = 0;
        while (length < in_.remaining() && in_.peek(length) != '"') ++length;
        if (length == in_.remaining()) fail("unterminated string", t);
        t.text = std::string_view(reinterpret_cast<const char*>(in_.take(length, "string")), length);
        in_.take(1, "string");
        t.kind = token_kind::string;
        return t;
      }
      case '<': {
        in_.take(1, "GUID");
        std::size_t length = 0;
        while (length < in_.remaining() && length <= 36 && in_.peek(length) != '>') ++length;
        std::string_view body(reinterpret_cast<const char*>(in_.here()), length);
        if (length > 36 || length == in_.remaining() || !is_guid_text(body)) fail("malformed GUID", t);
        in_.take(length + 1, "GUID");
        t.kind = token_kind::guid;
        return t;
      }
      default: break;
    }
    if (is_word_char(c)) return read_word(t.offset);
    if (is_end_of_file_mark(in_.here(), in_.remaining())) {
      in_.take(in_.remaining(), "end of file mark");
      return t;
    }
    char buffer[48];
    if (c >= 0x20 && c < 0x7f)
      std::snprintf(buffer, sizeof buffer, "unexpected character '%c'", c);
    else
      std::snprintf(buffer, sizeof buffer, "unexpected byte 0x%02x", c);
    fail(buffer, t);
  }
}

token lexer::read_binary() {
  for (;;) {
    token t;
    t.offset = in_.offset();
    if (list_left_ > 0) {
      --list_left_;
      if (list_is_float_) {
        t.kind = token_kind::real;
        t.value = float_bits_ == 64 ? in_.f64("float list") : static_cast<double>(in_.f32("float list"));
      } else {
        t.kind = token_kind::integer;
        t.value = static_cast<double>(in_.u32("integer list"));
      }
      return t;
    }
    if (in_.at_end()) return t;
    // No token starts with a zero byte, so zeros here can only be padding after the data (files
    // written from a buffer larger than their content); they end the data like the end of file.
    // Zeros followed by anything else are refused below as an unknown token.
    if (in_.peek() == 0 && all_zero(in_.here(), in_.remaining())) {
      in_.take(in_.remaining(), "padding");
      return t;
    }
    const std::uint16_t code = in_.u16("token");
    switch (code) {
      case bin_name:
      case bin_string: {
        const std::uint32_t count = in_.u32(code == bin_name ? "name length" : "string length");
        t.text = std::string_view(reinterpret_cast<const char*>(in_.take(count, code == bin_name ? "name" : "string")), count);
        if (code == bin_string) {
          in_.u16("string terminator");  // a ',' or ';' token; its value does not matter
          t.kind = token_kind::string;
          // Writers may count a trailing NUL; it is no part of the name.
          while (!t.text.empty() && t.text.back() == '\0') t.text.remove_suffix(1);
        } else {
          t.kind = token_kind::name;
        }
        return t;
      }
      case bin_integer:
        t.kind = token_kind::integer;
        t.value = static_cast<double>(in_.u32("integer"));
        return t;
      case bin_guid:
        in_.take(16, "GUID");
        t.kind = token_kind::guid;
        return t;
      case bin_integer_list:
      case bin_float_list: {
        const std::uint32_t count = in_.u32("list length");
        const std::uint64_t element = code == bin_float_list ? static_cast<std::uint64_t>(float_bits_ / 8) : 4u;
        // Checked here so that a huge count fails at once instead of at the end of the data.
        in_.need(static_cast<std::size_t>(std::min<std::uint64_t>(count * element, SIZE_MAX)),
                 code == bin_float_list ? "float list" : "integer list");
        list_left_ = count;
        list_is_float_ = code == bin_float_list;
        continue;  // an empty list yields nothing; go on to the token after it
      }
      case bin_open_brace: t.kind = token_kind::open_brace; return t;
      case bin_close_brace: t.kind = token_kind::close_brace; return t;
      case bin_comma: t.kind = token_kind::comma; return t;
      case bin_semicolon: t.kind = token_kind::semicolon; return t;
      case bin_template: t.kind = token_kind::template_keyword; return t;
      default:
        // Remaining punctuation (12-18) and the type keywords of template bodies (40-53).
        if ((code >= 12 && code <= 18) || (code >= 40 && code <= 53)) {
          t.kind = token_kind::other;
          return t;
        }
        fail("unknown binary token " + std::to_string(code), t);
    }
  }
}

}  // namespace xfile
