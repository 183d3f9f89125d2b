// The parameters of every module function, declared once: names, order and
// kind.  Binding and conversion read the declaration (entry_point.h);
// the method table checks each docstring's signature line against it at
// compile time (module_definition.cpp), and the tests check the type stub
// against the signature lines the interpreter reads.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "codecs/grid_blocks.h"
#include "lib/arguments.h"
#include "lib/pending_error.h"

namespace native::py {

// The kinds of parameter.  Each converts its bound argument into the value
// the function's body takes, or fails with an error that carries the
// argument note.
struct BytesOnlyParameter {
  using Value = std::span<const std::uint8_t>;
  static Result<Value> convert(PyObject* argument, std::string_view name) {
    return convert_bytes_only(argument, name);
  }
};
struct BufferParameter {
  using Value = BufferView;
  static Result<Value> convert(PyObject* argument, std::string_view name) {
    return acquire_buffer(argument, name);
  }
};
struct UnsignedParameter {
  using Value = std::uint64_t;
  static Result<Value> convert(PyObject* argument, std::string_view name) {
    return convert_unsigned(argument, name);
  }
};
struct SignedParameter {
  using Value = std::int64_t;
  static Result<Value> convert(PyObject* argument, std::string_view name) {
    return convert_signed(argument, name);
  }
};
// decompress_grd_blocks' sequence of (offset, length) pairs.
struct PayloadsParameter {
  using Value = std::vector<BlockLocation>;
  static Result<Value> convert(PyObject* argument, std::string_view name);
};

template <class... Kinds>
struct Signature {
  ParameterDescription parameters;
};

template <class... Kinds>
constexpr Signature<Kinds...> declare(
    std::string_view function, const std::array<std::string_view, sizeof...(Kinds)>& names) {
  static_assert(sizeof...(Kinds) <= MAX_PARAMETERS);
  Signature<Kinds...> signature{{function, {}, sizeof...(Kinds)}};
  for (std::size_t i = 0; i < sizeof...(Kinds); ++i) signature.parameters.names[i] = names[i];
  return signature;
}

inline constexpr auto PING = declare<>("ping", {});
inline constexpr auto LZRW1_DECOMPRESS =
    declare<BytesOnlyParameter, UnsignedParameter, UnsignedParameter>(
        "lzrw1_decompress", {"data", "start", "decompressed_length"});
inline constexpr auto DECODE_SPEED_BLOB = declare<BytesOnlyParameter, SignedParameter>(
    "decode_speed_blob", {"data", "total_decompressed_length"});
inline constexpr auto ZLIB_DECOMPRESS = declare<BufferParameter>("zlib_decompress", {"data"});
inline constexpr auto DECOMPRESS_GRD_BLOCKS =
    declare<BufferParameter, PayloadsParameter, UnsignedParameter>(
        "decompress_grd_blocks", {"body", "payloads", "size_hint"});
inline constexpr auto DECODE_FIXED_WIDTH_STRINGS_UCS4 =
    declare<BufferParameter, UnsignedParameter, UnsignedParameter>(
        "decode_fixed_width_strings_ucs4", {"data", "width", "count"});

// True when `docstring` begins with the text-signature block of
// `parameters`: "name(a, b)\n--\n\n".
constexpr bool begins_with_signature(std::string_view docstring,
                                     const ParameterDescription& parameters) {
  const auto take = [&docstring](std::string_view part) {
    if (!docstring.starts_with(part)) return false;
    docstring.remove_prefix(part.size());
    return true;
  };
  if (!take(parameters.function) || !take("(")) return false;
  for (std::size_t i = 0; i < parameters.count; ++i) {
    if ((i > 0 && !take(", ")) || !take(parameters.names[i])) return false;
  }
  return take(")\n--\n\n");
}

}  // namespace native::py
