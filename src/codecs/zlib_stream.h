// Inflation of one zlib stream (RFC 1950 wrapper, DEFLATE data, Adler-32
// trailer) into an owned byte vector.  Bytes after the trailer are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "codecs/byte_vector.h"
#include "codecs/fast_inflate.h"

namespace native {

enum class InflateFailure {
  corrupt,        // bad header, preset dictionary, bad data, checksum mismatch
  incomplete,     // input ends before the stream does
  out_of_memory,  // the output vector cannot grow
};

// "corrupt deflate stream", "incomplete deflate stream", "out of memory".
const char* inflate_failure_text(InflateFailure failure) noexcept;

// Input is copied into the inflater through a staging buffer of this size.
inline constexpr std::size_t INFLATE_STAGING_LENGTH = 32768;

// The whole content of the zlib stream at the start of `input`, or why it
// could not be had.  No interpreter dependency; safe to run detached.
// Throws std::bad_alloc when the staging buffer or the inflater cannot be
// allocated, and InternalFault if zlib breaks its own contract; never throws
// for bad input.
std::variant<ByteVector, InflateFailure> inflate_zlib_stream(
    std::span<const std::uint8_t> input);

// The same, appending the content to `output` (whose spare room it uses
// before growing it).  All or nothing: on failure output.size() is what it
// was before the call; the bytes past it are undefined.
std::optional<InflateFailure> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                                       ByteVector& output);

// The same with the caller's fast-path tables, reused across many streams.
// The fast decoder runs first; whenever it declines, zlib's streaming
// inflate decides, so every result and every failure is zlib's.
std::optional<InflateFailure> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                                       ByteVector& output,
                                                       FastInflater& fast_inflater);

}  // namespace native
