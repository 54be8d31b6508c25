#include "xfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <string_view>

#include "assemble.h"
#include "cursor.h"
#include "inflate.h"
#include "lexer.h"

namespace xfile {
namespace {

// The value loops read vertex arrays as plain runs of floats.
static_assert(sizeof(std::array<float, 3>) == 3 * sizeof(float) && sizeof(std::array<float, 2>) == 2 * sizeof(float));

// Frames nested deeper than this are refused, so that a hostile file cannot exhaust the stack.
constexpr int max_frame_depth = 256;
constexpr std::size_t header_size = 16;

// Returns true when a and b are equal ignoring ASCII case, as the platform matches template names.
bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Returns the header field as printable text for a message, escaping anything unprintable.
std::string printable(const std::uint8_t* p, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7f) {
      s += static_cast<char>(p[i]);
    } else {
      static const char hex[] = "0123456789abcdef";
      s += "\\x";
      s += hex[p[i] >> 4];
      s += hex[p[i] & 15];
    }
  }
  return s;
}

// Converts a colour component to a byte as the platform does: clamped to 0..1, then rounded.
std::uint32_t color_byte(float v) {
  if (!(v > 0.0f)) return 0;  // NaN counts as 0
  if (v >= 1.0f) return 255;
  return static_cast<std::uint32_t>(v * 255.0f + 0.5f);
}

// DWORDs that one element of each vertex declaration type (D3DDECLTYPE, FLOAT1 = 0 up to
// UNUSED = 17) takes in a DeclData object's data.
constexpr std::uint8_t decl_type_dwords[] = {1, 2, 3, 4, 1, 1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 2, 0};
constexpr std::uint32_t decl_d3dcolor = 4;
constexpr std::uint32_t usage_normal = 3, usage_texcoord = 5, usage_color = 10;

// Returns the value of an IEEE half-precision float.
float half_float(std::uint32_t h) {
  const int exponent = static_cast<int>((h >> 10) & 31);
  const int mantissa = static_cast<int>(h & 1023);
  float v;
  if (exponent == 0) v = std::ldexp(static_cast<float>(mantissa), -24);
  else if (exponent == 31) v = mantissa ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
  else v = std::ldexp(static_cast<float>(mantissa + 1024), exponent - 25);
  return (h & 0x8000) ? -v : v;
}

// Returns a signed field of `bits` bits at bit `shift` of d, divided by `scale` and kept from
// going below -1 when scale is not 1 (the most negative value of a normalised type).
float signed_field(std::uint32_t d, int shift, int bits, float scale) {
  const std::uint32_t raw = (d >> shift) & ((1u << bits) - 1);
  const auto value = static_cast<float>(static_cast<std::int32_t>(raw << (32 - bits)) >> (32 - bits));
  return scale == 1.0f ? value : std::max(value / scale, -1.0f);
}

// Returns one element of a DeclData vertex as a vertex shader receives it: up to four values,
// the missing ones 0, 0, 0, 1. d holds the element's DWORDs; type is below 17 (UNUSED).
std::array<float, 4> decl_element(std::uint32_t type, const std::uint32_t* d) {
  std::array<float, 4> v = {0, 0, 0, 1};
  auto unsigned_field = [&](int word, int shift, int bits) {
    return static_cast<float>((d[word] >> shift) & ((1u << bits) - 1));
  };
  switch (type) {
    case 0: case 1: case 2: case 3:  // FLOAT1 to FLOAT4
      std::memcpy(v.data(), d, 4 * (type + 1));
      break;
    case 4:  // D3DCOLOR: ARGB bytes as red, green, blue, alpha
      for (int i = 0; i < 4; ++i) v[i] = unsigned_field(0, i == 3 ? 24 : 16 - 8 * i, 8) / 255.0f;
      break;
    case 5: case 8:  // UBYTE4, UBYTE4N
      for (int i = 0; i < 4; ++i) v[i] = unsigned_field(0, 8 * i, 8) / (type == 8 ? 255.0f : 1.0f);
      break;
    case 6: case 7: case 9: case 10:  // SHORT2, SHORT4, SHORT2N, SHORT4N
      for (int i = 0; i < (type == 7 || type == 10 ? 4 : 2); ++i)
        v[i] = signed_field(d[i / 2], 16 * (i % 2), 16, type >= 9 ? 32767.0f : 1.0f);
      break;
    case 11: case 12:  // USHORT2N, USHORT4N
      for (int i = 0; i < (type == 12 ? 4 : 2); ++i) v[i] = unsigned_field(i / 2, 16 * (i % 2), 16) / 65535.0f;
      break;
    case 13:  // UDEC3
      for (int i = 0; i < 3; ++i) v[i] = unsigned_field(0, 10 * i, 10);
      break;
    case 14:  // DEC3N
      for (int i = 0; i < 3; ++i) v[i] = signed_field(d[0], 10 * i, 10, 511.0f);
      break;
    case 15: case 16:  // FLOAT16_2, FLOAT16_4
      for (int i = 0; i < (type == 16 ? 4 : 2); ++i) v[i] = half_float(d[i / 2] >> (16 * (i % 2)));
      break;
  }
  return v;
}

// Vertex data that a mesh's DeclData gives, one entry per vertex of the file; empty where it
// gives none.
struct declared_data {
  std::vector<std::array<float, 2>> texcoords;
  std::vector<std::array<float, 3>> normals;
  std::vector<std::uint32_t> colors;
};

