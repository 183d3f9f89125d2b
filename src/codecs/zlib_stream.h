// Inflation of one zlib stream (RFC 1950 wrapper, DEFLATE data, Adler-32
// trailer) into an owned byte vector.  Bytes after the trailer are ignored.
#pragma once

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

// Input is copied into the inflater through a staging buffer of this size.
inline constexpr std::size_t INFLATE_STAGING_LENGTH = 32768;

// The whole content of the zlib stream at the start of `input`, or why it
// could not be had: one of the value errors above, or out_of_memory when
// the staging buffer or the inflater itself cannot be allocated.  No
// interpreter dependency; safe to run detached.  Throws only InternalFault,
// if zlib breaks its own contract.
DecodeResult<ByteVector> inflate_zlib_stream(std::span<const std::uint8_t> input);

// The same, appending the content to `output` (whose spare room it uses
// before growing it).  All or nothing: on failure output.size() is what it
// was before the call; the bytes past it are undefined.
DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output);

// The same with the caller's fast-path tables, reused across many streams.
// The fast decoder runs first; whenever it declines, zlib's streaming
// inflate decides, so every result and every failure is zlib's.
DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output, FastInflater& fast_inflater);

}  // namespace native
