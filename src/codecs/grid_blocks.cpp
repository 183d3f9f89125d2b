#include "codecs/grid_blocks.h"

#include <algorithm>
#include <optional>

#include "codecs/integers.h"
#include "codecs/zlib_stream.h"

namespace native {

namespace {

// The payload's bytes, or nothing when the location is out of range.
std::optional<std::span<const std::uint8_t>> locate_payload(std::span<const std::uint8_t> body,
                                                            const BlockLocation& location) {
  const auto end = checked_sum(location.offset, location.length);
  if (!end || *end > body.size()) return std::nullopt;
  return body.subspan(location.offset, location.length);
}

// Most the blocks before the first out-of-range location could inflate to,
// saturating at 2^64 - 1.  No reservation beyond it can ever be used.
std::uint64_t largest_possible_content(std::span<const std::uint8_t> body,
                                       std::span<const BlockLocation> locations) {
  std::uint64_t bound = 0;
  for (const BlockLocation& location : locations) {
    if (!locate_payload(body, location)) break;
    const auto block_bound = checked_product(location.length, DEFLATE_MAX_EXPANSION);
    const auto sum = block_bound ? checked_sum(bound, *block_bound) : std::nullopt;
    if (!sum) return UINT64_MAX;
    bound = *sum;
  }
  return bound;
}

}  // namespace

std::uint64_t grid_content_reservation(std::span<const std::uint8_t> body,
                                       std::span<const BlockLocation> locations,
                                       std::uint64_t size_hint) {
  return std::min(size_hint, largest_possible_content(body, locations));
}

DecodeResult<std::uint64_t> inflate_grid_blocks_into(std::span<const std::uint8_t> body,
                                                     std::span<const BlockLocation> locations,
                                                     GrowableBytes& content) {
  // Each block inflates straight onto the end of the content; a block that
  // fails (corrupt, incomplete, or no room to grow) is cut off again, so
  // it leaves nothing behind, and the loop stops there.  Only an inflater
  // that cannot be set up at all, or content lost, ends the call.
  std::uint64_t blocks_decoded = 0;
  // Tables reused from block to block.
  FastInflater fast_inflater;
  for (const BlockLocation& location : locations) {
    const auto payload = locate_payload(body, location);
    if (!payload) break;
    // Growth doubles, since more blocks follow each one.
    auto inflated = inflate_zlib_stream_into(*payload, content, fast_inflater, GrowthAim::doubling);
    if (!inflated) {
      if (inflated.error().kind == ErrorKind::out_of_memory) return inflated.error();
      break;  // which block error it was is of no interest
    }
    ++blocks_decoded;
  }
  return blocks_decoded;
}

}  // namespace native
