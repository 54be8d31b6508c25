#include "readers/gltf/accessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gltf {
namespace {

// Bytes of one component, 0 for types glTF 2.0 does not allow in accessors (INT, DOUBLE).
std::size_t component_size(int type) {
  switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
    default: return 0;
  }
}

// Components of the types this reader reads; 0 for MAT2 and MAT3, which it never needs (they
// would also need glTF's column padding; MAT4's columns are always aligned).
int component_count(int type) {
  switch (type) {
    case TINYGLTF_TYPE_SCALAR: return 1;
    case TINYGLTF_TYPE_VEC2: return 2;
    case TINYGLTF_TYPE_VEC3: return 3;
    case TINYGLTF_TYPE_VEC4: return 4;
    case TINYGLTF_TYPE_MAT4: return 16;
    default: return 0;
  }
}

// True when count elements of elem bytes, stride bytes apart, starting at offset lie within
// length bytes; never overflows.
bool fits(std::size_t offset, std::size_t count, std::size_t stride, std::size_t elem, std::size_t length) {
  if (count == 0) return offset <= length;
  if (offset > length || elem > length - offset) return false;
  return count - 1 <= (length - offset - elem) / stride;
}

template <class T>
T load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Converts count elements of `components` values of type T, `stride` bytes apart, to floats;
// `scale` (0 for none) and `floor` give glTF's normalization: max(c * scale, floor).
template <class T>
void convert(const std::uint8_t* data, std::size_t stride, std::size_t count, int components, float scale,
             float floor, float* out) {
  for (std::size_t i = 0; i < count; ++i, data += stride)
    for (int c = 0; c < components; ++c) {
      const float v = static_cast<float>(load<T>(data + c * sizeof(T)));
      *out++ = scale == 0 ? v : std::max(v * scale, floor);
    }
}

}  // namespace

const std::uint8_t* buffer_view_bytes(const tinygltf::Model& model, int index, const std::string& what,
                                      std::size_t& size) {
  if (index < 0 || static_cast<std::size_t>(index) >= model.bufferViews.size())
    throw parse_error(what + " names bufferView " + std::to_string(index) + " of " +
                      std::to_string(model.bufferViews.size()));
  const tinygltf::BufferView& view = model.bufferViews[static_cast<std::size_t>(index)];
  const std::string name = "bufferView " + std::to_string(index);
  if (view.buffer < 0 || static_cast<std::size_t>(view.buffer) >= model.buffers.size())
    throw parse_error(name + " names buffer " + std::to_string(view.buffer) + " of " +
                      std::to_string(model.buffers.size()));
  const std::vector<unsigned char>& buffer = model.buffers[static_cast<std::size_t>(view.buffer)].data;
  if (!fits(view.byteOffset, 1, 1, view.byteLength, buffer.size()))
    throw parse_error(name + " (" + std::to_string(view.byteLength) + " bytes at " + std::to_string(view.byteOffset) +
                      ") lies beyond the " + std::to_string(buffer.size()) + " bytes of buffer " +
                      std::to_string(view.buffer));
  size = view.byteLength;
  return buffer.data() + view.byteOffset;
}

