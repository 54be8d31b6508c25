#include "lexer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

// Character classes of the text form, looked up once per byte in the loops that scan runs.
enum : std::uint8_t { blank_class = 1, word_class = 2, separator_class = 4 };

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    // Blanks: NUL included, as the platform does.
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == 0) classes[c] |= blank_class;
    // Bytes that may form names and numbers; bytes above 0x7f are allowed because exporters
    // write names in local code pages.
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
        c == '+' || c == '.' || c >= 0x80)
      classes[c] |= word_class;
    if (c == ',' || c == ';') classes[c] |= separator_class;
  }
  return classes;
}
constexpr std::array<std::uint8_t, 256> classes = make_classes();

bool is_blank(std::uint8_t c) { return classes[c] & blank_class; }
bool is_word_char(std::uint8_t c) { return classes[c] & word_class; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that a double holds exactly.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Appends the run of digits at p (up to end) to mantissa: leading zeros of a still zero mantissa
// are passed over without counting as significant. Returns false when the run would make more
// than 19 significant digits (more than 64 bits can always hold).
inline __attribute__((always_inline)) bool read_digits(const char*& p, const char* end, std::uint64_t& mantissa,
                                                       int& significant) {
  if (mantissa == 0)
    while (p != end && *p == '0') ++p;
  const char* const first = p;
  while (p != end && is_digit(*p)) ++p;
  significant += static_cast<int>(p - first);
  if (significant > 19) return false;
  std::uint64_t m = mantissa;
  for (const char* q = first; q != p; ++q) m = m * 10 + static_cast<std::uint64_t>(*q - '0');
  mantissa = m;
  return true;
}

// Reads the common number forms at [begin, end) and gives what read_word makes of them: an
// optional sign, then either digits alone, with at most 15 significant (an integer, exact), or
// digits with a point and/or an exponent ("12.5", ".5", "5.", "-1e-3", "2.5E+04") whose value
// is one multiplication or division of two doubles that hold their operands exactly. That single
// rounding is the correct one, so the result is the very double std::from_chars gives. Returns
// the number of bytes read, or 0 for every other form (more digits, larger exponents, a second
// sign, "inf"...), which is left to the general path; the caller checks what follows.
std::size_t scan_number(const char* begin, const char* end, lexer::number& out) {
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
  // Arithmetic in wider registers (x87) would round twice: leave every number to from_chars.
  (void)begin, (void)end, (void)out;
  return 0;
#else
  const char* p = begin;
  bool negative = false;
  if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  int significant = 0;  // digits in mantissa, leading zeros not counted
  int scale = 0;        // the value is mantissa * 10^scale
  bool real = false;
  const char* const digits_begin = p;
  if (!read_digits(p, end, mantissa, significant)) return 0;
  bool any_digit = p != digits_begin;
  if (p != end && *p == '.') {
    real = true;
    const char* const fraction = ++p;
    if (!read_digits(p, end, mantissa, significant)) return 0;
    scale = -static_cast<int>(p - fraction);
    any_digit = any_digit || p != fraction;
  }
  if (!any_digit) return 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    real = true;
    ++p;
    bool negative_exponent = false;
    if (p != end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
    int exponent = 0, exponent_digits = 0;
    for (; p != end && is_digit(*p); ++p) {
      if (++exponent_digits > 4) return 0;
      exponent = exponent * 10 + (*p - '0');
    }
    if (exponent_digits == 0) return 0;
    scale += negative_exponent ? -exponent : exponent;
  }
  double value = 0;
  if (!real) {
    if (significant > 15) return 0;
    value = static_cast<double>(mantissa);
  } else if (mantissa != 0) {
    if (mantissa > (std::uint64_t{1} << 53) || scale < -22 || scale > 22) return 0;
    const double m = static_cast<double>(mantissa);
    value = scale < 0 ? m / exact_powers_of_ten[-scale] : m * exact_powers_of_ten[scale];
  }
  out.value = negative ? -value : value;
  out.integer = !real;
  out.negative = !real && negative && mantissa != 0;
  return static_cast<std::size_t>(p - begin);
#endif
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

token lexer::next_value() {
  for (;;) {
    if (!has_peeked_ && !binary_) {
      // The common case, separators straight in the text, without making tokens of them.
      skip_blanks();
      const std::uint8_t c = in_.peek();
      if (!in_.at_end() && (c == ',' || c == ';')) {
        in_.take(1, "separator");
        continue;
      }
    }
    const token t = next();
    if (t.kind != token_kind::comma && t.kind != token_kind::semicolon) return t;
  }
}

bool lexer::next_text_number(number& n) {
  const std::uint8_t* p = in_.here();
  const std::size_t size = in_.remaining();
  std::size_t at = 0;
  while (at < size && (classes[p[at]] & (blank_class | separator_class))) ++at;
  const char* text = reinterpret_cast<const char*>(p);
  const std::size_t length = scan_number(text + at, text + size, n);
  // A number that runs on into more name characters ("1.5x", "1e999") is the general path's.
  if (length == 0 || (at + length < size && is_word_char(p[at + length]))) return false;
  in_.take(at + length, "number");
  return true;
}

std::size_t lexer::take_text_floats(float* out, std::size_t n) {
  if (has_peeked_ || binary_) return 0;
  const char* const begin = reinterpret_cast<const char*>(in_.here());
  const char* const end = begin + in_.remaining();
  const char* p = begin;
  std::size_t count = 0;
  for (; count < n; ++count) {
    const char* q = p;
    while (q != end && (classes[static_cast<std::uint8_t>(*q)] & (blank_class | separator_class))) ++q;
    number value;
    const std::size_t length = scan_number(q, end, value);
    // A number that runs on into more name characters ("1.5x", "1e999") is the general path's.
    if (length == 0 || (q + length != end && is_word_char(static_cast<std::uint8_t>(q[length])))) break;
    out[count] = to_float(value.value);
    p = q + length;
  }
  in_.take(static_cast<std::size_t>(p - begin), "number");
  return count;
}

std::size_t lexer::take_dwords(std::uint32_t* out, std::size_t n, std::uint32_t limit) {
  if (has_peeked_) return 0;
  std::size_t count = 0;
  if (binary_) {
    if (list_left_ == 0 || list_is_float_) return 0;
    // The list's size was checked against the data when its count was read.
    const std::size_t available = n < list_left_ ? n : list_left_;
    const std::uint8_t* elements = in_.here();
    while (count < available && cursor::le32(elements + 4 * count) < limit) {
      out[count] = cursor::le32(elements + 4 * count);
      ++count;
    }
    in_.take(4 * count, "integer list");
    list_left_ -= static_cast<std::uint32_t>(count);
    return count;
  }
  const std::uint8_t* const begin = in_.here();
  const std::uint8_t* const end = begin + in_.remaining();
  const std::uint8_t* p = begin;
  for (; count < n; ++count) {
    const std::uint8_t* q = p;
    while (q != end && (classes[*q] & (blank_class | separator_class))) ++q;
    const std::uint8_t* digits_end = q;
    std::uint64_t whole = 0;
    while (digits_end != end && digits_end - q < 10 && is_digit(static_cast<char>(*digits_end)))
      whole = whole * 10 + (*digits_end++ - '0');
    if (digits_end == q || whole >= limit || (digits_end != end && is_word_char(*digits_end))) break;
    out[count] = static_cast<std::uint32_t>(whole);
    p = digits_end;
  }
  in_.take(static_cast<std::size_t>(p - begin), "number");
  return count;
}

bool lexer::next_text_dword(std::uint32_t& value) {
  // Plain digits only: signs, points and exponents are left to the general path, which reads
  // them, or refuses them with a message.
  const std::uint8_t* p = in_.here();
  const std::size_t size = in_.remaining();
  std::size_t at = 0;
  while (at < size && (classes[p[at]] & (blank_class | separator_class))) ++at;
  std::size_t end = at;
  std::uint64_t whole = 0;
  while (end < size && end - at < 10 && is_digit(static_cast<char>(p[end]))) whole = whole * 10 + (p[end++] - '0');
  if (end == at || whole > 0xFFFFFFFFu || (end < size && is_word_char(p[end]))) return false;
  in_.take(end, "number");
  value = static_cast<std::uint32_t>(whole);
  return true;
}

token lexer::skip_block() {
  std::size_t depth = 1;
  for (;;) {
    if (!has_peeked_) {
      if (!binary_) {
        // Blanks, separators, words and braces are passed over in one run: whether the words are
        // names or numbers does not matter here. Any other byte is left to next() below.
        const std::uint8_t* p = in_.here();
        const std::size_t size = in_.remaining();
        std::size_t at = 0;
        for (; at < size; ++at) {
          const std::uint8_t c = p[at];
          if (classes[c] & (blank_class | separator_class | word_class)) continue;
          if (c == '{') {
            ++depth;
            continue;
          }
          if (c != '}') break;
          if (--depth == 0) {
            token brace;
            brace.kind = token_kind::close_brace;
            brace.offset = in_.offset() + at;
            in_.take(at + 1, "brace");
            return brace;
          }
        }
        in_.take(at, "block");
      } else if (list_left_ > 0) {
        // The list's size was checked against the data when its count was read.
        const std::uint64_t element = list_is_float_ ? static_cast<std::uint64_t>(float_bits_ / 8) : 4u;
        in_.take(static_cast<std::size_t>(list_left_ * element), list_is_float_ ? "float list" : "integer list");
        list_left_ = 0;
        continue;
      }
    }
    const token t = next();
    if (t.kind == token_kind::open_brace) ++depth;
    if (t.kind == token_kind::close_brace && --depth == 0) return t;
    if (t.kind == token_kind::end) return t;
  }
}

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

std::size_t lexer::word_length() const {
  const std::uint8_t* p = in_.here();
  const std::size_t n = in_.remaining();
  std::size_t length = 0;
  while (length < n && is_word_char(p[length])) ++length;
  return length;
}

void lexer::skip_blanks() {
  for (;;) {
    const std::uint8_t* p = in_.here();
    const std::size_t n = in_.remaining();
    std::size_t length = 0;
    while (length < n && is_blank(p[length])) ++length;
    if (length < n && (p[length] == '#' || (p[length] == '/' && length + 1 < n && p[length + 1] == '/'))) {
      // A comment runs to the end of its line; the line break is a blank of the next round.
      const void* line_end = std::memchr(p + length, '\n', n - length);
      in_.take(line_end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(line_end) - p) : n, "comment");
      continue;
    }
    in_.take(length, "blank");
    return;
  }
}

// Reads one word (a run of name characters) and classifies it as an integer, a real or a name.
token lexer::read_word(std::size_t start) {
  const std::size_t length = word_length();
  const std::uint8_t* begin = in_.take(length, "word");
  token t;
  t.offset = start;
  t.text = std::string_view(reinterpret_cast<const char*>(begin), length);
  number quick;
  if (scan_number(t.text.data(), t.text.data() + length, quick) == length) {
    t.kind = quick.integer ? token_kind::integer : token_kind::real;
    t.value = quick.value;
    t.negative = quick.negative;
    return t;
  }
  std::string_view digits = t.text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  const char first = t.text[0];
  if (!(first == '-' || first == '+' || first == '.' || is_digit(first))) {
    t.kind = token_kind::name;
    return t;
  }
  bool all_digits = !digits.empty();
  for (char c : digits) all_digits = all_digits && is_digit(c);
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
  skip_blanks();
  token t;
  t.offset = in_.offset();
  if (in_.at_end()) return t;
  const std::uint8_t c = in_.peek();
  switch (c) {
    case '{': in_.take(1, "brace"); t.kind = token_kind::open_brace; return t;
    case '}': in_.take(1, "brace"); t.kind = token_kind::close_brace; return t;
    case ',': in_.take(1, "comma"); t.kind = token_kind::comma; return t;
    case ';': in_.take(1, "semicolon"); t.kind = token_kind::semicolon; return t;
    case '[': case ']': case '(': case ')': in_.take(1, "bracket"); t.kind = token_kind::other; return t;
    case '"': {
      in_.take(1, "string");
      const void* quote = std::memchr(in_.here(), '"', in_.remaining());
      if (!quote) fail("unterminated string", t);
      const auto length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(quote) - in_.here());
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
