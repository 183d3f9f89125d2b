// LZRW1 decoding: one raw stream (no flag prefix, no length, no end marker)
// decoded into an output span of exactly the wanted length.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/decode_error.h"

namespace native {

// Decodes the stream whose first control word lies at input[start] until
// output is full.  The stream may read any byte from start to the end of
// input; bytes after the last item needed are never read, and nothing is
// read at all when output is empty.  Back-references reach only bytes of
// this output span.  On a decode error (kind index_error, one of the two
// messages below) the content of output is undefined; callers discard it.
DecodeResult<void> lzrw1_decode_into(std::span<const std::uint8_t> input, std::uint64_t start,
                                     std::span<std::uint8_t> output);

inline constexpr const char* LZRW1_MESSAGE_OUT_OF_INPUT = "ran out of input data";
inline constexpr const char* LZRW1_MESSAGE_BAD_OFFSET =
    "back-reference offset out of range (corrupt data)";

}  // namespace native