accessor_view::accessor_view(const tinygltf::Model& model, int index, const std::string& what,
                             std::size_t zero_fill_limit) {
  name_ = "accessor " + std::to_string(index) + " (" + what + ")";
  if (index < 0 || static_cast<std::size_t>(index) >= model.accessors.size())
    throw parse_error(what + " names accessor " + std::to_string(index) + " of " +
                      std::to_string(model.accessors.size()));
  const tinygltf::Accessor& a = model.accessors[static_cast<std::size_t>(index)];
  component_type_ = a.componentType;
  type_ = a.type;
  normalized_ = a.normalized;
  count_ = a.count;
  const std::size_t size = component_size(a.componentType);
  if (size == 0) throw parse_error(name_ + " has componentType " + std::to_string(a.componentType));
  components_ = component_count(a.type);
  if (components_ == 0) throw parse_error(name_ + " has a matrix or unknown type " + std::to_string(a.type));
  const std::size_t elem = size * static_cast<std::size_t>(components_);

  if (a.bufferView >= 0) {
    std::size_t length = 0;
    const std::uint8_t* bytes = buffer_view_bytes(model, a.bufferView, name_, length);
    const std::size_t view_stride = model.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
    if (view_stride != 0 && view_stride < elem)
      throw parse_error(name_ + " has " + std::to_string(elem) + "-byte elements but its bufferView a byteStride of " +
                        std::to_string(view_stride));
    stride_ = view_stride != 0 ? view_stride : elem;
    if (!fits(a.byteOffset, count_, stride_, elem, length))
      throw parse_error(name_ + ": " + std::to_string(count_) + " elements of " + std::to_string(elem) +
                        " bytes at offset " + std::to_string(a.byteOffset) + " lie beyond the " +
                        std::to_string(length) + " bytes of bufferView " + std::to_string(a.bufferView));
    data_ = bytes + a.byteOffset;
  } else {
    if (count_ > zero_fill_limit / elem)
      throw parse_error(name_ + " has no bufferView and claims " + std::to_string(count_) +
                        " elements, more bytes than the file holds");
    stride_ = elem;
  }
  if (!a.sparse.isSparse) {
    if (a.bufferView < 0) {
      own_.assign(count_ * elem, 0);
      data_ = own_.data();
    }
    return;
  }

  // Sparse: the base elements (or zeros), then the listed elements replaced.
  const auto& sparse = a.sparse;
  const std::string sparse_name = name_ + " sparse";
  if (sparse.count < 1 || static_cast<std::size_t>(sparse.count) > count_)
    throw parse_error(sparse_name + " count " + std::to_string(sparse.count) + " for " + std::to_string(count_) +
                      " elements");
  const std::size_t n = static_cast<std::size_t>(sparse.count);
  const std::size_t index_size = component_size(sparse.indices.componentType);
  if (index_size == 0 || sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_BYTE ||
      sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_SHORT ||
      sparse.indices.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT)
    throw parse_error(sparse_name + " indices have componentType " + std::to_string(sparse.indices.componentType));
  std::size_t index_length = 0, value_length = 0;
  const std::uint8_t* indices = buffer_view_bytes(model, sparse.indices.bufferView, sparse_name + " indices", index_length);
  const std::uint8_t* values = buffer_view_bytes(model, sparse.values.bufferView, sparse_name + " values", value_length);
  if (sparse.indices.byteOffset < 0 ||
      !fits(static_cast<std::size_t>(sparse.indices.byteOffset), n, index_size, index_size, index_length))
    throw parse_error(sparse_name + " indices lie beyond their bufferView");
  if (sparse.values.byteOffset < 0 || !fits(static_cast<std::size_t>(sparse.values.byteOffset), n, elem, elem, value_length))
    throw parse_error(sparse_name + " values lie beyond their bufferView");
  indices += sparse.indices.byteOffset;
  values += sparse.values.byteOffset;

  own_.resize(count_ * elem);
  if (data_ == nullptr) {
    std::fill(own_.begin(), own_.end(), std::uint8_t{0});
  } else {
    for (std::size_t i = 0; i < count_; ++i) std::memcpy(own_.data() + i * elem, data_ + i * stride_, elem);
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t at;
    switch (index_size) {
      case 1: at = indices[i]; break;
      case 2: at = load<std::uint16_t>(indices + 2 * i); break;
      default: at = load<std::uint32_t>(indices + 4 * i); break;
    }
    if (at >= count_)
      throw parse_error(sparse_name + " replaces element " + std::to_string(at) + " of " + std::to_string(count_));
    std::memcpy(own_.data() + at * elem, values + i * elem, elem);
  }
  data_ = own_.data();
  stride_ = elem;
}

void accessor_view::read_floats(float* out, bool finite) const {
  if (count_ == 0) return;
  const int n = components_;
  switch (component_type_) {
    case TINYGLTF_COMPONENT_TYPE_FLOAT: {
      if (stride_ == 4u * static_cast<std::size_t>(n)) {
        std::memcpy(out, data_, count_ * stride_);
      } else {
        for (std::size_t i = 0; i < count_; ++i) std::memcpy(out + i * n, data_ + i * stride_, 4u * n);
      }
      // Any bit pattern can stand in a buffer; NaN and infinity would poison every transform.
      if (!finite) return;
      const float* end = out + count_ * n;
      for (const float* p = out; p != end; ++p)
        if (!std::isfinite(*p))
          throw parse_error(name_ + " holds a value that is not a finite number (element " +
                            std::to_string(static_cast<std::size_t>(p - out) / n) + ")");
      return;
    }
    case TINYGLTF_COMPONENT_TYPE_BYTE:
      return convert<std::int8_t>(data_, stride_, count_, n, normalized_ ? 1.0f / 127 : 0, -1, out);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
      return convert<std::uint8_t>(data_, stride_, count_, n, normalized_ ? 1.0f / 255 : 0, 0, out);
    case TINYGLTF_COMPONENT_TYPE_SHORT:
      return convert<std::int16_t>(data_, stride_, count_, n, normalized_ ? 1.0f / 32767 : 0, -1, out);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
      return convert<std::uint16_t>(data_, stride_, count_, n, normalized_ ? 1.0f / 65535 : 0, 0, out);
    default:  // UNSIGNED_INT: never normalized in glTF
      return convert<std::uint32_t>(data_, stride_, count_, n, 0, 0, out);
  }
}

void accessor_view::read_indices(std::uint32_t* out) const {
  if (count_ == 0) return;
  switch (component_type_) {
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
      for (std::size_t i = 0; i < count_; ++i) out[i] = data_[i * stride_];
      return;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
      for (std::size_t i = 0; i < count_; ++i) out[i] = load<std::uint16_t>(data_ + i * stride_);
      return;
    default:
      for (std::size_t i = 0; i < count_; ++i) out[i] = load<std::uint32_t>(data_ + i * stride_);
      return;
  }
}

}  // namespace gltf
