// Inflation of one zlib stream (RFC 1950 wrapper, DEFLATE data, Adler-32
// trailer) onto the end of growable storage (an owned vector or a result
// object).  Bytes after the trailer are ignored.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/byte_vector.h"
#include "codecs/decode_error.h"
#include "codecs/fast_inflate.h"

namespace native {

// The messages of the value errors (codec zlib) the routines return: a bad
// header, a preset dictionary, bad data or a checksum mismatch; input that
// ends before the stream does; an output vector that cannot grow.
inline constexpr const char* INFLATE_MESSAGE_CORRUPT = "corrupt deflate stream";
inline constexpr const char* INFLATE_MESSAGE_INCOMPLETE = "incomplete deflate stream";
inline constexpr const char* INFLATE_MESSAGE_OUT_OF_MEMORY = "out of memory";

// The first output window of an inflation, for the fast path and the
// streaming path alike: the input's length and a sixteenth, about what
// stored or incompressible data inflates to, then growth aimed at the end
// the stream's ratio so far predicts.  So the result's allocation ends close
// to its content, and results of the same size reuse the same memory from
// call to call.  A window of twice the input left the content between a
// half and seven eighths of it, where a bytearray keeps the slack, and
// giving it back by growing and shrinking had the allocator return memory
// each time and fault it in again (1 MiB of grid data: 438 faults a call,
// 30% slower).  At least a small block and the fast loop's room; capped so
// that a large input never makes the first growth fail on its own.
inline constexpr std::uint64_t FIRST_WINDOW_MIN = 4096 + 512;
inline constexpr std::uint64_t FIRST_WINDOW_MAX = std::uint64_t{64} << 20;

inline std::uint64_t first_inflate_window_length(std::uint64_t input_length) {
  const std::uint64_t scaled =
      input_length > FIRST_WINDOW_MAX ? FIRST_WINDOW_MAX : input_length + input_length / 16;
  return std::clamp(scaled, FIRST_WINDOW_MIN, FIRST_WINDOW_MAX);
}

// Gives `output` the first window for inflating `input_length` bytes when
// it has no spare room; a refusal is left to the decoder, which then fails
// as it would anyway.  The interpreter frame calls it attached before
// decoding, so that most streams never re-attach to grow.
inline void make_first_inflate_window(GrowableBytes& output, std::uint64_t input_length) {
  if (output.capacity() == output.size()) {
    (void)output.grow(first_inflate_window_length(input_length));
  }
}

// Input is copied into the inflater through a staging buffer of this size.
inline constexpr std::size_t INFLATE_STAGING_LENGTH = 32768;

// Appends the whole content of the zlib stream at the start of `input` to
// `output` (into its spare room first, growing it aimed at the stream's
// end), or says why it could not: one of the value errors above, or
// out_of_memory when the staging buffer or the inflater itself cannot be
// allocated.  All or nothing: on failure output.size() is what it was
// before the call; the bytes past it are undefined.  No interpreter
// dependency; safe to run detached.  Throws only InternalFault, if zlib
// breaks its own contract.
DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output);

// The same with the caller's fast-path tables, reused across many streams,
// and its growth aim.  The fast decoder runs first and gives the result, or
// a failure it knows zlib reports alike; whenever it declines, zlib's
// streaming inflate decides.  Either way the result and the failure are
// exactly zlib's.
DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output, FastInflater& fast_inflater);

}  // namespace native
