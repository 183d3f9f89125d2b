// DB_COMP_SPEED blobs: a 16-byte magic, then a chain of chunks, each a
// 12-byte sub-header and a payload that is either stored raw or an LZRW1
// stream.  The chain has no terminator; it ends when the declared total has
// been produced.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/decode_error.h"

namespace native {

// Magic: bytes 0-7 and 12-15 are not examined; bytes 8-11 hold the subtype.
inline constexpr std::uint64_t SPEED_MAGIC_LENGTH = 16;
inline constexpr std::uint64_t SPEED_SUBTYPE_OFFSET = 8;
inline constexpr std::int32_t SPEED_SUBTYPE = 1;

// Sub-header: decompressed_length, chunk_length (both signed 32-bit, the
// latter counting the sub-header too) and marker.
inline constexpr std::uint64_t SPEED_SUBHEADER_LENGTH = 12;
static_assert(SPEED_SUBHEADER_LENGTH == 12, "three 32-bit fields");
static_assert(SPEED_MAGIC_LENGTH + SPEED_SUBHEADER_LENGTH == 28, "first payload at 28");

inline constexpr std::uint32_t SPEED_MARKER_STORED_RAW = 0xF0E1D2C3u;
inline constexpr std::uint32_t SPEED_MARKER_LZRW1 = 0xF4E5D6C7u;

// A declared total above this many times the blob length cannot come from
// a real chain; refused before the output is allocated.
inline constexpr std::uint64_t SPEED_EXPANSION_FACTOR = 9;

// Larger decompressed_length fields (and those below 1) mark a misaligned
// or corrupt sub-header.
inline constexpr std::int32_t MAX_PLAUSIBLE_DECOMPRESSED_LENGTH = 199'999'999;

// Checks the blob head (length, subtype, first sub-header's
// decompressed_length, the declared total against 9 x the blob length) and
// gives the output length: `total` if it exceeds the first chunk's
// decompressed_length, else that length.  At least 1 on success.
DecodeResult<std::uint64_t> speed_blob_output_length(std::span<const std::uint8_t> data,
                                                     std::int64_t total);

// Decodes the chain into `output`, whose length is the one
// speed_blob_output_length gave, and succeeds only when the chain fills it
// exactly.  Nothing after the last chunk needed is read.  On a decode error
// the content of output is undefined; callers discard it.
DecodeResult<void> decode_speed_chain_into(std::span<const std::uint8_t> data,
                                           std::span<std::uint8_t> output);

}  // namespace native
