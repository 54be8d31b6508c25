#include "readers/reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "readers/gltf/gltf.h"
#include "readers/obj/obj.h"
#include "readers/xfile/xfile.h"

namespace readers {
namespace {

bool is_space(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A JSON object whose text has an "asset" member: glTF's one required member. Looks only for
// the member's name among the object's keys as text, which is enough to tell glTF from the
// other formats; the glTF reader checks the rest.
bool looks_like_gltf_json(const std::uint8_t* data, std::size_t size) {
  std::size_t i = 0;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) i = 3;  // UTF-8 mark
  while (i < size && is_space(data[i])) ++i;
  if (i == size || data[i] != '{') return false;
  static const char key[] = "\"asset\"";
  const auto* end = data + size;
  return std::search(data + i, end, key, key + sizeof key - 1) != end;
}

bool ends_with_obj(std::string_view name) {
  if (name.size() < 4) return false;
  std::string tail(name.substr(name.size() - 4));
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".obj";
}

}  // namespace

format format_of(const std::uint8_t* data, std::size_t size, std::string_view name) {
  if (size >= 4 && std::memcmp(data, "xof ", 4) == 0) return format::xfile;
  if (size >= 4 && std::memcmp(data, "glTF", 4) == 0) return format::glb;
  if (looks_like_gltf_json(data, size)) return format::gltf;
  if (ends_with_obj(name)) return format::obj;
  return format::unknown;
}

bool read(const std::uint8_t* data, std::size_t size, std::string_view name, const side_files& files, mesh& out,
          std::string& error) {
  switch (format_of(data, size, name)) {
    case format::gltf: return gltf::parse(data, size, false, files, out, error);
    case format::glb: return gltf::parse(data, size, true, files, out, error);
    case format::obj: return obj::parse(data, size, files, out, error);
    case format::xfile:
    case format::unknown: break;
  }
  // Anything else goes to the .x reader, whose description says what the header lacks.
  return xfile::parse(data, size, out, error);
}

}  // namespace readers