// Returns n scaled to unit length; zero, infinite and NaN lengths leave it as it is.
std::array<float, 3> unit(std::array<float, 3> n) {
  const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (length > 0 && std::isfinite(length))
    for (float& v : n) v /= length;
  return n;
}

// An object's header: its type, its optional name and where it starts.
struct object_header {
  std::string_view type;
  std::string name;
  token start;
};

// Walks the objects of one file body, reading the ones that make up meshes and skipping the rest.
class reader {
 public:
  // Reads from lx; references may copy at most reference_budget vertices and triangles.
  reader(lexer& lx, std::size_t reference_budget) : lx_(lx), budget_(reference_budget) {}

  // Reads every top-level object up to the end of the data, or up to a '}' that closes nothing.
  void read_file() {
    for (;;) {
      const token t = lx_.next();
      switch (t.kind) {
        case token_kind::end: return;
        case token_kind::comma:
        case token_kind::semicolon: continue;
        case token_kind::open_brace: read_reference(t); continue;  // nothing to place at the top
        case token_kind::template_keyword: skip_template(t); continue;
        case token_kind::name: read_top_object(t); continue;
        case token_kind::close_brace: return stop_at_stray_brace(t);
        default: lx_.fail("unexpected " + lexer::describe(t) + " at the top level", t);
      }
    }
  }

  // Gives the skins and animation channels the frames they name, after the whole file is read
  // (D3DX finds frames that come after them too): the first frame of a name in file order, as
  // D3DXFrameFind finds it. Skins and channels naming no frame are passed over and noted;
  // channels without keys and animations without channels are dropped. Keys are sorted stably
  // by time, so that keys of equal time keep their file order.
  void resolve() {
    std::map<std::string_view, int, std::less<>> frame_of;
    for (std::size_t i = 0; i < frames.size(); ++i)
      if (!frames[i].name.empty()) frame_of.emplace(frames[i].name, static_cast<int>(i));
    auto find = [&](const std::string& name) {
      auto found = frame_of.find(name);
      return found == frame_of.end() ? -1 : found->second;
    };
    for (placed_mesh& m : meshes)
      for (skin_weights& s : m.skin)
        if ((s.frame = find(s.frame_name)) < 0) skipped.add("SkinWeights '" + s.frame_name.substr(0, 64) + "' names no frame");
    auto by_time = [](const auto& a, const auto& b) { return a.time < b.time; };
    for (raw_animation& raw : raw_animations_) {
      readers::animation a;
      a.name = std::move(raw.name);
      for (named_channel& c : raw.channels) {
        readers::channel& ch = c.channel;
        if (ch.translation.empty() && ch.scale.empty() && ch.rotation.empty() && ch.matrices.empty()) continue;
        if ((ch.frame = find(c.frame_name)) < 0) {
          skipped.add("an animation channel of '" + a.name.substr(0, 64) + "' moves '" + c.frame_name.substr(0, 64) +
                      "', which names no frame");
          continue;
        }
        std::stable_sort(ch.translation.begin(), ch.translation.end(), by_time);
        std::stable_sort(ch.scale.begin(), ch.scale.end(), by_time);
        std::stable_sort(ch.rotation.begin(), ch.rotation.end(), by_time);
        std::stable_sort(ch.matrices.begin(), ch.matrices.end(), by_time);
        for (float last : {ch.translation.empty() ? 0 : ch.translation.back().time, ch.scale.empty() ? 0 : ch.scale.back().time,
                           ch.rotation.empty() ? 0 : ch.rotation.back().time, ch.matrices.empty() ? 0 : ch.matrices.back().time})
          a.length = std::max(a.length, last);
        a.channels.push_back(std::move(ch));
      }
      if (!a.channels.empty()) animations.push_back(std::move(a));
    }
    raw_animations_.clear();
  }

  std::vector<placed_mesh> meshes;
  std::vector<frame_node> frames;
  std::vector<readers::animation> animations;  // filled by resolve()
  notes skipped;
  // The first '}' at the top level, where reading stopped; passed_over when anything but more
  // braces, separators and padding came after it.
  std::optional<token> stray_brace;
  bool passed_over = false;

 private:
  // Stops reading at a '}' that closes nothing, as the platform's loader does: the objects before
  // it are the model, whatever follows is passed over unread (a converter writes one brace too
  // many and then its animation). Exporters also leave surplus braces at the very end, which
  // loses nothing; only when something else follows, even bytes that are no tokens, does the
  // caller learn that data was passed over.
  void stop_at_stray_brace(const token& brace) {
    stray_brace = brace;
    try {
      for (;;) {
        const token t = lx_.next();
        if (t.kind == token_kind::end) return;
        if (t.kind != token_kind::close_brace && t.kind != token_kind::comma && t.kind != token_kind::semicolon) break;
      }
    } catch (const parse_error&) {
    }
    passed_over = true;
  }

 private:
  // An animation channel whose frame is still known only by name.
  struct named_channel {
    std::string frame_name;
    readers::channel channel;
  };
  struct raw_animation {
    std::string name;
    std::vector<named_channel> channels;
  };

  // Runs read over the body of h, whose header has been read; when it finds h malformed, goes
  // back to the start of the body and passes over it as an unknown object, so that the file
  // reads as it would without h, and notes why. read must keep what it reads to itself until it
  // has read all of it.
  template <class Read>
  void tolerantly(const object_header& h, Read read) {
    const lexer start = lx_;
    try {
      read();
    } catch (const parse_error& e) {
      lx_ = start;
      skip_body(h);
      skipped.add(std::string(h.type.substr(0, 64)) + " object passed over (" + e.what() + ")");
    }
  }

