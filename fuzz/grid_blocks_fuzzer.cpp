// inflate_grid_blocks against a plain loop over zlib's own inflation, with
// fuzzed locations (out of range, overflowing, overlapping, repeated) and
// size hints up to 2^64 - 1.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "codecs/grid_blocks.h"
#include "fuzz_input.h"
#include "reference/zlib.h"

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

  const auto inflated = inflate_grid_blocks(c.body, locations, c.size_hint);
  FUZZ_CHECK(inflated.has_value());  // no input this small exhausts memory
  const GridBlocks& blocks = *inflated;

  const GridDecoded reference = reference_grid_blocks(c.body, locations);
  const Bytes& expected = reference.content;
  const std::uint64_t expected_count = reference.blocks_decoded;

  FUZZ_CHECK(blocks.blocks_decoded == expected_count);
  FUZZ_CHECK(blocks.content.size() <= blocks.content.capacity());
  FUZZ_CHECK(blocks.content.size() == expected.size());
  FUZZ_CHECK(expected.empty() ||
             std::memcmp(blocks.content.data(), expected.data(), expected.size()) == 0);
  return 0;
}
