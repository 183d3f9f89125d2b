// Inflation of the compressed blocks of a grid body: every payload is one
// zlib stream at a location the caller gives; the contents are concatenated.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/growable_bytes.h"
#include "codecs/decode_error.h"

namespace native {

// The payload is body[offset, offset + length).
struct BlockLocation {
  std::uint64_t offset;
  std::uint64_t length;
};

// DEFLATE's best case codes a 258-byte match in 2 bits, so a payload of n
// bytes never inflates to more than 1032 * n bytes.
inline constexpr std::uint64_t DEFLATE_MAX_EXPANSION = 1032;

// The room worth reserving for the content up front: `size_hint` (the
// expected total length), trusted only as far as the payloads before the
// first out-of-range location could honour it.  The content is the same
// whatever is reserved: a refused reservation is skipped, growth takes over.
std::uint64_t grid_content_reservation(std::span<const std::uint8_t> body,
                                       std::span<const BlockLocation> locations,
                                       std::uint64_t size_hint);

// Inflates the payloads in order onto the end of `content` and stops
// quietly at the first one that is out of range (end past the body or past
// 2^64 - 1) or fails to inflate; a block's content is appended only once it
// has inflated completely.  Returns the number of blocks appended, or the
// error out_of_memory when an inflater cannot be set up (its staging buffer
// or inflate state) or when a refused growth took the content with it
// (content.lost(): the blocks counted are gone); bad input and a block whose
// output cannot grow are no error.
DecodeResult<std::uint64_t> inflate_grid_blocks_into(std::span<const std::uint8_t> body,
                                                     std::span<const BlockLocation> locations,
                                                     GrowableBytes& content);

}  // namespace native