  // Reads a top-level object: animations and their tick rate, or what read_object reads.
  void read_top_object(const token& type) {
    if (iequals(type.text, "AnimationSet")) {
      const object_header h = read_header(type);
      tolerantly(h, [&] { read_animation_set(h); });
    } else if (iequals(type.text, "Animation")) {
      // An Animation outside any AnimationSet is an animation of its own.
      const object_header h = read_header(type);
      tolerantly(h, [&] {
        raw_animation single{h.name, {}};
        single.channels.push_back(read_animation(h));
        raw_animations_.push_back(std::move(single));
      });
    } else if (iequals(type.text, "AnimTicksPerSecond")) {
      const object_header h = read_header(type);
      tolerantly(h, [&] {
        const std::uint32_t ticks = read_dword("AnimTicksPerSecond value");
        skip_children(h);
        if (ticks == 0) lx_.fail("0 ticks per second", h.start);
        ticks_per_second_ = ticks;
      });
    } else {
      read_object(type, -1, 0);
    }
  }

  // Reads an AnimationSet: its Animation objects, each one frame's channel.
  void read_animation_set(const object_header& h) {
    raw_animation set{h.name, {}};
    for_each_child(
        h,
        [&](const token& type) {
          const object_header child = read_header(type);
          if (!iequals(child.type, "Animation")) return skip_body(child);
          tolerantly(child, [&] { set.channels.push_back(read_animation(child)); });
        },
        [](const std::string&) {});
    raw_animations_.push_back(std::move(set));
  }

  // Reads an Animation: the frame it moves, named by a reference or by a Frame object inside it
  // (the first of them counts), and its AnimationKey objects, each read on its own.
  // AnimationOptions (open or closed, position quality) is read and has no effect.
  named_channel read_animation(const object_header& h) {
    named_channel out;
    bool named = false;
    for_each_child(
        h,
        [&](const token& type) {
          const object_header child = read_header(type);
          if (iequals(child.type, "AnimationKey")) {
            tolerantly(child, [&] { read_animation_key(child, out.channel); });
          } else if (iequals(child.type, "AnimationOptions")) {
            tolerantly(child, [&] {
              read_dword("AnimationOptions openclosed");
              read_dword("AnimationOptions positionquality");
              skip_children(child);
            });
          } else {
            if (iequals(child.type, "Frame") && !named) out.frame_name = child.name, named = true;
            skip_body(child);
          }
        },
        [&](const std::string& name) {
          if (!named) out.frame_name = name, named = true;
        });
    return out;
  }

