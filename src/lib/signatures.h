// The parameter list of every module function, declared once.  Argument
// binding reads it; the method table checks each docstring's signature line
// against it at compile time (module_definition.cpp), and the tests check
// the type stub against the signature lines the interpreter reads.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <cstddef>
#include <string_view>

#include "lib/arguments.h"

namespace native::py {

inline constexpr ParameterDescription PING_PARAMETERS{"ping", {}, 0};
inline constexpr ParameterDescription LZRW1_DECOMPRESS_PARAMETERS{
    "lzrw1_decompress", {"data", "start", "decompressed_length"}, 3};
inline constexpr ParameterDescription DECODE_SPEED_BLOB_PARAMETERS{
    "decode_speed_blob", {"data", "total_decompressed_length"}, 2};
inline constexpr ParameterDescription ZLIB_DECOMPRESS_PARAMETERS{"zlib_decompress", {"data"}, 1};
inline constexpr ParameterDescription DECOMPRESS_GRD_BLOCKS_PARAMETERS{
    "decompress_grd_blocks", {"body", "payloads", "size_hint"}, 3};
inline constexpr ParameterDescription DECODE_FIXED_WIDTH_STRINGS_UCS4_PARAMETERS{
    "decode_fixed_width_strings_ucs4", {"data", "width", "count"}, 3};

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
