#include "codecs/grid_blocks.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "codecs/zlib_stream.h"

namespace native {

namespace {

// The payload's bytes, or nothing when the location is out of range.
bool locate_payload(std::span<const std::uint8_t> body,
                    const BlockLocation& location,
                    std::span<const std::uint8_t>& payload) {
  std::uint64_t end;
  if (__builtin_add_overflow(location.offset, location.length, &end) ||
      end > body.size()) {
    return false;
  }
  payload = body.subspan(location.offset, location.length);
  return true;
}

// Most the blocks before the first out-of-range location could inflate to,
// saturating at 2^64 - 1.  No reservation beyond it can ever be used.
std::uint64_t largest_possible_content(
    std::span<const std::uint8_t> body,
    std::span<const BlockLocation> locations) {
  std::uint64_t bound = 0;
  std::span<const std::uint8_t> payload;
  for (const BlockLocation& location : locations) {
    if (!locate_payload(body, location, payload)) break;
    std::uint64_t block_bound;
    if (__builtin_mul_overflow(location.length, DEFLATE_MAX_EXPANSION,
                               &block_bound) ||
        __builtin_add_overflow(bound, block_bound, &bound)) {
      return UINT64_MAX;
    }
  }
  return bound;
}

}  // namespace

GridBlocks inflate_grid_blocks(std::span<const std::uint8_t> body,
                               std::span<const BlockLocation> locations,
                               std::uint64_t size_hint) {
  GridBlocks result{0, ByteVector()};
  ByteVector& content = result.content;

  // The hint is trusted only as far as the payloads could honour it; a
  // reservation the allocator refuses is skipped and growth takes over.
  const std::uint64_t reservation =
      std::min(size_hint, largest_possible_content(body, locations));
  if (reservation > 0) (void)content.try_reserve(reservation);

  // Each block inflates straight onto the end of the content; a block that
  // fails (corrupt, incomplete, or no room to grow) is cut off again, so
  // it leaves nothing behind, and the loop stops there.
  FastInflater fast_inflater;  // tables reused from block to block
  std::span<const std::uint8_t> payload;
  for (const BlockLocation& location : locations) {
    if (!locate_payload(body, location, payload)) break;
    if (inflate_zlib_stream_into(payload, content, fast_inflater)) break;  // why is of no interest
    ++result.blocks_decoded;
  }
  return result;
}

}  // namespace native