  // Reads an AnimationKey into channel: rotation (type 0, a quaternion stored w, x, y, z),
  // scale (1), position (2) or matrix keys (4, and 3, which D3DX's documentation names for
  // them), tick times converted to seconds by the AnimTicksPerSecond in force. The stored
  // quaternion turns the other way from D3DX's, so it is kept conjugated: x, y, z negated.
  void read_animation_key(const object_header& h, readers::channel& channel) {
    const std::uint32_t type = read_dword("AnimationKey key type");
    const std::size_t size = type == 0 ? 4 : type == 1 || type == 2 ? 3 : type == 3 || type == 4 ? 16 : 0;
    if (size == 0) lx_.fail("AnimationKey key type " + std::to_string(type) + " is none of 0 to 4", lx_.peek());
    const std::uint32_t count = read_dword("AnimationKey key count");
    check_count(count, 2 + size, "AnimationKey key count");
    readers::channel keys;
    float v[16];
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto time = static_cast<float>(read_dword("AnimationKey key time") / static_cast<double>(ticks_per_second_));
      const std::uint32_t values = read_dword("AnimationKey value count");
      if (values != size)
        lx_.fail("AnimationKey key " + std::to_string(i) + " has " + std::to_string(values) + " values, its type " +
                     std::to_string(size),
                 lx_.peek());
      read_floats(v, size, "AnimationKey value");
      if (size == 4) keys.rotation.push_back({time, {-v[1], -v[2], -v[3], v[0]}, {}, {}});
      else if (size == 16) keys.matrices.push_back({time, std::to_array(v), {}, {}});
      else (type == 1 ? keys.scale : keys.translation).push_back({time, {v[0], v[1], v[2]}, {}, {}});
    }
    skip_children(h);
    channel.rotation.insert(channel.rotation.end(), keys.rotation.begin(), keys.rotation.end());
    channel.scale.insert(channel.scale.end(), keys.scale.begin(), keys.scale.end());
    channel.translation.insert(channel.translation.end(), keys.translation.begin(), keys.translation.end());
    channel.matrices.insert(channel.matrices.end(), keys.matrices.begin(), keys.matrices.end());
  }

  // Reads SkinWeights: the frame's name, the vertex indexes and their weights, and the offset
  // matrix. Indexes are checked against the mesh only when the bones are made, so that a wrong
  // one loses that influence alone.
  skin_weights read_skin_weights() {
    skin_weights s;
    const token name = lx_.next_value();
    if (name.kind != token_kind::string) lx_.fail("expected the SkinWeights frame name, found " + lexer::describe(name), name);
    s.frame_name = std::string(name.text);
    const std::uint32_t count = read_dword("SkinWeights weight count");
    check_count(count, 2, "SkinWeights weight count");
    read_indexes(s.vertices, count, std::numeric_limits<std::uint32_t>::max(), [](std::uint32_t) {}, "SkinWeights vertex index");
    s.weights.resize(count);
    read_floats(s.weights.data(), count, "SkinWeights weight");
    read_floats(s.offset.data(), s.offset.size(), "SkinWeights matrixOffset");
    return s;
  }

  // Reads an object whose type token has just been consumed, in frame `frame` (-1: top level).
  void read_object(const token& type, int frame, int depth) {
    object_header h = read_header(type);
    if (iequals(h.type, "Frame")) {
      read_frame(h, frame, depth + 1);
    } else if (iequals(h.type, "Mesh")) {
      read_mesh(h, frame);
    } else if (iequals(h.type, "Material")) {
      material m = read_material(h);
      if (!h.name.empty()) materials_by_name_[h.name] = std::move(m);
    } else if (iequals(h.type, "FrameTransformMatrix") && frame >= 0) {
      matrix m;
      read_floats(m.data(), m.size(), "FrameTransformMatrix value");
      frames[frame].local = multiply(frames[frame].local, m);
      skip_children(h);
    } else {
      skip_body(h);
    }
  }

  // Reads an optional name, the opening brace and an optional GUID after an object's type.
  object_header read_header(const token& type) {
    object_header h;
    h.type = type.text;
    h.start = type;
    token t = lx_.next();
    // Text names may look like numbers ("Mesh 01 {"); their raw text is the name.
    if (t.kind == token_kind::name || ((t.kind == token_kind::integer || t.kind == token_kind::real) && !t.text.empty())) {
      h.name = std::string(t.text);
      t = lx_.next();
    }
    if (t.kind != token_kind::open_brace)
      lx_.fail("expected '{' after '" + std::string(type.text.substr(0, 64)) + "', found " + lexer::describe(t), t);
    if (lx_.peek().kind == token_kind::guid) lx_.next();
    return h;
  }

  // Consumes tokens up to the brace that closes the object h, whatever they contain.
  void skip_body(const object_header& h) {
    const token t = lx_.skip_block();
    if (t.kind == token_kind::end) unterminated(h, t);
  }

  // Skips a binary template declaration: its name, then a braced body.
  void skip_template(const token& keyword) {
    const token name = lx_.next();
    if (name.kind != token_kind::name) lx_.fail("expected a template name, found " + lexer::describe(name), name);
    const token brace = lx_.next();
    if (brace.kind != token_kind::open_brace) lx_.fail("expected '{' after the template name", brace);
    object_header h;
    h.type = "template";
    h.start = keyword;
    skip_body(h);
  }

  [[noreturn]] void unterminated(const object_header& h, const token& at) {
    lx_.fail("file ends inside the " + std::string(h.type.substr(0, 64)) + " object that starts at byte " +
                 std::to_string(h.start.offset),
             at);
  }

  // Reads "{ name }" after its opening brace; returns the name (empty for a GUID-only reference).
  std::string read_reference(const token& open) {
    std::string name;
    for (;;) {
      const token t = lx_.next();
      if (t.kind == token_kind::close_brace) return name;
      if (t.kind == token_kind::name || ((t.kind == token_kind::integer || t.kind == token_kind::real) && !t.text.empty())) {
        if (!name.empty()) lx_.fail("reference names two objects", t);
        name = std::string(t.text);
      } else if (t.kind != token_kind::guid) {
        lx_.fail("malformed reference: unexpected " + lexer::describe(t), t.kind == token_kind::end ? t : open);
      }
    }
  }

  // Calls on_object for each child object and on_reference for each reference until the brace
  // that closes h; separators are skipped, anything else is an error.
  template <class Object, class Reference>
  void for_each_child(const object_header& h, Object on_object, Reference on_reference) {
    for (;;) {
      const token t = lx_.next();
      switch (t.kind) {
        case token_kind::close_brace: return;
        case token_kind::comma:
        case token_kind::semicolon: continue;
        case token_kind::open_brace: on_reference(read_reference(t)); continue;
        case token_kind::name: on_object(t); continue;
        case token_kind::template_keyword: skip_template(t); continue;
        case token_kind::end: unterminated(h, t);
        default:
          lx_.fail("unexpected " + lexer::describe(t) + " in the " + std::string(h.type.substr(0, 64)) + " object" +
                       (h.name.empty() ? "" : " '" + h.name.substr(0, 64) + "'"),
                   t);
      }
    }
  }

  // Skips the children of h, which are of no use where h appears.
  void skip_children(const object_header& h) {
    for_each_child(h, [&](const token& type) { skip_body(read_header(type)); }, [](const std::string&) {});
  }

  // Reads a Frame: its transform, meshes, child frames and mesh references.
  void read_frame(const object_header& h, int parent, int depth) {
    if (depth > max_frame_depth)
      lx_.fail("frames nested more than " + std::to_string(max_frame_depth) + " deep", h.start);
    const int self = static_cast<int>(frames.size());
    frames.push_back(frame_node{h.name, parent, identity_matrix()});
    for_each_child(
        h, [&](const token& type) { read_object(type, self, depth); },
        [&](const std::string& name) { place_reference(name, self); });
  }

  // Places another copy of a named mesh in frame; references to anything else are ignored.
  void place_reference(const std::string& name, int frame) {
    auto found = meshes_by_name_.find(name);
    if (found == meshes_by_name_.end()) return;
    placed_mesh copy = meshes[found->second];
    std::size_t size = copy.geometry.positions.size() + copy.geometry.triangles.size();
    for (const skin_weights& s : copy.skin) size += s.vertices.size();
    if (size > budget_) throw parse_error("mesh references copy '" + name.substr(0, 64) + "' more often than the file size allows");
    budget_ -= size;
    copy.frame = frame;
    meshes.push_back(std::move(copy));
  }

  // Reads a DWORD value; `what` names it in messages.
  std::uint32_t read_dword(const char* what) {
    std::uint32_t value;
    if (lx_.next_dword(value)) return value;
    const token t = lx_.next_value();
    if (t.kind != token_kind::integer) lx_.fail(std::string("expected ") + what + ", found " + lexer::describe(t), t);
    if (t.negative || t.value > 4294967295.0) lx_.fail(std::string(what) + " out of range: " + lexer::describe(t), t);
    return static_cast<std::uint32_t>(t.value);
  }

  // Reads a FLOAT value (an integer is accepted as one).
  float read_float(const char* what) {
    lexer::number n;
    if (lx_.next_plain_number(n)) return to_float(n.value);
    const token t = lx_.next_value();
    if (t.kind != token_kind::integer && t.kind != token_kind::real)
      lx_.fail(std::string("expected ") + what + ", found " + lexer::describe(t), t);
    return to_float(t.value);
  }

  // Reads n FLOAT values into out: runs of a binary float list are decoded straight from the
  // data, anything else value by value as read_float reads it.
  void read_floats(float* out, std::size_t n, const char* what) {
    for (std::size_t i = 0; i < n;) {
      std::size_t count = lx_.take_text_floats(out + i, n - i);
      if (count > 0) {
        i += count;
      } else if (const std::uint8_t* elements = lx_.take_float_elements(n - i, count)) {
        for (std::size_t k = 0; k < count; ++k) out[i + k] = to_float(lx_.float_element(elements, k));
        i += count;
      } else {
        out[i++] = read_float(what);
      }
    }
  }

  // Appends n indexes below limit to out: runs in the common forms straight from the lexer, any
  // other value as read_dword reads it; out_of_range(index) raises the error of a value not below
  // limit, just after reading it. n must have been checked against the bytes left.
  template <class OutOfRange>
  void read_indexes(std::vector<std::uint32_t>& out, std::uint32_t n, std::uint32_t limit, OutOfRange out_of_range,
                    const char* what) {
    std::size_t at = out.size();
    out.resize(at + n);
    for (const std::size_t end = at + n; at < end;) {
      const std::size_t count = lx_.take_dwords(out.data() + at, end - at, limit);
      at += count;
      if (at == end) break;
      const std::uint32_t index = read_dword(what);
      if (index >= limit) out_of_range(index);
      out[at++] = index;
    }
  }

  // Throws unless `count` items of `numbers` values each can still be in the data, so that no
  // count in a file can make the reader allocate more than the file could fill.
  void check_count(std::uint64_t count, std::uint64_t numbers, const char* what) {
    const std::uint64_t needed = count * numbers * lx_.min_number_bytes();
    if (needed > lx_.remaining()) {
      token at = lx_.peek();
      lx_.fail(std::string(what) + " " + std::to_string(count) + " is more than the " +
                   std::to_string(lx_.remaining()) + " bytes left can hold",
               at);
    }
  }

  // Reads a Material: face colour, power, specular and emissive colours, optional texture name.
  material read_material(const object_header& h) {
    material m;
    for (float& v : m.diffuse) v = read_float("Material faceColor");
    m.power = read_float("Material power");
    for (float& v : m.specular) v = read_float("Material specularColor");
    for (float& v : m.emissive) v = read_float("Material emissiveColor");
    for_each_child(
        h,
        [&](const token& type) {
          object_header child = read_header(type);
          if (!iequals(child.type, "TextureFilename")) return skip_body(child);
          const token s = lx_.next_value();
          if (s.kind != token_kind::string) lx_.fail("expected the texture file name, found " + lexer::describe(s), s);
          m.texture = std::string(s.text);
          skip_children(child);
        },
        [](const std::string&) {});
    return m;
  }

  // Reads a Mesh and its children, triangulates it and keeps it if it has any vertex.
  void read_mesh(const object_header& h, int frame) {
    polygon_mesh pm;
    const std::uint32_t vertex_count = read_dword("Mesh vertex count");
    check_count(vertex_count, 3, "Mesh vertex count");
    pm.positions.resize(vertex_count);
    read_floats(reinterpret_cast<float*>(pm.positions.data()), 3 * pm.positions.size(), "Mesh vertex coordinate");
    const std::uint32_t face_count = read_dword("Mesh face count");
    check_count(face_count, 4, "Mesh face count");
    pm.face_sizes.resize(face_count);
    // Most faces are triangles; check_count bounds this by the bytes left.
    pm.corners.reserve(3 * static_cast<std::size_t>(face_count));
    for (std::uint32_t f = 0; f < face_count; ++f) {
      const std::uint32_t corners = read_dword("face vertex count");
      if (corners < 3) lx_.fail("face " + std::to_string(f) + " has " + std::to_string(corners) + " vertices, fewer than 3", lx_.peek());
      check_count(corners, 1, "face vertex count");
      pm.face_sizes[f] = corners;
      read_indexes(pm.corners, corners, vertex_count, [&](std::uint32_t index) {
        lx_.fail("face " + std::to_string(f) + " uses vertex " + std::to_string(index) + " of " +
                     std::to_string(vertex_count),
                 lx_.peek());
      }, "face vertex index");
    }
    declared_data declared;
    bool normals_given = false;
    std::vector<skin_weights> skin;  // XSkinMeshHeader only repeats counts that these give: it is passed over
    for_each_child(
        h,
        [&](const token& type) {
          object_header child = read_header(type);
          if (iequals(child.type, "MeshNormals")) read_normals(child, pm), normals_given = true;
          else if (iequals(child.type, "MeshTextureCoords")) read_texcoords(child, pm);
          else if (iequals(child.type, "MeshVertexColors")) read_colors(child, pm);
          else if (iequals(child.type, "MeshMaterialList")) read_material_list(child, pm);
          else if (iequals(child.type, "DeclData")) read_decl_data(child, pm, declared);
          else if (iequals(child.type, "SkinWeights")) tolerantly(child, [&] {
            skin_weights s = read_skin_weights();
            skip_children(child);
            skin.push_back(std::move(s));
          });
          else skip_body(child);
        },
        [](const std::string&) {});
    // DeclData fills only what no MeshNormals, MeshTextureCoords or MeshVertexColors gives,
    // wherever it stands: those objects are the older form that every loader reads, files that
    // have both mostly repeat the same values, and MeshNormals may index normals by face, which
    // DeclData cannot. Its values are per vertex of the file, so the copies that splitting by
    // normal makes take them from their source vertex.
    if (pm.texcoords.empty()) pm.texcoords = std::move(declared.texcoords);
    if (pm.colors.empty()) pm.colors = std::move(declared.colors);
    if (!normals_given && !declared.normals.empty()) {
      pm.normals = std::move(declared.normals);
      pm.normals_per_vertex = true;
    }
    if (pm.positions.empty()) return;  // the platform drops meshes without vertices
    placed_mesh placed;
    placed.has_material_list = pm.has_material_list;
    placed.frame = frame;
    placed.geometry = triangulate(std::move(pm), placed.copies);
    placed.skin = std::move(skin);
    if (!h.name.empty()) meshes_by_name_[h.name] = meshes.size();
    meshes.push_back(std::move(placed));
  }

  // Reads MeshNormals: the normals and, per face, one normal index per corner.
  void read_normals(const object_header& h, polygon_mesh& pm) {
    const std::uint32_t count = read_dword("MeshNormals normal count");
    check_count(count, 3, "MeshNormals normal count");
    pm.normals.assign(count, {0, 0, 0});
    read_floats(reinterpret_cast<float*>(pm.normals.data()), 3 * pm.normals.size(), "normal coordinate");
    for (auto& n : pm.normals) n = unit(n);
    const std::uint32_t faces = read_dword("MeshNormals face count");
    if (faces != pm.face_sizes.size())
      lx_.fail("MeshNormals has " + std::to_string(faces) + " faces, the mesh " + std::to_string(pm.face_sizes.size()), lx_.peek());
    pm.normal_corners.clear();
    pm.normal_corners.reserve(pm.corners.size());
    for (std::uint32_t f = 0; f < faces; ++f) {
      const std::uint32_t corners = read_dword("normal face corner count");
      if (corners != pm.face_sizes[f])
        lx_.fail("MeshNormals face " + std::to_string(f) + " has " + std::to_string(corners) + " corners, the mesh face " +
                     std::to_string(pm.face_sizes[f]),
                 lx_.peek());
      read_indexes(pm.normal_corners, corners, count, [&](std::uint32_t index) {
        lx_.fail("MeshNormals face " + std::to_string(f) + " uses normal " + std::to_string(index) + " of " +
                     std::to_string(count),
                 lx_.peek());
      }, "normal index");
    }
    skip_children(h);
  }

  // Reads MeshTextureCoords, which must give one pair per vertex.
  void read_texcoords(const object_header& h, polygon_mesh& pm) {
    const std::uint32_t count = read_dword("MeshTextureCoords count");
    if (count != pm.positions.size())
      lx_.fail("MeshTextureCoords has " + std::to_string(count) + " coordinates for " +
                   std::to_string(pm.positions.size()) + " vertices",
               lx_.peek());
    pm.texcoords.resize(count);
    read_floats(reinterpret_cast<float*>(pm.texcoords.data()), 2 * pm.texcoords.size(), "texture coordinate");
    skip_children(h);
  }

  // Reads MeshVertexColors: indexed RGBA colours, stored as ARGB bytes.
  void read_colors(const object_header& h, polygon_mesh& pm) {
    const std::uint32_t count = read_dword("MeshVertexColors count");
    check_count(count, 5, "MeshVertexColors count");
    pm.colors.assign(pm.positions.size(), 0x00FFFFFFu);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t index = read_dword("vertex colour index");
      if (index >= pm.positions.size())
        lx_.fail("MeshVertexColors entry " + std::to_string(i) + " colours vertex " + std::to_string(index) + " of " +
                     std::to_string(pm.positions.size()),
                 lx_.peek());
      float rgba[4];
      for (float& v : rgba) v = read_float("vertex colour component");
      pm.colors[index] = (color_byte(rgba[3]) << 24) | (color_byte(rgba[0]) << 16) | (color_byte(rgba[1]) << 8) |
                         color_byte(rgba[2]);
    }
    skip_children(h);
  }

  // Reads n DWORD values into out: runs straight from the lexer, any other value as read_dword
  // reads it.
  void read_dwords(std::uint32_t* out, std::size_t n, const char* what) {
    for (std::size_t at = 0; at < n;) {
      at += lx_.take_dwords(out + at, n - at, std::numeric_limits<std::uint32_t>::max());
      if (at < n) out[at++] = read_dword(what);
    }
  }

  // Reads DeclData: a vertex declaration, then for every vertex its elements packed one after
  // another. Texture coordinates 0 (u, v), normals and colour 0 are kept, of whatever type they
  // are; other elements are passed over by their size. A later DeclData replaces what an earlier
  // one gave. Data that does not hold exactly one set of elements per vertex is refused: it
  // means the declaration or the data is damaged, and reading it would put values on the wrong
  // vertices.
  void read_decl_data(const object_header& h, const polygon_mesh& pm, declared_data& out) {
    struct element {
      std::uint32_t type, usage, index;
      std::size_t at;  // the first of its DWORDs in a vertex
    };
    const std::uint32_t count = read_dword("DeclData element count");
    check_count(count, 4, "DeclData element count");
    std::vector<element> elements(count);
    std::uint64_t stride = 0;  // DWORDs per vertex
    for (std::uint32_t i = 0; i < count; ++i) {
      element& e = elements[i];
      e.type = read_dword("DeclData element type");
      read_dword("DeclData element method");
      e.usage = read_dword("DeclData element usage");
      e.index = read_dword("DeclData element usage index");
      if (e.type >= std::size(decl_type_dwords))
        lx_.fail("DeclData element " + std::to_string(i) + " has unknown type " + std::to_string(e.type), lx_.peek());
      e.at = static_cast<std::size_t>(stride);  // below 4 * count, which the bytes left bound
      stride += decl_type_dwords[e.type];
    }
    const std::uint32_t dwords = read_dword("DeclData DWORD count");
    const std::uint64_t vertices = pm.positions.size();
    if (stride == 0 ? dwords != 0 : dwords % stride != 0 || dwords / stride != vertices)
      lx_.fail("DeclData has " + std::to_string(dwords) + " DWORDs for " + std::to_string(vertices) +
                   " vertices of " + std::to_string(stride) + " DWORDs each",
               lx_.peek());
    check_count(dwords, 1, "DeclData DWORD count");
    auto find = [&](std::uint32_t usage) -> const element* {
      for (const element& e : elements)
        if (e.usage == usage && e.index == 0 && decl_type_dwords[e.type] > 0) return &e;
      return nullptr;
    };
    const element* texcoord = find(usage_texcoord);
    const element* normal = find(usage_normal);
    const element* color = find(usage_color);
    if (texcoord) out.texcoords.assign(vertices, {0, 0});
    if (normal) out.normals.assign(vertices, {0, 0, 0});
    if (color) out.colors.assign(vertices, 0);
    std::vector<std::uint32_t> vertex(stride);
    for (std::size_t v = 0; v < vertices; ++v) {
      read_dwords(vertex.data(), vertex.size(), "DeclData value");
      if (texcoord) {
        const std::array<float, 4> t = decl_element(texcoord->type, &vertex[texcoord->at]);
        out.texcoords[v] = {t[0], t[1]};
      }
      if (normal) {
        const std::array<float, 4> n = decl_element(normal->type, &vertex[normal->at]);
        out.normals[v] = unit({n[0], n[1], n[2]});
      }
      if (color && color->type == decl_d3dcolor) {
        out.colors[v] = vertex[color->at];
      } else if (color) {
        const std::array<float, 4> c = decl_element(color->type, &vertex[color->at]);
        out.colors[v] = (color_byte(c[3]) << 24) | (color_byte(c[0]) << 16) | (color_byte(c[1]) << 8) | color_byte(c[2]);
      }
    }
    skip_children(h);
  }

  // Reads MeshMaterialList: per-face material ids and the materials, inline or referenced.
  void read_material_list(const object_header& h, polygon_mesh& pm) {
    pm.has_material_list = false;
    pm.face_materials.clear();
    pm.materials.clear();
    const std::uint32_t count = read_dword("MeshMaterialList material count");
    if (count == 0) return skip_body(h);  // no materials: the mesh is treated as having no list
    const std::uint32_t indexes = read_dword("MeshMaterialList face index count");
    const std::size_t faces = pm.face_sizes.size();
    if (indexes > faces)
      lx_.fail("MeshMaterialList has " + std::to_string(indexes) + " face indexes for " + std::to_string(faces) + " faces",
               lx_.peek());
    pm.face_materials.reserve(faces);
    for (std::uint32_t i = 0; i < indexes; ++i) {
      const std::uint32_t id = read_dword("face material index");
      if (id >= count)
        lx_.fail("face " + std::to_string(i) + " uses material " + std::to_string(id) + " of " + std::to_string(count),
                 lx_.peek());
      pm.face_materials.push_back(id);
    }
    // Some exporters list fewer indexes than faces; the last one then holds for the rest.
    pm.face_materials.resize(faces, pm.face_materials.empty() ? 0 : pm.face_materials.back());
    auto add = [&](material m, const token& at) {
      if (pm.materials.size() >= count)
        lx_.fail("MeshMaterialList declares " + std::to_string(count) + " materials and gives more", at);
      pm.materials.push_back(std::move(m));
    };
    for_each_child(
        h,
        [&](const token& type) {
          object_header child = read_header(type);
          if (!iequals(child.type, "Material")) return skip_body(child);
          material m = read_material(child);
          if (!child.name.empty()) materials_by_name_[child.name] = m;
          add(std::move(m), child.start);
        },
        [&](const std::string& name) {
          auto found = materials_by_name_.find(name);
          if (found == materials_by_name_.end())
            lx_.fail("material reference '" + name.substr(0, 64) + "' names no material defined before it", lx_.peek());
          add(found->second, lx_.peek());
        });
    if (pm.materials.size() != count)
      lx_.fail("MeshMaterialList declares " + std::to_string(count) + " materials and gives " +
                   std::to_string(pm.materials.size()),
               lx_.peek());
    pm.has_material_list = true;
  }

  lexer& lx_;
  std::size_t budget_;
  std::map<std::string, material, std::less<>> materials_by_name_;
  std::map<std::string, std::size_t, std::less<>> meshes_by_name_;
  std::vector<raw_animation> raw_animations_;
  std::uint32_t ticks_per_second_ = 4800;  // D3DX's rate where the file gives none
};

