// inflate_grid_blocks_into against a plain loop over zlib's own inflation,
// with fuzzed locations (out of range, overflowing, overlapping, repeated)
// and size hints up to 2^64 - 1, reserved as the module reserves its
// result, into an output that moves on every growth and, as the input
// says, refuses to grow past a part of the content; and then into one that
// loses the content on such a refusal.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "codecs/grid_blocks.h"
#include "fuzz_input.h"
#include "reference/zlib.h"
#include "support/moving_bytes.h"

using namespace native;
using namespace native::fuzz;
using namespace native::reference;

namespace {

// Inputs whose payloads could inflate to more than this are skipped: a few
// fuzzed locations over a 64 KiB body could otherwise ask for gigabytes of
// real content, which says nothing about the routine.
constexpr std::uint64_t MAX_POSSIBLE_CONTENT = std::uint64_t{128} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const GridCase c = read_grid_case({data, size});

  std::vector<BlockLocation> locations;
  for (const GridLocation& location : c.locations) {
    locations.push_back({location.offset, location.length});
  }
  std::uint64_t possible = 0;
  for (const BlockLocation& location : locations) {
    if (!grid_payload(c.body, location)) break;
    possible += location.length * DEFLATE_MAX_EXPANSION;  // lengths <= 64 KiB here
  }
  if (possible > MAX_POSSIBLE_CONTENT) return 0;

  const GridDecoded reference = reference_grid_blocks(c.body, locations);
  const std::uint64_t limit = growth_limit(c.growth_limit, 0, reference.content.size());
  support::MovingBytes content(limit);
  (void)content.reserve(grid_content_reservation(c.body, locations, c.size_hint));
  const std::uint64_t refused_before = content.refusals();  // the reservation, skipped
  const auto inflated = inflate_grid_blocks_into(c.body, locations, content);
  FUZZ_CHECK(inflated.has_value());  // no input this small exhausts memory
  const std::uint64_t count = *inflated;

  // A block that cannot grow the output ends the loop quietly, the blocks
  // before it kept whole.
  FUZZ_CHECK(count <= reference.blocks_decoded);
  if (count < reference.blocks_decoded) FUZZ_CHECK(content.refusals() > refused_before);
  const std::uint64_t kept =
      count == reference.blocks_decoded
          ? reference.content.size()
          : reference_grid_blocks(c.body, std::span(locations).first(count)).content.size();
  FUZZ_CHECK(content.size() == kept);
  FUZZ_CHECK(kept == 0 || std::memcmp(content.data(), reference.content.data(), kept) == 0);

  // Content lost on a refusal ends the loop with out_of_memory, never with
  // a count; a refusal before any content loses nothing.
  if (limit == UINT64_MAX) return 0;
  support::MovingBytes losing(limit, support::MovingBytes::Refusal::loses_content);
  (void)losing.reserve(grid_content_reservation(c.body, locations, c.size_hint));
  const auto outcome = inflate_grid_blocks_into(c.body, locations, losing);
  if (losing.lost()) {
    FUZZ_CHECK(!outcome && outcome.error().kind == ErrorKind::out_of_memory);
  } else {
    FUZZ_CHECK(outcome && *outcome == count && losing.size() == kept);
    FUZZ_CHECK(kept == 0 || std::memcmp(losing.data(), reference.content.data(), kept) == 0);
  }
  return 0;
}
