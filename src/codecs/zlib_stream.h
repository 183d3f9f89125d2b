// Inflation of one zlib stream (RFC 1950 wrapper, DEFLATE data, Adler-32
// trailer) onto the end of growable storage (an owned vector or a result
// object).  Bytes after the trailer are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/decode_error.h"
#include "codecs/growable_bytes.h"
#include "codecs/fast_inflate.h"

namespace native {

// The messages of the value errors (codec zlib) the routines return: a bad
// header, a preset dictionary, bad data or a checksum mismatch; input that
// ends before the stream does; memory that cannot be had while inflating
// (the output refuses to grow, or zlib cannot allocate its window).
inline constexpr const char* INFLATE_MESSAGE_CORRUPT = "corrupt deflate stream";
inline constexpr const char* INFLATE_MESSAGE_INCOMPLETE = "incomplete deflate stream";
inline constexpr const char* INFLATE_MESSAGE_OUT_OF_MEMORY = "out of memory";

// Input is copied into the inflater through a staging buffer of this size.
inline constexpr std::size_t INFLATE_STAGING_LENGTH = 32768;

// Appends the whole content of the zlib stream at the start of `input` to
// `output` (into its spare room first, growing it aimed at the stream's
// end), or says why it could not: one of the value errors above, or
// out_of_memory when the staging buffer or the inflater itself cannot be
// allocated, or when the output lost its content on a refused growth.  All
// or nothing: on failure output.size() is what it was before the call
// (unless output.lost()); the bytes past it are undefined.  No interpreter
// dependency; safe to run detached.  Throws only InternalFault, if zlib
// breaks its own contract.
DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output);

// The same with the caller's fast-path tables, reused across many streams,
// and the aim of the output's growth.  The fast decoder runs first and gives
// the result, or a failure it knows zlib reports alike; whenever it
// declines, zlib's streaming inflate decides.  Either way the result and
// the failure are exactly zlib's, but for memory: where zlib would say its
// memory ran out as it says a stream is corrupt (Z_MEM_ERROR), this says
// "out of memory", and so it does when the output cannot grow.
DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output, FastInflater& fast_inflater,
                                            GrowthAim aim = GrowthAim::stream_end);

}  // namespace native
