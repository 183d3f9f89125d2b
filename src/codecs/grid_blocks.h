// Inflation of the compressed blocks of a grid body: every payload is one
// zlib stream at a location the caller gives; the contents are concatenated.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/byte_vector.h"

namespace native {

// The payload is body[offset, offset + length).
struct BlockLocation {
  std::uint64_t offset;
  std::uint64_t length;
};

struct GridBlocks {
  std::uint64_t blocks_decoded;
  ByteVector content;  // contents of the decoded blocks, in location order
};

// DEFLATE's best case codes a 258-byte match in 2 bits, so a payload of n
// bytes never inflates to more than 1032 * n bytes.
inline constexpr std::uint64_t DEFLATE_MAX_EXPANSION = 1032;

// Inflates the payloads in order and stops quietly at the first one that is
// out of range (end past the body or past 2^64 - 1) or fails to inflate; a
// block's content is appended only once it has inflated completely.
// `size_hint` is the expected total length, reserved up front; any value
// gives the same result.  Throws std::bad_alloc when module-owned memory
// other than a block's own output runs out; never throws for bad input.
GridBlocks inflate_grid_blocks(std::span<const std::uint8_t> body,
                               std::span<const BlockLocation> locations,
                               std::uint64_t size_hint);

}  // namespace native