// Reads the header, decompresses if needed and parses the body; throws parse_error.
mesh parse_or_throw(const std::uint8_t* data, std::size_t size) {
  if (size == 0) throw parse_error("empty file");
  if (size < header_size)
    throw parse_error("file of " + std::to_string(size) + " bytes is shorter than the 16-byte .x header");
  if (std::memcmp(data, "xof ", 4) != 0)
    throw parse_error("not a .x file: bad magic \"" + printable(data, 4) + "\"");
  if (std::memcmp(data + 4, "0302", 4) != 0 && std::memcmp(data + 4, "0303", 4) != 0)
    throw parse_error("unsupported .x version \"" + printable(data + 4, 4) + "\" (0302 and 0303 are read)");
  const bool text = std::memcmp(data + 8, "txt ", 4) == 0;
  const bool binary = std::memcmp(data + 8, "bin ", 4) == 0;
  const bool text_zip = std::memcmp(data + 8, "tzip", 4) == 0;
  const bool binary_zip = std::memcmp(data + 8, "bzip", 4) == 0;
  if (!text && !binary && !text_zip && !binary_zip)
    throw parse_error("unsupported .x format \"" + printable(data + 8, 4) + "\" (txt, bin, tzip and bzip are read)");
  int float_bits = 0;
  if (std::memcmp(data + 12, "0032", 4) == 0) float_bits = 32;
  if (std::memcmp(data + 12, "0064", 4) == 0) float_bits = 64;
  if (float_bits == 0) throw parse_error("unsupported float size \"" + printable(data + 12, 4) + "\" (0032 and 0064 are read)");

  std::vector<std::uint8_t> inflated;
  const std::uint8_t* body = data + header_size;
  std::size_t body_size = size - header_size;
  if (text_zip || binary_zip) {
    inflated = inflate_mszip(body, body_size);
    body = inflated.data();
    body_size = inflated.size();
  }
  lexer lx(body, body_size, binary || binary_zip, float_bits, header_size);
  // References may repeat meshes, but only up to a few times the data the file itself holds.
  reader r(lx, 4 * body_size + 65536);
  try {
    r.read_file();
  } catch (const parse_error& e) {
    if (text_zip || binary_zip) throw parse_error(std::string(e.what()) + " (byte offsets count the decompressed file)");
    throw;
  }
  // Where the stray brace stands: its line in the text forms, its byte in the binary ones.
  std::string brace_at;
  if (r.stray_brace) {
    const std::size_t at = r.stray_brace->offset - header_size;
    brace_at = binary || binary_zip
                   ? "byte " + std::to_string(r.stray_brace->offset) + (binary_zip ? " of the decompressed file" : "")
                   : "line " + std::to_string(1 + std::count(body, body + at, static_cast<std::uint8_t>('\n')));
  }
  if (r.meshes.empty()) {
    if (r.stray_brace)
      throw parse_error("file holds no mesh with vertices before the stray '}' at the top level (" + brace_at +
                        "), where reading stops");
    throw parse_error("file holds no mesh with vertices");
  }
  r.resolve();
  // Frames, bones and influences are made only for a file with something to animate, so that a
  // static model costs what it did before they existed.
  const std::vector<matrix> world = world_matrices(r.frames);
  const bool animated = !r.animations.empty() || std::any_of(r.meshes.begin(), r.meshes.end(), [](const placed_mesh& m) {
    return std::any_of(m.skin.begin(), m.skin.end(), [](const skin_weights& s) { return s.frame >= 0; });
  });
  rigging rigged;
  if (animated) rigged = rig(r.meshes, world, r.skipped);
  mesh out = merge(r.meshes, world);
  if (animated) {
    out.frames.reserve(r.frames.size());
    for (frame_node& f : r.frames) out.frames.push_back(readers::frame{std::move(f.name), f.parent, f.local});
    out.bones = std::move(rigged.bones);
    out.influences = std::move(rigged.influences);
    out.weights = std::move(rigged.weights);
    out.animations = std::move(r.animations);
  }
  out.skipped = r.skipped.text(r.passed_over ? "a stray '}' at the top level (" + brace_at + ") and everything after it" : "");
  return out;
}

}  // namespace

bool parse(const std::uint8_t* data, std::size_t size, mesh& out, std::string& error) {
  try {
    out = parse_or_throw(data, size);
    error.clear();
    return true;
  } catch (const parse_error& e) {
    error = e.what();
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  } catch (const std::length_error&) {
    error = "out of memory";
  }
  out = mesh();
  return false;
}

}  // namespace xfile
