// Checked reading of glTF accessors: every accessor is measured against its bufferView and
// buffer before anything is read or allocated, and sparse accessors are applied over their base.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "readers/gltf/tinygltf.h"

namespace gltf {

// A malformed or unsupported file; the message says what was wrong.
class parse_error : public std::runtime_error {
 public:
  explicit parse_error(const std::string& message) : std::runtime_error(message) {}
};

// The elements of one accessor, checked: element i starts at data + i * stride and holds
// components values of component_type. Sparse accessors and accessors without a bufferView are
// held tightly packed in a vector of their own.
class accessor_view {
 public:
  // Checks accessor `index` of model and resolves its bytes; `what` names its use in messages
  // (e.g. "POSITION of mesh 0 primitive 1"). An accessor without a bufferView reads as zeros
  // and may hold at most zero_fill_limit bytes, since nothing in the file bounds it otherwise.
  accessor_view(const tinygltf::Model& model, int index, const std::string& what, std::size_t zero_fill_limit);

  std::size_t count() const { return count_; }
  int components() const { return components_; }
  int component_type() const { return component_type_; }
  int type() const { return type_; }
  bool normalized() const { return normalized_; }

  // Writes count() * components() floats to out, converting integers as glTF says (normalized
  // ones to -1..1 or 0..1); throws when a float is not finite, unless finite is false (for
  // values whose reader drops the ones that are not).
  void read_floats(float* out, bool finite = true) const;
  // Writes count() unsigned integers of a SCALAR accessor of unsigned components to out.
  void read_indices(std::uint32_t* out) const;

  // Describes the accessor for messages: "accessor 3 (POSITION of mesh 0 primitive 1)".
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::size_t count_ = 0;
  int components_ = 0;
  int component_type_ = 0;
  int type_ = 0;
  bool normalized_ = false;
  const std::uint8_t* data_ = nullptr;
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> own_;  // the packed elements of sparse and zero-filled accessors
};

// Returns the bytes of bufferView `index`, checked against its buffer; `what` names its use.
const std::uint8_t* buffer_view_bytes(const tinygltf::Model& model, int index, const std::string& what,
                                      std::size_t& size);

}  // namespace gltf
